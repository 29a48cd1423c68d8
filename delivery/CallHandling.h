// Incoming voice calls: the serial receive event spots RING and caller-id lines, plays the ring sound,
// records the call and classifies the caller's number; the once-a-second call watch polls AT+CLCC, pauses
// delivery and reception during a call, and queues the auto-reply SMS once a call from a mobile number
// has stopped ringing unanswered.
#pragma once

#include <QString>

struct AppState;
class ActivityLog;
class Database;
class Delivery;
class Modem;
class PeriodicTimer;

class CallHandling {
public:
    CallHandling(AppState& state, Database& db, ActivityLog& log, Modem& modem, Delivery& delivery,
                 PeriodicTimer& receiveTimer, PeriodicTimer& sendTimer);

    // The serial receive event (characters arrived).
    void OnComm();
    void IdentifyCallerNumber(const QString& number);
    // Step 1 and 2 of the refresh tick: call state, timers paused during a call.
    void CallWatch();
    // Step 4 of the refresh tick: queue the reply to a missed call.
    void AutoReplyToMissedCall();

    int RingCounter = 1;         // rings of the current sequence plus 1; 1 when idle
    qint16 CLIPFoundCounter = 0; // caller numbers seen in the current sequence
    bool RingDetected = false;
    QString LastCallStatus; // "RINGING" after the first caller number of a call
    QString LastCallerNumber;
    bool IsLastCallerNumberMobile = false;
    QString MobileNumber;
    QString CountryCode = QStringLiteral("0");
    QString CountryID = QStringLiteral("0");
    QString userId = QStringLiteral("0");

    int identifications = 0; // how often IdentifyCallerNumber ran (shown in tests and the log)

private:
    AppState& state;
    Database& db;
    ActivityLog& log;
    Modem& modem;
    Delivery& delivery;
    PeriodicTimer& Timer1;
    PeriodicTimer& Timer2;
};
