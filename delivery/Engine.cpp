#include "delivery/Engine.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

Engine::Engine(AppState& state, Database& db, ActivityLog& log, QObject* parent, const ModemPlumbing& plumbing)
    : QObject(parent), state(state), db(db), log(log), Timer1(QStringLiteral("Timer1"), this),
      Timer2(QStringLiteral("Timer2"), this), timerRefreshHomePage(QStringLiteral("timerRefreshHomePage"), this),
      initRetryMs(sessions.emplace(FirstModem, std::make_unique<ModemSession>(FirstModem, state, db, log, plumbing))
                      .first->second->initRetryMs)
{
    for (auto& [id, s] : sessions) {
        ModemSession* session = s.get();
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
        connect(session, &ModemSession::workHeldChanged, this, &Engine::followHeldWork);
        connect(session, &ModemSession::deliveryProgress, this, &Engine::deliveryProgress);
        connect(session, &ModemSession::deliveryPausedChanged, this, &Engine::deliveryPausedChanged);
        connect(session, &ModemSession::receptionProgress, this, &Engine::receptionProgress);
        connect(session, &ModemSession::messageReceived, this, &Engine::messageReceived);
        connect(session, &ModemSession::callRecorded, this, &Engine::callRecorded);
        connect(session, &ModemSession::inboxMessageStored, this, &Engine::inboxMessageStored);
        connect(session, &ModemSession::inboxChanged, this, &Engine::inboxChanged);
        connect(session, &ModemSession::outboxChanged, this, &Engine::outboxChanged);
    }
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

void Engine::applyTimerPeriods()
{
    Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    Timer2.setInterval(state.SendIntervalSeconds * 1000);
}

// A tick while the same work runs or waits is dropped: at most one reception and one delivery are ever
// queued, and a tick that finds the modem busy with other work waits its turn in the queue.
void Engine::Timer1_Timer()
{
    if (!status().ready)
        return;
    Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    for (auto& [id, session] : sessions)
        if (!session->receiveHeld())
            session->receiveTick();
}

void Engine::Timer2_Timer()
{
    if (!status().ready)
        return;
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
