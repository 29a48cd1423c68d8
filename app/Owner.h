// One owner of the modems per message base on this computer, and what runs beside the engine there.
//
// Whichever Broadtext starts first on a database (the desktop program or the headless service) takes a lock
// file beside it and runs the modems; it listens on the local bus, delivers at once when another program
// queued rows ("outbox") and tells the others when its rows changed ("changed"). A program that finds the
// lock held by a live process opens no port: it shows the same data and refreshes when the owner says so.
// A lock left by a killed process is taken over. On a server base the owner also starts a delivery when another
// computer queued rows (ServerNews).
#pragma once

#include "common/LocalBus.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

struct AppState;
class ActivityLog;
class Database;
class Engine;
class ApiService;
class QLockFile;

// The lock file beside a database that names the process running its modems. Its holder keeps it until its
// engine has stopped (declared before the engine), so that nobody opens a port the engine still closes.
class OwnerLock {
public:
    OwnerLock();
    ~OwnerLock();

    static QString FilePath(const QString& databasePath);

    // True when this process holds the lock now (one left by a process that is gone is taken over). False
    // when a live process holds it (holder()), or when it cannot be made (error says why).
    bool take(const QString& databasePath, QString* error = nullptr);
    bool held() const;
    // The process holding it: this one, the other one, or 0 when unknown.
    qint64 holder() const { return holderPid; }

private:
    std::unique_ptr<QLockFile> file;
    qint64 holderPid = 0;
};

class ModemOwner : public QObject {
    Q_OBJECT
public:
    // Another process is told of changed rows at most this often.
    static constexpr int ChangedEveryMs = 200;

    ModemOwner(AppState& state, Database& db, ActivityLog& log, Engine& engine, OwnerLock& lock,
               QObject* parent = nullptr);
    ~ModemOwner() override;

    // Takes the modems of the open database. True: this process runs them, listens on the bus and has started
    // the engine's companions. False: a live process runs them (ownerPid); the engine is told to open no port
    // and this process follows the owner's changes.
    bool take();
    bool owns() const { return owner; }
    // The process that runs the modems (this one once take() succeeded); 0 when unknown.
    qint64 ownerPid() const { return lock.holder(); }
    // Whether the owner is the headless service rather than a desktop window.
    bool ownerIsService() const;
    // Who runs the modems: "the Broadtext service (process 1234)" or "another Broadtext window (process 1234)".
    QString ownerName() const;
    // What a program that only shows the data says about it.
    QString viewerLine() const;
    // The integration settings were saved: the owner's API server and hooks take them up (in this process, or
    // in the owner's, told through the bus). Gives why the API cannot listen, when this process knows.
    QString integrationChanged();
    // The local HTTP API of this process; null where another process runs the modems.
    ApiService* api() const { return apiService; }

Q_SIGNALS:
    // The owner wrote rows (a program that only shows the data refreshes its lists); emitted after the
    // engine's own inboxChanged and outboxChanged have been raised for the open windows.
    void ownerChangedRows();

private:
    // What runs beside the engine in the process that runs the modems; called once, by take().
    void startCompanions();
    void rowsChanged();
    void broadcastChanged();
    void followOwner(const QByteArray& word);
    // The Inbox rows stored since the last look, told as the engine tells its own.
    void announceNewInboxRows();
    qint64 newestOutboxRow();
    // Another computer wrote Outbox rows (a server base): those it queued go out from here at once too.
    void deliverRowsQueuedElsewhere();

    AppState& state;
    Database& db;
    ActivityLog& log;
    Engine& engine;
    OwnerLock& lock;
    QString databasePath;
    LocalBus bus;
    bool owner = false;
    ApiService* apiService = nullptr; // a child, made by startCompanions
    qint64 lastInboxId = 0;           // the newest Inbox row this program has shown (when it only shows the data)
    qint64 newestOutboxId = 0;        // the newest Outbox row when this program last looked (on a server base)
    QTimer changedLater;
    QElapsedTimer lastChanged;
};
