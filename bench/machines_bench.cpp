// Eight simulated modems on one computer against two computers with four each, all on one PostgreSQL server (a
// throw-away cluster): real `broadtext --headless` processes and the simulator program, N messages queued at once
// (first argument, default 1000). Messages per second from the first message on a network to the last row marked
// sent, each way, and their ratio (the goal: within 10%).
#include "HeadlessMachine.h"
#include "PgCluster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A further simulator process, ended with the run.
struct Simulator : QProcess {
    ~Simulator() override
    {
        kill();
        waitForFinished(5000);
    }
};

// Sends `messages` through the given computers, each with `modems` modems, on a database of its own; gives
// messages per second, or a negative number when it did not get through.
double throughput(PgCluster& cluster, const QString& database, const QStringList& names, int modems, int messages)
{
    // Four modems per simulator process either way, so that only the Broadtext side differs.
    constexpr int PerSimulator = 4;
    {
        QSqlDatabase admin = cluster.addDatabase(u"admin"_s);
        QSqlQuery create(admin);
        if (!create.exec(u"CREATE DATABASE %1"_s.arg(database))) {
            std::fprintf(stderr, "%s\n", qPrintable(create.lastError().text()));
            return -1;
        }
    }
    QSqlDatabase::removeDatabase(u"admin"_s);
    const QString uri = cluster.uri(database);
    QTemporaryDir dir;
    std::vector<std::unique_ptr<HeadlessMachine>> machines;
    std::vector<std::unique_ptr<Simulator>> moreSimulators;
    int unit = 1;
    for (const QString& name : names) {
        auto m = std::make_unique<HeadlessMachine>();
        m->name = name;
        m->home = dir.path() + u"/"_s + name;
        m->modems = modems;
        m->simulated = PerSimulator;
        m->writeConf(uri);
        m->configureModems(uri);
        if (!m->startSimulator(unit)) {
            std::fprintf(stderr, "the simulator of %s did not start\n", qPrintable(name));
            return -1;
        }
        for (int com = PerSimulator + 1; com <= modems; com += PerSimulator) {
            auto& more = moreSimulators.emplace_back(std::make_unique<Simulator>());
            more->start(QStringLiteral(BROADTEXT_MODEMSIM),
                        {u"--data-dir"_s, m->dataDir(), u"--com"_s, QString::number(com), u"--modems"_s,
                         QString::number(PerSimulator), u"--unit"_s, QString::number(unit + com - 1), u"--delay"_s,
                         QString::number(m->networkMs)});
            QByteArray shown;
            if (!more->waitForStarted() || !QTest::qWaitFor(
                                               [&] {
                                                   shown += more->readAllStandardOutput();
                                                   return shown.contains("Type \"help\"");
                                               },
                                               10000)) {
                std::fprintf(stderr, "a simulator of %s did not start\n", qPrintable(name));
                return -1;
            }
        }
        unit += modems;
        machines.push_back(std::move(m));
    }
    Database db;
    db.setMachine(names.first());
    db.open(uri);
    WriteTimerSetting(db, {-1, u"2"_s, -1, u"1"_s, u"DIRECT DELIVER"_s});
    for (auto& m : machines)
        if (!m->startService()) {
            std::fprintf(stderr, "%s did not start: %s\n", qPrintable(m->name), m->serviceErr.constData());
            return -1;
        }

    db.beginTransaction();
    for (int i = 0; i < messages; ++i)
        db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                   "VALUES (0, ?, ?, ?)"_s,
                   {u"98888%1"_s.arg(20000 + i), u"Benchmark message %1"_s.arg(i),
                    Database::DbTime(QDateTime::currentDateTimeUtc())});
    db.commit();

    // From the first message on a network, so that the send timer's first tick counts for neither.
    const auto onNetwork = [&] {
        qsizetype n = 0;
        for (auto& m : machines)
            n += (m->readSim(), m->network.size());
        return n;
    };
    QElapsedTimer waited;
    waited.start();
    while (onNetwork() == 0 && waited.elapsed() < 15000)
        QTest::qWait(5);
    QElapsedTimer sending;
    sending.start();
    const auto sent = [&] { return db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'"_s); };
    while (sent() < messages && sending.elapsed() < 600000)
        QTest::qWait(20);
    const double seconds = sending.elapsed() / 1000.0;
    if (sent() < messages) {
        std::fprintf(stderr, "only %lld of %d sent\n", sent(), messages);
        return -1;
    }
    return messages / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::max(8, QByteArray(argv[1]).toInt()) : 1000;
    if (!PgCluster::installed()) {
        std::printf("PostgreSQL 15 is not installed: nothing measured\n");
        return 0;
    }
    PgCluster cluster;
    if (!cluster.isReady()) {
        std::fprintf(stderr, "%s\n", qPrintable(cluster.error()));
        return 1;
    }
    try {
        const double one = throughput(cluster, u"one_computer"_s, {u"solo"_s}, 8, messages);
        const double two = throughput(cluster, u"two_computers"_s, {u"A"_s, u"B"_s}, 4, messages);
        if (one <= 0 || two <= 0)
            return 1;
        std::printf("%d messages on PostgreSQL, simulated modems:\n", messages);
        std::printf("  1 computer  x 8 modems: %8.1f messages/s\n", one);
        std::printf("  2 computers x 4 modems: %8.1f messages/s\n", two);
        std::printf("  ratio two/one: %.3f (goal: 0.90 to 1.10)\n", two / one);
    } catch (const DbError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
