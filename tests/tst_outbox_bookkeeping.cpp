// What becomes of every Outbox and Inbox row, as a user must be able to trust it: rows that can never be
// sent are marked and left out, failures keep their reason and are retried with growing waits and then
// given up, a network (or a silent modem) that fails everything pauses delivery without charging the rows,
// copies stored on the SIM by a stopped program are removed, Inbox rows are durable before the SIM copy
// goes, Received On is the service centre's time, the data folder is owner-only, the activity log survives
// in files, and an older database is upgraded in place.
#include "EngineRig.h"
#include "OutboxRows.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <atomic>
#include <sys/stat.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

class OutboxBookkeepingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsThatCanNeverBeSentAreMarkedOnce();
    void failuresKeepTheirReasonBackOffAndEndAsFailed();
    void aNetworkFailingEverythingPausesWithoutChargingTheRows_data();
    void aNetworkFailingEverythingPausesWithoutChargingTheRows();
    void storedCopiesAreRecordedAndRemovedAfterAStop();
    void inboxRowsAreDurableAndCarryTheServiceCentreTime();
    void theDataFolderIsOwnerOnlyAndTheLogIsKeptInFiles();
    void anOlderDatabaseIsUpgradedInPlace();
};

void OutboxBookkeepingTest::rowsThatCanNeverBeSentAreMarkedOnce()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    const QStringList invalid = {"12AB",        "",  "+",   "98#888*12121",         "(988)8812121",
                                 "98+88812121", "0", "+44", "123456789012345678901"};
    for (const QString& n : invalid)
        rig.queue(n, QStringLiteral("hello"));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("   "));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("the only one to go"));
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
    for (qint64 id = 1; id <= invalid.size(); ++id)
        QCOMPARE(outboxRow(rig.db, id).status, QStringLiteral("INVALID NUMBER"));
    const OutboxRow empty = outboxRow(rig.db, invalid.size() + 1);
    QCOMPARE(empty.status, QStringLiteral("EMPTY MESSAGE"));
    QVERIFY(!empty.delivered); // never pretended sent
    QCOMPARE(rig.log.text().count(QStringLiteral("marked INVALID NUMBER")), int(invalid.size()));
    // Said once, and left out of every later count.
    const qsizetype logged = rig.logFile().size();
    rig.deliver();
    const QString since = rig.logFile().mid(logged);
    QVERIFY(since.contains(QStringLiteral("] : Total 0 SMS to be sent.")));
    QVERIFY(!since.contains(QStringLiteral("INVALID NUMBER")));
}

void OutboxBookkeepingTest::failuresKeepTheirReasonBackOffAndEndAsFailed()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("refused every time"));
    const qint64 id = lastOutboxId(rig.db);
    rig.sim.failSends(ModemSimulator::SendFailure::CmsError, 5, 21);
    const QDateTime start = rig.clock.now();
    for (int attempt = 1; attempt <= 5; ++attempt) {
        rig.deliver();
        const OutboxRow r = outboxRow(rig.db, id);
        QCOMPARE(r.attempts, attempt);
        QCOMPARE(r.reason, QStringLiteral("+CMS ERROR: 21 (short message transfer rejected)"));
        if (attempt < 5) {
            QCOMPARE(r.status, QString());
            QCOMPARE(rig.clock.now().secsTo(r.next), 60 << (attempt - 1)); // 1, 2, 4, 8 minutes
            rig.deliver();                                                 // not due yet: not tried
            QCOMPARE(outboxRow(rig.db, id).attempts, attempt);
            rig.clock.set(r.next);
        } else {
            QCOMPARE(r.status, QStringLiteral("FAILED"));
        }
    }
    QVERIFY(rig.log.text().contains(QStringLiteral("failed 5 times")));
    rig.clock.advance(3600 * 1000);
    rig.deliver();
    QCOMPARE(outboxRow(rig.db, id).attempts, 5); // given up
    QVERIFY(rig.sim.sent().isEmpty());
    QVERIFY(start.secsTo(rig.clock.now()) > 15 * 60);

    // Sent again by hand from the message box: it goes out.
    QCOMPARE(rig.engine.RetryFailed({id}), 1);
    rig.deliver();
    QVERIFY(outboxRow(rig.db, id).delivered);
    QCOMPARE(rig.sim.sent().size(), 1);
}

void OutboxBookkeepingTest::aNetworkFailingEverythingPausesWithoutChargingTheRows_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<int>("cmsError");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no network service") << int(ModemSimulator::SendFailure::CmsError) << 331
                                        << QStringLiteral("+CMS ERROR: 331 (no network service)");
    QTest::newRow("silence after the text")
        << int(ModemSimulator::SendFailure::Silence) << 0 << QStringLiteral("no answer");
}

