#include "settings/Preferences.h"

#include "common/AppState.h"
#include "common/Paths.h"

#include <QSettings>

namespace {

const QString NotificationsKey = QStringLiteral("notifications/enabled");

QSettings preferences(const AppState& state)
{
    return QSettings(PreferencesFilePath(state.dataDir), QSettings::IniFormat);
}

} // namespace

bool NotificationsEnabled(const AppState& state)
{
    return preferences(state).value(NotificationsKey, true).toBool();
}

void SetNotificationsEnabled(const AppState& state, bool on)
{
    preferences(state).setValue(NotificationsKey, on);
}
