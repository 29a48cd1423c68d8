// Start-up and the main window: the database at first start, the screen-size question, the splash, the
// menus and toolbar, the running settings, the home page counters, the status bar (progress and
// notifications) and the tray icon, Connect, Disconnect and Exit.
#include "TestRig.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "app/Notifications.h"
#include "app/frmSplash.h"
#include "settings/Preferences.h"
#include "store/SettingsRows.h"
#include "tools/ModemSimulator.h"
#include "views/frm_HomePage.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>

namespace {

struct AppRig : TestRig {
    Broadtext program{state};
    AppRig() : TestRig(false) { program.engine.timerRefreshHomePage.setEnabled(false); }
    MDI_Frmmanage* main() { return program.mainWindow.get(); }
    QString label(const char* name) { return main()->homePage()->findChild<QLabel*>(QLatin1String(name))->text(); }
    void saveModemSetting(int com)
    {
        WriteModemSetting(program.db,
                          {com, QStringLiteral("115200"), QStringLiteral("n"), QStringLiteral("8"), QStringLiteral("1"),
                           QStringLiteral("0"), QStringLiteral("GSM"), -1, QStringLiteral("1")});
    }
};

const QString Question800 = QStringLiteral(
    "Required Screen Resolution: 1024 x 768\r\nCurrent Screen Resolution: 800 x 600\r\n\r\nThis application requires "
    "1024 x 768 screen resolution. Application may not be displyed properly on your screen.\r\n\r\n It is highly "
    "recommanded that you should increase the screen resolution to 1024 x 768.\r\n\r\n Do you want to continue any "
    "way?");

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartCreatesTheDatabaseAndAsksForSettings();
    void screenSizeQuestion_data();
    void screenSizeQuestion();
    void unusableDatabaseStillShowsTheWindows();
    void menusAndToolbar();
    void homePageCountsAtLoadAndOnEachTick();
    void statusBarTellsDeliveryAndReceptionProgress();
    void newMessagesAndCallsAreNotified();
    void connectDisconnectAndButtonOne();
    void comNumberWithoutDeviceStaysDisconnected();
    void exitButtonEndsTheProgram();
    void splashClosesOnClickOrAfterThreeSeconds();
};

void StartupTest::firstStartCreatesTheDatabaseAndAsksForSettings()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    QVERIFY(rig.state.DatabaseConnected);
    QVERIFY(QFile::exists(DatabaseFilePath(rig.state)));
    QVERIFY(rig.dialogs.questions().isEmpty());
    rig.program.showMainWindow();
    QVERIFY(rig.main()->isVisible());
    QCOMPARE(rig.main()->windowTitle(), QStringLiteral("Velmora - Broadtext"));
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral("Please set all the settings before connecting with modem.")});
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(rig.state.ActivityLogOn);
    QCOMPARE(rig.state.MessagePageSize, 100);
    QVERIFY(rig.program.log.text().contains(QLatin1String("Initializing AutoReply On MissedCall Properties.")));
    QVERIFY(rig.main()->homePage()->isVisible());
    QCOMPARE(rig.label("lblToday"), QLocale::system().toString(rig.clock.now().date(), QStringLiteral("dd-MMMM-yyyy")));
    QVERIFY(!rig.main()->homePage()->findChild<QLabel*>(QStringLiteral("lblStart"))->isEnabled());
    QVERIFY(rig.main()->homePage()->findChild<QLabel*>(QStringLiteral("lblStop"))->isEnabled());
}

void StartupTest::screenSizeQuestion_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("800 x 600, No ends") << QSize(800, 600) << true << false << false;
    QTest::newRow("800 x 600, Yes goes on") << QSize(800, 600) << true << true << true;
    QTest::newRow("1024 x 600") << QSize(1024, 600) << false << false << true;
    QTest::newRow("1280 x 720") << QSize(1280, 720) << false << false << true;
}

void StartupTest::screenSizeQuestion()
{
    QFETCH(QSize, screen);
    QFETCH(bool, asked);
    QFETCH(bool, answer);
    QFETCH(bool, goesOn);
    AppRig rig;
    rig.dialogs.answers = {answer};
    QCOMPARE(rig.program.Main(screen), goesOn);
    QCOMPARE(rig.dialogs.questions(), asked ? QStringList{Question800} : QStringList{});
    QCOMPARE(bool(rig.main()), goesOn);
}

