// Start-up and the main window: the database at first start, the screen-size question, the splash, the
// toolbar, the home page counters, the status bar (progress and notifications), the windows each command
// opens, Connect, Disconnect and Exit.
#include "TestRig.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "app/Notifications.h"
#include "app/frmSplash.h"
#include "compose/BroadtextWizard.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/Frm_Broadtext_Step5.h"
#include "settings/Preferences.h"
#include "settings/frm_Settings.h"
#include "store/SettingsRows.h"
#include "tools/ModemSimulator.h"
#include "views/Frm_MessageBox.h"
#include "views/MessageTextEdit.h"
#include "views/frm_HomePage.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

struct AppRig : TestRig {
    Broadtext program{state};
    AppRig() : TestRig(false) { program.engine.timerRefreshHomePage.setEnabled(false); }
    MDI_Frmmanage* main() { return program.mainWindow.get(); }
    // Start-up on a large screen and the main window shown, which connects when settings are stored.
    bool open(int com = 0)
    {
        if (!program.Main(QSize(1280, 800)))
            return false;
        if (com)
            WriteModemSetting(program.db, {com, u"115200"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, -1, u"1"_s});
        program.showMainWindow();
        return true;
    }
    QLabel* link(const char* name) { return main()->homePage()->findChild<QLabel*>(QLatin1String(name)); }
    void trigger(const QString& command)
    {
        if (command.startsWith("button "_L1))
            main()->toolbarButton(command.mid(7).toInt())->trigger();
        else if (command.startsWith("link "_L1))
            QTest::mouseClick(link(command.mid(5).toLatin1().constData()), Qt::LeftButton);
        else
            main()->menuItem(command)->trigger();
    }
    // The one visible window of a class among the main window's children; null when none or several.
    QWidget* visible(const char* className)
    {
        QWidget* found = nullptr;
        for (QWidget* w : main()->findChildren<QWidget*>())
            if (w->isVisible() && w->inherits(className)) {
                if (found)
                    return nullptr;
                found = w;
            }
        return found;
    }
};

const QString SetAll = u"Please set all the settings before connecting with modem."_s;

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartCreatesTheDatabaseAndAsksForSettings();
    void screenSizeQuestion_data();
    void screenSizeQuestion();
    void unusableDatabaseOffersRetryFolderOrQuit_data();
    void unusableDatabaseOffersRetryFolderOrQuit();
    void toolbarShowsTextUnderIconsInEveryStyle();
    void homePageCountsAtLoadAndOnEachTick();
    void statusBarTellsDeliveryAndReceptionProgress();
    void newMessagesAndCallsAreNotified();
    void windowsOpenOnceFromTheirCommands_data();
    void windowsOpenOnceFromTheirCommands();
    void homeLinksOpenTheMessageBoxOnTheirFolder();
    void windowsReopenAsTheyWereLeft_data();
    void windowsReopenAsTheyWereLeft();
    void keyboardShortcutsReachTheCommands_data();
    void keyboardShortcutsReachTheCommands();
    void messageFieldsShowTheLimitOfTheFormatInUse_data();
    void messageFieldsShowTheLimitOfTheFormatInUse();
    void wizardIsReusedFromSendBroadtextAndReloadedFromBroadtext();
    void connectDisconnectAndButtonOne();
    void comNumberWithoutDeviceAsksForTheSettings_data();
    void comNumberWithoutDeviceAsksForTheSettings();
    void exitButtonEndsTheProgram();
    void deliveryPausesAndExitAsksDuringARun();
    void splashClosesOnClickOrAfterThreeSeconds();
};

