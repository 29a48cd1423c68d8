// broadtext --migrate-to: a filled SQLite message base copied into a PostgreSQL server's, row for row, and the
// cases it refuses, which leave the file, the server and broadtext.conf as they were.
#include "StoreBackend.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/Migration.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

// Every table the program keeps, with the column both engines order its rows by.
const std::pair<const char*, const char*> CopiedTables[] = {
    {"Message_InBox", "InBox_Id"},
    {"Message_OutBox", "Outbox_Id"},
    {"MissedCallStatistics", "id"},
    {"Message_Parts", "Part_Id"},
    {"OptOut", "rowid"},
    {"Campaigns", "Id"},
    {"SentParts", "rowid"},
    {"HandOver", "Id"},
    {"Api_request", "IdempotencyKey"},
    {"Timer_setting", "rowid"},
    {"AutoReply_OnMissedCall", "rowid"},
    {"Country", "rowid"},
    {"Integration_setting", "Name"},
    {"ModemSetting", "rowid"},
    {"Modems", "ModemId"},
};
// The columns that hold a modem's id on SQLite and its key on a server.
const QStringList ModemColumns = {u"modemid"_s, u"lastmodemid"_s, u"claimedby"_s};

const QString Machine = u"desk-1"_s;

QByteArray checksum(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : "none";
}

// A message base as a user's would be after some weeks: two modems, hand-overs to a receive hook (one row came
// before the hook was set up and has none), a deleted Outbox row, texts that SQL would choke on if pasted.
void fill(const AppState& state)
{
    Database db;
    db.open(DatabaseFilePath(state));
    const QStringList statements = {
        u"INSERT INTO ModemSetting (CommPortNo, BitsPerSecond, Parity, DataBits, StopBits, FlowControl, CharacterSet,"
        " EnabledCallerId, ModemDelayFactor, MessageFormat) VALUES (3, '9600', 'None', '8', '1', 'None', 'GSM', -1,"
        " 1.5, 'PDU')"_s,
        u"INSERT INTO Modems (ModemId, Name, CommPortNo, Role, Enabled, LimitPerDay) VALUES (1, 'Front desk', 3,"
        " 'Both', -1, 100), (2, 'Back office', 4, 'Send', -1, 0)"_s,
        u"INSERT INTO Message_InBox (SenderMobileNo, Message, InboxDateTime, IsRead, ModemId, ModemName) VALUES"
        " ('+447700900001', 'before the hook', '2026-11-30T08:00:00.000Z', -1, 1, 'Front desk')"_s,
        u"INSERT INTO Integration_setting (Name, Value) VALUES ('HookCommand', '/bin/true'), ('HookOnCalls', '1')"_s,
        u"INSERT INTO Message_InBox (SenderMobileNo, Message, InboxDateTime, ModemId, ModemName) VALUES"
        " ('+447700900002', 'It''s \"quoted\"; DROP TABLE Message_InBox; --', '2026-12-01T09:30:00.123Z', 2,"
        " 'Back office'), ('+447700900003', 'Grüße 😀🎉', '2026-12-02T10:00:00.000Z', 1, 'Front desk'),"
        " (NULL, NULL, NULL, NULL, NULL)"_s,
        u"INSERT INTO Campaigns (Name, Created, State) VALUES ('Spring ''sale''', '2026-12-01T00:00:00.000Z',"
        " 'paused')"_s,
        u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, DeliveryStatus, ModemId, CampaignId)"
        " VALUES ('+447700900010', 'waiting 😀', '2026-12-03T11:00:00.000Z', '', 2, 1)"_s,
        u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, DeliveryStatus, ClaimedBy,"
        " ClaimUntil, Attempts, LastModemId) VALUES ('+447700900011', 'being sent', '2026-12-03T11:01:00.000Z',"
        " 'SENDING', 1, '2026-12-03T11:06:00.000Z', 1, 1)"_s,
        u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, DeliveryStatus, DeliveryDatetime,"
        " ModemId, ModemName, LastModemId, ReportStatus) VALUES ('+447700900012', 'sent ''ok''',"
        " '2026-12-03T11:02:00.000Z', 'SENT', '2026-12-03T11:03:00.000Z', 1, 'Front desk', 1, 'delivered')"_s,
        u"INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES ('+447700900013', 'deleted later')"_s,
        u"DELETE FROM Message_OutBox WHERE Message = 'deleted later'"_s,
        u"INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall, ModemId, ModemName) VALUES"
        " ('+447700900020', '2026-12-04T12:00:00.000Z', -1, 2, 'Back office')"_s,
        u"INSERT INTO Message_Parts (SenderMobileNo, Reference, PartCount, PartNumber, Message, SentOn, ReceivedOn)"
        " VALUES ('+447700900030', 7, 2, 1, 'first half ''of''', '2026-12-05T00:00:00.000Z',"
        " '2026-12-05T00:00:01.000Z')"_s,
        u"INSERT INTO OptOut (NumberKey, MobileNo, AddedOn, ModemId, Word) VALUES ('700900040', '+447700900040',"
        " '2026-12-05T01:00:00.000Z', 2, 'STOP')"_s,
        u"INSERT INTO SentParts (ModemId, SentAt, Recipient, Parts) VALUES (1, '2026-12-03T11:03:00.000Z',"
        " '+447700900012', 1), (2, '2026-12-03T11:04:00.000Z', '+447700900014', 3)"_s,
        u"INSERT INTO Api_request (IdempotencyKey, Created, Status, Answer) VALUES ('k-1', '2026-12-03T10:00:00.000Z',"
        " 201, '{\"ids\":[1]}')"_s,
        u"UPDATE HandOver SET State = 'done', HandedAt = '2026-12-02T10:00:01.000Z' WHERE Kind = 'message'"_s,
        u"UPDATE Timer_setting SET QuietFrom = '22:00', QuietTo = '07:00'"_s,
        u"UPDATE AutoReply_OnMissedCall SET Message = 'Sorry we missed you 🙂', IsActive = -1"_s,
    };
    for (const QString& sql : statements)
        db.execute(sql);
}