void OutboxBookkeepingTest::aNetworkFailingEverythingPausesWithoutChargingTheRows()
{
    QFETCH(int, failure);
    QFETCH(int, cmsError);
    QFETCH(QString, reason);
    EngineRig rig;
    rig.engine.setFinalAnswerTimeout(1000);
    QVERIFY(rig.connectModem());
    for (int i = 0; i < 3; ++i)
        rig.queue(QStringLiteral("9888812121"), QStringLiteral("message %1").arg(i));
    rig.sim.failSends(ModemSimulator::SendFailure(failure), 2, cmsError);
    rig.deliver();
    QVERIFY(rig.log.text().contains(QLatin1Char('(') + reason + QStringLiteral("): delivery pauses")));
    for (qint64 id = 1; id <= 3; ++id)
        QCOMPARE(outboxRow(rig.db, id).attempts, 0);
    rig.log.clear();
    rig.engine.Timer2_Timer();
    QVERIFY(rig.log.text().isEmpty()); // paused
    rig.clock.advance(61 * 1000);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 3);
}

void OutboxBookkeepingTest::storedCopiesAreRecordedAndRemovedAfterAStop()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = 'STORE AND DELIVER'"));
    rig.sim.setNetworkDelayMs(800);
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("stored first"));
    CommandGate fromSim(rig.sim, QStringLiteral("AT+CMSS"));
    rig.engine.Timer2_Timer();
    // While the copy is sent from the SIM its index is on the row; once it is deleted, no longer.
    QVERIFY(fromSim.held());
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT SimIndex FROM Message_OutBox")).toInt(), 1);
    fromSim.open();
    QTRY_VERIFY(!rig.engine.sending());
    QVERIFY(rig.db.scalar(QStringLiteral("SELECT SimIndex FROM Message_OutBox")).isNull());
    QCOMPARE(rig.db
                 .scalar(QStringLiteral(
                     "SELECT DeliveryStatus || ' ' || (CASE WHEN DeliveryDatetime IS NULL THEN 0 ELSE 1 END) FROM "
                     "Message_OutBox"))
                 .toString(),
             "SENT 1"); // in Sent Items
    QVERIFY(rig.sim.simMessages().isEmpty());
    QVERIFY(rig.log.text().contains(
        QStringLiteral("] : Sending SMS to 9888812121 using GSM modem and method - STORE & DELIVER.")));
    rig.engine.Disconnect();

    // What a stop between storing and cleaning up leaves: the program's copies are removed at the next
    // connect; a stored message to someone else at a recorded index, and other messages, are not touched.
    const int ours =
        rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("9888812121"), QStringLiteral("a"));
    const int notOurs =
        rig.sim.storeMessage(QStringLiteral("STO UNSENT"), QStringLiteral("+15550001"), QStringLiteral("b"));
    const int received =
        rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+15550002"), QStringLiteral("c"));
    rig.queue(QStringLiteral("98-888 12121"), QStringLiteral("a"));
    rig.db.execute(
        QStringLiteral("UPDATE Message_OutBox SET SimIndex = ?, DeliveryStatus = 'SENT', DeliveryDatetime = ? "
                       "WHERE Outbox_Id = ?"),
        {ours, Database::DbTime(rig.clock.now()), lastOutboxId(rig.db)});
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("b"));
    rig.db.execute(QStringLiteral("UPDATE Message_OutBox SET SimIndex = ? WHERE Outbox_Id = ?"),
                   {notOurs, lastOutboxId(rig.db)});
    rig.db.execute(QStringLiteral("DELETE FROM Message_OutBox WHERE Outbox_Id = 1"));
    QVERIFY(rig.connectAndWait());
    QTRY_COMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE SimIndex IS NOT NULL")), 0);
    QList<int> left;
    for (const auto& m : rig.sim.simMessages())
        left << m.index;
    QCOMPARE(left, (QList<int>{notOurs, received}));
}

void OutboxBookkeepingTest::inboxRowsAreDurableAndCarryTheServiceCentreTime()
{
    EngineRig rig;
    // On disk before the SIM copy goes: FULL on the file; a server commits durably unless told otherwise.
    if (rig.db.isServer())
        QCOMPARE(rig.db.scalar(QStringLiteral("SHOW synchronous_commit")).toString(), QStringLiteral("on"));
    else
        QCOMPARE(rig.db.scalar(QStringLiteral("PRAGMA synchronous")).toInt(), 2);
    const QDateTime sentOn(QDate(2026, 12, 1), QTime(10, 0), Qt::OffsetFromUTC, 5 * 3600 + 1800);
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), QStringLiteral("x"), false,
                         sentOn);
    QVERIFY(rig.connectModem());
    rig.receive();
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT InboxDateTime FROM Message_InBox")).toString(),
             QStringLiteral("2026-12-01T04:30:00.000Z"));

    // A program stopped after storing a message and before deleting its SIM copy left this row; the copy
    // is deleted, not imported again. The same words sent again later are a new message.
    const QString sender = QStringLiteral("+919812345678");
    const int left = rig.sim.storeMessage(QStringLiteral("REC READ"), sender, QStringLiteral("y"), false, sentOn);
    rig.db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, "
                                  "SimIndex) VALUES (?, 0, 'y', ?, ?)"),
                   {sender, Database::DbTime(sentOn), left});
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), sender, QStringLiteral("y"), false, sentOn.addSecs(60));
    rig.receive();
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE Message = 'y'")), 2);
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());
}

