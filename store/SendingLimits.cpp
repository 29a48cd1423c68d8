#include "store/SendingLimits.h"

#include "store/Database.h"

#include <algorithm>

namespace {

struct Window {
    int limit;
    qint64 seconds;
};

QDateTime startOfMonth(const QDateTime& now)
{
    const QDate d = now.toLocalTime().date();
    return QDate(d.year(), d.month(), 1).startOfDay();
}

// The recipient as the run cleans it: blanks, "-" and "." left out.
const char* const CleanedRecipient =
    "replace(replace(replace(trim(coalesce(RecipientMobileNo, '')), ' ', ''), '-', ''), '.', '')";

} // namespace

LimitVerdict SendingLimits(const ModemLimits& limits, const SendingHistory& history, int parts, const QDateTime& now)
{
    LimitVerdict verdict;
    const int k = std::max(parts, 1);
    for (const Window& w : {Window{limits.perMinute, 60}, Window{limits.perHour, 3600}, Window{limits.perDay, 86400}}) {
        if (w.limit <= 0)
            continue;
        const QDateTime from = now.addSecs(-w.seconds);
        // Parts inside the window (from, now], oldest first.
        QList<QDateTime> inside;
        for (const QDateTime& t : history.partTimes)
            if (t > from)
                inside << t;
        std::sort(inside.begin(), inside.end());
        const qsizetype count = inside.size();
        if (count == 0 || count + k <= w.limit)
            continue;
        // The oldest parts must leave the window until the row fits (all of them for a row larger than it).
        const qsizetype leaving = k > w.limit ? count : count + k - w.limit;
        const QDateTime fits = inside.at(leaving - 1).addSecs(w.seconds);
        verdict.allowed = false;
        verdict.partsLimit = true;
        if (!verdict.notBefore.isValid() || fits > verdict.notBefore)
            verdict.notBefore = fits;
    }
    if (limits.recipientsPerMonth > 0 && !history.knownRecipient &&
        history.monthRecipients >= limits.recipientsPerMonth) {
        verdict.allowed = false;
        verdict.recipientLimit = true;
        const QDateTime nextMonth = startOfMonth(now).addMonths(1);
        if (!verdict.notBefore.isValid() || nextMonth > verdict.notBefore)
            verdict.notBefore = nextMonth;
    }
    return verdict;
}

SendingHistory ReadSendingHistory(Database& db, int modem, const QString& cleanedRecipient, const QDateTime& now)
{
    SendingHistory h;
    Query parts(db,
                QStringLiteral("SELECT SentAt, Parts FROM SentParts WHERE ModemId = ? AND SentAt > ? ORDER BY SentAt"),
                {db.modemKey(modem), Database::DbTime(now.addSecs(-86400))});
    while (parts.next()) {
        const QDateTime at = Database::FromDbTime(parts.value(0));
        for (int n = std::max(parts.value(1).toInt(), 1); n > 0; --n)
            h.partTimes << at;
    }
    const QString month = Database::DbTime(startOfMonth(now));
    h.monthRecipients = int(
        db.count(QStringLiteral("SELECT count(DISTINCT Recipient) FROM SentParts WHERE ModemId = ? AND SentAt >= ?"),
                 {db.modemKey(modem), month}));
    h.knownRecipient = db.count(QStringLiteral("SELECT count(*) FROM SentParts WHERE ModemId = ? AND SentAt >= ? AND "
                                               "Recipient = ?"),
                                {db.modemKey(modem), month, cleanedRecipient}) > 0;
    return h;
}

SendingHistoryCache::SendingHistoryCache(int modem, const ModemLimits& limits)
    : modem(modem), limits(limits), kept(std::max({limits.perMinute, limits.perHour, limits.perDay, 0}))
{}

void SendingHistoryCache::add(const QDateTime& at, int parts)
{
    const auto place = std::upper_bound(times.begin(), times.end(), at);
    times.insert(place - times.begin(), std::max(parts, 1), at);
    if (times.size() > kept)
        times.remove(0, times.size() - kept);
}

void SendingHistoryCache::readRecipients(Database& db)
{
    recipients.clear();
    Query q(db,
            QStringLiteral("SELECT DISTINCT Recipient FROM SentParts WHERE ModemId = ? AND SentAt >= ? AND rowid <= ? "
                           "AND Recipient IS NOT NULL"),
            {db.modemKey(modem), month, seen});
    while (q.next())
        recipients.insert(q.value(0).toString());
}

