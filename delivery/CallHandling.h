// Incoming voice calls: ring and caller-id lines from the modem play the ring sound, record the call and
// classify the caller's number; the once-a-second call watch (AT+CLCC) pauses delivery and reception
// during a call, and queues the auto-reply SMS once a call from a mobile number has stopped ringing
// unanswered.
#pragma once

#include <QString>
#include <functional>

struct AppState;
struct CallStatusResult;
struct Unsolicited;
class ActivityLog;
class Database;
class Delivery;
class ModemLink;

class CallHandling {
public:
    CallHandling(AppState& state, Database& db, ActivityLog& log, ModemLink& link, Delivery& delivery);

    // An unsolicited line from the modem (the serial receive event of old).
    void OnComm(const Unsolicited& u);
    void IdentifyCallerNumber(const QString& number);
    // The call watch's answer: timers paused during a call, resumed after; then the reply to a missed call.
    void CallWatched(const CallStatusResult& r);
    // Called when the call watch is asked for: rings heard from now on mean the call still rings.
    void watchStarted() { ringSinceWatch = false; }

    bool callInProgress() const { return inCall; }

    // A call holds this modem's reception and delivery (true) or lets them go on (false).
    std::function<void(bool held)> holdWork;
    // A call was recorded (its first caller number was seen).
    std::function<void(const QString& number)> callRecorded;
    // A database failure: reported by the engine once.
    std::function<void(const class DbError& error)> databaseFailed;

    // What the last ring and caller identification found.
    bool ringDetected() const { return RingDetected; }
    bool isLastCallerNumberMobile() const { return IsLastCallerNumberMobile; }
    const QString& mobileNumber() const { return MobileNumber; }
    const QString& countryCode() const { return CountryCode; }
    const QString& userId() const { return UserId; }
    int identifications() const { return identified; } // how often IdentifyCallerNumber ran

private:
    void AutoReplyToMissedCall(const CallStatusResult& r);

    int RingCounter = 1;         // rings of the current sequence plus 1; 1 when idle
    qint16 CLIPFoundCounter = 0; // caller numbers seen in the current sequence
    bool RingDetected = false;
    QString LastCallStatus; // "RINGING" after the first caller number of a call
    QString LastCallerNumber;
    bool IsLastCallerNumberMobile = false;
    QString MobileNumber;
    QString CountryCode = QStringLiteral("0");
    QString CountryID = QStringLiteral("0");
    QString UserId = QStringLiteral("0");
    int identified = 0;
    bool displayDeferred = false; // this call was shown as a notice because a window was open

    AppState& state;
    Database& db;
    ActivityLog& log;
    ModemLink& link;
    Delivery& delivery;
    bool inCall = false;
    bool ringSinceWatch = false;
};
