// The search box finds the same messages on a PostgreSQL message base as in the SQLite file. The same rows
// (texts in several alphabets, accents, digits inside words, hyphens, apostrophes, addresses, phone numbers
// written every way) go into both, and each search runs through the message box's own repository on both: its
// count and its rows must agree, and a few are also checked against the rows a reader would pick, so that both
// going wrong the same way still fails.
#include "PgCluster.h"
#include "store/Database.h"
#include "store/FoldersRepository.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

struct Message {
    const char* tag;
    const char* number;
    const char* text;
};

// Every message goes to the Inbox and to the Outbox table; two in three of the latter are sent.
const Message Messages[] = {
    {"meeting", "+44 7712 345678", "Meeting moved to Tuesday, please confirm"},
    {"cafe", "0033 6 12 34 56 78", "Café crème à l'École, naïve façade"},
    {"ecole", "(06) 12-34-56-78", "ÉCOLE FERMÉE DEMAIN"},
    {"strasse", "+49 (0)221 555-0100", "Straße gesperrt, Grüße aus Köln"},
    {"greek", "+30 210 123 4567", "Σύσκεψη αύριο στην ΑΘΗΝΑ, ΟΔΟΣ Ερμού"},
    {"vietnamese", "+84 24 3825 1234", "Tiếng Việt rất hay"},
    {"russian", "8 (495) 123-45-67", "Встреча в Москве ЗАВТРА, ёлка и йогурт"},
    {"code", "8.495.123.45.68", "Код 4471 действует до пятницы"},
    {"japanese", "+81 3-1234-5678", "東京で会いましょう"},
    {"arabic", "+20 2 2345 6789", "مرحبا بك في القاهرة"},
    {"order", "07712/345679", "Order A4-500 ready; ref abc123def, 3rd floor"},
    {"apostrophe", "+1 (555) 019-9000", "don't forget O'Brien's keys"},
    {"address", "555 0199", "Mail john.doe+sms@example.com or see https://shop.example.org/track?id=778899"},
    {"nordic", "+45 33 12 34 56", "Ångström Øresund æble Œuvre"},
    {"mixed", "+447712345678", "OK: 50% off, £20 (today only!) — reply STOP"},
    {"plain", "12345", "ok see you later"},
};

QString tagOf(const QString& shown)
{
    for (const Message& m : Messages)
        if (FolderMessageText(QString::fromUtf8(m.text)) == shown)
            return QString::fromLatin1(m.tag);
    return QStringLiteral("?") + shown;
}

void fill(Database& db)
{
    const QString when = Database::DbTime(QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC));
    int i = 0;
    for (const Message& m : Messages) {
        const QString number = QString::fromUtf8(m.number), text = QString::fromUtf8(m.text);
        db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, "
                                  "IsRead) VALUES (?, 0, ?, ?, 0)"),
                   {number, text, when});
        db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                                  "DeliveryStatus, DeliveryDatetime) VALUES (0, ?, ?, ?, ?, ?)"),
                   {number, text, when, ++i % 3 ? QVariant(QStringLiteral("SENT")) : QVariant(),
                    i % 3 ? QVariant(when) : QVariant()});
    }
}

// What a search finds in a folder, through the message box's repository: its count, then its rows by tag.
QStringList found(Database& db, MessageFolder folder, const QString& typed)
{
    FoldersRepository folders(db);
    const FolderSearch search = folders.prepareSearch(folder, typed);
    const qint64 total = folders.count(folder, search);
    QStringList tags;
    for (const FolderRow& row : folders.readPage(folder, FolderOrder{}, 0, 100, total, search))
        tags << tagOf(row.message);
    tags.sort();
    tags.prepend(QString::number(total));
    return tags;
}

} // namespace

class TestSearchBackends : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sameRowsOnBoth_data();
    void sameRowsOnBoth();
    void deletingFoundRowsOnBoth();
    void farPagesOnBoth_data();
    void farPagesOnBoth();
    void aBaseIndexedTheOlderWayIsBroughtUp();

private:
    QTemporaryDir dir;
    std::unique_ptr<PgCluster> cluster;
    Database lite;
    Database server;
};

void TestSearchBackends::initTestCase()
{
    if (!PgCluster::installed())
        QSKIP("PostgreSQL is not installed");
    cluster = std::make_unique<PgCluster>();
    QVERIFY2(cluster->isReady(), qPrintable(cluster->error()));
    lite.open(dir.filePath(QStringLiteral("broadtext.db")));
    server.open(cluster->uri());
    QVERIFY(server.isServer());
    fill(lite);
    fill(server);
}

