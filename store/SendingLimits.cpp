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
                {modem, Database::DbTime(now.addSecs(-86400))});
    while (parts.next()) {
        const QDateTime at = Database::FromDbTime(parts.value(0));
        for (int n = std::max(parts.value(1).toInt(), 1); n > 0; --n)
            h.partTimes << at;
    }
    const QString month = Database::DbTime(startOfMonth(now));
    h.monthRecipients = int(
        db.count(QStringLiteral("SELECT count(DISTINCT Recipient) FROM SentParts WHERE ModemId = ? AND SentAt >= ?"),
                 {modem, month}));
    h.knownRecipient = db.count(QStringLiteral("SELECT count(*) FROM SentParts WHERE ModemId = ? AND SentAt >= ? AND "
                                               "Recipient = ?"),
                                {modem, month, cleanedRecipient}) > 0;
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

// Written with the row it is about: see OutboxRepository::markSent.
QString SentPartsInsertFor()
{
    return QStringLiteral("INSERT INTO SentParts (ModemId, SentAt, Recipient, Parts) SELECT coalesce(?, ClaimedBy, "
                          "ModemId, 1), ?, ") +
           QLatin1String(CleanedRecipient) +
           QStringLiteral(
               ", max(PartsSent, ?, 1) FROM Message_OutBox WHERE Outbox_Id = ? AND DeliveryDatetime IS NULL");
}
