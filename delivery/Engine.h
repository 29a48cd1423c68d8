// The program's background machinery, without any window: the serial port MSComm1, the modem routines,
// the delivery run and reception, call handling, and the three timers of the main window (Timer1
// reception, Timer2 delivery, timerRefreshHomePage call watch and counters). Connect and Disconnect live
// here; the main window wires its menus and the home page to it.
#pragma once

#include "common/PeriodicTimer.h"
#include "delivery/CallHandling.h"
#include "delivery/Delivery.h"
#include "modem/MSComm.h"
#include "modem/Modem.h"
#include "store/SettingsRows.h"

#include <QObject>
#include <functional>

struct AppState;
class ActivityLog;
class Database;

class Engine : public QObject {
    Q_OBJECT
public:
    Engine(AppState& state, Database& db, ActivityLog& log, QObject* parent = nullptr);

    AppState& state;
    Database& db;
    ActivityLog& log;
    MSComm MSComm1;
    Modem modem;
    PeriodicTimer Timer1;
    PeriodicTimer Timer2;
    PeriodicTimer timerRefreshHomePage;
    Delivery delivery;
    CallHandling calls;

    void Connect();    // start_Click's work
    void Disconnect(); // mnustop_Click's work
    void Timer1_Timer();
    void Timer2_Timer();
    void timerRefreshHomePage_Timer();

    // Timer1 and Timer2 periods from the running intervals.
    void applyTimerPeriods();
    // Whether a manual or periodic modem job may start now (connected, ready, no exchange running).
    bool modemFree() const;

    // Opens the settings window (Connect without settings; the "No modem found" question).
    std::function<void()> openSettings;
    // Shows the home page counters.
    std::function<void(const HomeCounters&)> showCounters;

Q_SIGNALS:
    // Connected or disconnected (Connect, Disconnect, or the device went away): menus follow.
    void connectionChanged();

private:
    void runReception();
    void runDelivery();
    // A tick that finds the modem busy is run once the modem is free (at most one run waits per timer).
    void defer(bool& pending);
    void runPending();

    QString lastTickError;
    bool receptionPending = false;
    bool deliveryPending = false;
    bool retryArmed = false;
};
