// The program's background machinery, without any window: the modem link (the serial port MSComm1 and
// every exchange, on the modem thread), the delivery run and reception, call handling, and the three timers
// of the main window (Timer1 reception, Timer2 delivery, timerRefreshHomePage call watch and counters).
// Connect and Disconnect live here. Windows use the small API below; the collaborators stay private.
#pragma once

#include "common/PeriodicTimer.h"
#include "delivery/CallHandling.h"
#include "delivery/Delivery.h"
#include "modem/ModemLink.h"
#include "store/SettingsRows.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

struct AppState;
class ActivityLog;
class Database;

class Engine : public QObject {
    Q_OBJECT
public:
    Engine(AppState& state, Database& db, ActivityLog& log, QObject* parent = nullptr,
           const ModemPlumbing& plumbing = {});
    ~Engine() override;

    AppState& state;
    Database& db;
    ActivityLog& log;
    PeriodicTimer Timer1;
    PeriodicTimer Timer2;
    PeriodicTimer timerRefreshHomePage;

    void Connect();    // start_Click's work
    void Disconnect(); // mnustop_Click's work
    void Timer1_Timer();
    void Timer2_Timer();
    void timerRefreshHomePage_Timer();
    // Timer1 and Timer2 periods from the running intervals.
    void applyTimerPeriods();

    // Makes the FAILED rows among these Outbox rows wait again (the message box's "send again"); how many (-1: the
    // database failed, and the user was told).
    int RetryFailed(const QList<qint64>& ids);

    // The message box's "Receive SMS In InBox" and "Send SMS From OutBox": false when that work already
    // runs or waits (nothing is started twice) or the modem is not ready.
    bool ReceiveNow();
    bool SendNow();
    bool receiving() const { return delivery.receiving(); }
    // Delivery paused by the user: a run under way stops once the message on the network is done (its rows
    // stay queued), and no run starts, by timer or by hand, until it is resumed. Reception and the call watch
    // go on.
    void setDeliveryPaused(bool paused);
    bool deliveryPaused() const { return delivery.held; }
    bool sending() const { return delivery.sending(); }
    // The modem is connected and ready and has nothing to do.
    bool modemFree() const;

    // The SIM manager's work; done runs on this thread with the result.
    void ListSIMMessages(const QString& status, int pollDelayMs, QObject* context,
                         std::function<void(const ListResult&)> done);
    void DeleteSIMMessage(int index, QObject* context, std::function<void()> done);
    void DeleteSIMMessagesByStatus(const QString& status, QObject* context, std::function<void()> done);

    // Modem auto-detection: probes COM first to last with "AT" and asks the answering ones who they are.
    void ProbeComPorts(int first, int last, const QString& settings, QObject* context,
                       std::function<void(int)> progress, std::function<void(const ProbeResult&)> done);
    void cancelProbe();
    // The serial port is open (connected, connecting or probing).
    bool portInUse() const
    {
        return portOpen || link.waiting(ModemLink::Work::Connect) || link.waiting(ModemLink::Work::Probe);
    }

    // Incoming calls.
    void IdentifyCallerNumber(const QString& number) { calls.IdentifyCallerNumber(number); }
    const CallHandling& callState() const { return calls; }

    // The waits before the program tries again a modem that opened but did not get ready, one after the
    // other, the last repeated until it answers or the user disconnects (tests shorten them).
    QList<int> initRetryMs{10000, 30000, 60000};
    // How often an unplugged modem's device is looked for (tests shorten it).
    void setReconnectPollMs(int ms) { reconnectWatch.setInterval(ms); }

    // How long a submission waits for the network's final answer (tests shorten it).
    void setFinalAnswerTimeout(int ms) { link.finalAnswerTimeoutMs = ms; }
    // Milliseconds of prescribed pacing spent on the modem thread (benchmarks subtract it).
    qint64 pacedMs() const { return link.pacedMs(); }

    // Opens the settings window (Connect without settings; the "No modem found" question).
    std::function<void()> openSettings;
    // Shows the home page counters.
    std::function<void(const HomeCounters&)> showCounters;

Q_SIGNALS:
    // Connected or disconnected (Connect, Disconnect, or the device went away): menus follow.
    void connectionChanged();
    // A line about the modem link for the status bar (waiting to try again, a different modem on the port);
    // empty once there is nothing to say.
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
    // Who started a connection attempt: the user, the program after an initialisation failed, or the
    // program because an unplugged modem's device is back. Only the user's own attempt opens boxes.
    enum class Attempt { User, Retry, Return };
    void connectWith(Attempt attempt);
    void initialisationFailed(Attempt attempt, int port);
    void retryNow();
    void tellStatus(const QString& text);
    void startReception(bool periodic);
    void startDelivery(bool periodic);
    void portLost();
    void lookForReturningModem();
    // Copies of messages stored on the SIM for sending that a crash left there: removed at connect.
    void removeStrandedCopies();
    // A database failure of background work: logged each time, shown once until the database works again.
    void databaseFailed(const DbError& e);

    ModemLink link;
    Delivery delivery;
    CallHandling calls;
    bool portOpen = false;
    int connectedPort = 0;
    QString lastTickError;
    bool databaseFailureShown = false;
    QTimer reconnectWatch;        // after an unplug: waits for the device to come back
    QTimer retryTimer;            // after a failed initialisation: the next try
    int retries = 0;              // failed initialisations in a row
    bool connectBoxShown = false; // the user's attempt showed a box about its failure
    bool problemShown = false;    // the current run of failed initialisations was shown once
    QSet<QString> noticesShown;   // the modem failures of background work told by a notice since Connect
    // Which modem and SIM the user connected (ModemIdentity): the program reconnects by itself to this one only.
    QString modemIdentity;
    bool foreignModem = false; // a different modem holds the port: left alone until its device goes away
    QString statusText;
};
