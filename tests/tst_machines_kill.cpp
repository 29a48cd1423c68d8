// Two computers on one PostgreSQL message base: two `broadtext --headless` processes, each with a data folder, a
// computer name and four simulated modems of its own (the simulator program on pseudo-terminals), share one Outbox
// of 2,000 messages. Halfway one is killed with SIGKILL, as a computer that dies; the other sends the rest and,
// once their lease has run out, the rows the dead one held. What the networks took is read from the simulators'
// own lines, so a message counted here really left a modem. Labelled slow and pg: real time, a server of its own.
#include "HeadlessMachine.h"
#include "PgCluster.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int Modems = 4;
constexpr int Messages = 2000;
constexpr int LeaseSeconds = 15;

QString numberOf(int i)
{
    return u"98888%1"_s.arg(20000 + i);
}

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
    HeadlessMachine a, b;
    a.name = u"A"_s;
    b.name = u"B"_s;
    int unit = 1;
    for (HeadlessMachine* m : {&a, &b}) {
        m->home = dir.path() + u"/"_s + m->name;
        m->modems = Modems;
        m->leaseSeconds = LeaseSeconds;
        QVERIFY(m->writeConf(uri));
        m->configureModems(uri);
        QVERIFY(m->startSimulator(unit));
        unit += Modems;
    }
    // What both read: the send timer every second, and each message straight to the network.
    Database db;
    db.setMachine(a.name);
    db.open(uri);
    WriteTimerSetting(db, {-1, u"2"_s, -1, u"1"_s, u"DIRECT DELIVER"_s});
    for (HeadlessMachine* m : {&a, &b})
        QVERIFY2(m->startService(), m->serviceErr.constData());
    // A computer's modem keys: its ordinal's base plus the modem's id.
    const auto baseOf = [&](const HeadlessMachine& m) {
        return db.scalar(u"SELECT Ordinal FROM Machines WHERE Name = ?"_s, {m.name}).toLongLong() *
               Database::ModemKeySpan;
    };

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
    // The rows A's modems held when it died, and until when.
    QHash<qint64, QDateTime> held;
    for (Query q(db,
                 u"SELECT Outbox_Id, ClaimUntil FROM Message_OutBox WHERE DeliveryDatetime IS NULL AND ClaimedBy "
                 "> ? AND ClaimedBy <= ? AND ClaimUntil > ?"_s,
                 {baseOf(a), baseOf(a) + Modems, Database::DbTime(QDateTime::currentDateTimeUtc())});
         q.next();)
        held.insert(q.value(0).toLongLong(), Database::FromDbTime(q.value(1)));
    QVERIFY(!held.isEmpty()); // what the lease is for

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
    QHash<QString, qint64> keyOf;
    for (const auto& [machine, network] : {std::pair{&a, &a.network}, std::pair{&b, &b.network}}) {
        const qint64 base = baseOf(*machine);
        for (const auto& [com, number] : *network)
            keyOf[number] = base + com;
    }
    // Sent Items name the computer and the modem (COMn is modem n) whose network took each message last; a row A
    // held when it died was finished by B, which sends only what A's network had not taken yet.
    for (Query q(db, u"SELECT Outbox_Id, RecipientMobileNo, ModemId FROM Message_OutBox"_s); q.next();) {
        const qint64 modem = q.value(2).toLongLong();
        const bool byB = modem > baseOf(b) && modem <= baseOf(b) + Modems;
        QVERIFY2(held.contains(q.value(0).toLongLong()) ? byB : modem == keyOf.value(q.value(1).toString()),
                 qPrintable(u"%1 sent by %2; the networks' last: %3"_s.arg(q.value(1).toString())
                                .arg(modem)
                                .arg(keyOf.value(q.value(1).toString()))));
    }
    // The Outbox agrees with the networks: nothing claimed, waiting or failed is left.
    QCOMPARE(db.count(u"SELECT count(*) FROM Message_OutBox WHERE ClaimedBy IS NOT NULL OR DeliveryStatus <> 'SENT'"_s),
             qint64(0));
    QVERIFY(b.service.state() == QProcess::Running);
    // B took A's rows over only once their lease had run out.
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        QVERIFY(Database::FromDbTime(db.scalar(u"SELECT DeliveryDatetime FROM Message_OutBox WHERE Outbox_Id = ?"_s,
                                               {it.key()})) >= it.value());
    qInfo("%lld rows held by A when it died; all sent after %lld ms", qint64(held.size()), clock.elapsed());
}

QTEST_GUILESS_MAIN(MachinesKillTest)
#include "tst_machines_kill.moc"
