// Another program holding the message database: a second connection, on a thread of its own, that takes an
// exclusive lock and keeps it for a while. Writers of the program wait for it and then fail. On the SQLite file
// the lock is the whole file's; on a server (the location is a URI) it is the Outbox and the opt-out list, the
// tables every writer of messages touches. Readers go on in both, as they do beside a writer of a WAL file.
#pragma once

#include "store/Database.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QUuid>
#include <chrono>
#include <future>
#include <thread>

class DatabaseLock {
public:
    DatabaseLock(const QString& path, int holdMs)
    {
        std::promise<bool> taken;
        held = taken.get_future();
        thread = std::thread([path, holdMs, taken = std::move(taken)]() mutable {
            if (Database::IsServerLocation(path)) {
                holdOnServer(path, holdMs, taken);
                return;
            }
            const QString name = QUuid::createUuid().toString();
            {
                QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                other.setDatabaseName(path);
                const bool locked = other.open() && QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE"));
                taken.set_value(locked);
                if (locked) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                    QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
                }
                other.close();
            }
            QSqlDatabase::removeDatabase(name);
        });
    }
    ~DatabaseLock() { thread.join(); }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

    // Waits until the lock is taken; false when it could not be.
    bool taken() { return held.get(); }

private:
    static void holdOnServer(const QString& location, int holdMs, std::promise<bool>& taken)
    {
        Database other;
        bool locked = false;
        try {
            other.openShared(location);
            QSqlQuery q(other.connection());
            locked = q.exec(QStringLiteral("BEGIN")) &&
                     q.exec(QStringLiteral("LOCK TABLE Message_OutBox, OptOut IN SHARE MODE"));
        } catch (const DbError&) {
        }
        taken.set_value(locked);
        if (locked) {
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            QSqlQuery(other.connection()).exec(QStringLiteral("ROLLBACK"));
        }
    }

    std::future<bool> held;
    std::thread thread;
};
