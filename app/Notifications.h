// Tells the user about new messages and missed calls without relying on a sound device: a tray icon whose
// tooltip counts the unread messages and today's missed calls, with a notification for each new one (the
// sender and the first words). Where the desktop has no system tray, the main window's status bar shows the
// same text for a while. The settings window's switch turns the notifications off; the counts stay.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

struct AppState;
struct HomeCounters;
class Engine;
class QStatusBar;
class QAction;
class QMenu;
class QSystemTrayIcon;

class Notifications : public QObject {
    Q_OBJECT
public:
    Notifications(AppState& state, Engine& engine, QStatusBar* statusBar, QObject* parent = nullptr);
    ~Notifications() override;

    // Whether there is a system tray to use; asked again before each notification, since a desktop panel
    // can come and go. The real question unless replaced (tests have no tray).
    std::function<bool()> trayAvailable;
    // Called when the user clicks the tray icon (the main window shows itself).
    std::function<void()> activated;
    // The commands of the tray icon's menu (pause or resume delivery, exit), given by the main window.
    QList<QAction*> trayActions;

    // The counts for the tray icon's tooltip; the main window passes on each refresh of the home page.
    void showCounts(const HomeCounters& counts);
    QSystemTrayIcon* trayIcon() const { return tray; }

    void messageReceived(const QString& sender, const QString& text);
    void callRecorded(const QString& number);

private:
    void notify(const QString& title, const QString& body);
    bool ensureTray();

    AppState& state;
    QPointer<QStatusBar> statusBar;
    QSystemTrayIcon* tray = nullptr;
    QMenu* trayMenu = nullptr;
    QString tip;
};

// The start of a message as a notification shows it: blanks and line breaks made single blanks, whole words up
// to about 60 characters, "…" when cut.
QString NotificationPreview(const QString& text);
