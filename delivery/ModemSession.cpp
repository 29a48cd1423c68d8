#include "delivery/ModemSession.h"

#include "modem/Pdu.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/LinkWords.h"
#include "modem/ComPorts.h"
#include "store/ActivityLog.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/SettingsRows.h"

#include <QFileInfo>
#include <QTimer>
#include <utility>

namespace {

// How often an unplugged modem's device is looked for.
constexpr int ReconnectPollMs = 2000;
// How often the signal, the network and the SIM are asked for, and how old the last answer may grow while
// delivery runs before it is asked for between two messages.
constexpr int HealthPollMs = 60000;
constexpr qint64 HealthStaleDuringRunSecs = 300;

// The status bar while the database does not answer (the notice says more).
const QString DatabaseBusyLine = QStringLiteral("The message database cannot be used just now: Broadtext keeps trying");

} // namespace

ModemSession::ModemSession(int modemId, AppState& state, Database& db, ActivityLog& log, const ModemPlumbing& plumbing,
                           QObject* parent)
    : QObject(parent), state(state), db(db), log(log), link(state, this, plumbing), delivery(state, db, log, link),
      calls(state, db, log, link, delivery), ownWatch(state, db, log)
{
    connect(watch, &DatabaseWatch::recovered, this, &ModemSession::databaseRecovered);
    current.modemId = modemId;
    settings.id = modemId;
    current.name = settings.displayName();
    delivery.modemId = modemId;
    delivery.modemName = current.name;
    published = current;
    delivery.connected = [this] { return current.connected; };
    link.writeLog = [this](const QString& line) {
        // A listing's answer belongs to the reception that asked for it (a check that found nothing new
        // keeps it out of the window).
        if (line.startsWith(QLatin1String("Response for AT+CMGL")) && delivery.receiving())
            this->log.Write(ActivityLog::Check::Reception, line);
        else
            this->log.WriteActivityLog(line);
    };
    link.failed = [this](const LinkError& e) { modemMessage(e); };
    connect(&link, &ModemLink::unsolicited, this, &ModemSession::unsolicited);
    // Between the parts and messages of a run the radio link stays up.
    link.moreMessagesToSend = true;
    healthTimer.setInterval(HealthPollMs);
    connect(&healthTimer, &QTimer::timeout, this, &ModemSession::pollHealth);
    connect(&link, &ModemLink::portLost, this, &ModemSession::portLost);
    delivery.deliveryProgress = [this](int handled, int total, int failed, bool ended) {
        if (ended && handled > failed)
            backgroundProblemOver(); // a message went out: the modem does its work again
        Q_EMIT deliveryProgress(handled, total, failed, ended);
        if (ended && std::exchange(deliverAgain, false))
            QTimer::singleShot(0, this, &ModemSession::deliverQueued);
    };
    delivery.receptionProgress = [this](int importing, bool ended) {
        if (ended)
            this->log.Drop(ActivityLog::Check::Reception); // it found nothing new
        Q_EMIT receptionProgress(importing, ended);
    };
    delivery.messageReceived = [this](const QString& sender, const QString& text) {
        Q_EMIT messageReceived(sender, text);
    };
    delivery.inboxMessageStored = [this](const QString& number, const QString& text, const QDateTime& on, qint64 id) {
        Q_EMIT inboxMessageStored(number, text, on, id);
    };
    delivery.inboxChanged = [this] { Q_EMIT inboxChanged(); };
    delivery.outboxChanged = [this] { Q_EMIT outboxChanged(); };
    delivery.limitsAllow = [this] { deliverQueued(); };
    calls.callRecorded = [this](const QString& number) { Q_EMIT callRecorded(number); };
    delivery.databaseFailed = [this](const DbError& e) { databaseFailed(e); };
    // Written to again: a new failure is shown again.
    delivery.databaseWorked = [this] { databaseRecovered(); };
    calls.databaseFailed = [this](const DbError& e) { databaseFailed(e); };
    calls.holdWork = [this](bool held) { holdWork(held, held); };
    reconnectWatch.setInterval(ReconnectPollMs);
    connect(&reconnectWatch, &QTimer::timeout, this, &ModemSession::lookForReturningModem);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &ModemSession::retryNow);
}

