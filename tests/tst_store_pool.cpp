// Several modems over one message database: the Outbox claimed with leases (in turns, after a lease ran out,
// rows kept for one modem, a modem giving its rows back, two connections racing), the modem recorded with
// what was sent and received, the modem list in settings, the counts of the modem panel, and an older file
// gaining all of it.
#include "OutboxRows.h"
#include "TestRig.h"
#include "store/InboxRepository.h"
#include "store/ModemsRepository.h"
#include "store/OutboxRepository.h"
#include "store/SettingsRows.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <functional>
#include <map>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// One step of a claim script. Times are seconds after the script's start; `expect` is the Outbox row (by its
// place in queueing order, from 1) a claim gets, 0 for none, or how many rows a renewal or release touched.
struct Step {
    enum Op { Claim, Renew, Release, ReleaseAll, Sent, Retry, Failed } op;
    int modem = 0; // Claim, Renew, ReleaseAll
    int row = 0;   // Release, Sent, Retry, Failed
    int at = 0;
    int lease = 60;
    int expect = 0;
};
Step claim(int modem, int at, int expect, int lease = 60)
{
    return {Step::Claim, modem, 0, at, lease, expect};
}
Step renew(int modem, int at, int lease, int expect)
{
    return {Step::Renew, modem, 0, at, lease, expect};
}
Step outcome(Step::Op op, int row, int at = 0)
{
    return {op, 0, row, at, 0, 0};
}

QDateTime start()
{
    return QDateTime(QDate(2024, 5, 6), QTime(9, 0));
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(ModemConfig)
Q_DECLARE_METATYPE(ModemCounts)

char* toString(const ModemCounts& c)
{
    return QTest::toString(u"sent today %1, queued %2, failed %3"_s.arg(c.sentToday).arg(c.queued).arg(c.failed));
}

char* toString(const ModemConfig& m)
{
    return QTest::toString(u"%1 '%2' COM%3 %4 %5 %6 %7 %8 %9"_s.arg(m.id).arg(m.name).arg(m.port).arg(
                               m.bitsPerSecond, m.parity, m.dataBits, m.stopBits, m.flowControl, m.characterSet) +
                           u" callerId %1 delay %2 pdu %3 role %4 enabled %5"_s.arg(m.callerId)
                               .arg(m.delayFactor)
                               .arg(m.pdu)
                               .arg(int(m.role))
                               .arg(m.enabled));
}

class StorePoolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void claims_data();
    void claims();
    void everyOutcomeEndsTheClaim_data();
    void everyOutcomeEndsTheClaim();
    void interruptedRowsOfOneModemAreReset_data();
    void interruptedRowsOfOneModemAreReset();
    void twoConnectionsClaimEveryRowOnce();
    void sentAndReceivedRowsKeepTheirModem_data();
    void sentAndReceivedRowsKeepTheirModem();
    void modemsReadBackAsSaved_data();
    void modemsReadBackAsSaved();
    void modemsAddedAndRemoved();
    void countsPerModem_data();
    void countsPerModem();
    void anOlderDatabaseGainsThePool();
};

