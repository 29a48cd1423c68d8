#include "delivery/DatabaseWatch.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

DatabaseWatch::DatabaseWatch(AppState& state, Database& db, ActivityLog& log, QObject* parent)
    : QObject(parent), state(state), db(db), log(log)
{
    probeTimer.setInterval(ProbeMs);
    connect(&probeTimer, &QTimer::timeout, this, &DatabaseWatch::probe);
}

bool DatabaseWatch::serverGone()
{
    if (!db.isServer())
        return false;
    // A server shut down tells its clients so before it closes their sockets: the first statement after may read
    // that message on a link libpq still counts as up, and the second finds it closed.
    for (int tries = 0; tries < 2 && db.linkUp(); ++tries) {
        try {
            db.scalar(QStringLiteral("SELECT 1"));
            return false;
        } catch (const DbError&) {
        }
    }
    return !db.linkUp();
}

void DatabaseWatch::failed(const DbError& e)
{
    if (outage)
        return; // the same outage, met again by other work or another thread
    if (serverGone()) {
        outage = true;
        const QString where = Database::DisplayLocation(db.filePath());
        log.WriteActivityLog(QStringLiteral("**ERROR** The connection to the message database is lost (%1): "
                                            "Broadtext keeps its modems and tries again until the server answers.")
                                 .arg(e.description()));
        // A notice, not a box: nobody asked, and everything goes on by itself once the server answers.
        if (state.dialogs)
            state.dialogs->notice(QStringLiteral("The connection to the message database on %1 is lost: %2\r\n\r\n"
                                                 "Broadtext keeps its modems and what they send and receive, and "
                                                 "carries on by itself as soon as the server answers again.")
                                      .arg(where, e.description()));
        probeTimer.start();
        return;
    }
    log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
    if (shown)
        return;
    shown = true;
    // A notice, not a box: the work that found the problem goes on, and writes again until the database answers.
    if (state.dialogs)
        state.dialogs->notice(QStringLiteral("The message database %1 cannot be used just now: %2\r\n\r\nBroadtext "
                                             "keeps trying; the activity log records each failure.")
                                  .arg(db.filePath(), e.description()));
}

void DatabaseWatch::worked()
{
    if (outage) {
        probe(); // written on some connection: this one is asked at once
        return;
    }
    if (shown)
        over();
}

void DatabaseWatch::probe()
{
    try {
        db.scalar(QStringLiteral("SELECT 1"));
    } catch (const DbError&) {
        return; // still away (a reconnect is tried at most every few seconds)
    }
    if (!db.linkUp())
        return;
    outage = false;
    probeTimer.stop();
    log.WriteActivityLog(QStringLiteral("The connection to the message database is back: Broadtext carries on."));
    over();
}

void DatabaseWatch::over()
{
    shown = false;
    Q_EMIT recovered();
}
