// The modem's commands as data: the sequencer that runs the initialisation's table (replayed from transcripts
// on the in-memory line), the table of unsolicited lines (lines as real modems send them), and the words the
// engine gives a failed exchange: a box for the user's own action, a notice once for the program's own work.
#include "Conversation.h"
#include "Transcript.h"
#include "delivery/LinkWords.h"

#include <QSignalSpy>

Q_DECLARE_METATYPE(LinkError::Reason)
Q_DECLARE_METATYPE(Unsolicited::Kind)

class ModemCommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sequence_data();
    void sequence();
    void unsolicitedLines_data();
    void unsolicitedLines();
    void failureWords_data();
    void failureWords();
    void backgroundFailuresOpenNoBox();
};

void ModemCommandsTest::sequence_data()
{
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<QString>("secondExpects"); // the answer the mandatory second step waits for
    QTest::addColumn<LinkError::Reason>("reason");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("written");
    QTest::addColumn<QStringList>("reported");
    QTest::newRow("optional step refused: goes on") << "sequence-optional-refused"
                                                    << "OK" << LinkError::None << -1 << 3 << QStringList{};
    QTest::newRow("mandatory step refused with a number: stops")
        << "sequence-mandatory-cms-error"
        << "OK" << LinkError::CmsError << 302 << 2 << QStringList{"AT+B"};
    QTest::newRow("mandatory step unanswered: stops") << "sequence-mandatory-silent"
                                                      << "OK" << LinkError::TimedOut << -1 << 2 << QStringList{};
    QTest::newRow("mandatory step answered OK instead of the prompt: stops")
        << "sequence-prompt-refused"
        << "> " << LinkError::NoPrompt << -1 << 2 << QStringList{};
}

void ModemCommandsTest::sequence()
{
    QFETCH(QString, transcript);
    QFETCH(QString, secondExpects);
    QFETCH(LinkError::Reason, reason);
    QFETCH(int, number);
    QFETCH(int, written);
    QFETCH(QStringList, reported);
    Replay replay(transcript);
    std::atomic<bool> abort{false};
    ModemRoutines modem(abort, nullptr, replay.plumbing());
    QStringList failures;
    modem.failed = [&](const LinkError& e) { failures << e.command; };
    modem.log = [](const QString&) {};
    QVERIFY(!modem.OpenComPort(3, QStringLiteral("115200,N,8,1")));

    auto fixed = [](const char* command) { return [command] { return QString::fromLatin1(command); }; };
    const Linked<> result = modem.RunSequence({
        {.command = fixed("AT+A")},
        {.command = fixed("AT+B"), .expected = secondExpects, .mandatory = true, .reportedAs = "AT+B"},
        {.command = fixed("AT+C")},
    });

    QVERIFY2(replay.player.failure().isEmpty(), qPrintable(replay.player.failure()));
    QCOMPARE(replay.player.commandsWritten(), written);
    QVERIFY(replay.player.atEnd());
    QCOMPARE(result.ok(), reason == LinkError::None);
    QCOMPARE(result.error().reason, reason);
    QCOMPARE(result.error().number, number);
    QCOMPARE(result.error().command, result.ok() ? QString() : QStringLiteral("AT+B"));
    QCOMPARE(modem.portOpen(), result.ok()); // a mandatory failure closes the port
    QCOMPARE(failures, reported);            // only the modem's own refusal is reported upward
}

