// Another program holding the message database: a second SQLite connection, on a thread of its own, that
// takes an exclusive lock and keeps it for a while. Writers of the program wait for it and then fail.
#pragma once

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
    std::future<bool> held;
    std::thread thread;
};
