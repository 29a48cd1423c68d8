// The modem routines against the simulator on the in-memory line: the exchange by whole lines with its
// pacing, unsolicited lines taken out, port opening, initialisation, identity and call-state queries, SIM
// listing and deletion, and both ways of submitting a message. A port lost mid-exchange: tst_modem_pty.
#include "ModemRig.h"

namespace {

AtResult at(ModemRig& rig, const char* command, int pollMs = 20, const QString& expected = QStringLiteral("OK"),
            const QString& reportedAs = {})
{
    return rig.modem.ExecuteATCommand(QByteArray(command) + '\r', pollMs, expected, 5, reportedAs);
}

// The failures reported upward, as command and reason.
QStringList reported(const ModemRig& rig)
{
    QStringList out;
    for (const LinkError& e : rig.failures)
        out << QStringLiteral("%1 %2").arg(e.command).arg(int(e.reason));
    return out;
}
QString failure(const QString& command, LinkError::Reason reason)
{
    return QStringLiteral("%1 %2").arg(command).arg(int(reason));
}

} // namespace

class ModemRoutinesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersEndOnWholeLinesAfterThePace_data();
    void answersEndOnWholeLinesAfterThePace();
    void errorsSilenceAndUnexpectedAnswers();
    void unsolicitedLinesAreTakenOutOfAnswers();
    void aLateAnswerIsNotTakenByTheNextCommand();
    void openingThePort();
    void initialisation_data();
    void initialisation();
    void initialisationFailuresAndRecovery();
    void identityAndCallState();
    void listingAndDeletion();
    void directSubmissionParts_data();
    void directSubmissionParts();
    void nothingIsWrittenWithoutAPrompt_data();
    void nothingIsWrittenWithoutAPrompt();
    void onlyTheNetworksConfirmationCounts();
    void storeAndSend();
};

void ModemRoutinesTest::answersEndOnWholeLinesAfterThePace_data()
{
    QTest::addColumn<bool>("echo");
    QTest::newRow("echo on") << true;
    QTest::newRow("echo off") << false;
}

void ModemRoutinesTest::answersEndOnWholeLinesAfterThePace()
{
    QFETCH(bool, echo);
    ModemRig rig;
    rig.sim.setEcho(echo);
    rig.sim.setChunkedAnswers(60); // the answer comes in two halves
    QVERIFY(rig.openPort());
    const AtResult r = at(rig, "AT+CGMI", 100);
    QVERIFY(r.ok());
    QCOMPARE(r.text(), QString::fromLatin1(echo ? "AT+CGMI\r" : "") +
                           QStringLiteral("\r\nBroadtext Simulated Modems\r\n\r\nOK\r\n"));
    QCOMPARE(rig.sim.commands(), QStringList{QStringLiteral("AT+CGMI")});
    // The modem answers within a few milliseconds; the exchange still takes the prescribed 100 ms.
    const AtResult quick = at(rig, "AT", 100);
    QVERIFY(quick.ok());
    QVERIFY2(quick.elapsedMs >= 100, qPrintable(QString::number(quick.elapsedMs)));
    QVERIFY(rig.failures.empty());
}

void ModemRoutinesTest::errorsSilenceAndUnexpectedAnswers()
{
    ModemRig rig;
    rig.sim.setEcho(false);
    QVERIFY(rig.openPort());
    const AtResult error = at(rig, "AT+NOSUCH", 20, QStringLiteral("OK"), QStringLiteral("AT+NOSUCH"));
    QVERIFY(error.isError() && !error.ok());
    QCOMPARE(reported(rig), QStringList{failure(QStringLiteral("AT+NOSUCH"), LinkError::Refused)});

    // Expecting the prompt, getting OK: the four log lines.
    QVERIFY(!at(rig, "AT", 20, QStringLiteral("> ")).prompt);
    QVERIFY(rig.logFile().contains(QStringLiteral("Modem gives non expected response\nCommand: AT\r\nExpected "
                                                  "response: >\nReturned response: \nOK\n")));

    rig.sim.setSilent(true);
    const AtResult silent = at(rig, "AT", 20, QStringLiteral("OK"), QStringLiteral("AT"));
    QVERIFY(silent.timedOut && silent.empty());
    QCOMPARE(rig.failures.size(), 1); // silence is no refusal: not reported
    QVERIFY(rig.modem.portOpen());
}