void StorePoolTest::claims_data()
{
    QTest::addColumn<QList<int>>("pins"); // one queued row each: the modem it is kept for, 0 for any
    QTest::addColumn<QList<Step>>("script");

    QTest::newRow("two modems in turns") << QList<int>{0, 0, 0, 0, 0}
                                         << QList<Step>{claim(1, 0, 1), claim(2, 0, 2), claim(1, 0, 3), claim(2, 0, 4),
                                                        claim(1, 0, 5), claim(2, 0, 0), claim(1, 0, 0)};
    QTest::newRow("lease ran out") << QList<int>{0}
                                   << QList<Step>{claim(1, 0, 1, 60), claim(2, 59, 0), claim(2, 60, 1),
                                                  claim(1, 61, 0)};
    QTest::newRow("renewed lease holds") << QList<int>{0}
                                         << QList<Step>{claim(1, 0, 1, 60), renew(1, 50, 60, 1), claim(2, 100, 0),
                                                        claim(2, 110, 1)};
    QTest::newRow("renewal is only for the holder")
        << QList<int>{0, 0} << QList<Step>{claim(1, 0, 1),       claim(2, 0, 2),  renew(3, 30, 600, 0),
                                           renew(2, 30, 600, 1), claim(3, 60, 1), claim(3, 60, 0)};
    QTest::newRow("kept for one modem") << QList<int>{2, 0, 1, 2}
                                        << QList<Step>{claim(1, 0, 2), claim(1, 0, 3), claim(1, 0, 0),
                                                       claim(2, 0, 1), claim(2, 0, 4), claim(2, 0, 0)};
    QTest::newRow("kept for a modem whose lease ran out")
        << QList<int>{2} << QList<Step>{claim(2, 0, 1, 60), claim(1, 120, 0), claim(2, 120, 1)};
    QTest::newRow("release gives one row back")
        << QList<int>{0, 0}
        << QList<Step>{claim(1, 0, 1), claim(1, 0, 2), outcome(Step::Release, 1), claim(2, 0, 1), claim(2, 0, 0)};
    QTest::newRow("release all gives a modem's rows back")
        << QList<int>{0, 0, 0}
        << QList<Step>{claim(1, 0, 1), claim(1, 0, 2), claim(2, 0, 3), {Step::ReleaseAll, 1, 0, 0, 0, 2},
                       claim(2, 0, 1), claim(2, 0, 2), claim(2, 0, 0)};
    QTest::newRow("sent rows are done") << QList<int>{0, 0}
                                        << QList<Step>{claim(1, 0, 1), outcome(Step::Sent, 1), claim(2, 0, 2),
                                                       outcome(Step::Sent, 2), claim(1, 1000, 0)};
    QTest::newRow("a retry may go out on another modem")
        << QList<int>{0} << QList<Step>{claim(1, 0, 1), outcome(Step::Retry, 1, 30), claim(2, 29, 0), claim(2, 30, 1)};
    QTest::newRow("failed rows are not claimed")
        << QList<int>{0} << QList<Step>{claim(1, 0, 1), outcome(Step::Failed, 1), claim(2, 1000, 0)};
}

void StorePoolTest::claims()
{
    QFETCH(QList<int>, pins);
    QFETCH(QList<Step>, script);
    TestRig rig;
    OutboxRepository outbox(rig.db);
    QList<qint64> ids;
    for (int pin : pins)
        ids << outbox.queueMessage(u"9888812121"_s, u"hello"_s, start().addSecs(-60), pin);
    auto place = [&](std::optional<DueOutboxRow> row) { return row ? int(ids.indexOf(row->id)) + 1 : 0; };

    for (int i = 0; i < script.size(); ++i) {
        const Step& s = script[i];
        const QDateTime at = start().addSecs(s.at);
        int got = 0;
        switch (s.op) {
        case Step::Claim:
            got = place(outbox.claim(s.modem, at, std::chrono::seconds(s.lease)));
            break;
        case Step::Renew:
            got = outbox.renewLease(s.modem, at, std::chrono::seconds(s.lease));
            break;
        case Step::ReleaseAll:
            got = outbox.releaseAll(s.modem);
            break;
        case Step::Release:
            outbox.release(ids[s.row - 1]);
            break;
        case Step::Sent:
            outbox.markSending(ids[s.row - 1], at);
            outbox.markSent(ids[s.row - 1], at);
            break;
        case Step::Retry:
            outbox.markSending(ids[s.row - 1], start());
            outbox.scheduleRetry(ids[s.row - 1], u"network"_s, at);
            break;
        case Step::Failed:
            outbox.markSending(ids[s.row - 1], start());
            outbox.markFailed(ids[s.row - 1], u"refused"_s);
            break;
        }
        QVERIFY2(got == s.expect, qPrintable(u"step %1: %2 instead of %3"_s.arg(i + 1).arg(got).arg(s.expect)));
    }
}

void StorePoolTest::everyOutcomeEndsTheClaim_data()
{
    QTest::addColumn<QString>("outcome");
    for (const char* o : {"sent", "put back", "attempt recorded", "failed", "retry", "settled late", "invalid number",
                          "empty message", "released"})
        QTest::newRow(o) << QString::fromLatin1(o);
}

