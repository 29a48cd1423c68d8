// The main window: the frame with the menu bar, the five-button toolbar, the home page, the modem panel (a
// dock, shown from the modem menu) and a status bar telling how a delivery or reception is getting on, how
// the modems are (and new messages and calls where there is no tray).
// Every other window is opened from here. The serial port, the timers and the background work belong to the
// Engine.
#pragma once

#include "app/ProgressStatus.h"
#include "views/ServerNews.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

struct AppState;
class ActivityLog;
class Database;
class Engine;
class Notifications;
class QAction;
class QLabel;
class QMdiArea;
class ModemPanelModel;
class QToolBar;
class frm_HomePage;
class frm_Settings;
class Frm_Integration;
class Frm_MessageBox;
class Frm_MissedCallsList;
class Frm_OptOutList;
class Frm_Campaigns;
class BroadtextWizard;

class MDI_Frmmanage : public QMainWindow {
    Q_OBJECT
public:
    MDI_Frmmanage(AppState& state, Database& db, ActivityLog& log, Engine& engine, QWidget* parent = nullptr);
    ~MDI_Frmmanage() override;

    // Reads the running settings, shows the home page and connects.
    void MDIForm_Load();
    void start_Click();
    void mnustop_Click();
    void Toolbar1_ButtonClick(int index);
    void Exit_Click();
    // Pause Delivery / Resume Delivery.
    void mnuPauseDelivery_Click();
    void IdentifyCallerNumber(const QString& number);

    QAction* menuItem(const QString& name) const;
    QAction* toolbarButton(int index) const;
    frm_HomePage* homePage() const { return home; }

    // Windows opened from the menus, the toolbar and the home page.
    void openSettings();
    void openIntegration();
    void openAbout();
    void openMessageBox();
    void openCompose();
    void openAutoReply();
    void openSIMManager();
    void openMissedCalls();
    void openOptOutList();
    void openCampaigns();
    BroadtextWizard& wizard() { return *broadtextWizard; }
    Notifications& notifications() { return *notifier; }

    // Starts the program afresh when a modem settings change needs it (main() sets the real one; unset, the
    // settings window only ends the program).
    std::function<void()> restartApplication;
    // The running local HTTP API takes up the integration settings the user saved; gives why it cannot listen
    // (Broadtext sets it; unset, nothing runs the API in this process).
    std::function<QString()> integrationChanged;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addItem(QWidget* menu, const QString& name, const QString& caption);
    void updateConnectionState();
    // Rows another computer wrote on a server base: the counters and the modem panel's counts read again.
    void showServerRows(ServerNews::Tables tables);
    void setButton1(bool connected);
    void showProgress();
    void showDeliveryPaused();
    // The engine's line for one modem as it is; for several, how many are ready and the first one's problem.
    void showModemSummary();
    // Exit while messages are being sent only when the user says so (they stay queued).
    bool mayExit();

    AppState& state;
    Database& db;
    ActivityLog& log;
    Engine& engine;
    QMdiArea* mdi;
    QToolBar* Toolbar1;
    frm_HomePage* home;
    class QMdiSubWindow* homeWindow = nullptr;
    QPointer<QWidget> about;
    QPointer<frm_Settings> settingsWindow;
    QPointer<Frm_Integration> integrationWindow;
    QPointer<Frm_MessageBox> messageBox;
    QPointer<Frm_MissedCallsList> missedCalls;
    QPointer<Frm_OptOutList> optOutList;
    QPointer<Frm_Campaigns> campaigns;
    BroadtextWizard* broadtextWizard;
    Notifications* notifier;
    QLabel* lblProgress;
    QLabel* lblDeliveryState;
    QLabel* lblModemStatus;
    QString modemLine;         // the engine's last line about the modem link
    qint64 queuedMessages = 0; // the Outbox rows waiting, as the home page last counted them
    ModemPanelModel* modemPanel;
    bool exitConfirmed = false;
    ProgressStatus progress;
};
