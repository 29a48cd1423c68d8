// What the Outbox's claim and its updates cost per message on PostgreSQL (a throw-away cluster on a local
// socket) against an SQLite file (on the disk, and in /dev/shm like the cluster): N queued rows worked off by 1
// and by 4 claimers, each a thread with its own connection, calling what the delivery run calls for each message
// (claim, SENDING, SENT with its SentParts row); every tenth claim is given back (release) and claimed again
// later, as a row whose modem went away. Prints mean and 99th percentile per call and per sent message (for a
// refused call: the time until it was refused). CLAIM_BENCH_ROWS sets N (default 2000); SKIP_PG leaves the
// server out.
#include "StoreBackend.h"
#include "store/Database.h"
#include "store/OutboxRepository.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Samples = std::map<std::string, std::vector<double>>; // call -> microseconds

struct Figures {
    Samples calls;
    std::vector<double> perMessage;
    qint64 sent = 0;
    double wallMs = 0;
};

void queueRows(const QString& location, int rows)
{
    Database db;
    db.openShared(location);
    db.beginTransaction();
    OutboxRepository::Batch batch(db);
    const QDateTime at = QDateTime::currentDateTime().addSecs(-60);
    for (int i = 0; i < rows; ++i)
        batch.add(QStringLiteral("+4477009%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("Message %1").arg(i),
                  at);
    db.commit();
}

// One modem's store calls until no row is left.
void claimer(const QString& location, int modem, Figures& out, std::mutex& lock)
{
    Database db;
    db.openShared(location);
    OutboxRepository outbox(db);
    const QString name = QStringLiteral("Modem %1").arg(modem);
    Samples calls;
    std::vector<double> perMessage;
    double spent = 0; // since the last message sent, give-backs included
    QElapsedTimer t;
    // A call the database refused (SQLite's file lock held past its wait by another claimer) is tried again, as
    // the run would at its next turn; its time counts, and the refusals are counted apart.
    const auto timed = [&](const char* call, auto&& work) {
        t.start();
        for (int tries = 1;; ++tries) {
            try {
                work();
                break;
            } catch (const DbError& e) {
                if (tries == 20)
                    throw;
                calls[std::string(call) + " refused"].push_back(double(t.nsecsElapsed()) / 1000.0);
            }
        }
        const double us = double(t.nsecsElapsed()) / 1000.0;
        calls[call].push_back(us);
        spent += us;
    };
    for (int claims = 1;; ++claims) {
        const QDateTime now = QDateTime::currentDateTime();
        std::optional<DueOutboxRow> row;
        timed("claim", [&] {
            row = outbox.claimNext(modem, now, OutboxRepository::DefaultLease, 0, std::numeric_limits<qint64>::max());
        });
        if (!row)
            break;
        if (claims % 10 == 0) {
            timed("release", [&] { outbox.release(row->id); });
            continue;
        }
        timed("markSending", [&] { outbox.markSending(row->id, now); });
        timed("markSent", [&] { outbox.markSent(row->id, now, modem, name, 1); });
        perMessage.push_back(spent);
        spent = 0;
    }
    const std::lock_guard<std::mutex> hold(lock);
    for (auto& [call, samples] : calls)
        out.calls[call].insert(out.calls[call].end(), samples.begin(), samples.end());
    out.perMessage.insert(out.perMessage.end(), perMessage.begin(), perMessage.end());
    out.sent += qint64(perMessage.size());
}

Figures run(const QString& location, int rows, int claimers)
{
    queueRows(location, rows);
    Figures f;
    std::mutex lock;
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int m = 1; m <= claimers; ++m)
        threads.emplace_back([&, m] { claimer(location, m, f, lock); });
    for (std::thread& th : threads)
        th.join();
    f.wallMs = double(wall.nsecsElapsed()) / 1e6;
    return f;
}

std::pair<double, double> meanAndP99(std::vector<double> v)
{
    if (v.empty())
        return {0, 0};
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    const size_t p99 = std::min(v.size() - 1, size_t(double(v.size()) * 0.99));
    return {sum / double(v.size()), v[p99]};
}

void print(const char* store, int claimers, int rows, const Figures& f)
{
    const auto [mean, p99] = meanAndP99(f.perMessage);
    std::printf("%-10s %d claimer%s: %lld of %d sent in %.0f ms (%.0f messages/s); per message mean %.0f us, p99 "
                "%.0f us\n",
                store, claimers, claimers == 1 ? " " : "s", f.sent, rows, f.wallMs, 1000.0 * double(f.sent) / f.wallMs,
                mean, p99);
    for (const auto& [call, samples] : f.calls) {
        const auto [m, p] = meanAndP99(samples);
        std::printf("           %-12s %6zu calls: mean %6.0f us, p99 %6.0f us\n", call.c_str(), samples.size(), m, p);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows =
        qEnvironmentVariableIsSet("CLAIM_BENCH_ROWS") ? qEnvironmentVariableIntValue("CLAIM_BENCH_ROWS") : 2000;
    // The file where the program keeps it (every commit waits for the disk), and in memory like the test
    // cluster, whose commits do not wait for a disk (fsync off, in /dev/shm): the like-for-like figure.
    QTemporaryDir disk;
    QTemporaryDir memory(QStringLiteral("/dev/shm/claim-bench-XXXXXX"));
    int files = 0;
    for (const auto& [store, dir] : {std::pair{"SQLite", &disk}, std::pair{"SQLite shm", &memory}}) {
        if (!dir->isValid())
            continue;
        for (int claimers : {1, 4}) {
            const QString file = dir->filePath(QStringLiteral("Broadtext-%1.db").arg(++files));
            {
                Database schema;
                schema.open(file);
            }
            print(store, claimers, rows, run(file, rows, claimers));
        }
    }
    if (qEnvironmentVariableIsSet("SKIP_PG"))
        return 0;
    if (!PgCluster::installed()) {
        std::printf("PostgreSQL: not installed here, left out\n");
        return 0;
    }
    for (int claimers : {1, 4})
        print("PostgreSQL", claimers, rows, run(FreshServerDatabase(), rows, claimers));
    return 0;
}