void TestSearchBackends::sameRowsOnBoth_data()
{
    QTest::addColumn<MessageFolder>("folder");
    QTest::addColumn<QString>("typed");
    // The rows a reader expects, when checked by hand; an empty list only compares the two.
    QTest::addColumn<QStringList>("expected");
    const auto row = [](const char* name, MessageFolder folder, const char* typed, const QStringList& expected = {}) {
        QTest::newRow(name) << folder << QString::fromUtf8(typed) << expected;
    };
    const MessageFolder in = MessageFolder::Inbox, sent = MessageFolder::SentItems, out = MessageFolder::Outbox;
    const QStringList none{QStringLiteral("-")};
    // Words and the beginnings of words, any case, accents or none.
    row("word", in, "meeting", {"meeting"});
    row("prefix", in, "tues", {"meeting"});
    row("middle of a word", in, "esday", none);
    row("two words", in, "Tuesday confirm", {"meeting"});
    row("two words, one missing", in, "Tuesday zebra", none);
    row("accent typed without", in, "ecole", {"cafe", "ecole"});
    row("accent typed with", in, "Écol", {"cafe", "ecole"});
    row("accent in the middle", in, "creme naive", {"cafe"});
    row("capitals typed", in, "FERMEE", {"ecole"});
    row("umlaut", in, "grusse");
    row("umlaut typed", in, "grüße");
    row("sharp s", in, "straße");
    row("sharp s spelt out", in, "strasse");
    row("o umlaut", in, "koln", {"strasse"});
    row("greek", in, "αθηνα", {"greek"});
    row("greek accent", in, "σύσκεψη", {"greek"});
    row("greek accent left out", in, "συσκεψη");
    row("greek capitals", in, "ΑΘΗ", {"greek"});
    row("capital final sigma", in, "ΟΔΟΣ", {"greek"});
    row("final sigma typed", in, "οδος");
    row("two accents on a letter", in, "tieng viet", {"vietnamese"});
    row("cyrillic", in, "москв", {"russian"});
    row("cyrillic capitals", in, "завтра", {"russian"});
    row("cyrillic yo", in, "елка");
    row("cyrillic short i", in, "иогурт");
    row("cyrillic short i typed", in, "йогурт", {"russian"});
    row("japanese", in, "東京", {"japanese"});
    row("arabic", in, "القاهرة", {"arabic"});
    row("nordic ring", in, "angstrom", {"nordic"});
    row("nordic stroke", in, "oresund");
    row("ligature", in, "oeuvre");
    row("ligature typed", in, "œuvre", {"nordic"});
    // Digits inside words, hyphens and apostrophes cut words as they cut the text.
    row("digits in a word", in, "abc123", {"order"});
    row("word after digits", in, "3rd", {"order"});
    row("hyphenated", in, "A4-500", {"order"});
    row("hyphen halves", in, "500 a4", {"order"});
    row("apostrophe", in, "don't", {"apostrophe"});
    row("after an apostrophe", in, "brien", {"apostrophe"});
    row("single letter", in, "t");
    row("words and digits", in, "код 4471", {"code"});
    // Addresses are words too.
    row("mail address", in, "john.doe@example.com", {"address"});
    row("address part", in, "sms", {"address"});
    row("web address", in, "shop.example.org/track", {"address"});
    row("digits in an address", in, "id=778899", {"address"});
    row("signs around", in, "(today only!)", {"mixed"});
    row("currency", in, "£20", {"mixed"});
    row("percent", in, "50%", {"mixed", "order"});
    // Numbers however they are written, matched on the phone number.
    row("number", in, "7712", {"meeting", "mixed", "order"});
    row("number with signs", in, "+44 77 12", {"meeting", "mixed"});
    row("number in brackets", in, "(495) 123", {"code", "russian"});
    row("number with dots", in, "495.123.45", {"code", "russian"});
    row("number with slash", in, "07712/34", {"order"});
    row("number with a dash", in, "555-0199", {"address", "apostrophe"});
    row("short number", in, "12", {});
    row("two digits apart", in, "4 5");
    row("number nowhere", in, "99999", none);
    row("digits typed as a number are not words", in, "4471", none);
    // The other folders share one table.
    row("sent word", sent, "ecole");
    row("sent number", sent, "12 34");
    row("outbox word", out, "ok");
    row("outbox number", out, "+44");
    row("sent non-latin", sent, "москве");
    row("outbox non-latin", out, "東京");
}

void TestSearchBackends::sameRowsOnBoth()
{
    QFETCH(MessageFolder, folder);
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    const QStringList onFile = found(lite, folder, typed);
    const QStringList onServer = found(server, folder, typed);
    QCOMPARE(onServer.join(QLatin1Char(' ')), onFile.join(QLatin1Char(' ')));
    if (expected == QStringList{QStringLiteral("-")})
        QCOMPARE(onFile, QStringList{QStringLiteral("0")});
    else if (!expected.isEmpty())
        QCOMPARE(onFile.mid(1), expected);
}

