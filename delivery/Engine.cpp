#include "delivery/Engine.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "store/ActivityLog.h"
#include "store/Connection.h"
#include "store/Database.h"

#include <QTimer>

Engine::Engine(AppState& state, Database& db, ActivityLog& log, QObject* parent)
    : QObject(parent), state(state), db(db), log(log), MSComm1(state, this), modem(state, log, MSComm1, this),
      Timer1(QStringLiteral("Timer1"), this), Timer2(QStringLiteral("Timer2"), this),
      timerRefreshHomePage(QStringLiteral("timerRefreshHomePage"), this), delivery(state, db, log, modem),
      calls(state, db, log, modem, delivery, Timer1, Timer2)
{
    modem.openSettings = [this] {
        if (openSettings)
            openSettings();
    };
    connect(&MSComm1, &MSComm::OnComm, this, [this] { calls.OnComm(); });
    connect(&modem, &Modem::connectionLost, this, &Engine::connectionChanged);
    connect(&Timer1, &PeriodicTimer::Timer, this, &Engine::Timer1_Timer);
    connect(&Timer2, &PeriodicTimer::Timer, this, &Engine::Timer2_Timer);
    connect(&timerRefreshHomePage, &PeriodicTimer::Timer, this, &Engine::timerRefreshHomePage_Timer);
    timerRefreshHomePage.setInterval(1000);
}

bool Engine::modemFree() const
{
    return state.IsConnected && state.ModemReady && !state.CommandBusy && !modem.exchangeInProgress();
}

void Engine::applyTimerPeriods()
{
    Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    Timer2.setInterval(state.SendIntervalSeconds * 1000);
}

void Engine::Connect()
{
    try {
        ResetSendingStatus(db);
        const auto row = ReadModemSetting(db);
        if (!row) {
            state.dialogs->message(QStringLiteral("Please set all the settings before connecting with modem."));
            if (openSettings)
                openSettings();
            return;
        }
        auto text = [](const QVariant& v) { return v.isNull() ? QString() : v.toString(); };
        const QString flowControl = text(row->FlowControl);
        const QString characterSet = text(row->CharacterSet);
        const bool callerId = IsTrue(row->EnabledCallerId);
        const QString settings = Trim(text(row->BitsPerSecond) + QLatin1Char(',') + text(row->Parity) +
                                      QLatin1Char(',') + text(row->DataBits) + QLatin1Char(',') + text(row->StopBits));
        const int port = row->CommPortNo.toInt();

        log.WriteActivityLog(QStringLiteral("Initializing the modem on COM Port: %1").arg(text(row->CommPortNo)));
        modem.ConfigureComPort(port, settings);
        modem.OpenComPort();
        if (state.IsConnected) {
            log.WriteActivityLog(QStringLiteral("Setting the communication parameters for the modem."));
            modem.InitializeModem(Trim(flowControl), Trim(characterSet), callerId);
        }
        if (state.IsConnected)
            applyTimerPeriods();
    } catch (const DbError& e) {
        state.dialogs->message(e.description());
    }
    Q_EMIT connectionChanged();
}

void Engine::Disconnect()
{
    modem.CloseComPort();
    Q_EMIT connectionChanged();
}

// Both timers start together at connect and, with equal periods, keep ticking together: the second tick
// always arrives while the first one's exchange waits for its answer. Skipping it would starve that work
// for good (the Outbox would never be delivered), so a busy tick is run once the modem is free instead.
void Engine::Timer1_Timer()
{
    if (!state.IsConnected || !state.ModemReady)
        return;
    Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    if (modemFree() && !state.ReceivingBusy)
        runReception();
    else
        defer(receptionPending);
}

void Engine::Timer2_Timer()
{
    if (!state.IsConnected || !state.ModemReady)
        return;
    Timer2.setInterval(state.SendIntervalSeconds * 1000);
    if (modemFree())
        runDelivery();
    else
        defer(deliveryPending);
}

void Engine::runReception()
{
    receptionPending = false;
    log.WriteActivityLog(QStringLiteral("Checking for new SMS on SIM card."));
    delivery.ReceiveAllSIMMessages(static_cast<qint16>(ScaledDelay(state.ModemDelayFactor, 400)));
}

void Engine::runDelivery()
{
    deliveryPending = false;
    log.WriteActivityLog(QStringLiteral("Checking if there are any SMS to be sent."));
    delivery.SendAllOutboxSMS();
}

void Engine::defer(bool& pending)
{
    pending = true;
    if (!retryArmed) {
        retryArmed = true;
        QTimer::singleShot(250, this, &Engine::runPending);
    }
}

void Engine::runPending()
{
    retryArmed = false;
    if (!state.IsConnected || !state.ModemReady) {
        receptionPending = deliveryPending = false;
        return;
    }
    if (receptionPending && modemFree() && !state.ReceivingBusy)
        runReception();
    if (deliveryPending && modemFree())
        runDelivery();
    if (receptionPending)
        defer(receptionPending);
    if (deliveryPending)
        defer(deliveryPending);
}

void Engine::timerRefreshHomePage_Timer()
{
    try {
        const bool modemWork = !modem.exchangeInProgress();
        if (modemWork)
            calls.CallWatch();
        if (state.DatabaseConnected && showCounters)
            showCounters(CountHomePage(db, state.clock->now().date()));
        if (modemWork)
            calls.AutoReplyToMissedCall();
        lastTickError.clear();
    } catch (const DbError& e) {
        // This runs every second: say it once in the log, not in a box every second.
        if (e.description() != lastTickError)
            log.WriteActivityLog(QStringLiteral("**ERROR** ") + e.description());
        lastTickError = e.description();
    }
}