void StorePoolTest::everyOutcomeEndsTheClaim()
{
    QFETCH(QString, outcome);
    TestRig rig;
    OutboxRepository outbox(rig.db);
    const qint64 id = outbox.queueMessage(u"9888812121"_s, u"hello"_s, start());
    QCOMPARE(outbox.claim(3, start(), 60s)->id, id);
    outbox.markSending(id, start());
    QCOMPARE(outbox.record(id)->claimedBy, 3);

    const std::map<QString, std::function<void()>> outcomes = {
        {u"sent"_s, [&] { outbox.markSent(id, start()); }},
        {u"put back"_s, [&] { outbox.putBack(id, true); }},
        {u"attempt recorded"_s, [&] { outbox.recordAttempt(id, u"network"_s); }},
        {u"failed"_s, [&] { outbox.markFailed(id, u"refused"_s); }},
        {u"retry"_s, [&] { outbox.scheduleRetry(id, u"network"_s, start().addSecs(60)); }},
        {u"settled late"_s, [&] { outbox.settleUnsent(id, {}); }},
        {u"invalid number"_s, [&] { outbox.markInvalidNumber(id); }},
        {u"empty message"_s, [&] { outbox.markEmptyMessage(id); }},
        {u"released"_s, [&] { outbox.release(id); }},
    };
    outcomes.at(outcome)();
    const OutboxRecord r = *outbox.record(id);
    QCOMPARE(r.claimedBy, 0);
    QVERIFY(!r.claimUntil.isValid());
}

void StorePoolTest::interruptedRowsOfOneModemAreReset_data()
{
    QTest::addColumn<int>("modem");
    QTest::addColumn<QStringList>("reset");     // the rows put back to waiting, by recipient
    QTest::addColumn<QStringList>("stillHeld"); // the rows still claimed afterwards, by recipient
    // Rows: "held by 1", "held by 2" and "held by nobody" all SENDING; "waiting, held by 1" only claimed.
    QTest::newRow("single modem") << 0 << QStringList{u"held by 1"_s, u"held by 2"_s, u"held by nobody"_s}
                                  << QStringList{};
    QTest::newRow("modem 1") << 1 << QStringList{u"held by 1"_s, u"held by nobody"_s} << QStringList{u"held by 2"_s};
    QTest::newRow("modem 2") << 2 << QStringList{u"held by 2"_s, u"held by nobody"_s}
                             << QStringList{u"held by 1"_s, u"waiting, held by 1"_s};
}

void StorePoolTest::interruptedRowsOfOneModemAreReset()
{
    QFETCH(int, modem);
    QFETCH(QStringList, reset);
    QFETCH(QStringList, stillHeld);
    TestRig rig;
    OutboxRepository outbox(rig.db);
    for (const auto& [name, holder] : std::initializer_list<std::pair<QString, int>>{
             {u"held by 1"_s, 1}, {u"held by 2"_s, 2}, {u"held by nobody"_s, 0}, {u"waiting, held by 1"_s, 1}}) {
        const qint64 id = outbox.queueMessage(name, u"hello"_s, start());
        if (holder)
            QCOMPARE(outbox.claim(holder, start(), 600s)->id, id);
        if (!name.startsWith(u"waiting"_s))
            outbox.markSending(id, start());
    }
    QCOMPARE(ResetSendingStatus(rig.db, modem), reset);
    QCOMPARE(queryTexts(rig.db, u"SELECT RecipientMobileNo FROM Message_OutBox WHERE ClaimedBy IS NOT NULL ORDER BY "
                                "Outbox_Id"_s),
             stillHeld);
}

void StorePoolTest::twoConnectionsClaimEveryRowOnce()
{
    TestRig rig;
    const QString file = rig.db.filePath();
    constexpr int Rows = 120;
    {
        OutboxRepository outbox(rig.db);
        rig.db.beginTransaction();
        for (int i = 0; i < Rows; ++i)
            outbox.queueMessage(u"98888%1"_s.arg(i, 5, 10, QLatin1Char('0')), u"hello"_s, start());
        rig.db.commit();
    }
    // Each modem claims on its own connection and thread until nothing is left, and sends what it took. The
    // two loop without a pause, and SQLite lets waiting writers in in no fair order: a statement that waited
    // past the busy timeout is tried again, as a modem would at its next turn. It took effect wholly or not.
    auto work = [&file](int modem, QList<qint64>& taken, QString& error) {
        int busy = 0;
        auto persist = [&](auto step) {
            for (;;) {
                try {
                    return step();
                } catch (const DbError&) {
                    if (++busy > 20)
                        throw;
                }
            }
        };
        try {
            Database db;
            db.openShared(file);
            OutboxRepository outbox(db);
            while (auto row = persist([&] { return outbox.claim(modem, start(), 60s); })) {
                taken << row->id;
                persist([&] { outbox.markSent(row->id, start()); });
            }
        } catch (const DbError& e) {
            error = e.description();
        }
    };
    QList<qint64> first, second;
    QString firstError, secondError;
    std::thread a(work, 1, std::ref(first), std::ref(firstError));
    std::thread b(work, 2, std::ref(second), std::ref(secondError));
    a.join();
    b.join();
    QCOMPARE(firstError, QString());
    QCOMPARE(secondError, QString());

    const QList<qint64> all = first + second;
    QCOMPARE(QSet<qint64>(all.begin(), all.end()).size(), all.size()); // none twice
    QCOMPARE(all.size(), Rows);                                        // none left out
    // Each sent row names the modem that took it.
    for (const auto& [modem, taken] : {std::pair{1, first}, std::pair{2, second}})
        for (qint64 id : taken)
            QCOMPARE(OutboxRepository(rig.db).record(id)->modem, modem);
}

