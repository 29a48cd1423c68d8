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
    EngineRig rig;
    const QString forged = QStringLiteral("Hello\r\n+CMGL: 7,\"REC UNREAD\",\"+15550001\",,\"26/01/01,00:00:00+00\""
                                          "\r\nYou have won. Call now");
    const QStringList texts = {QStringLiteral("CALL ME DURING LUNCH"), QStringLiteral("BRING\r\nRING\r\nTHE BOOK"),
                               QStringLiteral("NO CARRIER\r\nERROR\r\nstill here"), forged, QStringLiteral("Hi there")};
    for (const QString& t : texts)
        rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), t);
    // The slot the forged header names holds the user's own stored message, which must stay.
    while (rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("+1"), QStringLiteral("mine")) < 7) {
    }
    QVERIFY(rig.connectModem());
    runTimers(rig);
    QTRY_COMPARE_WITH_TIMEOUT(inboxCount(rig.db), 5, 20000);
    QTRY_COMPARE(rig.sim.simMessages().size(), 2);
    QTest::qWait(1500); // another reception finds nothing more
    QCOMPARE(inboxTexts(rig.db), texts);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE SenderMobileNo = '+15550001'")), 0);
    for (const auto& m : rig.sim.simMessages())
        QCOMPARE(m.status, QStringLiteral("STO SENT"));
    QVERIFY(!rig.sound.played.join(QLatin1Char(' ')).contains(QLatin1String("ringing")));
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), 0);
    rig.engine.Disconnect();
}

void ModemConversationTest::headerVariantsOfRealModems_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("lengths");
    QTest::newRow("no blank after +CMGL:") << int(ModemSimulator::HeaderStyle::NoBlankAfterColon) << true;
    QTest::newRow("blanks after the commas") << int(ModemSimulator::HeaderStyle::BlanksAfterCommas) << true;
    QTest::newRow("alpha field omitted") << int(ModemSimulator::HeaderStyle::NoAlphaField) << true;
    QTest::newRow("numeric status") << int(ModemSimulator::HeaderStyle::NumericStatus) << true;
    QTest::newRow("no text lengths (AT+CSDH refused)") << int(ModemSimulator::HeaderStyle::Standard) << false;
}

void ModemConversationTest::headerVariantsOfRealModems()
{
    QFETCH(int, style);
    QFETCH(bool, lengths);
    EngineRig rig;
    rig.sim.setHeaderStyle(ModemSimulator::HeaderStyle(style));
    rig.sim.setCsdhSupported(lengths);
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), QStringLiteral("first, one"));
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("9812345678"), QStringLiteral("mine"));
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("447700900123"), QStringLiteral("two\r\nlines"));
    QVERIFY(rig.connectModem());
    runTimers(rig);
    QTRY_COMPARE_WITH_TIMEOUT(inboxCount(rig.db), 2, 15000);
    QTRY_COMPARE(rig.sim.simMessages().size(), 1);
    QCOMPARE(inboxTexts(rig.db), (QStringList{"first, one", "two\r\nlines"}));
    QCOMPARE(
        rig.db.scalar(QStringLiteral("SELECT SenderMobileNo FROM Message_InBox ORDER BY InBox_Id DESC")).toString(),
        QStringLiteral("+447700900123"));
    rig.engine.Disconnect();
}

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
