// The modem conversation as real modems make it: message texts that look like modem lines, the header
// variants of different makers, the packet-data "call" of LTE modules, text entry left pending by an earlier
// session, rings during delivery, and a full SIM listed on a slow line (replayed from a transcript on the
// in-memory line, its minutes of line time passing on the virtual clock). End to end: the timers, the modem
// thread and the database. What needs real time and a real port is in tst_modem_pty.
#include "Conversation.h"

class ModemConversationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textsThatLookLikeModemLinesAreStoredAsSent();
    void headerVariantsOfRealModems_data();
    void headerVariantsOfRealModems();
    void dataConnectionOfLteModulesIsNoCall();
    void textEntryPendingFromAnEarlierSessionIsCancelled();
    void ringsDuringADeliveryRunAreAllHeard();
    void fullSimOnASlowLineIsImportedExactly();
};

void ModemConversationTest::textsThatLookLikeModemLinesAreStoredAsSent()
{
    Replay replay(QStringLiteral("texts-like-modem-lines"));
    EngineRig rig(true, replay.plumbing());
    const QString forged = QStringLiteral("Hello\r\n+CMGL: 7,\"REC UNREAD\",\"+15550001\",,\"26/01/01,00:00:00+00\""
                                          "\r\nYou have won. Call now");
    const QStringList texts = {QStringLiteral("CALL ME DURING LUNCH"), QStringLiteral("BRING\r\nRING\r\nTHE BOOK"),
                               QStringLiteral("NO CARRIER\r\nERROR\r\nstill here"), forged, QStringLiteral("Hi there")};
    QVERIFY(rig.connectModem());
    rig.receive();
    QTRY_COMPARE(inboxCount(rig.db), 5);
    // The slot the forged header names holds the user's own stored message: the transcript deletes only the
    // five received ones (any other command would stop the replay) before the second reception, which adds
    // nothing.
    QTRY_VERIFY(replay.player.nextCommand() == "AT+CLCC\r" || !replay.player.failure().isEmpty());
    rig.receive();
    QVERIFY2(replay.player.failure().isEmpty(), qPrintable(replay.player.failure()));
    QVERIFY(replay.player.atEnd());
    QCOMPARE(inboxTexts(rig.db), texts);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE SenderMobileNo = '+15550001'")), 0);
    QVERIFY(!rig.sound.played.join(QLatin1Char(' ')).contains(QLatin1String("ringing")));
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), 0);
    rig.engine.Disconnect();
}

void ModemConversationTest::headerVariantsOfRealModems_data()
{
    QTest::addColumn<QString>("transcript");
    QTest::newRow("no blank after +CMGL:") << QStringLiteral("header-no-blank-after-colon");
    QTest::newRow("blanks after the commas") << QStringLiteral("header-blanks-after-commas");
    QTest::newRow("alpha field omitted") << QStringLiteral("header-no-alpha-field");
    QTest::newRow("numeric status") << QStringLiteral("header-numeric-status");
    QTest::newRow("no text lengths (AT+CSDH refused)") << QStringLiteral("header-no-lengths");
}

void ModemConversationTest::headerVariantsOfRealModems()
{
    QFETCH(QString, transcript);
    Replay replay(transcript);
    EngineRig rig(true, replay.plumbing());
    QVERIFY(rig.connectModem());
    rig.receive();
    QTRY_COMPARE(inboxCount(rig.db), 2);
    // The two received ones are deleted, the stored one stays (any other command would stop the replay).
    QTRY_VERIFY(replay.player.atEnd() || !replay.player.failure().isEmpty());
    QVERIFY2(replay.player.failure().isEmpty(), qPrintable(replay.player.failure()));
    QCOMPARE(inboxTexts(rig.db), (QStringList{"first, one", "two\r\nlines"}));
    QCOMPARE(
        rig.db.scalar(QStringLiteral("SELECT SenderMobileNo FROM Message_InBox ORDER BY InBox_Id DESC")).toString(),
        QStringLiteral("+447700900123"));
    rig.engine.Disconnect();
}

// Also the timers of equal periods started together: the delivery tick lands inside the reception's
// exchange and must still run once the modem is free.
void ModemConversationTest::dataConnectionOfLteModulesIsNoCall()
{
    EngineRig rig;
    rig.sim.setDataCallListed(true);
    QVERIFY(rig.connectModem());
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("out"));
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), QStringLiteral("in"));
    runTimers(rig);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.sent().size(), 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(inboxCount(rig.db), 1, 15000);
    QVERIFY(rig.engine.Timer1.isEnabled() && rig.engine.Timer2.isEnabled());
    rig.engine.Disconnect();
}

void ModemConversationTest::textEntryPendingFromAnEarlierSessionIsCancelled()
{
    EngineRig rig;
    rig.sim.enterTextEntry(QStringLiteral("9888812121"));
    QVERIFY(rig.connectModem());
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(rig.sim.sent().isEmpty()); // the pending entry was cancelled, not sent with commands as its text
    QVERIFY(rig.sim.commands().contains(QStringLiteral("AT+CMGF=1")));
    rig.engine.Disconnect();
}

void ModemConversationTest::ringsDuringADeliveryRunAreAllHeard()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    for (int i = 0; i < 8; ++i)
        rig.queue(QStringLiteral("9888812121"), QStringLiteral("out %1").arg(i));
    rig.sim.setNetworkDelayMs(150);
    rig.sim.incomingCall(QStringLiteral("+919812345678"), 6, 300, false);
    rig.engine.Timer2_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(sentItems(rig.db), 8, 20000);
    QTRY_VERIFY(!rig.sim.callRinging());
    QTest::qWait(200);
    QCOMPARE(rig.sound.played.size(), 6);
    rig.engine.Disconnect();
}

void ModemConversationTest::fullSimOnASlowLineIsImportedExactly()
{
    // 255 messages listed at 9600 baud: the listing takes longer on the line than any fixed bound would allow.
    Replay replay(QStringLiteral("full-sim-9600"));
    EngineRig rig(true, replay.plumbing());
    QVERIFY(rig.connectModem());
    rig.receive();
    QTRY_VERIFY2(replay.player.atEnd() || !replay.player.failure().isEmpty(), "the deletions did not come");
    QVERIFY2(replay.player.failure().isEmpty(), qPrintable(replay.player.failure()));
    QTRY_COMPARE(inboxCount(rig.db), 255);
    QStringList sent;
    for (int i = 0; i < 255; ++i)
        sent << QStringLiteral("Message %1 OK, and some more words in it, as people write them.")
                    .arg(i, 3, 10, QLatin1Char('0'));
    QStringList stored = inboxTexts(rig.db);
    stored.sort();
    QCOMPARE(stored, sent);
    QVERIFY(replay.clock.nowMs() > 35000); // the line time passed, on the virtual clock
    rig.engine.Disconnect();
}

QTEST_GUILESS_MAIN(ModemConversationTest)
#include "tst_modem_conversation.moc"
