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

QString ActivityLog::filePath() const
{
    return state.dataDir.isEmpty() ? QString() : state.dataDir + QStringLiteral("/activity.log");
}

void ActivityLog::appendToFile(const QString& entry)
{
    const QString path = filePath();
    if (path.isEmpty())
        return;
    if (file.isOpen() && file.size() >= FileRotateAt) {
        file.close();
        QFile::remove(path + QStringLiteral(".%1").arg(OldFilesKept));
        for (int i = OldFilesKept - 1; i >= 1; --i)
            QFile::rename(path + QStringLiteral(".%1").arg(i), path + QStringLiteral(".%1").arg(i + 1));
        QFile::rename(path, path + QStringLiteral(".1"));
    }
    if (!file.isOpen() || file.fileName() != path) {
        file.close();
        file.setFileName(path);
        // A log that cannot be written (no data folder yet, a full disk) leaves the on-screen log as it is.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    QString line = entry;
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    file.write(line.toUtf8() + '\n');
    file.flush();
}

void ActivityLog::WriteActivityLog(const QString& message)
{
    if (!state.ActivityLogOn)
        return;
    const QString entry = stamp() + message;
    appendToFile(entry);
    log = entry + QStringLiteral("\r\n") + log;
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
