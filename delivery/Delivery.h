// Moving messages between the database and the modem: the Outbox delivery run, reception from the SIM
// into the Inbox, and the record of incoming calls.
//
// Both runs are driven from the user-interface thread, where the database lives: each step asks the modem
// link for one piece of work and goes on when its result comes back, so the window never waits for the
// modem. A run is either idle or running; a second start while it runs is refused (the timers coalesce).
//
// Every Outbox row keeps what became of it: its attempts, when the last was and the next may be, why the
// last failed, the parts already confirmed and the SIM index of a stored copy. A failed row is tried again
// after 1, 2, 4 and 8 minutes and then shows FAILED; a number that is not a phone number shows INVALID NUMBER
// and an empty text EMPTY MESSAGE; none of them is ever marked sent. When every message of a run fails the
// same way for a reason of the network or the modem, delivery pauses for a minute and the rows are not
// charged with the attempt. A row is never left SENDING: its outcome is written as soon as the database
// answers again.
#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace Pdu {
struct Deliver;
struct StatusReport;
} // namespace Pdu

struct AppState;
struct ListResult;
struct SubmitEvent;
struct SubmitResult;
class ActivityLog;
class Database;
class DbError;
class MessageBoxView;
class ModemLink;

class Delivery {
public:
    static constexpr int MaxAttempts = 5;
    static constexpr int PauseAfterNetworkFailureMs = 60000;
    // Hours the parts of a long message are waited for before what came is stored with the gaps marked.
    static constexpr int PartsWaitHours = 24;

    Delivery(AppState& state, Database& db, ActivityLog& log, ModemLink& link);
    ~Delivery();

    // Starts a delivery run (false when one already runs or delivery pauses); finished is called when it ends.
    bool SendAllOutboxSMS(std::function<void()> finished = {});
    // Starts a reception (false when one already runs); finished is called when its deletions are done.
    bool ReceiveAllSIMMessages(qint16 listWait, std::function<void()> finished = {});
    // A delivery report (from the SIM or a +CDS line) put on the sent row it is about; false when no sent
    // row matches its reference and number.
    bool RecordStatusReport(const Pdu::StatusReport& report);
    // A +CDS line's report. One that comes during a delivery run before its row is marked sent (the
    // network can be that quick) is matched again once the run's current row is.
    void StatusReportArrived(const QString& hex);
    void RecordCallStatistics(const QString& callerNumber);
    // When the message box is open: redraw it and refresh the counts of its folder tree.
    void RefreshMessageBox();

    bool sending() const { return run != nullptr; }
    bool receiving() const { return reception != nullptr; }
    // Delivery pauses after a run in which every message failed for the network's or the modem's reason.
    bool paused() const;
    void endPause() { pausedUntil = {}; }
    // Held by the user: a run stops before its next row (the one on the network is finished first).
    bool held = false;

    // The open message box, or null (set by the message box on load and unload).
    MessageBoxView* messageBox = nullptr;

    // News for the windows: rows handled of a delivery run (failed among them), its end; messages being
    // imported; each message stored in the Inbox.
    std::function<void(int handled, int total, int failed, bool ended)> deliveryProgress;
    std::function<void(int importing, bool ended)> receptionProgress;
    std::function<void(const QString& sender, const QString& text)> messageReceived;
    // A database failure of timer work: shown once, logged each time.
    std::function<void(const DbError& error)> databaseFailed;
    std::function<void()> databaseWorked;

private:
    struct Run;
    struct Reception;
    struct Outcome {
        bool sent = false;
        QString reason;
    };
    void nextRow();
    void rowDone(qint64 id, const QString& number, bool storeFirst, int attempts, const SubmitResult& r);
    void recordEvent(qint64 id, const SubmitEvent& event);
    void endRun();
    void pauseAfter(const QString& reason);
    void listed(const ListResult& r);
    void endReception();
    void announceReceived(const QString& number, const QString& text, const QDateTime& on, qint64 id);
    // Deletes a SIM copy whose message is stored; deleted runs once the modem has deleted it.
    void deleteFromSim(int index, std::function<void()> deleted);
    // The part's row (an existing one when the same part was stored before).
    qint64 storePart(const QString& number, const Pdu::Deliver& part, const QDateTime& sentOn, int simIndex);
    // Stores the long messages whose parts have all come (or waited too long) in the Inbox; true if any.
    bool joinParts();
    // A row whose outcome could not be written yet: written again until the database answers.
    void keepOutcome(qint64 id, const Outcome& outcome);
    void settleOutcomes();

    AppState& state;
    Database& db;
    ActivityLog& log;
    ModemLink& link;
    std::unique_ptr<Run> run;
    std::unique_ptr<Reception> reception;
    QDateTime pausedUntil;
    QMap<qint64, Outcome> unsettled;
    QStringList earlyReports;
    QTimer settleTimer;
};

// The recipient as the delivery run uses it: outer blanks trimmed, then every blank, "-" and "." removed.
QString CleanRecipientNumber(const QString& stored);
// A number the modem can be asked to send to: digits, optionally after one leading "+". Short codes of
// operators and services have three digits or more; an address field holds at most twenty.
inline constexpr int MinRecipientDigits = 3;
inline constexpr int MaxRecipientDigits = 20;
bool IsValidRecipientNumber(const QString& cleaned);
// The sender as reception stores it: ten characters or fewer get a "+"; longer ones keep a leading "+" or
// "0", others get a "+".
QString NormaliseSenderNumber(const QString& listed);
// Why a submission failed, in words ("+CMS ERROR: 21 (short message transfer rejected)", "no answer").
QString FailureReason(const SubmitResult& r);
// Whether that failure is the network's or the modem's rather than the message's or the recipient's.
bool IsNetworkWideFailure(const SubmitResult& r);
// Minutes before a row that failed its n-th attempt is tried again: 1, 2, 4, 8.
int RetryDelayMinutes(int attempts);