void ModemRoutinesTest::unsolicitedLinesAreTakenOutOfAnswers()
{
    ModemRig rig;
    rig.sim.setEcho(false);
    QVERIFY(rig.openPort());
    rig.sim.injectIntoNextAnswer("\r\n+CMTI: \"SM\",4\r\n^RSSI: 17\r\n");
    rig.sim.injectAfterNextAnswer("\r\nRING\r\n\r\n+CLIP: \"+919812345678\",145,,,,0\r\n", 1);
    const AtResult r = at(rig, "AT+CGMI");
    QCOMPARE(r.text(), QStringLiteral("\r\nBroadtext Simulated Modems\r\n\r\nOK\r\n"));
    QTRY_COMPARE(rig.heard.size(), 4); // the ring came after the answer: heard while waiting for nothing
    QCOMPARE(rig.heard[0].kind, Unsolicited::NewMessage);
    QCOMPARE(rig.heard[0].index, 4);
    QCOMPARE(rig.heard[1].kind, Unsolicited::Other);
    QCOMPARE(rig.heard[2].kind, Unsolicited::Ring);
    QCOMPARE(rig.heard[3].number, QStringLiteral("+919812345678"));
}

void ModemRoutinesTest::aLateAnswerIsNotTakenByTheNextCommand()
{
    ModemRig rig;
    rig.sim.setEcho(false);
    QVERIFY(rig.openPort());
    rig.sim.sendUnsolicited("\r\nOK\r\n\r\n+CMS ERROR: 500\r\n"); // answers to something long gone
    QTest::qWait(50);
    rig.sim.setSilent(true);
    const AtResult r = at(rig, "AT");
    QVERIFY(r.timedOut && !r.ok() && !r.isError());
}

void ModemRoutinesTest::openingThePort()
{
    ModemRig rig;
    const MSComm::Error missing = rig.modem.OpenComPort(7, QStringLiteral("115200,N,8,1"));
    QCOMPARE(missing.number, MSComm::InvalidPortNumber);
    QVERIFY(rig.log.text().contains(
        QStringLiteral("**ERROR** Error occured while opening the COM Port. Error number: 8002")));
    QVERIFY(rig.openPort());
    QVERIFY(rig.log.text().contains(QStringLiteral("] : COM Port opened successfully.\r\n")));
    QVERIFY(rig.openPort()); // already open: said, nothing changed
    QCOMPARE(reported(rig), QStringList{failure({}, LinkError::AlreadyOpen)});
    QCOMPARE(rig.failures.at(0).number, 3);
    QVERIFY(rig.modem.portOpen());
}

void ModemRoutinesTest::initialisation_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<bool>("callerId");
    QTest::addColumn<QStringList>("commands");
    const QStringList sets = {"AT+CSCS=?", "AT+CSCS=\"GSM\""};
    QTest::newRow("flow 0, caller id") << "0" << true
                                       << QStringList{"ATE0"} + sets +
                                              QStringList{"AT+CLIP=1", "AT+CMGF=1", "AT+CSDH=1"};
    QTest::newRow("flow 1 (refused, goes on)")
        << "1" << true << QStringList{"AT+FLO=1", "ATE0"} + sets + QStringList{"AT+CLIP=1", "AT+CMGF=1", "AT+CSDH=1"};
    QTest::newRow("no caller id") << "0" << false << QStringList{"ATE0"} + sets + QStringList{"AT+CMGF=1", "AT+CSDH=1"};
    QTest::newRow("flow beyond any number")
        << "1e300" << false << QStringList{"ATE0"} + sets + QStringList{"AT+CMGF=1", "AT+CSDH=1"};
}

void ModemRoutinesTest::initialisation()
{
    QFETCH(QString, flow);
    QFETCH(bool, callerId);
    QFETCH(QStringList, commands);
    ModemRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(rig.modem.InitializeModem(flow, QStringLiteral("GSM"), callerId));
    QCOMPARE(rig.sim.commands(), commands);
    QVERIFY(rig.sim.rawInput().startsWith('\x1b')); // a text entry left pending is cancelled first
    QVERIFY(rig.failures.empty());                  // a refused AT+FLO says nothing
    QCOMPARE(rig.modem.callerIdRequested(), callerId);
    // The echo is still on when ATE0 goes out: its answer holds the echo and OK, and counts.
    QVERIFY(rig.logFile().contains(QStringLiteral("] : Response for ATE0 is 'ATE0\rOK'\n")));
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CSCS=\"GSM\" is 'OK'\r\n")));
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CMGF=1 is 'OK'\r\n")));
    if (flow == QLatin1String("1"))
        QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+FLO=1 is 'ERROR'\r\n")));
}

