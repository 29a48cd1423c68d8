// broadtext-cli as scripts use it: the commands run in-process on a real message base, a few runs of the real
// executable for its exit codes, a database another program holds, the word to the program that owns the
// modems, and ten thousand messages queued by a script while a pool of simulated modems delivers them.
#include "DatabaseLock.h"
#include "PoolRig.h"
#include "cli/CommandLine.h"
#include "common/LocalBus.h"
#include "store/CampaignRepository.h"
#include "store/InboxRepository.h"
#include "store/ModemsRepository.h"
#include "store/OptOutRepository.h"
#include "store/SettingsRows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// A message base set up as the desktop program leaves it: the first modem "Modem 1", a second "Pool 2", a
// receive-only "Listener", and one number on the opt-out list.
struct CliRig : TestRig {
    CliRig()
    {
        WriteModemSetting(db,
                          {3, u"115200"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, Database::DbBool(true), u"1"_s});
        ModemConfig second;
        second.port = 4;
        second.name = u"Pool 2"_s;
        pool2 = ModemsRepository(db).save(second);
        ModemConfig listener;
        listener.port = 5;
        listener.name = u"Listener"_s;
        listener.role = ModemConfig::Role::Receive;
        ModemsRepository(db).save(listener);
        OptOutRepository(db).add(u"+44 7700 900999"_s, QDateTime::currentDateTime());
    }
    // Where the program finds its message base: the file, or the server's URI.
    QString path() const { return DatabaseLocation(state); }

    Run cli(const QStringList& arguments)
    {
        Run r;
        QTextStream out(&r.out);
        QTextStream err(&r.err);
        r.code = RunCommandLine(QStringList{u"--database"_s, path()} + arguments, out, err);
        return r;
    }
    qint64 outboxRows() { return db.count(u"SELECT count(*) FROM Message_OutBox"_s); }
    QString file(const QString& name, const QByteArray& content)
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        return f.fileName();
    }

    int pool2 = 0;
};

QList<qint64> idsOf(const QString& out)
{
    QList<qint64> ids;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
        ids << line.toLongLong();
    return ids;
}

Run runProgram(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral(BROADTEXT_CLI), arguments);
    if (!p.waitForFinished(30000))
        qFatal("broadtext-cli did not end");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QByteArray csvOf(int first, int count)
{
    QByteArray csv = "number,text\n";
    for (int i = first; i < first + count; ++i)
        csv += QStringLiteral("+91988%1,\"Reminder %1, from the script\"\n").arg(i, 7, 10, QLatin1Char('0')).toUtf8();
    return csv;
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void refusalsWriteNothing_data();
    void refusalsWriteNothing();
    void sendQueuesCleanedNumbersAtTheirTimeOnTheirModem_data();
    void sendQueuesCleanedNumbersAtTheirTimeOnTheirModem();
    void aQueueFileIsQueuedWhole();
    void optedOutNumbersAreLeftOutOnlyWhenAsked();
    void listsGiveStableFields_data();
    void listsGiveStableFields();
    void statusOfOneMessageAndOfTheFolders();
    void optOutAddHoldsBackWhatIsQueued();
    void aHeldDatabaseIsWaitedForOrRefused_data();
    void aHeldDatabaseIsWaitedForOrRefused();
    void theProgramIsToldAboutQueuedRows();
    void theExecutablesExitCodes_data();
    void theExecutablesExitCodes();
    void tenThousandMessagesQueuedByAScriptAreSentOnce();
    void aBigQueueLeavesOtherWritersTheirTurn();
    void aKilledQueueLeavesNothingToSend_data();
    void aKilledQueueLeavesNothingToSend();
    void aQueueThatFailsLateLeavesNothing_data();
    void aQueueThatFailsLateLeavesNothing();
    void abandonedLoadsAreThoseOfGoneOrOldLoaders_data();
    void abandonedLoadsAreThoseOfGoneOrOldLoaders();
};

void CliTest::initTestCase()
{
    // The message bases in memory: the program flushes every write to the disk (tens of thousands of flushes
    // in the script below), and how fast this machine's disk flushes is not what these tests show.
    if (QFileInfo(u"/dev/shm"_s).isWritable())
        qputenv("TMPDIR", "/dev/shm");
}

