// Picking the next row to send under the sending policy, in a large message base: 1,000,000 rows waiting in the
// Outbox (the first 100,000 a campaign scheduled for tomorrow, and among the rest some scheduled, some held by
// another modem) and 100,000 numbers on the opt-out list (a tenth of the waiting rows go to one of them), with
// quiet hours set but not reached and a second modem at its minute's limit. A pick is what the delivery run does
// for one row: the quiet hours read, both modems' limits weighed (the one at its limit claims nothing), the claim,
// the opt-out check (a listed row marked OPTED OUT and the next one claimed), and the row's own limits. Printed:
// the mean and 99th percentile of a pick, the first pick of a run (which looks from the start of the Outbox), and
// the count a run starts with.
#include "TestRig.h"
#include "delivery/OutboxRun.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"
#include "store/Schedule.h"
#include "store/SendingLimits.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int Rows = 1000000;
constexpr int ScheduledHead = 100000;
constexpr int Picks = 2000;
const QDateTime Now(QDate(2024, 1, 15), QTime(12, 0));
const ModemLimits Free{0, 100000}; // the modem that picks: an hour's limit far away, read every time
const ModemLimits AtLimit{10};     // the other: 10 parts in the last minute
constexpr int Picker = 1, Other = 2;

QString numberOf(int i)
{
    return QStringLiteral("+4478%1").arg(i, 8, 10, QLatin1Char('0'));
}

void exec(QSqlQuery& q)
{
    if (!q.exec())
        qFatal("%s", qPrintable(q.lastError().text()));
}

void fill(Database& db)
{
    db.beginTransaction();
    QSqlQuery row(db.connection());
    row.prepare(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, SendAt, "
                               "ClaimedBy, ClaimUntil) VALUES (?, ?, ?, ?, ?, ?)"));
    QSqlQuery optOut(db.connection());
    optOut.prepare(QStringLiteral("INSERT INTO OptOut (NumberKey, MobileNo, AddedOn) VALUES (?, ?, ?)"));
    const QString queued = Database::DbTime(Now.addDays(-1)), tomorrow = Database::DbTime(Now.addDays(1));
    const QString leaseEnd = Database::DbTime(Now.addSecs(600));
    for (int i = 1; i <= Rows; ++i) {
        const bool scheduled = i <= ScheduledHead || i % 13 == 5;
        const bool held = !scheduled && i % 17 == 7;
        row.bindValue(0, numberOf(i));
        row.bindValue(1, QStringLiteral("Offer %1: half price on Friday.").arg(i));
        row.bindValue(2, queued);
        row.bindValue(3, scheduled ? QVariant(tomorrow) : QVariant(QString()));
        row.bindValue(4, held ? QVariant(Other) : QVariant());
        row.bindValue(5, held ? QVariant(leaseEnd) : QVariant(QString()));
        exec(row);
        if (i % 10 == 3) {
            optOut.bindValue(0, OptOutKey(numberOf(i)));
            optOut.bindValue(1, numberOf(i));
            optOut.bindValue(2, queued);
            exec(optOut);
        }
    }
    QSqlQuery part(db.connection());
    part.prepare(QStringLiteral("INSERT INTO SentParts (ModemId, SentAt, Recipient, Parts) VALUES (?, ?, ?, 1)"));
    for (int i = 0; i < AtLimit.perMinute; ++i) {
        part.bindValue(0, Other);
        part.bindValue(1, Database::DbTime(Now.addSecs(-50 + i)));
        part.bindValue(2, numberOf(Rows + 1 + i));
        exec(part);
    }
    db.commit();
    WriteScheduleSettings(db, {{QTime(21, 0), QTime(8, 0)}, true});
}

OutboxRepository::Hold quietHold(Database& db)
{
    const ScheduleSettings s = ReadScheduleSettings(db);
    if (!s.quiet.contains(Now))
        return OutboxRepository::Hold::Nothing;
    return s.repliesExempt ? OutboxRepository::Hold::AllButAutoReplies : OutboxRepository::Hold::Everything;
}

