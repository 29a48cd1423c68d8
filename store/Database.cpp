#include "store/Database.h"

#include "store/CountryCodes.h"
#include "store/Search.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSysInfo>
#include <QUrl>
#include <QUrlQuery>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QAtomicInt connectionCounter;

// Bumped when the schema gains something existing files must get too (tables and indexes are created
// with IF NOT EXISTS on every open, columns added below are added to older files in place; the default rows
// go only into a file that had no schema at all).

const char* const Tables[] = {
    "CREATE TABLE IF NOT EXISTS Message_InBox ("
    " InBox_Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " SenderMobileNo TEXT,"
    " SenderId INTEGER DEFAULT 0,"
    " Message TEXT,"
    " InboxDateTime TEXT,"
    " IsRead INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS Message_OutBox ("
    " Outbox_Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " RecepId INTEGER DEFAULT 0,"
    " RecipientMobileNo TEXT,"
    " Message TEXT,"
    " OutBoxDateTime TEXT,"
    " DeliveryStatus TEXT,"
    " DeliveryDatetime TEXT)",
    "CREATE TABLE IF NOT EXISTS MissedCallStatistics ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " callerNumber TEXT,"
    " callDateTime TEXT,"
    " IsMissCall INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS ModemSetting ("
    " CommPortNo INTEGER,"
    " BitsPerSecond TEXT,"
    " Parity TEXT,"
    " DataBits TEXT,"
    " StopBits TEXT,"
    " FlowControl TEXT,"
    " CharacterSet TEXT,"
    " EnabledCallerId INTEGER NOT NULL DEFAULT 0,"
    " ModemDelayFactor NUMERIC)",
    "CREATE TABLE IF NOT EXISTS Timer_setting ("
    " EnableReceiveTimer INTEGER NOT NULL DEFAULT 0,"
    " ReceiveAllMessagesTime NUMERIC,"
    " EnableSendTimer INTEGER NOT NULL DEFAULT 0,"
    " SendAllMessagesTime NUMERIC,"
    " SMSDelevaryMode TEXT)",
    "CREATE TABLE IF NOT EXISTS AutoReply_OnMissedCall ("
    " Message TEXT,"
    " IsActive INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS Country ("
    " CountryId INTEGER,"
    " CountryCode TEXT)",
    // Parts of long messages received in PDU mode, kept until the whole message has come.
    "CREATE TABLE IF NOT EXISTS Message_Parts ("
    " Part_Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " SenderMobileNo TEXT,"
    " Reference INTEGER,"
    " PartCount INTEGER,"
    " PartNumber INTEGER,"
    " Message TEXT,"
    " SentOn TEXT,"
    " ReceivedOn TEXT)",
    // The modems after the first (which stays the ModemSetting row); a row with id 1 only adds the first
    // modem's name, role and switch.
    "CREATE TABLE IF NOT EXISTS Modems ("
    " ModemId INTEGER PRIMARY KEY,"
    " Name TEXT,"
    " CommPortNo INTEGER,"
    " BitsPerSecond TEXT,"
    " Parity TEXT,"
    " DataBits TEXT,"
    " StopBits TEXT,"
    " FlowControl TEXT,"
    " CharacterSet TEXT,"
    " EnabledCallerId INTEGER NOT NULL DEFAULT 0,"
    " ModemDelayFactor NUMERIC,"
    " MessageFormat TEXT,"
    " Role TEXT NOT NULL DEFAULT 'Both',"
    " Enabled INTEGER NOT NULL DEFAULT -1)",
    // Numbers whose owners asked not to receive messages, one row per key (the last nine digits).
    "CREATE TABLE IF NOT EXISTS OptOut ("
    " NumberKey TEXT PRIMARY KEY,"
    " MobileNo TEXT,"
    " AddedOn TEXT,"
    " ModemId INTEGER,"
    " Word TEXT)",
    // A wizard run queued under a name; its rows carry its Id (Message_OutBox.CampaignId). Only the rows of a
    // running campaign are taken for sending.
    "CREATE TABLE IF NOT EXISTS Campaigns ("
    " Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " Name TEXT,"
    " Created TEXT,"
    " State TEXT NOT NULL DEFAULT 'running')",
    // What each modem sent, kept for its sending limits: one row per sent Outbox row, with its parts and its
    // recipient as the run cleans it. Unlike Sent Items, the user cannot delete it to get round a limit.
    "CREATE TABLE IF NOT EXISTS SentParts ("
    " ModemId INTEGER NOT NULL,"
    " SentAt TEXT NOT NULL,"
    " Recipient TEXT,"
    " Parts INTEGER NOT NULL DEFAULT 1)",
    // Settings of the ways other programs reach Broadtext (receive hook, HTTP API, webhooks), one row per name,
    // so each can grow without a new column.
    "CREATE TABLE IF NOT EXISTS Integration_setting ("
    " Name TEXT PRIMARY KEY,"
    " Value TEXT)",
    // The answers the local HTTP API gave to requests with an idempotency key, written in the transaction
    // that queued their rows, so that a retried request gets the same answer and queues nothing again.
    "CREATE TABLE IF NOT EXISTS Api_request ("
    " IdempotencyKey TEXT PRIMARY KEY,"
    " Created TEXT,"
    " Status INTEGER,"
    " Answer TEXT)",
    // What is to be handed over to the receive hook and the webhook: one row per received message, delivery
    // report (Detail: its status) or call and target, made by the triggers below in the same transaction as
    // the row it is about, so that no crash can lose one and none is made twice. State: 'pending' (due at
    // NextAt, '' at once), 'running' (NextAt is when the dispatcher's hold on it runs out: a dispatcher that
    // died leaves it to the next), 'done' (HandedAt) or 'failed' (LastError).
    "CREATE TABLE IF NOT EXISTS HandOver ("
    " Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " Target TEXT NOT NULL,"
    " Kind TEXT NOT NULL,"
    " RefId INTEGER NOT NULL,"
    " Detail TEXT NOT NULL DEFAULT '',"
    " State TEXT NOT NULL DEFAULT 'pending',"
    " Tries INTEGER NOT NULL DEFAULT 0,"
    " NextAt TEXT NOT NULL DEFAULT '',"
    " LastError TEXT,"
    " HandedAt TEXT,"
    " UNIQUE (Target, Kind, RefId, Detail))",
    // Only rows that come while a target is set up are handed over to it; a report only when it changes what
    // the row says (the same report matched twice is one).
    "CREATE TRIGGER IF NOT EXISTS HandOver_Message AFTER INSERT ON Message_InBox BEGIN"
    " INSERT INTO HandOver (Target, Kind, RefId) SELECT 'hook', 'message', NEW.InBox_Id"
    "  WHERE EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'HookCommand' AND trim(Value) <> '')"
    "  ON CONFLICT (Target, Kind, RefId, Detail) DO NOTHING;"
    " INSERT INTO HandOver (Target, Kind, RefId) SELECT 'webhook', 'message', NEW.InBox_Id"
    "  WHERE EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'WebhookUrl' AND trim(Value) <> '')"
    "  ON CONFLICT (Target, Kind, RefId, Detail) DO NOTHING;"
    " END",
    "CREATE TRIGGER IF NOT EXISTS HandOver_Report AFTER UPDATE OF ReportStatus ON Message_OutBox"
    " WHEN NEW.ReportStatus IS NOT NULL AND NEW.ReportStatus IS NOT OLD.ReportStatus BEGIN"
    " INSERT INTO HandOver (Target, Kind, RefId, Detail) SELECT 'hook', 'report', NEW.Outbox_Id,"
    "  NEW.ReportStatus"
    "  WHERE EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'HookCommand' AND trim(Value) <> '')"
    "  AND EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'HookOnReports' AND Value = '1')"
    "  ON CONFLICT (Target, Kind, RefId, Detail) DO NOTHING;"
    " INSERT INTO HandOver (Target, Kind, RefId, Detail) SELECT 'webhook', 'report', NEW.Outbox_Id,"
    "  NEW.ReportStatus"
    "  WHERE EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'WebhookUrl' AND trim(Value) <> '')"
    "  AND EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'WebhookOnReports' AND Value = '1')"
    "  ON CONFLICT (Target, Kind, RefId, Detail) DO NOTHING;"
    " END",
    "CREATE TRIGGER IF NOT EXISTS HandOver_Call AFTER INSERT ON MissedCallStatistics BEGIN"
    " INSERT INTO HandOver (Target, Kind, RefId) SELECT 'hook', 'call', NEW.id"
    "  WHERE EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'HookCommand' AND trim(Value) <> '')"
    "  AND EXISTS (SELECT 1 FROM Integration_setting WHERE Name = 'HookOnCalls' AND Value = '1')"
    "  ON CONFLICT (Target, Kind, RefId, Detail) DO NOTHING;"
    " END",
};