void CliTest::refusalsWriteNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("csv"); // written to queue.csv when given
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");

    const QByteArray none;
    QTest::newRow("bad number") << QStringList{u"send"_s, u"+44 7700 900123"_s, u"12ab"_s, u"--text"_s, u"Hi"_s} << none
                                << CliExit::Usage << u"\"12ab\" (it holds \"a\", \"b\")"_s;
    QTest::newRow("short number") << QStringList{u"send"_s, u"99"_s, u"--text"_s, u"Hi"_s} << none << CliExit::Usage
                                  << u"\"99\" (it has 2 digits; a number has 3 to 20)"_s;
    QTest::newRow("empty text") << QStringList{u"send"_s, u"12345"_s, u"--text"_s, u""_s} << none << CliExit::Usage
                                << u"the message is empty"_s;
    QTest::newRow("blank text") << QStringList{u"send"_s, u"12345"_s, u"--text"_s, u" \n "_s} << none << CliExit::Usage
                                << u"the message is empty"_s;
    QTest::newRow("no text") << QStringList{u"send"_s, u"12345"_s} << none << CliExit::Usage
                             << u"--text TEXT or --file FILE"_s;
    QTest::newRow("unknown modem") << QStringList{u"send"_s, u"12345"_s,   u"--text"_s,
                                                  u"Hi"_s,   u"--modem"_s, u"Pool 9"_s}
                                   << none << CliExit::Usage
                                   << u"no modem is named \"Pool 9\"; the modems are \"Modem 1\", \"Pool 2\""_s;
    QTest::newRow("receive-only modem") << QStringList{u"send"_s, u"12345"_s,   u"--text"_s,
                                                       u"Hi"_s,   u"--modem"_s, u"listener"_s}
                                        << none << CliExit::Usage << u"\"Listener\" does not send"_s;
    QTest::newRow("opted out") << QStringList{u"send"_s, u"12345"_s, u"07700900999"_s, u"--text"_s, u"Hi"_s} << none
                               << CliExit::Usage << u"1 of the numbers is on the opt-out list: nothing was queued"_s;
    QTest::newRow("bad time") << QStringList{u"send"_s, u"12345"_s, u"--text"_s, u"Hi"_s, u"--at"_s, u"tomorrow"_s}
                              << none << CliExit::Usage << u"--at: \"tomorrow\" is no time"_s;
    QTest::newRow("unknown option") << QStringList{u"send"_s, u"12345"_s, u"--txt"_s, u"Hi"_s} << none << CliExit::Usage
                                    << u"unknown option --txt"_s;
    QTest::newRow("option of another command")
        << QStringList{u"inbox"_s, u"--modem"_s, u"Pool 2"_s} << none << CliExit::Usage << u"inbox does not take"_s;
    QTest::newRow("queue file with a bad row")
        << QStringList{u"queue"_s} << QByteArray("number,text\n12345,first\n12346,second\n12x47,third\n12348,\n")
        << CliExit::Usage
        << u"queue.csv: row 4: the number \"12x47\" cannot be sent to (it holds \"x\"); row 5: the message is "
           "empty; nothing was queued"_s;
    QTest::newRow("queue file with a bad send_at")
        << QStringList{u"queue"_s} << QByteArray("number,text,send_at\n12345,first,2026-12-24 09:00\n12346,x,soon\n")
        << CliExit::Usage << u"row 3: send_at \"soon\" is no time"_s;
    QTest::newRow("queue file without its columns")
        << QStringList{u"queue"_s} << QByteArray("phone,message\n12345,first\n") << CliExit::Usage
        << u"the first line must name the columns number and text"_s;
    QTest::newRow("queue file with an opted-out number")
        << QStringList{u"queue"_s} << QByteArray("number,text\n12345,first\n+447700900999,second\n") << CliExit::Usage
        << u"1 of the numbers is on the opt-out list"_s;
    QTest::newRow("queue under a blank campaign name")
        << QStringList{u"queue"_s, u"--campaign"_s, u" "_s} << QByteArray("number,text\n12345,first\n")
        << CliExit::Usage << u"--campaign needs a name"_s;
    QTest::newRow("no command") << QStringList{} << none << CliExit::Usage << u"usage: broadtext-cli"_s;
}

void CliTest::refusalsWriteNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, csv);
    QFETCH(int, code);
    QFETCH(QString, says);
    CliRig rig;
    if (!csv.isEmpty())
        arguments << rig.file(u"queue.csv"_s, csv);
    const Run r = rig.cli(arguments);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
    if (!arguments.isEmpty())
        QCOMPARE(r.err.count(u'\n'), 1); // one line, for a script's log
    QCOMPARE(r.out, QString());
    QCOMPARE(rig.outboxRows(), 0);
}

