// The message database: one SQLite file, one connection, statements with bound values.
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

    // Opens the file, creating it (mode 0600) with every table and the default rows on first use.
    // Closes an open connection first. Throws DbError when the file cannot be opened or is no database.
    void open(const QString& filePath);
    // Opens one more connection to a file an open connection set up (a thread's own connection): the same
    // pragmas, no schema work. Throws DbError.
    void openShared(const QString& filePath);
    void close();
    bool isOpen() const;
    QString filePath() const { return path; }
    QSqlDatabase connection() const;

    // Runs an insert, update or delete; returns the number of rows affected.
    int execute(const QString& sql, const QVariantList& values = {});
    // Runs an insert and returns the key the database assigned.
    qint64 insert(const QString& sql, const QVariantList& values = {});
    // First column of the first row; a null QVariant when there is no row (or the value is null).
    QVariant scalar(const QString& sql, const QVariantList& values = {});
    qint64 count(const QString& sql, const QVariantList& values = {});

    void beginTransaction();
    void commit();
    void rollback();

    static QString DbTime(const QDateTime& t);
    static QDateTime FromDbTime(const QVariant& v);
    static int DbBool(bool b) { return b ? -1 : 0; }
    // The half-open range [start of `from` day, start of the day after `to`) as stored texts.
    static std::pair<QString, QString> DayRange(const QDate& from, const QDate& to);

private:
    friend class Query;
    QSqlQuery prepare(const QString& sql, const QVariantList& values);
    void connect(const QString& filePath);
    void createSchema();

    QString name;
    QString path;
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
