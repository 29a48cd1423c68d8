// The AT command routines: the command exchange with its polling rules, port opening and closing, modem
// initialisation, identity and call-state queries, SIM listing and deletion, and SMS submission.
//
// Everything runs on the user-interface thread. A wait is a plain sleep of a per-command delay times
// ModemDelayFactor; the response wait lets queued events run, so timer ticks, the receive event and clicks
// can run in the middle of an exchange. The plain flags of AppState (CommandBusy, SendingBusy,
// ReceivingBusy) are the only guards.
#pragma once

#include "modem/AtParse.h"

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

struct AppState;
class ActivityLog;
class MSComm;

class Modem : public QObject {
    Q_OBJECT
public:
    Modem(AppState& state, ActivityLog& log, MSComm& port, QObject* parent = nullptr);

    MSComm& port() { return comm; }

    // The exchange.
    QString ExecuteATCommand(const QString& command, int pollDelayMs, const QString& expected, bool binaryInput,
                             bool convertToText, int maxEmptyPolls, const QString& errorText);
    QString WaitForResponse(const QString& expected, bool convert);
    void ConfigureComPort(int portNumber, const QString& settings);
    void OpenComPort();
    void CloseComPort();
    void ClearReceiveBuffer();

    void InitializeModem(const QString& flowControl, const QString& characterSet, bool enabledCallerId);

    QString GetManufacturerId();
    QString GetModelId();
    QString GetCallStatus();

    void ListSIMMessages(QString status, int pollDelayMs);
    QString DeleteSIMMessage(int index);
    void DeleteSIMMessagesByStatus(QString status);

    // Results: the modem's answer on success; a text containing "ERROR" on failure.
    QString SendSMSDirect(const QString& number, const QString& text);
    QString WriteSMSToSIM(const QString& number, const QString& part);
    QString SendStoredSMS(int index);
    QString StoreAndSendSMS(const QString& number, const QString& text);

    // The last SIM listing; only the first SIMMessageCount records count.
    std::vector<SIMMessage> SIMMessageList;
    qint16 SIMMessageCount = 0;

    // Opens the settings window (the "No modem found" question's Yes). Set by the main window.
    std::function<void()> openSettings;

    // How long a submission waits for the network's final answer after the message body (the GSM
    // network's own limit for a submission is about a minute).
    int finalAnswerTimeoutMs = 60000;

    // Milliseconds spent in the prescribed sleeps since start (benchmarks subtract it).
    qint64 sleptMs = 0;

    // Whether the last initialisation asked the modem for caller identification.
    bool callerIdRequested() const { return callerId; }

    // True while an exchange or response wait runs further up the stack. The periodic work does not start
    // a second exchange inside one (its answers would be taken by the wrong reader).
    bool exchangeInProgress() const { return depth > 0; }

Q_SIGNALS:
    // The device vanished while open; the port is closed and the flags cleared.
    void connectionLost();

private:
    void sleep(int ms);
    void portHungUp();
    // Waits until the collected answer holds "OK" or "ERROR", the port closes, or the time runs out.
    QString waitForFinalAnswer(QString response);
    int delay(double ms) const;

    AppState& state;
    ActivityLog& log;
    MSComm& comm;
    bool callerId = false;
    int depth = 0;
    struct Depth {
        int& d;
        explicit Depth(int& d) : d(d) { ++d; }
        ~Depth() { --d; }
    };
};