void CliTest::sendQueuesCleanedNumbersAtTheirTimeOnTheirModem_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QDateTime>("sendAt"); // invalid: as soon as it can
    QTest::addColumn<bool>("pinned");      // to "Pool 2"

    QTest::newRow("now, any modem") << QStringList{} << QDateTime() << false;
    QTest::newRow("local time with a blank")
        << QStringList{u"--at"_s, u"2026-12-24 09:00"_s} << QDateTime(QDate(2026, 12, 24), QTime(9, 0)) << false;
    QTest::newRow("local time with T and seconds")
        << QStringList{u"--at"_s, u"2026-12-24T09:00:30"_s} << QDateTime(QDate(2026, 12, 24), QTime(9, 0, 30)) << false;
    QTest::newRow("with an offset") << QStringList{u"--at"_s, u"2026-12-24T09:00+01:00"_s}
                                    << QDateTime(QDate(2026, 12, 24), QTime(8, 0), Qt::UTC) << false;
    QTest::newRow("in UTC, on a modem by name") << QStringList{u"--at=2026-07-01T18:30Z"_s, u"--modem"_s, u"pool 2"_s}
                                                << QDateTime(QDate(2026, 7, 1), QTime(18, 30), Qt::UTC) << true;
}

void CliTest::sendQueuesCleanedNumbersAtTheirTimeOnTheirModem()
{
    QFETCH(QStringList, options);
    QFETCH(QDateTime, sendAt);
    QFETCH(bool, pinned);
    CliRig rig;
    const Run r = rig.cli(
        QStringList{u"send"_s, u"+44 7700-900.123"_s, u"0770 0900124"_s, u"--text"_s, u"Your order is in"_s} + options);
    QCOMPARE(r.code, CliExit::Ok);
    QCOMPARE(r.err, QString());
    const QList<qint64> ids = idsOf(r.out);
    QCOMPARE(ids.size(), 2);
    const QStringList expected = {u"%1 +447700900123 Your order is in %2 %3"_s,
                                  u"%1 07700900124 Your order is in %2 %3"_s};
    for (int i = 0; i < 2; ++i)
        QCOMPARE(queryTexts(rig.db,
                            u"SELECT Outbox_Id || ' ' || RecipientMobileNo || ' ' || Message || ' ' || "
                            "coalesce(SendAt, '-') || ' ' || coalesce(ModemId, 0) FROM Message_OutBox WHERE "
                            "Outbox_Id = ?"_s,
                            {ids[i]}),
                 QStringList{expected[i]
                                 .arg(ids[i])
                                 .arg(sendAt.isValid() ? Database::DbTime(sendAt) : u"-"_s)
                                 .arg(rig.db.modemKey(pinned ? rig.pool2 : 0))});
}

void CliTest::aQueueFileIsQueuedWhole()
{
    CliRig rig;
    const QString csv = rig.file(u"orders.csv"_s, "Number, Text ,send_at\r\n"
                                                  "+44 7700 900123,\"Dear customer, your order\nis ready\",\r\n"
                                                  "\r\n"
                                                  "12345,Pick-up tomorrow,2026-12-24 09:00\r\n");
    const Run r = rig.cli({u"queue"_s, csv});
    QCOMPARE(r.code, CliExit::Ok);
    QCOMPARE(r.err, QString());
    const QList<qint64> ids = idsOf(r.out);
    QCOMPARE(queryTexts(rig.db, u"SELECT Outbox_Id || '|' || RecipientMobileNo || '|' || Message || '|' || "
                                "coalesce(SendAt, '-') FROM Message_OutBox ORDER BY Outbox_Id"_s),
             (QStringList{u"%1|+447700900123|Dear customer, your order\nis ready|-"_s.arg(ids.value(0)),
                          u"%1|12345|Pick-up tomorrow|%2"_s.arg(ids.value(1))
                              .arg(Database::DbTime(QDateTime(QDate(2026, 12, 24), QTime(9, 0))))}));
}

