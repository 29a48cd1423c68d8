// What the local HTTP API keeps and reads in the message database: its token (only a hash is stored), the
// answers it gave to requests carrying an idempotency key, an Outbox row's state as a caller sees it, and the
// Inbox rows received since a moment. Every operation throws DbError when the database fails.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

class Database;

// A new token: 32 random bytes from the system's generator, base64url without padding.
QString NewApiToken();
// The SHA-256 of a token, in hex: what ApiTokenHash holds.
QByteArray ApiTokenHash(const QString& token);
// Whether a presented token has the stored hash, compared in constant time (an empty stored hash matches
// nothing).
bool ApiTokenMatches(const QString& presented, const QByteArray& storedHash);
// Makes a new token, stores its hash (the old token stops working at once) and gives the token, which is
// shown once and kept nowhere.
QString ReplaceApiToken(Database& db);

// An answer given to a request with an idempotency key.
struct StoredApiAnswer {
    int status = 0;
    QByteArray body;
};

// An Outbox or Sent Items row as GET /messages/{id} shows it.
struct ApiMessageState {
    qint64 id = 0;
    QString to;
    QString state; // queued, sending, sent, failed, opted out, cancelled, invalid number, empty message
    int attempts = 0;
    QString lastError;
    QDateTime queuedAt;
    QDateTime sendAt; // invalid: as soon as it can
    QDateTime sentAt; // invalid: not sent
    QString delivery; // what the last delivery report said; empty: none came
    QDateTime reportedAt;
    int parts = 0;
    int partsDelivered = 0;
};

struct ApiInboxMessage {
    qint64 id = 0;
    QString from;
    QString text;
    QDateTime received;
    QString modem;
};

class ApiRepository {
public:
    explicit ApiRepository(Database& db) : db(db) {}

    // The answer kept for a key, if any.
    std::optional<StoredApiAnswer> answer(const QString& key);
    // Claims a key inside the caller's transaction (its first write, so that the transaction holds the write
    // lock before it reads anything): false when the key already has an answer.
    bool claimKey(const QString& key, const QDateTime& at);
    // The answer for a claimed key, in the same transaction as the rows it names.
    void keepAnswer(const QString& key, const StoredApiAnswer& answer);

    std::optional<ApiMessageState> message(qint64 id);
    // Inbox rows received after `since` (all when invalid), oldest first, at most `limit`.
    QList<ApiInboxMessage> inboxSince(const QDateTime& since, int limit);

private:
    Database& db;
};
