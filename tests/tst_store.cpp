// The message database: creation, reuse, failures, values stored as typed, dates, day ranges, counters
// and the running settings read at start-up (the interrupted-delivery reset: tst_delivery).
#include "TestRig.h"
#include "store/CountryCodes.h"
#include "store/SettingsRows.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

unsigned ModeOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

} // namespace

class StoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshDatabaseHasTheDefaultRows();
    void theFileIsPrivateAndWritesAhead();
    void countryCodesPutLongerPrefixesFirst();
    void secondStartReusesTheDatabase();
    void connectionFailureShowsTheErrorBox_data();
    void connectionFailureShowsTheErrorBox();
    void valuesAreStoredAsTyped();
    void datesReadBackAsTheSameMoment();
    void homeCountersCountUnreadWaitingAndTodaysMissedCalls();
    void runningSettingsAndTheirDefaults();
};

void StoreTest::freshDatabaseHasTheDefaultRows()
{
    TestRig rig;
    QVERIFY(rig.state.DatabaseConnected);
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM ModemSetting"_s), 0);
    auto timers = ReadTimerSetting(rig.db);
    QVERIFY(timers);
    QCOMPARE((QVariantList{timers->EnableReceiveTimer.toInt(), timers->ReceiveAllMessagesTime.toInt(),
                           timers->EnableSendTimer.toInt(), timers->SendAllMessagesTime.toInt(),
                           timers->SMSDelevaryMode.toString()}),
             (QVariantList{-1, 10, -1, 10, u"DIRECT DELIVER"_s}));
    auto reply = ReadAutoReply(rig.db, false);
    QVERIFY(reply && !IsTrue(reply->IsActive) && reply->Message.toString().isEmpty());

    // A new Inbox row is unread; -1/0 booleans.
    rig.db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+1', 'x')"_s);
    QCOMPARE(rig.db.scalar(u"SELECT IsRead FROM Message_InBox"_s).toInt(), 0);
    QCOMPARE(ModeOf(rig.state.dataDir), 0700u);
}

void StoreTest::theFileIsPrivateAndWritesAhead()
{
    SKIP_ON_SERVER("the file's journal and mode");
    TestRig rig;
    QCOMPARE(rig.db.scalar(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
    QCOMPARE(ModeOf(DatabaseFilePath(rig.state)), 0600u);
}

void StoreTest::countryCodesPutLongerPrefixesFirst()
{
    TestRig rig;
    QStringList stored;
    Query q(rig.db, u"SELECT CountryId, CountryCode FROM Country ORDER BY rowid"_s);
    for (int expectedId = 1; q.next(); ++expectedId) {
        QCOMPARE(q.value(0).toInt(), expectedId);
        stored << q.value(1).toString();
    }
    QCOMPARE(stored, CountryCallingCodes());
    QVERIFY(stored.size() > 200);
    QCOMPARE(QSet<QString>(stored.begin(), stored.end()).size(), stored.size());
    for (const char* code : {"1", "1242", "44", "91", "971", "7", "880"})
        QVERIFY2(stored.contains(QLatin1String(code)), code);
    for (qsizetype i = 0; i < stored.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            QVERIFY2(!stored[i].startsWith(stored[j]), qPrintable(stored[j] + u" stands before "_s + stored[i]));
}

void StoreTest::secondStartReusesTheDatabase()
{
    TestRig rig;
    rig.db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+44', 'kept')"_s);
    rig.db.close();
    Database again;
    AppState state;
    state.dataDir = rig.state.dataDir;
    state.dialogs = &rig.dialogs;
    ConnectDatabase(state, again);
    QVERIFY(state.DatabaseConnected);
    QCOMPARE(again.scalar(u"SELECT Message FROM Message_InBox"_s).toString(), u"kept"_s);
    QCOMPARE(again.count(u"SELECT count(*) FROM Timer_setting"_s), 1);
    QCOMPARE(again.count(u"SELECT count(*) FROM Country"_s), CountryCallingCodes().size());
    // Connecting an open connection again closes and reopens it.
    ConnectDatabase(state, again);
    QVERIFY(state.DatabaseConnected);
    QCOMPARE(again.count(u"SELECT count(*) FROM Message_InBox"_s), 1);
}

void StoreTest::connectionFailureShowsTheErrorBox_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("folder cannot be made") << true;
    QTest::newRow(TestOnServer() ? "no such database on the server" : "file is not a database") << false;
}

void StoreTest::connectionFailureShowsTheErrorBox()
{
    QFETCH(bool, folder);
    TestRig rig(false);
    if (folder) {
        // A plain file where the folder's parent should be: no one, not even root, can create it.
        QFile blocker(rig.dir.path() + u"/blocker"_s);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        rig.state.dataDir = blocker.fileName() + u"/broadtext"_s;
    } else if (TestOnServer()) {
        QSettings(rig.state.dataDir + u"/broadtext.conf"_s, QSettings::IniFormat)
            .setValue(u"database"_s, TestCluster().uri(u"no_such_database"_s));
    } else {
        QDir().mkpath(rig.state.dataDir);
        QFile junk(DatabaseFilePath(rig.state));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'j'));
    }
    ConnectDatabase(rig.state, rig.db);
    QVERIFY(!rig.state.DatabaseConnected);
    QCOMPARE(rig.dialogs.messages().size(), 1);
    const QString text = rig.dialogs.messages().first();
    QVERIFY2(text.startsWith(u"Following error occur while connecting with database\r\n\r\nError: "_s),
             qPrintable(text));
    QVERIFY(text.endsWith(u"\r\n\r\nTo overcome this error please set proper data base for your application."_s));
    QVERIFY(text.size() > 140); // the engine's own description stands in the middle
}