void CliTest::optedOutNumbersAreLeftOutOnlyWhenAsked()
{
    CliRig rig;
    const Run r = rig.cli({u"send"_s, u"12345"_s, u"+447700900999"_s, u"--text"_s, u"Hi"_s, u"--skip-opted-out"_s});
    QCOMPARE(r.code, CliExit::Ok);
    QCOMPARE(r.err, u"broadtext-cli: 1 of the numbers is on the opt-out list and was not queued.\n"_s);
    QCOMPARE(queryTexts(rig.db, u"SELECT Outbox_Id || ' ' || RecipientMobileNo FROM Message_OutBox"_s),
             QStringList{r.out.trimmed() + u" 12345"_s});

    const Run all = rig.cli({u"send"_s, u"07700900999"_s, u"--text"_s, u"Hi"_s, u"--skip-opted-out"_s});
    QCOMPARE(all.code, CliExit::Usage);
    QCOMPARE(all.err, u"broadtext-cli: every number is on the opt-out list: nothing was queued\n"_s);
    QCOMPARE(rig.outboxRows(), 1);
}

void CliTest::listsGiveStableFields_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("rows"); // "id number text received read" of each inbox row given, in order

    // Received (local time): 1 on 1 Dec 10:00 read, 2 on 3 Dec 08:30 unread, 3 on 5 Dec 23:15 unread.
    QTest::newRow("all") << QStringList{u"inbox"_s, u"--json"_s} << QStringList{u"1"_s, u"2"_s, u"3"_s};
    QTest::newRow("unread") << QStringList{u"inbox"_s, u"--json"_s, u"--unread"_s} << QStringList{u"2"_s, u"3"_s};
    QTest::newRow("since") << QStringList{u"inbox"_s, u"--json"_s, u"--since"_s, u"2026-12-03 08:30"_s}
                           << QStringList{u"2"_s, u"3"_s};
    QTest::newRow("unread since") << QStringList{u"inbox"_s, u"--json"_s, u"--unread"_s, u"--since"_s,
                                                 u"2026-12-04 00:00"_s}
                                  << QStringList{u"3"_s};
}

void CliTest::listsGiveStableFields()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, rows);
    CliRig rig;
    InboxRepository inbox(rig.db);
    const QList<QDateTime> received = {QDateTime(QDate(2026, 12, 1), QTime(10, 0)),
                                       QDateTime(QDate(2026, 12, 3), QTime(8, 30)),
                                       QDateTime(QDate(2026, 12, 5), QTime(23, 15))};
    QList<qint64> ids;
    for (int i = 0; i < 3; ++i)
        ids << inbox.storeInboxMessage(u"+4477009001%1"_s.arg(i), u"Reply %1\nsecond line"_s.arg(i), received[i]);
    inbox.markRead(ids[0]);

    const Run r = rig.cli(arguments);
    QVERIFY2(r.code == CliExit::Ok, qPrintable(r.err));
    QJsonParseError error;
    const QJsonArray got = QJsonDocument::fromJson(r.out.toUtf8(), &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QJsonArray expected;
    for (const QString& n : rows) {
        const int i = n.toInt() - 1;
        expected.append(QJsonObject{{u"id"_s, ids[i]},
                                    {u"number"_s, u"+4477009001%1"_s.arg(i)},
                                    {u"text"_s, u"Reply %1\nsecond line"_s.arg(i)},
                                    {u"received"_s, received[i].toUTC().toString(Qt::ISODate)},
                                    {u"read"_s, i == 0},
                                    {u"modem"_s, QJsonValue::Null}});
    }
    QCOMPARE(got, expected);
    QVERIFY(got.first().toObject().value(u"received"_s).toString().endsWith(u'Z'));
}

