// The AT command routines, run one at a time on the modem thread: port opening and closing, modem
// initialisation, identity and call-state queries, SIM listing and deletion, SMS submission, and the probe
// of COM ports for auto-detection.
//
// Each routine returns a typed result carrying a LinkError when it failed. A failure the user is to hear of
// goes out through the failed callback as a LinkError (which command, what reason): the words are chosen
// above the link. Activity-log lines go out through the log callback; the link delivers both on the
// user-interface thread in the order they were made. Each command's pacing (ModemCommands.h, times the delay
// factor) is the least time its exchange takes; answers themselves are recognised by whole lines.
#pragma once

#include "common/Charset.h"
#include "modem/AtChannel.h"
#include "modem/ComPorts.h"
#include "modem/MSComm.h"
#include "modem/ModemCommands.h"
#include "modem/ModemHealth.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// What every result carries: whether the link had to give the work up.
struct LinkOutcome {
    bool aborted = false;    // Disconnect, or the link was shut down
    bool portClosed = false; // the port was not open or the device went away
    LinkError error;         // why the work failed (reason None when it did not)
};

struct ConnectRequest {
    int port = 0;
    QString settings; // "115200,N,8,1"
    QString flowControl;
    QString characterSet;
    bool callerId = false;
    bool pduMode = false;       // messages as PDUs (AT+CMGF=0) rather than text
    bool statusReports = false; // PDU mode: sends ask for delivery reports
};
struct ConnectResult : LinkOutcome {
    MSComm::Error openError; // number 0 when the port opened
    bool opened = false;
    bool ready = false; // initialisation succeeded
    QString device;
    QString identity; // which modem and SIM answered (see ModemIdentity); empty when not ready
};

struct CommandResult : LinkOutcome {
    AtResult at;
    bool ok = false;
};

struct CallStatusResult : LinkOutcome {
    QString status;              // as GetCallStatus gives it: "Incoming", ..., the answer text, "ERROR"
    bool callInProgress = false; // a voice call is active, incoming, dialing or alerting
    bool noCall = false;         // the modem answered OK and listed no voice call
    bool voiceCall = false;      // a voice call is listed, in whatever state
};

struct ListResult : LinkOutcome {
    bool callInProgress = false; // a call rang: nothing was listed
    bool listed = false;         // the listing was read to its end
    std::vector<SIMMessage> records;
};

struct SubmitResult : LinkOutcome {
    bool sent = false; // the network took every part
    QString response;  // the modem's last answer (for the log and the tests)
    QString reason;    // why not, in words
    FinalCode final = FinalCode::None;
    int errorNumber = -1;
    int partsSent = 0;
    bool reachedModem = false; // a command of the submission was written to the modem: it was an attempt
};

// What a submission tells its caller while it runs, so that the caller can keep a durable record before the
// next step: a part's stored copy on the SIM (before it is sent from there), a part the network took, the
// stored copy removed again.
struct SubmitEvent {
    enum Kind { Stored, PartSent, StoredRemoved } kind;
    int index = -1;    // SIM index of the stored copy
    int partsSent = 0; // parts of the message confirmed so far, earlier calls included
    QString reference; // the network's message reference of the part just confirmed
};

// What the health poll found; a value the modem refused or did not give stays unknown (see ModemHealth).
// checked is set by the link when the result arrives.
struct HealthResult : LinkOutcome {
    ModemHealth health;
};

struct ProbeResult : LinkOutcome {
    struct Found {
        int port;
        QString manufacturer;
        QString model;
    };
    std::vector<Found> found;
    bool cancelled = false;
};

class ModemRoutines : public QObject {
    Q_OBJECT
public:
    // The serial port and the steady clock unless plumbing names others.
    explicit ModemRoutines(std::atomic<bool>& abort, QObject* parent = nullptr, const ModemPlumbing& plumbing = {});
    ~ModemRoutines() override;

    // Set by the link before each request.
    double ModemDelayFactor = 1.0;
    PortPaths paths;
    int finalAnswerTimeoutMs = 60000; // the network's own limit for a submission is about a minute
    // More messages follow: before the first submission of a connection the modem is asked to keep the relay
    // link open between them (AT+CMMS=2). A modem that refuses is not asked again during that connection.
    bool moreMessagesToSend = false;

    std::function<void(const LinkError&)> failed; // a failure the user is to hear of
    std::function<void(const QString&)> log;      // an activity-log line
    std::function<void(const Unsolicited&)> unsolicited;
    std::function<void()> portLost;         // the device went away while open
    std::function<void(int)> probeProgress; // the port being probed

    // The exchange: command with its pacing, expected answer ("OK" or "> "), empty polls allowed and the
    // name under which a refusal by the modem is reported through failed (empty: not reported).
    AtResult ExecuteATCommand(const QByteArray& command, int pollDelayMs, const QString& expected, int maxEmptyPolls,
                              const QString& reportedAs);
    // The same, paced as the table says.
    AtResult ExecuteATCommand(const QByteArray& command, const Pacing& pacing, const QString& expected,
                              const QString& reportedAs = {});

