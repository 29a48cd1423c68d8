#include "store/SettingsRows.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <algorithm>

namespace {

// The one row of a settings table is the first one (lowest rowid).
const QString FirstRow = QStringLiteral(" WHERE rowid = (SELECT min(rowid) FROM %1)");

QString text(const QVariant& v)
{
    return v.isNull() ? QString() : v.toString();
}

// A NUMERIC column of the file keeps whatever text a field held; a server's takes numbers only. There an empty or
// unreadable field is stored as NULL, which every reader takes as it takes such a text: as no value.
QVariant numeric(const Database& db, const QVariant& v)
{
    if (!db.isServer() || v.isNull() || v.typeId() != QMetaType::QString)
        return v;
    bool ok = false;
    v.toString().trimmed().toDouble(&ok);
    return ok ? v : QVariant();
}

} // namespace

bool IsTrue(const QVariant& v)
{
    if (v.isNull())
        return false;
    const QString s = Trim(v.toString());
    if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double d = s.toDouble(&ok);
    return ok && d != 0;
}

std::optional<ModemSettingRow> ReadModemSetting(Database& db)
{
    Query q(db,
            QStringLiteral("SELECT CommPortNo, BitsPerSecond, Parity, DataBits, StopBits, FlowControl, CharacterSet,"
                           " EnabledCallerId, ModemDelayFactor FROM ModemSetting ORDER BY rowid LIMIT 1"));
    if (!q.next())
        return std::nullopt;
    return ModemSettingRow{q.value(0), q.value(1), q.value(2), q.value(3), q.value(4),
                           q.value(5), q.value(6), q.value(7), q.value(8)};
}

QString ReadMessageFormat(Database& db)
{
    const QVariant v = db.scalar(QStringLiteral("SELECT MessageFormat FROM ModemSetting ORDER BY rowid LIMIT 1"));
    return Trim(text(v)).compare(QLatin1String("PDU"), Qt::CaseInsensitive) == 0 ? QStringLiteral("PDU")
                                                                                 : QStringLiteral("Text");
}

void WriteMessageFormat(Database& db, const QString& format)
{
    db.execute(QStringLiteral("UPDATE ModemSetting SET MessageFormat = ?") +
                   FirstRow.arg(QStringLiteral("ModemSetting")),
               {format});
}

bool ReadDeliveryReports(Database& db)
{
    return IsTrue(db.scalar(QStringLiteral("SELECT DeliveryReports FROM Timer_setting ORDER BY rowid LIMIT 1")));
}

void WriteDeliveryReports(Database& db, bool on)
{
    db.execute(QStringLiteral("UPDATE Timer_setting SET DeliveryReports = ?") +
                   FirstRow.arg(QStringLiteral("Timer_setting")),
               {on ? 1 : 0});
}

std::optional<TimerSettingRow> ReadTimerSetting(Database& db)
{
    Query q(db,
            QStringLiteral("SELECT EnableReceiveTimer, ReceiveAllMessagesTime, EnableSendTimer, SendAllMessagesTime,"
                           " SMSDelevaryMode FROM Timer_setting ORDER BY rowid LIMIT 1"));
    if (!q.next())
        return std::nullopt;
    return TimerSettingRow{q.value(0), q.value(1), q.value(2), q.value(3), q.value(4)};
}

std::optional<AutoReplyRow> ReadAutoReply(Database& db, bool activeOnly)
{
    Query q(db, activeOnly
                    ? QStringLiteral("SELECT Message, IsActive FROM AutoReply_OnMissedCall WHERE IsActive <> 0"
                                     " ORDER BY rowid LIMIT 1")
                    : QStringLiteral("SELECT Message, IsActive FROM AutoReply_OnMissedCall ORDER BY rowid LIMIT 1"));
    if (!q.next())
        return std::nullopt;
    return AutoReplyRow{q.value(0), q.value(1)};
}