void CliTest::statusOfOneMessageAndOfTheFolders()
{
    CliRig rig;
    const QList<qint64> ids = idsOf(rig.cli({u"send"_s, u"12345"_s, u"12346"_s, u"12347"_s, u"--text"_s, u"Hi"_s}).out);
    QCOMPARE(ids.size(), 3);
    OutboxRepository outbox(rig.db);
    const QDateTime sentAt(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
    outbox.markSent(ids[0], sentAt, 1, u"Modem 1"_s);
    outbox.markFailed(ids[1], u"+CMS ERROR: 38 (network out of order)"_s);
    InboxRepository(rig.db).storeInboxMessage(u"12345"_s, u"Thanks"_s, QDateTime::currentDateTime());

    const Run one = rig.cli({u"status"_s, QString::number(ids[0]), u"--json"_s});
    QCOMPARE(one.code, CliExit::Ok);
    const QJsonObject o = QJsonDocument::fromJson(one.out.toUtf8()).object();
    QCOMPARE(o.value(u"id"_s).toInteger(), ids[0]);
    QCOMPARE(o.value(u"folder"_s).toString(), u"sent"_s);
    QCOMPARE(o.value(u"status"_s).toString(), u"SENT"_s);
    QCOMPARE(o.value(u"sent"_s).toString(), u"2026-12-07T10:00:00Z"_s);

    const Run failed = rig.cli({u"status"_s, QString::number(ids[1])});
    QVERIFY2(failed.out.startsWith(u"%1\tFAILED\t12346\t"_s.arg(ids[1])), qPrintable(failed.out));

    const Run counts = rig.cli({u"status"_s, u"--json"_s});
    QVERIFY2(counts.code == CliExit::Ok, qPrintable(counts.err));
    QCOMPARE(QJsonDocument::fromJson(counts.out.toUtf8()).object(),
             (QJsonObject{{u"inbox"_s, QJsonObject{{u"unread"_s, 1}}},
                          {u"outbox"_s, QJsonObject{{u"FAILED"_s, 1}, {u"WAITING"_s, 1}}},
                          {u"sent"_s, QJsonObject{{u"SENT"_s, 1}}}}));

    const Run missing = rig.cli({u"status"_s, u"999"_s});
    QCOMPARE(missing.code, CliExit::Failed);
    QCOMPARE(missing.err, u"broadtext-cli: no message 999 in the Outbox or Sent Items\n"_s);
}

void CliTest::optOutAddHoldsBackWhatIsQueued()
{
    CliRig rig;
    const QList<qint64> ids = idsOf(rig.cli({u"send"_s, u"07700900555"_s, u"12345"_s, u"--text"_s, u"Hi"_s}).out);
    const Run add = rig.cli({u"optout"_s, u"add"_s, u"+44 7700 900555"_s});
    QCOMPARE(add.code, CliExit::Ok);
    QCOMPARE(add.out, u"+447700900555 added to the opt-out list. 1 waiting message(s) to it marked OPTED OUT.\n"_s);
    QCOMPARE(queryTexts(rig.db, u"SELECT coalesce(nullif(DeliveryStatus, ''), 'WAITING') FROM Message_OutBox "
                                "ORDER BY Outbox_Id"_s),
             (QStringList{u"OPTED OUT"_s, u"WAITING"_s}));
    QCOMPARE(rig.cli({u"optout"_s, u"list"_s}).out, u"+447700900555\n+44 7700 900999\n"_s);
    QCOMPARE(rig.cli({u"optout"_s, u"remove"_s, u"07700900555"_s}).out,
             u"07700900555 removed from the opt-out list.\n"_s);
    QCOMPARE(rig.cli({u"optout"_s, u"list"_s}).out, u"+44 7700 900999\n"_s);
    QCOMPARE(rig.cli({u"optout"_s, u"add"_s, u"12"_s}).code, CliExit::Usage);
    QCOMPARE(ids.size(), 2);
}

void CliTest::aHeldDatabaseIsWaitedForOrRefused_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<QString>("wait");
    QTest::addColumn<int>("code");

    QTest::newRow("released within the wait") << 600 << u"5"_s << CliExit::Ok;
    QTest::newRow("held longer than the wait") << 1000 << u"0.5"_s << CliExit::Busy;
}

void CliTest::aHeldDatabaseIsWaitedForOrRefused()
{
    QFETCH(int, holdMs);
    QFETCH(QString, wait);
    QFETCH(int, code);
    CliRig rig;
    const QString csv = rig.file(u"q.csv"_s, csvOf(0, 500));
    for (const QStringList& command :
         {QStringList{u"queue"_s, csv}, QStringList{u"send"_s, u"12345"_s, u"--text"_s, u"Hi"_s},
          QStringList{u"optout"_s, u"add"_s, u"12345"_s}}) {
        const qint64 before = rig.outboxRows();
        const qint64 listed = OptOutRepository(rig.db).count();
        QElapsedTimer waited;
        Run r;
        {
            DatabaseLock other(rig.path(), holdMs);
            QVERIFY(other.taken());
            waited.start();
            r = rig.cli(QStringList{u"--wait"_s, wait} + command);
        }
        QVERIFY2(r.code == code, qPrintable(command.join(u' ') + u": "_s + r.err));
        if (code == CliExit::Busy) {
            QCOMPARE(r.err, u"broadtext-cli: the message database is busy: another program held it for more than "
                            "0.5 s; nothing was written (--wait sets how long to wait)\n"_s);
            QCOMPARE(rig.outboxRows(), before);
            QCOMPARE(OptOutRepository(rig.db).count(), listed);
            QVERIFY(waited.elapsed() >= 400);
        } else {
            QCOMPARE(r.err, QString());
            QVERIFY(rig.outboxRows() > before || OptOutRepository(rig.db).count() > listed);
        }
    }
    if (code == CliExit::Ok)
        QCOMPARE(rig.outboxRows(), 501);
}