void StartupTest::firstStartCreatesTheDatabaseAndAsksForSettings()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    // A modem settings change that needs a restart starts the program afresh instead of only ending it.
    int restarts = 0;
    rig.main()->restartApplication = [&] { ++restarts; };
    rig.program.showMainWindow();
    QVERIFY(rig.state.DatabaseConnected);
    QVERIFY(QFile::exists(DatabaseFilePath(rig.state)));
    QVERIFY(rig.dialogs.questions().isEmpty());
    QVERIFY(rig.main()->isVisible());
    QCOMPARE(rig.dialogs.messages(), QStringList{SetAll});
    QVERIFY(!rig.program.engine.status().connected);
    QVERIFY(rig.state.ActivityLogOn);
    QCOMPARE(rig.state.MessagePageSize, 100);
    QVERIFY(rig.program.log.text().contains("Initializing AutoReply On MissedCall Properties."_L1));
    QVERIFY(rig.main()->homePage()->isVisible());
    QCOMPARE(rig.link("lblToday")->text(), QLocale::system().toString(rig.clock.now().date(), u"dd-MMMM-yyyy"_s));
    QVERIFY(!rig.link("lblStart")->isEnabled() && rig.link("lblStop")->isEnabled());
    // Connect opened the settings, modeless; the menu finds the same window.
    QWidget* settings = rig.visible("frm_Settings");
    QVERIFY(settings);
    QCOMPARE(settings->windowModality(), Qt::NonModal);
    rig.trigger(u"modemsetting"_s);
    QCOMPARE(rig.visible("frm_Settings"), settings);

    settings->findChild<QComboBox*>(u"Combo_comportNo"_s)->setCurrentText(u"3"_s);
    QTest::mouseClick(settings->findChild<QPushButton*>(u"cmdSave1"_s), Qt::LeftButton);
    QCOMPARE(restarts, 1);
    QCOMPARE(rig.endApplicationCalls, 0);
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
    const QString question =
        u"Required Screen Resolution: 1024 x 768\r\nCurrent Screen Resolution: 800 x 600\r\n\r\nThis application "
        u"requires 1024 x 768 screen resolution. Application may not be displyed properly on your screen.\r\n\r\n It "
        u"is highly recommanded that you should increase the screen resolution to 1024 x 768.\r\n\r\n Do you want to "
        u"continue any way?"_s;
    AppRig rig;
    rig.dialogs.answers = {answer};
    QCOMPARE(rig.program.Main(screen), goesOn);
    QCOMPARE(rig.dialogs.questions(), asked ? QStringList{question} : QStringList{});
    QCOMPARE(bool(rig.main()), goesOn);
}

void StartupTest::unusableDatabaseOffersRetryFolderOrQuit_data()
{
    QTest::addColumn<QList<int>>("answers"); // 0 Retry, 1 Open Data Folder, 2 Quit
    QTest::addColumn<bool>("putRight");      // the user removes the obstacle while the box is up
    QTest::addColumn<int>("boxes");
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("Quit ends before any window") << QList<int>{2} << false << 1 << false;
    QTest::newRow("the folder is shown, then Quit") << QList<int>{1, 2} << false << 2 << false;
    QTest::newRow("Retry once put right") << QList<int>{0} << true << 1 << true;
}

void StartupTest::unusableDatabaseOffersRetryFolderOrQuit()
{
    QFETCH(QList<int>, answers);
    QFETCH(bool, putRight);
    QFETCH(int, boxes);
    QFETCH(bool, goesOn);
    AppRig rig;
    // A plain file where the data folder's parent should be.
    QFile blocker(rig.dir.path() + u"/blocker"_s);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    rig.state.dataDir = blocker.fileName() + u"/broadtext"_s;
    rig.dialogs.choiceAnswers.assign(answers.begin(), answers.end());
    if (putRight)
        rig.dialogs.onChoice = [&] { QVERIFY(blocker.remove()); };
    QCOMPARE(rig.program.Main(QSize(1280, 800)), goesOn);
    QCOMPARE(rig.dialogs.choices().size(), boxes);
    const QString text = rig.dialogs.choices().first();
    QVERIFY2(text.startsWith("Following error occur while connecting with database\r\n\r\nError: "_L1),
             qPrintable(text));
    QVERIFY2(text.contains(u"\r\n\r\nDatabase file: "_s + DatabaseFilePath(rig.state) + u"\r\nThe folder "_s +
                           rig.state.dataDir + u" cannot be written: Not a directory.\r\n"_s),
             qPrintable(text));
    QVERIFY(text.endsWith("\r\n\r\nTo overcome this error please set proper data base for your application."_L1));
    QCOMPARE(rig.dialogs.folders(), answers.contains(1) ? QStringList{rig.dir.path()} : QStringList{});
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(bool(rig.main()), goesOn);
    QCOMPARE(rig.state.DatabaseConnected, goesOn);
    if (goesOn) {
        rig.program.showMainWindow();
        QCOMPARE(rig.dialogs.messages(), QStringList{SetAll}); // a working window, asking for the settings
    }
}