void StartupTest::unusableDatabaseStillShowsTheWindows()
{
    AppRig rig;
    QFile blocker(rig.dir.path() + QStringLiteral("/blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    rig.state.dataDir = blocker.fileName() + QStringLiteral("/broadtext");
    QVERIFY(rig.program.Main(QSize(800, 600)));
    QVERIFY(!rig.state.DatabaseConnected);
    QVERIFY(rig.dialogs.questions().isEmpty()); // no screen check without a database
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY(rig.dialogs.messages().first().startsWith(
        QLatin1String("Following error occur while connecting with database")));
    rig.program.showMainWindow();
    QVERIFY(rig.main()->isVisible());
    QCOMPARE(rig.dialogs.messages().size(), 2); // the load's error handler
    QVERIFY(!rig.state.IsConnected);
}

void StartupTest::menusAndToolbar()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    rig.program.showMainWindow();
    QStringList top;
    for (QAction* a : rig.main()->menuBar()->actions())
        top << a->text();
    QCOMPARE(top,
             (QStringList{"Settings", "Modem Connect / Disconnect", "SMS Messages", "Broadtext", "About", "Exit"}));
    const std::pair<const char*, const char*> items[] = {{"modemsetting", "System Settings"},
                                                         {"mnuAutoreplyOnMissedCall", "AutoReply SMS on Missed Call"},
                                                         {"manageSim", "Low-Level SIM Access"},
                                                         {"start", "Connect"},
                                                         {"mnustop", "Disconnect"},
                                                         {"mnuSendIndividualSMS", "Send Individual SMS"},
                                                         {"mnuSendBroadtext", "Send Broadtext"},
                                                         {"mnuViewMessageBox", "View Message Box"},
                                                         {"mnuBroadtext", "Broadtext"},
                                                         {"mnuAbout", "About"},
                                                         {"Exit", "Exit"}};
    for (const auto& [name, caption] : items) {
        QAction* a = rig.main()->menuItem(QLatin1String(name));
        QVERIFY2(a, name);
        QCOMPARE(a->text(), QLatin1String(caption));
    }
    QVERIFY(rig.main()->menuItem(QStringLiteral("start"))->isEnabled());
    QVERIFY(!rig.main()->menuItem(QStringLiteral("mnustop"))->isEnabled());
    const std::pair<const char*, const char*> buttons[] = {{"Connect", "Connect to Modem."},
                                                           {"Send Broadtext", ""},
                                                           {"Send Quick SMS", ""},
                                                           {"Message Box", "Message Box"},
                                                           {"Exit", ""}};
    for (int i = 1; i <= 5; ++i) {
        QAction* b = rig.main()->toolbarButton(i);
        QVERIFY(b);
        QCOMPARE(b->text(), QLatin1String(buttons[i - 1].first));
        if (*buttons[i - 1].second)
            QCOMPARE(b->toolTip(), QLatin1String(buttons[i - 1].second));
    }
    QCOMPARE(rig.main()->toolbarButton(1)->property("image").toInt(), 2);
    // In every style: text under icons of one size.
    const QString style = QApplication::style()->name();
    for (const QString& key : QStyleFactory::keys()) {
        QApplication::setStyle(key);
        for (QToolButton* b :
             rig.main()->findChild<QToolBar*>(QStringLiteral("Toolbar1"))->findChildren<QToolButton*>()) {
            if (!b->defaultAction())
                continue; // the extension button
            QVERIFY2(b->toolButtonStyle() == Qt::ToolButtonTextUnderIcon, qPrintable(key));
            QCOMPARE(b->iconSize(), QSize(32, 32));
            QCOMPARE(b->icon().actualSize(QSize(32, 32)), QSize(32, 32));
            QVERIFY(b->sizeHint().height() >= 32 + b->fontMetrics().height());
        }
    }
    QApplication::setStyle(style);

    rig.main()->menuItem(QStringLiteral("mnuAbout"))->trigger();
    QWidget* about = rig.main()->findChild<QWidget*>(QStringLiteral("frm_About"));
    QVERIFY(about && about->isVisible());
    QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblTitle"))->text(), QStringLiteral("Broadtext"));
    QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version 1.0.0"));
}

void StartupTest::homePageCountsAtLoadAndOnEachTick()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    for (int i = 0; i < 3; ++i)
        rig.program.db.execute(
            QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+1', 'm')"));
    rig.program.db.execute(
        QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, Message, IsRead) VALUES ('+1', 'm', -1)"));
    for (int i = 0; i < 2; ++i)
        rig.program.db.execute(
            QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES ('1', 'm')"));
    rig.program.showMainWindow();
    QCOMPARE(rig.label("lblInBox"), QStringLiteral("Inbox (3)"));
    QCOMPARE(rig.label("lblOutBox"), QStringLiteral("Outbox (2)"));
    QCOMPARE(rig.label("LblMissCall"), QStringLiteral("Missed Calls"));

    rig.program.db.execute(QStringLiteral("INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) "
                                          "VALUES ('+1', ?, -1)"),
                           {Database::DbTime(QDateTime(rig.clock.now().date(), QTime(0, 0, 1)))});
    rig.program.db.execute(QStringLiteral("UPDATE Message_InBox SET IsRead = -1"));
    rig.program.engine.timerRefreshHomePage_Timer();
    QCOMPARE(rig.label("lblInBox"), QStringLiteral("Inbox (0)"));
    QCOMPARE(rig.label("LblMissCall"), QStringLiteral("Missed Calls (1)"));
}

void StartupTest::statusBarTellsDeliveryAndReceptionProgress()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    rig.program.showMainWindow();
    Engine& engine = rig.program.engine;
    auto* progress = rig.main()->statusBar()->findChild<QLabel*>(QStringLiteral("lblProgress"));
    QVERIFY(progress && progress->text().isEmpty());
    // 250 messages, 3 s each at first; the estimate follows the last ten, so a faster pace soon shows.
    int handled = 0, failed = 0;
    const auto send = [&](int messages, qint64 msEach, int failures) {
        for (int i = 0; i < messages; ++i) {
            rig.clock.advance(msEach);
            failed += i < failures ? 1 : 0;
            Q_EMIT engine.deliveryProgress(++handled, 250, failed, false);
        }
        return progress->text();
    };
    QCOMPARE(send(1, 3000, 0), "Sending 2 of 250");
    QCOMPARE(send(1, 3000, 0), "Sending 3 of 250, about 12 min left");
    QCOMPARE(send(9, 3000, 1), "Sending 12 of 250, about 12 min left, 1 failed");
    QCOMPARE(send(10, 1000, 1), "Sending 22 of 250, about 4 min left, 2 failed");
    QCOMPARE(send(219, 1000, 0), "Sending 241 of 250, less than a minute left, 2 failed");
    Q_EMIT engine.receptionProgress(30, false);
    QCOMPARE(progress->text(), "Sending 241 of 250, less than a minute left, 2 failed; Receiving 30 messages");
    Q_EMIT engine.deliveryProgress(250, 250, 2, true);
    QCOMPARE(progress->text(), "Receiving 30 messages");
    Q_EMIT engine.receptionProgress(0, true);
    QCOMPARE(progress->text(), QString());

    // A new run measures its own pace; hours when it is long.
    rig.clock.advance(60000);
    Q_EMIT engine.deliveryProgress(1, 5000, 0, false);
    rig.clock.advance(2000);
    Q_EMIT engine.deliveryProgress(2, 5000, 0, false);
    QCOMPARE(progress->text(), "Sending 3 of 5000, about 2 h 47 min left");
}

void StartupTest::newMessagesAndCallsAreNotified()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    rig.program.showMainWindow();
    Engine& engine = rig.program.engine;
    Notifications& notifications = rig.main()->notifications();
    QStatusBar* bar = rig.main()->statusBar();

    // No system tray here: the status bar says it, with the first words only.
    Q_EMIT engine.messageReceived("+447700900123", "Meeting moved to Tuesday at ten, please confirm\r\nand bring the "
                                                   "signed contract with you");
    QCOMPARE(bar->currentMessage(),
             QStringLiteral("New message from +447700900123: Meeting moved to Tuesday at ten, please confirm and "
                            "bring") +
                 QChar(0x2026));
    Q_EMIT engine.callRecorded("+919888812121");
    QCOMPARE(bar->currentMessage(), "Missed call from +919888812121");
    QVERIFY(!notifications.trayIcon());

    // Switched off in the settings: nothing more is said.
    bar->clearMessage();
    SetNotificationsEnabled(rig.state, false);
    Q_EMIT engine.messageReceived("+447700900123", "Hello");
    QVERIFY(bar->currentMessage().isEmpty());

    // With a tray, its icon counts what is unread and missed today, and notifications go there.
    SetNotificationsEnabled(rig.state, true);
    notifications.trayAvailable = [] { return true; };
    rig.program.db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+1', 'm')"));
    engine.timerRefreshHomePage_Timer();
    QVERIFY(notifications.trayIcon());
    QCOMPARE(notifications.trayIcon()->toolTip(), "Broadtext\n1 unread message\n0 missed calls today");
    Q_EMIT engine.messageReceived("+447700900123", "Hello");
    QVERIFY(bar->currentMessage().isEmpty());
}

