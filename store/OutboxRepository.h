// The Outbox rows as the delivery run sees them: picking the next row due, claiming it, and writing what
// became of it. Every statement binds its values; each operation throws DbError when the database fails.
//
// Several modems share the one Outbox. A modem claims a row for a lease (ClaimedBy, ClaimUntil) and renews
// it while it works; a row whose lease ran out is free again, so the rows of a modem that died go to the
// others. A claim is one UPDATE statement, which the database runs as a whole, so two modems (or two
// connections) can never both get a row. Every outcome ends the claim; a retry may go out on another modem.
//
// The modem thread keeps its own instance over its own connection for what it must record during a
// submission (a stored SIM copy, a confirmed part): those are on the row before the modem takes the next step.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>

class Database;
class QSqlQuery;

// What a row may carry beside its number and text when it is queued.
struct QueueOptions {
    QDateTime sendAt;       // not before this moment (invalid: as soon as it can)
    bool autoReply = false; // the reply to a missed call, which quiet hours may let through

    static QueueOptions SendAt(const QDateTime& at) { return {at, false}; }
    static QueueOptions AutoReply() { return {QDateTime(), true}; }
};

struct DueOutboxRow {
    qint64 id = 0;
    QString recipient;
    QString message;
    int attempts = 0;
    int partsSent = 0;
    bool optOutReply = false; // the answer to a stop word, which goes to a number on the opt-out list
};

// A sent row a delivery report may be about.
struct SentOutboxRow {
    qint64 id = 0;
    QString recipient;
    int parts = 0; // message references kept, one per part
    int partsDelivered = 0;
};

// An Outbox or Sent Items row as the message box shows it when it is opened.
struct OutboxRecord {
    QString message;
    QString status;
    int attempts = 0;
    QDateTime nextAttempt; // invalid when none is set
    QString lastError;
    int claimedBy = 0; // the modem holding the row, 0 for none, -1 for a modem of another computer
    QDateTime claimUntil;
    int modem = 0; // waiting: the modem it is kept for; sent: the modem that sent it (0: not recorded; -1: one of
                   // another computer)
    QString modemName;
};

class OutboxRepository {
public:
    explicit OutboxRepository(Database& db) : db(db) {}

    // Queues many rows with one statement prepared once (the wizard's list, within the caller's transaction),
    // in a campaign when one is given (0: none).
    class Batch {
    public:
        explicit Batch(Database& db, qint64 campaign = 0);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        // Gives the new row's id. Throws DbError.
        qint64 add(const QString& number, const QString& text, const QDateTime& at, const QDateTime& sendAt = {});

    private:
        Database& db;
        std::unique_ptr<QSqlQuery> insert;
        qint64 campaign = 0;
    };
    // The lease the single-modem run takes with claimNextRow: longer than any submission with its retries on
    // the modem, since that run does not renew it.
    static constexpr std::chrono::seconds DefaultLease{600};

    // A row cancelled by the user before it went: it stays in the Outbox with this status, like every row
    // that will not be sent, and no run takes it.
    static constexpr const char* CancelledStatus = "CANCELLED";

    // A new row waiting to be sent, queued at `at`; kept for one modem when `modem` is given (0: any modem).
    qint64 queueMessage(const QString& number, const QString& text, const QDateTime& at, int modem = 0,
                        const QueueOptions& options = {});
    // A waiting row no modem holds: sent not before `sendAt` (invalid: as soon as it can) / cancelled. False
    // when the row is no longer waiting (sent, marked, or being sent).
    bool reschedule(qint64 id, const QDateTime& sendAt);
    bool cancel(qint64 id);

    // What quiet hours hold back from countDue, lastDue and the claims of this instance.
    enum class Hold { Nothing, AllButAutoReplies, Everything };
    void setHold(Hold h) { hold = h; }

    // Rows waiting whose next attempt is due at now: how many, and the highest id among them. With a modem
    // given, only the rows it could claim now.
    qint64 countDue(const QDateTime& now, int modem = 0);
    qint64 lastDue(const QDateTime& now, int modem = 0);
    // Claims for `modem` until now + lease the first due row after afterId, up to lastId, in queueing order,
    // that nobody holds (or whose lease ran out) and that is not kept for another modem.
    std::optional<DueOutboxRow> claim(int modem, const QDateTime& now, std::chrono::seconds lease, qint64 afterId = 0,
                                      qint64 lastId = std::numeric_limits<qint64>::max());
    // The single-modem run: a claim for the first modem with the default lease, which also takes again a row
    // the first modem still holds. That run works one row at a time, so such a row is one it lost track of
    // (a write that failed after the claim) and must not wait for its lease.
    std::optional<DueOutboxRow> claimNextRow(const QDateTime& now, qint64 afterId, qint64 lastId);
    // A run's claim for its modem, which works one row at a time: like claim, and it also takes again a row
    // the modem still holds (one it lost track of).
    std::optional<DueOutboxRow> claimNext(int modem, const QDateTime& now, std::chrono::seconds lease, qint64 afterId,
                                          qint64 lastId);
    // Extends the lease of every row the modem holds to now + lease; gives how many.
    int renewLease(int modem, const QDateTime& now, std::chrono::seconds lease);
    // Gives a row back / every row a modem holds (a modem that goes away), for any modem to claim.
    void release(qint64 id);
    int releaseAll(int modem);
    // Keeps a waiting row for one modem, or for any (0).
    void pin(qint64 id, int modem);
    // The delivery mode the settings ask for, or nothing when the settings row is missing.
    std::optional<QString> deliveryMode();

    void markInvalidNumber(qint64 id);
    void markEmptyMessage(qint64 id);
    // SENDING, with the attempt counted and its time kept.
    void markSending(qint64 id, const QDateTime& now);

    // What the modem thread records during a submission.
    void recordStoredCopy(qint64 id, int simIndex);
    void forgetStoredCopy(qint64 id);
    void recordPartSent(qint64 id, int partsSent, const QString& reference);

    // Sent, through the given modem (by default the one holding the row), whose name is kept with it.
    void markSent(qint64 id, const QDateTime& now, int modem = 0, const QString& modemName = {}, int parts = 0);
    // Disconnected under a submission: waiting again, the attempt given back unless it reached the modem.
    void putBack(qint64 id, bool reachedModem);
    // Failed for the network's or the modem's reason: waiting again with the reason kept.
    void recordAttempt(qint64 id, const QString& reason);
    void markFailed(qint64 id, const QString& reason);
    void scheduleRetry(qint64 id, const QString& reason, const QDateTime& next);
    void giveBackAttempt(qint64 id);
    // An outcome written late: unsent only touches a row still SENDING.
    void settleUnsent(qint64 id, const QString& reason);

    // The most recent sent rows (at most 20) whose parts' references include this one.
    QList<SentOutboxRow> sentRowsWithReference(int reference);
    void recordReport(qint64 id, const QString& status, const QDateTime& at, int partsDelivered);

    std::optional<OutboxRecord> record(qint64 id);

private:
    void markSentRow(qint64 id, const QDateTime& now, int modem, const QString& modemName);
    std::optional<DueOutboxRow> take(int modem, const QDateTime& now, std::chrono::seconds lease, qint64 afterId,
                                     qint64 lastId, bool heldByItToo);

    QVariantList eligibleValues(const QString& now) const;

    Database& db;
    Hold hold = Hold::Nothing;
};
