// The Outbox where real time is the point: a submission cut by unplugging the modem is still an attempt, a
// message sent from the SIM is recorded the moment the modem confirms it (measured in real time), no row is
// left SENDING by a database that stops answering, and no other work waits for a database outage. On the
// simulator's pseudo-terminal or with real locks and timers; labelled slow.
#include "DatabaseLock.h"
#include "EngineRig.h"
#include "OutboxRows.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <atomic>

namespace {

// How many notices of background work say these words.
int noticesSaying(const ScriptedDialogs& d, const QString& words)
{
    return int(d.notices().filter(words).size());
}

// Message boxes that the user leaves open for a while: each returns only after holdMs, running events
// meanwhile as a modal box does.
struct UnansweredBoxes : ScriptedDialogs {
    int holdMs = 0;
    void message(const QString& text) override
    {
        ScriptedDialogs::message(text);
        QEventLoop open;
        QTimer::singleShot(holdMs, &open, &QEventLoop::quit);
        open.exec();
    }
};

} // namespace

class OutboxRealTimeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aSubmissionCutByAnUnplugCountsAsAnAttempt();
    void aStoredMessageIsRecordedSentAsSoonAsTheModemConfirms();
    void noRowIsLeftSendingByADatabaseThatStopsAnswering();
    void aDatabaseOutageHoldsUpNoOtherWork_data();
    void aDatabaseOutageHoldsUpNoOtherWork();
};

void OutboxRealTimeTest::aSubmissionCutByAnUnplugCountsAsAnAttempt()
{
    EngineRig rig(EngineRig::Line::Terminal); // the user acts during a network wait in real time
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(800);
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("cut short"));
    const qint64 id = lastOutboxId(rig.db);
    rig.engine.Timer2_Timer();
    QTRY_VERIFY(rig.sim.commands().contains(QStringLiteral("AT+CMGS=\"9888812121\"")));
    rig.sim.hangUp(); // the modem had the message when it was unplugged
    QTRY_VERIFY(!rig.engine.status().connected && !rig.engine.sending());
    QCOMPARE(outboxRow(rig.db, id).status, QString());

    ModemSimulator again; // the same modem plugged in again under the same COM number
    again.setSerials(rig.sim.serials());
    QString error;
    QVERIFY2(again.start(&error) && again.linkAs(rig.state.dataDir, EngineRig::Com, &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.status().ready, 10000);
    rig.deliver();
    QCOMPARE(again.sent().size(), 1);
    const OutboxRow r = outboxRow(rig.db, id);
    QVERIFY(r.delivered);
    QCOMPARE(r.attempts, 2); // both submissions reached a modem
    rig.engine.Disconnect();
}

void OutboxRealTimeTest::aStoredMessageIsRecordedSentAsSoonAsTheModemConfirms()
{
    // A stop between the modem's confirmation and its record would send the message again at the next start:
    // the record must follow the confirmation at once, not after the command's pacing.
    constexpr int NetworkDelayMs = 200;
    QElapsedTimer since;
    std::atomic<qint64> submittedAt{-1};
    EngineRig rig(EngineRig::Line::Terminal); // measured in real time
    QVERIFY(rig.connectModem());
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = 'STORE AND DELIVER'"));
    rig.sim.setNetworkDelayMs(NetworkDelayMs);
    rig.sim.setLogger([&](const QString& line) {
        if (line.startsWith(QLatin1String("sent to ")))
            submittedAt = since.elapsed();
    });
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("sent from the SIM"));
    since.start();
    rig.engine.Timer2_Timer();
    auto partsSent = [&rig] { return rig.db.scalar(QStringLiteral("SELECT PartsSent FROM Message_OutBox")).toInt(); };
    while (partsSent() == 0 && since.elapsed() < 10000)
        QTest::qWait(5);
    const qint64 recordedAt = since.elapsed();
    rig.sim.setLogger({});
    QVERIFY(submittedAt >= 0);
    const qint64 confirmedAt = submittedAt + NetworkDelayMs; // when the simulator wrote +CMSS
    QVERIFY2(recordedAt - confirmedAt < 250,
             qPrintable(QStringLiteral("recorded %1 ms after the confirmation").arg(recordedAt - confirmedAt)));
    QTRY_VERIFY(!rig.engine.sending());
    QVERIFY(outboxRow(rig.db, 1).delivered);
    QCOMPARE(rig.sim.sent().size(), 1);
}