SendingHistory SendingHistoryCache::read(Database& db, const QString& cleanedRecipient, const QDateTime& now)
{
    SendingHistory h;
    if (!limits.any())
        return h;
    const bool monthly = limits.recipientsPerMonth > 0;
    const QString thisMonth = Database::DbTime(startOfMonth(now));
    if (seen < 0) {
        // What is written from here on is read as new: the first look takes only the rows up to it.
        seen = db.scalar(QStringLiteral("SELECT coalesce(max(rowid), 0) FROM SentParts")).toLongLong();
        if (kept > 0) {
            // The newest rows hold at least the newest `kept` parts.
            Query parts(db,
                        QStringLiteral("SELECT SentAt, Parts FROM SentParts WHERE ModemId = ? AND SentAt > ? AND "
                                       "rowid <= ? ORDER BY SentAt DESC LIMIT ?"),
                        {db.modemKey(modem), Database::DbTime(now.addSecs(-86400)), seen, kept});
            while (parts.next())
                add(Database::FromDbTime(parts.value(0)), parts.value(1).toInt());
        }
        if (monthly) {
            month = thisMonth;
            readRecipients(db);
        }
    } else {
        // Only the table's own order by rowid finds the new rows at once: the modem's index would read them all.
        const qint64 last = db.scalar(QStringLiteral("SELECT coalesce(max(rowid), 0) FROM SentParts")).toLongLong();
        Query fresh(db,
                    QStringLiteral("SELECT SentAt, Parts, Recipient FROM SentParts WHERE rowid > ? AND rowid <= ? AND "
                                   "+ModemId = ?"),
                    {seen, last, db.modemKey(modem)});
        while (fresh.next()) {
            if (kept > 0)
                add(Database::FromDbTime(fresh.value(0)), fresh.value(1).toInt());
            if (monthly && fresh.value(0).toString() >= month && !fresh.value(2).isNull())
                recipients.insert(fresh.value(2).toString());
        }
        seen = last;
        if (monthly && month != thisMonth) {
            month = thisMonth; // a new month: its recipients start again
            readRecipients(db);
        }
    }
    h.partTimes = times;
    if (monthly) {
        h.monthRecipients = int(recipients.size());
        h.knownRecipient = !cleanedRecipient.isNull() && recipients.contains(cleanedRecipient);
    }
    return h;
}

QString LimitsUsedText(Database& db, int modem, const ModemLimits& limits, const QDateTime& now)
{
    if (!limits.any())
        return {};
    const SendingHistory h = ReadSendingHistory(db, modem, QString(), now);
    auto used = [&](qint64 seconds) {
        const QDateTime from = now.addSecs(-seconds);
        return std::count_if(h.partTimes.begin(), h.partTimes.end(), [&](const QDateTime& t) { return t > from; });
    };
    QStringList shown;
    if (limits.perMinute > 0)
        shown << QStringLiteral("%1/%2 min").arg(used(60)).arg(limits.perMinute);
    if (limits.perHour > 0)
        shown << QStringLiteral("%1/%2 hour").arg(used(3600)).arg(limits.perHour);
    if (limits.perDay > 0)
        shown << QStringLiteral("%1/%2 day").arg(used(86400)).arg(limits.perDay);
    if (limits.recipientsPerMonth > 0)
        shown << QStringLiteral("%1/%2 recipients month").arg(h.monthRecipients).arg(limits.recipientsPerMonth);
    return shown.join(QStringLiteral(" \u00B7 "));
}

// Written with the row it is about: see OutboxRepository::markSent. The parts recorded are the largest of the row's,
// the run's and 1, spelled with CASE since PostgreSQL has no max() of several values; Run names the bound count so
// that it is bound once.
QString SentPartsInsertFor()
{
    return QStringLiteral("INSERT INTO SentParts (ModemId, SentAt, Recipient, Parts) SELECT coalesce(?, ClaimedBy, "
                          "ModemId, ?), ?, ") +
           QLatin1String(CleanedRecipient) +
           QStringLiteral(", CASE WHEN PartsSent >= Counted AND PartsSent >= 1 THEN PartsSent WHEN Counted >= 1 THEN "
                          "Counted ELSE 1 END"
                          " FROM Message_OutBox, (SELECT CAST(? AS INTEGER) AS Counted) AS Run WHERE Outbox_Id = ? AND"
                          " DeliveryDatetime IS NULL");
}