ModemSession::~ModemSession()
{
    // Work given up now still reports back, while everything it reports to exists.
    current.connected = current.ready = false;
    link.cancelAll();
}

bool ModemSession::modemFree() const
{
    return current.connected && current.ready && !link.busy() && !delivery.sending() && !delivery.receiving();
}

void ModemSession::Connect()
{
    if (link.waiting(ModemLink::Work::Connect))
        return;
    connectAfresh(Attempt::User);
}

void ModemSession::ConnectQuietly()
{
    if (link.waiting(ModemLink::Work::Connect) || current.connected || !settings.enabled)
        return;
    connectAfresh(Attempt::Pool);
}

// An attempt asked for anew: the tries and problems of earlier attempts are forgotten.
void ModemSession::connectAfresh(Attempt attempt)
{
    retryTimer.stop();
    retries = 0;
    problemShown = false;
    problemsShown.clear();
    foreignModem = false;
    connectWith(attempt);
}

void ModemSession::setConfig(const ModemConfig& config)
{
    settings = config;
    current.name = config.displayName();
    nameRows();
    if (current.modemId != 1) { // the first modem's format and factor come from the settings rows as always
        current.pduMessages = config.pdu;
        setDelayFactor(config.delayFactor);
    }
    publish();
}

void ModemSession::nameRows()
{
    // The Inbox and Sent Items keep the modem as it was called then, with its SIM once known.
    const QString sim = !current.health.imsi.isEmpty() ? current.health.imsi : current.health.iccid;
    delivery.modemName = sim.isEmpty() ? current.name : QStringLiteral("%1 (SIM %2)").arg(current.name, sim);
}

void ModemSession::deliverQueued()
{
    if (!settings.sends() || !current.connected || !current.ready || delivery.paused() || delivery.held || deliveryHeld)
        return;
    // A run takes only the rows that waited when it started: rows queued meanwhile go when it ends.
    if (delivery.sending())
        deliverAgain = true;
    else
        startDelivery(true);
}

void ModemSession::tellStatus(const QString& text)
{
    current.lastError = text;
    publish();
}

void ModemSession::setConnected(bool connected)
{
    current.connected = current.ready = connected;
    publish();
}

void ModemSession::publish()
{
    if (current == published)
        return;
    published = current;
    Q_EMIT statusChanged(current);
}

void ModemSession::loadSettings(Database& source)
{
    current.pduMessages = ReadMessageFormat(source) == QLatin1String("PDU");
    setDelayFactor(ReadDelayFactor(source));
}

void ModemSession::setDelayFactor(double factor)
{
    current.delayFactor = factor;
    // Every request takes the factor the link holds when it is asked for.
    link.ModemDelayFactor = factor;
    publish();
}

void ModemSession::setPduMessages(bool pdu)
{
    current.pduMessages = pdu;
    publish();
}

void ModemSession::connectWith(Attempt attempt)
{
    if (link.waiting(ModemLink::Work::Connect))
        return;
    const bool silent = attempt != Attempt::User;
    connectBoxShown = false;
    try {
        // A row this modem did send while the database could not be told stays SENDING until that is written:
        // given back first, it would be sent again.
        if (!delivery.settleKeptOutcomes())
            throw DbError(QStringLiteral("The outcome of a message sent while the message database did not answer "
                                         "cannot be written yet."));
        LogSentAgain(log, ResetSendingStatus(db, current.modemId, state.clock->now()));
        if (current.modemId != 1) {
            connectAs(attempt);
            return;
        }
        const auto row = ReadModemSetting(db);
        if (!row && silent) {
            log.WriteActivityLog(QStringLiteral("**ERROR** The modem settings are gone: Broadtext stops trying the "
                                                "modem."));
            tellStatus({});
            return;
        }
        if (!row) {
            state.dialogs->message(QStringLiteral("Please set all the settings before connecting with modem."));
            if (openSettings)
                openSettings();
            return;
        }
        auto text = [](const QVariant& v) { return v.isNull() ? QString() : v.toString(); };
        ConnectRequest request;
        request.flowControl = Trim(text(row->FlowControl));
        request.characterSet = Trim(text(row->CharacterSet));
        request.callerId = IsTrue(row->EnabledCallerId);
        request.pduMode = ReadMessageFormat(db) == QLatin1String("PDU");
        request.statusReports = request.pduMode && ReadDeliveryReports(db);
        request.settings = Trim(text(row->BitsPerSecond) + QLatin1Char(',') + text(row->Parity) + QLatin1Char(',') +
                                text(row->DataBits) + QLatin1Char(',') + text(row->StopBits));
        request.port = row->CommPortNo.toInt();
        requestConnection(request, attempt);
    } catch (const DbError& e) {
        if (silent) { // the program's own attempt: the next one may find the database working again
            databaseFailed(e);
            problemShown = true; // the database notice says it all
            initialisationFailed(attempt, current.port);
        } else {
            state.dialogs->message(e.description());
        }
    }
}

