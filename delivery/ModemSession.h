// One modem and everything the program does with it: its link (the modem thread and its queue), its Outbox
// runs and reception, its call watch, connecting and reconnecting, and the status the windows read. The
// session publishes what it knows of its modem as a ModemStatus value; nobody else writes it.
#pragma once

#include "common/Charset.h"
#include "delivery/CallHandling.h"
#include "delivery/DatabaseWatch.h"
#include "delivery/Delivery.h"
#include "modem/ModemHealth.h"
#include "modem/ModemLink.h"
#include "store/ModemsRepository.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

struct AppState;
class ActivityLog;
class Database;

// What one modem session knows of its modem, as the windows read it.
struct ModemStatus {
    int modemId = 0;
    int port = 0;             // the COM number of the last connection attempt
    bool connected = false;   // the COM port is open
    bool ready = false;       // initialisation succeeded
    bool connecting = false;  // a connection attempt is under way
    bool pduMessages = false; // the message format in the settings is PDU (parts hold 153/67 characters)
    double delayFactor = 1.0;
    QString identity;   // which modem and SIM answered the last successful connection
    QString lastError;  // the status bar's line: the problem the modem has now, in words; empty when none
    QString name;       // the modem's name in the settings ("Modem <id>" when none)
    ModemHealth health; // what the last health poll found
    Charset::Mode messageMode() const { return pduMessages ? Charset::Mode::Pdu : Charset::Mode::Text; }
    bool operator==(const ModemStatus&) const = default;
};

Q_DECLARE_METATYPE(ModemStatus)

class ModemSession : public QObject {
    Q_OBJECT
public:
    // The reception and delivery timers belong to the program; a call on this modem holds its own share of
    // their work (workHeldChanged).
    ModemSession(int modemId, AppState& state, Database& db, ActivityLog& log, const ModemPlumbing& plumbing = {},
                 QObject* parent = nullptr);
    ~ModemSession() override;

    int id() const { return current.modemId; }
    const ModemStatus& status() const { return current; }

    // The delay factor and message format from the settings (at start-up and after Save).
    void loadSettings(Database& db);
    void setDelayFactor(double factor);
    void setPduMessages(bool pdu);

    void Connect(); // the user's Connect
    // Connect as one of several modems: its problems go to the log, the status and a notice, never a box.
    void ConnectQuietly();
    // The modem as the settings have it: its name, what it does (send, receive), whether it is switched on.
    void setConfig(const ModemConfig& config);
    const ModemConfig& config() const { return settings; }
    // Starts a delivery run now when the modem sends and is free (messages were just queued).
    void deliverQueued();
    // Other modems take from the same Outbox.
    void setPooled(bool pooled) { delivery.pooled = pooled; }
    void Disconnect(); // the user's Disconnect
    // The timers' work for this modem.
    void receiveTick();
    void sendTick();
    void watchTick();

    bool ReceiveNow();
    bool SendNow();
    bool receiving() const { return delivery.receiving(); }
    bool sending() const { return delivery.sending(); }
    void setDeliveryPaused(bool paused);
    bool deliveryPaused() const { return delivery.held; }
    bool modemFree() const;
    // A call holds this modem's reception or delivery: the timers' ticks pass it by.
    bool receiveHeld() const { return receptionHeld; }
    bool sendHeld() const { return deliveryHeld; }
    int RetryFailed(const QList<qint64>& ids);

    void ListSIMMessages(const QString& status, int pollDelayMs, QObject* context,
                         std::function<void(const ListResult&)> done);
    void DeleteSIMMessage(int index, QObject* context, std::function<void()> done);
    void DeleteSIMMessagesByStatus(const QString& status, QObject* context, std::function<void()> done);
    void ProbeComPorts(int first, int last, const QString& settings, QObject* context,
                       std::function<void(int)> progress, std::function<void(const ProbeResult&)> done);
    void cancelProbe();
    bool portInUse() const
    {
        return portOpen || link.waiting(ModemLink::Work::Connect) || link.waiting(ModemLink::Work::Probe);
    }

    void IdentifyCallerNumber(const QString& number) { calls.IdentifyCallerNumber(number); }
    const CallHandling& callState() const { return calls; }

