#include "compose/OutboxQueueing.h"

#include "common/Seams.h"
#include "store/Database.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"

#include <QElapsedTimer>
#include <QTimer>

#include <optional>

namespace {

// A slice is committed after this long: short enough that a timer or a modem result waits no longer,
// long enough that the commits cost little beside the inserts.
constexpr qint64 SliceMs = 20;
// The clock is read every so many rows.
constexpr size_t RowsBetweenClockReads = 64;

} // namespace

OutboxQueueing::OutboxQueueing(Database& db, const Clock& clock, std::vector<Row> rows, qint64 campaign,
                               const QDateTime& sendAt, QObject* parent)
    : QObject(parent), db(db), clock(clock), rows(std::move(rows)), campaign(campaign), sendAt(sendAt)
{}

void OutboxQueueing::start()
{
    slice();
}

void OutboxQueueing::cancel()
{
    if (ended)
        return;
    cancelled = true;
}

void OutboxQueueing::slice()
{
    if (ended)
        return;
    if (cancelled) {
        finish({});
        return;
    }
    std::optional<OutboxRepository::Batch> batch;
    try {
        batch.emplace(db, campaign);
        db.beginTransaction();
    } catch (const DbError& e) {
        finish(e.description());
        return;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    const size_t first = next;
    const QSet<QString> keysBefore = keys;
    const qint64 repeatedBefore = repeated;
    QString failure;
    for (; next < rows.size(); ++next) {
        if (next > first && (next - first) % RowsBetweenClockReads == 0 && elapsed.elapsed() >= SliceMs)
            break;
        const Row& row = rows[next];
        if (campaign > 0) {
            // A number without digits has no key; it is queued as given and fails as an invalid number.
            const QString key = OptOutKey(row.number);
            if (!key.isEmpty() && keys.contains(key)) {
                ++repeated;
                continue;
            }
            if (!key.isEmpty())
                keys.insert(key);
        }
        try {
            batch->add(row.number, row.message, clock.now(), sendAt);
        } catch (const DbError& e) {
            failure = e.description();
            break;
        }
    }
    batch.reset();
    // What was saved before a failure stays saved.
    try {
        db.commit();
        for (size_t i = first; i < next; ++i)
            saved.push_back(rows[i].listRow);
    } catch (const DbError& e) {
        db.rollback();
        // Nothing of the slice stays: neither do the numbers it would have queued.
        keys = keysBefore;
        repeated = repeatedBefore;
        if (failure.isEmpty())
            failure = e.description();
    }
    if (!failure.isEmpty() || next == rows.size()) {
        finish(failure);
        return;
    }
    Q_EMIT progress(qint64(next), total());
    QTimer::singleShot(0, this, &OutboxQueueing::slice);
}

void OutboxQueueing::finish(const QString& error)
{
    ended = true;
    Q_EMIT finished(error, cancelled && error.isEmpty());
}
