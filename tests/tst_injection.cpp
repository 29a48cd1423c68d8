// Hostile texts against every way a user, a file, a modem or a client gets text into the message base: quotes
// that would end a literal, comments, statement separators, dollar quoting, LIKE/tsquery/FTS5 syntax, NUL and
// control characters, very long and non-Latin texts. Each must be stored as given (or refused where the input
// is checked), every table must stay as it was, and a search must match what was typed as text, never as syntax.
// The same bodies run on SQLite and, as the `_pg` twin, on PostgreSQL.
#include "TestRig.h"
#include "api/ApiRequests.h"
#include "cli/CommandLine.h"
#include "compose/OutboxQueueing.h"
#include "store/CallsRepository.h"
#include "store/CampaignRepository.h"
#include "store/FoldersRepository.h"
#include "store/InboxRepository.h"
#include "store/IntegrationSettings.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"
#include "store/Search.h"
#include "store/SettingsRows.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Every table of the message base (the computer's own schema included on a server) with its row count.
QMap<QString, qint64> tableCounts(Database& db)
{
    const QString names =
        db.isServer() ? u"SELECT table_schema || '.' || table_name FROM information_schema.tables WHERE table_type = "
                        u"'BASE TABLE' AND table_schema NOT IN ('pg_catalog', 'information_schema')"_s
                      : u"SELECT name FROM sqlite_master WHERE type = 'table' AND sql NOT LIKE 'CREATE VIRTUAL%'"_s;
    QMap<QString, qint64> counts;
    for (const QString& table : queryTexts(db, names))
        counts[table] = db.count(u"SELECT count(*) FROM "_s + table);
    return counts;
}

// No table went away or came, and none lost a row.
bool nothingLost(const QMap<QString, qint64>& before, const QMap<QString, qint64>& after)
{
    if (before.keys() != after.keys()) {
        qWarning() << "tables before" << before.keys() << "after" << after.keys();
        return false;
    }
    for (auto it = before.begin(); it != before.end(); ++it)
        if (after.value(it.key()) < it.value()) {
            qWarning() << it.key() << "lost rows:" << it.value() << "->" << after.value(it.key());
            return false;
        }
    return true;
}

QString column(Database& db, const QString& sql, qint64 id)
{
    return db.scalar(sql, {id}).toString();
}

ApiReply api(Database& db, const QByteArray& method, const QString& path, const QJsonObject& body = {},
             const QUrlQuery& query = {}, const QByteArray& key = {})
{
    return HandleApiRequest(db, {method, path, query, key, QJsonDocument(body).toJson()},
                            QDateTime::currentDateTimeUtc());
}

// A CSV cell holding any text: quoted, its quotes doubled.
QByteArray csvCell(const QString& text)
{
    return '"' + QString(text).replace(u'"', u"\"\""_s).toUtf8() + '"';
}

// What a text reads back as: itself, but for the NUL character a PostgreSQL text cannot hold.
QString stored(Database& db, QString text)
{
    return db.isServer() ? text.replace(QChar(0), QChar(0xFFFD)) : text;
}

} // namespace

class InjectionTest : public QObject {
    Q_OBJECT

private:
    void hostileTexts();

private Q_SLOTS:
    void storeKeepsEveryTextWhole_data() { hostileTexts(); }
    void storeKeepsEveryTextWhole();
    void searchMatchesOnlyTypedText_data() { hostileTexts(); }
    void searchMatchesOnlyTypedText();
    void commandLineAndApiStoreOrRefuse_data() { hostileTexts(); }
    void commandLineAndApiStoreOrRefuse();
    void serverAddressCannotSmuggleOptions_data();
    void serverAddressCannotSmuggleOptions();
};