void ModemRoutinesTest::initialisationFailuresAndRecovery()
{
    ModemRig rig;
    rig.sim.setClipSupported(false);
    QVERIFY(rig.openPort());
    const Linked<> refused = rig.modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true);
    QCOMPARE(refused.error().reason, LinkError::Refused);
    QCOMPARE(refused.error().command, QStringLiteral("AT+CLIP=1"));
    QCOMPARE(reported(rig), QStringList{failure(QStringLiteral("AT+CLIP=1"), LinkError::Refused)});
    QVERIFY(!rig.modem.portOpen());
    QVERIFY(rig.commandsStartingWith(QStringLiteral("AT+CMGF")).isEmpty());

    // Silent: closed without a word. ERROR to everything: the error text once.
    rig.sim.setClipSupported(true);
    rig.failures.clear();
    rig.sim.setSilent(true);
    QVERIFY(rig.openPort());
    QCOMPARE(rig.modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true).error().reason,
             LinkError::TimedOut);
    QVERIFY(rig.failures.empty());
    rig.sim.setSilent(false);
    rig.sim.setErrorToEverything(true);
    QVERIFY(rig.openPort());
    QVERIFY(!rig.modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true));
    QCOMPARE(reported(rig), QStringList{failure(QStringLiteral("ATE0"), LinkError::Refused)});

    // The same modem, answering again: the next attempt connects. One that refuses AT+CSDH=1 lists without
    // lengths and is not asked again.
    rig.sim.setErrorToEverything(false);
    rig.sim.setCsdhSupported(false);
    QVERIFY(rig.connectModem());
    rig.sim.clearRecords();
    QVERIFY(rig.connectModem());
    QVERIFY(rig.commandsStartingWith(QStringLiteral("AT+CSDH")).isEmpty());
}

void ModemRoutinesTest::identityAndCallState()
{
    ModemRig rig;
    rig.sim.setIdentity(QStringLiteral("WAVECOM MODEM"), QStringLiteral("MULTIBAND  900E  1800"));
    QVERIFY(rig.connectModem());
    QCOMPARE(rig.modem.GetManufacturerId(), QStringLiteral("WAVECOM MODEM"));
    QCOMPARE(rig.modem.GetModelId(), QStringLiteral("MULTIBAND  900E  1800"));
    const CallStatusResult idle = rig.modem.GetCallStatus();
    QVERIFY(idle.noCall && !idle.callInProgress && idle.status.contains(QLatin1String("OK")));

    rig.sim.incomingCall(QStringLiteral("+919888812121"), 20, 5000, false);
    QTRY_VERIFY(rig.sim.callRinging());
    const CallStatusResult ringing = rig.modem.GetCallStatus();
    QCOMPARE(ringing.status, QStringLiteral("Incoming"));
    QVERIFY(ringing.callInProgress && !ringing.noCall);
}

void ModemRoutinesTest::listingAndDeletion()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    QVERIFY(rig.modem.ListSIMMessages(QStringLiteral("all"), 50).records.empty());
    QVERIFY(rig.logFile().contains(QStringLiteral("] : Response for AT+CMGL=\"ALL\" is '\nOK\n'\n")));

    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919888812121"), QStringLiteral("OK\r\nline 2"));
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("9888812121"), QStringLiteral("sent one"));
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+447700900123"), QStringLiteral("It's \"last\""));
    const ListResult l = rig.modem.ListSIMMessages(QStringLiteral("ALL"), 50);
    QVERIFY(l.listed);
    QCOMPARE(int(l.records.size()), 3);
    QCOMPARE(l.records[0].Text, QStringLiteral("OK\r\nline 2"));
    QCOMPARE(l.records[1].Status, QStringLiteral("STO SENT"));
    QCOMPARE(l.records[2].Number, QStringLiteral("+447700900123"));
    QCOMPARE(l.records[2].Text, QStringLiteral("It's \"last\""));

    rig.modem.DeleteSIMMessagesByStatus(QStringLiteral("sto sent"));
    QCOMPARE(rig.commandsStartingWith(QStringLiteral("AT+CMGD")), QStringList{QStringLiteral("AT+CMGD=2")});
    QCOMPARE(rig.sim.simMessages().size(), 2);

    // While a call rings nothing is listed.
    rig.sim.incomingCall(QStringLiteral("+919888812121"), 20, 5000, false);
    QTRY_VERIFY(rig.sim.callRinging());
    const ListResult during = rig.modem.ListSIMMessages(QStringLiteral("ALL"), 50);
    QVERIFY(during.callInProgress && during.records.empty());
    QCOMPARE(rig.commandsStartingWith(QStringLiteral("AT+CMGL")).size(), 3);
}

void ModemRoutinesTest::directSubmissionParts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("sent"); // where a part ends: tst_atparse (parts)
    QTest::newRow("161 characters: two parts")
        << QString(160, 'a') + QLatin1Char('b') << QStringList{QString(160, 'a'), QStringLiteral("b")};
    QTest::newRow("CR LF becomes LF") << QStringLiteral("line one\r\nline two") << QStringList{"line one\nline two"};
}

