// Two computers on one PostgreSQL message base: two `broadtext --headless` processes, each with a data folder, a
// computer name and four simulated modems of its own (the simulator program on pseudo-terminals), share one Outbox
// of 2,000 messages. Halfway one is killed with SIGKILL, as a computer that dies; the other sends the rest and,
// once their lease has run out, the rows the dead one held. What the networks took is read from the simulators'
// own lines, so a message counted here really left a modem. Labelled slow and pg: real time, a server of its own.
#include "PgCluster.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/SettingsRows.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int Modems = 4;
constexpr int Messages = 2000;
constexpr int LeaseSeconds = 15;
// The modems' least times between commands, scaled down as far as the simulator allows.
const QString DelayFactor = QStringLiteral("0.1");

QString numberOf(int i)
{
    return u"98888%1"_s.arg(20000 + i);
}

// One computer: its data folder (under XDG_DATA_HOME), its simulator and its service, and what its network took.
struct Machine {
    QString name;
    QString home;
    QProcess sim, service;
    QByteArray simOut, serviceErr;
    QList<std::pair<int, QString>> network; // the COM number and the recipient, in the order the network took them

    QString dataDir() const { return home + u"/broadtext"_s; }

    // As a user writes it, through the program's own reading of the file.
    bool writeConf(const QString& uri) const
    {
        QSettings conf(dataDir() + u"/broadtext.conf"_s, QSettings::IniFormat);
        conf.setValue(u"database"_s, uri);
        conf.setValue(u"machine"_s, name);
        conf.setValue(u"leaseSeconds"_s, LeaseSeconds);
        conf.sync();
        return conf.status() == QSettings::NoError;
    }

    // Modem 1 as the settings always kept it, modems 2..4 as further rows of the list, each on its COM number;
    // written as this computer, so into its own modem tables.
    void configureModems(const QString& uri) const
    {
        Database::SetMachineName(name);
        Database db;
        db.open(uri);
        WriteModemSetting(
            db, {1, u"115200"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, Database::DbBool(true), DelayFactor});
        for (int com = 2; com <= Modems; ++com) {
            ModemConfig modem;
            modem.port = com;
            modem.bitsPerSecond = u"115200"_s;
            modem.delayFactor = DelayFactor.toDouble();
            ModemsRepository(db).save(modem);
        }
    }

    // Each computer's simulator stands for other devices (IMEIs, SIMs) than the other's.
    bool startSimulator(int unit)
    {
        sim.start(QStringLiteral(BROADTEXT_MODEMSIM),
                  {u"--data-dir"_s, dataDir(), u"--com"_s, u"1"_s, u"--modems"_s, QString::number(Modems), u"--unit"_s,
                   QString::number(unit), u"--delay"_s, u"5"_s});
        return sim.waitForStarted() && QTest::qWaitFor([this] { return readSim().contains("Type \"help\""); }, 10000);
    }

    void startService()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& variable : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(variable);
        env.insert(u"XDG_DATA_HOME"_s, home);
        service.setProcessEnvironment(env);
        service.start(QStringLiteral(BROADTEXT_PROGRAM), {u"--headless"_s});
    }

    const QByteArray& readService()
    {
        serviceErr += service.readAllStandardError();
        return serviceErr;
    }

    const QByteArray& readSim()
    {
        simOut += sim.readAllStandardOutput();
        static const QRegularExpression sent(u"^COM(\\d+): sent to ([^:]*): "_s);
        network.clear();
        for (const QString& line : QString::fromLocal8Bit(simOut).split(QLatin1Char('\n')))
            if (const auto m = sent.match(line.trimmed()); m.hasMatch())
                network.append({m.captured(1).toInt(), m.captured(2)});
        return simOut;
    }

    ~Machine()
    {
        for (QProcess* p : {&service, &sim})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }
};

} // namespace

class MachinesKillTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void survivorSendsTheRowsOfAKilledComputer();

private:
    std::unique_ptr<PgCluster> cluster;
};

void MachinesKillTest::initTestCase()
{
    if (!PgCluster::installed())
        QSKIP("PostgreSQL 15 (the postgresql package) is not installed");
    cluster = std::make_unique<PgCluster>();
    QVERIFY2(cluster->isReady(), qPrintable(cluster->error()));
}

