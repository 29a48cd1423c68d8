// The message database: creation, reuse, failures, values stored as typed, dates, day ranges, counters,
// the interrupted-delivery reset and the running settings read at start-up.
#include "TestRig.h"
#include "store/CountryCodes.h"
#include "store/SettingsRows.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

class StoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshDatabaseHasEveryTableAndTheDefaultRows();
    void countryCodesPutLongerPrefixesFirst();
    void secondStartReusesTheDatabase();
    void connectionFailureShowsTheErrorBox_data();
    void connectionFailureShowsTheErrorBox();
    void textsAreStoredAsTyped_data();
    void textsAreStoredAsTyped();
    void nullAndEmptyStayDistinct();
    void datesReadBackAsTheSameMoment();
    void todayRunsToMidnight();
    void countersCountUnreadWaitingAndMissed();
    void resetSendingStatusReturnsInterruptedRows();
    void runningSettingsAndTheirDefaults();
};

namespace {

QStringList columns(Database& db, const QString& table)
{
    QStringList out;
    Query q(db, QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (q.next())
        out << q.value(1).toString();
    return out;
}

} // namespace

void StoreTest::freshDatabaseHasEveryTableAndTheDefaultRows()
{
    TestRig rig;
    QVERIFY(rig.state.DatabaseConnected);
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(columns(rig.db, QStringLiteral("Message_InBox")),
             (QStringList{"InBox_Id", "SenderMobileNo", "SenderId", "Message", "InboxDateTime", "IsRead", "SimIndex"}));
    QCOMPARE(columns(rig.db, QStringLiteral("Message_OutBox")),
             (QStringList{"Outbox_Id", "RecepId", "RecipientMobileNo", "Message", "OutBoxDateTime", "DeliveryStatus",
                          "DeliveryDatetime", "Attempts", "LastAttempt", "NextAttempt", "LastError", "SimIndex",
                          "PartsSent", "PartReferences", "ReportStatus", "ReportedAt", "PartsDelivered"}));
    QCOMPARE(columns(rig.db, QStringLiteral("MissedCallStatistics")),
             (QStringList{"id", "callerNumber", "callDateTime", "IsMissCall"}));
    QCOMPARE(columns(rig.db, QStringLiteral("ModemSetting")),
             (QStringList{"CommPortNo", "BitsPerSecond", "Parity", "DataBits", "StopBits", "FlowControl",
                          "CharacterSet", "EnabledCallerId", "ModemDelayFactor", "MessageFormat"}));
    QCOMPARE(columns(rig.db, QStringLiteral("Timer_setting")),
             (QStringList{"EnableReceiveTimer", "ReceiveAllMessagesTime", "EnableSendTimer", "SendAllMessagesTime",
                          "SMSDelevaryMode", "DeliveryReports"}));
    QCOMPARE(columns(rig.db, QStringLiteral("AutoReply_OnMissedCall")), (QStringList{"Message", "IsActive"}));
    QCOMPARE(columns(rig.db, QStringLiteral("Country")), (QStringList{"CountryId", "CountryCode"}));

    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM ModemSetting")), 0);
    auto timers = ReadTimerSetting(rig.db);
    QVERIFY(timers);
    QCOMPARE(timers->EnableReceiveTimer.toInt(), -1);
    QCOMPARE(timers->ReceiveAllMessagesTime.toInt(), 10);
    QCOMPARE(timers->EnableSendTimer.toInt(), -1);
    QCOMPARE(timers->SendAllMessagesTime.toInt(), 10);
    QCOMPARE(timers->SMSDelevaryMode.toString(), QStringLiteral("DIRECT DELIVER"));
    auto reply = ReadAutoReply(rig.db, false);
    QVERIFY(reply);
    QVERIFY(!IsTrue(reply->IsActive));
    QVERIFY(reply->Message.toString().isEmpty());

    // A new Inbox row is unread; -1/0 booleans.
    rig.db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+1', 'x')"));
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT IsRead FROM Message_InBox")).toInt(), 0);
    QCOMPARE(rig.db.scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));

    auto mode = [](const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 0777;
    };
    QCOMPARE(mode(rig.state.dataDir), 0700u);
    QCOMPARE(mode(DatabaseFilePath(rig.state)), 0600u);
}

