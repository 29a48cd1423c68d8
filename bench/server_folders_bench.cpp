// How fast the message box pages through and searches big folders on a PostgreSQL message base: the server's
// side of views_messagebox_bench, through the same repository calls the window makes.
//
// Starts a throw-away cluster (tests/support/PgCluster.h), fills N Inbox messages (1 in 100 unread) and N Sent
// Items (default N = 1 000 000) and 100 waiting Outbox rows with generate_series, builds the search indexes as an
// existing base gets them, then times the folder counts, the first, a middle and the last page in two orders, and
// searches as the box runs them (count, then the first page): by a common, a rare and an absent word, by two
// words, by a prefix and by numbers typed with signs. Goal: each below 100 ms. Prints the server's plan of the
// slowest. Usage: server_folders_bench [N]
#include "PgCluster.h"
#include "store/Database.h"
#include "store/FoldersRepository.h"
#include "store/Search.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char* const Words =
    "Meeting moved to Tuesday at ten please confirm. Your parcel is waiting at the depot, bring ID. "
    "OK see you later then. Reminder: the invoice 4471 is due on Friday. call me when you land "
    "Happy birthday! Dinner at eight? The code for your login is 552190, do not share it. "
    "Running late, traffic on the bridge. Balance low: top up soon to keep sending messages. ";

constexpr int PageSize = 100;

double report(const char* what, int runs, const std::function<void()>& f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        t.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double first = t.front();
    std::sort(t.begin(), t.end());
    const double median = t[t.size() / 2];
    std::printf("  %-46s median %8.2f ms  (first %8.2f ms, %d runs)%s\n", what, median, first, runs,
                median < 100 ? "" : "  OVER 100 ms");
    return median;
}

void generate(Database& db, qint64 n)
{
    // Messages of 10 to 160 characters cut from the text above, one in ten thousand with a rare word; dates 30 s
    // apart, newest now; numbers +4477 and eight random digits.
    const QString text = QStringLiteral("substr(?, 1 + (random() * 199)::int, 10 + (random() * 150)::int) || "
                                        "CASE WHEN x % 10000 = 7 THEN ' kumquat' ELSE '' END");
    const QString when = QStringLiteral("to_char(now() AT TIME ZONE 'UTC' - (? - x) * interval '30 seconds', "
                                        "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");
    const QString number = QStringLiteral("'+4477' || lpad((random() * 99999999)::bigint::text, 8, '0')");
    db.beginTransaction();
    db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, IsRead) "
                              "SELECT ") +
                   number + QStringLiteral(", 0, ") + text + QStringLiteral(", ") + when +
                   QStringLiteral(", CASE WHEN x % 100 = 0 THEN 0 ELSE -1 END FROM generate_series(1, ?) AS x"),
               {Words, n, n});
    db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                              "DeliveryStatus, DeliveryDatetime) SELECT 0, ") +
                   number + QStringLiteral(", ") + text + QStringLiteral(", ") + when + QStringLiteral(", 'SENT', ") +
                   when + QStringLiteral(" FROM generate_series(1, ?) AS x"),
               {Words, n, n, n});
    db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                              "SELECT 0, ") +
                   number + QStringLiteral(", ") + text + QStringLiteral(", ") + when +
                   QStringLiteral(" FROM generate_series(1, 100) AS x"),
               {Words, 100});
    db.commit();
}

struct Box {
    Box(FoldersRepository& folders, MessageFolder folder) : folders(folders), folder(folder) {}
    FoldersRepository& folders;
    MessageFolder folder;
    FolderOrder order;
    FolderSearch search;
    qint64 total = 0;

    // What the window does on a new search (or folder): prepare, count, first page.
    void open(const QString& typed)
    {
        search = folders.prepareSearch(folder, typed);
        total = folders.count(folder, search);
        page(0);
    }
    void page(qint64 index) { folders.readPage(folder, order, index * PageSize, PageSize, total, search); }
    qint64 pages() const { return (total + PageSize - 1) / PageSize; }
};

// The plan the server chose for a search's first page, for reading when it is slow.
void explain(Database& db, Box& box, const QString& typed)
{
    const FolderSearch s = box.folders.prepareSearch(box.folder, typed);
    const char* table = box.folder == MessageFolder::Inbox ? "Message_InBox" : "Message_OutBox";
    // EXPLAIN takes no bound values: the bench's own search texts are written in, quoted.
    QString condition = s.sql.check;
    for (const QVariant& v : s.sql.checkValues) {
        QString literal = v.toString();
        literal.replace(QLatin1Char('\''), QStringLiteral("''"));
        condition.replace(condition.indexOf(QLatin1Char('?')), 1, QLatin1Char('\'') + literal + QLatin1Char('\''));
    }
    std::printf("    plan of the count for \"%s\":\n", qPrintable(typed));
    for (Query q(db, QStringLiteral("EXPLAIN (ANALYZE, COSTS OFF) SELECT count(*) FROM %1 WHERE %2")
                         .arg(QLatin1String(table), condition));
         q.next();)
        std::printf("      %s\n", qPrintable(q.value(0).toString()));
}

