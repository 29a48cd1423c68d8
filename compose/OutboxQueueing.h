// Puts the wizard's rows into the Outbox a slice at a time from the application's event loop: each slice is
// one short transaction, and between slices everything else the program does (the modem's results, the
// windows) gets its turn, without a nested event loop. A slice that fits the first turn ends the job at
// once, so a short list is queued before Send returns. What a slice committed stays committed when a later
// one fails or the user cancels. A run queued as a campaign carries its id on every row, and a number it
// already queued (by the opt-out list's key, so spellings of one number are one) is queued once.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>

#include <vector>

class Clock;
class Database;

class OutboxQueueing : public QObject {
    Q_OBJECT
public:
    struct Row {
        qint64 listRow; // where the row stands in the window's list
        QString number;
        QString message;
    };

    // campaign: the Campaigns row the run is queued in, 0 for none (then repeated numbers are queued as given).
    // sendAt: when every row may be sent, invalid for at once.
    OutboxQueueing(Database& db, const Clock& clock, std::vector<Row> rows, qint64 campaign = 0,
                   const QDateTime& sendAt = {}, QObject* parent = nullptr);

    // Queues the first slice now and the rest from the event loop; finished() ends the job either way.
    void start();
    // Stops after the slice under way (none is under way while events are handled): finished() follows.
    void cancel();

    qint64 total() const { return qint64(rows.size()); }
    // The list rows dealt with so far, in order: saved in the Outbox, or left out as a number the campaign
    // already has.
    const std::vector<qint64>& committed() const { return saved; }
    // The rows left out so far because the campaign already had their number.
    qint64 duplicates() const { return repeated; }

Q_SIGNALS:
    void progress(qint64 done, qint64 total);
    // error is empty when every row was queued or the user cancelled.
    void finished(const QString& error, bool cancelled);

private:
    void slice();
    void finish(const QString& error);

    Database& db;
    const Clock& clock;
    std::vector<Row> rows;
    std::vector<qint64> saved;
    qint64 campaign = 0;
    QDateTime sendAt;
    QSet<QString> keys; // of the numbers queued in the campaign, committed or in the slice under way
    qint64 repeated = 0;
    size_t next = 0;
    bool cancelled = false;
    bool ended = false;
};
