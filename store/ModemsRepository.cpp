#include "store/ModemsRepository.h"

#include "common/FunctionsLibrary.h"
#include "store/Database.h"
#include "store/SettingsRows.h"

#include <algorithm>
#include <limits>

namespace {

const QString Columns = QStringLiteral("ModemId, Name, CommPortNo, BitsPerSecond, Parity, DataBits, StopBits, "
                                       "FlowControl, CharacterSet, EnabledCallerId, ModemDelayFactor, MessageFormat, "
                                       "Role, Enabled, LimitPerMinute, LimitPerHour, LimitPerDay, "
                                       "LimitRecipientsPerMonth, GapMinSeconds, GapMaxSeconds");

// The limits as Columns lists them from `first` on.
ModemLimits limitsOf(const Query& q, int first)
{
    return {q.value(first).toInt(),     q.value(first + 1).toInt(), q.value(first + 2).toInt(),
            q.value(first + 3).toInt(), q.value(first + 4).toInt(), q.value(first + 5).toInt()};
}

QVariantList limitValues(const ModemLimits& l)
{
    return {std::max(l.perMinute, 0),          std::max(l.perHour, 0),       std::max(l.perDay, 0),
            std::max(l.recipientsPerMonth, 0), std::max(l.gapMinSeconds, 0), std::max(l.gapMaxSeconds, 0)};
}

QString roleText(ModemConfig::Role role)
{
    switch (role) {
    case ModemConfig::Role::Send:
        return QStringLiteral("Send");
    case ModemConfig::Role::Receive:
        return QStringLiteral("Receive");
    case ModemConfig::Role::Both:
        break;
    }
    return QStringLiteral("Both");
}

ModemConfig::Role roleOf(const QVariant& v)
{
    const QString s = Trim(v.toString());
    if (s.compare(QLatin1String("Send"), Qt::CaseInsensitive) == 0)
        return ModemConfig::Role::Send;
    if (s.compare(QLatin1String("Receive"), Qt::CaseInsensitive) == 0)
        return ModemConfig::Role::Receive;
    return ModemConfig::Role::Both;
}

// A stored text, or the default the modem starts with when nothing was stored.
void readText(QString& field, const QVariant& v)
{
    if (!v.isNull())
        field = v.toString();
}

double delayFactorOf(const QVariant& v)
{
    const QString f = Trim(v.isNull() ? QString() : v.toString());
    return !f.isEmpty() && IsNumeric(f) ? NumericValue(f) : 1.0;
}

bool isPdu(const QVariant& v)
{
    return Trim(v.toString()).compare(QLatin1String("PDU"), Qt::CaseInsensitive) == 0;
}

// The first modem's name, role, switch and limits from its Modems row, when there is one.
void readFirstModemExtras(Database& db, ModemConfig& m)
{
    Query q(db, QStringLiteral("SELECT Name, Role, Enabled, LimitPerMinute, LimitPerHour, LimitPerDay, "
                               "LimitRecipientsPerMonth, GapMinSeconds, GapMaxSeconds FROM Modems WHERE ModemId = 1"));
    if (!q.next())
        return;
    m.name = q.value(0).toString();
    m.role = roleOf(q.value(1));
    m.enabled = q.value(2).isNull() || IsTrue(q.value(2));
    m.limits = limitsOf(q, 3);
}

std::optional<ModemConfig> readFirstModem(Database& db)
{
    const std::optional<ModemSettingRow> row = ReadModemSetting(db);
    if (!row)
        return std::nullopt;
    ModemConfig m;
    m.id = 1;
    m.port = row->CommPortNo.toInt();
    readText(m.bitsPerSecond, row->BitsPerSecond);
    readText(m.parity, row->Parity);
    readText(m.dataBits, row->DataBits);
    readText(m.stopBits, row->StopBits);
    readText(m.flowControl, row->FlowControl);
    readText(m.characterSet, row->CharacterSet);
    m.callerId = IsTrue(row->EnabledCallerId);
    m.delayFactor = delayFactorOf(row->ModemDelayFactor);
    m.pdu = ReadMessageFormat(db) == QLatin1String("PDU");
    readFirstModemExtras(db, m);
    return m;
}

ModemConfig fromModemsRow(const Query& q)
{
    ModemConfig m;
    m.id = q.value(0).toInt();
    m.name = q.value(1).toString();
    m.port = q.value(2).toInt();
    readText(m.bitsPerSecond, q.value(3));
    readText(m.parity, q.value(4));
    readText(m.dataBits, q.value(5));
    readText(m.stopBits, q.value(6));
    readText(m.flowControl, q.value(7));
    readText(m.characterSet, q.value(8));
    m.callerId = IsTrue(q.value(9));
    m.delayFactor = delayFactorOf(q.value(10));
    m.pdu = isPdu(q.value(11));
    m.role = roleOf(q.value(12));
    m.enabled = q.value(13).isNull() || IsTrue(q.value(13));
    m.limits = limitsOf(q, 14);
    return m;
}

QVariant nameValue(const QString& name)
{
    return name.isEmpty() ? QVariant(QString()) : QVariant(name);
}

// Adds or rewrites the first modem's Modems row, which holds only its name, role, switch and limits.
void writeFirstModemExtras(Database& db, const QString& name, ModemConfig::Role role, bool enabled,
                           const ModemLimits& limits)
{
    db.execute(QStringLiteral("INSERT INTO Modems (ModemId, Name, Role, Enabled, LimitPerMinute, LimitPerHour, "
                              "LimitPerDay, LimitRecipientsPerMonth, GapMinSeconds, GapMaxSeconds) VALUES (1, ?, ?, ?, "
                              "?, ?, ?, ?, ?, ?) ON CONFLICT (ModemId) DO UPDATE SET Name = excluded.Name, Role = "
                              "excluded.Role, Enabled = excluded.Enabled, LimitPerMinute = excluded.LimitPerMinute, "
                              "LimitPerHour = excluded.LimitPerHour, LimitPerDay = excluded.LimitPerDay, "
                              "LimitRecipientsPerMonth = excluded.LimitRecipientsPerMonth, GapMinSeconds = "
                              "excluded.GapMinSeconds, GapMaxSeconds = excluded.GapMaxSeconds"),
               QVariantList{nameValue(name), roleText(role), Database::DbBool(enabled)} + limitValues(limits));
}

} // namespace

