// Hands what the modems bring in over to other programs: each received message (and, when asked, each delivery
// report and call) to the receive hook (a command run in a child process) and to the webhook (a POST to a URL),
// each exactly once as far as this side can make it: a hand-over is marked done only after the target took it,
// so one cut off by a crash is tried again after the restart, and its payload carries an idempotency id with
// which the receiver drops such a repeat. The rows to hand over are made by the database itself (see HandOver
// in store/Database.cpp); this dispatcher works through them one at a time per target, in the background,
// retrying with growing pauses up to the set number of tries. Nothing waits for it.
#pragma once

#include "store/HandOverRepository.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>
#include <memory>

class ActivityLog;
class Clock;
class Database;
class Engine;
class QNetworkAccessManager;
class QNetworkReply;
class QProcess;

class HandOver : public QObject {
    Q_OBJECT
public:
    // The pauses before the second, third ... try; the last repeats.
    static inline const QList<int> DefaultBackoffMs{5000, 30000, 120000, 600000, 3600000};

    HandOver(Database& db, ActivityLog& log, Clock& clock, QObject* parent = nullptr);
    // A try under way is stopped and its row given back, due at once for whoever comes next.
    ~HandOver() override;

    // Wakes the dispatcher when the engine stores messages, reports or calls.
    void follow(Engine& engine);
    // New rows may be due: each idle target looks at once.
    void wake();

    // Tests shorten the pauses and the extra time a held row is kept beyond the target's time limit.
    void setBackoffMs(const QList<int>& pauses) { backoff = pauses; }
    void setHoldMarginMs(int ms) { holdMarginMs = ms; }

    // The JSON both targets get, and the signature of a webhook body.
    static QByteArray Payload(const HandOverRow& row, const HandOverSubject& subject);
    static QString IdempotencyId(const HandOverRow& row);
    static QByteArray Signature(const QByteArray& body, const QString& secret);

Q_SIGNALS:
    // A try ended: handed over, or not (failed: no more tries).
    void handedOver(const QString& target, qint64 handOverId);
    void tryFailed(const QString& target, qint64 handOverId, bool final);

private:
    struct Lane;
    void pump(Lane& lane);
    void start(Lane& lane, const HandOverRow& row, const HandOverSubject& subject);
    void runHook(Lane& lane, const HandOverRow& row, const HandOverSubject& subject, const QByteArray& body);
    void postWebhook(Lane& lane, const HandOverRow& row, const QByteArray& body);
    void ended(Lane& lane, bool ok, const QString& error);
    void schedule(Lane& lane);
    int timeoutMs() const;
    QString describe(const HandOverRow& row) const;

    Database& db;
    ActivityLog& log;
    Clock& clock;
    HandOverRepository rows;
    QList<int> backoff = DefaultBackoffMs;
    int holdMarginMs = 5000;
    std::unique_ptr<Lane> hook;
    std::unique_ptr<Lane> webhook;
    QNetworkAccessManager* network = nullptr;
};