void StartupTest::toolbarShowsTextUnderIconsInEveryStyle()
{
    AppRig rig;
    QVERIFY(rig.open());
    const QString style = QApplication::style()->name();
    for (const QString& key : QStyleFactory::keys()) {
        QApplication::setStyle(key);
        for (QToolButton* b : rig.main()->findChild<QToolBar*>(u"Toolbar1"_s)->findChildren<QToolButton*>()) {
            if (!b->defaultAction())
                continue; // the extension button
            QVERIFY2(b->toolButtonStyle() == Qt::ToolButtonTextUnderIcon, qPrintable(key));
            QCOMPARE(b->iconSize(), QSize(32, 32));
            QCOMPARE(b->icon().actualSize(QSize(32, 32)), QSize(32, 32));
            QVERIFY(b->sizeHint().height() >= 32 + b->fontMetrics().height());
        }
    }
    QApplication::setStyle(style);
}

void StartupTest::homePageCountsAtLoadAndOnEachTick()
{
    AppRig rig;
    QVERIFY(rig.program.Main(QSize(1280, 800)));
    Database& db = rig.program.db;
    for (int read : {0, 0, 0, -1})
        db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message, IsRead) VALUES ('+1', 'm', ?)"_s, {read});
    for (int i = 0; i < 2; ++i)
        db.execute(u"INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES ('1', 'm')"_s);
    rig.program.showMainWindow();
    QCOMPARE(rig.link("lblInBox")->text(), u"Inbox (3)"_s);
    QCOMPARE(rig.link("lblOutBox")->text(), u"Outbox (2)"_s);
    QCOMPARE(rig.link("LblMissCall")->text(), u"Missed Calls"_s);

    db.execute(u"INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) VALUES ('+1', ?, -1)"_s,
               {Database::DbTime(QDateTime(rig.clock.now().date(), QTime(0, 0, 1)))});
    db.execute(u"UPDATE Message_InBox SET IsRead = -1"_s);
    rig.program.engine.timerRefreshHomePage_Timer();
    QCOMPARE(rig.link("lblInBox")->text(), u"Inbox (0)"_s);
    QCOMPARE(rig.link("LblMissCall")->text(), u"Missed Calls (1)"_s);
}

void StartupTest::statusBarTellsDeliveryAndReceptionProgress()
{
    AppRig rig;
    QVERIFY(rig.open());
    Engine& engine = rig.program.engine;
    auto* progress = rig.main()->statusBar()->findChild<QLabel*>(u"lblProgress"_s);
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

    // What the modem link waits for stays in the status bar until the engine clears it.
    auto* modem = rig.main()->statusBar()->findChild<QLabel*>(u"lblModemStatus"_s);
    QVERIFY(modem);
    const QString waiting = u"The modem on COM Port 3 is not ready: trying again in 30 s"_s;
    Q_EMIT engine.statusChanged(waiting);
    QCOMPARE(modem->text(), waiting);
    Q_EMIT engine.statusChanged({});
    QVERIFY(modem->text().isEmpty());
}