void StartupTest::connectDisconnectAndButtonOne()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    ModemSimulator sim;
    QVERIFY(sim.start() && sim.linkAs(rig.state.dataDir, 3));
    rig.saveModemSetting(3);
    rig.program.showMainWindow(); // connects by itself
    auto* main = rig.main();
    QTRY_VERIFY(rig.state.IsConnected && rig.state.ModemReady);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(!main->menuItem(QStringLiteral("start"))->isEnabled());
    QVERIFY(main->menuItem(QStringLiteral("mnustop"))->isEnabled());
    QCOMPARE(main->toolbarButton(1)->text(), QStringLiteral("Disconnect"));
    QCOMPARE(main->toolbarButton(1)->property("image").toInt(), 1);
    QCOMPARE(rig.program.engine.Timer1.interval(), 10000);
    QCOMPARE(rig.program.engine.Timer2.interval(), 10000);
    const QString log = rig.program.log.text();
    QVERIFY(log.contains(QLatin1String("] : Initializing the modem on COM Port: 3\r\n")));
    QVERIFY(log.contains(QLatin1String("] : Opening COM Port\r\n")));
    QVERIFY(log.contains(QLatin1String("] : COM Port opened successfully.\r\n")));
    QVERIFY(log.contains(QLatin1String("] : Setting the communication parameters for the modem.\r\n")));

    main->toolbarButton(1)->trigger();
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(main->menuItem(QStringLiteral("start"))->isEnabled());
    QVERIFY(!main->menuItem(QStringLiteral("mnustop"))->isEnabled());
    QCOMPARE(main->toolbarButton(1)->text(), QStringLiteral("Connect"));
    QCOMPARE(main->toolbarButton(1)->property("image").toInt(), 2);
    QCOMPARE(rig.program.engine.Timer1.interval(), 10000); // periods stay; ticks do nothing while disconnected

    main->toolbarButton(1)->trigger();
    QTRY_VERIFY(rig.state.IsConnected);
    QCOMPARE(main->toolbarButton(1)->text(), QStringLiteral("Disconnect"));
    main->menuItem(QStringLiteral("mnustop"))->trigger();
    QVERIFY(!rig.state.IsConnected);
    main->menuItem(QStringLiteral("start"))->trigger();
    QTRY_VERIFY(rig.state.IsConnected);

    // The modem is unplugged: the program notices, closes the port and offers Connect again.
    sim.hangUp();
    QTRY_VERIFY(!rig.state.IsConnected);
    QTRY_COMPARE(main->toolbarButton(1)->text(), QStringLiteral("Connect"));
    QVERIFY(main->menuItem(QStringLiteral("start"))->isEnabled());
}