void timeFolder(const char* name, Box& box, Database& db)
{
    std::printf("%s (goal: each below 100 ms)\n", name);
    report("count", 7, [&] { box.total = box.folders.count(box.folder); });
    box.search = {};
    for (bool descending : {false, true}) {
        box.order = FolderOrder{FolderSortColumn::Date, descending};
        const char* by = descending ? "newest first" : "oldest first";
        report(qPrintable(QStringLiteral("first page, %1").arg(QLatin1String(by))), 7, [&] { box.page(0); });
        report(qPrintable(QStringLiteral("page 2000, %1").arg(QLatin1String(by))), 7, [&] { box.page(2000); });
        report(qPrintable(QStringLiteral("middle page, %1").arg(QLatin1String(by))), 5,
               [&] { box.page(box.pages() / 2); });
        report(qPrintable(QStringLiteral("last page, %1").arg(QLatin1String(by))), 7,
               [&] { box.page(box.pages() - 1); });
    }
    box.order = FolderOrder{FolderSortColumn::Number, false};
    report("first page by number", 7, [&] { box.page(0); });
    box.order = {};
    std::printf("  searches (count + first page):\n");
    double slowest = 0;
    QString worst;
    for (const char* typed :
         {"parcel", "the", "kumquat", "zebra", "parcel depot", "birthd", "inv", "98888", "+44 77 12", "552190"}) {
        const QString text = QString::fromLatin1(typed);
        const double ms = report(qPrintable(QStringLiteral("\"%1\"").arg(text)), 5, [&] { box.open(text); });
        std::printf("    %lld found\n", box.total);
        if (ms > slowest) {
            slowest = ms;
            worst = text;
        }
    }
    box.open(QStringLiteral("parcel"));
    report("\"parcel\", page 50", 5, [&] { box.page(50); });
    report("\"parcel\", last page", 5, [&] { box.page(box.pages() - 1); });
    box.open(QString());
    explain(db, box, worst);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const qint64 n = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    if (!PgCluster::installed()) {
        std::printf("PostgreSQL is not installed (%s)\n", qPrintable(PgCluster::binDir()));
        return 1;
    }
    PgCluster cluster;
    if (!cluster.isReady()) {
        std::printf("The cluster did not start: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    Database db;
    db.open(cluster.uri());

    // Filled without the search indexes, which are then built as on opening an existing base.
    QElapsedTimer t;
    t.start();
    for (const char* table : {"Message_InBox", "Message_OutBox"})
        for (const char* index : {"_words", "_digits"})
            db.execute(QStringLiteral("DROP INDEX IF EXISTS %1%2").arg(QLatin1String(table), QLatin1String(index)));
    generate(db, n);
    std::printf("Generated %lld Inbox and %lld Sent Items rows in %.1f s\n", n, n, t.elapsed() / 1000.0);
    t.restart();
    CreateSearchIndexes(db);
    std::printf("Search indexes built in %.1f s\n", t.elapsed() / 1000.0);
    t.restart();
    db.execute(QStringLiteral("VACUUM ANALYZE"));
    std::printf("VACUUM ANALYZE in %.1f s\n", t.elapsed() / 1000.0);
    for (Query q(db, QStringLiteral("SELECT relname, pg_size_pretty(pg_relation_size(oid)) FROM pg_class WHERE "
                                    "relname ILIKE 'message_%' OR relname ILIKE 'ix_inbox%' OR relname ILIKE "
                                    "'ix_sent%' OR relname ILIKE 'ix_outbox%' ORDER BY pg_relation_size(oid) DESC"));
         q.next();)
        std::printf("    %-24s %s\n", qPrintable(q.value(0).toString()), qPrintable(q.value(1).toString()));

    if (qEnvironmentVariableIsSet("BROADTEXT_BENCH_HOLD")) {
        // For trying statements by hand (psql) on the filled base before the timings.
        std::printf("Holding %s; press Enter to go on\n", qPrintable(cluster.uri()));
        std::getchar();
    }
    FoldersRepository folders(db);
    report("folder tree counts (unread, waiting)", 21, [&] {
        folders.countUnreadInbox();
        folders.countWaitingOutbox();
    });
    Box inbox(folders, MessageFolder::Inbox);
    timeFolder("Inbox", inbox, db);
    Box sent(folders, MessageFolder::SentItems);
    timeFolder("Sent Items", sent, db);
    Box outbox(folders, MessageFolder::Outbox);
    std::printf("Outbox of 100\n");
    report("\"parcel\"", 7, [&] { outbox.open(QStringLiteral("parcel")); });
    return 0;
}