void InjectionTest::hostileTexts()
{
    QTest::addColumn<QString>("given");
    QTest::newRow("quote, drop, comment") << u"'); DROP TABLE Message_OutBox; --"_s;
    QTest::newRow("double quote or true") << u"\" OR 1=1 --"_s;
    QTest::newRow("single quote or true") << u"x' OR '1'='1"_s;
    QTest::newRow("percent") << u"%"_s;
    QTest::newRow("underscore") << u"_"_s;
    QTest::newRow("like wildcards") << u"100%_off [a-z]* ?"_s;
    QTest::newRow("backslashes") << u"\\'\\\\ \\\" end\\"_s;
    QTest::newRow("escape string") << u"E'\\x00' || E'\\''"_s;
    QTest::newRow("dollar quotes") << u"$$; DELETE FROM Message_InBox; $$"_s;
    QTest::newRow("tagged dollar quotes") << u"$tag$ DROP TABLE OptOut $tag$"_s;
    QTest::newRow("statement separators") << u";;; SELECT 1; DELETE FROM Campaigns;"_s;
    QTest::newRow("placeholders") << u"? ?1 :name @p $1 %s {0}"_s;
    QTest::newRow("tsquery syntax") << u"a & !b | c:* <-> (d)"_s;
    QTest::newRow("fts5 syntax") << u"NEAR(a b) OR * AND NOT \"c\" ^d col:e"_s;
    QTest::newRow("control characters") << QString::fromUtf8("tab\there\r\nline\x01\x1b[2J\x7f end");
    QTest::newRow("nul") << QString(u"before"_s + QChar(0) + u"after"_s);
    QTest::newRow("unicode") << u"Ünïcödé ‮reversed‬ 日本語 😀 𝄞 ﷽"_s;
    QTest::newRow("very long") << u"x' OR '1'='1 "_s.repeated(3000) + u"end"_s;
}

// Straight through the repositories: Outbox (one by one and a wizard's queueing run in a campaign), Inbox,
// missed calls, the opt-out list and its settings, the auto-reply and the integration settings.
void InjectionTest::storeKeepsEveryTextWhole()
{
    QFETCH(QString, given);
    TestRig rig;
    const QString text = stored(rig.db, given);
    const QDateTime now = QDateTime::currentDateTime();
    const auto before = tableCounts(rig.db);

    qint64 outboxId = 0;
    {
        OutboxRepository::Batch batch(rig.db);
        outboxId = batch.add(given, given, now);
    }
    QCOMPARE(column(rig.db, u"SELECT RecipientMobileNo FROM Message_OutBox WHERE Outbox_Id = ?"_s, outboxId), text);
    QCOMPARE(column(rig.db, u"SELECT Message FROM Message_OutBox WHERE Outbox_Id = ?"_s, outboxId), text);

    CampaignRepository campaigns(rig.db);
    const qint64 campaign = campaigns.create(given, now);
    QCOMPARE(campaigns.campaign(campaign)->name, text);
    OutboxQueueing queueing(rig.db, rig.clock, {{0, given, given}}, campaign);
    QSignalSpy finished(&queueing, &OutboxQueueing::finished);
    queueing.start();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toString(), QString());
    QCOMPARE(queryTexts(rig.db, u"SELECT Message FROM Message_OutBox WHERE CampaignId = ?"_s, {campaign}),
             QStringList{text});

    InboxRepository inbox(rig.db);
    const qint64 inboxId = inbox.storeInboxMessage(given, given, now, std::nullopt, 0, given);
    QCOMPARE(inbox.messageText(inboxId), std::optional<QString>(text));
    QCOMPARE(column(rig.db, u"SELECT SenderMobileNo FROM Message_InBox WHERE InBox_Id = ?"_s, inboxId), text);
    QCOMPARE(column(rig.db, u"SELECT ModemName FROM Message_InBox WHERE InBox_Id = ?"_s, inboxId), text);

    CallsRepository calls(rig.db);
    calls.recordMissedCall(given, now, 0, given);
    const auto missed = calls.missedCalls(now.date(), now.date());
    QCOMPARE(missed.size(), 1);
    QCOMPARE(missed[0].number, text);

    // The list knows a number by its digits: the text rides on a real number.
    const QString number = u"+447700900123 "_s + given;
    OptOutRepository optOut(rig.db);
    QVERIFY(optOut.add(number, now, 0, given));
    QVERIFY(optOut.contains(number));
    const auto listed = optOut.list();
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed[0].number, stored(rig.db, number));
    QCOMPARE(listed[0].word, text);

    // Stop words are kept a line each.
    const QString word = given.section(QRegularExpression(u"[\r\n]"_s), 0, 0);
    OptOutSettings settings;
    settings.stopWords = {word, u"STOP"_s};
    settings.confirm = true;
    settings.confirmText = given;
    WriteOptOutSettings(rig.db, settings);
    const OptOutSettings read = ReadOptOutSettings(rig.db);
    QCOMPARE(read.confirmText, text);
    QCOMPARE(ClassifyOptOutText(stored(rig.db, word), read.stopWords), OptOutRequest::Stop);
    QCOMPARE(ClassifyOptOutText(u"hello"_s, read.stopWords), OptOutRequest::None);

    WriteAutoReply(rig.db, {given, Database::DbBool(true)});
    QCOMPARE(ReadAutoReply(rig.db, true)->Message.toString(), text);
    WriteIntegrationValue(rig.db, u"ReceiveHook"_s, given);
    QCOMPARE(ReadIntegrationValue(rig.db, u"ReceiveHook"_s), text);

    const auto after = tableCounts(rig.db);
    QVERIFY(nothingLost(before, after));
    QCOMPARE(after.value(rig.db.isServer() ? u"public.message_outbox"_s : u"Message_OutBox"_s),
             before.value(rig.db.isServer() ? u"public.message_outbox"_s : u"Message_OutBox"_s) + 2);
}