// Columns added after the first files were written: an older file gets them when it is opened, with every
// row kept.
struct AddedColumn {
    const char* table;
    const char* column;
    const char* definition;
};
const AddedColumn AddedColumns[] = {
    // The Outbox keeps what became of each row: attempts, when the last was and the next may be, why the
    // last failed, the SIM index of a stored copy still on the SIM, the parts already confirmed with their
    // message references, and what the delivery report said.
    {"Message_OutBox", "Attempts", "INTEGER NOT NULL DEFAULT 0"},
    {"Message_OutBox", "LastAttempt", "TEXT"},
    {"Message_OutBox", "NextAttempt", "TEXT"},
    {"Message_OutBox", "LastError", "TEXT"},
    {"Message_OutBox", "SimIndex", "INTEGER"},
    {"Message_OutBox", "PartsSent", "INTEGER NOT NULL DEFAULT 0"},
    {"Message_OutBox", "PartReferences", "TEXT"},
    {"Message_OutBox", "ReportStatus", "TEXT"},
    {"Message_OutBox", "ReportedAt", "TEXT"},
    // An Inbox row whose SIM copy has not yet been deleted keeps the copy's index, so that a copy left by a
    // stopped program is deleted at the next reception instead of being imported twice.
    {"Message_InBox", "SimIndex", "INTEGER"},
    {"Message_OutBox", "PartsDelivered", "INTEGER NOT NULL DEFAULT 0"},
    // A part of a long message keeps its SIM index until the copy is deleted, and the Inbox row it became.
    {"Message_Parts", "SimIndex", "INTEGER"},
    {"Message_Parts", "InBox_Id", "INTEGER"},
    {"ModemSetting", "MessageFormat", "TEXT"},
    {"Timer_setting", "DeliveryReports", "INTEGER NOT NULL DEFAULT 0"},
    // Several modems share the Outbox: a waiting row is held by one modem until its lease runs out
    // (ClaimedBy, ClaimUntil) and may be kept for one modem (ModemId). Once sent, ModemId and ModemName say
    // which modem sent it (a row kept for a modem is sent by that modem, so the two meanings agree); a row's
    // last attempt keeps its modem for the failures each modem counts.
    {"Message_OutBox", "ClaimedBy", "INTEGER"},
    {"Message_OutBox", "ClaimUntil", "TEXT"},
    {"Message_OutBox", "ModemId", "INTEGER"},
    {"Message_OutBox", "ModemName", "TEXT"},
    {"Message_OutBox", "LastModemId", "INTEGER"},
    // The modem that received an Inbox row, and its name at that time.
    {"Message_InBox", "ModemId", "INTEGER"},
    {"Message_InBox", "ModemName", "TEXT"},
    // The modem a call rang on.
    {"MissedCallStatistics", "ModemId", "INTEGER"},
    {"MissedCallStatistics", "ModemName", "TEXT"},
    // The opt-out list's settings: the stop words (one a line; null: the defaults), the confirmation answer,
    // and whether START takes a number off the list. The confirmation row itself is marked so that the list
    // does not hold it back.
    {"Timer_setting", "OptOutWords", "TEXT"},
    {"Timer_setting", "OptOutConfirm", "INTEGER NOT NULL DEFAULT 0"},
    {"Timer_setting", "OptOutConfirmText", "TEXT"},
    {"Timer_setting", "OptOutStartRemoves", "INTEGER NOT NULL DEFAULT 0"},
    {"Message_OutBox", "OptOutReply", "INTEGER NOT NULL DEFAULT 0"},
    // A row may wait for the moment the user chose (SendAt, null: as soon as it can); quiet hours hold every
    // row but, when the user allows it, the replies to missed calls (AutoReply). Quiet hours are two local
    // times "HH:mm" (null: none) and the switch for the replies, on unless the user turns it off.
    {"Message_OutBox", "SendAt", "TEXT"},
    {"Message_OutBox", "AutoReply", "INTEGER NOT NULL DEFAULT 0"},
    {"Timer_setting", "QuietFrom", "TEXT"},
    {"Timer_setting", "QuietTo", "TEXT"},
    {"Timer_setting", "QuietRepliesExempt", "INTEGER NOT NULL DEFAULT -1"},
    // The campaign a row was queued in (null: queued by itself).
    {"Message_OutBox", "CampaignId", "INTEGER"},
    // The process loading a campaign in slices (state "loading"): its id, its computer's name and when it
    // began; emptied when the campaign runs. A load whose process is gone is removed.
    {"Campaigns", "LoaderPid", "INTEGER"},
    {"Campaigns", "LoaderHost", "TEXT"},
    {"Campaigns", "LoaderStarted", "TEXT"},
    // Each modem's sending limits (0: none) and the random gap between its messages, in seconds; the first
    // modem's are on its Modems row with id 1.
    {"Modems", "LimitPerMinute", "INTEGER NOT NULL DEFAULT 0"},
    {"Modems", "LimitPerHour", "INTEGER NOT NULL DEFAULT 0"},
    {"Modems", "LimitPerDay", "INTEGER NOT NULL DEFAULT 0"},
    {"Modems", "LimitRecipientsPerMonth", "INTEGER NOT NULL DEFAULT 0"},
    {"Modems", "GapMinSeconds", "INTEGER NOT NULL DEFAULT 0"},
    {"Modems", "GapMaxSeconds", "INTEGER NOT NULL DEFAULT 0"},
};

