// broadtext --migrate-to: see Migration.h. The file is read through a connection of its own opened read-only, with
// none of the schema work or pragmas the program's own connection does, so not a byte of it changes; the server's
// side is one transaction, so a refusal or a failure half-way leaves nothing behind.
#include "store/Migration.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "store/Connection.h"
#include "store/Database.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <unistd.h>

namespace {

enum class Kind {
    Messages, // must be empty on the server
    Settings, // the server's default rows give way to the file's
    Machine,  // this computer's own, in its schema on the server
};

struct CopiedTable {
    const char* name;
    // The column the server draws new ids for (an identity), or null.
    const char* key;
    Kind kind;
    // Columns holding a modem id, which become this computer's modem keys.
    QStringList modemColumns;
};

// "rowid" is the order SQLite keeps rows in; the server has it as a column of that name on these tables.
const CopiedTable Tables[] = {
    {"Message_InBox", "InBox_Id", Kind::Messages, {QStringLiteral("ModemId")}},
    {"Message_OutBox",
     "Outbox_Id",
     Kind::Messages,
     {QStringLiteral("ModemId"), QStringLiteral("LastModemId"), QStringLiteral("ClaimedBy")}},
    {"MissedCallStatistics", "id", Kind::Messages, {QStringLiteral("ModemId")}},
    {"Message_Parts", "Part_Id", Kind::Messages, {}},
    {"OptOut", "rowid", Kind::Messages, {QStringLiteral("ModemId")}},
    {"Campaigns", "Id", Kind::Messages, {}},
    {"SentParts", "rowid", Kind::Messages, {QStringLiteral("ModemId")}},
    {"HandOver", "Id", Kind::Messages, {}},
    {"Api_request", nullptr, Kind::Messages, {}},
    {"Timer_setting", "rowid", Kind::Settings, {}},
    {"AutoReply_OnMissedCall", "rowid", Kind::Settings, {}},
    {"Country", "rowid", Kind::Settings, {}},
    {"Integration_setting", nullptr, Kind::Settings, {}},
    {"ModemSetting", "rowid", Kind::Machine, {}},
    {"Modems", nullptr, Kind::Machine, {}},
};

// PostgreSQL takes at most 65535 bound values per statement; a few hundred rows a statement is as fast.
constexpr int ValuesPerStatement = 20000;
constexpr int RowsPerStatement = 500;

QString sqlError(const QSqlError& e)
{
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

// The file opened for reading only: no pragma, no schema work, no journal change. Its read transaction sees one
// moment of it even when a running program writes meanwhile.
class SourceFile {
public:
    explicit SourceFile(const QString& path)
        : name(QStringLiteral("broadtext-migrate-%1").arg(counter.fetchAndAddRelaxed(1)))
    {
        if (!QFileInfo(path).isFile())
            throw DbError(QStringLiteral("There is no message database to copy at %1.").arg(path));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open())
            throw DbError(sqlError(db.lastError()));
        if (!db.transaction())
            throw DbError(sqlError(db.lastError()));
    }
    ~SourceFile()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.rollback();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    QSqlQuery query(const QString& sql) const
    {
        QSqlQuery q(QSqlDatabase::database(name, false));
        q.setForwardOnly(true);
        if (!q.exec(sql))
            throw DbError(sqlError(q.lastError()));
        return q;
    }
    QVariant scalar(const QString& sql) const
    {
        QSqlQuery q = query(sql);
        return q.next() ? q.value(0) : QVariant();
    }
    bool hasTable(const QString& table) const
    {
        return scalar(
                   QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = '%1'").arg(table))
                   .toLongLong() > 0;
    }
    QStringList columns(const QString& table) const
    {
        QStringList out;
        for (QSqlQuery q = query(QStringLiteral("PRAGMA table_info(%1)").arg(table)); q.next();)
            out << q.value(1).toString();
        return out;
    }

private:
    static inline QAtomicInt counter;
    QString name;
};

// The server's columns of a table, in lower case as it names them.
QStringList serverColumns(Database& server, const QString& table)
{
    QStringList out;
    Query q(server, QStringLiteral("SELECT * FROM %1 WHERE false").arg(table));
    for (int i = 0; i < q.columnCount(); ++i)
        out << q.columnName(i).toLower();
    return out;
}

// Copies the rows of one table, in statements of many rows each; gives how many.
qint64 copyRows(const SourceFile& source, Database& server, const CopiedTable& table)
{
    const QString name = QString::fromLatin1(table.name);
    const QStringList targetColumns = serverColumns(server, name);
    QStringList columns;
    if (table.key && qstrcmp(table.key, "rowid") == 0)
        columns << QStringLiteral("rowid");
    // An older file lacks the columns added since; the server's defaults fill them.
    for (const QString& column : source.columns(name))
        if (targetColumns.contains(column.toLower()))
            columns << column;
    QList<bool> modem;
    for (const QString& column : std::as_const(columns))
        modem << table.modemColumns.contains(column, Qt::CaseInsensitive);

    const int perRow = int(columns.size());
    const int batch = std::max(1, std::min(RowsPerStatement, ValuesPerStatement / perRow));
    const QString row =
        QLatin1Char('(') + QStringList(perRow, QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
    const QString head = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(name, columns.join(QStringLiteral(", ")));
    qint64 copied = 0;
    QVariantList values;
    int rows = 0;
    const auto flush = [&] {
        if (rows == 0)
            return;
        server.execute(head + QStringList(rows, row).join(QStringLiteral(", ")), values);
        copied += rows;
        values.clear();
        rows = 0;
    };
    QSqlQuery q =
        source.query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(columns.join(QStringLiteral(", ")), name));
    while (q.next()) {
        for (int i = 0; i < perRow; ++i) {
            QVariant v = q.value(i);
            if (modem[i] && !v.isNull())
                v = server.modemKey(v.toInt());
            values << v;
        }
        if (++rows == batch)
            flush();
    }
    flush();
    return copied;
}

// The server's next id for a table is past every id the file gave out, including those of rows deleted since.
void drawIdsPast(const SourceFile& source, Database& server, const CopiedTable& table)
{
    const QString name = QString::fromLatin1(table.name);
    const QString key = QString::fromLatin1(table.key);
    qint64 last = source.scalar(QStringLiteral("SELECT max(%1) FROM %2").arg(key, name)).toLongLong();
    if (source.hasTable(QStringLiteral("sqlite_sequence")))
        last = std::max(
            last,
            source.scalar(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = '%1'").arg(name)).toLongLong());
    if (last > 0)
        server.scalar(QStringLiteral("SELECT setval(pg_get_serial_sequence(?, ?), ?)"),
                      {name.toLower(), key.toLower(), last});
}

void copyAll(const SourceFile& source, Database& server, QList<std::pair<QString, qint64>>& counts,
             const std::function<void(const QString&)>& say)
{
    QStringList messageTables;
    for (const CopiedTable& t : Tables)
        if (t.kind == Kind::Messages)
            messageTables << QString::fromLatin1(t.name);
    // Nobody adds a message while the copy runs and after the check that there is none.
    server.execute(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE").arg(messageTables.join(QStringLiteral(", "))));
    for (const QString& table : std::as_const(messageTables))
        if (server.count(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 LIMIT 1) AS one").arg(table)) > 0)
            throw DbError(QStringLiteral("The database on the server is not empty: %1 holds rows. Broadtext copies "
                                         "its messages only into a database without any.")
                              .arg(table));

    // The copied rows already have their hand-overs (or were made before there was anything to hand over to):
    // the triggers that make new ones, and the change notices nobody waits for yet, stay quiet. Only a superuser
    // may turn every trigger off for the session; a table's owner can turn its own off inside the transaction.
    bool replica = true;
    server.execute(QStringLiteral("SAVEPOINT quiet"));
    try {
        server.execute(QStringLiteral("SET LOCAL session_replication_role = replica"));
    } catch (const DbError&) {
        server.execute(QStringLiteral("ROLLBACK TO SAVEPOINT quiet"));
        replica = false;
    }
    const auto triggers = [&](const char* state) {
        if (!replica)
            for (const CopiedTable& t : Tables)
                server.execute(
                    QStringLiteral("ALTER TABLE %1 %2 TRIGGER USER").arg(QLatin1String(t.name), QLatin1String(state)));
    };
    triggers("DISABLE");

    for (const CopiedTable& t : Tables) {
        const QString name = QString::fromLatin1(t.name);
        if (t.kind != Kind::Messages)
            server.execute(QStringLiteral("DELETE FROM %1").arg(name));
        if (!source.hasTable(name)) {
            counts.append({name, 0});
            continue;
        }
        const qint64 n = copyRows(source, server, t);
        if (t.key)
            drawIdsPast(source, server, t);
        counts.append({name, n});
        say(n == 1 ? QStringLiteral("%1: 1 row copied.").arg(name)
                   : QStringLiteral("%1: %2 rows copied.").arg(name).arg(n));
    }
    triggers("ENABLE");

    for (const auto& [name, copied] : std::as_const(counts)) {
        const qint64 inFile =
            source.hasTable(name) ? source.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(name)).toLongLong() : 0;
        const qint64 onServer = server.count(QStringLiteral("SELECT count(*) FROM %1").arg(name));
        if (inFile != onServer || copied != inFile)
            throw DbError(QStringLiteral("%1 has %2 rows in the file but %3 on the server; nothing was copied.")
                              .arg(name)
                              .arg(inFile)
                              .arg(onServer));
    }
}

} // namespace

QList<std::pair<QString, qint64>> MigrateToServer(const AppState& state, const QString& uri,
                                                  const std::function<void(const QString&)>& progress)
{
    const auto say = [&](const QString& line) {
        if (progress)
            progress(line);
    };
    if (!Database::IsServerLocation(uri))
        throw DbError(QStringLiteral("Not a PostgreSQL address (postgresql://user@host/database): %1").arg(uri));
    // Names this computer (broadtext.conf's `machine`) before the server is asked for its modem keys.
    DatabaseLocation(state);
    SourceFile source(DatabaseFilePath(state));
    const int version = source.scalar(QStringLiteral("PRAGMA user_version")).toInt();
    if (version > Database::SchemaVersion)
        throw DbError(QStringLiteral("The message database was written by a newer Broadtext (layout %1; this one "
                                     "knows %2 and older). Copy it with that version.")
                          .arg(version)
                          .arg(Database::SchemaVersion));

    const QString conf = PreferencesFilePath(state.dataDir);
    if (::access(QFile::encodeName(QFileInfo::exists(conf) ? conf : state.dataDir).constData(), W_OK) != 0)
        throw DbError(
            QStringLiteral("%1 cannot be written, so Broadtext could not be pointed at the server.").arg(conf));

    say(QStringLiteral("Connecting to %1.").arg(Database::DisplayLocation(uri)));
    Database server;
    server.open(uri);

    QList<std::pair<QString, qint64>> counts;
    server.beginTransaction();
    try {
        copyAll(source, server, counts, say);
        server.commit();
    } catch (...) {
        server.rollback();
        throw;
    }
    qint64 total = 0;
    for (const auto& entry : std::as_const(counts))
        total += entry.second;
    say(QStringLiteral("Every table has as many rows on the server as in the file (%1 rows in all).").arg(total));

    QSettings settings(conf, QSettings::IniFormat);
    settings.setValue(QStringLiteral("database"), uri);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw DbError(QStringLiteral("The messages were copied, but %1 could not be written: add the line "
                                     "database=%2 to it yourself.")
                          .arg(conf, uri));
    say(QStringLiteral("Broadtext now uses the database on the server (database= in %1). The file %2 stays as "
                       "it was.")
            .arg(conf, DatabaseFilePath(state)));
    return counts;
}