void ModemSession::connectAs(Attempt attempt)
{
    // A further modem: its row of the modem list, read again at every attempt.
    const std::optional<ModemConfig> config = ModemsRepository(db).find(current.modemId);
    if (!config || !config->enabled) {
        log.WriteActivityLog(QStringLiteral("**ERROR** %1 is not in the modem list or is switched off: Broadtext "
                                            "does not connect it.")
                                 .arg(current.name));
        tellStatus({});
        return;
    }
    setConfig(*config);
    ConnectRequest request;
    request.flowControl = Trim(config->flowControl);
    request.characterSet = Trim(config->characterSet);
    request.callerId = config->callerId;
    request.pduMode = config->pdu;
    request.statusReports = request.pduMode && ReadDeliveryReports(db);
    request.settings = Trim(config->bitsPerSecond + QLatin1Char(',') + config->parity + QLatin1Char(',') +
                            config->dataBits + QLatin1Char(',') + config->stopBits);
    request.port = config->port;
    requestConnection(request, attempt);
}

void ModemSession::requestConnection(const ConnectRequest& request, Attempt attempt)
{
    const bool silent = attempt != Attempt::User;
    log.WriteActivityLog(QStringLiteral("Initializing the modem on COM Port: %1").arg(request.port));
    link.request<ConnectResult>(
        ModemLink::Work::Connect, [request](ModemRoutines& modem) { return modem.Connect(request); }, this,
        [this, request, silent, attempt](const ConnectResult& r) {
            current.connecting = false;
            portOpen = r.opened && !r.portClosed && r.ready && !r.aborted;
            if (portOpen && (attempt == Attempt::Retry || attempt == Attempt::Return) && !current.identity.isEmpty() &&
                r.identity != current.identity) {
                // The port's name has passed to another device: its SIM and its messages are not the
                // ones the user connected to.
                portOpen = false;
                foreignModem = true;
                closePort();
                const QString text = QStringLiteral("A different modem is now on COM Port %1 (%2, until now %3): "
                                                    "Broadtext does not use it until you connect.")
                                         .arg(request.port)
                                         .arg(r.identity, current.identity);
                log.WriteActivityLog(QStringLiteral("**ERROR** ") + text);
                state.dialogs->notice(text);
                tellStatus(QStringLiteral("A different modem is now on COM Port %1").arg(request.port));
                reconnectWatch.start();
                return;
            }
            current.port = request.port;
            setConnected(portOpen);
            if (r.openError && !silent) {
                if (r.openError.number == MSComm::InvalidPortNumber) {
                    if (state.dialogs->question(QStringLiteral("No modem found on COM Port %1\r\nDo you wish to "
                                                               "enter the correct COM port settings for the "
                                                               "attached modem?")
                                                    .arg(request.port)) &&
                        openSettings)
                        openSettings();
                } else {
                    state.dialogs->message(r.openError.description);
                }
            }
            if (portOpen) {
                current.port = request.port;
                if (current.identity != r.identity)
                    log.WriteActivityLog(
                        QStringLiteral("The modem on COM Port %1: %2.").arg(request.port).arg(r.identity));
                current.identity = r.identity;
                reconnectWatch.stop();
                retryTimer.stop();
                retries = 0;
                problemShown = false;
                tellStatus({});
                if (applyTimerPeriods)
                    applyTimerPeriods();
                removeStrandedCopies();
                announces = false;
                current.health = {};
                pollHealth();
                if (healthTimer.interval() > 0)
                    healthTimer.start();
            } else if (r.opened && !r.aborted) {
                initialisationFailed(attempt, request.port);
            } else if (attempt != Attempt::User && !r.aborted) {
                reconnectWatch.start(); // the device went away meanwhile: wait for it as after an unplug
            }
            Q_EMIT connectionChanged();
        },
        silent ? ModemLink::Origin::Program : ModemLink::Origin::User);
    current.connecting = true;
    publish();
}