void WriteModemSetting(Database& db, const ModemSettingRow& r)
{
    const QVariantList values = {r.CommPortNo,   r.BitsPerSecond,   r.Parity,
                                 r.DataBits,     r.StopBits,        r.FlowControl,
                                 r.CharacterSet, r.EnabledCallerId, numeric(db, r.ModemDelayFactor)};
    if (db.count(QStringLiteral("SELECT count(*) FROM ModemSetting")) == 0) {
        db.execute(QStringLiteral("INSERT INTO ModemSetting (CommPortNo, BitsPerSecond, Parity, DataBits, StopBits,"
                                  " FlowControl, CharacterSet, EnabledCallerId, ModemDelayFactor)"
                                  " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                   values);
    } else {
        db.execute(QStringLiteral("UPDATE ModemSetting SET CommPortNo = ?, BitsPerSecond = ?, Parity = ?, DataBits = ?,"
                                  " StopBits = ?, FlowControl = ?, CharacterSet = ?, EnabledCallerId = ?,"
                                  " ModemDelayFactor = ?") +
                       FirstRow.arg(QStringLiteral("ModemSetting")),
                   values);
    }
}

void WriteTimerSetting(Database& db, const TimerSettingRow& r)
{
    const QVariantList values = {r.EnableReceiveTimer, numeric(db, r.ReceiveAllMessagesTime), r.EnableSendTimer,
                                 numeric(db, r.SendAllMessagesTime), r.SMSDelevaryMode};
    if (db.count(QStringLiteral("SELECT count(*) FROM Timer_setting")) == 0) {
        db.execute(
            QStringLiteral("INSERT INTO Timer_setting (EnableReceiveTimer, ReceiveAllMessagesTime, EnableSendTimer,"
                           " SendAllMessagesTime, SMSDelevaryMode) VALUES (?, ?, ?, ?, ?)"),
            values);
    } else {
        db.execute(QStringLiteral("UPDATE Timer_setting SET EnableReceiveTimer = ?, ReceiveAllMessagesTime = ?,"
                                  " EnableSendTimer = ?, SendAllMessagesTime = ?, SMSDelevaryMode = ?") +
                       FirstRow.arg(QStringLiteral("Timer_setting")),
                   values);
    }
}

void WriteAutoReply(Database& db, const AutoReplyRow& r)
{
    if (db.count(QStringLiteral("SELECT count(*) FROM AutoReply_OnMissedCall")) == 0) {
        db.execute(QStringLiteral("INSERT INTO AutoReply_OnMissedCall (Message, IsActive) VALUES (?, ?)"),
                   {r.Message, r.IsActive});
    } else {
        db.execute(QStringLiteral("UPDATE AutoReply_OnMissedCall SET Message = ?, IsActive = ?") +
                       FirstRow.arg(QStringLiteral("AutoReply_OnMissedCall")),
                   {r.Message, r.IsActive});
    }
}

double ReadDelayFactor(Database& db)
{
    if (auto modem = ReadModemSetting(db)) {
        const QString f = Trim(text(modem->ModemDelayFactor));
        if (!f.isEmpty() && IsNumeric(f))
            return NumericValue(f);
    }
    return 1.0;
}

void LoadRunningSettings(AppState& state, Database& db, ActivityLog& log)
{
    log.WriteActivityLog(QStringLiteral("Initializing AutoReply On MissedCall Properties."));
    state.AutoReplyActive = false;
    state.AutoReplyText.clear();
    if (auto reply = ReadAutoReply(db, true)) {
        state.AutoReplyActive = true;
        state.AutoReplyText = Trim(text(reply->Message));
    }

    // Without a Timer_setting row the intervals keep what they were.
    if (auto timers = ReadTimerSetting(db)) {
        auto seconds = [](const QVariant& enabled, const QVariant& time) -> qint16 {
            if (!IsTrue(enabled))
                return 0;
            const QString t = Trim(text(time));
            const auto whole = IsNumeric(t) ? RoundHalfEven(NumericValue(t)) : std::nullopt;
            return whole ? static_cast<qint16>(std::clamp<qint64>(*whole, 0, 32767)) : 0;
        };
        state.ReceiveIntervalSeconds = seconds(timers->EnableReceiveTimer, timers->ReceiveAllMessagesTime);
        state.SendIntervalSeconds = seconds(timers->EnableSendTimer, timers->SendAllMessagesTime);
    }
}

HomeCounters CountHomePage(Database& db, const QDate& today)
{
    HomeCounters c;
    auto [from, to] = Database::DayRange(today, today);
    c.missedCallsToday = db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics WHERE IsMissCall <> 0 AND"
                                                 " callDateTime >= ? AND callDateTime < ?"),
                                  {from, to});
    c.unreadInbox = db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE IsRead = 0"));
    c.waitingOutbox = db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL"));
    return c;
}