    QList<int> initRetryMs{10000, 30000, 60000};
    void setReconnectPollMs(int ms) { reconnectWatch.setInterval(ms); }
    // How often the modem's signal, network and SIM are asked for (0: never; tests that follow a
    // conversation command by command switch it off).
    void setHealthPollMs(int ms);
    void setFinalAnswerTimeout(int ms) { link.finalAnswerTimeoutMs = ms; }
    qint64 pacedMs() const { return link.pacedMs(); }

    // Database failures of this session's background work go to the program's one watch (the engine's); a
    // session on its own has its own.
    void useDatabaseWatch(DatabaseWatch& watch);

    // Opens the settings window; sets the timers' periods once the modem is ready.
    std::function<void()> openSettings;
    std::function<void()> applyTimerPeriods;

Q_SIGNALS:
    void statusChanged(const ModemStatus& status);
    void connectionChanged();
    void deliveryProgress(int handled, int total, int failed, bool ended);
    void deliveryPausedChanged(bool paused);
    void receptionProgress(int importing, bool ended);
    void messageReceived(const QString& sender, const QString& text);
    void callRecorded(const QString& number);
    void inboxMessageStored(const QString& number, const QString& text, const QDateTime& received, qint64 id);
    void inboxChanged();
    void outboxChanged();
    void workHeldChanged();

private:
    // Who started a connection attempt: the user, the program after an initialisation failed, or the
    // program because an unplugged modem's device is back. Only the user's own attempt opens boxes.
    // A pool attempt is the program's own but, like the user's, takes whatever modem answers.
    enum class Attempt { User, Retry, Return, Pool };
    void connectWith(Attempt attempt);
    void connectAfresh(Attempt attempt);
    void connectAs(Attempt attempt);
    void nameRows();
    void requestConnection(const ConnectRequest& request, Attempt attempt);
    // Closes the port on the modem thread, after what is already asked of it.
    void closePort();
    void initialisationFailed(Attempt attempt, int port);
    void retryNow();
    void tellStatus(const QString& text);
    void setConnected(bool connected);
    void publish();
    void startReception(bool periodic);
    void startDelivery(bool periodic);
    void portLost();
    void lookForReturningModem();
    // Copies of messages stored on the SIM for sending that a crash left there: removed at connect.
    void removeStrandedCopies();
    // A database failure of background work: told through the watch, which shows it once.
    void databaseFailed(const DbError& e);
    // Written to again: the status bar forgets the failure, and a new one is shown again.
    void databaseRecovered();
    // A failure the modem layer reports: a box when it answers the user's own action (Connect, the SIM
    // manager), the log alone for a connection attempt of the program's own, and otherwise (the timers' work,
    // the call watch) a background problem.
    void modemMessage(const LinkError& error);
    // A problem of background work: the log each time, the status bar, and one notice until it is over.
    void backgroundProblem(const QString& text);
    // The modem's work succeeded again: the status bar forgets the problem, and a new one is shown again.
    void backgroundProblemOver();

    AppState& state;
    Database& db;
    ActivityLog& log;
    ModemLink link;
    Delivery delivery;
    CallHandling calls;
    ModemStatus current;
    ModemStatus published;
    void holdWork(bool receive, bool send);
    void unsolicited(const Unsolicited& u);
    // The health poll: at connect, then at a low rate; a delivery run puts it off while the last one is recent.
    void pollHealth();
    void watchNow();

    bool portOpen = false;
    ModemConfig settings;
    bool announces = false; // the modem has announced a new message (+CMTI) since it connected
    QTimer healthTimer;
    bool receptionHeld = false;
    bool deliveryHeld = false;
    bool deliverAgain = false; // rows were queued during a run: another starts when it ends
    DatabaseWatch ownWatch;
    DatabaseWatch* watch = &ownWatch;
    QSet<QString> problemsShown;  // background problems shown as a notice since Connect or the modem last worked
    QTimer reconnectWatch;        // after an unplug: waits for the device to come back
    QTimer retryTimer;            // after a failed initialisation: the next try
    int retries = 0;              // failed initialisations in a row
    bool connectBoxShown = false; // the user's attempt showed a box about its failure
    bool problemShown = false;    // the current run of failed initialisations was shown once
    bool foreignModem = false;    // a different modem holds the port: left alone until its device goes away
};
