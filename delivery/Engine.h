// The program's background machinery, without any window: its modem sessions (each with its link, delivery
// run, reception and call watch; one today) and the three timers of the main window (Timer1 reception,
// Timer2 delivery, timerRefreshHomePage call watch and counters). Windows use the small API below, which
// speaks to the one modem; the sessions stay private.
#pragma once

#include "common/PeriodicTimer.h"
#include "delivery/DatabaseWatch.h"
#include "delivery/ModemSession.h"
#include "store/SettingsRows.h"

#include <QMap>
#include <QObject>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>

struct AppState;
class ActivityLog;
class Clock;
class Database;
class Dialogs;

class Engine : public QObject {
    Q_OBJECT
public:
    Engine(AppState& state, Database& db, ActivityLog& log, QObject* parent = nullptr,
           const ModemPlumbing& plumbing = {});
    ~Engine() override;

private:
    AppState& state;
    Database& db;
    ActivityLog& log;
    // Every session's database failures, told once for the program (before the sessions, which refer to it).
    DatabaseWatch databaseWatch;

public:
    // What the windows share beside the modem: the seams to the outside world, the message database (for the
    // repositories of store/), the activity log, and the flags the windows keep among themselves (which
    // folder the message box opens on, whether a child window is open, page size, auto-reply).
    Dialogs& dialogs() const;
    Clock& clock() const;
    Database& database() const { return db; }
    ActivityLog& activityLog() const { return log; }
    AppState& appState() const { return state; }

    PeriodicTimer Timer1;
    PeriodicTimer Timer2;
    PeriodicTimer timerRefreshHomePage;

private:
    std::map<int, std::unique_ptr<ModemSession>> sessions; // before everything that refers into them

public:
    // The modem sessions by modem id; today one, id 1, for the ModemSetting row.
    static constexpr int FirstModem = 1;
    ModemSession& session() const { return *sessions.at(FirstModem); }
    // What the windows show of the modem: connected, ready, message format, delay factor, who it is.
    const ModemStatus& status() const { return session().status(); }
    // Every modem session's id, in the settings' order, and each one's status.
    QList<int> modemIds() const
    {
        QList<int> ids;
        for (const auto& [id, s] : sessions)
            ids.append(id);
        return ids;
    }
    const ModemStatus& status(int modemId) const { return sessions.at(modemId)->status(); }
    // The delay factor and message format from the settings (start-up), or as the settings window saved them.
    // With the modem list: a session for each modem in it, named and set as it says; gone ones removed.
    void loadModemSettings();
    // Makes the transports of further modems (tests give in-memory lines; empty: serial ports).
    std::function<ModemPlumbing(int modemId)> plumbingFor;
    // Any modem's port is open.
    bool connected() const;
    void setDelayFactor(double factor) { session().setDelayFactor(factor); }
    void setPduMessages(bool pdu) { session().setPduMessages(pdu); }

    void Connect();    // start_Click's work, for every modem switched on
    void Disconnect(); // mnustop_Click's work, for every modem
    // Messages were queued: every free sending modem starts a run now rather than at its timer's next tick.
    void deliverNow();
    void Timer1_Timer();
    void Timer2_Timer();
    void timerRefreshHomePage_Timer();
    // Timer1 and Timer2 periods from the running intervals.
    void applyTimerPeriods();

    // Makes the FAILED rows among these Outbox rows wait again (the message box's "send again"); how many (-1: the
    // database failed, and the user was told).
    int RetryFailed(const QList<qint64>& ids) { return session().RetryFailed(ids); }

    // The message box's "Receive SMS In InBox" and "Send SMS From OutBox": false when that work already
    // runs or waits (nothing is started twice) or the modem is not ready.
    bool ReceiveNow();
    bool SendNow();
    bool receiving() const
    {
        return std::any_of(sessions.begin(), sessions.end(), [](const auto& s) { return s.second->receiving(); });
    }
    // Delivery paused by the user: a run under way stops once the message on the network is done (its rows
    // stay queued), and no run starts, by timer or by hand, until it is resumed. Reception and the call watch
    // go on.
    void setDeliveryPaused(bool paused)
    {
        for (auto& [id, s] : sessions)
            s->setDeliveryPaused(paused);
    }
    bool deliveryPaused() const { return session().deliveryPaused(); }
    bool sending() const
    {
        return std::any_of(sessions.begin(), sessions.end(), [](const auto& s) { return s.second->sending(); });
    }
    // The modem is connected and ready and has nothing to do.
    bool modemFree() const { return session().modemFree(); }