void StartupTest::newMessagesAndCallsAreNotified()
{
    AppRig rig;
    QVERIFY(rig.open());
    Engine& engine = rig.program.engine;
    Notifications& notifications = rig.main()->notifications();
    QStatusBar* bar = rig.main()->statusBar();

    // No system tray here: the status bar says it, with the first words only.
    Q_EMIT engine.messageReceived("+447700900123", "Meeting moved to Tuesday at ten, please confirm\r\nand bring the "
                                                   "signed contract with you");
    QCOMPARE(bar->currentMessage(),
             u"New message from +447700900123: Meeting moved to Tuesday at ten, please confirm and bring"_s +
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
    rig.program.db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+1', 'm')"_s);
    engine.timerRefreshHomePage_Timer();
    QVERIFY(notifications.trayIcon());
    QCOMPARE(notifications.trayIcon()->toolTip(), "Broadtext\n1 unread message\n0 missed calls today");
    // Its menu pauses or resumes delivery and exits, as the main window's commands do.
    QVERIFY(notifications.trayIcon()->contextMenu());
    QCOMPARE(notifications.trayIcon()->contextMenu()->actions(),
             (QList<QAction*>{rig.main()->menuItem(u"mnuPauseDelivery"_s), rig.main()->menuItem(u"Exit"_s)}));
    Q_EMIT engine.messageReceived("+447700900123", "Hello");
    QVERIFY(bar->currentMessage().isEmpty());
}

void StartupTest::windowsOpenOnceFromTheirCommands_data()
{
    QTest::addColumn<QStringList>("commands"); // the first opens the window, the second comes while it is open
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("modal");
    QTest::addColumn<bool>("fresh"); // the second command replaces the window instead of showing it again
    const auto row = [](const char* name, const QStringList& commands, const char* window, bool modal, bool fresh) {
        QTest::newRow(name) << commands << QString::fromLatin1(window) << modal << fresh;
    };
    row("compose", {"mnuSendIndividualSMS", "button 3"}, "frm_ComposeSMS", true, false);
    row("auto-reply", {"mnuAutoreplyOnMissedCall", "mnuAutoreplyOnMissedCall"}, "Frm_AutoReplyOnMissedCall", true,
        false);
    row("SIM manager", {"manageSim", "manageSim"}, "Frm_ManageSIMMsg", true, true);
    row("missed calls report", {"link LblMissCall", "link LblMissCall"}, "Frm_MissedCallsList", false, false);
    row("message box", {"mnuViewMessageBox", "button 4"}, "Frm_MessageBox", true, false);
    row("about", {"mnuAbout", "mnuAbout"}, "frm_About", true, false);
}

void StartupTest::windowsOpenOnceFromTheirCommands()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, window);
    QFETCH(bool, modal);
    QFETCH(bool, fresh);
    AppRig rig;
    QVERIFY(rig.open()); // the settings open too, as nothing is stored yet
    const QByteArray className = window.toLatin1();
    rig.trigger(commands[0]);
    QPointer<QWidget> first = rig.visible(className);
    QVERIFY(first);
    QCOMPARE(first->windowModality(), modal ? Qt::ApplicationModal : Qt::NonModal);
    rig.trigger(commands[1]);
    QWidget* second = rig.visible(className);
    QVERIFY(second);
    QCOMPARE(second != first.data(), fresh);
    if (fresh)
        QTRY_VERIFY(!first);
    if (auto* version = second->findChild<QLabel*>(u"lblVersion"_s))
        QCOMPARE(version->text(), VersionText());
    QCOMPARE(rig.dialogs.messages(), QStringList{SetAll});
}

void StartupTest::homeLinksOpenTheMessageBoxOnTheirFolder()
{
    AppRig rig;
    QVERIFY(rig.open());
    for (const char* link : {"lblOutBox", "lblInBox"}) {
        rig.trigger(u"link "_s + QLatin1String(link));
        auto* box = qobject_cast<Frm_MessageBox*>(rig.visible("Frm_MessageBox"));
        QVERIFY(box && rig.state.MessageBoxOpen);
        QCOMPARE(box->isOutBoxSelected(), link == "lblOutBox"_L1);
        QCOMPARE(box->isInBoxSelected(), link == "lblInBox"_L1);
        QVERIFY(rig.state.msgType.isEmpty());
        box->close();
        QTRY_VERIFY(!rig.state.MessageBoxOpen);
    }
}