void ModemRoutinesTest::directSubmissionParts()
{
    QFETCH(QString, text);
    QFETCH(QStringList, sent);
    ModemRig rig;
    QVERIFY(rig.connectModem());
    const SubmitResult r = rig.modem.SendSMSDirect(QStringLiteral("+919888812121"), text);
    QVERIFY2(r.sent, qPrintable(r.response));
    QCOMPARE(r.partsSent, int(sent.size()));
    QStringList got;
    for (const auto& m : rig.sim.sent()) {
        QCOMPARE(m.number, QStringLiteral("+919888812121"));
        got << m.text;
    }
    QCOMPARE(got, sent);
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CMGS=\"+919888812121\" is '>'\r\n")));
}

void ModemRoutinesTest::nothingIsWrittenWithoutAPrompt_data()
{
    QTest::addColumn<bool>("answerOk");
    QTest::newRow("no answer") << false;
    QTest::newRow("OK instead of the prompt") << true;
}

void ModemRoutinesTest::nothingIsWrittenWithoutAPrompt()
{
    QFETCH(bool, answerOk);
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.withholdPrompts(2, answerOk);
    QVERIFY(!rig.modem.SendSMSDirect(QStringLiteral("9888812121"), QStringLiteral("secret text")).sent);
    QVERIFY(!rig.modem.StoreAndSendSMS(QStringLiteral("9888812121"), QStringLiteral("secret text")).sent);
    QVERIFY(!rig.sim.rawInput().contains("secret text"));
    QVERIFY(!rig.sim.rawInput().contains('\x1a'));
    QVERIFY(rig.sim.sent().isEmpty());
    // The modem still answers: the next message goes out.
    QVERIFY(rig.modem.SendSMSDirect(QStringLiteral("9888812121"), QStringLiteral("next")).sent);
}

void ModemRoutinesTest::onlyTheNetworksConfirmationCounts()
{
    ModemRig rig;
    rig.modem.finalAnswerTimeoutMs = 1500;
    QVERIFY(rig.connectModem());
    for (auto failure : {ModemSimulator::SendFailure::CmsError, ModemSimulator::SendFailure::BareOk,
                         ModemSimulator::SendFailure::Silence}) {
        rig.sim.failSends(failure, 2);
        const SubmitResult direct = rig.modem.SendSMSDirect(QStringLiteral("9888812121"), QStringLiteral("x"));
        QVERIFY(!direct.sent && direct.response.contains(QLatin1String("ERROR")));
        const SubmitResult stored = rig.modem.StoreAndSendSMS(QStringLiteral("9888812121"), QStringLiteral("x"));
        QVERIFY(!stored.sent);
        QTRY_VERIFY(rig.sim.simMessages().isEmpty()); // the stored copy is removed so retries do not fill the SIM
    }
    rig.sim.failSends(ModemSimulator::SendFailure::CmsError);
    QCOMPARE(rig.modem.SendSMSDirect(QStringLiteral("9888812121"), QStringLiteral("x")).errorNumber, 500);
    // A network that takes seconds to confirm still confirms.
    rig.modem.finalAnswerTimeoutMs = 60000;
    rig.sim.setNetworkDelayMs(3500);
    QVERIFY(rig.modem.SendSMSDirect(QStringLiteral("9888812121"), QStringLiteral("slow")).sent);
}

void ModemRoutinesTest::storeAndSend()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+1"), QStringLiteral("occupies index 1"));
    const QString text = QString(160, 'x') + QString(140, 'y');
    const SubmitResult r = rig.modem.StoreAndSendSMS(QStringLiteral("+919888812121"), text);
    QVERIFY(r.sent);
    QCOMPARE(r.response, QStringLiteral("OK"));
    QCOMPARE(rig.commandsStartingWith(QStringLiteral("AT+CMGW")).size(), 2);
    QCOMPARE(rig.commandsStartingWith(QStringLiteral("AT+CMSS")), (QStringList{"AT+CMSS=2", "AT+CMSS=2"}));
    QCOMPARE(rig.commandsStartingWith(QStringLiteral("AT+CMGD")), (QStringList{"AT+CMGD=2", "AT+CMGD=2"}));
    QCOMPARE(rig.sim.sent().size(), 2);
    QCOMPARE(rig.sim.sent()[1].text, QString(140, 'y'));
    QCOMPARE(rig.sim.simMessages().size(), 1); // only the received message is left

    // A full SIM refuses the store: nothing is sent.
    rig.sim.setSimCapacity(1);
    QVERIFY(!rig.modem.StoreAndSendSMS(QStringLiteral("9888812121"), QStringLiteral("x")).sent);
    QCOMPARE(rig.commandsStartingWith(QStringLiteral("AT+CMSS")).size(), 2);
    QCOMPARE(rig.sim.sent().size(), 2);
}

QTEST_GUILESS_MAIN(ModemRoutinesTest)
#include "tst_modem_routines.moc"