void OutboxBookkeepingTest::theDataFolderIsOwnerOnlyAndTheLogIsKeptInFiles()
{
    TestRig rig(false);
    QVERIFY(QDir().mkpath(rig.state.dataDir)); // made by someone else, readable by all
    QFile::setPermissions(rig.state.dataDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                 QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile db(rig.state.dataDir + QStringLiteral("/Broadtext.db"));
    QVERIFY(db.open(QIODevice::WriteOnly));
    db.close();
    db.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    ConnectDatabase(rig.state, rig.db);
    QVERIFY(rig.state.DatabaseConnected);
    QCOMPARE(modeOf(rig.state.dataDir), 0700);
    if (!rig.db.isServer()) // else the file found there is not the message base
        QCOMPARE(modeOf(db.fileName()), 0600);

    // Every entry goes to activity.log too; at 5 MB the file rotates, three older files kept.
    const QString entry(100 * 1024, QLatin1Char('x'));
    for (int i = 0; i < 4 * 52; ++i)
        rig.log.WriteActivityLog(QStringLiteral("entry %1 ").arg(i) + entry);
    const QString file = rig.log.filePath();
    for (const QString& f : {file, file + ".1", file + ".2", file + ".3"})
        QVERIFY2(QFileInfo::exists(f), qPrintable(f));
    QVERIFY(!QFileInfo::exists(file + ".4"));
    QVERIFY(QFileInfo(file + ".1").size() >= ActivityLog::FileRotateAt);
    QFile last(file);
    QVERIFY(last.open(QIODevice::ReadOnly));
    QVERIFY(last.readAll().contains("entry 207 "));
}

void OutboxBookkeepingTest::anOlderDatabaseIsUpgradedInPlace()
{
    SKIP_ON_SERVER("upgrading a file of an older version");
    TestRig rig(false);
    QVERIFY(QDir().mkpath(rig.state.dataDir));
    {
        // The tables as the first version wrote them, with a row in each.
        QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        old.setDatabaseName(rig.state.dataDir + QStringLiteral("/Broadtext.db"));
        QVERIFY(old.open());
        QSqlQuery q(old);
        for (const char* sql :
             {"CREATE TABLE Message_OutBox (Outbox_Id INTEGER PRIMARY KEY AUTOINCREMENT, RecepId INTEGER DEFAULT 0, "
              "RecipientMobileNo TEXT, Message TEXT, OutBoxDateTime TEXT, DeliveryStatus TEXT, DeliveryDatetime TEXT)",
              "INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES ('9888812121', 'kept')",
              "CREATE TABLE ModemSetting (CommPortNo INTEGER, BitsPerSecond TEXT, Parity TEXT, DataBits TEXT, StopBits "
              "TEXT, FlowControl TEXT, CharacterSet TEXT, EnabledCallerId INTEGER NOT NULL DEFAULT 0, "
              "ModemDelayFactor NUMERIC)",
              "INSERT INTO ModemSetting (CommPortNo, CharacterSet) VALUES (3, 'GSM')",
              "CREATE TABLE Timer_setting (EnableReceiveTimer INTEGER NOT NULL DEFAULT 0, ReceiveAllMessagesTime "
              "NUMERIC, EnableSendTimer INTEGER NOT NULL DEFAULT 0, SendAllMessagesTime NUMERIC, SMSDelevaryMode TEXT)",
              "INSERT INTO Timer_setting VALUES (-1, 20, -1, 30, 'DIRECT DELIVER')", "PRAGMA user_version = 1"})
            QVERIFY2(q.exec(QString::fromLatin1(sql)), sql);
        old.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    ConnectDatabase(rig.state, rig.db);
    QVERIFY(rig.state.DatabaseConnected);
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT Message FROM Message_OutBox")).toString(), QStringLiteral("kept"));
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT Attempts FROM Message_OutBox")).toInt(), 0);
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT SendAllMessagesTime FROM Timer_setting")).toInt(), 30);
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT CommPortNo FROM ModemSetting")).toInt(), 3);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Timer_setting")), 1); // no default row added
    QVERIFY(rig.db.scalar(QStringLiteral("SELECT MessageFormat FROM ModemSetting")).isNull());
    QCOMPARE(rig.db.scalar(QStringLiteral("PRAGMA user_version")).toInt(), Database::SchemaVersion);
}

QTEST_GUILESS_MAIN(OutboxBookkeepingTest)
#include "tst_outbox_bookkeeping.moc"
