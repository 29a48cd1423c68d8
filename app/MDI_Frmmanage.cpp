#include "app/MDI_Frmmanage.h"

#include "app/Notifications.h"
#include "app/frm_About.h"
#include "common/AppState.h"
#include "common/Seams.h"
#include "compose/BroadtextWizard.h"
#include "compose/frm_ComposeSMS.h"
#include "delivery/Engine.h"
#include "settings/Frm_Integration.h"
#include "settings/frm_Settings.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/SettingsRows.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/Frm_Campaigns.h"
#include "views/Frm_ManageSIMMsg.h"
#include "views/Frm_MessageBox.h"
#include "views/Frm_MissedCallsList.h"
#include "views/Frm_OptOutList.h"
#include "views/ModemPanelModel.h"
#include "views/ServerNews.h"
#include "views/WindowPlace.h"
#include "views/frm_HomePage.h"

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>

MDI_Frmmanage::MDI_Frmmanage(AppState& state, Database& db, ActivityLog& log, Engine& engine, QWidget* parent)
    : QMainWindow(parent), state(state), db(db), log(log), engine(engine)
{
    setObjectName(QStringLiteral("MDI_Frmmanage"));
    setWindowTitle(QStringLiteral("Velmora - Broadtext"));
    resize(1000, 700);
    new WindowPlaces(state, this); // every window opens where it was left

    QMenuBar* bar = menuBar();
    auto* settings = bar->addMenu(QStringLiteral("Settings"));
    settings->setObjectName(QStringLiteral("mnuSetings"));
    connect(addItem(settings, QStringLiteral("modemsetting"), QStringLiteral("System Settings")), &QAction::triggered,
            this, &MDI_Frmmanage::openSettings);
    connect(addItem(settings, QStringLiteral("mnuIntegration"), QStringLiteral("Integration (API, Hook, Webhook)")),
            &QAction::triggered, this, &MDI_Frmmanage::openIntegration);
    connect(
        addItem(settings, QStringLiteral("mnuAutoreplyOnMissedCall"), QStringLiteral("AutoReply SMS on Missed Call")),
        &QAction::triggered, this, &MDI_Frmmanage::openAutoReply);
    connect(addItem(settings, QStringLiteral("manageSim"), QStringLiteral("Low-Level SIM Access")), &QAction::triggered,
            this, &MDI_Frmmanage::openSIMManager);

    auto* modem = bar->addMenu(QStringLiteral("Modem Connect / Disconnect"));
    modem->setObjectName(QStringLiteral("lToModem"));
    connect(addItem(modem, QStringLiteral("start"), QStringLiteral("Connect")), &QAction::triggered, this,
            &MDI_Frmmanage::start_Click);
    connect(addItem(modem, QStringLiteral("mnustop"), QStringLiteral("Disconnect")), &QAction::triggered, this,
            &MDI_Frmmanage::mnustop_Click);
    modem->addSeparator();
    QAction* pause = addItem(modem, QStringLiteral("mnuPauseDelivery"), QStringLiteral("Pause Delivery"));
    pause->setToolTip(QStringLiteral("Stop sending after the message on its way; the rest stay in the Outbox."));
    connect(pause, &QAction::triggered, this, &MDI_Frmmanage::mnuPauseDelivery_Click);

    auto* messages = bar->addMenu(QStringLiteral("SMS Messages"));
    messages->setObjectName(QStringLiteral("mnuSMSMessages"));
    connect(addItem(messages, QStringLiteral("mnuSendIndividualSMS"), QStringLiteral("Send Individual SMS")),
            &QAction::triggered, this, &MDI_Frmmanage::openCompose);
    connect(addItem(messages, QStringLiteral("mnuSendBroadtext"), QStringLiteral("Send Broadtext")),
            &QAction::triggered, this, [this] { broadtextWizard->show(); });
    connect(addItem(messages, QStringLiteral("mnuViewMessageBox"), QStringLiteral("View Message Box")),
            &QAction::triggered, this, &MDI_Frmmanage::openMessageBox);
    connect(addItem(messages, QStringLiteral("mnuOptOut"), QStringLiteral("Opt-out List")), &QAction::triggered, this,
            &MDI_Frmmanage::openOptOutList);
    connect(addItem(messages, QStringLiteral("mnuCampaigns"), QStringLiteral("Campaigns")), &QAction::triggered, this,
            &MDI_Frmmanage::openCampaigns);

    connect(addItem(bar, QStringLiteral("mnuBroadtext"), QStringLiteral("Broadtext")), &QAction::triggered, this,
            [this] { broadtextWizard->reload(); });
    connect(addItem(bar, QStringLiteral("mnuAbout"), QStringLiteral("About")), &QAction::triggered, this,
            &MDI_Frmmanage::openAbout);
    connect(addItem(bar, QStringLiteral("Exit"), QStringLiteral("Exit")), &QAction::triggered, this,
            &MDI_Frmmanage::Exit_Click);

    // The keys a user reaches for. Find and refresh have no menu item of their own: Find opens the message box
    // at its search field, F5 recounts the home page.
    menuItem(QStringLiteral("mnuSendIndividualSMS"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    menuItem(QStringLiteral("mnuSendBroadtext"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    menuItem(QStringLiteral("mnuViewMessageBox"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    menuItem(QStringLiteral("Exit"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    auto* find = new QAction(this);
    find->setObjectName(QStringLiteral("actFind"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    addAction(find);
    connect(find, &QAction::triggered, this, [this] {
        openMessageBox();
        if (auto* search = messageBox->findChild<QWidget*>(QStringLiteral("txtSearch")))
            search->setFocus();
    });
    auto* refresh = new QAction(this);
    refresh->setObjectName(QStringLiteral("actRefresh"));
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    addAction(refresh);
    connect(refresh, &QAction::triggered, &engine, &Engine::timerRefreshHomePage_Timer);

    // Text under the icons whatever the style or desktop prefers, and one icon size for all five.
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1 = addToolBar(QStringLiteral("Toolbar1"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1->setIconSize(QSize(32, 32));
    Toolbar1->setMovable(false);
    struct Button {
        const char* caption;
        const char* tip;
        QStyle::StandardPixmap icon;
    };
    // Icons of one family that every style has at 32 pixels (some standard icons exist only at 16).
    const Button buttons[] = {{"Connect", "Connect to Modem.", QStyle::SP_ArrowForward},
                              {"Send Broadtext", "", QStyle::SP_FileDialogContentsView},
                              {"Send Quick SMS", "", QStyle::SP_FileIcon},
                              {"Message Box", "Message Box", QStyle::SP_DirIcon},
                              {"Exit", "", QStyle::SP_DialogCancelButton}};
    for (int i = 0; i < 5; ++i) {
        QAction* a =
            Toolbar1->addAction(style()->standardIcon(buttons[i].icon), QString::fromLatin1(buttons[i].caption));
        a->setObjectName(QStringLiteral("Button%1").arg(i + 1));
        a->setToolTip(QString::fromLatin1(buttons[i].tip));
        connect(a, &QAction::triggered, this, [this, i] { Toolbar1_ButtonClick(i + 1); });
    }
    Toolbar1->insertAction(toolbarButton(5), pause);

    mdi = new QMdiArea(this);
    mdi->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdi);
    home = new frm_HomePage(state, log, db);
    // The home page fills the frame behind the other windows, without a frame of its own (a maximized
    // child would also rewrite the main window's title).
    homeWindow = mdi->addSubWindow(home, Qt::SubWindow | Qt::FramelessWindowHint);
    homeWindow->hide();
    mdi->viewport()->installEventFilter(this);

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    statusBar()->addPermanentWidget(lblProgress);
    lblDeliveryState = new QLabel(this);
    lblDeliveryState->setObjectName(QStringLiteral("lblDeliveryState"));
    statusBar()->addPermanentWidget(lblDeliveryState);
    // What the modem link waits for (a retry, an unplugged modem): stays until the engine says otherwise.
    lblModemStatus = new QLabel(this);
    lblModemStatus->setObjectName(QStringLiteral("lblModemStatus"));
    statusBar()->addPermanentWidget(lblModemStatus);
    connect(&engine, &Engine::statusChanged, this, [this](const QString& text) {
        modemLine = text;
        showModemSummary();
    });

    // The modem panel; the store counts each modem's messages of today.
    modemPanel = new ModemPanelModel(
        [this](int id) {
            const QDateTime now = this->state.clock->now();
            return ModemsRepository(this->db).counts(id, now.date(), now);
        },
        this);
    for (int id : engine.modemIds())
        modemPanel->setStatus(engine.status(id));
    connect(&engine, &Engine::modemStatusChanged, this, [this](const ModemStatus& status) {
        modemPanel->setStatus(status);
        showModemSummary();
    });
    connect(&engine, &Engine::outboxChanged, modemPanel, &ModemPanelModel::refreshCounts);
    connect(&engine, &Engine::inboxChanged, modemPanel, &ModemPanelModel::refreshCounts);
    auto* dockModems = new QDockWidget(QStringLiteral("Modems"), this);
    dockModems->setObjectName(QStringLiteral("dockModems"));
    auto* lstModems = new QTreeView(dockModems);
    lstModems->setObjectName(QStringLiteral("lstModems"));
    lstModems->setRootIsDecorated(false);
    lstModems->setUniformRowHeights(true);
    lstModems->setAlternatingRowColors(true);
    lstModems->setModel(modemPanel);
    lstModems->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    dockModems->setWidget(lstModems);
    addDockWidget(Qt::BottomDockWidgetArea, dockModems);
    dockModems->hide(); // until the user opens it; then as the user left it
    QAction* showModems = dockModems->toggleViewAction();
    showModems->setObjectName(QStringLiteral("mnuModems"));
    showModems->setText(QStringLiteral("Modems"));
    showModems->setToolTip(QStringLiteral("Show each modem's state, signal, network and counts."));
    modem->addSeparator();
    modem->addAction(showModems);
    notifier = new Notifications(state, engine, statusBar(), this);
    notifier->activated = [this] {
        showNormal();
        raise();
        activateWindow();
    };
    notifier->trayActions = {menuItem(QStringLiteral("mnuPauseDelivery")), menuItem(QStringLiteral("Exit"))};

    home->openMessageBox = [this] { openMessageBox(); };
    home->openMissedCalls = [this] { openMissedCalls(); };
    broadtextWizard = new BroadtextWizard(engine, this);
    engine.openSettings = [this] { openSettings(); };
    engine.showCounters = [this](const HomeCounters& c) {
        home->showCounters(c);
        notifier->showCounts(c);
        queuedMessages = c.waitingOutbox;
        showModemSummary();
    };
    // On a server base the rows of the other computers count here as soon as the server tells of them.
    if (ServerNews* news = ServerNews::Of(db))
        connect(news, &ServerNews::rowsChanged, this, &MDI_Frmmanage::showServerRows);
    connect(&engine, &Engine::connectionChanged, this, &MDI_Frmmanage::updateConnectionState);
    connect(&engine, &Engine::deliveryProgress, this, [this](int handled, int total, int failed, bool ended) {
        progress.delivery(handled, total, failed, ended, this->state.clock->now());
        showProgress();
        if (ended)
            showDeliveryPaused();
    });
    connect(&engine, &Engine::deliveryPausedChanged, this, &MDI_Frmmanage::showDeliveryPaused);
    connect(&engine, &Engine::receptionProgress, this, [this](int importing, bool ended) {
        progress.reception(importing, ended);
        showProgress();
    });
    setButton1(false);
    showDeliveryPaused();
}

MDI_Frmmanage::~MDI_Frmmanage()
{
    engine.openSettings = nullptr;
    engine.showCounters = nullptr;
}

void MDI_Frmmanage::showServerRows(ServerNews::Tables tables)
{
    // A link found lost is tried again by the engine's ticks; news cannot come meanwhile.
    if (!db.linkUp())
        return;
    if (tables & (ServerNews::Inbox | ServerNews::Outbox))
        modemPanel->refreshCounts();
    try {
        if (engine.showCounters)
            engine.showCounters(CountHomePage(db, state.clock->now().date()));
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
    }
}

QAction* MDI_Frmmanage::addItem(QWidget* menu, const QString& name, const QString& caption)
{
    auto* a = new QAction(caption, this);
    a->setObjectName(name);
    menu->addAction(a);
    return a;
}

QAction* MDI_Frmmanage::menuItem(const QString& name) const
{
    return findChild<QAction*>(name);
}

QAction* MDI_Frmmanage::toolbarButton(int index) const
{
    return Toolbar1->findChild<QAction*>(QStringLiteral("Button%1").arg(index));
}

void MDI_Frmmanage::MDIForm_Load()
{
    state.ChildWindowOpen = false;
    state.MessagePageSize = 100;
    state.ActivityLogOn = true;
    home->lblStart_Click(); // the log runs: Start is the inactive link
    try {
        engine.loadModemSettings();
        LoadRunningSettings(state, db, log);
        menuItem(QStringLiteral("start"))->setEnabled(true);
        menuItem(QStringLiteral("mnustop"))->setEnabled(false);
        home->Form_Load();
        homeWindow->setGeometry(mdi->viewport()->rect());
        homeWindow->show();
    } catch (const DbError& e) {
        state.dialogs->message(e.description());
        return;
    }
    start_Click();
}

void MDI_Frmmanage::start_Click()
{
    engine.Connect();
}

void MDI_Frmmanage::mnustop_Click()
{
    engine.Disconnect();
}

void MDI_Frmmanage::Toolbar1_ButtonClick(int index)
{
    switch (index) {
    case 1:
        if (engine.status().connected)
            mnustop_Click();
        else
            start_Click();
        break;
    case 2:
        broadtextWizard->show();
        break;
    case 3:
        openCompose();
        break;
    case 4:
        openMessageBox();
        break;
    case 5:
        if (!mayExit())
            break;
        if (engine.status().connected)
            mnustop_Click();
        state.endApplication();
        break;
    default:
        break;
    }
}

void MDI_Frmmanage::Exit_Click()
{
    if (!mayExit())
        return;
    if (engine.status().connected)
        engine.Disconnect();
    state.endApplication();
}

bool MDI_Frmmanage::mayExit()
{
    if (exitConfirmed || !engine.sending())
        return true;
    exitConfirmed = state.dialogs->question(
        QStringLiteral("Messages are being sent from the Outbox. Exit anyway?\r\n\r\nThe message on its way is "
                       "stopped; it and the messages not yet sent stay in the Outbox and are sent after the next "
                       "start."));
    return exitConfirmed;
}

void MDI_Frmmanage::mnuPauseDelivery_Click()
{
    engine.setDeliveryPaused(!engine.deliveryPaused());
}

void MDI_Frmmanage::showDeliveryPaused()
{
    const bool paused = engine.deliveryPaused();
    QAction* pause = menuItem(QStringLiteral("mnuPauseDelivery"));
    pause->setText(paused ? QStringLiteral("Resume Delivery") : QStringLiteral("Pause Delivery"));
    pause->setIcon(style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    lblDeliveryState->setText(!paused            ? QString()
                              : engine.sending() ? QStringLiteral("Delivery pausing after the message on its way")
                                                 : QStringLiteral("Delivery paused"));
}

void MDI_Frmmanage::showModemSummary()
{
    // Where another process runs the modems, this one knows nothing of their state: the owner's line says so.
    if (!engine.modemsRunElsewhere().isEmpty())
        lblModemStatus->clear();
    else
        lblModemStatus->setText(engine.modemIds().size() > 1 ? ModemSummaryLine(modemPanel->modems(), queuedMessages)
                                                             : modemLine);
}

void MDI_Frmmanage::IdentifyCallerNumber(const QString& number)
{
    engine.IdentifyCallerNumber(number);
}

void MDI_Frmmanage::setButton1(bool connected)
{
    QAction* b = toolbarButton(1);
    b->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    b->setIcon(style()->standardIcon(connected ? QStyle::SP_BrowserStop : QStyle::SP_ArrowForward));
    b->setProperty("image", connected ? 1 : 2);
}

void MDI_Frmmanage::showProgress()
{
    lblProgress->setText(progress.text());
}

void MDI_Frmmanage::updateConnectionState()
{
    const bool connected = engine.status().connected;
    menuItem(QStringLiteral("start"))->setEnabled(!connected);
    menuItem(QStringLiteral("mnustop"))->setEnabled(connected);
    setButton1(connected);
}

namespace {

// Child windows are shown modal without a nested event loop: the timers and the modem keep working, and
// the caller goes on.
void showModal(QWidget* window)
{
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->raise();
    window->activateWindow();
}

// The open window of a kind among the main window's children (a closed one may still wait for deletion).
template <class Window> Window* openChild(const QObject* parent)
{
    for (Window* w : parent->findChildren<Window*>())
        if (w->isVisible())
            return w;
    return nullptr;
}

void showModeless(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void MDI_Frmmanage::openSettings()
{
    if (!settingsWindow || !settingsWindow->isVisible()) { // a closed one is on its way out
        settingsWindow = new frm_Settings(engine, this);
        settingsWindow->restartApplication = restartApplication;
    }
    showModeless(settingsWindow);
}

void MDI_Frmmanage::openIntegration()
{
    if (!integrationWindow || !integrationWindow->isVisible()) {
        integrationWindow = new Frm_Integration(engine, this);
        integrationWindow->applied = integrationChanged;
    }
    showModeless(integrationWindow);
}

void MDI_Frmmanage::openAbout()
{
    if (!about) {
        about = new frm_About(this);
        about->setAttribute(Qt::WA_DeleteOnClose);
    }
    showModal(about);
}

void MDI_Frmmanage::openMessageBox()
{
    if (!messageBox || !messageBox->isVisible())
        messageBox = new Frm_MessageBox(engine, this);
    showModal(messageBox);
}

void MDI_Frmmanage::openCompose()
{
    auto* compose = openChild<frm_ComposeSMS>(this);
    showModal(compose ? compose : new frm_ComposeSMS(engine, this));
}

void MDI_Frmmanage::openAutoReply()
{
    auto* reply = openChild<Frm_AutoReplyOnMissedCall>(this);
    showModal(reply ? reply : new Frm_AutoReplyOnMissedCall(engine, this));
}

void MDI_Frmmanage::openSIMManager()
{
    // Always freshly loaded: any earlier one (also a reloaded one) goes first.
    while (auto* old = openChild<Frm_ManageSIMMsg>(this))
        old->close(); // it deletes itself once its handlers have returned
    showModal(new Frm_ManageSIMMsg(engine, this));
}

void MDI_Frmmanage::openMissedCalls()
{
    if (!missedCalls || !missedCalls->isVisible())
        missedCalls = new Frm_MissedCallsList(engine, this);
    showModeless(missedCalls);
}

void MDI_Frmmanage::openOptOutList()
{
    if (!optOutList || !optOutList->isVisible())
        optOutList = new Frm_OptOutList(engine, this);
    showModeless(optOutList);
}

void MDI_Frmmanage::openCampaigns()
{
    if (!campaigns || !campaigns->isVisible())
        campaigns = new Frm_Campaigns(engine, this);
    showModeless(campaigns);
}

bool MDI_Frmmanage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mdi->viewport() && event->type() == QEvent::Resize && homeWindow)
        homeWindow->setGeometry(mdi->viewport()->rect());
    return QMainWindow::eventFilter(watched, event);
}

void MDI_Frmmanage::closeEvent(QCloseEvent* event)
{
    if (!mayExit()) {
        event->ignore();
        return;
    }
    engine.Disconnect();
    event->accept();
    state.endApplication();
}