QList<ModemConfig> ModemsRepository::all()
{
    QList<ModemConfig> modems;
    if (auto first = readFirstModem(db))
        modems << *first;
    Query q(db,
            QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM Modems WHERE ModemId > 1 ORDER BY ModemId"));
    while (q.next())
        modems << fromModemsRow(q);
    return modems;
}

std::optional<ModemConfig> ModemsRepository::find(int id)
{
    if (id == 1)
        return readFirstModem(db);
    Query q(db, QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM Modems WHERE ModemId = ? AND ModemId > 1"),
            {id});
    if (!q.next())
        return std::nullopt;
    return fromModemsRow(q);
}

int ModemsRepository::save(const ModemConfig& modem)
{
    db.beginTransaction();
    try {
        int id = modem.id;
        if (id == 1) {
            WriteModemSetting(db, {modem.port, modem.bitsPerSecond, modem.parity, modem.dataBits, modem.stopBits,
                                   modem.flowControl, modem.characterSet, Database::DbBool(modem.callerId),
                                   modem.delayFactor});
            WriteMessageFormat(db, modem.pdu ? QStringLiteral("PDU") : QStringLiteral("Text"));
            writeFirstModemExtras(db, modem.name, modem.role, modem.enabled, modem.limits);
        } else {
            if (id <= 0) {
                // An id nothing has used: Inbox and Sent Items rows keep the id of the modem they went through,
                // and a new modem must not inherit a removed one's rows. Among the shared rows only this
                // computer's keys count: another computer's modems do not take ids here.
                const qint64 base = db.modemKey(1) - 1;
                const qint64 last = db.isServer() ? base + Database::ModemKeySpan - 1 : std::numeric_limits<int>::max();
                const QString shared = QStringLiteral(" UNION ALL SELECT max(%1) - ? FROM %2 WHERE %1 BETWEEN ? AND ?");
                QVariantList values;
                for (int i = 0; i < 4; ++i)
                    values << base << base + 1 << last;
                id = int(std::max<qint64>(
                    2, 1 + db.scalar(QStringLiteral("SELECT coalesce(max(Used), 0) FROM ("
                                                    "SELECT max(ModemId) AS Used FROM Modems") +
                                         shared.arg(QStringLiteral("ModemId"), QStringLiteral("Message_InBox")) +
                                         shared.arg(QStringLiteral("ModemId"), QStringLiteral("Message_OutBox")) +
                                         shared.arg(QStringLiteral("LastModemId"), QStringLiteral("Message_OutBox")) +
                                         shared.arg(QStringLiteral("ClaimedBy"), QStringLiteral("Message_OutBox")) +
                                         QStringLiteral(") AS Ids"),
                                     values)
                               .toLongLong()));
            }
            db.execute(QStringLiteral("INSERT INTO Modems (") + Columns +
                           QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                          "ON CONFLICT (ModemId) "
                                          "DO UPDATE SET Name = excluded.Name, CommPortNo = excluded.CommPortNo, "
                                          "BitsPerSecond = excluded.BitsPerSecond, Parity = excluded.Parity, "
                                          "DataBits = excluded.DataBits, StopBits = excluded.StopBits, "
                                          "FlowControl = excluded.FlowControl, CharacterSet = excluded.CharacterSet, "
                                          "EnabledCallerId = excluded.EnabledCallerId, "
                                          "ModemDelayFactor = excluded.ModemDelayFactor, "
                                          "MessageFormat = excluded.MessageFormat, Role = excluded.Role, "
                                          "Enabled = excluded.Enabled, LimitPerMinute = excluded.LimitPerMinute, "
                                          "LimitPerHour = excluded.LimitPerHour, LimitPerDay = excluded.LimitPerDay, "
                                          "LimitRecipientsPerMonth = excluded.LimitRecipientsPerMonth, "
                                          "GapMinSeconds = excluded.GapMinSeconds, "
                                          "GapMaxSeconds = excluded.GapMaxSeconds"),
                       QVariantList{id, nameValue(modem.name), modem.port, modem.bitsPerSecond, modem.parity,
                                    modem.dataBits, modem.stopBits, modem.flowControl, modem.characterSet,
                                    Database::DbBool(modem.callerId), modem.delayFactor,
                                    modem.pdu ? QStringLiteral("PDU") : QStringLiteral("Text"), roleText(modem.role),
                                    Database::DbBool(modem.enabled)} +
                           limitValues(modem.limits));
        }
        db.commit();
        return id;
    } catch (...) {
        db.rollback();
        throw;
    }
}