void CliTest::theProgramIsToldAboutQueuedRows()
{
    CliRig rig;
    LocalBus owner;
    QVERIFY(owner.listen(rig.path()));
    QSignalSpy heard(&owner, &LocalBus::received);
    QCOMPARE(rig.cli({u"send"_s, u"12345"_s, u"--text"_s, u"Hi"_s}).code, CliExit::Ok);
    QTRY_COMPARE(heard.size(), 1);
    QCOMPARE(heard.first().first().toByteArray(), "outbox"_ba);
    // A refusal wrote nothing, and the program is not disturbed.
    QCOMPARE(rig.cli({u"send"_s, u"12x45"_s, u"--text"_s, u"Hi"_s}).code, CliExit::Usage);
    QTest::qWait(100);
    QCOMPARE(heard.size(), 1);
}

void CliTest::theExecutablesExitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("holdMs"); // another program holding the database meanwhile (0: none)
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("stdoutLines"); // as a pattern

    QTest::newRow("queued") << QStringList{u"send"_s, u"12345"_s, u"12346"_s, u"--text"_s, u"Hi"_s} << 0 << 0
                            << u"^\\d+\\n\\d+\\n$"_s;
    QTest::newRow("bad number") << QStringList{u"send"_s, u"12+45"_s, u"--text"_s, u"Hi"_s} << 0 << 2 << u"^$"_s;
    QTest::newRow("busy") << QStringList{u"--wait"_s, u"0.3"_s, u"send"_s, u"12345"_s, u"--text"_s, u"Hi"_s} << 2000
                          << 3 << u"^$"_s;
    QTest::newRow("no such database") << QStringList{u"--database"_s, u"/nonexistent/Broadtext.db"_s, u"outbox"_s} << 0
                                      << 1 << u"^$"_s;
}

void CliTest::theExecutablesExitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, holdMs);
    QFETCH(int, code);
    QFETCH(QString, stdoutLines);
    CliRig rig;
    std::unique_ptr<DatabaseLock> other;
    if (holdMs > 0) {
        other = std::make_unique<DatabaseLock>(rig.path(), holdMs);
        QVERIFY(other->taken());
    }
    const Run r = runProgram(QStringList{u"--database"_s, rig.path()} + arguments);
    other.reset();
    QCOMPARE(r.code, code);
    QVERIFY2(QRegularExpression(stdoutLines).match(r.out).hasMatch(), qPrintable(r.out));
    QCOMPARE(r.err.isEmpty(), code == 0);
    QCOMPARE(rig.outboxRows(), idsOf(r.out).size());
}