    // The SIM manager's work; done runs on this thread with the result.
    void ListSIMMessages(const QString& status, int pollDelayMs, QObject* context,
                         std::function<void(const ListResult&)> done)
    {
        session().ListSIMMessages(status, pollDelayMs, context, std::move(done));
    }
    void DeleteSIMMessage(int index, QObject* context, std::function<void()> done)
    {
        session().DeleteSIMMessage(index, context, std::move(done));
    }
    void DeleteSIMMessagesByStatus(const QString& status, QObject* context, std::function<void()> done)
    {
        session().DeleteSIMMessagesByStatus(status, context, std::move(done));
    }

    // Modem auto-detection: probes COM first to last with "AT" and asks the answering ones who they are.
    void ProbeComPorts(int first, int last, const QString& settings, QObject* context,
                       std::function<void(int)> progress, std::function<void(const ProbeResult&)> done)
    {
        if (!runElsewhere.isEmpty()) {
            ProbeResult none;
            none.cancelled = true;
            done(none);
            return;
        }
        session().ProbeComPorts(first, last, settings, context, std::move(progress), std::move(done));
    }
    void cancelProbe() { session().cancelProbe(); }
    // The serial port is open (connected, connecting or probing), here or in the process that runs the modems.
    bool portInUse() const { return !runElsewhere.isEmpty() || session().portInUse(); }

    // Another process on this computer runs the modems of this message base: the line that says so (empty:
    // this one does). Two programs must never open one serial port, so Connect and the modem scan then open
    // none.
    void setModemsRunElsewhere(const QString& line) { runElsewhere = line; }
    const QString& modemsRunElsewhere() const { return runElsewhere; }

    // Incoming calls.
    void IdentifyCallerNumber(const QString& number) { session().IdentifyCallerNumber(number); }
    const CallHandling& callState() const { return session().callState(); }

    // The waits before the program tries again a modem that opened but did not get ready, one after the
    // other, the last repeated until it answers or the user disconnects (tests shorten them).
    QList<int>& initRetryMs;
    // How often an unplugged modem's device is looked for (tests shorten it).
    void setReconnectPollMs(int ms)
    {
        for (auto& [id, s] : sessions)
            s->setReconnectPollMs(ms);
    }
    // How often each modem's health is polled (0: never).
    void setHealthPollMs(int ms);

    // How long a submission waits for the network's final answer (tests shorten it).
    void setFinalAnswerTimeout(int ms) { session().setFinalAnswerTimeout(ms); }
    // Milliseconds of prescribed pacing spent on the modem thread (benchmarks subtract it).
    qint64 pacedMs() const { return session().pacedMs(); }

    // Opens the settings window (Connect without settings; the "No modem found" question).
    std::function<void()> openSettings;
    // Shows the home page counters.
    std::function<void(const HomeCounters&)> showCounters;

Q_SIGNALS:
    // Connected or disconnected (Connect, Disconnect, or the device went away): menus follow.
    void connectionChanged();
    // Modems were added to or taken out of the list.
    void modemsChanged();
    // The modem's status changed (connected, ready, format, delay factor, identity, its problem).
    void modemStatusChanged(const ModemStatus& status);
    // A line about the modem link for the status bar (waiting to try again, a different modem on the port,
    // a problem of background work); empty once there is nothing to say.
    void statusChanged(const QString& text);
    // A delivery run: rows handled of the total waiting at its start, failed among them; ended at its end.
    void deliveryProgress(int handled, int total, int failed, bool ended);
    void deliveryPausedChanged(bool paused);
    // A reception imports this many messages; ended once its deletions are done.
    void receptionProgress(int importing, bool ended);
    // A message was stored in the Inbox; a call was recorded.
    void messageReceived(const QString& sender, const QString& text);
    void callRecorded(const QString& number);
    // The row a received message was stored as (the number and the text as the Inbox list shows them).
    void inboxMessageStored(const QString& number, const QString& text, const QDateTime& received, qint64 id);
    // What the folders hold or count changed: messages received, queued, sent, reported on, made to wait again.
    void inboxChanged();
    void outboxChanged();

private:
    void followHeldWork();
    void attach(ModemSession* session);
    struct RunCount {
        int handled = 0, total = 0, failed = 0;
        bool running = false;
    };
    void sumRuns(int modemId, const RunCount& count);
    QMap<int, RunCount> runs; // the delivery runs under way, by modem
    ModemSession* find(int modemId) const;
    int healthPollMs = 60000;

    QString statusLine;
    QString lastTickError;
    QString runElsewhere;
};
