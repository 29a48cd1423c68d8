// The Outbox delivery run and reception into the Inbox, end to end: the real database, the real serial
// code and the simulated modem.
#include "EngineRig.h"

namespace {

struct Row {
    QString number, status;
    bool delivered;
};

QList<Row> outbox(Database& db)
{
    QList<Row> rows;
    Query q(db,
            QStringLiteral(
                "SELECT RecipientMobileNo, DeliveryStatus, DeliveryDatetime FROM Message_OutBox ORDER BY Outbox_Id"));
    while (q.next())
        rows.append({q.value(0).toString(), q.value(1).toString(), !q.value(2).isNull()});
    return rows;
}

// A disk that fills up: every Inbox insert fails with the engine's own words, on the file and on a server.
void FailInboxInserts(Database& db, bool fail)
{
    const char* const sqlite[] = {"CREATE TRIGGER inbox_full BEFORE INSERT ON Message_InBox BEGIN SELECT RAISE(ABORT, "
                                  "'database or disk is full'); END",
                                  "DROP TRIGGER inbox_full"};
    const char* const server[] = {
        "CREATE OR REPLACE FUNCTION disk_full() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "RAISE EXCEPTION 'database or disk is full'; END $$; CREATE TRIGGER inbox_full BEFORE "
        "INSERT ON Message_InBox FOR EACH ROW EXECUTE FUNCTION disk_full()",
        "DROP TRIGGER inbox_full ON Message_InBox"};
    db.execute(QString::fromLatin1((db.isServer() ? server : sqlite)[fail ? 0 : 1]));
}

const QString SentLog = QStringLiteral("] : SMS sent successfully. Now removing it from outbox.\r\n");

} // namespace

class DeliveryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void waitingRowsAreSentAndMoveToSentItems();
    void failedSendsReturnToWaitingAndAreRetried_data();
    void failedSendsReturnToWaitingAndAreRetried();
    void emptyOutboxAndMissingTimerRow();
    void disconnectingEndsTheRunBeforeTheNextRow();
    void pausingEndsTheRunAfterTheMessageOnTheNetwork();
    void interruptedRunIsResetAtConnect();
    void receptionImportsReceivedMessagesOnly();
    void receptionKeepsAMessageItCouldNotStore();
    void refusalDuringTimerWorkIsOneNotice();
    void statusCarriesConnectionAndIdentity();
};

void DeliveryTest::waitingRowsAreSentAndMoveToSentItems()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.queue(QStringLiteral("  +44 2123-234.455 "), QStringLiteral("  Hello there  "));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("Second"));
    rig.deliver();

    const auto sent = rig.sim.sent();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0].number, QStringLiteral("+442123234455"));
    QCOMPARE(sent[0].text, QStringLiteral("Hello there"));
    QCOMPARE(sent[1].number, QStringLiteral("9888812121"));
    const auto rows = outbox(rig.db);
    QCOMPARE(rows[0].number, QStringLiteral("  +44 2123-234.455 ")); // the stored number is not rewritten
    for (const Row& r : rows) {
        QCOMPARE(r.status, QStringLiteral("SENT"));
        QVERIFY(r.delivered);
    }
    const QString log = rig.log.text();
    const qsizetype checking = log.indexOf(QStringLiteral("] : Checking if there are any SMS to be sent.\r\n"));
    const qsizetype total = log.indexOf(QStringLiteral("] : Total 2 SMS to be sent.\r\n"));
    const qsizetype first = log.indexOf(
        QStringLiteral("] : Sending SMS to +442123234455 using GSM modem and method - DIRECT DELIVERY.\r\n"));
    const qsizetype second =
        log.indexOf(QStringLiteral("] : Sending SMS to 9888812121 using GSM modem and method - DIRECT DELIVERY.\r\n"));
    // Newest on top: the later line stands higher.
    QVERIFY(checking > total && total > first && first > second && second >= 0);
    QCOMPARE(log.count(SentLog), 2);

    // A run ends at the last row waiting when it began: a row queued meanwhile (a mass send being added)
    // waits for the next run, so that one run cannot go on for ever.
    rig.sim.setNetworkDelayMs(300);
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("Third"));
    rig.engine.Timer2_Timer();
    QTRY_COMPARE(rig.sim.commands().filter(QStringLiteral("AT+CMGS")).size(), 3);
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("Fourth"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 10000);
    QCOMPARE(rig.sim.sent().size(), 3);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 4);
}

void DeliveryTest::failedSendsReturnToWaitingAndAreRetried_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("+CMS ERROR: 500") << int(ModemSimulator::SendFailure::CmsError);
    QTest::newRow("bare OK") << int(ModemSimulator::SendFailure::BareOk);
    QTest::newRow("no answer") << int(ModemSimulator::SendFailure::Silence);
}

