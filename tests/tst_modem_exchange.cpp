// The command exchange, port opening and closing, through the real serial code against the simulator.
#include "ModemRig.h"

class ModemExchangeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answerWithinFirstSleepSucceedsAfterOneRead_data();
    void answerWithinFirstSleepSucceedsAfterOneRead();
    void threeErrorAnswersShowTheErrorTextOnceAndFail();
    void silentModemFailsQuietlyAfterTheEmptyPolls();
    void answerSplitAcrossReadsIsCollected();
    void lateAnswerOnThePollAfterTheLastEmptyOneSucceeds();
    void unexpectedAnswersAreLogged();
    void closedPortAsksToConnect();
    void comNumberWithoutDeviceAsksForSettings();
    void portAlreadyOpenIsReported();
    void hangUpDuringAnExchangeLeavesTheProgramDisconnected();
};

void ModemExchangeTest::answerWithinFirstSleepSucceedsAfterOneRead_data()
{
    QTest::addColumn<bool>("echo");
    QTest::newRow("echo on") << true;
    QTest::newRow("echo off") << false;
}

void ModemExchangeTest::answerWithinFirstSleepSucceedsAfterOneRead()
{
    QFETCH(bool, echo);
    ModemRig rig;
    rig.sim.setEcho(echo);
    QVERIFY(rig.openPort());
    const QString r = rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 50, QStringLiteral("OK"), false, true, 5, {});
    QVERIFY(rig.state.LastCommandOK);
    QCOMPARE(r, echo ? QStringLiteral("AT\r\r\nOK\r\n") : QStringLiteral("\r\nOK\r\n"));
    QCOMPARE(rig.modem.sleptMs, 50); // one sleep, one read
    QCOMPARE(rig.sim.commands(), QStringList{QStringLiteral("AT")});
    QVERIFY(!rig.state.CommandBusy);
    QVERIFY(rig.dialogs.shown.empty());
}

void ModemExchangeTest::threeErrorAnswersShowTheErrorTextOnceAndFail()
{
    ModemRig rig;
    QVERIFY(rig.openPort());
    const QString r =
        rig.modem.ExecuteATCommand(QStringLiteral("AT+NOSUCH\r"), 20, QStringLiteral("OK"), false, true, 5,
                                   QStringLiteral("Error occured while executing this command: AT+NOSUCH"));
    QVERIFY(r.contains(QLatin1String("ERROR")));
    QVERIFY(!rig.state.LastCommandOK);
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral("Error occured while executing this command: AT+NOSUCH")});
    QCOMPARE(rig.modem.sleptMs, 4 * 20); // the first read, then three further polls
    QCOMPARE(rig.sim.commands().size(), 1);
}

void ModemExchangeTest::silentModemFailsQuietlyAfterTheEmptyPolls()
{
    ModemRig rig;
    rig.sim.setSilent(true);
    QVERIFY(rig.openPort());
    const QString r = rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 20, QStringLiteral("OK"), false, true, 5,
                                                 QStringLiteral("never shown"));
    QVERIFY(r.isEmpty());
    QVERIFY(!rig.state.LastCommandOK);
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(rig.modem.sleptMs, (5 + 2) * 20); // first read plus maxEmptyPolls + 1 empty polls
    QVERIFY(rig.comm.PortOpen());
    QVERIFY(rig.state.IsConnected);
}

void ModemExchangeTest::answerSplitAcrossReadsIsCollected()
{
    ModemRig rig;
    rig.sim.setEcho(false);
    rig.sim.setChunkedAnswers(70);
    QVERIFY(rig.openPort());
    const QString r =
        rig.modem.ExecuteATCommand(QStringLiteral("AT+CGMI\r"), 50, QStringLiteral("OK"), false, true, 5, {});
    QVERIFY(rig.state.LastCommandOK);
    QCOMPARE(r, QStringLiteral("\r\nBroadtext Simulated Modems\r\n\r\nOK\r\n"));
    QVERIFY(rig.modem.sleptMs > 50); // the first read found only half
}

