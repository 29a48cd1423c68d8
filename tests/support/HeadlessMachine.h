// One computer of several on a shared message base, as real processes: a data folder of its own (under its own
// XDG_DATA_HOME) whose broadtext.conf names the server and the computer, the simulator program with this
// computer's modems on pseudo-terminals, and `broadtext --headless` driving them. What the simulated network took
// is read from the simulator's own lines ("COMn: sent to ..."), so a message counted there really left a modem.
// The includer defines BROADTEXT_MODEMSIM and BROADTEXT_PROGRAM.
#pragma once

#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/SettingsRows.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

struct HeadlessMachine {
    QString name;
    QString home; // XDG_DATA_HOME of its processes
    int modems = 4;
    int simulated = 0; // how many of them its simulator runs from COM1 on (0: all); a second one runs the rest
    // The modems' least times between commands, scaled down as far as the simulator allows.
    double delayFactor = 0.1;
    int networkMs = 5;
    int leaseSeconds = 0; // 0: broadtext.conf does not say
    QProcess sim, service;
    QByteArray serviceErr;
    QList<std::pair<int, QString>> network; // the COM number and the recipient, in the order the network took them

    QString dataDir() const { return home + QStringLiteral("/broadtext"); }

    // As a user writes it; read by the program's own reading of the file.
    bool writeConf(const QString& uri) const
    {
        QSettings conf(dataDir() + QStringLiteral("/broadtext.conf"), QSettings::IniFormat);
        conf.setValue(QStringLiteral("database"), uri);
        conf.setValue(QStringLiteral("machine"), name);
        if (leaseSeconds > 0)
            conf.setValue(QStringLiteral("leaseSeconds"), leaseSeconds);
        conf.sync();
        return conf.status() == QSettings::NoError;
    }

    // Modem 1 as the settings always kept it, the others as further rows of the list, modem n on COMn; written
    // as this computer, so into its own modem tables. Throws DbError.
    void configureModems(const QString& uri) const
    {
        Database db;
        db.setMachine(name);
        db.open(uri);
        WriteModemSetting(db, {1, QStringLiteral("115200"), QStringLiteral("n"), QStringLiteral("8"),
                               QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("GSM"), Database::DbBool(true),
                               QString::number(delayFactor)});
        for (int com = 2; com <= modems; ++com) {
            ModemConfig modem;
            modem.port = com;
            modem.bitsPerSecond = QStringLiteral("115200");
            modem.delayFactor = delayFactor;
            ModemsRepository(db).save(modem);
        }
    }

    // Units from `unit` on: each computer's simulator stands for other devices (IMEIs, SIMs) than another's.
    bool startSimulator(int unit)
    {
        sim.start(QStringLiteral(BROADTEXT_MODEMSIM),
                  {QStringLiteral("--data-dir"), dataDir(), QStringLiteral("--com"), QStringLiteral("1"),
                   QStringLiteral("--modems"), QString::number(simulated > 0 ? simulated : modems),
                   QStringLiteral("--unit"), QString::number(unit), QStringLiteral("--delay"),
                   QString::number(networkMs)});
        return sim.waitForStarted() && QTest::qWaitFor([this] { return readSim().contains("Type \"help\""); }, 10000);
    }

    // The service with no display of any kind; true once it says it runs the modems.
    bool startService()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(variable));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home);
        service.setProcessEnvironment(env);
        service.start(QStringLiteral(BROADTEXT_PROGRAM), {QStringLiteral("--headless")});
        return service.waitForStarted() &&
               QTest::qWaitFor([this] { return readService().contains("<6>The Broadtext service runs the modems"); },
                               15000);
    }

    const QByteArray& readService()
    {
        serviceErr += service.readAllStandardError();
        return serviceErr;
    }

    // Everything shown so far; each "sent to" line noted once, as whole lines come.
    const QByteArray& readSim()
    {
        simOut += sim.readAllStandardOutput();
        static const QRegularExpression sent(QStringLiteral("^COM(\\d+): sent to ([^:]*): "));
        for (qsizetype end; (end = simOut.indexOf('\n', parsed)) >= 0; parsed = end + 1)
            if (const auto m = sent.match(QString::fromLocal8Bit(simOut.mid(parsed, end - parsed)).trimmed());
                m.hasMatch())
                network.append({m.captured(1).toInt(), m.captured(2)});
        return simOut;
    }

    ~HeadlessMachine()
    {
        for (QProcess* p : {&service, &sim})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }

private:
    QByteArray simOut;
    qsizetype parsed = 0;
};