// A search is words and digits typed: whatever else it holds is no pattern and no query syntax. Signs alone
// find nothing (rather than everything), and deleting what a search found leaves the rest.
void InjectionTest::searchMatchesOnlyTypedText()
{
    QFETCH(QString, given);
    const QString& text = given;
    TestRig rig;
    const QDateTime now = QDateTime::currentDateTime();
    InboxRepository inbox(rig.db);
    const QStringList plain{u"kiwi"_s, u"yuzu"_s, u"+447700900123"_s};
    for (const QString& p : plain)
        inbox.storeInboxMessage(u"+447700900555"_s, p, now);
    const qint64 hostile = inbox.storeInboxMessage(u"+447700900556"_s, text, now);
    {
        OutboxRepository::Batch batch(rig.db);
        for (const QString& p : plain)
            batch.add(u"+447700900555"_s, p, now);
    }

    FoldersRepository folders(rig.db);
    const SearchTerms terms = ParseSearchText(text);
    const FolderSearch search = folders.prepareSearch(MessageFolder::Inbox, text);
    QVERIFY(search.active);
    // A message is found by its own words; one without words is not found by its signs.
    const qint64 found = folders.count(MessageFolder::Inbox, search);
    QCOMPARE(found, terms.isEmpty() ? 0 : 1);
    const auto rows = folders.readPage(MessageFolder::Inbox, {}, 0, 100, found, search);
    QCOMPARE(qint64(rows.size()), found);
    for (const FolderRow& r : rows)
        QCOMPARE(r.id, hostile);
    QCOMPARE(folders.count(MessageFolder::Outbox, folders.prepareSearch(MessageFolder::Outbox, text)), 0);

    const auto before = tableCounts(rig.db);
    QCOMPARE(folders.deleteAll(MessageFolder::Inbox, search, true).deleted, found);
    QCOMPARE(folders.count(MessageFolder::Inbox), plain.size() + 1 - found);
    QCOMPARE(folders.count(MessageFolder::Outbox), plain.size());
    const auto after = tableCounts(rig.db);
    QCOMPARE(before.keys(), after.keys());
}

