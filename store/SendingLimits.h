// What an operator lets one SIM send: parts a minute, an hour and a day, distinct recipients a calendar month,
// and a random gap between messages. The decision is a pure function of the limits and the modem's history,
// so that each window and its edges are tested without a modem or a clock; the history is read from the
// SentParts table, which markSent writes for every sent row (Sent Items alone would not do: the user may delete
// them, and they do not say how many parts a row took).
#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

class Database;

// 0 means no limit.
struct ModemLimits {
    int perMinute = 0;
    int perHour = 0;
    int perDay = 0;
    int recipientsPerMonth = 0;
    int gapMinSeconds = 0; // the pause before each message, chosen at random in [min, max]
    int gapMaxSeconds = 0;
    bool any() const { return perMinute > 0 || perHour > 0 || perDay > 0 || recipientsPerMonth > 0; }
    bool operator==(const ModemLimits&) const = default;
};

// What the modem sent lately: the time of every part of the last day, and this month's recipients.
struct SendingHistory {
    QList<QDateTime> partTimes;  // oldest first
    int monthRecipients = 0;     // distinct recipients since the start of this calendar month
    bool knownRecipient = false; // the row's recipient is one of them: it does not count again
};

struct LimitVerdict {
    bool allowed = true;
    QDateTime notBefore;         // when not allowed: the first moment the row fits (invalid: never, as far as known)
    bool partsLimit = false;     // held back by a window of parts: nothing goes before notBefore
    bool recipientLimit = false; // held back by the month's recipients: rows to known recipients still go
};

// Whether a row of `parts` parts may go now. A row of more parts than a window allows goes when that window is
// empty rather than never: it is the most the SIM can do, and a row nothing can ever send would stay queued.
LimitVerdict SendingLimits(const ModemLimits& limits, const SendingHistory& history, int parts, const QDateTime& now);

// The history SendingLimits needs, read from SentParts; the recipient compared as the delivery run cleans it.
SendingHistory ReadSendingHistory(Database& db, int modem, const QString& cleanedRecipient, const QDateTime& now);

// A delivery run's view of its modem's history, so that weighing a row costs no reading of the modem's day: read
// once at the run's first look, then only the SentParts rows written since (by the run's own sends, an outcome
// settled late or another process alike), found by their rowid, which only grows as nothing deletes from the
// table. Only what the limits weigh is kept: the newest parts up to the largest window's limit (the verdict of
// every window depends on no older one), and this month's recipients only under a monthly limit. The verdicts are
// those of ReadSendingHistory.
class SendingHistoryCache {
public:
    SendingHistoryCache(int modem, const ModemLimits& limits);
    SendingHistory read(Database& db, const QString& cleanedRecipient, const QDateTime& now);

private:
    void add(const QDateTime& at, int parts);
    void readRecipients(Database& db);

    int modem;
    ModemLimits limits;
    int kept;               // parts kept: the largest window's limit, 0 without one
    qint64 seen = -1;       // the highest SentParts rowid read, -1 before the first look
    QList<QDateTime> times; // oldest first
    QString month;          // the start of the month the recipients are of, as stored
    QSet<QString> recipients;
};

// How much of each limit is used now, as the modem panel shows it ("7/10 min · 120/500 day"); empty when the
// modem has no limits.
QString LimitsUsedText(Database& db, int modem, const ModemLimits& limits, const QDateTime& now);

// The statement that records a row as sent in SentParts (values: the modem's key or null for its holder, the first
// modem's key for a row nobody held, the time, the parts the run counted or 0, the row's id); it adds nothing for a
// row already sent.
QString SentPartsInsertFor();