void DeliveryTest::failedSendsReturnToWaitingAndAreRetried()
{
    QFETCH(int, failure);
    EngineRig rig;
    rig.engine.setFinalAnswerTimeout(1000);
    QVERIFY(rig.connectModem());
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("try me"));
    rig.sim.failSends(ModemSimulator::SendFailure(failure));
    rig.deliver();
    QVERIFY(rig.sim.sent().isEmpty());
    QCOMPARE(outbox(rig.db).first().status, QString());
    QVERIFY(!outbox(rig.db).first().delivered);
    QVERIFY(
        rig.log.text().contains(QStringLiteral("] : **ERROR** SMS could not be sent to 9888812121 (Possible Reasons: "
                                               "1> Phone out of coverage area   2> No balance credit on your SIM     "
                                               "3> Trying to send International SMS (with '+' sign) which may not be "
                                               "allowed from your SIM Card.)\r\n")));
    QVERIFY(!rig.log.text().contains(SentLog));

    rig.clock.advance(61 * 1000); // a failed row waits a minute before it is tried again
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(outbox(rig.db).first().status, QStringLiteral("SENT"));
}

void DeliveryTest::emptyOutboxAndMissingTimerRow()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.log.clear();
    const qsizetype logged = rig.logFile().size();
    rig.deliver();
    // The tick's own line, and the total: in the file only, as the tick found nothing to send.
    const QString since = rig.logFile().mid(logged);
    QCOMPARE(since.count(QStringLiteral("] : ")), 2);
    QVERIFY(since.endsWith(QStringLiteral("] : Total 0 SMS to be sent.\n")));
    QVERIFY(rig.log.text().isEmpty());

    rig.db.execute(QStringLiteral("DELETE FROM Timer_setting"));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("x"));
    rig.log.clear();
    rig.deliver();
    QVERIFY(rig.sim.sent().isEmpty());
    QCOMPARE(rig.log.text().count(QStringLiteral("] : ")), 2);
    QVERIFY(outbox(rig.db).first().status.isEmpty());
}

void DeliveryTest::disconnectingEndsTheRunBeforeTheNextRow()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(600);
    for (int i = 0; i < 3; ++i)
        rig.queue(QStringLiteral("9888812121"), QStringLiteral("x%1").arg(i));
    CommandGate submission(rig.sim, QStringLiteral("AT+CMGS=\"9888812121\""));
    rig.engine.Timer2_Timer();
    QVERIFY(submission.held());
    rig.engine.Disconnect();
    submission.open();
    QTRY_VERIFY(!rig.engine.sending());
    QVERIFY(rig.sim.sent().size() <= 1);
    for (const Row& r : outbox(rig.db).mid(1)) {
        QVERIFY(r.status.isEmpty());
        QVERIFY(!r.delivered);
    }
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENDING'")), 0);
    // The timers do nothing while disconnected.
    rig.log.clear();
    rig.engine.Timer1_Timer();
    rig.engine.Timer2_Timer();
    QVERIFY(rig.log.text().isEmpty());
}

void DeliveryTest::pausingEndsTheRunAfterTheMessageOnTheNetwork()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(600);
    for (int i = 0; i < 3; ++i)
        rig.queue(QStringLiteral("9888812121"), QStringLiteral("x%1").arg(i));
    QSignalSpy changed(&rig.engine, &Engine::deliveryPausedChanged);
    CommandGate submission(rig.sim, QStringLiteral("AT+CMGS=\"9888812121\""));
    rig.engine.Timer2_Timer();
    QVERIFY(submission.held());
    rig.engine.setDeliveryPaused(true);
    submission.open();
    QVERIFY(rig.engine.deliveryPaused());
    QCOMPARE(changed.size(), 1);
    // The submission under way is not cut: it reaches the network and its row moves to Sent Items.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 10000);
    QCOMPARE(rig.sim.sent().size(), 1);
    const auto rows = outbox(rig.db);
    QVERIFY(rows[0].delivered);
    for (const Row& r : rows.mid(1)) {
        QVERIFY(r.status.isEmpty());
        QVERIFY(!r.delivered);
    }

    // While paused neither the timer nor the message box's button starts a run; reception goes on.
    const qsizetype logged = rig.logFile().size();
    rig.engine.Timer2_Timer();
    QVERIFY(!rig.engine.SendNow());
    QVERIFY(!rig.engine.sending());
    rig.receive();
    const QString since = rig.logFile().mid(logged);
    QVERIFY(!since.contains(QStringLiteral("Checking if there are any SMS to be sent.")));
    QVERIFY(since.contains(QStringLiteral("Checking for new SMS on SIM card.")));

    // Resume sends what waits at once, not at the next tick of the timer.
    rig.sim.setNetworkDelayMs(0);
    rig.engine.setDeliveryPaused(false);
    QCOMPARE(changed.size(), 2);
    QVERIFY(rig.engine.sending());
    QTRY_COMPARE(rig.sim.sent().size(), 3);
}

void DeliveryTest::interruptedRunIsResetAtConnect()
{
    EngineRig rig;
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("x"));
    rig.db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENDING'"));
    rig.queue(QStringLiteral("9888812122"), QStringLiteral("sent before"));
    rig.db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ? WHERE "
                                  "RecipientMobileNo = '9888812122'"),
                   {Database::DbTime(rig.clock.now())});
    QVERIFY(rig.connectModem());
    QCOMPARE(outbox(rig.db)[0].status, QString());
    QCOMPARE(outbox(rig.db)[1].status, QStringLiteral("SENT")); // a finished row is left as it is
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
}

