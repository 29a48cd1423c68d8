// When rows may go out: the quiet hours ("Do not send between" two local times) and their settings.
//
// Quiet hours are wall-clock times, so they follow the local zone through daylight saving: 21:00-08:00 is
// 21:00-08:00 on the day the clocks change too. A window whose start is after its end wraps midnight.
#pragma once

#include <QDateTime>
#include <QTime>

class Database;

struct QuietHours {
    QTime start; // invalid: no quiet hours
    QTime end;

    // Off when either end is unset or both are the same (a window of no length).
    bool enabled() const;
    // Whether a local time of day is inside the window [start, end).
    bool contains(const QTime& local) const;
    bool contains(const QDateTime& moment) const { return contains(moment.toLocalTime().time()); }
    // The first moment at or after `moment` that is not inside the window: `moment` itself when outside,
    // else the window's end on the same local day or the next.
    QDateTime nextEnd(const QDateTime& moment) const;
};

struct ScheduleSettings {
    QuietHours quiet;
    bool repliesExempt = true; // "Replies to missed calls are sent in quiet hours too"
};

// Throw DbError.
ScheduleSettings ReadScheduleSettings(Database& db);
void WriteScheduleSettings(Database& db, const ScheduleSettings& settings);
