// One owner of the modems per message base: see Owner.h.
#include "app/Owner.h"

#include "api/ApiServer.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "delivery/HandOver.h"
#include "store/ActivityLog.h"
#include "store/CampaignRepository.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "views/ServerNews.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>

OwnerLock::OwnerLock() = default;

OwnerLock::~OwnerLock() = default;

QString OwnerLock::FilePath(const QString& databasePath)
{
    return databasePath + QStringLiteral(".owner.lock");
}

bool OwnerLock::take(const QString& databasePath, QString* error)
{
    file = std::make_unique<QLockFile>(FilePath(databasePath));
    // A live owner runs for weeks: only a lock whose process is gone is stale, never one that is merely old.
    file->setStaleLockTime(0);
    if (file->tryLock(0)) {
        holderPid = QCoreApplication::applicationPid();
        return true;
    }
    holderPid = 0;
    if (file->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, application;
        if (file->getLockInfo(&pid, &host, &application))
            holderPid = pid;
    } else if (error) {
        *error = file->error() == QLockFile::PermissionError
                     ? QStringLiteral("The lock file %1 cannot be made: permission denied.").arg(file->fileName())
                     : QStringLiteral("The lock file %1 cannot be made.").arg(file->fileName());
    }
    return false;
}

bool OwnerLock::held() const
{
    return file && file->isLocked();
}

ModemOwner::ModemOwner(AppState& state, Database& db, ActivityLog& log, Engine& engine, OwnerLock& lock,
                       QObject* parent)
    : QObject(parent), state(state), db(db), log(log), engine(engine), lock(lock), databasePath(DatabaseFilePath(state))
{
    changedLater.setSingleShot(true);
    connect(&changedLater, &QTimer::timeout, this, &ModemOwner::broadcastChanged);
}

ModemOwner::~ModemOwner() = default;

bool ModemOwner::take()
{
    QString problem;
    owner = lock.take(databasePath, &problem);
    if (!owner && !problem.isEmpty()) {
        // Nothing says another process runs the modems: better run them than leave them to nobody.
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + problem);
        owner = true;
    }
    if (!owner) {
        engine.setModemsRunElsewhere(viewerLine());
        try {
            lastInboxId = db.scalar(QStringLiteral("SELECT max(InBox_Id) FROM Message_InBox")).toLongLong();
        } catch (const DbError& e) {
            log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        }
        connect(&bus, &LocalBus::received, this, &ModemOwner::followOwner);
        bus.subscribe(databasePath);
        return false;
    }

    if (!bus.listen(databasePath))
        log.WriteActivityLog(QStringLiteral("**ERROR** Other programs cannot reach this one on this computer: rows "
                                            "they queue are sent at the next delivery tick."));
    connect(&bus, &LocalBus::received, this, [this](const QByteArray& word) {
        if (word == "settings") {
            integrationChanged();
            return;
        }
        if (word != "outbox")
            return;
        Q_EMIT engine.outboxChanged(); // the windows show the new rows before they go out
        engine.deliverNow();
    });
    connect(&engine, &Engine::inboxChanged, this, &ModemOwner::rowsChanged);
    connect(&engine, &Engine::outboxChanged, this, &ModemOwner::rowsChanged);
    connect(&engine, &Engine::callRecorded, this, &ModemOwner::rowsChanged);
    // On a server base the rows another computer queues (its command line, its API) go out from here at once too,
    // as rows queued on this computer do, instead of waiting for the send timer.
    if (ServerNews* news = ServerNews::Of(db)) {
        try {
            newestOutboxId = newestOutboxRow();
        } catch (const DbError& e) {
            log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        }
        connect(news, &ServerNews::rowsChanged, this, [this](ServerNews::Tables tables) {
            if (tables.testFlag(ServerNews::Outbox))
                deliverRowsQueuedElsewhere();
        });
    }
    // A command-line queue killed while it loaded left a campaign nothing sends from; it goes now.
    try {
        CampaignRepository(db).dropAbandonedLoads(state.clock->now());
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
    }
    startCompanions();
    return true;
}