struct Source {
    QTemporaryDir dir;
    AppState state;
    Source()
    {
        state.dataDir = dir.path() + u"/broadtext"_s; // $XDG_DATA_HOME/broadtext
        QDir().mkpath(state.dataDir);
        QSettings conf(PreferencesFilePath(state.dataDir), QSettings::IniFormat);
        conf.setValue(u"machine"_s, Machine);
        conf.sync();
        fill(state);
    }
    QString file() const { return DatabaseFilePath(state); }
    QString configuredDatabase() const
    {
        return QSettings(PreferencesFilePath(state.dataDir), QSettings::IniFormat).value(u"database"_s).toString();
    }
};

// A database on the test cluster with nothing in it, not even tables.
QString emptyServerDatabase()
{
    PgCluster& cluster = TestCluster();
    if (!cluster.isReady())
        qFatal("the test PostgreSQL cluster did not start: %s", qPrintable(cluster.error()));
    static int made = 0;
    const QString name = u"migrate_%1"_s.arg(++made);
    QSqlDatabase admin = QSqlDatabase::contains(u"migrate-admin"_s) ? QSqlDatabase::database(u"migrate-admin"_s)
                                                                    : cluster.addDatabase(u"migrate-admin"_s);
    if (!QSqlQuery(admin).exec(u"CREATE DATABASE %1"_s.arg(name)))
        qFatal("cannot make a test database");
    return cluster.uri(name);
}

QStringList rows(Database& db, const QString& table, const QString& order, const QStringList& columns,
                 const std::function<QString(const QString&, const QVariant&)>& shown)
{
    QStringList out;
    for (Query q(db, u"SELECT %1 FROM %2 ORDER BY %3"_s.arg(columns.join(u", "_s), table, order)); q.next();) {
        QStringList fields;
        for (int i = 0; i < columns.size(); ++i)
            fields << shown(columns[i].toLower(), q.value(i));
        out << fields.join(u" | "_s);
    }
    return out;
}

} // namespace

class MigrateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void refusalsLeaveEverythingAsItWas_data();
    void refusalsLeaveEverythingAsItWas();
    void everyRowIsCopiedAndTheProgramMovesToTheServer_data();
    void everyRowIsCopiedAndTheProgramMovesToTheServer();
    void theProgramSaysWhatItDidAndEndsWithItsStatus_data();
    void theProgramSaysWhatItDidAndEndsWithItsStatus();
};

void MigrateTest::initTestCase()
{
    if (!PgCluster::installed())
        QSKIP("PostgreSQL is not installed");
}

void MigrateTest::refusalsLeaveEverythingAsItWas_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("why");
    QTest::newRow("a message table holds rows") << u"non-empty"_s << u"Message_OutBox"_s;
    QTest::newRow("a password in the URI") << u"postgresql://broadtext:secret@/base?host=/tmp"_s << u"password"_s;
    QTest::newRow("no server there") << u"postgresql://broadtext@/base?host=/nonexistent-broadtext&port=5999"_s
                                     << u"/nonexistent-broadtext"_s;
    QTest::newRow("a file of a newer program") << u"newer-file"_s << u"newer"_s;
}

void MigrateTest::refusalsLeaveEverythingAsItWas()
{
    QFETCH(QString, target);
    QFETCH(QString, why);
    Source source;
    QString uri = target;
    if (target == u"non-empty"_s || target == u"newer-file"_s) {
        uri = emptyServerDatabase();
        Database server;
        server.open(uri);
        if (target == u"non-empty"_s)
            server.execute(u"INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES (?, ?)"_s,
                           {u"+1"_s, u"already there"_s});
    }
    if (target == u"newer-file"_s) {
        Database file;
        file.open(source.file());
        file.execute(u"PRAGMA user_version = %1"_s.arg(Database::SchemaVersion + 1));
    }
    const QByteArray before = checksum(source.file());

    QString refusal;
    try {
        MigrateToServer(source.state, uri);
    } catch (const DbError& e) {
        refusal = e.description();
    }
    QVERIFY2(refusal.contains(why), qPrintable(refusal));
    QCOMPARE(checksum(source.file()), before);
    QCOMPARE(source.configuredDatabase(), QString());
    if (Database::IsServerLocation(uri) && !uri.contains(u"secret"_s) && !uri.contains(u"nonexistent"_s)) {
        Database server;
        server.open(uri);
        QCOMPARE(server.count(u"SELECT count(*) FROM Message_OutBox"_s), target == u"non-empty"_s ? 1 : 0);
        QCOMPARE(server.count(u"SELECT count(*) FROM Message_InBox"_s), 0);
        QCOMPARE(server.count(u"SELECT count(*) FROM Modems"_s), 0);
    }
}

void MigrateTest::everyRowIsCopiedAndTheProgramMovesToTheServer_data()
{
    QTest::addColumn<bool>("older");
    QTest::newRow("a file of this version") << false;
    QTest::newRow("a file from before scheduled sending") << true;
}

