// The message database: an SQLite file (the default, which needs no set-up) or a PostgreSQL database that several
// computers share, reached by a connection URI. One connection per object (a thread has its own); statements with
// bound values, written once for both engines.
//
// Conventions kept by every statement of the program:
//  - values are always bound, never pasted into statement text;
//  - Yes/No columns hold -1 (true) and 0 (false);
//  - date/time columns hold UTC text "yyyy-MM-ddTHH:mm:ss.zzzZ", which sorts in time order and reads back
//    as the same moment (DbTime/FromDbTime); whole days are ranges from local midnight to the next;
//  - every failure throws DbError with the engine's description, which the caller shows or absorbs.
#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <stdexcept>

class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& description);
    QString description() const { return text; }

private:
    QString text;
};

class Database {
public:
    // The layout of the tables this program writes: an older file is brought up to it when opened.
    static constexpr int SchemaVersion = 9;

    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the file, creating it (mode 0600) with every table and the default rows on first use; or, given a
    // postgresql:// URI, the server's database, creating the tables when it has none. Closes an open connection
    // first. Throws DbError when it cannot be opened or is no database.
    void open(const QString& location);
    // Opens one more connection to a database an open connection set up (a thread's own connection): the same
    // settings, no schema work. Throws DbError.
    void openShared(const QString& location);
    void close();
    bool isOpen() const;
    // The file path or the URI the database was opened with.
    QString filePath() const { return path; }
    QSqlDatabase connection() const;

    // A postgresql:// or postgres:// connection URI rather than a file path.
    static bool IsServerLocation(const QString& location);
    // The location as it may be shown: a URI without any password it holds.
    static QString DisplayLocation(const QString& location);
    bool isServer() const { return server; }

    // Modems belong to the computer they are plugged into. On a server every computer names itself (the host
    // name unless broadtext.conf says otherwise) and keeps its modem list in a schema of its own; the rows the
    // computers share (Outbox claims, what each modem sent or received, its sending history) carry modem keys that
    // tell the computers apart: the modem's own id plus the computer's base. On SQLite a key is the modem's id.
    static void SetMachineName(const QString& machine);
    static QString MachineName();
    // This object's computer instead of the process's (two computers in one test); set before open.
    void setMachine(const QString& machine) { ownMachine = machine.trimmed(); }
    int modemKey(int modem) const { return modem > 0 ? int(modemBase) + modem : modem; }
    // The modem id a key of this computer stands for; 0 for another computer's.
    int modemOfKey(qint64 key) const
    {
        return key > modemBase && key < modemBase + ModemKeySpan ? int(key - modemBase) : (modemBase ? 0 : int(key));
    }
    static constexpr qint64 ModemKeySpan = 100000;
    // False while a server connection is lost: statements then fail at once (DbError) until one gets through
    // again, which is tried at most every few seconds so that no caller waits on a dead server.
    bool linkUp() const { return !lost; }

    // Runs an insert, update or delete; returns the number of rows affected.
    int execute(const QString& sql, const QVariantList& values = {});
    // Runs an insert and returns the key the database assigned.
    qint64 insert(const QString& sql, const QVariantList& values = {});
    // First column of the first row; a null QVariant when there is no row (or the value is null).
    QVariant scalar(const QString& sql, const QVariantList& values = {});
    qint64 count(const QString& sql, const QVariantList& values = {});

    // A value as it is bound here: on a server a text's NUL characters become U+FFFD (for queries prepared
    // outside this class).
    QVariant bindable(const QVariant& v) const;

    void beginTransaction();
    void commit();
    void rollback();

    static QString DbTime(const QDateTime& t);
    static QDateTime FromDbTime(const QVariant& v);
    static int DbBool(bool b) { return b ? -1 : 0; }
    // The half-open range [start of `from` day, start of the day after `to`) as stored texts.
    static std::pair<QString, QString> DayRange(const QDate& from, const QDate& to);

    // Asks the server to tell this connection about `channel` (LISTEN), again after every reconnect; the
    // driver's notification signal carries them. Nothing on SQLite.
    void listen(const QString& channel);
    // The channel on which a server announces that rows of the Inbox, the Outbox or the calls changed; the
    // payload is the table's name in lower case.
    static QString ChangedChannelName();

private:
    friend class Query;
    QSqlQuery prepare(const QString& sql, const QVariantList& values);
    QSqlQuery run(const QString& sql, const QVariantList& values);
    void connect(const QString& location);
    void connectServer(const QString& uri);
    void createSchema();
    void createServerSchema();
    void insertDefaultRows();
    void enterMachine();
    void reconnectIfDue();
    void noticeFailure();

    QString name;
    QString path;
    bool server = false;
    bool lost = false;
    bool wanted = false; // opened and not closed since by its owner
    qint64 modemBase = 0;
    qint64 lastReconnect = 0;
    QStringList channels;
    QString ownMachine;
};

// A read-only statement, read forward.
class Query {
public:
    Query(Database& db, const QString& sql, const QVariantList& values = {});
    bool next();
    QVariant value(const QString& column) const;
    QVariant value(int index) const;
    int columnCount() const;
    QString columnName(int index) const;

private:
    QSqlQuery q;
};