void ModemSession::initialisationFailed(Attempt attempt, int port)
{
    current.port = port;
    reconnectWatch.stop();
    const int wait =
        initRetryMs.isEmpty() ? 60000 : initRetryMs.at(std::min<qsizetype>(retries, initRetryMs.size() - 1));
    ++retries;
    retryTimer.start(wait);
    const QString seconds = QString::number((wait + 999) / 1000);
    log.WriteActivityLog(
        QStringLiteral("**ERROR** The modem on COM Port %1 did not get ready: Broadtext tries again in "
                       "%2 s.")
            .arg(port)
            .arg(seconds));
    tellStatus(QStringLiteral("The modem on COM Port %1 is not ready: trying again in %2 s").arg(port).arg(seconds));
    // Shown once for a run of failures; not again when the user's own Connect already showed a box about it.
    if (problemShown || (attempt == Attempt::User && connectBoxShown)) {
        problemShown = true;
        return;
    }
    problemShown = true;
    state.dialogs->notice(QStringLiteral("The modem on COM Port %1 does not answer as it should. Broadtext tries it "
                                         "again by itself; the activity log tells how it goes.")
                              .arg(port));
}

void ModemSession::retryNow()
{
    if (current.connected || link.waiting(ModemLink::Work::Connect))
        return;
    log.WriteActivityLog(QStringLiteral("Trying the modem on COM Port %1 again.").arg(current.port));
    connectWith(Attempt::Retry);
}

void ModemSession::Disconnect()
{
    healthTimer.stop();
    reconnectWatch.stop();
    retryTimer.stop();
    retries = 0;
    foreignModem = false;
    portOpen = false;
    current.connected = current.ready = false;
    tellStatus({});
    link.cancelAll();
    closePort();
    Q_EMIT connectionChanged();
}

void ModemSession::closePort()
{
    link.request<CommandResult>(ModemLink::Work::Query,
                                [](ModemRoutines& modem) {
                                    modem.CloseComPort();
                                    return CommandResult{};
                                },
                                nullptr, {});
}

void ModemSession::portLost()
{
    if (!portOpen && !current.connected)
        return;
    log.WriteActivityLog(QStringLiteral("**ERROR** The modem on COM Port %1 (%2) stopped answering: the device was "
                                        "disconnected. The port has been closed.")
                             .arg(current.port)
                             .arg(ResolveComPort(state, current.port)));
    current.connected = current.ready = false;
    portOpen = false;
    healthTimer.stop();
    link.cancelAll();
    closePort();
    reconnectWatch.start();
    tellStatus(QStringLiteral("The modem on COM Port %1 was disconnected: waiting for it").arg(current.port));
    Q_EMIT connectionChanged();
}

void ModemSession::lookForReturningModem()
{
    if (current.connected || link.waiting(ModemLink::Work::Connect)) {
        reconnectWatch.stop();
        return;
    }
    const QString device = ResolveComPort(state, current.port);
    const bool present = !device.isEmpty() && QFileInfo::exists(device);
    if (foreignModem) {
        // Tried again only once that device has gone away and a device is back under the port's name.
        foreignModem = present;
        return;
    }
    if (!present)
        return;
    log.WriteActivityLog(
        QStringLiteral("The modem on COM Port %1 (%2) is back: connecting again.").arg(current.port).arg(device));
    connectWith(Attempt::Return);
}