void StoreTest::countryCodesPutLongerPrefixesFirst()
{
    TestRig rig;
    QStringList stored;
    Query q(rig.db, QStringLiteral("SELECT CountryId, CountryCode FROM Country ORDER BY rowid"));
    int expectedId = 0;
    while (q.next()) {
        QCOMPARE(q.value(0).toInt(), ++expectedId);
        stored << q.value(1).toString();
    }
    QCOMPARE(stored, CountryCallingCodes());
    QVERIFY(stored.size() > 200);
    QCOMPARE(QSet<QString>(stored.begin(), stored.end()).size(), stored.size());
    for (const char* code : {"1", "1242", "44", "91", "971", "7", "880"})
        QVERIFY2(stored.contains(QLatin1String(code)), code);
    for (qsizetype i = 0; i < stored.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            QVERIFY2(!stored[i].startsWith(stored[j]) || stored[i] == stored[j],
                     qPrintable(stored[j] + QStringLiteral(" stands before ") + stored[i]));
}

void StoreTest::secondStartReusesTheDatabase()
{
    TestRig rig;
    rig.db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES (?, ?)"),
                   {QStringLiteral("+44"), QStringLiteral("kept")});
    rig.db.close();
    Database again;
    AppState state;
    state.dataDir = rig.state.dataDir;
    state.dialogs = &rig.dialogs;
    ConnectDatabase(state, again);
    QVERIFY(state.DatabaseConnected);
    QCOMPARE(again.scalar(QStringLiteral("SELECT Message FROM Message_InBox")).toString(), QStringLiteral("kept"));
    QCOMPARE(again.count(QStringLiteral("SELECT count(*) FROM Timer_setting")), 1);
    QCOMPARE(again.count(QStringLiteral("SELECT count(*) FROM Country")), CountryCallingCodes().size());
    // Connecting an open connection again closes and reopens it.
    ConnectDatabase(state, again);
    QVERIFY(state.DatabaseConnected);
    QCOMPARE(again.count(QStringLiteral("SELECT count(*) FROM Message_InBox")), 1);
}

void StoreTest::connectionFailureShowsTheErrorBox_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder cannot be made") << "folder";
    QTest::newRow("file is not a database") << "corrupt";
}

void StoreTest::connectionFailureShowsTheErrorBox()
{
    QFETCH(QString, kind);
    TestRig rig(false);
    if (kind == QLatin1String("folder")) {
        // A plain file where the folder's parent should be: no one, not even root, can create it.
        QFile blocker(rig.dir.path() + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        rig.state.dataDir = blocker.fileName() + QStringLiteral("/broadtext");
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
    QVERIFY2(text.startsWith(QStringLiteral("Following error occur while connecting with database\r\n\r\nError: ")),
             qPrintable(text));
    QVERIFY(text.endsWith(
        QStringLiteral("\r\n\r\nTo overcome this error please set proper data base for your application.")));
    QVERIFY(text.size() > 140); // the engine's own description stands in the middle
}

void StoreTest::textsAreStoredAsTyped_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("apostrophes") << QStringLiteral("It's Bob's");
    QTest::newRow("double quotes") << QStringLiteral("say \"hi\"");
    QTest::newRow("lone apostrophe") << QStringLiteral("'");
    QTest::newRow("comment dashes") << QStringLiteral("x -- y");
    QTest::newRow("statement") << QStringLiteral("\"; drop table Message_OutBox; --");
    QTest::newRow("line breaks and accents") << QStringLiteral("Grüße\r\nÀ bientôt");
}

void StoreTest::textsAreStoredAsTyped()
{
    QFETCH(QString, text);
    TestRig rig;
    const qint64 id = rig.db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, "
                                                   "OutBoxDateTime) VALUES (0, ?, ?, ?)"),
                                    {text, text, Database::DbTime(rig.clock.now())});
    Query q(rig.db, QStringLiteral("SELECT RecipientMobileNo, Message FROM Message_OutBox WHERE Outbox_Id = ?"), {id});
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), text);
    QCOMPARE(q.value(1).toString(), text);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox")), 1);
}

void StoreTest::nullAndEmptyStayDistinct()
{
    TestRig rig;
    rig.db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, DeliveryStatus) VALUES (?, ?)"),
                   {QStringLiteral("1"), QString()});
    rig.db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, DeliveryStatus) VALUES (?, ?)"),
                   {QStringLiteral("2"), QStringLiteral("")});
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus IS NULL")), 1);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = ''")), 1);
    Query q(rig.db, QStringLiteral("SELECT DeliveryStatus FROM Message_OutBox ORDER BY Outbox_Id"));
    QVERIFY(q.next());
    QVERIFY(q.value(0).isNull());
    QVERIFY(q.next());
    QVERIFY(!q.value(0).isNull());
    QVERIFY(q.value(0).toString().isEmpty());
    // An aggregate over nothing is one row holding null.
    QVERIFY(rig.db.scalar(QStringLiteral("SELECT max(InBox_Id) FROM Message_InBox")).isNull());
}

void StoreTest::datesReadBackAsTheSameMoment()
{
    TestRig rig;
    const QDateTime moments[] = {QDateTime(QDate(2026, 12, 6), QTime(8, 15, 2, 123)),
                                 QDateTime(QDate(2026, 3, 29), QTime(2, 30, 0)),
                                 QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999))};
    for (const QDateTime& t : moments) {
        rig.db.execute(QStringLiteral("INSERT INTO MissedCallStatistics (callerNumber, callDateTime) VALUES ('x', ?)"),
                       {Database::DbTime(t)});
        const QDateTime back = Database::FromDbTime(
            rig.db.scalar(QStringLiteral("SELECT callDateTime FROM MissedCallStatistics ORDER BY id DESC LIMIT 1")));
        QCOMPARE(back.toMSecsSinceEpoch(), t.toMSecsSinceEpoch());
    }
    // The stored texts sort in time order.
    QVERIFY(Database::DbTime(moments[2]) < Database::DbTime(moments[1]));
    QVERIFY(Database::DbTime(moments[1]) < Database::DbTime(moments[0]));
}