void OutboxRealTimeTest::noRowIsLeftSendingByADatabaseThatStopsAnswering()
{
    EngineRig rig;
    // Each statement gives up on the lock after 0.2 s rather than 2 s: what is checked is the same.
    rig.db.scalar(QStringLiteral("PRAGMA busy_timeout = 200"));
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(1500);
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("first"));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("second"));
    CommandGate submission(rig.sim, QStringLiteral("AT+CMGS=\"9888812121\""));
    QSignalSpy statusBar(&rig.engine, &Engine::statusChanged);
    rig.engine.Timer2_Timer();
    QVERIFY(submission.held());
    // Another program takes the database while the network confirms: the outcome cannot be written.
    const QString other = QStringLiteral("locker");
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), other);
        locker.setDatabaseName(rig.db.filePath());
        QVERIFY(locker.open());
        QVERIFY(QSqlQuery(locker).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        submission.open();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 10000);
        for (int tick = 0; tick < 3; ++tick)
            rig.deliver();
        QCOMPARE(noticesSaying(rig.dialogs, QStringLiteral("cannot be used just now")), 1); // one, not a storm
        QVERIFY(rig.dialogs.notices().first().contains(rig.db.filePath()));
        QVERIFY(rig.dialogs.messages().isEmpty());
        QVERIFY(!statusBar.isEmpty() && statusBar.last().first().toString().contains(u"cannot be used just now"));
        QVERIFY(QSqlQuery(locker).exec(QStringLiteral("ROLLBACK")));
        locker.close();
    }
    QSqlDatabase::removeDatabase(other);
    // Connected again before the retry: the row it did send is written as sent, not given back to be sent again.
    rig.engine.Disconnect();
    QVERIFY(rig.connectAndWait());
    QVERIFY(!rig.logFile().contains(QStringLiteral("was being sent when Broadtext last stopped")));
    // The program writes what happened as soon as the database answers, and goes on.
    QTRY_VERIFY_WITH_TIMEOUT(outboxRow(rig.db, 1).delivered, 10000);
    QCOMPARE(rig.sim.sent().size(), 1);
    rig.sim.setNetworkDelayMs(0);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 2);
    QCOMPARE(statusBar.last().first().toString(), QString()); // the status bar follows the database back
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENDING'")), 0);
}

void OutboxRealTimeTest::aDatabaseOutageHoldsUpNoOtherWork_data()
{
    QTest::addColumn<bool>("full");
    QTest::newRow("locked by another program") << false;
    QTest::newRow("disk full") << true;
}

void OutboxRealTimeTest::aDatabaseOutageHoldsUpNoOtherWork()
{
    QFETCH(bool, full);
    // Longer than any connection waits for a lock; BROADTEXT_TEST_OUTAGE_MS=60000 runs the minute-long outage by hand.
    const int OutageMs = qEnvironmentVariableIntValue("BROADTEXT_TEST_OUTAGE_MS") > 0
                             ? qEnvironmentVariableIntValue("BROADTEXT_TEST_OUTAGE_MS")
                             : 3000;
    constexpr int Messages = 20;
    EngineRig rig;
    // Each statement gives up on the lock after 0.2 s rather than 2 s: the outage still outlasts it.
    rig.db.scalar(QStringLiteral("PRAGMA busy_timeout = 200"));
    // A box would be left open far longer than the outage lasts.
    UnansweredBoxes boxes;
    boxes.holdMs = 10 * OutageMs;
    rig.state.dialogs = &boxes;
    rig.engine.setDelayFactor(0.3); // a quick modem: the run is long only in messages
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(50);
    QStringList texts;
    for (int i = 0; i < Messages; ++i) {
        texts << QStringLiteral("message %1").arg(i);
        rig.queue(QStringLiteral("9888812121"), texts.last());
    }
    rig.sim.receiveSms(QStringLiteral("+919812345678"), QStringLiteral("before"));
    rig.state.SendIntervalSeconds = 1;
    rig.state.ReceiveIntervalSeconds = 2;
    rig.engine.applyTimerPeriods();

    // The database stops answering while the fourteenth message is on the network.
    CommandGate fourteenth(rig.sim, QStringLiteral("AT+CMGS"), 14);
    QVERIFY(fourteenth.held());
    QElapsedTimer since;
    since.start();
    std::optional<DatabaseLock> lock;
    if (full) {
        for (const auto& [table, change] :
             {std::pair{"Message_OutBox", "UPDATE"}, std::pair{"Message_InBox", "INSERT"}})
            rig.db.execute(QStringLiteral("CREATE TRIGGER full_%1 BEFORE %2 ON %1 BEGIN SELECT RAISE(ABORT, "
                                          "'database or disk is full'); END")
                               .arg(QLatin1String(table), QLatin1String(change)));
        QTimer::singleShot(OutageMs, [&rig] {
            rig.db.execute(QStringLiteral("DROP TRIGGER full_Message_OutBox"));
            rig.db.execute(QStringLiteral("DROP TRIGGER full_Message_InBox"));
        });
    } else {
        lock.emplace(rig.db.filePath(), OutageMs);
        QVERIFY(lock->taken());
    }
    fourteenth.open();
    rig.sim.receiveSms(QStringLiteral("+919812345678"), QStringLiteral("during"));

    auto left = [&rig](const char* where) {
        return rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + QLatin1String(where));
    };
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.sent().size() == Messages && left("DeliveryStatus <> 'SENT'") == 0 &&
                                 rig.sim.simMessages().isEmpty(),
                             OutageMs + 27000);
    // Delivery and reception went on as soon as the database answered, not when someone clicked a box.
    QVERIFY2(since.elapsed() < OutageMs + 8000, qPrintable(QString::number(since.elapsed())));
    QStringList sent;
    for (const auto& m : rig.sim.sent())
        sent << m.text;
    QCOMPARE(sent, texts); // each once, in order
    QCOMPARE(left("DeliveryDatetime IS NULL"), 0);
    QCOMPARE(queryTexts(rig.db, QStringLiteral("SELECT Message FROM Message_InBox ORDER BY InBox_Id")),
             (QStringList{"before", "during"}));
    QCOMPARE(noticesSaying(boxes, QStringLiteral("cannot be used just now")), 1);
    QVERIFY(boxes.messages().isEmpty());
    QVERIFY(rig.log.text().contains(QLatin1String("**ERROR** ")));
    rig.engine.Disconnect();
}

QTEST_GUILESS_MAIN(OutboxRealTimeTest)
#include "tst_outbox_realtime.moc"