void StartupTest::windowsReopenAsTheyWereLeft_data()
{
    QTest::addColumn<QString>("command"); // empty: the main window itself
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << QString() << u"MDI_Frmmanage"_s;
    QTest::newRow("message box") << u"mnuViewMessageBox"_s << u"Frm_MessageBox"_s;
    QTest::newRow("compose") << u"mnuSendIndividualSMS"_s << u"frm_ComposeSMS"_s;
    QTest::newRow("settings") << u"modemsetting"_s << u"frm_Settings"_s;
}

void StartupTest::windowsReopenAsTheyWereLeft()
{
    QFETCH(QString, command);
    QFETCH(QString, window);
    AppRig rig;
    QVERIFY(rig.open());
    if (QWidget* settings = rig.visible("frm_Settings"))
        settings->close();
    const QRect place(130, 70, 820, 560);
    const auto open = [&]() -> QWidget* {
        if (command.isEmpty())
            return rig.main();
        rig.trigger(command);
        return rig.visible(window.toLatin1().constData());
    };
    QWidget* first = open();
    QVERIFY(first && first->isVisible());
    QVERIFY(first->geometry() != place);
    first->setGeometry(place);
    // The user widens the message column of the Inbox.
    const auto list = [](QWidget* w) { return w->findChild<QTreeWidget*>(u"ListMessage"_s); };
    if (list(first))
        list(first)->header()->resizeSection(1, 333);
    QPointer<QWidget> left = first;
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    std::unique_ptr<MDI_Frmmanage> another;
    QWidget* second = nullptr;
    if (command.isEmpty()) {
        another = std::make_unique<MDI_Frmmanage>(rig.state, rig.program.db, rig.program.log, rig.program.engine);
        another->show();
        second = another.get();
    } else {
        second = open();
    }
    QVERIFY(second && second != left.data() && second->isVisible());
    QCOMPARE(second->geometry(), place);
    if (list(second))
        QCOMPARE(list(second)->columnWidth(1), 333);
    QVERIFY(QFile::exists(rig.state.dataDir + u"/broadtext.conf"_s));
}

void StartupTest::keyboardShortcutsReachTheCommands_data()
{
    QTest::addColumn<bool>("inMessageBox"); // pressed in the open message box, else in the main window
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("outcome");
    const auto row = [](const char* name, bool box, const QKeySequence& keys, const char* outcome) {
        QTest::newRow(name) << box << keys << QString::fromLatin1(outcome);
    };
    row("Ctrl+N composes", false, QKeySequence(u"Ctrl+N"_s), "window frm_ComposeSMS");
    row("Ctrl+B sends a broadtext", false, QKeySequence(u"Ctrl+B"_s), "window Frm_Broadtext_Step2");
    row("Ctrl+M shows the message box", false, QKeySequence(u"Ctrl+M"_s), "window Frm_MessageBox");
    row("Ctrl+F searches the messages", false, QKeySequence(u"Ctrl+F"_s), "search");
    row("F5 refreshes the home page", false, QKeySequence(Qt::Key_F5), "home counts");
    row("Ctrl+Q exits", false, QKeySequence(u"Ctrl+Q"_s), "exit");
    row("Ctrl+F in the message box", true, QKeySequence(u"Ctrl+F"_s), "search");
    row("F5 in the message box", true, QKeySequence(Qt::Key_F5), "box refilled");
    row("Delete in the message box", true, QKeySequence(Qt::Key_Delete), "delete");
}

