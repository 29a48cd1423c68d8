// Initialisation, identity and call-state queries, SIM listing and deletion, and submission, through the
// real serial code against the simulator.
#include "ModemRig.h"

namespace {

QStringList startingWith(const QStringList& commands, const QString& prefix)
{
    QStringList out;
    for (const QString& c : commands)
        if (c.startsWith(prefix))
            out << c;
    return out;
}

} // namespace

class ModemRoutinesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initialisationSequence_data();
    void initialisationSequence();
    void modemRejectingCallerIdEndsDisconnected();
    void silentModemEndsDisconnectedWithoutMessage();
    void identityAndCallState();
    void listing();
    void listingIsSkippedWhileACallRings();
    void deleteByStatusDeletesExactlyTheListed();
    void directSubmissionParts_data();
    void directSubmissionParts();
    void slowNetworkStillConfirms();
    void storeAndSendUsesEachPartsOwnIndex();
    void storeAndSendFailures();
};

void ModemRoutinesTest::initialisationSequence_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<bool>("callerId");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("flow 0, caller id") << "0" << true
                                       << QStringList{"ATE0", "AT+CSCS=\"GSM\"", "AT+CLIP=1", "AT+CMGF=1"};
    QTest::newRow("flow 1 (refused, goes on)")
        << "1" << true << QStringList{"AT+FLO=1", "ATE0", "AT+CSCS=\"GSM\"", "AT+CLIP=1", "AT+CMGF=1"};
    QTest::newRow("no caller id") << "0" << false << QStringList{"ATE0", "AT+CSCS=\"GSM\"", "AT+CMGF=1"};
}

void ModemRoutinesTest::initialisationSequence()
{
    QFETCH(QString, flow);
    QFETCH(bool, callerId);
    QFETCH(QStringList, commands);
    ModemRig rig;
    QVERIFY(rig.openPort());
    rig.modem.InitializeModem(flow, QStringLiteral("GSM"), callerId);
    QCOMPARE(rig.sim.commands(), commands);
    QVERIFY(rig.state.ModemReady);
    QVERIFY(rig.state.IsConnected);
    QVERIFY(rig.dialogs.shown.empty()); // a refused AT+FLO says nothing
    // The echo is still on when ATE0 goes out: its answer holds the echo and OK, and counts.
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for ATE0 is 'ATE0\rOK'\r\n")));
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CSCS=\"GSM\" is 'OK'\r\n")));
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CMGF=1 is 'OK'\r\n")));
    if (flow == QLatin1String("1"))
        QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+FLO=1 is 'ERROR'\r\n")));
}

void ModemRoutinesTest::modemRejectingCallerIdEndsDisconnected()
{
    ModemRig rig;
    rig.sim.setClipSupported(false);
    QVERIFY(rig.openPort());
    rig.modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true);
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("Your modem does not support 'CallerID' feature.")});
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(!rig.state.ModemReady);
    QVERIFY(!rig.comm.PortOpen());
    QVERIFY(!rig.sim.commands().contains(QStringLiteral("AT+CMGF=1")));
}

void ModemRoutinesTest::silentModemEndsDisconnectedWithoutMessage()
{
    ModemRig rig;
    rig.sim.setSilent(true);
    QVERIFY(rig.openPort());
    rig.modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(!rig.state.IsConnected);
    QCOMPARE(rig.sim.commands(), QStringList{QStringLiteral("ATE0")});
}

void ModemRoutinesTest::identityAndCallState()
{
    ModemRig rig;
    rig.sim.setIdentity(QStringLiteral("WAVECOM MODEM"), QStringLiteral("MULTIBAND  900E  1800"));
    QVERIFY(rig.connectModem());
    QCOMPARE(rig.modem.GetManufacturerId(), QStringLiteral("WAVECOM MODEM"));
    QCOMPARE(rig.modem.GetModelId(), QStringLiteral("MULTIBAND  900E  1800"));
    QVERIFY(rig.modem.GetCallStatus().contains(QLatin1String("OK")));
    // An unsolicited line inside the answer does not disturb either.
    rig.sim.injectIntoNextAnswer("\r\n+CMTI: \"SM\",4\r\n");
    QCOMPARE(rig.modem.GetManufacturerId(), QStringLiteral("WAVECOM MODEM"));
    rig.sim.incomingCall(QStringLiteral("+919888812121"), 20, 5000, false);
    QTRY_VERIFY(rig.sim.callRinging());
    rig.sim.injectIntoNextAnswer("\r\nRING\r\n");
    QCOMPARE(rig.modem.GetCallStatus(), QStringLiteral("Incoming"));
}

void ModemRoutinesTest::listing()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.modem.ListSIMMessages(QStringLiteral("all"), 50);
    QCOMPARE(rig.modem.SIMMessageCount, qint16(0));
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CMGL=\"ALL\" is '\r\nOK\r\n'\r\n")));

    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919888812121"),
                         QStringLiteral("first\r\nline two"));
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("9888812121"), QStringLiteral("sent one"));
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+447700900123"), QStringLiteral("It's \"last\""));
    rig.modem.ListSIMMessages(QStringLiteral("ALL"), 50);
    QCOMPARE(rig.modem.SIMMessageCount, qint16(3));
    const auto& l = rig.modem.SIMMessageList;
    QCOMPARE(l[0].Index, QStringLiteral("1"));
    QCOMPARE(l[0].Status, QStringLiteral("REC UNREAD"));
    QCOMPARE(l[0].Text, QStringLiteral("first\r\nline two"));
    QCOMPARE(l[1].Status, QStringLiteral("STO SENT"));
    QCOMPARE(l[1].Number, QStringLiteral("9888812121"));
    QCOMPARE(l[2].Number, QStringLiteral("+447700900123"));
    QCOMPARE(l[2].Text, QStringLiteral("It's \"last\"\r\n"));
    QCOMPARE(startingWith(rig.sim.commands(), QStringLiteral("AT+CMGL")),
             (QStringList{"AT+CMGL=\"ALL\"", "AT+CMGL=\"ALL\""}));
    QVERIFY(!rig.state.ReceivingBusy);

    rig.modem.ListSIMMessages(QStringLiteral("rec read"), 50);
    QCOMPARE(rig.modem.SIMMessageCount, qint16(2)); // the first listing marked the unread one read
}