bool ModemsRepository::remove(int id)
{
    if (id == 1) {
        const std::optional<ModemConfig> first = readFirstModem(db);
        ModemConfig m = first.value_or(ModemConfig{});
        writeFirstModemExtras(db, m.name, m.role, false, m.limits);
        return false;
    }
    db.beginTransaction();
    try {
        const bool removed = db.execute(QStringLiteral("DELETE FROM Modems WHERE ModemId = ?"), {id}) > 0;
        // Its rows go to the others at once rather than when the lease runs out, and rows kept for it (which
        // nothing would ever send now) to any modem. What it sent keeps its id and name.
        db.execute(QStringLiteral("UPDATE Message_OutBox SET ClaimedBy = NULL, ClaimUntil = NULL WHERE ClaimedBy = ?"),
                   {db.modemKey(id)});
        db.execute(QStringLiteral("UPDATE Message_OutBox SET ModemId = NULL WHERE ModemId = ? AND DeliveryDatetime IS "
                                  "NULL"),
                   {db.modemKey(id)});
        db.commit();
        return removed;
    } catch (...) {
        db.rollback();
        throw;
    }
}

ModemCounts ModemsRepository::counts(int id, const QDate& day, const QDateTime& now)
{
    // Rows sent or failed before modems were recorded went through the first modem, the only one there was.
    const QString sender = id == 1 ? QStringLiteral("coalesce(%1, ?) = ?") : QStringLiteral("%1 = ?");
    const int key = db.modemKey(id);
    const QVariantList senderValues = id == 1 ? QVariantList{key, key} : QVariantList{key};
    ModemCounts c;
    auto [from, to] = Database::DayRange(day, day);
    c.sentToday = int(db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime >= ? AND "
                                              "DeliveryDatetime < ? AND ") +
                                   sender.arg(QStringLiteral("ModemId")),
                               QVariantList{from, to} + senderValues));
    c.queued = int(db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL AND "
                                           "(DeliveryStatus IS NULL OR DeliveryStatus IN ('', 'SENDING')) AND "
                                           "(ClaimedBy = ? OR ModemId = ?)"),
                            {key, key}));
    c.failed = int(db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL AND "
                                           "DeliveryStatus = 'FAILED' AND ") +
                                sender.arg(QStringLiteral("LastModemId")),
                            senderValues));
    if (now.isValid())
        if (const std::optional<ModemConfig> modem = find(id))
            c.limitsUsed = LimitsUsedText(db, id, modem->limits, now);
    return c;
}
