// The one place where background work (every modem session, its delivery run, reception and call watch, and
// the modem threads' own connections) tells of a database that failed it. A lost connection to the message
// database server is one outage however many statements and threads meet it: the user hears of it once, as a
// notice, the activity log says once that it is lost and once that it is back, and the watch itself asks the
// server again until it answers, so that the program carries on without anybody doing anything. Other failures
// are logged each time and shown once until background work writes again.
#pragma once

#include <QObject>
#include <QTimer>

struct AppState;
class ActivityLog;
class Database;
class DbError;

class DatabaseWatch : public QObject {
    Q_OBJECT
public:
    // How often a lost server is asked whether it answers again.
    static constexpr int ProbeMs = 1000;

    DatabaseWatch(AppState& state, Database& db, ActivityLog& log, QObject* parent = nullptr);

    // A statement of background work failed, on this connection or on another one to the same database.
    void failed(const DbError& e);
    // Background work wrote again.
    void worked();
    // Failures are being met now: the status line says so.
    bool troubled() const { return shown || outage; }
    bool linkLost() const { return outage; }

Q_SIGNALS:
    // The database answers again after a failure that was shown.
    void recovered();

private:
    // Whether the server link is gone: asked on this thread's connection, which a failure on another thread's
    // connection may not have touched yet.
    bool serverGone();
    void probe();
    void over();

    AppState& state;
    Database& db;
    ActivityLog& log;
    bool shown = false;  // a failure other than a lost link was shown, and nothing was written since
    bool outage = false; // the server link is lost
    QTimer probeTimer;
};
