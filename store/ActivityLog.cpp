#include "store/ActivityLog.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"

ActivityLog::ActivityLog(AppState& state, QObject* parent) : QObject(parent), state(state) {}

QString ActivityLog::stamp() const
{
    QDateTime now = state.clock ? state.clock->now() : QDateTime::currentDateTime();
    return QLatin1Char('[') + GeneralDateTime(now) + QStringLiteral("] : ");
}

void ActivityLog::WriteActivityLog(const QString& message)
{
    if (!state.ActivityLogOn)
        return;
    log = stamp() + message + QStringLiteral("\r\n") + log;
    if (log.size() > TrimAbove) {
        // The cut may fall inside an entry; that partial oldest entry stays.
        log = stamp() + QStringLiteral("**NOTICE** Removing old entries from the activity log.\r\n") +
              log.left(KeepOnTrim);
    }
    Q_EMIT changed();
}

void ActivityLog::clear()
{
    log.clear();
    Q_EMIT changed();
}