// The box deletes the rows chosen in a search by their ids; afterwards both bases hold the same rest.
void TestSearchBackends::deletingFoundRowsOnBoth()
{
    const QString typed = QStringLiteral("ok");
    for (Database* db : {&lite, &server}) {
        FoldersRepository folders(*db);
        const FolderSearch search = folders.prepareSearch(MessageFolder::Inbox, typed);
        QList<qint64> ids;
        for (const FolderRow& row : folders.readPage(MessageFolder::Inbox, FolderOrder{}, 0, 100,
                                                     folders.count(MessageFolder::Inbox, search), search))
            ids << row.id;
        QCOMPARE(folders.deleteMessages(MessageFolder::Inbox, ids, true).deleted, 2);
    }
    QCOMPARE(found(server, MessageFolder::Inbox, QStringLiteral("ok see")), QStringList{QStringLiteral("0")});
    const QStringList rest = found(lite, MessageFolder::Inbox, QStringLiteral("e"));
    QCOMPARE(found(server, MessageFolder::Inbox, QStringLiteral("e")), rest);
}

// Pages far from both ends of a long folder (a server finds their rows in an index first), ties in the date
// included: the same rows in the same order on both.
void TestSearchBackends::farPagesOnBoth_data()
{
    QTest::addColumn<MessageFolder>("folder");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<qint64>("first");
    for (MessageFolder folder : {MessageFolder::Inbox, MessageFolder::SentItems})
        for (bool descending : {false, true})
            for (qint64 first : {1001, 1200, 1800})
                QTest::addRow("%s, %s, from %lld", folder == MessageFolder::Inbox ? "Inbox" : "Sent Items",
                              descending ? "newest first" : "oldest first", first)
                    << folder << descending << first;
}

void TestSearchBackends::farPagesOnBoth()
{
    QFETCH(MessageFolder, folder);
    QFETCH(bool, descending);
    QFETCH(qint64, first);
    static const bool filled = [this] {
        for (Database* db : {&lite, &server}) {
            db->beginTransaction();
            for (int i = 0; i < 3000; ++i) {
                // Three messages a minute: every date is shared.
                const QString when =
                    Database::DbTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(60 * (i / 3)));
                const QString text = QStringLiteral("filler %1").arg(i);
                db->execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, "
                                           "InboxDateTime, IsRead) VALUES ('+15550001', 0, ?, ?, -1)"),
                            {text, when});
                db->execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, "
                                           "OutBoxDateTime, DeliveryStatus, DeliveryDatetime) VALUES (0, '+15550001', "
                                           "?, ?, 'SENT', ?)"),
                            {text, when, when});
            }
            db->commit();
        }
        return true;
    }();
    QVERIFY(filled);
    const auto page = [&](Database& db) {
        FoldersRepository folders(db);
        const qint64 total = folders.count(folder);
        QStringList rows;
        for (const FolderRow& row :
             folders.readPage(folder, FolderOrder{FolderSortColumn::Date, descending}, first, 100, total))
            rows << QString::number(row.id) + QLatin1Char(' ') + row.message;
        return rows;
    };
    const QStringList onFile = page(lite);
    QCOMPARE(onFile.size(), 100);
    QCOMPARE(page(server), onFile);
}

// A server base whose words index was made on the folding function (before the words were stored) gets the
// stored words and their index when opened, and finds what the file finds.
void TestSearchBackends::aBaseIndexedTheOlderWayIsBroughtUp()
{
    server.execute(QStringLiteral("ALTER TABLE Message_InBox DROP COLUMN SearchWords"));
    server.execute(QStringLiteral("DROP FUNCTION public.broadtext_fold"));
    server.execute(QStringLiteral("CREATE INDEX Message_InBox_words ON Message_InBox USING gin "
                                  "(to_tsvector('simple'::regconfig, Message))"));
    server.open(cluster->uri());
    const QString index =
        server.scalar(QStringLiteral("SELECT indexdef FROM pg_indexes WHERE indexname = 'message_inbox_words'"))
            .toString();
    QVERIFY2(index.contains(QLatin1String("(searchwords)")), qPrintable(index));
    for (const QString& typed : {QStringLiteral("ecole"), QStringLiteral("ΟΔΟΣ")})
        QCOMPARE(found(server, MessageFolder::Inbox, typed), found(lite, MessageFolder::Inbox, typed));
}

QTEST_GUILESS_MAIN(TestSearchBackends)
#include "tst_search_backends.moc"
