// The one-row settings tables and the counters of the home page, read and written in one place.
#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <optional>

struct AppState;
class ActivityLog;
class Database;

// The ModemSetting row as stored (null and empty stay apart).
struct ModemSettingRow {
    QVariant CommPortNo, BitsPerSecond, Parity, DataBits, StopBits, FlowControl, CharacterSet, EnabledCallerId,
        ModemDelayFactor;
};

struct TimerSettingRow {
    QVariant EnableReceiveTimer, ReceiveAllMessagesTime, EnableSendTimer, SendAllMessagesTime, SMSDelevaryMode;
};

struct AutoReplyRow {
    QVariant Message, IsActive;
};

// How messages go to and come from the modem: "PDU" or "Text" (the default, also for an unset value).
QString ReadMessageFormat(Database& db);
void WriteMessageFormat(Database& db, const QString& format);
// Whether sends in PDU mode ask for delivery reports (off unless set).
bool ReadDeliveryReports(Database& db);
void WriteDeliveryReports(Database& db, bool on);

// The first row, or nothing when the table is empty. Throw DbError.
std::optional<ModemSettingRow> ReadModemSetting(Database& db);
std::optional<TimerSettingRow> ReadTimerSetting(Database& db);
std::optional<AutoReplyRow> ReadAutoReply(Database& db, bool activeOnly);

// Update the first row, or insert one when the table is empty. Throw DbError.
void WriteModemSetting(Database& db, const ModemSettingRow& row);
void WriteTimerSetting(Database& db, const TimerSettingRow& row);
void WriteAutoReply(Database& db, const AutoReplyRow& row);

// A stored Yes/No value as a boolean (-1, 1 and "true" are true; null, empty and 0 are false).
bool IsTrue(const QVariant& v);

// The modem's delay factor: 1 when the row or the value is missing or not a number. Throws DbError.
double ReadDelayFactor(Database& db);

// Reads the auto-reply switch and text and the timer intervals into the running state,
// with the defaults that apply to missing rows and empty fields. Throws DbError (the state keeps what was
// read before the failure).
void LoadRunningSettings(AppState& state, Database& db, ActivityLog& log);

struct HomeCounters {
    qint64 unreadInbox = 0;
    qint64 waitingOutbox = 0;
    qint64 missedCallsToday = 0;
};
HomeCounters CountHomePage(Database& db, const QDate& today);
