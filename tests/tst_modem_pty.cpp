// The modem conversation where real time and a real port are the point: a slow serial line with answers in
// pieces, every delay factor with the window answering all the while, a message box left open while the
// modem works, and a modem unplugged and plugged in again. End to end on the simulator's pseudo-terminal;
// labelled slow (the rest of the conversation replays on the in-memory line in tst_modem_conversation).
#include "Conversation.h"

class ModemPtyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listingOnASlowLineWithOkInTextsLosesNothing();
    void everyDelayFactorDeliversAndReceives_data();
    void everyDelayFactorDeliversAndReceives();
    void messageBoxLeftOpenStopsNothing();
    void unpluggedModemIsConnectedAgainWhenItReturns();
};

void ModemPtyTest::listingOnASlowLineWithOkInTextsLosesNothing()
{
    EngineRig rig;
    rig.sim.setBaudRate(9600);
    rig.sim.setChunkedAnswers(5, 64);
    QStringList sent;
    for (int i = 0; i < 30; ++i) {
        const QString text = i % 3 == 0   ? QStringLiteral("OK see you at %1").arg(i)
                             : i % 3 == 1 ? QStringLiteral("Your BOOK no. %1 is ready\r\nOK?").arg(i)
                                          : QStringLiteral("TOKEN %1\r\nOK\r\nthanks").arg(i);
        rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+9198765432%1").arg(i % 10), text);
        sent << text;
    }
    QVERIFY(rig.connectModem());
    runTimers(rig);
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.simMessages().isEmpty(), 60000);
    QTRY_COMPARE(inboxCount(rig.db), 30);
    QStringList stored = inboxTexts(rig.db);
    stored.sort();
    sent.sort();
    QCOMPARE(stored, sent);
    rig.engine.Disconnect();
}

void ModemPtyTest::everyDelayFactorDeliversAndReceives_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("1") << 1.0;
    QTest::newRow("3") << 3.0;
    QTest::newRow("7 (slower modem)") << 7.0;
}

void ModemPtyTest::everyDelayFactorDeliversAndReceives()
{
    QFETCH(double, factor);
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.ModemDelayFactor = factor;
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("out"));
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), QStringLiteral("in"));
    runTimers(rig);
    // The window answers at once all the while: the user-interface thread never waits for the modem.
    QElapsedTimer sinceLastTurn;
    qint64 longestStall = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] { longestStall = std::max(longestStall, sinceLastTurn.restart()); });
    sinceLastTurn.start();
    turn.start(20);
    QTRY_COMPARE_WITH_TIMEOUT(sentItems(rig.db), 1, 40000);
    QTRY_COMPARE_WITH_TIMEOUT(inboxCount(rig.db), 1, 40000);
    QVERIFY2(longestStall < 400, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(longestStall)));
    rig.engine.Disconnect();
}

void ModemPtyTest::messageBoxLeftOpenStopsNothing()
{
    EngineRig rig;
    LingeringDialogs dialogs;
    rig.state.dialogs = &dialogs;
    SystemClock clock;
    rig.state.clock = &clock;
    rig.sim.setBaudRate(9600);
    for (int i = 0; i < 15; ++i)
        rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"),
                             QString(60, QLatin1Char('x')));
    QVERIFY(rig.connectModem());
    for (int i = 0; i < 3; ++i)
        rig.queue(QStringLiteral("9888812121"), QStringLiteral("out %1").arg(i));
    runTimers(rig);

    // A click while the modem is busy opens a box that stays open for 8 s; a call rings meanwhile.
    dialogs.openForMs = 8000;
    qint64 sentBefore = -1, inboxBefore = -1, callsBefore = -1;
    QDateTime opened;
    dialogs.whileOpen = [&] {
        // Checked as the box closes: work went on while it was open.
        QVERIFY(sentItems(rig.db) > sentBefore);
        QVERIFY(inboxCount(rig.db) > inboxBefore);
        QVERIFY(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")) > callsBefore);
        const QDateTime recorded = Database::FromDbTime(
            rig.db.scalar(QStringLiteral("SELECT callDateTime FROM MissedCallStatistics ORDER BY id LIMIT 1")));
        QVERIFY(recorded < opened.addSecs(6));
    };
    QTimer::singleShot(1500, [&] {
        sentBefore = sentItems(rig.db);
        inboxBefore = inboxCount(rig.db);
        callsBefore = rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics"));
        opened = QDateTime::currentDateTime();
        rig.sim.incomingCall(QStringLiteral("+919812345678"), 1, 500, true);
        dialogs.message(QStringLiteral("Please enter numeric value."));
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        !dialogs.shown.empty() && opened.isValid() && opened.secsTo(QDateTime::currentDateTime()) > 9, 30000);
    QCOMPARE(sentItems(rig.db), 3);
    rig.engine.Disconnect();
}

void ModemPtyTest::unpluggedModemIsConnectedAgainWhenItReturns()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    QSignalSpy changed(&rig.engine, &Engine::connectionChanged);
    rig.sim.hangUp();
    QTRY_VERIFY(!rig.state.IsConnected);
    QVERIFY(rig.log.text().contains(QLatin1String("stopped answering")));
    ModemSimulator again; // plugged in again, under the same COM number
    QString error;
    QVERIFY2(again.start(&error) && again.linkAs(rig.state.dataDir, EngineRig::Com, &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(rig.state.IsConnected && rig.state.ModemReady, 10000);
    QCOMPARE(changed.size(), 2); // lost, then back
    QVERIFY(rig.log.text().contains(QLatin1String("is back: connecting again.")));
    QVERIFY(rig.dialogs.shown.empty());
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("after the return"));
    rig.deliver();
    QCOMPARE(again.sent().size(), 1);
    rig.engine.Disconnect();
}

QTEST_GUILESS_MAIN(ModemPtyTest)
#include "tst_modem_pty.moc"