// What the counters, the folder lists and the day ranges look up.
const char* const Indexes[] = {
    "CREATE INDEX IF NOT EXISTS ix_inbox_unread ON Message_InBox(InBox_Id) WHERE IsRead = 0",
    "CREATE INDEX IF NOT EXISTS ix_inbox_date ON Message_InBox(InboxDateTime)",
    "CREATE INDEX IF NOT EXISTS ix_outbox_waiting ON Message_OutBox(OutBoxDateTime) WHERE DeliveryDatetime IS NULL",
    "CREATE INDEX IF NOT EXISTS ix_outbox_sent ON Message_OutBox(DeliveryDatetime) WHERE DeliveryDatetime IS NOT NULL",
    "CREATE INDEX IF NOT EXISTS ix_inbox_sim ON Message_InBox(SimIndex) WHERE SimIndex IS NOT NULL",
    // A claim finds the next waiting row without reading past the sent ones, however many Sent Items holds, nor
    // reading the rows of those scheduled for later or waiting for a retry: the index tells them (it replaces one
    // of the waiting rows' ids alone).
    "DROP INDEX IF EXISTS ix_outbox_queue",
    "CREATE INDEX IF NOT EXISTS ix_outbox_due ON Message_OutBox(Outbox_Id, SendAt, NextAttempt) WHERE "
    "DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR DeliveryStatus = '')",
    // A modem renewing or giving back its leases finds its rows without reading the whole Outbox.
    "CREATE INDEX IF NOT EXISTS ix_outbox_claimed ON Message_OutBox(ClaimedBy) WHERE ClaimedBy IS NOT NULL",
    // The sending limits read a modem's last day and month.
    "CREATE INDEX IF NOT EXISTS ix_sentparts_modem ON SentParts(ModemId, SentAt)",
    // The message box asks whether any waiting row is scheduled each time it shows the Outbox.
    "CREATE INDEX IF NOT EXISTS ix_outbox_sendat ON Message_OutBox(SendAt) WHERE SendAt IS NOT NULL",
    "CREATE INDEX IF NOT EXISTS ix_calls_date ON MissedCallStatistics(callDateTime)",
    // The message box orders its folders by number without regard to case. The message text has no
    // index: one would add half again to the file for an order rarely asked for.
    "CREATE INDEX IF NOT EXISTS ix_inbox_number ON Message_InBox(SenderMobileNo COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS ix_sent_number ON Message_OutBox(RecipientMobileNo COLLATE NOCASE)"
    " WHERE DeliveryDatetime IS NOT NULL",
    // The modem that received or sent a row: ordered by, and its first and last names tell at once whether a
    // folder holds the rows of more than one modem (the message box shows the column only then).
    "CREATE INDEX IF NOT EXISTS ix_inbox_modem ON Message_InBox(ModemName COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS ix_sent_modem ON Message_OutBox(ModemName COLLATE NOCASE)"
    " WHERE DeliveryDatetime IS NOT NULL",
    // A campaign's counts and its pause or cancellation read only its own rows.
    "CREATE INDEX IF NOT EXISTS ix_outbox_campaign ON Message_OutBox(CampaignId) WHERE CampaignId IS NOT NULL",
    // The dispatcher looks for what is due of its target.
    "CREATE INDEX IF NOT EXISTS ix_handover_due ON HandOver(Target, NextAt) WHERE State IN ('pending', 'running')",
};