void ModemCommandsTest::unsolicitedLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Unsolicited::Kind>("kind");
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("body"); // a line of its own follows
    using U = Unsolicited;
    QTest::newRow("ring") << QByteArray("RING\r\n") << U::Ring << "" << -1 << false;
    QTest::newRow("voice ring, extended") << QByteArray("+CRING: VOICE") << U::Ring << "" << -1 << false;
    QTest::newRow("data call ring") << QByteArray("+CRING: REL ASYNC") << U::OtherRing << "" << -1 << false;
    QTest::newRow("caller id") << QByteArray("+CLIP: \"+919812345678\",145,,,,0") << U::CallerId << "+919812345678"
                               << -1 << false;
    QTest::newRow("call ended") << QByteArray("NO CARRIER") << U::NoCarrier << "" << -1 << false;
    QTest::newRow("new message") << QByteArray("+CMTI: \"SM\",17") << U::NewMessage << "" << 17 << false;
    QTest::newRow("new message, phone memory") << QByteArray("+CMTI: \"ME\", 3") << U::NewMessage << "" << 3 << false;
    QTest::newRow("report stored") << QByteArray("+CDSI: \"SR\",2") << U::StatusReportStored << "" << 2 << false;
    QTest::newRow("report, PDU follows") << QByteArray("+CDS: 25") << U::StatusReport << "" << -1 << true;
    QTest::newRow("report, text mode")
        << QByteArray("+CDS: 6,17,\"+1555\",145,\"26/12/06,10:00:00+22\",\"26/12/06,10:00:05+22\",0") << U::StatusReport
        << "" << -1 << false;
    QTest::newRow("message routed, PDU follows") << QByteArray("+CMT: ,24") << U::Delivered << "" << -1 << true;
    QTest::newRow("message routed, text follows")
        << QByteArray("+CMT: \"+919812345678\",,\"26/12/07,13:34:37+00\"") << U::Delivered << "" << -1 << true;
    QTest::newRow("cell broadcast") << QByteArray("+CBM: 88") << U::Delivered << "" << -1 << true;
    QTest::newRow("signal (Huawei)") << QByteArray("^RSSI: 17") << U::Other << "" << -1 << false;
    QTest::newRow("registration") << QByteArray("+CREG: 1") << U::Registration << "" << -1 << false;
    QTest::newRow("packet-domain registration") << QByteArray("+CGREG: 1") << U::Other << "" << -1 << false;
    QTest::newRow("Quectel start-up") << QByteArray("+QIND: SMS DONE") << U::Other << "" << -1 << false;
    QTest::newRow("SIMCom start-up") << QByteArray("SMS Ready") << U::Other << "" << -1 << false;
    QTest::newRow("text with RING inside") << QByteArray("BRING") << U::None << "" << -1 << false;
    QTest::newRow("text starting RING") << QByteArray("RINGING") << U::None << "" << -1 << false;
    QTest::newRow("text") << QByteArray("CALL ME DURING LUNCH") << U::None << "" << -1 << false;
    QTest::newRow("an answer's own line") << QByteArray("+CMGS: 12") << U::None << "" << -1 << false;
}

void ModemCommandsTest::unsolicitedLines()
{
    QFETCH(QByteArray, line);
    QFETCH(Unsolicited::Kind, kind);
    QFETCH(QString, number);
    QFETCH(int, index);
    QFETCH(bool, body);
    const Unsolicited u = ParseUnsolicited(line);
    QCOMPARE(u.kind, kind);
    QCOMPARE(u.number, number);
    QCOMPARE(u.index, index);
    QCOMPARE(u.line, line.trimmed());
    QCOMPARE(UnsolicitedHasBody(line), body);
}

void ModemCommandsTest::failureWords_data()
{
    QTest::addColumn<LinkError::Reason>("reason");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("words");
    QTest::newRow("echo refused") << LinkError::Refused << -1 << "ATE0"
                                  << "Error occured while executing this command: ATE0";
    QTest::newRow("deletion refused with a number") << LinkError::CmsError << 321 << "AT+CMGD=4"
                                                    << "Error occured while executing this command: AT+CMGD=4";
    QTest::newRow("caller id refused") << LinkError::CmeError << 4 << "AT+CLIP=1"
                                       << "Your modem does not support 'CallerID' feature.";
    QTest::newRow("port already open") << LinkError::AlreadyOpen << 3 << ""
                                       << "Comm Port : 3 already open or some other program is using it.";
    QTest::newRow("no carrier") << LinkError::NoCarrier << -1 << "ATD123;"
                                << "Your modem probably does not support the dialing feature.";
}

void ModemCommandsTest::failureWords()
{
    QFETCH(LinkError::Reason, reason);
    QFETCH(int, number);
    QFETCH(QString, command);
    QFETCH(QString, words);
    QCOMPARE(LinkFailureText({reason, number, command, {}}), words);
}

void ModemCommandsTest::backgroundFailuresOpenNoBox()
{
    const QString refused = QStringLiteral("Error occured while executing this command: AT+CMGW");
    Replay replay(QStringLiteral("store-refused"));
    EngineRig rig(true, replay.plumbing());
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = 'STORE AND DELIVER'"));
    QVERIFY(rig.connectModem());
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("hello"));
    // Two delivery runs (the timer's, then one asked for again), refused alike: the log each time, one notice,
    // no box.
    rig.deliver();
    QTRY_COMPARE(rig.log.text().count(QStringLiteral("**ERROR** ") + refused), 1);
    QVERIFY(rig.engine.SendNow());
    QTRY_VERIFY(!rig.engine.sending());
    QTRY_COMPARE(rig.log.text().count(QStringLiteral("**ERROR** ") + refused), 2);
    QCOMPARE(rig.dialogs.messages(), QStringList{});
    QCOMPARE(rig.dialogs.notices(), QStringList{refused});

    // The user's own deletion in the SIM manager is answered with a box, as before.
    bool done = false;
    rig.engine.DeleteSIMMessage(5, nullptr, [&] { done = true; });
    QTRY_VERIFY(done);
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral("Error occured while executing this command: AT+CMGD=5")});
    QVERIFY2(replay.player.failure().isEmpty(), qPrintable(replay.player.failure()));
    QVERIFY(replay.player.atEnd());
    rig.engine.Disconnect();
}

QTEST_GUILESS_MAIN(ModemCommandsTest)
#include "tst_modem_commands.moc"
