#include "delivery/Engine.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"

#include <QSet>
#include <algorithm>

Engine::Engine(AppState& state, Database& db, ActivityLog& log, QObject* parent, const ModemPlumbing& plumbing)
    : QObject(parent), state(state), db(db), log(log), databaseWatch(state, db, log),
      Timer1(QStringLiteral("Timer1"), this), Timer2(QStringLiteral("Timer2"), this),
      timerRefreshHomePage(QStringLiteral("timerRefreshHomePage"), this),
      initRetryMs(sessions.emplace(FirstModem, std::make_unique<ModemSession>(FirstModem, state, db, log, plumbing))
                      .first->second->initRetryMs)
{
    attach(&session());
    connect(&Timer1, &PeriodicTimer::Timer, this, &Engine::Timer1_Timer);
    connect(&Timer2, &PeriodicTimer::Timer, this, &Engine::Timer2_Timer);
    connect(&timerRefreshHomePage, &PeriodicTimer::Timer, this, &Engine::timerRefreshHomePage_Timer);
    timerRefreshHomePage.setInterval(1000);
}

Dialogs& Engine::dialogs() const
{
    return *state.dialogs;
}

Clock& Engine::clock() const
{
    return *state.clock;
}

Engine::~Engine()
{
    // Work given up now still reports back, while everything it reports to exists.
    sessions.clear();
}

// A call holds the work of the modem it rings on; a timer stops only when it has no modem left to serve.
void Engine::followHeldWork()
{
    bool receive = false, send = false;
    for (const auto& [id, session] : sessions) {
        receive = receive || !session->receiveHeld();
        send = send || !session->sendHeld();
    }
    Timer1.setEnabled(receive);
    Timer2.setEnabled(send);
}

void Engine::attach(ModemSession* session)
{
    session->useDatabaseWatch(databaseWatch);
    session->openSettings = [this] {
        if (openSettings)
            openSettings();
    };
    session->applyTimerPeriods = [this] { applyTimerPeriods(); };
    connect(session, &ModemSession::statusChanged, this, [this](const ModemStatus& status) {
        if (status.lastError != statusLine) {
            statusLine = status.lastError;
            Q_EMIT statusChanged(statusLine);
        }
        Q_EMIT modemStatusChanged(status);
    });
    connect(session, &ModemSession::connectionChanged, this, &Engine::connectionChanged);
    // A modem that went away gave its rows back: the others take them now.
    connect(session, &ModemSession::connectionChanged, this, [this] {
        if (sessions.size() > 1)
            deliverNow();
    });
    connect(session, &ModemSession::workHeldChanged, this, &Engine::followHeldWork);
    connect(session, &ModemSession::deliveryProgress, this,
            [this, id = session->id()](int handled, int total, int failed, bool ended) {
                sumRuns(id, {handled, total, failed, !ended});
            });
    connect(session, &ModemSession::deliveryPausedChanged, this, &Engine::deliveryPausedChanged);
    connect(session, &ModemSession::receptionProgress, this, &Engine::receptionProgress);
    connect(session, &ModemSession::messageReceived, this, &Engine::messageReceived);
    connect(session, &ModemSession::callRecorded, this, &Engine::callRecorded);
    connect(session, &ModemSession::inboxMessageStored, this, &Engine::inboxMessageStored);
    connect(session, &ModemSession::inboxChanged, this, &Engine::inboxChanged);
    connect(session, &ModemSession::outboxChanged, this, &Engine::outboxChanged);
}

// The runs of several modems are one run for the user: what they handled together, of the most any of them
// found waiting (they take from the same rows), until the last of them ends.
void Engine::sumRuns(int modemId, const RunCount& count)
{
    runs[modemId] = count;
    RunCount sum;
    for (const RunCount& r : std::as_const(runs)) {
        sum.handled += r.handled;
        sum.failed += r.failed;
        sum.total = std::max(sum.total, r.total);
        sum.running = sum.running || r.running;
    }
    sum.total = std::max(sum.total, sum.handled);
    if (!sum.running)
        runs.clear();
    Q_EMIT deliveryProgress(sum.handled, sum.total, sum.failed, !sum.running);
}

