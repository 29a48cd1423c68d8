// Handing received messages, delivery reports and calls over to the receive hook and the webhook: each once,
// through real receivers that fail the first tries, with the dispatcher replaced in the middle of a run; what is
// handed over and when; and what a receiver that keeps failing leaves in the log.
#include "EngineRig.h"
#include "HandOverReceivers.h"
#include "delivery/HandOver.h"
#include "store/CallsRepository.h"
#include "store/InboxRepository.h"
#include "store/IntegrationSettings.h"
#include "store/OutboxRepository.h"

#include <QSignalSpy>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The hand-over rows of a target in each state, as "state count" lines.
QStringList states(Database& db, const QString& target)
{
    return queryTexts(db, u"SELECT State || ' ' || count(*) FROM HandOver WHERE Target = ? GROUP BY State"_s, {target});
}

std::unique_ptr<HandOver> dispatcher(TestRig& rig, SystemClock& clock)
{
    // A killed process loses nothing that was committed at NORMAL; the disk syncs of FULL guard against power
    // cuts only, and would make these tests measure the disk. (A server's own durability setting is its own.)
    if (!rig.db.isServer())
        rig.db.execute(u"PRAGMA synchronous=NORMAL"_s);
    auto h = std::make_unique<HandOver>(rig.db, rig.log, clock);
    h->setBackoffMs({1, 2});
    return h;
}

} // namespace

class HandOverTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachMessageIsHandedOverOnce();
    void aReceptionWakesTheDispatcher();
    void whatIsHandedOver_data();
    void whatIsHandedOver();
    void onlyWhatComesWhileATargetIsSet_data();
    void onlyWhatComesWhileATargetIsSet();
    void aReceiverThatKeepsFailing_data();
    void aReceiverThatKeepsFailing();
};

void HandOverTest::eachMessageIsHandedOverOnce()
{
    // Messages to both targets, each failing its first two tries; a third of the way the dispatcher goes away and
    // a new one takes over the same database. (500 of them, with a real kill, in tst_handover_kill: each try of
    // the hook is a process start, some milliseconds each.)
    constexpr int Messages = 120;
    TestRig rig;
    SystemClock clock;
    HookScript hook(rig.dir.path() + u"/hook"_s, 2);
    WebhookServer server(2);
    WriteIntegrationValue(rig.db, u"HookCommand"_s, hook.path());
    WriteIntegrationValue(rig.db, u"WebhookUrl"_s, server.url());
    auto handOver = dispatcher(rig, clock);
    InboxRepository inbox(rig.db);
    QStringList ids;
    for (int i = 0; i < Messages; ++i) {
        ids << u"msg-%1"_s.arg(inbox.storeInboxMessage(u"+4915550%1"_s.arg(i, 4, 10, QChar(u'0')), u"order %1"_s.arg(i),
                                                       clock.now(), std::nullopt, 1, u"Front desk"_s));
        if (i % 50 == 0)
            handOver->wake();
    }
    handOver->wake();
    QTRY_VERIFY_WITH_TIMEOUT(hook.records().done.size() >= Messages / 3 && server.records().done.size() >= Messages / 3,
                             20000);
    handOver = dispatcher(rig, clock);

    QTRY_COMPARE_WITH_TIMEOUT(states(rig.db, u"hook"_s), QStringList{u"done %1"_s.arg(Messages)}, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(states(rig.db, u"webhook"_s), QStringList{u"done %1"_s.arg(Messages)}, 20000);
    for (const ReceiverRecords& r : {hook.records(), server.records()}) {
        QStringList taken = r.done.keys();
        taken.sort();
        QStringList expected = ids;
        expected.sort();
        QCOMPARE(taken, expected);
        QCOMPARE(r.takenMoreThanOnce(), 0);
        // A repeat can only be the one try each target had under way when its dispatcher went.
        QVERIFY(r.repeats.size() <= 1);
    }
    QCOMPARE(server.requests - server.records().repeats.size(), 3 * Messages);
    QVERIFY(rig.logFile().contains(u"Could not hand over message %1 to the hook (try 1 of 5): it ended with status 1: "
                                   u"not yet (1); trying again in 1 s"_s.arg(ids.last().mid(4))));
    QVERIFY(rig.logFile().contains(u"Handed over message %1 to the webhook at try 3"_s.arg(ids.last().mid(4))));
}

void HandOverTest::aReceptionWakesTheDispatcher()
{
    // The dispatcher has looked and found nothing; the engine's news of a stored message is what sends it on.
    EngineRig rig;
    SystemClock clock;
    HookScript hook(rig.dir.path() + u"/hook"_s, 0);
    WriteIntegrationValue(rig.db, u"HookCommand"_s, hook.path());
    HandOver handOver(rig.db, rig.log, clock);
    handOver.follow(rig.engine);
    QTest::qWait(20);
    rig.sim.storeMessage(u"REC UNREAD"_s, u"+919812345678"_s, u"Is the order ready?"_s, false);
    QVERIFY(rig.connectModem());
    rig.receive();
    const QString id = u"msg-%1"_s.arg(rig.db.scalar(u"SELECT max(InBox_Id) FROM Message_InBox"_s).toLongLong());
    QTRY_COMPARE(hook.records().done.keys(), QStringList{id});
    QVERIFY(hook.environment(id).contains(u"\nIs the order ready?\n"_s));
}

void HandOverTest::whatIsHandedOver_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("secret");
    QTest::newRow("message") << u"message"_s << QString();
    QTest::newRow("message, signed") << u"message"_s << u"s3cret"_s;
    QTest::newRow("report") << u"report"_s << QString();
    QTest::newRow("call") << u"call"_s << u"s3cret"_s;
}

