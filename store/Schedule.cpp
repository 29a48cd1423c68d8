#include "store/Schedule.h"

#include "store/Database.h"

#include <QTimeZone>

namespace {

const QString TimeFormat = QStringLiteral("HH:mm");

QVariant storedTime(const QTime& t)
{
    return t.isValid() ? QVariant(t.toString(TimeFormat)) : QVariant(QString());
}

} // namespace

bool QuietHours::enabled() const
{
    return start.isValid() && end.isValid() && start != end;
}

bool QuietHours::contains(const QTime& local) const
{
    if (!enabled() || !local.isValid())
        return false;
    if (start < end)
        return start <= local && local < end;
    return local >= start || local < end;
}

QDateTime QuietHours::nextEnd(const QDateTime& moment) const
{
    const QDateTime local = moment.toLocalTime();
    if (!contains(local.time()))
        return moment;
    // Inside and before the end on this day (the morning part of a wrapping window, or a plain window):
    // today's end; otherwise (the evening part of a wrapping window) tomorrow's. A local end that the clocks
    // skip comes out as the first moment after the gap.
    const QDate day = local.time() < end ? local.date() : local.date().addDays(1);
    return QDateTime(day, end).toTimeZone(moment.timeZone());
}

ScheduleSettings ReadScheduleSettings(Database& db)
{
    ScheduleSettings s;
    Query q(db, QStringLiteral("SELECT QuietFrom, QuietTo, QuietRepliesExempt FROM Timer_setting ORDER BY rowid "
                               "LIMIT 1"));
    if (!q.next())
        return s;
    s.quiet.start = QTime::fromString(q.value(0).toString(), TimeFormat);
    s.quiet.end = QTime::fromString(q.value(1).toString(), TimeFormat);
    s.repliesExempt = q.value(2).toInt() != 0;
    return s;
}

void WriteScheduleSettings(Database& db, const ScheduleSettings& s)
{
    // Minutes are what the user sets; seconds would only make the window's edges surprising.
    const bool on = s.quiet.enabled();
    db.execute(QStringLiteral("UPDATE Timer_setting SET QuietFrom = ?, QuietTo = ?, QuietRepliesExempt = ? WHERE rowid "
                              "= (SELECT rowid FROM Timer_setting ORDER BY rowid LIMIT 1)"),
               {on ? storedTime(s.quiet.start) : QVariant(QString()),
                on ? storedTime(s.quiet.end) : QVariant(QString()), Database::DbBool(s.repliesExempt)});
}