void StartupTest::keyboardShortcutsReachTheCommands()
{
    QFETCH(bool, inMessageBox);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, outcome);
    AppRig rig;
    QVERIFY(rig.open());
    if (QWidget* settings = rig.visible("frm_Settings"))
        settings->close();
    QWidget* target = rig.main();
    if (inMessageBox) {
        rig.trigger(u"mnuViewMessageBox"_s);
        target = rig.visible("Frm_MessageBox");
        QVERIFY(target);
        target->findChild<QTreeWidget*>(u"ListMessage"_s)->setFocus();
    }
    target->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(target));
    rig.program.db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+1', 'new')"_s);
    rig.dialogs.clear();
    QTest::keySequence(QApplication::focusWidget() ? QApplication::focusWidget() : target, keys);
    auto* box = qobject_cast<Frm_MessageBox*>(rig.visible("Frm_MessageBox"));
    if (outcome.startsWith("window "_L1))
        QVERIFY(rig.visible(outcome.mid(7).toLatin1().constData()));
    else if (outcome == "search"_L1)
        QTRY_VERIFY(box && QApplication::focusWidget() == box->findChild<QLineEdit*>(u"txtSearch"_s));
    else if (outcome == "home counts"_L1)
        QCOMPARE(rig.link("lblInBox")->text(), u"Inbox (1)"_s);
    else if (outcome == "exit"_L1)
        QCOMPARE(rig.endApplicationCalls, 1);
    else if (outcome == "box refilled"_L1)
        QCOMPARE(box->findChild<QTreeWidget*>(u"ListMessage"_s)->topLevelItemCount(), 1);
    else // nothing is selected yet: the key reaches the delete command, which says so
        QCOMPARE(rig.dialogs.messages(), QStringList{u"Please select message which you want to delete."_s});
}

void StartupTest::messageFieldsShowTheLimitOfTheFormatInUse_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("label"); // the caption beside the message field
    QTest::addColumn<bool>("pdu");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    const auto row = [](const char* name, const char* command, const char* label, bool pdu, const QString& text,
                        const char* caption) { QTest::newRow(name) << command << label << pdu << text << caption; };
    row("compose, text mode", "mnuSendIndividualSMS", "Label4", false, "", "(Max. 480 characters)");
    row("compose, PDU", "mnuSendIndividualSMS", "Label4", true, "", "(Max. 459 characters)");
    row("compose, PDU, Unicode text", "mnuSendIndividualSMS", "Label4", true, u"Привет"_s, "(Max. 201 characters)");
    row("compose, text mode, Unicode text", "mnuSendIndividualSMS", "Label4", false, u"€"_s, "(Max. 210 characters)");
    row("auto-reply, text mode", "mnuAutoreplyOnMissedCall", "Label2", false, "Hi",
        "Message (Max.Length 480 Characters) :");
    row("auto-reply, PDU", "mnuAutoreplyOnMissedCall", "Label2", true, "", "Message (Max.Length 459 Characters) :");
    row("wizard, text mode", "wizard", "Label2", false, "", "Max 480 Characters :");
    row("wizard, PDU", "wizard", "Label2", true, "Hi", "Max 459 Characters :");
}

void StartupTest::messageFieldsShowTheLimitOfTheFormatInUse()
{
    QFETCH(QString, command);
    QFETCH(QString, label);
    QFETCH(bool, pdu);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    AppRig rig;
    QVERIFY(rig.open());
    rig.program.engine.setPduMessages(pdu);
    QWidget* window = nullptr;
    if (command == "wizard"_L1) {
        rig.trigger(u"button 2"_s);
        Frm_Broadtext_Step2* step2 = rig.main()->wizard().step2();
        step2->OptNoOnNewLine->click();
        step2->txtFileName->setText(QStringLiteral(BROADTEXT_TEST_DATA "/wizard/three-lines.txt"));
        step2->cmdNext->click();
        window = rig.main()->wizard().step5();
    } else {
        rig.trigger(command);
        window = QApplication::activeModalWidget();
    }
    QVERIFY(window && window->isVisible());
    auto* field = window->findChild<MessageTextEdit*>();
    QVERIFY(field);
    if (!text.isEmpty())
        field->setText(text);
    QCOMPARE(window->findChild<QLabel*>(label)->text(), caption);
}