// A tick while the same work runs or waits is dropped: at most one reception and one delivery are ever
// queued, and a tick that finds the modem busy with other work waits its turn in the queue.
void ModemSession::receiveTick()
{
    if (!current.connected || !current.ready || !settings.receives())
        return;
    // A modem that announces its messages starts reception itself; a run is not cut by listings.
    if (delivery.sending() && announces)
        return;
    if (!delivery.receiving())
        startReception(true);
}

void ModemSession::sendTick()
{
    if (!current.connected || !current.ready || !settings.sends())
        return;
    if (!delivery.sending() && !delivery.paused() && !delivery.held)
        startDelivery(true);
}

// A timer's check shows in the activity log window only when it finds something; the one the user asks for
// always does.
void ModemSession::startReception(bool periodic)
{
    if (periodic)
        log.Hold(ActivityLog::Check::Reception);
    log.Write(ActivityLog::Check::Reception, QStringLiteral("Checking for new SMS on SIM card."));
    delivery.ReceiveAllSIMMessages(static_cast<qint16>(ScaledDelay(current.delayFactor, 400)));
    if (!delivery.receiving())
        log.Drop(ActivityLog::Check::Reception);
}

void ModemSession::startDelivery(bool periodic)
{
    if (periodic)
        log.Hold(ActivityLog::Check::Delivery);
    log.Write(ActivityLog::Check::Delivery, QStringLiteral("Checking if there are any SMS to be sent."));
    delivery.SendAllOutboxSMS();
    log.Drop(ActivityLog::Check::Delivery); // nothing to send (a run shows its check itself)
}

bool ModemSession::ReceiveNow()
{
    if (!current.connected || !current.ready || delivery.receiving() || !settings.receives())
        return false;
    startReception(false);
    return true;
}

bool ModemSession::SendNow()
{
    if (!current.connected || !current.ready || delivery.sending() || delivery.held || !settings.sends())
        return false;
    delivery.endPause(); // asked for by hand: try now
    startDelivery(false);
    return true;
}

void ModemSession::setDeliveryPaused(bool paused)
{
    if (delivery.held == paused)
        return;
    delivery.held = paused;
    log.WriteActivityLog(paused ? QStringLiteral("Delivery paused by the user.")
                                : QStringLiteral("Delivery resumed by the user."));
    Q_EMIT deliveryPausedChanged(paused);
    // What waited while paused goes now rather than at the next tick of the timer.
    if (!paused && current.connected && current.ready && !delivery.sending() && !delivery.paused())
        startDelivery(false);
}

int ModemSession::RetryFailed(const QList<qint64>& ids)
{
    try {
        const int n = RetryFailedOutboxRows(db, ids);
        Q_EMIT outboxChanged();
        return n;
    } catch (const DbError& e) {
        state.dialogs->message(e.description());
        return -1;
    }
}

void ModemSession::useDatabaseWatch(DatabaseWatch& shared)
{
    disconnect(watch, nullptr, this, nullptr);
    watch = &shared;
    connect(watch, &DatabaseWatch::recovered, this, &ModemSession::databaseRecovered);
}

void ModemSession::databaseFailed(const DbError& e)
{
    watch->failed(e);
    if (watch->troubled())
        tellStatus(DatabaseBusyLine);
}

// Written to again, or the watch found the database answering: the status line forgets the failure.
void ModemSession::databaseRecovered()
{
    if (watch->troubled()) {
        watch->worked(); // says recovered() back when it is over
        return;
    }
    if (current.lastError == DatabaseBusyLine)
        tellStatus({});
}

void ModemSession::modemMessage(const LinkError& error)
{
    const QString text = LinkFailureText(error);
    const bool connecting = link.running(ModemLink::Work::Connect);
    if (link.servingUser()) {
        // The user's own action is waiting for this answer.
        connectBoxShown = connectBoxShown || connecting;
        state.dialogs->message(text);
        return;
    }
    if (connecting) {
        // A connection attempt the program started by itself tells the log only; what went wrong reaches
        // the user once, as a notice, when it keeps failing.
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + text);
        return;
    }
    // Found by the timers' work or the call watch: nobody asked, so nothing waits for an answer.
    backgroundProblem(text);
}