void ModemOwner::startCompanions()
{
    // Received messages go on to the receive hook and the webhook when the user set them up (the engine owns
    // the dispatcher, so that it goes before the database it works on).
    (new HandOver(db, log, *state.clock, &engine))->follow(engine);
    // The local HTTP API (off unless switched on) runs beside the engine; what it queues goes out at once.
    // The message base the program opened (a server's URI or the file), not the local file beside it.
    apiService = new ApiService(db.filePath(), this);
    connect(apiService, &ApiService::queued, &engine, &Engine::deliverNow);
    if (const QString problem = apiService->apply(); !problem.isEmpty())
        log.WriteActivityLog(problem);
}

QString ModemOwner::integrationChanged()
{
    if (!owner) {
        LocalBus::Send(databasePath, "settings");
        return {};
    }
    return apiService ? apiService->apply() : QString();
}

bool ModemOwner::ownerIsService() const
{
    if (owner)
        return QCoreApplication::arguments().contains(QStringLiteral("--headless"));
    QFile command(QStringLiteral("/proc/%1/cmdline").arg(lock.holder()));
    return lock.holder() > 0 && command.open(QIODevice::ReadOnly) &&
           command.readAll().split('\0').contains("--headless");
}

QString ModemOwner::ownerName() const
{
    const QString process = lock.holder() > 0 ? QStringLiteral(" (process %1)").arg(lock.holder()) : QString();
    return (ownerIsService() ? QStringLiteral("the Broadtext service") : QStringLiteral("another Broadtext window")) +
           process;
}

QString ModemOwner::viewerLine() const
{
    return QStringLiteral("The modems are run by %1 on this computer; this window shows its messages").arg(ownerName());
}

void ModemOwner::rowsChanged()
{
    // A delivery run changes rows many times a second: the others hear of it at most every ChangedEveryMs.
    if (changedLater.isActive())
        return;
    if (!lastChanged.isValid() || lastChanged.elapsed() >= ChangedEveryMs)
        broadcastChanged();
    else
        changedLater.start(ChangedEveryMs - int(lastChanged.elapsed()));
}

void ModemOwner::broadcastChanged()
{
    lastChanged.start();
    bus.broadcast("changed");
}

qint64 ModemOwner::newestOutboxRow()
{
    return db.scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox")).toLongLong();
}

void ModemOwner::deliverRowsQueuedElsewhere()
{
    // Every row another computer sends is news of the Outbox too: only rows newer than the last look start a
    // delivery, or a busy computer would keep this one's runs starting again for nothing.
    if (!db.linkUp())
        return;
    try {
        const qint64 newest = newestOutboxRow();
        if (newest <= newestOutboxId)
            return;
        newestOutboxId = newest;
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        return;
    }
    engine.deliverNow();
}

void ModemOwner::followOwner(const QByteArray& word)
{
    if (word != "changed")
        return;
    announceNewInboxRows();
    Q_EMIT engine.inboxChanged();
    Q_EMIT engine.outboxChanged();
    engine.timerRefreshHomePage_Timer(); // the home page counters
    Q_EMIT ownerChangedRows();
}

void ModemOwner::announceNewInboxRows()
{
    struct Row {
        qint64 id;
        QString number, text;
        QDateTime received;
    };
    QList<Row> rows;
    try {
        Query q(db,
                QStringLiteral("SELECT InBox_Id, SenderMobileNo, Message, InboxDateTime FROM Message_InBox WHERE "
                               "InBox_Id > ? ORDER BY InBox_Id"),
                {lastInboxId});
        while (q.next())
            rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                         Database::FromDbTime(q.value(3))});
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        return;
    }
    // Read first, told after: a window that reads the database on the news sees no half-read statement.
    for (const Row& row : std::as_const(rows)) {
        lastInboxId = row.id;
        QString shown = Trim(row.text);
        shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        Q_EMIT engine.inboxMessageStored(Trim(row.number), shown, row.received, row.id);
        Q_EMIT engine.messageReceived(row.number, row.text);
    }
}