void StartupTest::wizardIsReusedFromSendBroadtextAndReloadedFromBroadtext()
{
    AppRig rig;
    QVERIFY(rig.open());
    rig.trigger(u"button 2"_s);
    QPointer<Frm_Broadtext_Step2> first = rig.main()->wizard().step2();
    QVERIFY(first && first->isVisible());
    first->txtFileName->setText(u"/typed.txt"_s);
    rig.trigger(u"mnuSendBroadtext"_s);
    QCOMPARE(rig.main()->wizard().step2(), first.data());
    QCOMPARE(first->txtFileName->text(), u"/typed.txt"_s);
    rig.trigger(u"mnuBroadtext"_s);
    Frm_Broadtext_Step2* fresh = rig.main()->wizard().step2();
    QVERIFY(fresh && fresh != first.data() && fresh->isVisible());
    QVERIFY(fresh->txtFileName->text().isEmpty());
    QVERIFY(rig.state.ChildWindowOpen);
    QTRY_VERIFY(!first);
}

void StartupTest::connectDisconnectAndButtonOne()
{
    AppRig rig;
    ModemSimulator sim;
    QVERIFY(sim.start() && sim.linkAs(rig.state.dataDir, 3));
    QVERIFY(rig.open(3)); // connects by itself
    auto* main = rig.main();
    QAction* button = main->toolbarButton(1);
    const auto offersConnect = [&](bool connect) {
        return main->menuItem(u"start"_s)->isEnabled() == connect &&
               main->menuItem(u"mnustop"_s)->isEnabled() != connect &&
               button->text() == (connect ? "Connect"_L1 : "Disconnect"_L1) &&
               button->property("image").toInt() == (connect ? 2 : 1);
    };
    QTRY_VERIFY(rig.program.engine.status().ready);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(offersConnect(false));
    QCOMPARE(rig.program.engine.Timer1.interval(), 10000);
    QCOMPARE(rig.program.engine.Timer2.interval(), 10000);
    QVERIFY(rig.program.log.text().contains("] : Initializing the modem on COM Port: 3\r\n"_L1));

    button->trigger();
    QVERIFY(!rig.program.engine.status().connected);
    QVERIFY(offersConnect(true));
    QCOMPARE(rig.program.engine.Timer1.interval(), 10000); // periods stay; ticks do nothing while disconnected

    button->trigger();
    QTRY_VERIFY(rig.program.engine.status().connected);
    QVERIFY(offersConnect(false));
    rig.trigger(u"mnustop"_s);
    QVERIFY(!rig.program.engine.status().connected);
    rig.trigger(u"start"_s);
    QTRY_VERIFY(rig.program.engine.status().connected);

    // The modem is unplugged: the program notices, closes the port and offers Connect again.
    sim.hangUp();
    QTRY_VERIFY(!rig.program.engine.status().connected);
    QTRY_VERIFY(offersConnect(true));
}

void StartupTest::comNumberWithoutDeviceAsksForTheSettings_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("No stays disconnected") << false;
    QTest::newRow("Yes opens the settings") << true;
}

void StartupTest::comNumberWithoutDeviceAsksForTheSettings()
{
    QFETCH(bool, answer);
    AppRig rig;
    rig.dialogs.answers = {answer};
    QVERIFY(rig.open(20));
    QTRY_COMPARE(rig.dialogs.questions(), QStringList{u"No modem found on COM Port 20\r\nDo you wish to enter the "
                                                      u"correct COM port settings for the attached modem?"_s});
    QVERIFY(!rig.program.engine.status().connected);
    QVERIFY(rig.main()->menuItem(u"start"_s)->isEnabled());
    QCOMPARE(rig.main()->toolbarButton(1)->text(), u"Connect"_s);
    QCOMPARE(rig.program.engine.Timer1.interval(), 0);
    QCOMPARE(bool(rig.visible("frm_Settings")), answer);
}

// Exit while connected, which disconnects and frees the port: deliveryPausesAndExitAsksDuringARun.
void StartupTest::exitButtonEndsTheProgram()
{
    AppRig rig;
    QVERIFY(rig.open());
    rig.trigger(u"button 5"_s);
    QCOMPARE(rig.endApplicationCalls, 1);
    QVERIFY(!rig.program.engine.status().connected);
}