void StorePoolTest::sentAndReceivedRowsKeepTheirModem_data()
{
    QTest::addColumn<int>("holder");   // the modem that claimed the row, 0 for none
    QTest::addColumn<int>("pin");      // the modem the row is kept for, 0 for any
    QTest::addColumn<int>("given");    // the modem markSent and the Inbox are told of, 0 for none
    QTest::addColumn<QString>("name"); // its name as given
    QTest::addColumn<int>("recorded"); // the modem the Sent Items row names, 0 for none
    QTest::newRow("told") << 2 << 0 << 2 << u"Office (+15550001)"_s << 2;
    QTest::newRow("the holder when not told") << 3 << 0 << 0 << QString() << 3;
    QTest::newRow("the modem it was kept for") << 0 << 4 << 0 << QString() << 4;
    QTest::newRow("unknown") << 0 << 0 << 0 << QString() << 0;
}

void StorePoolTest::sentAndReceivedRowsKeepTheirModem()
{
    QFETCH(int, holder);
    QFETCH(int, pin);
    QFETCH(int, given);
    QFETCH(QString, name);
    QFETCH(int, recorded);
    TestRig rig;
    OutboxRepository outbox(rig.db);
    const qint64 id = outbox.queueMessage(u"9888812121"_s, u"hello"_s, start(), pin);
    if (holder)
        QVERIFY(outbox.claim(holder, start(), 60s));
    outbox.markSending(id, start());
    outbox.markSent(id, start(), given, name);
    const OutboxRecord sent = *outbox.record(id);
    QCOMPARE(sent.modem, recorded);
    QCOMPARE(sent.modemName, name);

    InboxRepository inbox(rig.db);
    const qint64 in = inbox.storeInboxMessage(u"+15550002"_s, u"hi"_s, start(), 7, given, name);
    Query q(rig.db, u"SELECT ModemId, ModemName, SimIndex FROM Message_InBox WHERE InBox_Id = ?"_s, {in});
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), rig.db.modemKey(given));
    QCOMPARE(q.value(0).isNull(), given == 0);
    QCOMPARE(q.value(1).toString(), name);
    QCOMPARE(q.value(2).toInt(), 7);
}

void StorePoolTest::modemsReadBackAsSaved_data()
{
    QTest::addColumn<ModemConfig>("modem"); // id 0: a modem added
    ModemConfig first;
    first.id = 1;
    first.port = 3;
    QTest::newRow("first, as the settings left it") << first;
    ModemConfig named = first;
    named.name = u"Office"_s;
    named.bitsPerSecond = u"115200"_s;
    named.parity = u"Even"_s;
    named.dataBits = u"7"_s;
    named.stopBits = u"2"_s;
    named.flowControl = u"Hardware"_s;
    named.characterSet = u"UCS2"_s;
    named.callerId = true;
    named.delayFactor = 2.5;
    named.pdu = true;
    named.role = ModemConfig::Role::Send;
    QTest::newRow("first, named, PDU, send only") << named;
    ModemConfig off = first;
    off.enabled = false;
    off.role = ModemConfig::Role::Receive;
    QTest::newRow("first, switched off") << off;
    ModemConfig added = named;
    added.id = 0;
    added.port = 7;
    QTest::newRow("added, PDU, send only") << added;
    ModemConfig addedOff;
    addedOff.port = 8;
    addedOff.enabled = false;
    addedOff.role = ModemConfig::Role::Receive;
    QTest::newRow("added, defaults, switched off, receive only") << addedOff;
}