void StoreTest::valuesAreStoredAsTyped()
{
    TestRig rig;
    // Quotes, comment dashes and a statement of their own are texts, not SQL.
    const QString text = u"It's \"two\" -- '; drop table Message_OutBox; --\r\nGrüße, à bientôt"_s;
    rig.db.execute(u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, DeliveryStatus) VALUES (?, ?, ?)"_s,
                   {text, text, QString()});
    rig.db.execute(u"INSERT INTO Message_OutBox (RecipientMobileNo, DeliveryStatus) VALUES ('2', ?)"_s, {u""_s});
    Query q(rig.db, u"SELECT RecipientMobileNo, Message, DeliveryStatus FROM Message_OutBox ORDER BY Outbox_Id"_s);
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), text);
    QCOMPARE(q.value(1).toString(), text);
    // A null text stays null, an empty one empty.
    QVERIFY(q.value(2).isNull());
    QVERIFY(q.next());
    QVERIFY(!q.value(2).isNull() && q.value(2).toString().isEmpty());
    QVERIFY(!q.next());
    // An aggregate over nothing is one row holding null.
    QVERIFY(rig.db.scalar(u"SELECT max(InBox_Id) FROM Message_InBox"_s).isNull());
}

void StoreTest::datesReadBackAsTheSameMoment()
{
    TestRig rig;
    const QDateTime moments[] = {QDateTime(QDate(2026, 12, 6), QTime(8, 15, 2, 123)),
                                 QDateTime(QDate(2026, 3, 29), QTime(2, 30, 0)),
                                 QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999))};
    for (const QDateTime& t : moments) {
        rig.db.execute(u"INSERT INTO MissedCallStatistics (callerNumber, callDateTime) VALUES ('x', ?)"_s,
                       {Database::DbTime(t)});
        const QDateTime back = Database::FromDbTime(
            rig.db.scalar(u"SELECT callDateTime FROM MissedCallStatistics ORDER BY id DESC LIMIT 1"_s));
        QCOMPARE(back.toMSecsSinceEpoch(), t.toMSecsSinceEpoch());
    }
    // The stored texts sort in time order.
    QVERIFY(Database::DbTime(moments[2]) < Database::DbTime(moments[1]));
    QVERIFY(Database::DbTime(moments[1]) < Database::DbTime(moments[0]));
}

void StoreTest::homeCountersCountUnreadWaitingAndTodaysMissedCalls()
{
    TestRig rig;
    for (int read : {0, 0, 0, -1})
        rig.db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message, IsRead) VALUES ('+1', 'm', ?)"_s, {read});
    for (bool sent : {false, false, true})
        rig.db.execute(
            u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, DeliveryStatus, DeliveryDatetime) "
            u"VALUES ('1', 'm', ?, ?)"_s,
            {sent ? QVariant(u"SENT"_s) : QVariant(), sent ? QVariant(Database::DbTime(rig.clock.now())) : QVariant()});
    // Today runs from midnight to midnight; an answered call is not a missed one.
    const QDate today(2026, 12, 6);
    const auto call = [&](const QDateTime& t, bool missed = true) {
        rig.db.execute(
            u"INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) VALUES ('+1', ?, ?)"_s,
            {Database::DbTime(t), Database::DbBool(missed)});
    };
    call(QDateTime(today.addDays(-1), QTime(23, 59, 59)));
    call(QDateTime(today, QTime(0, 0, 0)));
    call(QDateTime(today, QTime(23, 59, 30)));
    call(QDateTime(today, QTime(12, 0, 0)), false);
    call(QDateTime(today.addDays(1), QTime(0, 0, 0)));
    const HomeCounters c = CountHomePage(rig.db, today);
    QCOMPARE(c.unreadInbox, 3);
    QCOMPARE(c.waitingOutbox, 2);
    QCOMPARE(c.missedCallsToday, 2);
}

void StoreTest::runningSettingsAndTheirDefaults()
{
    TestRig rig;
    LoadRunningSettings(rig.state, rig.db, rig.log);
    // No modem settings: factor 1; the new database's timer row: 10 s each; no active reply.
    QCOMPARE(ReadDelayFactor(rig.db), 1.0);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(10));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(10));
    QVERIFY(!rig.state.AutoReplyActive);
    QVERIFY(rig.log.text().contains("] : Initializing AutoReply On MissedCall Properties.\r\n"_L1));

    // An empty delay factor keeps 1.0; reception switched off gives 0 whatever its time (here none); 3.5 s
    // becomes 4.
    const auto modem = [&](const QString& factor) {
        WriteModemSetting(rig.db, {3, u"9600"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, 0, factor});
    };
    modem(u""_s);
    WriteTimerSetting(rig.db, {0, u""_s, -1, u"3.5"_s, u"DIRECT DELIVER"_s});
    WriteAutoReply(rig.db, {u"  Sorry, I missed your call  "_s, -1});
    LoadRunningSettings(rig.state, rig.db, rig.log);
    QCOMPARE(ReadDelayFactor(rig.db), 1.0);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(0));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(4));
    QVERIFY(rig.state.AutoReplyActive);
    QCOMPARE(rig.state.AutoReplyText, u"Sorry, I missed your call"_s);

    // A stored factor; an inactive reply; no timer row keeps the intervals as they were.
    modem(u"2.75"_s);
    WriteAutoReply(rig.db, {u"x"_s, 0});
    rig.db.execute(u"DELETE FROM Timer_setting"_s);
    LoadRunningSettings(rig.state, rig.db, rig.log);
    QCOMPARE(ReadDelayFactor(rig.db), 2.75);
    QVERIFY(!rig.state.AutoReplyActive);
    QVERIFY(rig.state.AutoReplyText.isEmpty());
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(4));
}

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
