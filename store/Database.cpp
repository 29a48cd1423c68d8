#include "store/Database.h"

#include "store/CountryCodes.h"
#include "store/Search.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = connection();
        if (db.isOpen())
            db.close();
    }
}

void Database::open(const QString& filePath)
{
    close();
    path = filePath;
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

void Database::openShared(const QString& filePath)
{
    close();
    path = filePath;
    connect(filePath);
}

void Database::connect(const QString& filePath)
{
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
        if (fresh) {
            execute(
                QStringLiteral("INSERT INTO Timer_setting (EnableReceiveTimer, ReceiveAllMessagesTime, EnableSendTimer,"
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
        execute(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

QSqlQuery Database::prepare(const QString& sql, const QVariantList& values)
{
    QSqlDatabase db = connection();
    if (!db.isOpen())
        throw DbError(QStringLiteral("The message database is not open."));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw DbError(errorText(q.lastError()));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        throw DbError(errorText(q.lastError()));
    return q;
}

int Database::execute(const QString& sql, const QVariantList& values)
{
    QSqlQuery q = prepare(sql, values);
    return q.numRowsAffected();
}

qint64 Database::insert(const QString& sql, const QVariantList& values)
{
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
    QSqlDatabase db = connection();
    if (!db.transaction())
        throw DbError(errorText(db.lastError()));
}

void Database::commit()
{
    QSqlDatabase db = connection();
    if (!db.commit())
        throw DbError(errorText(db.lastError()));
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