void ModemSession::backgroundProblem(const QString& text)
{
    log.WriteActivityLog(QStringLiteral("**ERROR** ") + text);
    tellStatus(text);
    if (problemsShown.contains(text))
        return;
    problemsShown.insert(text);
    state.dialogs->notice(text);
}

void ModemSession::backgroundProblemOver()
{
    if (problemsShown.contains(current.lastError))
        tellStatus({});
    problemsShown.clear();
}

void ModemSession::removeStrandedCopies()
{
    struct Copy {
        qint64 id;
        int index;
        QString number;
    };
    QList<Copy> copies;
    try {
        Query q(db, QStringLiteral("SELECT Outbox_Id, SimIndex, RecipientMobileNo FROM Message_OutBox WHERE "
                                   "SimIndex IS NOT NULL"));
        while (q.next())
            copies.append({q.value(0).toLongLong(), q.value(1).toInt(), CleanRecipientNumber(q.value(2).toString())});
    } catch (const DbError& e) {
        databaseFailed(e);
        return;
    }
    if (copies.isEmpty())
        return;
    link.request<CommandResult>(
        ModemLink::Work::Deletion,
        [copies](ModemRoutines& modem) {
            // Only a stored message at the recorded index, to the row's recipient, is this program's copy;
            // anything else there is left alone.
            CommandResult result;
            std::vector<SIMMessage> stored;
            for (const char* status : {"STO UNSENT", "STO SENT"}) {
                const ListResult l =
                    modem.ListSIMMessages(QString::fromLatin1(status), ScaledDelay(modem.ModemDelayFactor, 200));
                if (!l.listed)
                    return result;
                stored.insert(stored.end(), l.records.begin(), l.records.end());
            }
            for (const Copy& c : copies)
                for (const SIMMessage& m : stored)
                    if (Trim(m.Index).toInt() == c.index && CleanRecipientNumber(m.Number) == c.number)
                        modem.DeleteSIMMessage(c.index);
            result.ok = true;
            return result;
        },
        this,
        [this, copies](const CommandResult& r) {
            if (!r.ok)
                return;
            try {
                for (const Copy& c : copies)
                    db.execute(QStringLiteral("UPDATE Message_OutBox SET SimIndex = NULL WHERE Outbox_Id = ?"), {c.id});
                databaseRecovered();
            } catch (const DbError& e) {
                databaseFailed(e);
                return;
            }
            log.WriteActivityLog(QStringLiteral("Copies of %1 messages that a stop had left on the SIM card were "
                                                "looked for and removed.")
                                     .arg(copies.size()));
        });
}

void ModemSession::watchTick()
{
    // The call watch asks only when the modem has nothing else to do, so at any delay factor it never
    // holds up reception or delivery; a reception or delivery in progress keeps its timer running.
    if (!current.connected || !current.ready)
        return;
    if (!link.busy() && !delivery.sending() && !delivery.receiving()) {
        watchNow();
    } else if (delivery.sending()) {
        holdWork(receptionHeld, false);
    } else if (delivery.receiving()) {
        holdWork(false, deliveryHeld);
    }
}

void ModemSession::watchNow()
{
    if (link.waiting(ModemLink::Work::CallWatch))
        return;
    {
        calls.watchStarted();
        link.request<CallStatusResult>(
            ModemLink::Work::CallWatch, [](ModemRoutines& modem) { return modem.GetCallStatus(); }, this,
            [this](const CallStatusResult& r) {
                try {
                    calls.CallWatched(r);
                } catch (const DbError& e) {
                    // Asked every second: a lost server is one outage, not a line a second.
                    if (db.isServer() && (watch->linkLost() || !db.linkUp()))
                        databaseFailed(e);
                    else
                        log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
                }
            });
    }
}