void CliTest::tenThousandMessagesQueuedByAScriptAreSentOnce()
{
    if (qEnvironmentVariableIsSet("BROADTEXT_SLOW_APART"))
        QSKIP("run on its own as the slow test cli_script");
    // The program: a pool of eight modems whose owner delivers at once when told, with no delivery timer: rows
    // queued during a run go when it ends.
    constexpr int Modems = 8;
    PoolRig rig(Modems);
    QVERIFY(rig.connectAll());
    rig.engine.Timer2.setEnabled(false);
    LocalBus owner;
    QVERIFY(owner.listen(DatabaseLocation(rig.state)));
    QObject::connect(&owner, &LocalBus::received, &rig.engine, [&](const QByteArray& word) {
        if (word == "outbox")
            rig.engine.deliverNow();
    });

    // The script: ten files of a thousand rows, each queued by a run of the real program, one after the
    // other while the modems send.
    constexpr int Files = 10, Rows = 1000, Messages = Files * Rows;
    QSet<qint64> queued;
    QElapsedTimer timer;
    timer.start();
    for (int f = 0; f < Files; ++f) {
        QFile csv(rig.dir.filePath(u"batch%1.csv"_s.arg(f)));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(csvOf(f * Rows, Rows));
        csv.close();
        QProcess run;
        run.start(QStringLiteral(BROADTEXT_CLI),
                  {u"--database"_s, DatabaseLocation(rig.state), u"queue"_s, csv.fileName()});
        QVERIFY(run.waitForStarted());
        // The owner's event loop runs while the script waits for its command, as two processes would.
        QVERIFY(QTest::qWaitFor([&] { return run.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(run.exitCode(), CliExit::Ok);
        for (const qint64 id : idsOf(QString::fromUtf8(run.readAllStandardOutput())))
            queued << id;
    }
    QCOMPARE(queued.size(), Messages);
    const qint64 queuedMs = timer.elapsed();
    QVERIFY2(QTest::qWaitFor([&] { return rig.sentRows() == Messages; }, 60000),
             qPrintable(u"%1 of %2 sent"_s.arg(rig.sentRows()).arg(Messages)));
    qInfo("queued by the script in %lld ms, all sent after %lld ms", queuedMs, timer.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 20000);

    // Once each: every queued row SENT, and the networks accepted each text exactly once.
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'"_s), Messages);
    QHash<QString, int> times;
    qint64 accepted = 0;
    for (int id : rig.ids())
        for (const auto& m : rig.simOf(id).sent()) {
            ++times[m.number + u'|' + m.text];
            ++accepted;
        }
    QCOMPARE(accepted, Messages);
    QCOMPARE(times.size(), Messages);
}

void CliTest::aBigQueueLeavesOtherWritersTheirTurn()
{
    // The running program's writes (a row marked sent, a message stored) wait 2 s for the lock, then fail.
    CliRig rig;
    constexpr int Rows = 20000;
    const QString csv = rig.file(u"big.csv"_s, csvOf(0, Rows));
    Database program;
    program.open(rig.path());
    QProcess queue;
    queue.start(QStringLiteral(BROADTEXT_CLI), {u"--database"_s, rig.path(), u"queue"_s, csv});
    QVERIFY(queue.waitForStarted());
    int writes = 0;
    qint64 longestWait = 0;
    QStringList failures;
    QElapsedTimer ran;
    ran.start();
    while (queue.state() != QProcess::NotRunning) {
        QElapsedTimer waited;
        waited.start();
        const auto longest = qScopeGuard([&] { longestWait = std::max(longestWait, waited.elapsed()); });
        try {
            program.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message, InboxDateTime, IsRead) VALUES "
                            "('12345', 'a reply', ?, 0)"_s,
                            {Database::DbTime(QDateTime::currentDateTimeUtc())});
            ++writes;
        } catch (const DbError& e) {
            failures << e.description();
        }
        QTest::qWait(20);
    }
    qInfo("%d writes while the queue ran for %lld ms, the longest waited %lld ms", writes, ran.elapsed(), longestWait);
    QCOMPARE(queue.exitCode(), CliExit::Ok);
    QCOMPARE(failures, QStringList());
    QVERIFY2(writes >= 3, qPrintable(u"only %1 writes while the queue ran"_s.arg(writes)));
    // Not only within the 2 s: a slice holds the lock for a fraction of what the whole file would.
    QVERIFY2(longestWait < 1000, qPrintable(u"a write waited %1 ms"_s.arg(longestWait)));
    QCOMPARE(rig.outboxRows(), Rows);
    QCOMPARE(queryTexts(rig.db, u"SELECT Name || '|' || State FROM Campaigns"_s), QStringList{u"big.csv|running"_s});
}

void CliTest::aKilledQueueLeavesNothingToSend_data()
{
    QTest::addColumn<bool>("byTheProgram"); // else by the next queue

    QTest::newRow("removed by the program at its start") << true;
    QTest::newRow("removed by the next queue") << false;
}

void CliTest::aKilledQueueLeavesNothingToSend()
{
    QFETCH(bool, byTheProgram);
    CliRig rig;
    constexpr int Rows = 20000;
    const QString csv = rig.file(u"big.csv"_s, csvOf(0, Rows));
    QProcess queue;
    queue.start(QStringLiteral(BROADTEXT_CLI), {u"--database"_s, rig.path(), u"queue"_s, csv});
    QVERIFY(queue.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return rig.outboxRows() > 0 || queue.state() == QProcess::NotRunning; }, 30000));
    queue.kill();
    QVERIFY(queue.waitForFinished());
    const qint64 left = rig.outboxRows();
    QVERIFY2(left > 0 && left < Rows, qPrintable(u"%1 rows left by the killed queue"_s.arg(left)));

    // Half-written rows are never taken for sending.
    OutboxRepository outbox(rig.db);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QCOMPARE(outbox.countDue(now), 0);
    QVERIFY(!outbox.claim(1, now, std::chrono::seconds(60)));

    if (byTheProgram) {
        QCOMPARE(CampaignRepository(rig.db).dropAbandonedLoads(now), 1);
    } else {
        QCOMPARE(rig.cli({u"queue"_s, rig.file(u"next.csv"_s, csvOf(Rows, 3)), u"--campaign"_s, u"Next week"_s}).code,
                 CliExit::Ok);
    }
    QCOMPARE(queryTexts(rig.db, u"SELECT Name || '|' || State FROM Campaigns"_s),
             byTheProgram ? QStringList() : QStringList{u"Next week|running"_s});
    QCOMPARE(rig.outboxRows(), byTheProgram ? 0 : 3);
}

