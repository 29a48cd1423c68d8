// The modem conversation where real time and a real port are the point: a slow serial line with answers in
// pieces, every delay factor with the window answering all the while, a message box left open while the
// modem works, a modem unplugged and plugged in again (taken back only when it is the same modem), a modem
// that failed its initialisation tried again, and a port lost in the middle of an exchange. On the
// simulator's pseudo-terminal; labelled slow (the rest of the conversation replays on the in-memory line in
// tst_modem_conversation).
#include "Conversation.h"
#include "ModemRig.h"

#include <thread>

class ModemPtyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listingOnASlowLineWithOkInTextsLosesNothing();
    void everyDelayFactorDeliversAndReceives_data();
    void everyDelayFactorDeliversAndReceives();
    void messageBoxLeftOpenStopsNothing();
    void unpluggedModemIsConnectedAgainOnlyWhenItIsTheSame_data();
    void unpluggedModemIsConnectedAgainOnlyWhenItIsTheSame();
    void failedInitialisationIsTriedAgainUntilDisconnect_data();
    void failedInitialisationIsTriedAgainUntilDisconnect();
    void hangUpDuringAnExchange();
};

void ModemPtyTest::listingOnASlowLineWithOkInTextsLosesNothing()
{
    EngineRig rig(EngineRig::Line::Terminal);
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
    EngineRig rig(EngineRig::Line::Terminal);
    QVERIFY(rig.connectModem());
    rig.engine.setDelayFactor(factor);
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
    EngineRig rig(EngineRig::Line::Terminal);
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

void ModemPtyTest::unpluggedModemIsConnectedAgainOnlyWhenItIsTheSame_data()
{
    QTest::addColumn<bool>("sameModem");
    QTest::addColumn<bool>("sameSim");
    QTest::newRow("the same modem and SIM") << true << true;
    QTest::newRow("another modem") << false << false;
    QTest::newRow("the same modem with another SIM") << true << false;
}

void ModemPtyTest::unpluggedModemIsConnectedAgainOnlyWhenItIsTheSame()
{
    QFETCH(bool, sameModem);
    QFETCH(bool, sameSim);
    EngineRig rig(EngineRig::Line::Terminal);
    rig.engine.setReconnectPollMs(200);
    QVERIFY(rig.connectModem());
    QSignalSpy changed(&rig.engine, &Engine::connectionChanged);
    const ModemSimulator::Serials first = rig.sim.serials();
    rig.sim.hangUp();
    QTRY_VERIFY(!rig.engine.status().connected);
    QVERIFY(rig.log.text().contains(QLatin1String("stopped answering")));

    ModemSimulator again; // a device under the same COM number: the modem plugged in again, or another one
    ModemSimulator::Serials serials = again.serials();
    QVERIFY(serials.imei != first.imei && serials.iccid != first.iccid);
    if (sameModem)
        serials.imei = first.imei;
    if (sameSim)
        serials.iccid = first.iccid;
    again.setSerials(serials);
    for (int i = 0; i < 6; ++i)
        again.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), QStringLiteral("its own"));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("after the return"));
    runTimers(rig);
    QString error;
    QVERIFY2(again.start(&error) && again.linkAs(rig.state.dataDir, EngineRig::Com, &error), qPrintable(error));
    QVERIFY(rig.dialogs.shown.empty());

    if (sameModem && sameSim) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine.status().ready, 10000);
        QCOMPARE(changed.size(), 2); // lost, then back
        QVERIFY(rig.log.text().contains(QLatin1String("is back: connecting again.")));
        QTRY_COMPARE_WITH_TIMEOUT(again.sent().size(), 1, 10000);
        QVERIFY(rig.dialogs.notices().isEmpty());
        rig.engine.Disconnect();
        return;
    }
    const QString reported = QStringLiteral("A different modem is now on COM Port %1").arg(EngineRig::Com);
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.notices().size(), 1, 10000);
    QVERIFY(rig.dialogs.notices().first().startsWith(reported));
    QVERIFY(rig.log.text().contains(reported));
    QTest::qWait(1500); // the watch goes on, and leaves the other modem alone
    QCOMPARE(rig.dialogs.notices().size(), 1);
    QVERIFY(!rig.engine.status().connected && !rig.engine.portInUse());
    QCOMPARE(again.simMessages().size(), 6);
    QVERIFY(again.sent().isEmpty());
    QCOMPARE(inboxCount(rig.db), 0);
    QVERIFY(rig.dialogs.messages().isEmpty());

    // The user connects: now it is the modem in use.
    QVERIFY(rig.connectAndWait());
    QTRY_COMPARE_WITH_TIMEOUT(again.sent().size(), 1, 10000);
    rig.engine.Disconnect();
}