ModemSession* Engine::find(int modemId) const
{
    const auto it = sessions.find(modemId);
    return it == sessions.end() ? nullptr : it->second.get();
}

void Engine::loadModemSettings()
{
    session().loadSettings(db);
    QList<ModemConfig> modems;
    try {
        modems = ModemsRepository(db).all();
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        return;
    }
    QSet<int> listed{FirstModem};
    for (const ModemConfig& config : modems) {
        listed.insert(config.id);
        ModemSession* s = find(config.id);
        if (!s) {
            const ModemPlumbing plumbing = plumbingFor ? plumbingFor(config.id) : ModemPlumbing{};
            auto made = std::make_unique<ModemSession>(config.id, state, db, log, plumbing);
            s = made.get();
            sessions.emplace(config.id, std::move(made));
            s->setHealthPollMs(healthPollMs);
            attach(s);
        }
        s->setConfig(config);
        if (!config.enabled && s->status().connected)
            s->Disconnect();
    }
    // A modem taken out of the list: disconnected, and its rows go back to the others.
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (listed.contains(it->first)) {
            ++it;
            continue;
        }
        it->second->Disconnect();
        it = sessions.erase(it);
    }
    for (auto& [id, s] : sessions)
        s->setPooled(sessions.size() > 1);
    Q_EMIT modemsChanged();
}

void Engine::Connect()
{
    if (!runElsewhere.isEmpty()) {
        log.WriteActivityLog(runElsewhere);
        return;
    }
    // The first modem answers the user as it always has; the others connect quietly and tell the modem
    // panel, the status bar and the log how it goes.
    if (session().config().enabled)
        session().Connect();
    for (auto& [id, s] : sessions)
        if (id != FirstModem)
            s->ConnectQuietly();
}

void Engine::Disconnect()
{
    for (auto& [id, s] : sessions)
        s->Disconnect();
}

bool Engine::ReceiveNow()
{
    bool started = false;
    for (auto& [id, s] : sessions)
        started = s->ReceiveNow() || started;
    return started;
}

bool Engine::SendNow()
{
    bool started = false;
    for (auto& [id, s] : sessions)
        started = s->SendNow() || started;
    return started;
}

void Engine::deliverNow()
{
    for (auto& [id, s] : sessions)
        if (!s->sendHeld())
            s->deliverQueued();
}

bool Engine::connected() const
{
    return std::any_of(sessions.begin(), sessions.end(), [](const auto& s) { return s.second->status().connected; });
}

void Engine::setHealthPollMs(int ms)
{
    healthPollMs = ms;
    for (auto& [id, s] : sessions)
        s->setHealthPollMs(ms);
}

void Engine::applyTimerPeriods()
{
    Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    Timer2.setInterval(state.SendIntervalSeconds * 1000);
}

// A tick while the same work runs or waits is dropped: at most one reception and one delivery are ever
// queued, and a tick that finds the modem busy with other work waits its turn in the queue.
void Engine::Timer1_Timer()
{
    Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    for (auto& [id, session] : sessions)
        if (!session->receiveHeld())
            session->receiveTick();
}

void Engine::Timer2_Timer()
{
    Timer2.setInterval(state.SendIntervalSeconds * 1000);
    for (auto& [id, session] : sessions)
        if (!session->sendHeld())
            session->sendTick();
}

void Engine::timerRefreshHomePage_Timer()
{
    for (auto& [id, session] : sessions)
        session->watchTick();
    try {
        if (state.DatabaseConnected && showCounters)
            showCounters(CountHomePage(db, state.clock->now().date()));
        lastTickError.clear();
    } catch (const DbError& e) {
        // This runs every second: say it once in the log, not in a box every second.
        if (e.description() != lastTickError)
            log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        lastTickError = e.description();
    }
}
