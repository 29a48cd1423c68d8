#include "store/ActivityLog.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"

#include <QRegularExpression>
#include <utility>

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

QString ActivityLog::WindowText(const QString& message)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    static const QRegularExpression hexRun(QStringLiteral("[0-9A-Fa-f]{40,}"));
    QString text = message;
    text.replace(lineBreaks, QStringLiteral(" "));
    // A PDU means nothing to people: its start is enough to tell one from another.
    qsizetype from = 0;
    for (auto m = hexRun.match(text); m.hasMatch(); m = hexRun.match(text, from)) {
        const QString shortened = m.captured().left(16) + QStringLiteral("...");
        text.replace(m.capturedStart(), m.capturedLength(), shortened);
        from = m.capturedStart() + shortened.size();
    }
    if (text.size() > WindowLineLimit)
        text = text.left(WindowLineLimit) + QStringLiteral("... (in full in activity.log)");
    return text;
}

void ActivityLog::WriteActivityLog(const QString& message)
{
    if (!state.ActivityLogOn)
        return;
    const QString now = stamp();
    appendToFile(now + message);
    show(now + WindowText(message));
}

void ActivityLog::Hold(Check check)
{
    Held& h = held[int(check)];
    h.open = true;
    h.entries.clear();
}

void ActivityLog::Write(Check check, const QString& message)
{
    Held& h = held[int(check)];
    if (!h.open) {
        WriteActivityLog(message);
        return;
    }
    if (!state.ActivityLogOn)
        return;
    const QString now = stamp();
    appendToFile(now + message);
    h.entries << now + WindowText(message);
}

void ActivityLog::Show(Check check)
{
    Held& h = held[int(check)];
    const QStringList entries = std::exchange(h.entries, {});
    h.open = false;
    for (const QString& entry : entries)
        show(entry);
}

void ActivityLog::Drop(Check check)
{
    Held& h = held[int(check)];
    h.open = false;
    h.entries.clear();
}

void ActivityLog::show(const QString& entry)
{
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