void ModemPtyTest::failedInitialisationIsTriedAgainUntilDisconnect_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<bool>("afterUnplug");
    QTest::addColumn<int>("boxes");
    QTest::newRow("ERROR to ATE0 at the user's Connect") << false << false << 1;
    QTest::newRow("silent at the user's Connect") << true << false << 0;
    QTest::newRow("ERROR to ATE0 after an unplug") << false << true << 0;
}

void ModemPtyTest::failedInitialisationIsTriedAgainUntilDisconnect()
{
    QFETCH(bool, silent);
    QFETCH(bool, afterUnplug);
    QFETCH(int, boxes);
    EngineRig rig(EngineRig::Line::Terminal);
    rig.engine.setReconnectPollMs(200);
    rig.engine.initRetryMs = {200, 1200};
    QSignalSpy status(&rig.engine, &Engine::statusChanged);
    ModemSimulator returned;
    ModemSimulator* modem = &rig.sim;
    auto refuse = [&](ModemSimulator& m) {
        if (silent)
            m.setSilent(true);
        else
            m.setErrorToEverything(true);
    };
    if (afterUnplug) {
        QVERIFY(rig.connectModem());
        rig.sim.hangUp();
        QTRY_VERIFY(!rig.engine.status().connected);
        returned.setSerials(rig.sim.serials());
        refuse(returned);
        QString error;
        QVERIFY2(returned.start(&error) && returned.linkAs(rig.state.dataDir, EngineRig::Com, &error),
                 qPrintable(error));
        modem = &returned;
    } else {
        refuse(rig.sim);
        QVERIFY(!rig.connectModem());
    }
    auto tries = [&] { return modem->commands().count(QStringLiteral("ATE0")); };
    QTRY_COMPARE_WITH_TIMEOUT(tries(), 1, 10000);
    QTRY_VERIFY(!status.isEmpty() && status.last().first().toString().contains(QLatin1String("trying again")));
    QVERIFY(rig.log.text().contains(QLatin1String("tries again")));
    // The first wait is short, the next one longer.
    QTRY_COMPARE_WITH_TIMEOUT(tries(), 2, 3000);
    QTest::qWait(700);
    QCOMPARE(tries(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(tries(), 3, 5000);
    QCOMPARE(rig.dialogs.messages().size(), boxes);
    QCOMPARE(rig.dialogs.notices().size(), 1 - boxes); // told once, whichever way
    QVERIFY(!rig.engine.status().connected);

    // Once it answers, the next try connects and the status bar has nothing more to say.
    modem->setSilent(false);
    modem->setErrorToEverything(false);
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.status().ready, 10000);
    QVERIFY(status.last().first().toString().isEmpty());

    // After a Disconnect nothing is tried any more.
    refuse(*modem);
    rig.engine.Disconnect();
    rig.engine.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.portInUse() && !status.last().first().toString().isEmpty(), 10000);
    rig.engine.Disconnect();
    const qsizetype before = tries();
    QVERIFY(status.last().first().toString().isEmpty());
    QTest::qWait(1600);
    QCOMPARE(tries(), before);
    // The user's own Connect: a box when the modem answered ERROR, a notice when it said nothing.
    QCOMPARE(rig.dialogs.messages().size(), boxes + (silent ? 0 : 1));
    QCOMPARE(rig.dialogs.notices().size(), 1 - boxes + (silent ? 1 : 0));
}

// The modem routines alone: a device that goes away in real time while the routine waits for its answer.
void ModemPtyTest::hangUpDuringAnExchange()
{
    ModemRig rig(ModemRig::Line::Terminal);
    QVERIFY(rig.connectModem());
    rig.sim.setSilent(true);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rig.sim.hangUp();
    });
    QElapsedTimer t;
    t.start();
    const AtResult r = rig.modem.ExecuteATCommand("AT\r", 20, QStringLiteral("OK"), 500, {});
    unplug.join();
    QVERIFY(r.portClosed && !r.ok());
    QVERIFY(t.elapsed() < 2000); // it stops waiting once the device is gone
    QCOMPARE(rig.portsLost, 1);
    QTRY_VERIFY(!rig.modem.portOpen());
    QTest::qWait(100);
    QCOMPARE(rig.portsLost, 1); // said once, no storm of errors
}

QTEST_GUILESS_MAIN(ModemPtyTest)
#include "tst_modem_pty.moc"