void MachinesKillTest::survivorSendsTheRowsOfAKilledComputer()
{
    QElapsedTimer clock;
    clock.start();
    QTemporaryDir dir;
    const QString uri = cluster->uri();
    Machine a, b;
    a.name = u"A"_s;
    b.name = u"B"_s;
    a.home = dir.path() + u"/a"_s;
    b.home = dir.path() + u"/b"_s;
    int unit = 1;
    for (Machine* m : {&a, &b}) {
        QVERIFY(m->writeConf(uri));
        m->configureModems(uri);
        QVERIFY(m->startSimulator(unit));
        unit += Modems;
    }
    // What both read: the send timer every second, and each message straight to the network.
    Database db;
    db.open(uri);
    WriteTimerSetting(db, {-1, u"2"_s, -1, u"1"_s, u"DIRECT DELIVER"_s});
    for (Machine* m : {&a, &b}) {
        m->startService();
        QVERIFY(m->service.waitForStarted());
    }
    for (Machine* m : {&a, &b})
        QTRY_VERIFY2_WITH_TIMEOUT(m->readService().contains("<6>The Broadtext service runs the modems"),
                                  m->serviceErr.constData(), 10000);

    db.beginTransaction();
    for (int i = 0; i < Messages; ++i)
        db.execute(
            u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
            "VALUES (0, ?, ?, ?)"_s,
            {numberOf(i), u"Message %1 to two computers"_s.arg(i), Database::DbTime(QDateTime::currentDateTimeUtc())});
    db.commit();

    // Halfway, by what the networks took, A dies with whatever its modems hold.
    const auto taken = [&] {
        a.readSim();
        b.readSim();
        return a.network.size() + b.network.size();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(taken() >= Messages / 2, (a.readService() + b.readService()).constData(), 30000);
    a.service.kill();
    QVERIFY(a.service.waitForFinished(5000));
    const qsizetype sentByA = (a.readSim(), a.network.size());
    QVERIFY2(sentByA > 0 && sentByA < Messages, qPrintable(QString::number(sentByA)));
    const qint64 held = db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL AND "
                                 "ClaimedBy IS NOT NULL AND ClaimUntil > ?"_s,
                                 {Database::DbTime(QDateTime::currentDateTimeUtc())});
    QVERIFY(held > 0); // what the lease is for

    QTRY_COMPARE_WITH_TIMEOUT(
        db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT' AND DeliveryDatetime IS NOT "
                 "NULL"_s),
        qint64(Messages), (LeaseSeconds + 20) * 1000);
    // The simulator is another process: its lines may trail Sent Items a little.
    (void)QTest::qWaitFor([&] { return taken() >= Messages; }, 5000);
    QTest::qWait(300); // nothing more goes out
    taken();

    // Every number reached a network. Twice only for a row a modem of A was sending when A died: its network may
    // have taken it without A ever writing so, and B sends it again after the lease (A's last on that COM).
    QHash<QString, int> timesA, timesB;
    for (const auto& [com, number] : a.network)
        ++timesA[number];
    for (const auto& [com, number] : b.network)
        ++timesB[number];
    QSet<QString> lastOfA;
    for (int com = 1; com <= Modems; ++com)
        for (qsizetype i = a.network.size() - 1; i >= 0; --i)
            if (a.network[i].first == com) {
                lastOfA.insert(a.network[i].second);
                break;
            }
    int twice = 0;
    for (int i = 0; i < Messages; ++i) {
        const QString number = numberOf(i);
        const int inA = timesA.value(number), inB = timesB.value(number);
        QVERIFY2(inA + inB >= 1, qPrintable(u"%1 never reached a network"_s.arg(number)));
        QVERIFY2(inA <= 1 && inB <= 1 && (inA + inB == 1 || lastOfA.contains(number)),
                 qPrintable(u"%1 reached A's network %2 times and B's %3 times"_s.arg(number).arg(inA).arg(inB)));
        twice += inA + inB - 1;
    }
    QVERIFY2(twice <= Modems, qPrintable(QString::number(twice)));
    // The Outbox agrees with the networks: nothing claimed, waiting or failed is left.
    QCOMPARE(db.count(u"SELECT count(*) FROM Message_OutBox WHERE ClaimedBy IS NOT NULL OR DeliveryStatus <> 'SENT'"_s),
             qint64(0));
    QVERIFY(b.service.state() == QProcess::Running);
    qInfo("%lld rows held by A when it died; all sent after %lld ms", held, clock.elapsed());
}

QTEST_GUILESS_MAIN(MachinesKillTest)
#include "tst_machines_kill.moc"