// One pick as the run makes it: the row claimed for the picking modem, or none. claimMs gets the part of it spent
// claiming and checking the opt-out list (the rest reads the quiet hours and the limits' history).
// `history` is the picking modem's run's; the other modem, at its limit, starts a run that ends at its first look.
std::optional<DueOutboxRow> pick(Database& db, OutboxRepository& outbox, SendingHistoryCache& history, qint64& afterId,
                                 qint64 lastId, double& claimMs)
{
    QElapsedTimer claiming;
    claimMs = 0;
    // The modem at its limit looks and claims nothing.
    outbox.setHold(quietHold(db));
    if (!SendingLimits(AtLimit, SendingHistoryCache(Other, AtLimit).read(db, QString(), Now), 1, Now).partsLimit)
        qFatal("the other modem is not at its limit");
    for (;;) {
        outbox.setHold(quietHold(db));
        if (SendingLimits(Free, history.read(db, QString(), Now), 1, Now).partsLimit)
            return std::nullopt;
        claiming.start();
        std::optional<DueOutboxRow> row =
            outbox.claimNext(Picker, Now, OutboxRepository::DefaultLease, afterId, lastId);
        if (!row)
            return row;
        afterId = row->id;
        const QString number = CleanRecipientNumber(row->recipient);
        const bool listed = !row->optOutReply && OptOutRepository(db).contains(number);
        if (listed)
            OptOutRepository(db).markOptedOut(row->id);
        claimMs += claiming.nsecsElapsed() / 1e6;
        if (listed)
            continue;
        if (!SendingLimits(Free, history.read(db, number, Now), 1, Now).allowed)
            qFatal("the picking modem is at its limit");
        return row;
    }
}

double percentile(QList<double> v, int p)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(std::min<qsizetype>(v.size() - 1, v.size() * p / 100));
}

double mean(const QList<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.isEmpty() ? 0 : sum / v.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestRig rig;
    if (app.arguments().contains(QStringLiteral("--keep"))) { // the filled base stays for a closer look
        rig.dir.setAutoRemove(false);
        std::printf("base: %s\n", qPrintable(rig.db.filePath()));
    }
    QElapsedTimer t;
    t.start();
    fill(rig.db);
    std::printf("filled %d Outbox rows and %d opted-out numbers in %.1f s\n", Rows, Rows / 10, t.elapsed() / 1e3);

    OutboxRepository outbox(rig.db);
    outbox.setHold(quietHold(rig.db));
    t.restart();
    const qint64 total = outbox.countDue(Now, Picker);
    const qint64 lastId = outbox.lastDue(Now, Picker);
    std::printf("a run's start (count and last of %lld due rows): %.1f ms\n", total, t.nsecsElapsed() / 1e6);

    // The first pick of a run, from the start of the Outbox; the row given back each time.
    QList<double> first;
    double claimMs = 0;
    for (int i = 0; i < 5; ++i) {
        qint64 afterId = 0;
        t.restart();
        SendingHistoryCache history(Picker, Free);
        const std::optional<DueOutboxRow> row = pick(rig.db, outbox, history, afterId, lastId, claimMs);
        first << t.nsecsElapsed() / 1e6;
        if (!row)
            qFatal("nothing to pick");
        outbox.release(row->id);
    }

    QList<double> picks, claims;
    int optedOut = 0;
    qint64 afterId = 0;
    SendingHistoryCache history(Picker, Free);
    for (int i = 0; i < Picks; ++i) {
        const qint64 before = afterId;
        t.restart();
        const std::optional<DueOutboxRow> row = pick(rig.db, outbox, history, afterId, lastId, claimMs);
        picks << t.nsecsElapsed() / 1e6;
        claims << claimMs;
        if (!row)
            qFatal("nothing to pick");
        optedOut += int(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE Outbox_Id > ? AND "
                                                    "Outbox_Id < ? AND DeliveryStatus = 'OPTED OUT'"),
                                     {before, row->id}));
        outbox.markSent(row->id, Now, Picker, QStringLiteral("Pool 1"), 1);
    }
    std::printf("first pick of a run: mean %.2f ms (%d runs)\n", mean(first), int(first.size()));
    std::printf("pick: mean %.3f ms, p99 %.3f ms, max %.3f ms over %d picks (%d opted-out rows passed on the way)\n",
                mean(picks), percentile(picks, 99), percentile(picks, 100), Picks, optedOut);
    std::printf("  of which claiming and the opt-out check: mean %.3f ms, p99 %.3f ms\n", mean(claims),
                percentile(claims, 99));
    return 0;
}