void StorePoolTest::modemsReadBackAsSaved()
{
    QFETCH(ModemConfig, modem);
    TestRig rig;
    ModemsRepository modems(rig.db);
    QVERIFY(modems.all().isEmpty()); // a fresh file has no modem settings yet
    if (modem.id == 0) {
        ModemConfig firstModem;
        firstModem.id = 1;
        modems.save(firstModem);
    }
    const int id = modems.save(modem);
    ModemConfig expected = modem;
    expected.id = modem.id == 0 ? 2 : modem.id;
    QCOMPARE(id, expected.id);
    QCOMPARE(modems.find(id), std::optional<ModemConfig>(expected));
    QCOMPARE(modems.all().last(), expected);
    if (id == 1) {
        // The first modem is the row every earlier version reads.
        const ModemSettingRow row = *ReadModemSetting(rig.db);
        QCOMPARE(row.CommPortNo.toInt(), modem.port);
        QCOMPARE(row.BitsPerSecond.toString(), modem.bitsPerSecond);
        QCOMPARE(row.CharacterSet.toString(), modem.characterSet);
        QCOMPARE(IsTrue(row.EnabledCallerId), modem.callerId);
        QCOMPARE(ReadDelayFactor(rig.db), modem.delayFactor);
        QCOMPARE(ReadMessageFormat(rig.db), modem.pdu ? u"PDU"_s : u"Text"_s);
        QCOMPARE(rig.db.count(u"SELECT count(*) FROM ModemSetting"_s), 1);
    }
}

void StorePoolTest::modemsAddedAndRemoved()
{
    TestRig rig;
    ModemsRepository modems(rig.db);
    OutboxRepository outbox(rig.db);
    InboxRepository inbox(rig.db);
    ModemConfig m;
    m.id = 1;
    QCOMPARE(modems.save(m), 1);
    m.id = 0;
    QCOMPARE(modems.save(m), 2);
    QCOMPARE(modems.save(m), 3);
    const qint64 kept = outbox.queueMessage(u"9888812121"_s, u"for 3"_s, start(), 3);
    QVERIFY(outbox.claim(3, start(), 600s));
    inbox.storeInboxMessage(u"+15550002"_s, u"to 3"_s, start(), std::nullopt, 3, u"Third"_s);

    QVERIFY(modems.remove(3));
    QVERIFY(!modems.remove(3));
    QVERIFY(!modems.find(3));
    // What the removed modem held or was kept for is anybody's now; what it received keeps its id, which no
    // later modem gets.
    QCOMPARE(outbox.claim(2, start(), 60s)->id, kept);
    QCOMPARE(modems.save(m), 4);

    QVERIFY(!modems.remove(1)); // the first modem stays, switched off
    QList<int> ids;
    QList<bool> enabled;
    for (const ModemConfig& c : modems.all()) {
        ids << c.id;
        enabled << c.enabled;
    }
    QCOMPARE(ids, (QList<int>{1, 2, 4}));
    QCOMPARE(enabled, (QList<bool>{false, true, true}));
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM ModemSetting"_s), 1);
}

void StorePoolTest::countsPerModem_data()
{
    QTest::addColumn<int>("modem");
    QTest::addColumn<ModemCounts>("counts");
    // The rows made by the test: see countsPerModem.
    QTest::newRow("first modem, with the rows from before modems were recorded") << 1 << ModemCounts{2, 1, 2};
    QTest::newRow("second modem") << 2 << ModemCounts{1, 2, 1};
    QTest::newRow("a modem with nothing") << 5 << ModemCounts{0, 0, 0};
}

void StorePoolTest::countsPerModem()
{
    QFETCH(int, modem);
    QFETCH(ModemCounts, counts);
    TestRig rig;
    OutboxRepository outbox(rig.db);
    const QDate day = start().date();
    auto row = [&](int pin) { return outbox.queueMessage(u"9888812121"_s, u"hello"_s, start(), pin); };
    auto settled = [&](int holder, bool sent, const QDateTime& at = start()) {
        const qint64 id = row(0);
        if (holder)
            QVERIFY(outbox.claim(holder, at, 60s));
        outbox.markSending(id, at);
        sent ? outbox.markSent(id, at) : outbox.markFailed(id, u"refused"_s);
    };
    settled(0, true);                      // sent today before modems were recorded: the first modem
    settled(1, true);                      // sent today by 1
    settled(2, true);                      // sent today by 2
    settled(2, true, start().addDays(-1)); // sent by 2 the day before
    settled(0, false);                     // failed before modems were recorded: the first modem
    settled(1, false);
    settled(2, false);
    row(0);
    QVERIFY(outbox.claim(1, start(), 60s)); // held by 1
    row(2);
    QVERIFY(outbox.claim(2, start(), 60s)); // kept for 2 and held by it
    row(2);                                 // kept for 2, waiting
    row(0);                                 // anybody's: nobody's count
    QCOMPARE(ModemsRepository(rig.db).counts(modem, day), counts);
}