void StartupTest::deliveryPausesAndExitAsksDuringARun()
{
    AppRig rig;
    ModemSimulator sim;
    QVERIFY(sim.start() && sim.linkAs(rig.state.dataDir, 3));
    QVERIFY(rig.open(3));
    QTRY_VERIFY(rig.program.engine.status().connected);
    Engine& engine = rig.program.engine;
    Database& db = rig.program.db;
    sim.setNetworkDelayMs(600);
    for (int i = 0; i < 4; ++i)
        db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) VALUES (0, ?, ?, "
                   u"?)"_s,
                   {u"+44770090012%1"_s.arg(i), u"text"_s, Database::DbTime(rig.clock.now())});
    const auto count = [&](const char* where) {
        return db.count(u"SELECT count(*) FROM Message_OutBox WHERE "_s + QLatin1String(where));
    };
    const auto submissions = [&] { return sim.commands().filter(u"AT+CMGS="_s).size(); };
    QAction* pause = rig.main()->menuItem(u"mnuPauseDelivery"_s);
    QVERIFY(pause && rig.main()->findChild<QToolBar*>(u"Toolbar1"_s)->actions().contains(pause));
    QCOMPARE(pause->text(), "Pause Delivery");
    auto* status = rig.main()->statusBar()->findChild<QLabel*>(u"lblDeliveryState"_s);
    QVERIFY(status && status->text().isEmpty());

    engine.Timer2_Timer();
    QTRY_COMPARE(submissions(), 1);
    // Exit during the run asks first, from the toolbar, the menu and the window's close button; No goes on.
    rig.dialogs.defaultAnswer = false;
    rig.trigger(u"button 5"_s);
    rig.trigger(u"Exit"_s);
    rig.main()->close();
    QCOMPARE(rig.dialogs.questions().size(), 3);
    QVERIFY(rig.dialogs.questions()[0].startsWith("Messages are being sent from the Outbox. Exit anyway?"_L1));
    QCOMPARE(rig.endApplicationCalls, 0);
    QVERIFY(rig.main()->isVisible() && rig.program.engine.status().connected && engine.sending());

    // Paused: the message on its way is finished, the rest stay queued, and the status bar says so.
    pause->trigger();
    QCOMPARE(pause->text(), "Resume Delivery");
    QCOMPARE(status->text(), "Delivery pausing after the message on its way");
    QTRY_VERIFY_WITH_TIMEOUT(!engine.sending(), 10000);
    QCOMPARE(status->text(), "Delivery paused");
    QCOMPARE(sim.sent().size(), 1);
    QCOMPARE(count("DeliveryStatus = 'SENDING'"), 0);
    QCOMPARE(count("DeliveryDatetime IS NULL"), 3);
    engine.Timer2_Timer();
    QVERIFY(!engine.sending());
    QCOMPARE(submissions(), 1);

    pause->trigger();
    QCOMPARE(pause->text(), "Pause Delivery");
    QVERIFY(status->text().isEmpty());
    engine.Timer2_Timer();
    QTRY_COMPARE(submissions(), 2);
    // Yes: the program disconnects and ends, and the rows stay queued, none left SENDING.
    rig.dialogs.defaultAnswer = true;
    rig.trigger(u"Exit"_s);
    QCOMPARE(rig.dialogs.questions().size(), 4);
    QCOMPARE(rig.endApplicationCalls, 1);
    QVERIFY(!engine.status().connected);
    QTRY_VERIFY(!engine.sending() && !engine.portInUse());
    QCOMPARE(count("DeliveryStatus = 'SENDING'"), 0);
    QCOMPARE(count("DeliveryDatetime IS NULL"), 3);
}

void StartupTest::splashClosesOnClickOrAfterThreeSeconds()
{
    QCOMPARE(VersionText(), u"Version 1.0.0"_s);
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
