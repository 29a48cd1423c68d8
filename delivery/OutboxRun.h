// The Outbox delivery run, driven from the user-interface thread: each step asks the modem link for one
// submission and goes on when its result comes back, so the window never waits for the modem. A run is
// either idle or running; a second start while it runs is refused (the timers coalesce).
//
// Every Outbox row keeps what became of it: its attempts, when the last was and the next may be, why the
// last failed, the parts already confirmed and the SIM index of a stored copy. A failed row is tried again
// after 1, 2, 4 and 8 minutes and then shows FAILED; a number that is not a phone number shows INVALID NUMBER
// and an empty text EMPTY MESSAGE; none of them is ever marked sent. A modem at one of its sending limits
// takes no more rows until the window allows (the others go on), and waits a random gap between messages. When every
// message of a run fails the same way for a reason of the network or the modem, delivery pauses for a minute and the
// rows are not charged with the attempt. A row is never left SENDING: its outcome is written as soon as the database
// answers again.
//
// What a submission must keep between its steps (a stored copy's SIM index, each confirmed part) is written
// on the modem thread through that thread's own database connection, before the modem is asked for the next
// step: the modem never waits for this thread, and a kill at any moment leaves the row telling the truth.
#pragma once

#include "store/OutboxRepository.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

struct AppState;
struct DeliveryNews;
struct SubmitEvent;
struct SubmitResult;
class ActivityLog;
class Database;
class ModemLink;
class ReportMatcher;

// Lives on the modem thread with a database connection of its own, opened on first use.
class SubmissionRecorder : public QObject {
public:
    ~SubmissionRecorder() override;
    // Writes the event on the row; the database's complaint, or empty when it is written.
    QString record(const QString& file, qint64 id, const SubmitEvent& event);

private:
    std::unique_ptr<Database> db;
};

class OutboxRun {
public:
    static constexpr int MaxAttempts = 5;
    static constexpr int PauseAfterNetworkFailureMs = 60000;

    OutboxRun(AppState& state, Database& db, ActivityLog& log, ModemLink& link, ReportMatcher& reports,
              const DeliveryNews& news);
    ~OutboxRun();

    // Starts a run (false when one already runs); finished is called when it ends.
    bool start(std::function<void()> finished);
    bool running() const { return run != nullptr; }
    bool paused() const;
    void endPause() { pausedUntil = {}; }
    // Writes the outcomes the database missed; true when none is left to write.
    bool settleKept();
    bool held = false;

private:
    struct Run;
    struct Outcome {
        bool sent = false;
        QString reason;
    };
    void nextRow();
    void submit(const DueOutboxRow& row, const QString& number, const QString& text, bool storeFirst);
    void rowDone(qint64 id, const QString& number, bool storeFirst, int attempts, const SubmitResult& r);
    void endRun();
    void pauseAfter(const QString& reason);
    // Whether the modem's limits let the row go now; when they hold it, the row is given back and, for a window
    // of parts, the run ends and the limit timer is set for when the window allows.
    enum class Limits { Go, SkipRow, EndRun };
    Limits checkLimits(qint64 id, const QString& number, const QString& text, int partsSent);
    void waitForLimits(const QDateTime& until);
    // A row whose outcome could not be written yet: written again until the database answers.
    void keepOutcome(qint64 id, const Outcome& outcome);
    void settleOutcomes();

    AppState& state;
    Database& db;
    OutboxRepository outbox;
    ActivityLog& log;
    ModemLink& link;
    ReportMatcher& reports;
    const DeliveryNews& news;
    SubmissionRecorder* recorder; // on the modem thread, owned by it
    std::unique_ptr<Run> run;
    QDateTime pausedUntil;
    QMap<qint64, Outcome> unsettled;
    QTimer settleTimer;
    QTimer limitTimer; // single shot: the modem's window of parts allows again
};

// The recipient as the delivery run uses it: outer blanks trimmed, then every blank, "-" and "." removed.
QString CleanRecipientNumber(const QString& stored);
// A number the modem can be asked to send to: digits, optionally after one leading "+". Short codes of
// operators and services have three digits or more; an address field holds at most twenty.
inline constexpr int MinRecipientDigits = 3;
inline constexpr int MaxRecipientDigits = 20;
bool IsValidRecipientNumber(const QString& cleaned);
// Why a submission failed, in words ("+CMS ERROR: 21 (short message transfer rejected)", "no answer").
QString FailureReason(const SubmitResult& r);
// Whether that failure is the network's or the modem's rather than the message's or the recipient's.
bool IsNetworkWideFailure(const SubmitResult& r);
// Minutes before a row that failed its n-th attempt is tried again: 1, 2, 4, 8.
int RetryDelayMinutes(int attempts);
// What the user is told when asked for modem work while not connected.
QString NotCommunicatingText();
// Logs each message given back to waiting after a modem (or a computer) stopped while sending it.
void LogSentAgain(ActivityLog& log, const QStringList& recipients);
