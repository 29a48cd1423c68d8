// The shared message base goes away for half a minute while a modem sends a queue and receives messages: the
// server is killed as in a crash and started again with the same data. Nothing may be lost or sent twice, a
// message may leave the SIM only once its row is stored, the user hears of the outage once, without a box, and
// the program carries on by itself once the server answers. Real time against a throw-away cluster; labelled
// slow and pg.
#include "EngineRig.h"

#include <QScopeGuard>
#include <QSet>

namespace {

constexpr int Queued = 40;
constexpr int OutageMs = 30000;
// From the server's return to the program writing and sending again, on its own timers.
constexpr int RecoveryMs = 8000;

int linesSaying(const QString& log, const QString& words)
{
    return int(log.count(words));
}

QStringList sentTexts(const ModemSimulator& sim)
{
    QStringList texts;
    for (const ModemSimulator::SentMessage& m : sim.sent())
        texts << m.text;
    return texts;
}

QStringList received(const ModemSimulator& sim)
{
    QStringList texts;
    for (const ModemSimulator::SimEntry& e : sim.simMessages())
        if (e.status.startsWith(QLatin1String("REC")))
            texts << e.text;
    return texts;
}

} // namespace

class ServerOutageTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void aServerGoneForHalfAMinuteLosesNothingAndSendsNothingTwice();
};

void ServerOutageTest::initTestCase()
{
    if (!PgCluster::installed())
        QSKIP("PostgreSQL's server programs are not installed");
    qputenv("BROADTEXT_TEST_STORE", "pg");
}

void ServerOutageTest::aServerGoneForHalfAMinuteLosesNothingAndSendsNothingTwice()
{
    EngineRig rig;
    QVERIFY(rig.db.isServer());
    // A failure is read with the program's own account of it.
    const auto tell = qScopeGuard([&rig] {
        if (QTest::currentTestFailed())
            qWarning("activity log:\n%s", qPrintable(rig.logFile().right(6000)));
    });
    PgCluster& server = TestCluster();
    rig.state.SendIntervalSeconds = 1;
    rig.state.ReceiveIntervalSeconds = 1;
    for (int n = 0; n < Queued; ++n)
        rig.queue(QStringLiteral("98877%1").arg(n, 5, 10, QLatin1Char('0')), QStringLiteral("queued %1").arg(n));
    QStringList incoming;
    auto receive = [&](const QString& when) {
        for (int n = 0; n < 2; ++n) {
            incoming << QStringLiteral("%1 %2").arg(when).arg(n);
            rig.sim.receiveSms(QStringLiteral("+4479111%1").arg(incoming.size(), 5, 10, QLatin1Char('0')),
                               incoming.last());
        }
    };
    receive(QStringLiteral("before"));
    // The server goes while a message in the middle of the queue is with the modem: the modem sends it, and the
    // program cannot write so.
    const QString inFlight = QStringLiteral("queued %1").arg(Queued / 3);
    CommandGate withTheModem(rig.sim, QStringLiteral("AT+CMGS=\"98877%1\"").arg(Queued / 3, 5, 10, QLatin1Char('0')));
    QVERIFY(rig.connectModem()); // the program's own timers do the rest
    QVERIFY(withTheModem.held(30000));
    QVERIFY(server.stop());
    withTheModem.open();
    QTRY_VERIFY(sentTexts(rig.sim).contains(inFlight));
    receive(QStringLiteral("during"));
    QTest::qWait(OutageMs);
    // Every check of the SIM in the meantime found the messages and could not store them: they are still there.
    QVERIFY(rig.engine.status().connected);
    QCOMPARE(received(rig.sim), incoming.mid(2));
    const qint64 sentDuringOutage = rig.sim.sent().size();
    QVERIFY(server.start());

    QTRY_VERIFY_WITH_TIMEOUT(rig.logFile().contains(QStringLiteral("The connection to the message database is back")),
                             RecoveryMs);
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.sent().size() > sentDuringOutage, RecoveryMs);
    receive(QStringLiteral("after"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.sent().size() >= Queued && received(rig.sim).isEmpty(), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(
        rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'")),
        qint64(Queued), 10000);
    QTest::qWait(2000); // nothing more goes out
    rig.engine.Disconnect();

    const QStringList sent = sentTexts(rig.sim);
    QCOMPARE(sent.size(), Queued);
    QCOMPARE(QSet<QString>(sent.begin(), sent.end()).size(), Queued);
    QStringList inbox = queryTexts(rig.db, QStringLiteral("SELECT Message FROM Message_InBox"));
    inbox.sort();
    incoming.sort();
    QCOMPARE(inbox, incoming);

    QCOMPARE(rig.dialogs.messages(), QStringList());
    QVERIFY2(rig.dialogs.notices().size() == 1, qPrintable(rig.dialogs.notices().join(QStringLiteral("\n---\n"))));
    const QString log = rig.logFile();
    QCOMPARE(linesSaying(log, QStringLiteral("The connection to the message database is lost")), 1);
    QCOMPARE(linesSaying(log, QStringLiteral("The connection to the message database is back")), 1);
}

QTEST_MAIN(ServerOutageTest)
#include "tst_server_outage.moc"