void CliTest::aQueueThatFailsLateLeavesNothing_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("failingNumber"); // the database refuses to store it (empty: none)
    QTest::addColumn<int>("code");

    QTest::newRow("a bad row late in the file") << csvOf(0, 6000) + "12ab,Hi\n" << QString() << CliExit::Usage;
    QTest::newRow("the database fails late in the file") << csvOf(0, 6000) << u"+919880005000"_s << CliExit::Failed;
}

void CliTest::aQueueThatFailsLateLeavesNothing()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, failingNumber);
    QFETCH(int, code);
    CliRig rig;
    if (!failingNumber.isEmpty() && rig.db.isServer())
        rig.db.execute(
            u"CREATE FUNCTION fail_late() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
            "NEW.RecipientMobileNo = '%1' THEN RAISE EXCEPTION 'disk I/O error'; END IF; RETURN NEW; END $$; "
            "CREATE TRIGGER FailLate BEFORE INSERT ON Message_OutBox FOR EACH ROW EXECUTE FUNCTION "
            "fail_late()"_s.arg(failingNumber));
    else if (!failingNumber.isEmpty())
        rig.db.execute(u"CREATE TRIGGER FailLate BEFORE INSERT ON Message_OutBox WHEN NEW.RecipientMobileNo = '%1' "
                       "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END"_s.arg(failingNumber));
    const Run r = rig.cli({u"queue"_s, rig.file(u"late.csv"_s, csv)});
    QCOMPARE(r.code, code);
    QCOMPARE(r.out, QString());
    QCOMPARE(rig.outboxRows(), 0);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Campaigns"_s), 0);
}

void CliTest::abandonedLoadsAreThoseOfGoneOrOldLoaders_data()
{
    QTest::addColumn<bool>("thisHost");
    QTest::addColumn<bool>("processAlive");
    QTest::addColumn<int>("ageHours");
    QTest::addColumn<bool>("dropped");

    QTest::newRow("still loading here") << true << true << 1 << false;
    QTest::newRow("its process is gone") << true << false << 0 << true;
    QTest::newRow("on another computer") << false << false << 1 << false;
    QTest::newRow("on another computer, a day old") << false << false << 25 << true;
    QTest::newRow("a day old here") << true << true << 25 << true;
}

void CliTest::abandonedLoadsAreThoseOfGoneOrOldLoaders()
{
    QFETCH(bool, thisHost);
    QFETCH(bool, processAlive);
    QFETCH(int, ageHours);
    QFETCH(bool, dropped);
    CliRig rig;
    // A process that has ended, and whose id no other has taken yet.
    QProcess ended;
    ended.start(u"true"_s);
    QVERIFY(ended.waitForFinished());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    CampaignRepository::Loader loader = CampaignRepository::Loader::ThisProcess(now.addSecs(-3600 * ageHours));
    if (!thisHost)
        loader.host += u".elsewhere"_s;
    if (!processAlive)
        loader.pid = ended.processId() > 0 ? ended.processId() : std::numeric_limits<int>::max();
    CampaignRepository campaigns(rig.db);
    const qint64 id = campaigns.startLoad(u"orders"_s, loader);
    OutboxRepository::Batch(rig.db, id).add(u"12345"_s, u"Hi"_s, now);
    QCOMPARE(campaigns.dropAbandonedLoads(now), dropped ? 1 : 0);
    if (!dropped) // nor is a load that goes on cancelled from under its loader
        QCOMPARE(campaigns.cancel(id), -1);
    QCOMPARE(rig.outboxRows(), dropped ? 0 : 1);
    QCOMPARE(campaigns.campaign(id).has_value(), !dropped);
}

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