void MigrateTest::everyRowIsCopiedAndTheProgramMovesToTheServer()
{
    QFETCH(bool, older);
    Source source;
    if (older) {
        Database file;
        file.open(source.file());
        for (const QString& sql : {u"DROP INDEX ix_outbox_due"_s, u"DROP INDEX ix_outbox_sendat"_s,
                                   u"ALTER TABLE Message_OutBox DROP COLUMN SendAt"_s,
                                   u"PRAGMA user_version = %1"_s.arg(Database::SchemaVersion - 1)})
            file.execute(sql);
    }
    const QString uri = emptyServerDatabase();
    {
        // Someone tried the server first and set up a hook there: the file's settings replace the server's, and
        // the copied messages make no hand-overs on the way.
        Database tried;
        tried.open(uri);
        tried.execute(u"INSERT INTO Integration_setting (Name, Value) VALUES ('HookCommand', '/bin/false')"_s);
        tried.execute(u"INSERT INTO Integration_setting (Name, Value) VALUES ('WebhookUrl', 'http://localhost:1')"_s);
    }
    const QByteArray before = checksum(source.file());
    QStringList progress;
    MigrateToServer(source.state, uri, [&](const QString& line) { progress << line; });
    QVERIFY(!progress.isEmpty());
    QCOMPARE(checksum(source.file()), before);
    QCOMPARE(source.configuredDatabase(), uri);

    Database file;
    file.open(source.file());
    Database::SetMachineName(Machine);
    Database server;
    server.open(uri);
    QVERIFY(server.modemKey(1) != 1);
    for (const auto& [name, order] : CopiedTables) {
        const QString table = QString::fromLatin1(name);
        QStringList columns;
        for (Query q(file, u"PRAGMA table_info(%1)"_s.arg(table)); q.next();)
            columns << q.value(1).toString();
        const auto plain = [](const QString&, const QVariant& v) { return v.isNull() ? u"NULL"_s : v.toString(); };
        // In the rows the computers share, a modem key stands for the same modem of this computer and is not its
        // bare id; this computer's own modem list keeps the ids.
        const bool shared = table != u"Modems"_s;
        const auto modem = [&](const QString& column, const QVariant& v) {
            if (!shared || !ModemColumns.contains(column) || v.isNull() || v.toLongLong() <= 0)
                return plain(column, v);
            return v.toLongLong() < Database::ModemKeySpan ? u"NOT A KEY"_s
                                                           : QString::number(server.modemOfKey(v.toLongLong()));
        };
        const QStringList expected = rows(file, table, QString::fromLatin1(order), columns, plain);
        QVERIFY2(!expected.isEmpty(), name);
        QCOMPARE(rows(server, table, QString::fromLatin1(order), columns, modem), expected);
    }
    // The modem list went into this computer's own schema.
    QCOMPARE(server.count(u"SELECT count(*) FROM machine_desk_1.Modems"_s), 2);
    QCOMPARE(server.count(u"SELECT count(*) FROM public.Modems"_s), 0);
    // New rows get ids past every one the file gave out, the deleted row's too.
    const qint64 lastOutbox = file.count(u"SELECT seq FROM sqlite_sequence WHERE name = 'Message_OutBox'"_s);
    QVERIFY(server.insert(u"INSERT INTO Message_OutBox (RecipientMobileNo) VALUES ('+2')"_s) > lastOutbox);
    QVERIFY(server.insert(u"INSERT INTO Message_InBox (SenderMobileNo) VALUES ('+2')"_s) >
            file.count(u"SELECT max(InBox_Id) FROM Message_InBox"_s));

    // The program opens the server from now on.
    Database next;
    ConnectDatabase(source.state, next);
    QVERIFY(source.state.DatabaseConnected);
    QVERIFY(next.isServer());
}

void MigrateTest::theProgramSaysWhatItDidAndEndsWithItsStatus_data()
{
    QTest::addColumn<QStringList>("arguments"); // "SERVER" stands for an empty database of the test cluster
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("no address") << QStringList{u"--migrate-to"_s} << 2 << u"Usage: broadtext --migrate-to"_s;
    QTest::newRow("a file for an address")
        << QStringList{u"--migrate-to"_s, u"/tmp/other.db"_s} << 2 << u"Usage: broadtext --migrate-to"_s;
    QTest::newRow("no server there") << QStringList{u"--migrate-to=postgresql://broadtext@/base?host=/nonexistent"_s}
                                     << 1 << u"Nothing was copied: "_s;
    QTest::newRow("an empty database") << QStringList{u"--migrate-to"_s, u"SERVER"_s} << 0
                                       << u"Broadtext now uses the database on the server"_s;
}

void MigrateTest::theProgramSaysWhatItDidAndEndsWithItsStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    Source source;
    const QByteArray before = checksum(source.file());
    const QString uri = arguments.contains(u"SERVER"_s) ? emptyServerDatabase() : QString();
    arguments.replaceInStrings(u"SERVER"_s, uri);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_s, source.dir.path());
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(BROADTEXT_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(program.readAll());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(output.contains(said), qPrintable(output));
    QCOMPARE(program.exitCode(), status);
    QCOMPARE(checksum(source.file()), before);
    QCOMPARE(source.configuredDatabase(), uri);
}

QTEST_GUILESS_MAIN(MigrateTest)
#include "tst_migrate.moc"
