// A TestRig with the whole background machinery (Engine: port, modem routines, delivery, call handling,
// timers) and a simulated modem as COM3: on the in-memory line with its virtual clock unless a test needs
// the real pseudo-terminal (a slow line in real time, an unplugged device, port detection). The
// once-a-second refresh timer is stopped: tests call its tick themselves.
#pragma once

#include "SimulatorLine.h"
#include "TestRig.h"
#include "Transcript.h"
#include "delivery/Engine.h"
#include "store/SettingsRows.h"
#include "tools/ModemSimulator.h"

#include <QEventLoop>
#include <QSignalSpy>

struct EngineRig : TestRig {
    enum class Line { Memory, Terminal };
    ModemSimulator sim;
    std::unique_ptr<SimulatorLine> simLine; // on the in-memory line
    Engine engine;
    static constexpr int Com = 3;

    // With plumbing given (a replayed transcript) no simulator answers. With the environment variable
    // BROADTEXT_RECORD_TRANSCRIPT set, a run against the simulator on its pseudo-terminal is recorded to the
    // file it names.
    explicit EngineRig(bool openDatabase = true, const ModemPlumbing& plumbing = {}, Line line = Line::Memory)
        : TestRig(openDatabase), simLine(!plumbing.transport && line == Line::Memory && recorder().transport == nullptr
                                             ? std::make_unique<SimulatorLine>(sim, Com)
                                             : nullptr),
          engine(state, db, log, nullptr,
                 plumbing.transport ? plumbing
                 : simLine          ? simLine->plumbing()
                                    : recorder())
    {
        engine.timerRefreshHomePage.setEnabled(false);
        engine.setHealthPollMs(0); // conversations are followed command by command
        if (plumbing.transport || simLine)
            return;
        QString error;
        if (!sim.start(&error) || !sim.linkAs(state.dataDir, Com, &error))
            qFatal("simulator: %s", qPrintable(error));
    }
    explicit EngineRig(Line line) : EngineRig(true, {}, line) {}
    static ModemPlumbing recorder()
    {
        const QString path = qEnvironmentVariable("BROADTEXT_RECORD_TRANSCRIPT");
        if (path.isEmpty())
            return {};
        return {[path] { return std::make_unique<RecordingTransport>(path); }, nullptr};
    }

    void saveModemSetting(int com = Com, bool callerId = true, const QString& flow = QStringLiteral("0"))
    {
        WriteModemSetting(db,
                          {com, QStringLiteral("115200"), QStringLiteral("n"), QStringLiteral("8"), QStringLiteral("1"),
                           flow, QStringLiteral("GSM"), Database::DbBool(callerId), QStringLiteral("1")});
    }

    // Saves settings for the simulator and connects as the Connect command does, waiting for the outcome.
    bool connectModem(bool callerId = true)
    {
        saveModemSetting(Com, callerId);
        return connectAndWait();
    }
    bool connectAndWait()
    {
        QSignalSpy changed(&engine, &Engine::connectionChanged);
        engine.Connect();
        if (changed.isEmpty())
            changed.wait(15000);
        return engine.status().ready;
    }

    // A delivery or reception as the timers run them, waited for until it has ended.
    void deliver()
    {
        engine.Timer2_Timer();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.sending(), 60000);
    }
    // Send SMS From OutBox, waited for until the run reports its end (for benchmarks, outside QTRY).
    void sendAllAndWait()
    {
        QEventLoop run;
        QObject::connect(&engine, &Engine::deliveryProgress, &run, [&](int, int, int, bool ended) {
            if (ended)
                run.quit();
        });
        if (engine.SendNow())
            run.exec();
    }
    void receive()
    {
        engine.Timer1_Timer();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.receiving(), 60000);
    }

    void queue(const QString& number, const QString& message)
    {
        db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                                  "VALUES (0, ?, ?, ?)"),
                   {number, message, Database::DbTime(clock.now())});
    }
};