void ModemExchangeTest::lateAnswerOnThePollAfterTheLastEmptyOneSucceeds()
{
    // Reads at 100, 200, 300 ms find nothing (the 200 and 300 ms ones are the two allowed empty polls);
    // the answer comes at 350 ms and is read at 400 ms.
    ModemRig rig;
    rig.sim.setEcho(false);
    QVERIFY(rig.openPort());
    rig.sim.setAnswerDelayMs(350);
    const QString r = rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 100, QStringLiteral("OK"), false, true, 2, {});
    QCOMPARE(r, QStringLiteral("\r\nOK\r\n"));
    QCOMPARE(rig.modem.sleptMs, 400);
    QVERIFY(rig.state.LastCommandOK);
}

void ModemExchangeTest::unexpectedAnswersAreLogged()
{
    ModemRig rig;
    rig.sim.setEcho(false);
    QVERIFY(rig.openPort());
    rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 20, QStringLiteral("> "), false, true, 5, {});
    QVERIFY(!rig.state.LastCommandOK);
    QVERIFY(rig.log.text().contains(QStringLiteral("Modem gives non expected response\r\nCommand: AT\r\r\nExpected "
                                                   "response: >\r\nReturned response: \r\nOK\r\n")));
}

void ModemExchangeTest::closedPortAsksToConnect()
{
    ModemRig rig;
    const QString r = rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 20, QStringLiteral("OK"), false, true, 5, {});
    QVERIFY(r.isEmpty());
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(!rig.state.CommandBusy);
    QCOMPARE(
        rig.dialogs.messages(),
        QStringList{QStringLiteral("Modem is currently not connected to the application. Please click on 'Connect' "
                                   "button before executing any commands.")});
    QVERIFY(rig.sim.commands().isEmpty());
}

void ModemExchangeTest::comNumberWithoutDeviceAsksForSettings()
{
    ModemRig rig;
    int settingsOpened = 0;
    rig.modem.openSettings = [&] { ++settingsOpened; };
    rig.dialogs.answers = {true};
    rig.modem.ConfigureComPort(7, QStringLiteral("115200,N,8,1"));
    rig.modem.OpenComPort();
    QVERIFY(!rig.state.IsConnected);
    QCOMPARE(rig.dialogs.questions(),
             QStringList{QStringLiteral("No modem found on COM Port 7\r\nDo you wish to enter the "
                                        "correct COM port settings for the attached modem?")});
    QCOMPARE(settingsOpened, 1);
    QVERIFY(rig.log.text().contains(
        QStringLiteral("**ERROR** Error occured while opening the COM Port. Error number: 8002")));
}

void ModemExchangeTest::portAlreadyOpenIsReported()
{
    ModemRig rig;
    QVERIFY(rig.openPort());
    rig.modem.ConfigureComPort(ModemRig::Com, QStringLiteral("115200,N,8,1"));
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral("Comm Port : 3 already open or some other program is using it.")});
    QVERIFY(rig.comm.PortOpen());
}

void ModemExchangeTest::hangUpDuringAnExchangeLeavesTheProgramDisconnected()
{
    ModemRig rig;
    QVERIFY(rig.connectModem());
    int lost = 0;
    connect(&rig.modem, &Modem::connectionLost, [&] { ++lost; });
    rig.sim.setSilent(true);
    QTimer::singleShot(30, [&] { rig.sim.hangUp(); });
    QElapsedTimer t;
    t.start();
    const QString r = rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 20, QStringLiteral("OK"), false, true, 50, {});
    QVERIFY(r.isEmpty());
    QVERIFY(t.elapsed() < 500); // it stops polling once the device is gone
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(!rig.state.ModemReady);
    QVERIFY(!rig.state.LastCommandOK);
    QCOMPARE(lost, 1);
    QTRY_VERIFY(!rig.comm.PortOpen());
    QVERIFY(rig.log.text().contains(QStringLiteral("stopped answering")));
    // Responsive afterwards: the event loop is not flooded, and a new command asks to connect.
    QTest::qWait(100);
    QCOMPARE(lost, 1);
    rig.modem.ExecuteATCommand(QStringLiteral("AT\r"), 20, QStringLiteral("OK"), false, true, 5, {});
    QVERIFY(rig.dialogs.messages().last().startsWith(QStringLiteral("Modem is currently not connected")));
}

QTEST_GUILESS_MAIN(ModemExchangeTest)
#include "tst_modem_exchange.moc"