void StoreTest::todayRunsToMidnight()
{
    TestRig rig;
    const QDate today(2026, 12, 6);
    auto call = [&](const QDateTime& t, bool missed = true) {
        rig.db.execute(QStringLiteral("INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) "
                                      "VALUES ('+1', ?, ?)"),
                       {Database::DbTime(t), Database::DbBool(missed)});
    };
    call(QDateTime(today.addDays(-1), QTime(23, 59, 59)));
    call(QDateTime(today, QTime(0, 0, 0)));
    call(QDateTime(today, QTime(23, 59, 30)));
    call(QDateTime(today, QTime(12, 0, 0)), false); // answered: not a missed call
    call(QDateTime(today.addDays(1), QTime(0, 0, 0)));
    QCOMPARE(CountHomePage(rig.db, today).missedCallsToday, 2);
}

void StoreTest::countersCountUnreadWaitingAndMissed()
{
    TestRig rig;
    for (int i = 0; i < 4; ++i)
        rig.db.execute(
            QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, Message, IsRead) VALUES ('+1', 'm', ?)"),
            {Database::DbBool(i == 3)});
    for (int i = 0; i < 3; ++i)
        rig.db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message, DeliveryStatus, "
                                      "DeliveryDatetime) VALUES ('1', 'm', ?, ?)"),
                       {i == 2 ? QVariant(QStringLiteral("SENT")) : QVariant(),
                        i == 2 ? QVariant(Database::DbTime(rig.clock.now())) : QVariant()});
    const HomeCounters c = CountHomePage(rig.db, rig.clock.now().date());
    QCOMPARE(c.unreadInbox, 3);
    QCOMPARE(c.waitingOutbox, 2);
    QCOMPARE(c.missedCallsToday, 0);
}

void StoreTest::resetSendingStatusReturnsInterruptedRows()
{
    TestRig rig;
    rig.db.execute(
        QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, DeliveryStatus) VALUES ('1', 'SENDING')"));
    rig.db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, DeliveryStatus, DeliveryDatetime) "
                                  "VALUES ('2', 'SENT', ?)"),
                   {Database::DbTime(rig.clock.now())});
    ResetSendingStatus(rig.db);
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT DeliveryStatus FROM Message_OutBox WHERE RecipientMobileNo = '1'")),
             QVariant(QStringLiteral("")));
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT DeliveryStatus FROM Message_OutBox WHERE RecipientMobileNo = '2'")),
             QVariant(QStringLiteral("SENT")));
}

void StoreTest::runningSettingsAndTheirDefaults()
{
    TestRig rig;
    rig.state.ModemDelayFactor = 9;
    LoadRunningSettings(rig.state, rig.db, rig.log);
    // No modem settings: factor 1; the new database's timer row: 10 s each; no active reply.
    QCOMPARE(rig.state.ModemDelayFactor, 1.0);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(10));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(10));
    QVERIFY(!rig.state.AutoReplyActive);
    QVERIFY(rig.log.text().contains(QLatin1String("] : Initializing AutoReply On MissedCall Properties.\r\n")));

    // An empty delay factor keeps 1.0; reception switched off gives 0 whatever its time; 3.5 s becomes 4.
    WriteModemSetting(rig.db, {3, QStringLiteral("9600"), QStringLiteral("n"), QStringLiteral("8"), QStringLiteral("1"),
                               QStringLiteral("0"), QStringLiteral("GSM"), 0, QStringLiteral("")});
    WriteTimerSetting(rig.db, {0, 30, -1, QStringLiteral("3.5"), QStringLiteral("DIRECT DELIVER")});
    WriteAutoReply(rig.db, {QStringLiteral("  Sorry, I missed your call  "), -1});
    LoadRunningSettings(rig.state, rig.db, rig.log);
    QCOMPARE(rig.state.ModemDelayFactor, 1.0);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(0));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(4));
    QVERIFY(rig.state.AutoReplyActive);
    QCOMPARE(rig.state.AutoReplyText, QStringLiteral("Sorry, I missed your call"));

    // A stored factor; an inactive reply; no timer row keeps the intervals as they were.
    WriteModemSetting(rig.db, {3, QStringLiteral("9600"), QStringLiteral("n"), QStringLiteral("8"), QStringLiteral("1"),
                               QStringLiteral("0"), QStringLiteral("GSM"), 0, QStringLiteral("2.75")});
    WriteAutoReply(rig.db, {QStringLiteral("x"), 0});
    rig.db.execute(QStringLiteral("DELETE FROM Timer_setting"));
    LoadRunningSettings(rig.state, rig.db, rig.log);
    QCOMPARE(rig.state.ModemDelayFactor, 2.75);
    QVERIFY(!rig.state.AutoReplyActive);
    QVERIFY(rig.state.AutoReplyText.isEmpty());
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(4));
}

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
