// The Outbox rows as the delivery run sees them: picking the next row due, claiming it, and writing what
// became of it. Every statement binds its values; each operation throws DbError when the database fails.
//
// The modem thread keeps its own instance over its own connection for what it must record during a
// submission (a stored SIM copy, a confirmed part): those are on the row before the modem takes the next step.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class Database;
class QSqlQuery;

struct DueOutboxRow {
    qint64 id = 0;
    QString recipient;
    QString message;
    int attempts = 0;
    int partsSent = 0;
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
};

class OutboxRepository {
public:
    explicit OutboxRepository(Database& db) : db(db) {}

    // A new row waiting to be sent, queued at `at`.
    qint64 queueMessage(const QString& number, const QString& text, const QDateTime& at);
    // Queues many rows with one statement prepared once (the wizard's list, within the caller's transaction).
    class Batch {
    public:
        explicit Batch(Database& db);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        // Throws DbError.
        void add(const QString& number, const QString& text, const QDateTime& at);

    private:
        std::unique_ptr<QSqlQuery> insert;
    };

    // Rows waiting whose next attempt is due at now: how many, and the highest id among them.
    qint64 countDue(const QDateTime& now);
    qint64 lastDue(const QDateTime& now);
    // The first due row after afterId, up to lastId, in queueing order.
    std::optional<DueOutboxRow> claimNextRow(const QDateTime& now, qint64 afterId, qint64 lastId);
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

    void markSent(qint64 id, const QDateTime& now);
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
    Database& db;
};
