#include "app/Notifications.h"

#include "common/AppState.h"
#include "delivery/Engine.h"
#include "settings/Preferences.h"
#include "store/SettingsRows.h"

#include <QApplication>
#include <QMenu>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>

namespace {

constexpr int PreviewLength = 60;
constexpr int StatusBarMs = 15000;

QString plural(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

QString NotificationPreview(const QString& text)
{
    const QString simple = text.simplified();
    if (simple.size() <= PreviewLength)
        return simple;
    qsizetype cut = simple.lastIndexOf(QLatin1Char(' '), PreviewLength);
    if (cut <= 0)
        cut = PreviewLength; // one long word
    return simple.left(cut) + QChar(0x2026);
}

Notifications::Notifications(AppState& state, Engine& engine, QStatusBar* statusBar, QObject* parent)
    : QObject(parent), trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); }), state(state),
      statusBar(statusBar)
{
    connect(&engine, &Engine::messageReceived, this, &Notifications::messageReceived);
    connect(&engine, &Engine::callRecorded, this, &Notifications::callRecorded);
}

Notifications::~Notifications()
{
    delete tray;
    delete trayMenu;
}

bool Notifications::ensureTray()
{
    if (!trayAvailable || !trayAvailable())
        return false;
    if (tray)
        return true;
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon);
    tray = new QSystemTrayIcon(icon);
    tray->setToolTip(tip);
    if (!trayActions.isEmpty()) {
        trayMenu = new QMenu;
        trayMenu->addActions(trayActions);
        tray->setContextMenu(trayMenu);
    }
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Context && activated)
            activated();
    });
    tray->show();
    return true;
}

void Notifications::showCounts(const HomeCounters& counts)
{
    tip = QString::fromLatin1(ProgramTitle) + QLatin1Char('\n') +
          plural(counts.unreadInbox, "unread message", "unread messages") + QLatin1Char('\n') +
          plural(counts.missedCallsToday, "missed call today", "missed calls today");
    if (tray || ensureTray())
        tray->setToolTip(tip);
}

void Notifications::messageReceived(const QString& sender, const QString& text)
{
    notify(QStringLiteral("New message from %1").arg(sender.trimmed()), NotificationPreview(text));
}

void Notifications::callRecorded(const QString& number)
{
    notify(QStringLiteral("Missed call from %1").arg(number.trimmed()), QString());
}

void Notifications::notify(const QString& title, const QString& body)
{
    if (!NotificationsEnabled(state))
        return;
    if (ensureTray()) {
        tray->showMessage(title, body, QSystemTrayIcon::Information);
        return;
    }
    if (statusBar)
        statusBar->showMessage(body.isEmpty() ? title : title + QStringLiteral(": ") + body, StatusBarMs);
}