void StartupTest::comNumberWithoutDeviceStaysDisconnected()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    rig.saveModemSetting(20);
    rig.dialogs.answers = {false};
    rig.program.showMainWindow();
    QTRY_COMPARE(rig.dialogs.questions(),
                 QStringList{QStringLiteral("No modem found on COM Port 20\r\nDo you wish to enter the "
                                            "correct COM port settings for the attached modem?")});
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(rig.main()->menuItem(QStringLiteral("start"))->isEnabled());
    QCOMPARE(rig.main()->toolbarButton(1)->text(), QStringLiteral("Connect"));
    QCOMPARE(rig.program.engine.Timer1.interval(), 0);
}

void StartupTest::exitButtonEndsTheProgram()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    rig.program.showMainWindow();
    rig.main()->toolbarButton(5)->trigger();
    QCOMPARE(rig.endApplicationCalls, 1);
    QVERIFY(!rig.state.IsConnected);

    ModemSimulator sim;
    QVERIFY(sim.start() && sim.linkAs(rig.state.dataDir, 3));
    rig.saveModemSetting(3);
    rig.main()->start_Click();
    QTRY_VERIFY(rig.state.IsConnected);
    rig.main()->menuItem(QStringLiteral("Exit"))->trigger();
    QCOMPARE(rig.endApplicationCalls, 2);
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(!rig.program.engine.portInUse());
}

void StartupTest::splashClosesOnClickOrAfterThreeSeconds()
{
    QCOMPARE(VersionText(), QStringLiteral("Version 1.0.0"));
    auto* clicked = new frmSplash;
    QSignalSpy clickedDone(clicked, &frmSplash::finished);
    clicked->show();
    QTest::mouseClick(clicked, Qt::LeftButton);
    QCOMPARE(clickedDone.count(), 1);

    auto* waited = new frmSplash;
    QSignalSpy waitedDone(waited, &frmSplash::finished);
    waited->show();
    QTest::qWait(2500);
    QCOMPARE(waitedDone.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(waitedDone.count(), 1, 2000);
}

QTEST_MAIN(StartupTest)
#include "tst_app_startup.moc"
