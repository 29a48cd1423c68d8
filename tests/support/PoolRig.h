// Several simulated modems driven by one Engine: the rig's own simulator is modem 1 (COM3, the ModemSetting
// row); each further modem is a Modems row with its own simulator on its own in-memory line and clock
// (COM4, COM5, ...), given to the engine through plumbingFor.
#pragma once

#include "EngineRig.h"
#include "store/ModemsRepository.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <map>

// Constructed before the engine and destroyed after it: its sessions hold transports onto these lines.
struct FurtherModems {
    struct Modem {
        std::unique_ptr<ModemSimulator> sim = std::make_unique<ModemSimulator>();
        std::unique_ptr<SimulatorLine> line;
    };
    std::map<int, Modem> further;
};

struct PoolRig : FurtherModems, EngineRig {
    explicit PoolRig(int modems, bool pdu = false)
    {
        engine.plumbingFor = [this](int id) { return further.at(id).line->plumbing(); };
        saveModemSetting();
        if (pdu)
            WriteMessageFormat(db, QStringLiteral("PDU"));
        for (int n = 2; n <= modems; ++n) {
            ModemConfig config;
            config.port = comOf(n);
            config.name = QStringLiteral("Pool %1").arg(n);
            config.callerId = true;
            config.pdu = pdu;
            const int id = ModemsRepository(db).save(config);
            Modem& m = further[id];
            m.line = std::make_unique<SimulatorLine>(*m.sim, config.port);
        }
        engine.loadModemSettings();
    }
    static int comOf(int modem) { return Com + modem - 1; }
    ModemSimulator& simOf(int modem) { return modem == 1 ? sim : *further.at(modem).sim; }
    SimulatorLine& lineOf(int modem) { return modem == 1 ? *simLine : *further.at(modem).line; }
    QList<int> ids() const { return engine.modemIds(); }

    // Connect, waited for until every modem is ready.
    bool connectAll()
    {
        engine.Connect();
        const bool ready = QTest::qWaitFor(
            [this] {
                for (int id : ids())
                    if (!engine.status(id).ready)
                        return false;
                return true;
            },
            30000);
        if (!ready)
            for (int id : ids())
                qWarning("modem %d: connected %d ready %d: %s", id, engine.status(id).connected,
                         engine.status(id).ready, qPrintable(engine.status(id).lastError));
        return ready;
    }
    void setNetworkDelayMs(int ms)
    {
        for (int id : ids())
            simOf(id).setNetworkDelayMs(ms);
    }
    // The device of a modem's port is present, as the reconnect watch looks for it (or gone).
    void setDevicePresent(int modem, bool present)
    {
        QDir().mkpath(state.dataDir + QStringLiteral("/ports"));
        QFile file(state.dataDir + QStringLiteral("/ports/COM%1").arg(comOf(modem)));
        if (present)
            file.open(QIODevice::WriteOnly);
        else
            file.remove();
    }
    // Every simulator's network stamps what it takes with the program's clock, which the test moves between
    // runs (never during one: the modem threads read it).
    void stampWithProgramClock()
    {
        for (int id : ids())
            simOf(id).setDateClock([this] { return clock.now(); });
    }
    // One delivery on every modem, waited for until each run has ended: woken by the runs' ends rather than
    // polled, so that many short runs take no longer than their work.
    bool deliverAll(int timeoutMs = 30000)
    {
        engine.deliverNow();
        QEventLoop loop;
        QObject::connect(&engine, &Engine::deliveryProgress, &loop, [&loop](int, int, int, bool ended) {
            if (ended)
                loop.quit();
        });
        QDeadlineTimer deadline(timeoutMs);
        while (engine.sending()) {
            if (deadline.hasExpired())
                return false;
            QTimer::singleShot(20, &loop, &QEventLoop::quit); // a run's end may be noticed a turn later
            loop.exec();
        }
        return true;
    }
    // This connection's commits are not waited for on the disk: a long run is not a test of durability.
    void commitWithoutSync() { db.execute(QStringLiteral("PRAGMA synchronous=OFF")); }
    qint64 sentRows()
    {
        return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'"));
    }
};
