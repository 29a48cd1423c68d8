#include "compose/OutboxQueueing.h"

#include "common/Seams.h"
#include "store/Database.h"
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

OutboxQueueing::OutboxQueueing(Database& db, const Clock& clock, std::vector<Row> rows, QObject* parent)
    : QObject(parent), db(db), clock(clock), rows(std::move(rows))
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
        batch.emplace(db);
        db.beginTransaction();
    } catch (const DbError& e) {
        finish(e.description());
        return;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    const size_t first = next;
    QString failure;
    for (; next < rows.size(); ++next) {
        if (next > first && (next - first) % RowsBetweenClockReads == 0 && elapsed.elapsed() >= SliceMs)
            break;
        const Row& row = rows[next];
        try {
            batch->add(row.number, row.message, clock.now());
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
