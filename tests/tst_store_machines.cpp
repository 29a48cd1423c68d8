// Two computers on one PostgreSQL base, each with its own modem 1: the rows they share must tell the two modems
// apart, so that one computer's modem never renews, frees or resets what the other's holds, never takes a row kept
// for the other, and counts only its own sends against its limits and in the modem panel. Two Database objects
// named as two computers stand for them; the test needs the throw-away cluster and skips without PostgreSQL.
#include "PgCluster.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/OutboxRepository.h"
#include "store/SendingLimits.h"

#include <QSqlQuery>
#include <QtTest>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QDateTime Now = QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);

enum class Interference { Claim, Renew, ReleaseAll, Reset };

} // namespace

class TestStoreMachines : public QObject {
    Q_OBJECT

    std::unique_ptr<PgCluster> cluster;
    Database alpha;
    Database beta;
    int made = 0;

private Q_SLOTS:
    void initTestCase()
    {
        if (!PgCluster::installed())
            QSKIP("PostgreSQL is not installed here");
        cluster = std::make_unique<PgCluster>();
        QVERIFY2(cluster->isReady(), qPrintable(cluster->error()));
    }

    // Both computers on a database nobody has used.
    void init()
    {
        QSqlDatabase admin = cluster->addDatabase(QStringLiteral("machines-admin"));
        const QString name = QStringLiteral("machines_%1").arg(++made);
        QVERIFY(QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE %1").arg(name)));
        alpha.setMachine(QStringLiteral("alpha"));
        beta.setMachine(QStringLiteral("beta"));
        alpha.open(cluster->uri(name));
        beta.open(cluster->uri(name));
    }

    void cleanup()
    {
        alpha.close();
        beta.close();
    }

    void oneModemLeavesTheOtherComputersRowAlone_data()
    {
        QTest::addColumn<Interference>("interference");
        QTest::newRow("claim what it holds") << Interference::Claim;
        QTest::newRow("renew leases") << Interference::Renew;
        QTest::newRow("release all") << Interference::ReleaseAll;
        QTest::newRow("reset sending rows") << Interference::Reset;
    }
    void oneModemLeavesTheOtherComputersRowAlone()
    {
        QFETCH(Interference, interference);
        OutboxRepository a(alpha);
        OutboxRepository b(beta);
        const qint64 first = a.queueMessage(QStringLiteral("+4915100000001"), QStringLiteral("one"), Now);
        const qint64 second = a.queueMessage(QStringLiteral("+4915100000002"), QStringLiteral("two"), Now);
        const std::optional<DueOutboxRow> held = a.claim(1, Now, 60s);
        QVERIFY(held);
        QCOMPARE(held->id, first);
        // Under submission, except where the other modem would take it over: only a waiting row is claimed.
        if (interference != Interference::Claim)
            a.markSending(first, Now);
        const std::optional<DueOutboxRow> other = b.claim(1, Now, 60s);
        QVERIFY(other);
        QCOMPARE(other->id, second);

        const QDateTime later = Now.addSecs(30);
        switch (interference) {
        case Interference::Claim:
            QCOMPARE(b.claimNext(1, later, 60s, 0, second - 1), std::nullopt);
            break;
        case Interference::Renew:
            QCOMPARE(b.renewLease(1, later, 60s), 1);
            break;
        case Interference::ReleaseAll:
            QCOMPARE(b.releaseAll(1), 1);
            break;
        case Interference::Reset:
            QCOMPARE(ResetSendingStatus(beta, 1, later), QStringList{});
            break;
        }
        const std::optional<OutboxRecord> mine = a.record(first);
        QVERIFY(mine);
        QCOMPARE(mine->claimedBy, 1);
        QCOMPARE(mine->claimUntil, Now.addSecs(60));
        QCOMPARE(mine->status, interference == Interference::Claim ? QString() : QStringLiteral("SENDING"));
        // Seen from the other computer the row is held, by a modem that is not one of its own.
        QCOMPARE(b.record(first)->claimedBy, -1);
    }

    void aRowKeptForOneComputersModemIsNotTakenByTheOther()
    {
        OutboxRepository a(alpha);
        OutboxRepository b(beta);
        const qint64 reply = a.queueMessage(QStringLiteral("+4915100000003"), QStringLiteral("reply"), Now, 1);
        QCOMPARE(b.countDue(Now, 1), 0);
        QCOMPARE(b.claim(1, Now, 60s), std::nullopt);
        QCOMPARE(b.claimNext(1, Now, 60s, 0, std::numeric_limits<qint64>::max()), std::nullopt);
        QCOMPARE(a.countDue(Now, 1), 1);
        const std::optional<DueOutboxRow> taken = a.claim(1, Now, 60s);
        QVERIFY(taken);
        QCOMPARE(taken->id, reply);
        QCOMPARE(a.record(reply)->modem, 1);
    }

    // Alpha's modem 1 sends `sentByAlpha` rows and beta's modem 1 `sentByBeta`: each computer's limits and modem
    // panel see only its own.
    void eachComputerCountsItsOwnModem_data()
    {
        QTest::addColumn<int>("sentByAlpha");
        QTest::addColumn<int>("sentByBeta");
        QTest::newRow("only alpha") << 2 << 0;
        QTest::newRow("both") << 3 << 1;
    }
    void eachComputerCountsItsOwnModem()
    {
        QFETCH(int, sentByAlpha);
        QFETCH(int, sentByBeta);
        ModemLimits limits;
        limits.perDay = 100;
        for (auto [db, sends] : {std::pair{&alpha, sentByAlpha}, std::pair{&beta, sentByBeta}}) {
            OutboxRepository outbox(*db);
            for (int i = 0; i < sends; ++i) {
                outbox.queueMessage(QStringLiteral("+49151000001%1").arg(i), QStringLiteral("hello"), Now);
                const std::optional<DueOutboxRow> row = outbox.claim(1, Now, 60s);
                QVERIFY(row);
                outbox.markSent(row->id, Now, 0, QStringLiteral("Modem 1"), 1);
            }
            ModemConfig first;
            first.id = 1;
            first.limits = limits;
            ModemsRepository(*db).save(first);
        }
        const QDateTime later = Now.addSecs(60);
        for (auto [db, sends] : {std::pair{&alpha, sentByAlpha}, std::pair{&beta, sentByBeta}}) {
            QCOMPARE(ReadSendingHistory(*db, 1, QString(), later).partTimes.size(), sends);
            SendingHistoryCache cache(1, limits);
            QCOMPARE(cache.read(*db, QString(), later).partTimes.size(), sends);
            const ModemCounts counts = ModemsRepository(*db).counts(1, Now.toLocalTime().date(), later);
            QCOMPARE(counts.sentToday, sends);
            QCOMPARE(counts.limitsUsed, QStringLiteral("%1/100 day").arg(sends));
        }
        // A row kept for alpha's modem waits in alpha's panel only.
        OutboxRepository(alpha).queueMessage(QStringLiteral("+4915100000009"), QStringLiteral("kept"), Now, 1);
        QCOMPARE(ModemsRepository(alpha).counts(1, Now.toLocalTime().date()).queued, 1);
        QCOMPARE(ModemsRepository(beta).counts(1, Now.toLocalTime().date()).queued, 0);
    }

    // A new modem's id is free on its own computer; what the other computer's modems did takes none.
    void aNewModemsIdIsChosenAmongThisComputersOwn()
    {
        OutboxRepository b(beta);
        const qint64 id = b.queueMessage(QStringLiteral("+4915100000004"), QStringLiteral("via five"), Now, 5);
        QVERIFY(b.claim(5, Now, 60s));
        b.markSent(id, Now, 5, QStringLiteral("Modem 5"), 1);
        ModemConfig added;
        added.port = 3;
        QCOMPARE(ModemsRepository(alpha).save(added), 2);
        QCOMPARE(ModemsRepository(beta).save(added), 6);
    }

    // Every connection of every program names its computer; a computer met before keeps its keys, and a new one
    // takes the next place, however often the others connected (keys are ints: a place drawn per connection would
    // run past them within months of a command line called per message).
    void aComputerKeepsItsKeysAcrossConnections()
    {
        const int first = alpha.modemKey(1);
        for (int i = 0; i < 5; ++i) {
            alpha.close();
            alpha.open(alpha.filePath());
        }
        QCOMPARE(alpha.modemKey(1), first);
        Database gamma;
        gamma.setMachine(QStringLiteral("gamma"));
        gamma.openShared(alpha.filePath());
        QCOMPARE(gamma.modemKey(1) - beta.modemKey(1), beta.modemKey(1) - first);
    }
};

QTEST_GUILESS_MAIN(TestStoreMachines)
#include "tst_store_machines.moc"