// The command line (send, queue from a CSV file as a campaign, optout add) and the HTTP API's requests: a text
// is queued whole, a number that is no number is refused, and nothing else changes.
void InjectionTest::commandLineAndApiStoreOrRefuse()
{
    QFETCH(QString, given);
    TestRig rig;
    const QString text = stored(rig.db, given);
    const auto before = tableCounts(rig.db);
    const QString database = rig.db.filePath(); // the file, or the server's address
    const auto cli = [&](const QStringList& arguments) {
        QString out, err;
        QTextStream o(&out), e(&err);
        const int code = RunCommandLine(QStringList{u"--database"_s, database} + arguments, o, e);
        o.flush();
        return std::pair{code, out.trimmed()};
    };
    const auto outboxText = [&](qint64 id) {
        return column(rig.db, u"SELECT Message FROM Message_OutBox WHERE Outbox_Id = ?"_s, id);
    };
    const auto outboxRows = [&] { return rig.db.count(u"SELECT count(*) FROM Message_OutBox"_s); };
    const auto optOutRows = [&] { return rig.db.count(u"SELECT count(*) FROM OptOut"_s); };

    const auto [sent, sentId] = cli({u"send"_s, u"+447700900123"_s, u"--text"_s, given});
    QCOMPARE(sent, CliExit::Ok);
    QCOMPARE(outboxText(sentId.toLongLong()), text);

    qint64 rows = outboxRows();
    QVERIFY(cli({u"send"_s, given, u"--text"_s, u"Hi"_s}).first != CliExit::Ok);
    QCOMPARE(outboxRows(), rows);
    const qint64 listed = optOutRows();
    QVERIFY(cli({u"optout"_s, u"add"_s, given}).first != CliExit::Ok);
    QCOMPARE(optOutRows(), listed);

    QFile csv(rig.dir.filePath(u"list.csv"_s));
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("number,text\n+447700900124," + csvCell(given) + "\n");
    csv.close();
    const auto [queued, queuedIds] = cli({u"queue"_s, csv.fileName(), u"--campaign"_s, given});
    QCOMPARE(queued, CliExit::Ok);
    QCOMPARE(outboxText(queuedIds.toLongLong()), text);
    QCOMPARE(column(rig.db,
                    u"SELECT c.Name FROM Campaigns c JOIN Message_OutBox o ON o.CampaignId = c.Id "
                    u"WHERE o.Outbox_Id = ?"_s,
                    queuedIds.toLongLong()),
             text);
    rows = outboxRows();
    csv.open(QIODevice::WriteOnly);
    csv.write("number,text\n" + csvCell(given) + ",Hi\n");
    csv.close();
    QVERIFY(cli({u"queue"_s, csv.fileName()}).first != CliExit::Ok);
    QCOMPARE(outboxRows(), rows);

    const ApiReply posted = api(rig.db, "POST", u"/messages"_s, {{u"to"_s, u"+447700900125"_s}, {u"text"_s, given}}, {},
                                given.left(64).toUtf8());
    QVERIFY2(posted.status / 100 == 2, posted.body.constData());
    const qint64 postedId = QJsonDocument::fromJson(posted.body).object().value(u"id"_s).toInteger();
    QCOMPARE(outboxText(postedId), text);
    rows = outboxRows();
    QCOMPARE(api(rig.db, "POST", u"/messages"_s, {{u"to"_s, given}, {u"text"_s, u"Hi"_s}}).status, 400);
    QCOMPARE(api(rig.db, "POST", u"/optout"_s, {{u"number"_s, given}}).status, 400);
    QUrlQuery query;
    query.addQueryItem(u"since"_s, given);
    QCOMPARE(api(rig.db, "GET", u"/inbox"_s, {}, query).status, 400);
    QCOMPARE(api(rig.db, "GET", u"/messages/"_s + given).status / 100, 4);
    QCOMPARE(outboxRows(), rows);
    QCOMPARE(optOutRows(), listed);

    QVERIFY(nothingLost(before, tableCounts(rig.db)));
}

void InjectionTest::serverAddressCannotSmuggleOptions_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blank and keyword") << u"x dbname=postgres"_s;
    QTest::newRow("quotes") << u"it's 'quoted' dbname='postgres'"_s;
    QTest::newRow("backslash") << u"back\\ dbname=postgres"_s;
}

// The address's query gives libpq settings; a value is one value, whatever blanks, quotes or keywords it holds.
void InjectionTest::serverAddressCannotSmuggleOptions()
{
    QFETCH(QString, name);
    if (!TestOnServer())
        QSKIP("about the PostgreSQL connection");
    TestRig rig;
    const QString uri =
        QSettings(rig.state.dataDir + u"/broadtext.conf"_s, QSettings::IniFormat).value(u"database"_s).toString();
    QUrl url(uri);
    QUrlQuery query(url);
    query.addQueryItem(u"application_name"_s, name);
    url.setQuery(query);
    Database db;
    try {
        db.openShared(url.toString());
    } catch (const DbError& e) {
        QFAIL(qPrintable(e.description()));
    }
    QCOMPARE(db.scalar(u"SELECT current_setting('application_name')"_s).toString(), name);
    QCOMPARE(db.scalar(u"SELECT current_database()"_s).toString(), url.path().mid(1));
}

QTEST_MAIN(InjectionTest)
#include "tst_injection.moc"