void HandOverTest::whatIsHandedOver()
{
    QFETCH(QString, kind);
    QFETCH(QString, secret);
    TestRig rig;
    SystemClock clock;
    HookScript hook(rig.dir.path() + u"/hook"_s, 0);
    WebhookServer server(0, secret);
    WriteIntegrationValue(rig.db, u"HookCommand"_s, u"\"%1\" --from broadtext"_s.arg(hook.path()));
    WriteIntegrationValue(rig.db, u"WebhookUrl"_s, server.url());
    WriteIntegrationValue(rig.db, u"WebhookSecret"_s, secret);
    for (const QString& flag : {u"HookOnReports"_s, u"HookOnCalls"_s, u"WebhookOnReports"_s})
        WriteIntegrationFlag(rig.db, flag, true);
    auto handOver = dispatcher(rig, clock);
    const QDateTime at = QDateTime(QDate(2026, 3, 1), QTime(9, 30, 5), Qt::UTC);
    qint64 id = 0;
    QString number = u"+15550001"_s, text, status;
    if (kind == u"message") {
        text = u"Grüße,\n\"two\" lines"_s;
        id = InboxRepository(rig.db).storeInboxMessage(number, text, at, std::nullopt, 2, u"Back office"_s);
    } else if (kind == u"report") {
        text = u"your order"_s;
        id = rig.db.insert(u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, ModemName) VALUES (?, ?, ?)"_s,
                           {number, text, u"Back office"_s});
        status = u"Delivered"_s;
        OutboxRepository(rig.db).recordReport(id, status, at, 1);
    } else {
        CallsRepository(rig.db).recordMissedCall(number, at, 2, u"Back office"_s);
        id = rig.db.scalar(u"SELECT max(id) FROM MissedCallStatistics"_s).toLongLong();
    }
    handOver->wake();

    const bool toWebhook = kind != u"call"; // calls go to the hook only
    QTRY_COMPARE(hook.records().done.size(), 1);
    QTRY_COMPARE(server.records().done.size(), toWebhook ? 1 : 0);
    const QString hookId = hook.records().done.keys().constFirst();
    QCOMPARE(hook.environment(hookId),
             QStringList({QString::number(id), kind, number, text, u"2026-03-01T09:30:05Z"_s, u"Back office"_s, {}})
                 .join(u'\n'));
    QJsonObject expected{{u"idempotency_id"_s, hookId}, {u"kind"_s, kind}, {u"id"_s, id},
                         {u"number"_s, number},         {u"text"_s, text}, {u"received"_s, u"2026-03-01T09:30:05Z"_s},
                         {u"modem"_s, u"Back office"_s}};
    if (kind == u"report")
        expected.insert(u"status"_s, status);
    QCOMPARE(QJsonDocument::fromJson(hook.input(hookId)).object(), expected);
    if (toWebhook) {
        const QString webId = server.bodies.keys().constFirst();
        QJsonObject webExpected = expected;
        webExpected.insert(u"idempotency_id"_s, webId);
        QCOMPARE(QJsonDocument::fromJson(server.bodies.value(webId)).object(), webExpected);
        QCOMPARE(server.signatures.value(webId).isEmpty(), secret.isEmpty());
    }
    QCOMPARE(hookId.startsWith(kind == u"message" ? u"msg-"_s : kind + u"-"_s), true);
}

void HandOverTest::onlyWhatComesWhileATargetIsSet_data()
{
    QTest::addColumn<QStringList>("settings"); // name=value
    QTest::addColumn<QString>("event");
    QTest::addColumn<QStringList>("handOvers"); // target kind
    QTest::newRow("nothing set") << QStringList() << u"message"_s << QStringList();
    QTest::newRow("hook: a message") << QStringList{u"HookCommand=/bin/true"_s} << u"message"_s
                                     << QStringList{u"hook message"_s};
    QTest::newRow("hook: a blank command") << QStringList{u"HookCommand=  "_s} << u"message"_s << QStringList();
    QTest::newRow("hook: a report, not asked for")
        << QStringList{u"HookCommand=/bin/true"_s} << u"report"_s << QStringList();
    QTest::newRow("hook: a report") << QStringList{u"HookCommand=/bin/true"_s, u"HookOnReports=1"_s} << u"report"_s
                                    << QStringList{u"hook report"_s};
    QTest::newRow("hook: a call, not asked for")
        << QStringList{u"HookCommand=/bin/true"_s, u"HookOnReports=1"_s} << u"call"_s << QStringList();
    QTest::newRow("hook: a call") << QStringList{u"HookCommand=/bin/true"_s, u"HookOnCalls=1"_s} << u"call"_s
                                  << QStringList{u"hook call"_s};
    QTest::newRow("webhook: a message") << QStringList{u"WebhookUrl=http://127.0.0.1:9/"_s} << u"message"_s
                                        << QStringList{u"webhook message"_s};
    QTest::newRow("webhook: a report") << QStringList{u"WebhookUrl=http://127.0.0.1:9/"_s, u"WebhookOnReports=1"_s}
                                       << u"report"_s << QStringList{u"webhook report"_s};
    QTest::newRow("webhook: no calls") << QStringList{u"WebhookUrl=http://127.0.0.1:9/"_s, u"HookOnCalls=1"_s}
                                       << u"call"_s << QStringList();
    QTest::newRow("both: a message") << QStringList{u"HookCommand=/bin/true"_s, u"WebhookUrl=http://127.0.0.1:9/"_s}
                                     << u"message"_s << QStringList{u"hook message"_s, u"webhook message"_s};
}