    // ConfigureComPort and OpenComPort: no error when the port opened.
    MSComm::Error OpenComPort(int port, const QString& settings);
    // Initialises the modem: ready, or why not (the first mandatory step that failed). A failure closes the port.
    Linked<> InitializeModem(const QString& flowControl, const QString& characterSet, bool enabledCallerId,
                             bool pdu = false, bool reports = false);
    // Runs the steps in order: each written, paced, logged and processed as it says; the first mandatory step
    // that fails closes the port and its failure is the result (reported through failed when it says so).
    Linked<> RunSequence(const std::vector<SequenceStep>& steps);
    // Opens the port and initialises the modem.
    ConnectResult Connect(const ConnectRequest& request);
    void CloseComPort();
    bool portOpen() const;
    int commPort() const { return comm.CommPort(); }
    QString device() const { return comm.device(); }

    QString GetManufacturerId();
    QString GetModelId();
    // Names the modem and its SIM for recognising them later: the IMEI (AT+CGSN) and the SIM's ICCID
    // (AT+CCID) or IMSI (AT+CIMI), as far as the modem answers; otherwise its manufacturer and model.
    QString ModemIdentity();
    CallStatusResult GetCallStatus();

    ListResult ListSIMMessages(const QString& status, int pollDelayMs);
    CommandResult DeleteSIMMessage(int index);
    void DeleteSIMMessagesByStatus(const QString& status);

    // A message's parts after the first partsConfirmed (those went out before) are submitted; each step is
    // told to submitEvent as it happens. In PDU mode the parts of a long message carry the reference given
    // (the same for every attempt, so that the parts sent later join those sent before).
    SubmitResult SendSMSDirect(const QString& number, const QString& text, int partsConfirmed = 0,
                               int concatenationReference = 0);
    // The stored copy's SIM index.
    Linked<int> WriteSMSToSIM(const QString& number, const QString& part);
    AtResult SendStoredSMS(int index);
    SubmitResult StoreAndSendSMS(const QString& number, const QString& text, int partsConfirmed = 0,
                                 int concatenationReference = 0);
    std::function<void(const SubmitEvent&)> submitEvent;

    ProbeResult ProbeComPorts(int first, int last, const QString& settings);

    // Signal quality, network registration and operator (AT+CSQ, AT+CREG?, AT+COPS?), and once a connection the
    // SIM's identity (AT+CIMI, AT+CCID), which later polls repeat. Every command is optional: a refusal or
    // silence leaves its value unknown and the poll goes on. Nothing goes to the activity log.
    HealthResult PollHealth();

    // Whether the last initialisation asked for caller identification.
    bool callerIdRequested() const { return callerId; }
    bool inPduMode() const { return pduMode; }

    // Milliseconds of prescribed pacing so far (benchmarks subtract it).
    qint64 pacedMs() const { return channel.pacedMs + pausedMs; }
    // Pause that keeps the prescribed rhythm between submissions, still hearing unsolicited lines.
    void pause(int ms);

private:
    int delay(double ms) const;
    int delay(const Pacing& pacing) const { return delay(pacing.gapMs); }
    void report(const LinkError& e);
    void logResponse(const QString& command, const AtResult& r);
    AtResult messageBody(const QByteArray& body, int pollDelayMs);
    QString decodeText(const QByteArray& bytes, int announcedLength) const;
    bool sendsAsText(const QString& text) const;
    SubmitResult submit(const QString& number, const QString& text, bool storeFirst, int partsConfirmed,
                        int concatenationReference);
    SubmitResult submitPdus(const QString& number, const QString& text, bool storeFirst, int partsConfirmed,
                            int concatenationReference);
    // Each part: the command that opens its entry (AT+CMGS="number" or AT+CMGS=length, or AT+CMGW...) and
    // the body written after the prompt.
    struct Part {
        QByteArray command;
        QByteArray body;
    };
    SubmitResult sendPartsDirect(const QList<Part>& parts, int partsConfirmed);
    SubmitResult storeAndSendParts(const QList<Part>& parts, int partsConfirmed);
    void tell(const SubmitEvent& event);
    Linked<int> writeToSim(const QByteArray& command, const QByteArray& body);
    void decodePduRecord(SIMMessage& m) const;
    // Ends a text entry the modem may be waiting in (it answers OK, or nothing when it was not waiting).
    void cancelTextEntry();
    void hungUp();
    // AT+CMMS=2 before a submission, when asked for and not yet answered in this connection.
    void keepRelayLinkOpen();

    std::atomic<bool>& abort;
    std::unique_ptr<ModemTransport> transport;
    ModemTransport& comm;
    AtChannel channel;
    bool callerId = false;
    bool csdhRefused = false; // the modem refused AT+CSDH=1 once: it is not asked again
    // AT+CMMS=2 in this connection: not asked yet, answered OK (it holds until the modem is reset), or refused.
    enum class RelayLink { Unasked, Kept, Refused } relayLink = RelayLink::Unasked;
    // The SIM's identity as read once in this connection.
    bool simIdentityRead = false;
    QString imsi, iccid;
    Charset::Set charset = Charset::Set::Gsm; // the set in use (texts and numbers are written and read in it)
    QString charsetName = QStringLiteral("GSM");
    bool unicodeOffered = true; // the modem did not say it lacks UCS2
    bool pduMode = false;
    bool statusReports = false;
    qint64 pausedMs = 0;
};