void StorePoolTest::anOlderDatabaseGainsThePool()
{
    SKIP_ON_SERVER("upgrading a file of an older version");
    TestRig rig(false);
    QVERIFY(QDir().mkpath(rig.state.dataDir));
    const QString file = DatabaseFilePath(rig.state);
    {
        // The tables that matter as the previous version left them, with a row in each.
        QSqlDatabase old = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"old"_s);
        old.setDatabaseName(file);
        QVERIFY(old.open());
        QSqlQuery q(old);
        for (const char* sql :
             {"CREATE TABLE Message_InBox (InBox_Id INTEGER PRIMARY KEY AUTOINCREMENT, SenderMobileNo TEXT, SenderId "
              "INTEGER DEFAULT 0, Message TEXT, InboxDateTime TEXT, IsRead INTEGER NOT NULL DEFAULT 0, SimIndex "
              "INTEGER)",
              "INSERT INTO Message_InBox (SenderMobileNo, Message) VALUES ('+15550002', 'received before')",
              "CREATE TABLE Message_OutBox (Outbox_Id INTEGER PRIMARY KEY AUTOINCREMENT, RecepId INTEGER DEFAULT 0, "
              "RecipientMobileNo TEXT, Message TEXT, OutBoxDateTime TEXT, DeliveryStatus TEXT, DeliveryDatetime TEXT, "
              "Attempts INTEGER NOT NULL DEFAULT 0, LastAttempt TEXT, NextAttempt TEXT, LastError TEXT, SimIndex "
              "INTEGER, PartsSent INTEGER NOT NULL DEFAULT 0, PartReferences TEXT, ReportStatus TEXT, ReportedAt TEXT, "
              "PartsDelivered INTEGER NOT NULL DEFAULT 0)",
              "INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime) VALUES ('9888812121', 'queued "
              "before', '2024-05-06T06:00:00.000Z')",
              "CREATE TABLE ModemSetting (CommPortNo INTEGER, BitsPerSecond TEXT, Parity TEXT, DataBits TEXT, StopBits "
              "TEXT, FlowControl TEXT, CharacterSet TEXT, EnabledCallerId INTEGER NOT NULL DEFAULT 0, "
              "ModemDelayFactor NUMERIC, MessageFormat TEXT)",
              "INSERT INTO ModemSetting VALUES (4, '19200', 'Odd', '7', '2', 'Hardware', 'UCS2', -1, 1.5, 'PDU')",
              "PRAGMA user_version = 2"})
            QVERIFY2(q.exec(QString::fromLatin1(sql)), sql);
        old.close();
    }
    QSqlDatabase::removeDatabase(u"old"_s);
    ConnectDatabase(rig.state, rig.db);
    QVERIFY(rig.state.DatabaseConnected);

    // The first modem is the row that was there, with the format of the settings.
    ModemConfig expected;
    expected.id = 1;
    expected.port = 4;
    expected.bitsPerSecond = u"19200"_s;
    expected.parity = u"Odd"_s;
    expected.dataBits = u"7"_s;
    expected.stopBits = u"2"_s;
    expected.flowControl = u"Hardware"_s;
    expected.characterSet = u"UCS2"_s;
    expected.callerId = true;
    expected.delayFactor = 1.5;
    expected.pdu = true;
    QCOMPARE(ModemsRepository(rig.db).all(), QList<ModemConfig>{expected});

    // The waiting row is claimed, sent and counted like a new one; the old rows keep their text.
    OutboxRepository outbox(rig.db);
    const auto row = outbox.claim(2, start(), 60s);
    QVERIFY(row);
    QCOMPARE(row->message, u"queued before"_s);
    outbox.markSending(row->id, start());
    outbox.markSent(row->id, start(), 2, u"Second"_s);
    QCOMPARE(ModemsRepository(rig.db).counts(2, start().date()), (ModemCounts{1, 0, 0}));
    QCOMPARE(queryTexts(rig.db, u"SELECT Message || '/' || coalesce(ModemId, 'none') FROM Message_InBox"_s),
             QStringList{u"received before/none"_s});
    QCOMPARE(ModemsRepository(rig.db).save(ModemConfig{}), 3); // 2 has sent a row
}

QTEST_GUILESS_MAIN(StorePoolTest)
#include "tst_store_pool.moc"
