// The hand-overs to the receive hook and the webhook (HandOver): which is due, held while it runs, and what
// became of it; and what each is about, read from the row it names. Throws DbError when the database fails.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

class Database;

struct HandOverRow {
    qint64 id = 0;
    QString target; // "hook" or "webhook"
    QString kind;   // "message", "report" or "call"
    qint64 refId = 0;
    QString detail; // a report's status
    int tries = 0;  // with the one now held
};

// What a hand-over tells: the Inbox row, the Outbox row with its report, or the call.
struct HandOverSubject {
    QString number;
    QString text;
    QDateTime at;
    QString modem;
    QString status;
};

class HandOverRepository {
public:
    explicit HandOverRepository(Database& db) : db(db) {}

    // Takes the target's first due row (a pending one whose time has come, or one whose holder let its hold run
    // out), counts the try and holds it until heldUntil; nothing when none is due.
    std::optional<HandOverRow> claimNext(const QString& target, const QDateTime& now, const QDateTime& heldUntil);
    // When the target's next row falls due (held rows when their hold runs out); nothing when none waits.
    std::optional<QDateTime> nextDue(const QString& target);
    // The try ended; false when the row was no longer held by this try (its hold ran out and another took it).
    bool markDone(const HandOverRow& row, const QDateTime& at);
    bool markRetry(const HandOverRow& row, const QDateTime& nextAt, const QString& error);
    bool markFailed(const HandOverRow& row, const QString& error);
    // Gives a held row back, due at once and its try not counted (the dispatcher goes away in the middle of it).
    void release(const HandOverRow& row);

    std::optional<HandOverSubject> subject(const HandOverRow& row);

private:
    bool finish(const HandOverRow& row, const QString& state, const QVariant& nextAt, const QVariant& error,
                const QVariant& handedAt);
    Database& db;
};