void HandOverTest::onlyWhatComesWhileATargetIsSet()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, event);
    QFETCH(QStringList, handOvers);
    TestRig rig;
    OutboxRepository outbox(rig.db);
    const qint64 sent = rig.db.insert(u"INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES ('+1', 'a')"_s);
    auto happen = [&](const QString& status) {
        if (event == u"message")
            InboxRepository(rig.db).storeInboxMessage(u"+15550001"_s, u"hi"_s, rig.clock.now());
        else if (event == u"report")
            outbox.recordReport(sent, status, rig.clock.now(), 0);
        else
            CallsRepository(rig.db).recordMissedCall(u"+15550001"_s, rig.clock.now());
    };
    happen(u"Pending"_s); // before anything is set
    for (const QString& s : settings)
        WriteIntegrationValue(rig.db, s.section(u'=', 0, 0), s.section(u'=', 1));
    happen(u"Delivered"_s);
    happen(u"Delivered"_s); // a report saying again what the row says is no news
    const int events = event == u"report" ? 1 : 2;
    QStringList expected;
    for (const QString& h : handOvers)
        for (int i = 0; i < events; ++i)
            expected << h;
    QCOMPARE(queryTexts(rig.db, u"SELECT Target || ' ' || Kind FROM HandOver ORDER BY Target, Id"_s), expected);
}

void HandOverTest::aReceiverThatKeepsFailing_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("hook: exit status") << u"HookCommand"_s << u"/bin/sh -c \"echo no room >&2; exit 3\""_s
                                       << u"Gave up handing over message 1 to the hook after 2 tries: it ended with "
                                          u"status 3: no room"_s;
    QTest::newRow("hook: too slow") << u"HookCommand"_s << u"/bin/sleep 30"_s
                                    << u"Gave up handing over message 1 to the hook after 2 tries: it did not finish "
                                       u"within 1 s and was stopped"_s;
    QTest::newRow("hook: not there") << u"HookCommand"_s << u"/nonexistent/hook"_s
                                     << u"Gave up handing over message 1 to the hook after 2 tries: it could not be "
                                        u"started"_s;
    QTest::newRow("webhook: 500") << u"WebhookUrl"_s << u"<server>"_s
                                  << u"Gave up handing over message 1 to the webhook after 2 tries: the server "
                                     u"answered 500 No"_s;
    QTest::newRow("webhook: nobody listens") << u"WebhookUrl"_s << u"http://127.0.0.1:9/"_s
                                             << u"Gave up handing over message 1 to the webhook after 2 tries: "
                                                u"Connection refused"_s;
}

void HandOverTest::aReceiverThatKeepsFailing()
{
    QFETCH(QString, setting);
    QFETCH(QString, value);
    QFETCH(QString, logLine);
    TestRig rig;
    SystemClock clock;
    WebhookServer server(1000);
    WriteIntegrationValue(rig.db, setting, value == u"<server>" ? server.url() : value);
    WriteIntegrationNumber(rig.db, u"HookTimeoutSec"_s, 1);
    WriteIntegrationNumber(rig.db, u"HookMaxTries"_s, 2);
    auto handOver = dispatcher(rig, clock);
    QSignalSpy failed(handOver.get(), &HandOver::tryFailed);
    InboxRepository(rig.db).storeInboxMessage(u"+15550001"_s, u"hi"_s, clock.now());
    handOver->wake();
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 5000);
    QCOMPARE(failed.at(1).at(2).toBool(), true);
    QCOMPARE(queryTexts(rig.db, u"SELECT State || ' ' || Tries FROM HandOver"_s), QStringList{u"failed 2"_s});
    QVERIFY2(rig.logFile().contains(logLine), qPrintable(rig.logFile()));
    // Failed is final: a later wake leaves it.
    handOver->wake();
    QTest::qWait(50);
    QCOMPARE(failed.size(), 2);
}

QTEST_GUILESS_MAIN(HandOverTest)
#include "tst_handover.moc"
