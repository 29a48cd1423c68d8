// The record of incoming calls (MissedCallStatistics). Throws DbError when the database fails.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class Database;

struct MissedCall {
    qint64 id = 0;
    QString number; // empty when the caller was not identified
    QDateTime at;
};

class CallsRepository {
public:
    explicit CallsRepository(Database& db) : db(db) {}

    // A call that rang and was not answered; an unknown caller is kept as a null number.
    // The modem that was called (0: not known) is kept with its name at this time.
    void recordMissedCall(const QString& callerNumber, const QDateTime& at, int modem = 0,
                          const QString& modemName = {});
    // The missed calls of the whole days from `from` to `to`, oldest first.
    QList<MissedCall> missedCalls(const QDate& from, const QDate& to);
    void deleteCall(qint64 id);

private:
    Database& db;
};