// On a PostgreSQL server the same tables are made from the same statements, with the types it names otherwise:
// keys from an identity, whole numbers of 64 bits as SQLite has them, and texts compared byte by byte as SQLite
// compares them (which keeps the stored times in time order whatever the database's locale).
QString ServerTypes(QString sql)
{
    sql.replace(QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"),
                QStringLiteral("bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"));
    static const QRegularExpression integer(QStringLiteral("\\bINTEGER\\b"));
    static const QRegularExpression text(QStringLiteral("\\bTEXT\\b"));
    sql.replace(integer, QStringLiteral("bigint"));
    sql.replace(text, QStringLiteral("text COLLATE \"C\""));
    return sql;
}

// A trigger written for SQLite ("CREATE TRIGGER IF NOT EXISTS name AFTER ... ON table [WHEN ...] BEGIN ... END")
// as the function and the row trigger PostgreSQL wants; the statements between BEGIN and END are the same.
QStringList ServerTrigger(const QString& sql)
{
    static const QRegularExpression shape(
        QStringLiteral("^CREATE TRIGGER IF NOT EXISTS (\\w+) (AFTER .+? ON (\\w+))(?: WHEN (.+?))? BEGIN (.+) END$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = shape.match(sql);
    if (!m.hasMatch())
        throw DbError(QStringLiteral("Cannot read the trigger: ") + sql.left(60));
    const QString name = m.captured(1);
    QString when = m.captured(4);
    when.replace(QStringLiteral(" IS NOT OLD."), QStringLiteral(" IS DISTINCT FROM OLD."));
    return {QStringLiteral("CREATE OR REPLACE FUNCTION %1_fn() RETURNS trigger LANGUAGE plpgsql AS $body$ BEGIN %2"
                           " RETURN NULL; END $body$")
                .arg(name, m.captured(5)),
            QStringLiteral("CREATE OR REPLACE TRIGGER %1 %2 FOR EACH ROW%3 EXECUTE FUNCTION %1_fn()")
                .arg(name, m.captured(2), when.isEmpty() ? QString() : QStringLiteral(" WHEN (%1)").arg(when))};
}

// Settings tables have no key; the program takes their first row in the order rows were added, and the sending
// history and the opt-out list are read in that order too. SQLite has that order as rowid; on a server it is a
// column of that name.
const char* const OrderedTables[] = {"ModemSetting", "Timer_setting", "AutoReply_OnMissedCall",
                                     "Country",      "OptOut",        "SentParts"};

// What a server connection tells the desktops looking at the same messages: the name of a table whose rows
// changed, once per transaction, sent when it commits.
const char* const ChangedChannel = "broadtext_changed";
const char* const WatchedTables[] = {"Message_InBox", "Message_OutBox", "MissedCallStatistics"};

// The key an insert into each table gives back (PostgreSQL's lastval() would be the last key any trigger drew).
QString InsertedKey(const QString& table)
{
    static const QHash<QString, QString> keys = {{QStringLiteral("message_inbox"), QStringLiteral("InBox_Id")},
                                                 {QStringLiteral("message_outbox"), QStringLiteral("Outbox_Id")},
                                                 {QStringLiteral("missedcallstatistics"), QStringLiteral("id")},
                                                 {QStringLiteral("message_parts"), QStringLiteral("Part_Id")},
                                                 {QStringLiteral("campaigns"), QStringLiteral("Id")},
                                                 {QStringLiteral("handover"), QStringLiteral("Id")}};
    return keys.value(table.toLower(), QStringLiteral("rowid"));
}

// The tables of one computer's modem list, which a server keeps in that computer's schema.
const char* const MachineTables[] = {"ModemSetting", "Modems"};

QString& machineName()
{
    static QString name;
    return name;
}

// The computer's schema: its name in the letters PostgreSQL takes without quotes.
QString MachineSchema(const QString& machine)
{
    QString schema = QStringLiteral("machine_");
    for (QChar c : machine.toLower())
        schema += (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                      ? c
                      : QLatin1Char('_');
    return schema.left(63);
}

// Serialises the schema work of several computers starting at once against one server.
constexpr qint64 SchemaLockKey = 0x42726f6164; // "Broad"

// How often a lost server is asked again; in between, statements fail at once instead of waiting.
constexpr qint64 ReconnectEveryMs = 2000;

// Qt hands the connect options to libpq as they are (";" becoming a blank), so a value with a blank, a quote or a
// backslash could end itself and add settings of its own choosing: each value goes quoted, the way libpq reads
// quoted values, and a keyword is letters and underscores only.
const QRegularExpression& ConnectionKeyword()
{
    static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
    return keyword;
}

QString ConnectionValue(QString value)
{
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

// PostgreSQL's text holds no NUL character, and Qt's driver, which writes the values into the statement, would cut
// the statement at one: a text that holds one (from a file or a client) keeps U+FFFD in its place, on writing
// and on comparing alike.
QVariant ServerValue(const QVariant& v)
{
    if (v.typeId() != QMetaType::QString)
        return v;
    QString text = v.toString();
    return text.contains(QChar(0)) ? QVariant(text.replace(QChar(0), QChar(0xFFFD))) : v;
}

QString errorText(const QSqlError& e)
{
    QString t = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return t.isEmpty() ? QStringLiteral("Unknown database error") : t;
}

} // namespace

DbError::DbError(const QString& description) : std::runtime_error(description.toStdString()), text(description) {}

Database::Database() : name(QStringLiteral("broadtext-%1").arg(connectionCounter.fetchAndAddRelaxed(1))) {}

Database::~Database()
{
    close();
    QSqlDatabase::removeDatabase(name);
}

QSqlDatabase Database::connection() const
{
    return QSqlDatabase::database(name, false);
}

bool Database::isOpen() const
{
    return QSqlDatabase::contains(name) && connection().isOpen();
}

void Database::close()
{
    lost = false;
    wanted = false;
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = connection();
        if (db.isOpen())
            db.close();
    }
}

void Database::SetMachineName(const QString& machine)
{
    machineName() = machine.trimmed();
}

QString Database::MachineName()
{
    return machineName().isEmpty() ? QSysInfo::machineHostName() : machineName();
}

bool Database::IsServerLocation(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

QString Database::DisplayLocation(const QString& location)
{
    if (!IsServerLocation(location))
        return location;
    QUrl url(location);
    url.setPassword(QString());
    return url.toString();
}

void Database::open(const QString& location)
{
    close();
    path = location;
    if (IsServerLocation(location)) {
        connect(location);
        try {
            createServerSchema();
            enterMachine();
            CreateSearchIndexes(*this);
        } catch (...) {
            close();
            throw;
        }
        return;
    }
    const QString& filePath = location;
    if (!QFileInfo::exists(filePath)) {
        // Create the file ourselves so that it is owner-only from the first byte (the WAL files take the
        // same mode from it).
        int fd = ::open(QFile::encodeName(filePath).constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            throw DbError(
                QStringLiteral("Cannot create %1: %2").arg(filePath, QString::fromLocal8Bit(strerror(errno))));
        if (fd >= 0)
            ::close(fd);
    }
    // Owner-only, whoever made the file (a copy, an older version, a tool run by hand).
    for (const QString& f : {filePath, filePath + QStringLiteral("-wal"), filePath + QStringLiteral("-shm")})
        if (QFileInfo::exists(f))
            ::chmod(QFile::encodeName(f).constData(), 0600);
    connect(filePath);
    try {
        createSchema();
        CreateSearchIndexes(*this);
    } catch (...) {
        close();
        throw;
    }
}

void Database::openShared(const QString& location)
{
    close();
    path = location;
    connect(location);
}

void Database::connect(const QString& location)
{
    server = IsServerLocation(location);
    lost = false;
    wanted = true; // from here on a connection that is not open was lost, even if it never opened
    if (server) {
        connectServer(location);
        return;
    }
    const QString& filePath = location;
    QSqlDatabase db =
        QSqlDatabase::contains(name) ? connection() : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(filePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open())
        throw DbError(errorText(db.lastError()));
    try {
        // Pragmas are per connection (journal_mode is also kept in the file): set them on every open.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
            throw DbError(errorText(q.lastError()));
        // Every commit reaches the disk before the program goes on: a message is deleted from the SIM card
        // only after its row is stored, and that must hold across a power cut too.
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            throw DbError(errorText(q.lastError()));
    } catch (...) {
        db.close();
        throw;
    }
}

void Database::connectServer(const QString& uri)
{
    const QUrl url(uri);
    if (!url.isValid())
        throw DbError(QStringLiteral("The database address is not a valid URI: %1").arg(url.errorString()));
    // The password stays out of broadtext.conf and out of the message base: libpq takes it from ~/.pgpass (or
    // the file PGPASSFILE names) or from PGPASSWORD.
    const DbError passwordGiven(QStringLiteral("The database address holds a password. Put it in ~/.pgpass (or "
                                               "PGPASSWORD) and give the address without it."));
    if (!url.password().isEmpty())
        throw passwordGiven;
    if (QSqlDatabase::contains(name) && connection().driverName() != QLatin1String("QPSQL"))
        QSqlDatabase::removeDatabase(name);
    QSqlDatabase db =
        QSqlDatabase::contains(name) ? connection() : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    if (!db.isValid())
        throw DbError(QStringLiteral("The PostgreSQL driver of Qt (package libqt6sql6-psql) is not installed."));
    QUrlQuery query(url);
    QString host = url.host();
    int port = url.port(5432);
    QStringList options;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("host"))
            host = value;
        else if (key == QLatin1String("port"))
            port = value.toInt();
        else if (key == QLatin1String("password"))
            throw passwordGiven;
        else if (value.contains(QLatin1Char(';')))
            throw DbError(QStringLiteral("The database address has a setting with ';': %1").arg(key));
        else if (!ConnectionKeyword().match(key).hasMatch())
            throw DbError(QStringLiteral("The database address has a setting that is no libpq keyword: %1").arg(key));
        else
            options << key + QLatin1Char('=') + ConnectionValue(value);
    }
    // A server that does not answer is given up on soon, and a dead link is found out by the system.
    if (!query.hasQueryItem(QStringLiteral("connect_timeout")))
        options << QStringLiteral("connect_timeout=5");
    if (!query.hasQueryItem(QStringLiteral("application_name")))
        options << QStringLiteral("application_name=broadtext");
    for (const char* keep : {"keepalives_idle=10", "keepalives_interval=5", "keepalives_count=3"})
        options << QString::fromLatin1(keep);
    db.setHostName(host);
    db.setPort(port);
    db.setDatabaseName(url.path().mid(1));
    db.setUserName(url.userName());
    db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!db.open())
        throw DbError(errorText(db.lastError()));
    try {
        QSqlQuery q(db);
        // A row another computer holds is waited for as long as SQLite waits for its file lock.
        for (const char* setting :
             {"SET lock_timeout = '2s'", "SET TIME ZONE 'UTC'", "SET client_min_messages = warning"})
            if (!q.exec(QString::fromLatin1(setting)))
                throw DbError(errorText(q.lastError()));
        for (const QString& channel : std::as_const(channels))
            db.driver()->subscribeToNotification(channel);
    } catch (...) {
        db.close();
        throw;
    }
    if (scalar(QStringLiteral("SELECT to_regclass('machines') IS NOT NULL")).toBool())
        enterMachine();
}

// Registers this computer (once), creates its schema and modem tables when missing, and looks there first for
// unqualified names; the shared tables are in public.
void Database::enterMachine()
{
    const QString machine = ownMachine.isEmpty() ? MachineName() : ownMachine;
    const QString schema = MachineSchema(machine);
    // Only a new name draws from the sequence: every connection of every program comes here, and keys are ints.
    execute(QStringLiteral("INSERT INTO Machines (Name) SELECT ? WHERE NOT EXISTS (SELECT 1 FROM Machines WHERE Name = "
                           "?) ON CONFLICT (Name) DO NOTHING"),
            {machine, machine});
    modemBase =
        scalar(QStringLiteral("SELECT Ordinal FROM Machines WHERE Name = ?"), {machine}).toLongLong() * ModemKeySpan;
    if (!scalar(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), {schema + QStringLiteral(".modems")}).toBool()) {
        execute(QStringLiteral("SELECT pg_advisory_lock(?)"), {SchemaLockKey});
        try {
            execute(QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1").arg(schema));
            for (const char* table : MachineTables)
                execute(QStringLiteral("CREATE TABLE IF NOT EXISTS %1.%2 (LIKE public.%2 INCLUDING ALL)")
                            .arg(schema, QLatin1String(table)));
        } catch (...) {
            execute(QStringLiteral("SELECT pg_advisory_unlock(?)"), {SchemaLockKey});
            throw;
        }
        execute(QStringLiteral("SELECT pg_advisory_unlock(?)"), {SchemaLockKey});
    }
    execute(QStringLiteral("SET search_path = %1, public").arg(schema));
}

void Database::listen(const QString& channel)
{
    if (channels.contains(channel))
        return;
    channels << channel;
    if (server && isOpen())
        connection().driver()->subscribeToNotification(channel);
}

void Database::createServerSchema()
{
    beginTransaction();
    try {
        execute(QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {SchemaLockKey});
        // The shared tables, whatever computer's schema this connection looks in first.
        execute(QStringLiteral("SET LOCAL search_path = public"));
        const bool fresh = scalar(QStringLiteral("SELECT to_regclass('message_inbox') IS NULL")).toBool();
        execute(QStringLiteral("CREATE TABLE IF NOT EXISTS Schema_version (Version bigint NOT NULL)"));
        const qint64 version = scalar(QStringLiteral("SELECT max(Version) FROM Schema_version")).toLongLong();
        if (version >= SchemaVersion && !fresh) {
            commit();
            return;
        }
        // Letters compared as SQLite's NOCASE compares them (and the other alphabets too).
        execute(QStringLiteral("CREATE COLLATION IF NOT EXISTS nocase (provider = icu, locale = 'und-u-ks-level2', "
                               "deterministic = false)"));
        QStringList triggers;
        for (const char* sql : Tables) {
            const QString statement = QString::fromLatin1(sql);
            if (statement.startsWith(QLatin1String("CREATE TRIGGER")))
                triggers << ServerTrigger(statement);
            else
                execute(ServerTypes(statement));
        }
        // The computers sharing the base; each one's modem keys begin at its Ordinal times the key span.
        execute(QStringLiteral("CREATE TABLE IF NOT EXISTS Machines (Ordinal bigint GENERATED BY DEFAULT AS IDENTITY "
                               "PRIMARY KEY, Name text COLLATE \"C\" NOT NULL UNIQUE)"));
        for (const char* table : OrderedTables)
            execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS rowid bigint GENERATED BY DEFAULT AS "
                                   "IDENTITY")
                        .arg(QLatin1String(table)));
        QStringList machines{QStringLiteral("public")};
        for (Query q(*this, QStringLiteral("SELECT nspname FROM pg_namespace WHERE nspname LIKE 'machine\\_%'"));
             q.next();)
            machines << q.value(0).toString();
        for (const AddedColumn& c : AddedColumns) {
            const bool machineTable = std::find_if(std::begin(MachineTables), std::end(MachineTables), [&](auto t) {
                                          return qstrcmp(t, c.table) == 0;
                                      }) != std::end(MachineTables);
            for (const QString& schema : machineTable ? machines : QStringList{QStringLiteral("public")})
                execute(QStringLiteral("ALTER TABLE %1.%2 ADD COLUMN IF NOT EXISTS %3 %4")
                            .arg(schema, QLatin1String(c.table), QLatin1String(c.column),
                                 ServerTypes(QLatin1String(c.definition))));
        }
        for (const QString& statement : std::as_const(triggers))
            execute(statement);
        execute(QStringLiteral("CREATE OR REPLACE FUNCTION broadtext_changed_fn() RETURNS trigger LANGUAGE plpgsql AS "
                               "$body$ BEGIN PERFORM pg_notify('%1', lower(TG_TABLE_NAME)); RETURN NULL; END $body$")
                    .arg(QLatin1String(ChangedChannel)));
        for (const char* table : WatchedTables)
            execute(QStringLiteral("CREATE OR REPLACE TRIGGER %1_changed AFTER INSERT OR UPDATE OR DELETE ON %1 FOR "
                                   "EACH STATEMENT EXECUTE FUNCTION broadtext_changed_fn()")
                        .arg(QLatin1String(table)));
        for (const char* sql : Indexes)
            execute(QString::fromLatin1(sql));
        if (fresh)
            insertDefaultRows();
        execute(QStringLiteral("DELETE FROM Schema_version"));
        execute(QStringLiteral("INSERT INTO Schema_version (Version) VALUES (?)"), {SchemaVersion});
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

QString Database::ChangedChannelName()
{
    return QString::fromLatin1(ChangedChannel);
}

void Database::insertDefaultRows()
{
    execute(QStringLiteral("INSERT INTO Timer_setting (EnableReceiveTimer, ReceiveAllMessagesTime, EnableSendTimer,"
                           " SendAllMessagesTime, SMSDelevaryMode) VALUES (?, ?, ?, ?, ?)"),
            {DbBool(true), 10, DbBool(true), 10, QStringLiteral("DIRECT DELIVER")});
    execute(QStringLiteral("INSERT INTO AutoReply_OnMissedCall (Message, IsActive) VALUES (?, ?)"),
            {QString(), DbBool(false)});
    QSqlQuery ins(connection());
    ins.prepare(QStringLiteral("INSERT INTO Country (CountryId, CountryCode) VALUES (?, ?)"));
    int id = 0;
    for (const QString& code : CountryCallingCodes()) {
        ins.addBindValue(++id);
        ins.addBindValue(code);
        if (!ins.exec())
            throw DbError(errorText(ins.lastError()));
    }
}

void Database::createSchema()
{
    const qint64 version = scalar(QStringLiteral("PRAGMA user_version")).toLongLong();
    const bool fresh =
        scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table'")).toLongLong() == 0;
    if (version >= SchemaVersion && !fresh) {
        for (const char* sql : Indexes)
            execute(QString::fromLatin1(sql));
        return;
    }
    beginTransaction();
    try {
        for (const char* sql : Tables)
            execute(QString::fromLatin1(sql));
        for (const AddedColumn& c : AddedColumns) {
            bool present = false;
            Query columns(*this, QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(c.table)));
            while (columns.next())
                present = present || columns.value(1).toString() == QLatin1String(c.column);
            if (!present)
                execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                            .arg(QLatin1String(c.table), QLatin1String(c.column), QLatin1String(c.definition)));
        }
        for (const char* sql : Indexes)
            execute(QString::fromLatin1(sql));
        if (fresh)
            insertDefaultRows();
        execute(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

QVariant Database::bindable(const QVariant& v) const
{
    return server ? ServerValue(v) : v;
}

QSqlQuery Database::prepare(const QString& sql, const QVariantList& values)
{
    if (server && lost)
        reconnectIfDue();
    try {
        return run(sql, values);
    } catch (const DbError&) {
        if (server)
            noticeFailure();
        throw;
    }
}

QSqlQuery Database::run(const QString& sql, const QVariantList& values)
{
    QSqlDatabase db = connection();
    if (!db.isOpen())
        throw DbError(QStringLiteral("The message database is not open."));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // A server prepares what it is given, and statements such as SET or CREATE cannot be prepared: a statement
    // with nothing to bind goes as it is.
    if (server && values.isEmpty()) {
        if (!q.exec(sql))
            throw DbError(errorText(q.lastError()));
        return q;
    }
    if (!q.prepare(sql))
        throw DbError(errorText(q.lastError()));
    for (const QVariant& v : values)
        q.addBindValue(bindable(v));
    if (!q.exec())
        throw DbError(errorText(q.lastError()));
    return q;
}

// A statement failed on a server connection: when the connection itself is gone, it is marked lost and the next
// statements try to reconnect. The failed statement is not repeated: whether it took effect is for its caller to
// find out, as after any failure.
void Database::noticeFailure()
{
    if (!wanted) // closed by its owner: not a lost link, and not to be reopened behind its back
        return;
    const QVariant handle = connection().driver()->handle();
    auto* conn = handle.isValid() ? *static_cast<PGconn* const*>(handle.constData()) : nullptr;
    if (conn && PQstatus(conn) == CONNECTION_OK)
        return;
    lost = true;
    lastReconnect = QDateTime::currentMSecsSinceEpoch();
}

void Database::reconnectIfDue()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastReconnect < ReconnectEveryMs)
        throw DbError(QStringLiteral("The connection to the database server is lost; trying again."));
    lastReconnect = now;
    QSqlDatabase db = connection();
    db.close();
    // The new connection's own statements (the computer's schema) go through rather than wait for a retry.
    lost = false;
    try {
        connectServer(path);
    } catch (const DbError& e) {
        lost = true;
        throw DbError(QStringLiteral("The connection to the database server is lost: ") + e.description());
    }
}