void ModemSession::unsolicited(const Unsolicited& u)
{
    switch (u.kind) {
    case Unsolicited::StatusReport:
        if (!u.body.isEmpty())
            delivery.StatusReportArrived(QString::fromLatin1(u.body.trimmed()));
        return;
    case Unsolicited::StatusReportStored:
        QTimer::singleShot(0, this, [this] { ReceiveNow(); }); // the report waits on the SIM
        return;
    case Unsolicited::NewMessage:
        // The modem tells when a message comes: the timer's listings are no longer needed during a run.
        announces = true;
        if (current.connected && current.ready && settings.receives() && !receptionHeld && !delivery.receiving())
            QTimer::singleShot(0, this, [this] {
                if (current.connected && current.ready && !delivery.receiving())
                    startReception(true);
            });
        return;
    case Unsolicited::Registration:
        current.health.registration = u.registration;
        publish();
        return;
    case Unsolicited::Ring:
    case Unsolicited::CallerId:
        calls.OnComm(u);
        // The call watch waits for a free modem; during a run a ring has it asked between two messages.
        if (delivery.sending())
            watchNow();
        return;
    default:
        calls.OnComm(u);
    }
}

void ModemSession::setHealthPollMs(int ms)
{
    healthTimer.setInterval(std::max(ms, 0));
    if (ms <= 0)
        healthTimer.stop();
    else if (current.connected && current.ready && !healthTimer.isActive())
        healthTimer.start();
}

void ModemSession::pollHealth()
{
    if (healthTimer.interval() <= 0 || !current.connected || !current.ready || link.waiting(ModemLink::Work::Health))
        return;
    if (delivery.sending() && current.health.checked.isValid() &&
        current.health.checked.secsTo(state.clock->now()) < HealthStaleDuringRunSecs)
        return;
    link.requestHealth(this, [this](const HealthResult& r) {
        if (r.aborted || r.portClosed || !current.connected)
            return;
        current.health = r.health;
        nameRows();
        publish();
    });
}

void ModemSession::holdWork(bool receive, bool send)
{
    if (receive == receptionHeld && send == deliveryHeld)
        return;
    receptionHeld = receive;
    deliveryHeld = send;
    Q_EMIT workHeldChanged();
}

void ModemSession::ListSIMMessages(const QString& status, int pollDelayMs, QObject* context,
                                   std::function<void(const ListResult&)> done)
{
    link.request<ListResult>(
        ModemLink::Work::Listing,
        [status, pollDelayMs](ModemRoutines& modem) { return modem.ListSIMMessages(status, pollDelayMs); }, context,
        std::move(done), ModemLink::Origin::User);
}

void ModemSession::DeleteSIMMessage(int index, QObject* context, std::function<void()> done)
{
    link.request<CommandResult>(
        ModemLink::Work::Deletion, [index](ModemRoutines& modem) { return modem.DeleteSIMMessage(index); }, context,
        [done](const CommandResult&) {
            if (done)
                done();
        },
        ModemLink::Origin::User);
}

void ModemSession::DeleteSIMMessagesByStatus(const QString& status, QObject* context, std::function<void()> done)
{
    link.request<CommandResult>(
        ModemLink::Work::Deletion,
        [status](ModemRoutines& modem) {
            modem.DeleteSIMMessagesByStatus(status);
            return CommandResult{};
        },
        context,
        [done](const CommandResult&) {
            if (done)
                done();
        },
        ModemLink::Origin::User);
}

void ModemSession::ProbeComPorts(int first, int last, const QString& settings, QObject* context,
                                 std::function<void(int)> progress, std::function<void(const ProbeResult&)> done)
{
    auto connection = std::make_shared<QMetaObject::Connection>();
    if (progress)
        *connection = connect(&link, &ModemLink::probeProgress, context ? context : this, progress);
    link.request<ProbeResult>(
        ModemLink::Work::Probe,
        [first, last, settings](ModemRoutines& modem) { return modem.ProbeComPorts(first, last, settings); }, context,
        [connection, done](const ProbeResult& r) {
            QObject::disconnect(*connection);
            if (done)
                done(r);
        },
        ModemLink::Origin::User);
}

void ModemSession::cancelProbe()
{
    if (link.waiting(ModemLink::Work::Probe))
        link.cancelAll();
}