void DeliveryTest::receptionImportsReceivedMessagesOnly()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("9888812121"), QStringLiteral("It's \"quoted\""));
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("9888812121"), QStringLiteral("mine, sent"));
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("447700900123"), QStringLiteral("eleven+ digits"));
    rig.sim.storeMessage(QStringLiteral("STO UNSENT"), QStringLiteral("9888812121"), QStringLiteral("mine, unsent"));
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("09888812121"), QStringLiteral("zero first"));
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("VODAFONE"), QStringLiteral("alpha sender"));
    rig.receive();
    QTRY_COMPARE(rig.sim.simMessages().size(), 2);

    QStringList senders, texts;
    Query q(rig.db,
            QStringLiteral("SELECT SenderMobileNo, Message, IsRead, SenderId FROM Message_InBox ORDER BY InBox_Id"));
    while (q.next()) {
        senders << q.value(0).toString();
        texts << q.value(1).toString();
        QCOMPARE(q.value(2).toInt(), 0);
        QCOMPARE(q.value(3).toInt(), 0);
    }
    QCOMPARE(senders, (QStringList{"+9888812121", "+447700900123", "09888812121", "+VODAFONE"}));
    QCOMPARE(texts.first(), QStringLiteral("It's \"quoted\""));
    QCOMPARE(rig.sound.played.size(), 4);
    QVERIFY(rig.sound.played.first().endsWith(QLatin1String("SMSNotify.wav")));
    const auto left = rig.sim.simMessages();
    QCOMPARE(left.size(), 2);
    QCOMPARE(left[0].status, QStringLiteral("STO SENT"));
    QCOMPARE(left[1].status, QStringLiteral("STO UNSENT"));
    const QString log = rig.log.text();
    QVERIFY(log.contains(QStringLiteral("] : Checking for new SMS on SIM card.\r\n")));
    QVERIFY(log.contains(QStringLiteral("] : Received total 6 new SMS. They have been put in 'Inbox'.\r\n")));
}

void DeliveryTest::receptionKeepsAMessageItCouldNotStore()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919888812121"), QStringLiteral("one"));
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919888812121"), QStringLiteral("two"));
    FailInboxInserts(rig.db, true);
    rig.receive();
    QCOMPARE(rig.sim.simMessages().size(), 2);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(rig.log.text().contains(QLatin1String("database or disk is full")));

    FailInboxInserts(rig.db, false);
    rig.receive();
    QVERIFY(rig.sim.simMessages().isEmpty());
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox")), 2);
}

// The modem refusing a command while the timers deliver: the user is told once, without a box that would
// wait for an answer nobody asked for, and the status bar and the log say it too. (ERROR to AT+CMGW, the
// same from a replayed modem: tst_modem_commands.)
void DeliveryTest::refusalDuringTimerWorkIsOneNotice()
{
    EngineRig rig;
    rig.engine.setFinalAnswerTimeout(1000);
    QVERIFY(rig.connectModem());
    QSignalSpy statusBar(&rig.engine, &Engine::statusChanged);
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = 'STORE AND DELIVER'"));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("first"));
    rig.queue(QStringLiteral("9888812122"), QStringLiteral("second"));
    rig.sim.failSends(ModemSimulator::SendFailure::CmsError, 4);
    rig.deliver();
    rig.clock.advance(61 * 1000); // the rows are tried again: the same refusal is not shown again
    rig.deliver();

    const QString problem = QStringLiteral("Error occured while executing this command: AT+CMSS");
    QVERIFY(rig.sim.sent().isEmpty());
    QCOMPARE(rig.dialogs.messages(), QStringList());
    QCOMPARE(rig.dialogs.notices(), QStringList{problem});
    QVERIFY(rig.log.text().count(QStringLiteral("] : **ERROR** ") + problem) >= 2);
    QVERIFY(!statusBar.isEmpty());
    QCOMPARE(statusBar.last().first().toString(), problem);

    // The modem takes messages again: the status bar has nothing more to say.
    rig.clock.advance(121 * 1000);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 2);
    QCOMPARE(statusBar.last().first().toString(), QString());
    QCOMPARE(rig.dialogs.notices().size(), 1);
}

void DeliveryTest::statusCarriesConnectionAndIdentity()
{
    EngineRig rig;
    QSignalSpy published(&rig.engine, &Engine::modemStatusChanged);
    auto last = [&] { return published.last().first().value<ModemStatus>(); };
    QVERIFY(rig.connectModem());
    QVERIFY(last().connected && last().ready);
    QCOMPARE(last().port, EngineRig::Com);
    QVERIFY2(last().identity.contains(rig.sim.serials().imei), qPrintable(last().identity));
    QCOMPARE(last(), rig.engine.status());

    rig.engine.Disconnect();
    QVERIFY(!last().connected && !last().ready);
    QCOMPARE(last().port, EngineRig::Com);
}

QTEST_GUILESS_MAIN(DeliveryTest)
#include "tst_delivery.moc"