int Database::execute(const QString& sql, const QVariantList& values)
{
    QSqlQuery q = prepare(sql, values);
    return q.numRowsAffected();
}

qint64 Database::insert(const QString& sql, const QVariantList& values)
{
    if (server && !sql.contains(QLatin1String(" RETURNING "))) {
        static const QRegularExpression table(QStringLiteral("^\\s*INSERT\\s+INTO\\s+(\\w+)"),
                                              QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = table.match(sql);
        if (!m.hasMatch())
            throw DbError(QStringLiteral("Not an insert: ") + sql.left(40));
        QSqlQuery q = prepare(sql + QStringLiteral(" RETURNING ") + InsertedKey(m.captured(1)), values);
        return q.next() ? q.value(0).toLongLong() : 0;
    }
    QSqlQuery q = prepare(sql, values);
    return q.lastInsertId().toLongLong();
}

QVariant Database::scalar(const QString& sql, const QVariantList& values)
{
    QSqlQuery q = prepare(sql, values);
    if (!q.next())
        return QVariant();
    return q.value(0);
}

qint64 Database::count(const QString& sql, const QVariantList& values)
{
    return scalar(sql, values).toLongLong();
}

void Database::beginTransaction()
{
    if (server && lost)
        reconnectIfDue();
    QSqlDatabase db = connection();
    if (!db.transaction()) {
        const QString why = errorText(db.lastError());
        if (server)
            noticeFailure();
        throw DbError(why);
    }
}

void Database::commit()
{
    QSqlDatabase db = connection();
    if (!db.commit()) {
        const QString why = errorText(db.lastError());
        if (server)
            noticeFailure();
        throw DbError(why);
    }
}

void Database::rollback()
{
    QSqlDatabase db = connection();
    if (db.isOpen())
        db.rollback();
}

QString Database::DbTime(const QDateTime& t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime Database::FromDbTime(const QVariant& v)
{
    if (v.isNull())
        return {};
    QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime() : t;
}

std::pair<QString, QString> Database::DayRange(const QDate& from, const QDate& to)
{
    return {DbTime(from.startOfDay()), DbTime(to.addDays(1).startOfDay())};
}

Query::Query(Database& db, const QString& sql, const QVariantList& values) : q(db.prepare(sql, values)) {}

bool Query::next()
{
    return q.next();
}

QVariant Query::value(const QString& column) const
{
    return q.value(column);
}

QVariant Query::value(int index) const
{
    return q.value(index);
}

int Query::columnCount() const
{
    return q.record().count();
}

QString Query::columnName(int index) const
{
    return q.record().fieldName(index);
}