void ModemRoutinesTest::listingIsSkippedWhileACallRings()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919888812121"), QStringLiteral("x"));
    rig.sim.incomingCall(QStringLiteral("+919888812121"), 20, 5000, false);
    QTRY_VERIFY(rig.sim.callRinging());
    rig.modem.ListSIMMessages(QStringLiteral("ALL"), 50);
    QCOMPARE(rig.modem.SIMMessageCount, qint16(0));
    QVERIFY(startingWith(rig.sim.commands(), QStringLiteral("AT+CMGL")).isEmpty());
    QVERIFY(rig.state.CommandBusy); // holds the periodic work off until the call watch's next exchange
}

void ModemRoutinesTest::deleteByStatusDeletesExactlyTheListed()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("1"), QStringLiteral("a"));
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("2"), QStringLiteral("b"));
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("3"), QStringLiteral("c"));
    rig.modem.DeleteSIMMessagesByStatus(QStringLiteral("sto sent"));
    const QStringList c = rig.sim.commands();
    QCOMPARE(startingWith(c, QStringLiteral("AT+CMGL")), QStringList{QStringLiteral("AT+CMGL=\"STO SENT\"")});
    QCOMPARE(startingWith(c, QStringLiteral("AT+CMGD")), (QStringList{"AT+CMGD=1", "AT+CMGD=3"}));
    QCOMPARE(rig.sim.simMessages().size(), 1);
    QCOMPARE(rig.sim.simMessages().first().status, QStringLiteral("REC READ"));
}

void ModemRoutinesTest::directSubmissionParts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("160 characters: one part") << QString(160, 'a') << QStringList{QString(160, 'a')};
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
    const QString r = rig.modem.SendSMSDirect(QStringLiteral("+919888812121"), text);
    QVERIFY2(r.contains(QLatin1String("+CMGS:")) && !r.contains(QLatin1String("ERROR")), qPrintable(r));
    QStringList got;
    for (const auto& m : rig.sim.sent()) {
        QCOMPARE(m.number, QStringLiteral("+919888812121"));
        got << m.text;
    }
    QCOMPARE(got, sent);
    QVERIFY(!rig.state.SendingBusy);
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Response for AT+CMGS=\"+919888812121\" is '>'\r\n")));
}

void ModemRoutinesTest::slowNetworkStillConfirms()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(3500); // longer than the body exchange's own polling
    const QString r = rig.modem.SendSMSDirect(QStringLiteral("9888812121"), QStringLiteral("slow"));
    QVERIFY2(r.contains(QLatin1String("+CMGS:")), qPrintable(r));
    QCOMPARE(rig.sim.sent().size(), 1);
}

void ModemRoutinesTest::storeAndSendUsesEachPartsOwnIndex()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+1"), QStringLiteral("occupies index 1"));
    const QString text = QString(160, 'x') + QString(140, 'y');
    QCOMPARE(rig.modem.StoreAndSendSMS(QStringLiteral("+919888812121"), text), QStringLiteral("OK"));
    const QStringList c = rig.sim.commands();
    QCOMPARE(startingWith(c, QStringLiteral("AT+CMGW")).size(), 2);
    QCOMPARE(startingWith(c, QStringLiteral("AT+CMSS")), (QStringList{"AT+CMSS=2", "AT+CMSS=2"}));
    QCOMPARE(startingWith(c, QStringLiteral("AT+CMGD")), (QStringList{"AT+CMGD=2", "AT+CMGD=2"}));
    QCOMPARE(rig.sim.sent().size(), 2);
    QCOMPARE(rig.sim.sent()[0].text, QString(160, 'x'));
    QCOMPARE(rig.sim.sent()[1].text, QString(140, 'y'));
    QCOMPARE(rig.sim.simMessages().size(), 1); // only the received message is left
}

void ModemRoutinesTest::storeAndSendFailures()
{
    ModemRig rig;
    rig.modem.finalAnswerTimeoutMs = 1000;
    QVERIFY(rig.connectModem());
    // A full SIM refuses the store: nothing is sent.
    rig.sim.setSimCapacity(0);
    QVERIFY(
        rig.modem.StoreAndSendSMS(QStringLiteral("9888812121"), QStringLiteral("x")).contains(QLatin1String("ERROR")));
    QVERIFY(startingWith(rig.sim.commands(), QStringLiteral("AT+CMSS")).isEmpty());
    QVERIFY(rig.sim.sent().isEmpty());
    // The send from the SIM fails: the stored copy is removed so that retries do not fill the SIM.
    rig.sim.setSimCapacity(30);
    rig.sim.failSends(ModemSimulator::SendFailure::CmsError);
    QVERIFY(
        rig.modem.StoreAndSendSMS(QStringLiteral("9888812121"), QStringLiteral("x")).contains(QLatin1String("ERROR")));
    QVERIFY(rig.sim.simMessages().isEmpty());
    QVERIFY(rig.sim.sent().isEmpty());
    QVERIFY(!rig.state.SendingBusy);
}

QTEST_GUILESS_MAIN(ModemRoutinesTest)
#include "tst_modem_routines.moc"
