#include "delivery/OutboxRun.h"

#include "common/AppState.h"
#include "common/Charset.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/DeliveryNews.h"
#include "delivery/ReportMatcher.h"
#include "modem/AtParse.h"
#include "modem/ModemLink.h"
#include "modem/ModemRoutines.h"
#include "store/ActivityLog.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/OptOutRepository.h"
#include "store/Schedule.h"
#include "store/SendingLimits.h"

#include <QRandomGenerator>

#include <QStringList>
#include <algorithm>
#include <utility>

namespace {

// How often an outcome that could not be written is written again.
constexpr int SettleRetryMs = 5000;

// Quiet hours as they stand at `now`: what the Outbox holds back from counting and claiming. Read again for
// every claim, so a run that reaches the window's start stops taking rows there.
OutboxRepository::Hold QuietHold(Database& db, const QDateTime& now)
{
    const ScheduleSettings s = ReadScheduleSettings(db);
    if (!s.quiet.contains(now))
        return OutboxRepository::Hold::Nothing;
    return s.repliesExempt ? OutboxRepository::Hold::AllButAutoReplies : OutboxRepository::Hold::Everything;
}

} // namespace

QString NotCommunicatingText()
{
    return QStringLiteral("Computer is not communicating with the modem. Please select the option "
                          "'Listen To Modem' before executing any modem commands.");
}

QString CleanRecipientNumber(const QString& stored)
{
    QString n = Trim(stored);
    n.remove(QLatin1Char(' '));
    n.remove(QLatin1Char('-'));
    n.remove(QLatin1Char('.'));
    return n;
}

bool IsValidRecipientNumber(const QString& cleaned)
{
    const QString digits = cleaned.startsWith(QLatin1Char('+')) ? cleaned.mid(1) : cleaned;
    if (digits.size() < MinRecipientDigits || digits.size() > MaxRecipientDigits)
        return false;
    for (QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

QString FailureReason(const SubmitResult& r)
{
    if (r.final == FinalCode::CmsError || r.final == FinalCode::CmeError) {
        const bool cms = r.final == FinalCode::CmsError;
        const QString meaning = cms ? CmsErrorMeaning(r.errorNumber) : CmeErrorMeaning(r.errorNumber);
        const QString code = QStringLiteral("%1 ERROR: %2")
                                 .arg(cms ? QStringLiteral("+CMS") : QStringLiteral("+CME"))
                                 .arg(r.errorNumber);
        return meaning.isEmpty() ? code : code + QStringLiteral(" (") + meaning + QLatin1Char(')');
    }
    if (r.final == FinalCode::Error)
        return QStringLiteral("ERROR");
    return r.reason.isEmpty() ? QStringLiteral("not sent") : r.reason;
}

bool IsNetworkWideFailure(const SubmitResult& r)
{
    if (r.final == FinalCode::CmsError)
        return r.errorNumber == 38 || r.errorNumber == 41 || r.errorNumber == 42 || r.errorNumber == 47 ||
               (r.errorNumber >= 300 && r.errorNumber <= 320) || r.errorNumber == 330 || r.errorNumber == 331 ||
               r.errorNumber == 332;
    if (r.final == FinalCode::CmeError)
        return r.errorNumber == 10 || r.errorNumber == 13 || r.errorNumber == 30 || r.errorNumber == 31 ||
               r.errorNumber == 32;
    // Silence, or no prompt for the text: the modem's own trouble, whatever the message.
    return r.final == FinalCode::None;
}

int RetryDelayMinutes(int attempts)
{
    return 1 << std::clamp(attempts - 1, 0, 3);
}

SubmissionRecorder::~SubmissionRecorder() = default;

QString SubmissionRecorder::record(const QString& file, qint64 id, const SubmitEvent& event)
{
    // A server connection that broke while this thread had nothing to write (the server was restarted) is made
    // anew at once, rather than telling of an outage that is already over.
    for (int tries = 0;; ++tries) {
        try {
            if (!db || db->filePath() != file || !db->isOpen()) {
                db = std::make_unique<Database>();
                db->openShared(file);
            }
            OutboxRepository outbox(*db);
            switch (event.kind) {
            case SubmitEvent::Stored:
                outbox.recordStoredCopy(id, event.index);
                break;
            case SubmitEvent::PartSent:
                outbox.recordPartSent(id, event.partsSent, event.reference);
                break;
            case SubmitEvent::StoredRemoved:
                outbox.forgetStoredCopy(id);
                break;
            }
            return {};
        } catch (const DbError& e) {
            // (libpq may count the link as up until a second statement finds it closed.)
            if (!db || !db->isServer() || tries > 0)
                return e.description();
            db.reset();
        }
    }
}

struct OutboxRun::Run {
    int total = 0;
    int handled = 0;
    int failed = 0;
    qint64 lastId = 0;  // the run ends at the highest id waiting when it started
    qint64 afterId = 0; // rows are taken one at a time in queueing order
    bool lookedBack = false;
    bool lastSent = false;
    int pauseBeforeNextMs = 0; // the pause after a delivered message, kept before the next one
    int partsOnTheWay = 0;     // the parts the limits counted for the row being submitted
    // The latest rows that failed one after another for the same reason of the network or the modem.
    QList<qint64> networkFailures;
    QString networkReason;
    int attempted = 0;
    bool databaseFailed = false;
    ModemLimits limits;                         // as the settings had them when the run started
    std::optional<SendingHistoryCache> history; // the modem's, for those limits
    bool pdu = false;
    std::function<void()> finished;
};

OutboxRun::OutboxRun(AppState& state, Database& db, ActivityLog& log, ModemLink& link, ReportMatcher& reports,
                     const DeliveryNews& news)
    : state(state), db(db), outbox(db), log(log), link(link), reports(reports), news(news),
      recorder(new SubmissionRecorder)
{
    link.adopt(recorder);
    settleTimer.setInterval(SettleRetryMs);
    QObject::connect(&settleTimer, &QTimer::timeout, [this] { settleOutcomes(); });
    limitTimer.setSingleShot(true);
    QObject::connect(&limitTimer, &QTimer::timeout, [this] {
        if (this->news.limitsAllow)
            this->news.limitsAllow();
    });
}

OutboxRun::~OutboxRun() = default;

bool OutboxRun::paused() const
{
    return pausedUntil.isValid() && state.clock->now() < pausedUntil;
}

bool OutboxRun::start(std::function<void()> finished)
{
    if (run)
        return false;
    // Outcomes the database missed go first: a run finds the database answering at least as soon as the retry.
    if (!unsettled.isEmpty())
        settleOutcomes();
    try {
        // The selection is taken now: rows queued during the run wait for the next one.
        const QDateTime now = state.clock->now();
        LogSentAgain(log, TakeBackLapsedRows(db, now));
        outbox.setHold(QuietHold(db, now));
        const qint64 total = outbox.countDue(now, news.modemId);
        log.Write(ActivityLog::Check::Delivery, QStringLiteral("Total %1 SMS to be sent.").arg(total));
        if (total > 0)
            log.Show(ActivityLog::Check::Delivery); // something to send: the check shows after all
        if (total == 0) {
            if (finished)
                finished();
            return true;
        }
        if (!news.connected()) {
            log.WriteActivityLog(NotCommunicatingText());
            state.dialogs->message(NotCommunicatingText());
            if (finished)
                finished();
            return true;
        }
        run = std::make_unique<Run>();
        run->total = int(total);
        run->finished = std::move(finished);
        run->lastId = outbox.lastDue(now, news.modemId);
        if (const std::optional<ModemConfig> modem = ModemsRepository(db).find(news.modemId)) {
            run->limits = modem->limits;
            run->pdu = modem->pdu;
        }
        // The modem's history is read at the run's first look and then only what is written after it.
        run->history.emplace(news.modemId, run->limits);
    } catch (const DbError& e) {
        news.failed(e);
        if (run)
            endRun();
        else if (finished)
            finished();
        return true;
    }
    nextRow();
    return true;
}

void OutboxRun::nextRow()
{
    qint64 id = 0;
    try {
        while (news.connected() && !held) {
            outbox.setHold(QuietHold(db, state.clock->now()));
            // A modem at a window's limit claims nothing: the rows stay free for the others.
            if (run->limits.any()) {
                const QDateTime now = state.clock->now();
                const LimitVerdict v = SendingLimits(run->limits, run->history->read(db, QString(), now), 1, now);
                if (v.partsLimit) {
                    waitForLimits(v.notBefore);
                    break;
                }
            }
            const std::optional<DueOutboxRow> row =
                outbox.claimNext(news.modemId, state.clock->now(), OutboxLease(state), run->afterId, run->lastId);
            if (!row && news.pooled && !run->lookedBack) {
                // Another modem gave rows back (it went away, or its network refused them) behind this run's
                // place: they go now, once, rather than at the next tick.
                run->lookedBack = true;
                run->afterId = 0;
                continue;
            }
            if (!row)
                break;
            id = row->id;
            run->afterId = id;

            const QString number = CleanRecipientNumber(row->recipient);
            const QString text = Trim(row->message);
            // A row that can never be sent is marked once, said once, and left out of every later run.
            if (!IsValidRecipientNumber(number)) {
                outbox.markInvalidNumber(id);
                log.WriteActivityLog(QStringLiteral("**ERROR** '%1' is not a phone number: the message stays in the "
                                                    "Outbox marked INVALID NUMBER.")
                                         .arg(Trim(row->recipient)));
                continue;
            }
            if (text.isEmpty()) {
                outbox.markEmptyMessage(id);
                log.WriteActivityLog(QStringLiteral("**ERROR** The message to %1 is empty: it is not sent and stays "
                                                    "in the Outbox marked EMPTY MESSAGE.")
                                         .arg(number));
                continue;
            }
            // Queued after the stop word came, or by another program: the list has the last word.
            if (!row->optOutReply && OptOutRepository(db).contains(number)) {
                OptOutRepository(db).markOptedOut(id);
                log.WriteActivityLog(QStringLiteral("The message to %1 is not sent: the number is on the opt-out "
                                                    "list. It stays in the Outbox marked OPTED OUT.")
                                         .arg(number));
                continue;
            }
            const std::optional<QString> mode = outbox.deliveryMode();
            if (!mode)
                continue;
            if (const Limits l = checkLimits(id, number, text, row->partsSent); l == Limits::SkipRow)
                continue;
            else if (l == Limits::EndRun)
                break;
            outbox.markSending(id, state.clock->now());
            // An outcome still waiting from an attempt the database missed is older than this one.
            unsettled.remove(id);
            ++run->attempted;
            submit(*row, number, text, *mode == QLatin1String("STORE AND DELIVER"));
            return;
        }
    } catch (const DbError& e) {
        // The row it was working on may be SENDING with nothing sent: put back as soon as the database answers.
        if (id != 0)
            keepOutcome(id, {});
        if (run)
            run->databaseFailed = true;
        news.failed(e);
    }
    if (run && !held && run->attempted > 0 && run->networkFailures.size() == run->attempted)
        pauseAfter(run->networkReason); // every message of the run failed the same way
    endRun();
}

void OutboxRun::submit(const DueOutboxRow& row, const QString& number, const QString& text, bool storeFirst)
{
    const qint64 id = row.id;
    const int attempts = row.attempts + 1;
    const int partsSent = row.partsSent;
    log.WriteActivityLog(QStringLiteral("Sending SMS to ") + number +
                         (storeFirst ? QStringLiteral(" using GSM modem and method - STORE & DELIVER.")
                                     : QStringLiteral(" using GSM modem and method - DIRECT DELIVERY.")));
    const int pause = run->pauseBeforeNextMs;
    run->pauseBeforeNextMs = 0;
    // Complaints of the database met on the modem thread, told here once the submission is over.
    auto complaints = std::make_shared<QStringList>();
    link.request<SubmitResult>(
        ModemLink::Work::Submission,
        [recorder = recorder, file = db.filePath(), complaints, id, number, text, storeFirst, pause,
         partsSent](ModemRoutines& modem) {
            modem.pause(pause);
            // Each stored copy and each confirmed part is on the row before the next step.
            modem.submitEvent = [recorder, file, complaints, id](const SubmitEvent& event) {
                if (const QString why = recorder->record(file, id, event); !why.isEmpty())
                    complaints->append(why);
            };
            // The parts of a long message are joined by a reference the row keeps for every attempt.
            const int reference = int(id & 0xFF);
            SubmitResult r = storeFirst ? modem.StoreAndSendSMS(number, text, partsSent, reference)
                                        : modem.SendSMSDirect(number, text, partsSent, reference);
            modem.submitEvent = nullptr;
            return r;
        },
        nullptr,
        [this, complaints, id, number, storeFirst, attempts](const SubmitResult& r) {
            for (const QString& why : *complaints)
                news.failed(DbError(why));
            rowDone(id, number, storeFirst, attempts, r);
        });
}

void OutboxRun::rowDone(qint64 id, const QString& number, bool storeFirst, int attempts, const SubmitResult& r)
{
    if (!run)
        return;
    ++run->handled;
    try {
        if (r.sent) {
            run->lastSent = true;
            run->networkFailures.clear();
            if (!storeFirst)
                log.WriteActivityLog(QStringLiteral("SMS sent successfully. Now removing it from outbox."));
            outbox.markSent(id, state.clock->now(), news.modemId, news.modemName, run->partsOnTheWay);
            // A report that came within this submission's exchange is about this row or none.
            reports.matchEarlyReports();
            news.outboxTouched();
            run->pauseBeforeNextMs = storeFirst ? 100 : ScaledDelay(link.ModemDelayFactor, 75);
            // The operator's gap between messages, chosen anew each time so that the rhythm is not a machine's.
            if (const ModemLimits& l = run->limits; l.gapMaxSeconds > 0 || l.gapMinSeconds > 0) {
                const int low = std::max(l.gapMinSeconds, 0), high = std::max(l.gapMaxSeconds, low);
                const int gapMs = int(QRandomGenerator::global()->bounded(qint64(low) * 1000, qint64(high) * 1000 + 1));
                run->pauseBeforeNextMs = std::max(run->pauseBeforeNextMs, gapMs);
            }
        } else {
            ++run->failed;
            run->lastSent = false;
            const QString reason = FailureReason(r);
            if (!storeFirst)
                log.WriteActivityLog(QStringLiteral("**ERROR** SMS could not be sent to ") + number +
                                     QStringLiteral(" (Possible Reasons: 1> Phone out of coverage area   2> No balance "
                                                    "credit on your SIM     3> Trying to send International SMS (with "
                                                    "'+' sign) which may not be allowed from your SIM Card.)"));
            if (r.aborted || r.portClosed) {
                // Disconnected under it: not the message's fault, and tried again at once. Only a submission
                // that never reached the modem is not an attempt; one that did may even have gone out.
                outbox.putBack(id, r.reachedModem);
            } else if (IsNetworkWideFailure(r)) {
                if (run->networkReason != reason)
                    run->networkFailures.clear();
                run->networkReason = reason;
                run->networkFailures << id;
                outbox.recordAttempt(id, reason);
                if (run->networkFailures.size() >= 2) {
                    pauseAfter(reason);
                    endRun();
                    return;
                }
            } else if (attempts >= MaxAttempts) {
                run->networkFailures.clear();
                outbox.markFailed(id, reason);
                log.WriteActivityLog(QStringLiteral("**ERROR** The message to %1 failed %2 times (%3): it is no longer "
                                                    "tried and stays in the Outbox marked FAILED.")
                                         .arg(number)
                                         .arg(attempts)
                                         .arg(reason));
            } else {
                run->networkFailures.clear();
                outbox.scheduleRetry(id, reason, state.clock->now().addSecs(60LL * RetryDelayMinutes(attempts)));
            }
        }
    } catch (const DbError& e) {
        keepOutcome(id, {r.sent, FailureReason(r)});
        run->databaseFailed = true;
        news.failed(e);
        endRun();
        return;
    }
    if (news.deliveryProgress)
        news.deliveryProgress(run->handled, run->total, run->failed, false);
    nextRow();
}

OutboxRun::Limits OutboxRun::checkLimits(qint64 id, const QString& number, const QString& text, int partsSent)
{
    const int parts =
        std::max(Charset::count(text, run->pdu ? Charset::Mode::Pdu : Charset::Mode::Text).parts - partsSent, 1);
    run->partsOnTheWay = parts;
    if (!run->limits.any())
        return Limits::Go;
    const QDateTime now = state.clock->now();
    const LimitVerdict v = SendingLimits(run->limits, run->history->read(db, number, now), parts, now);
    if (v.allowed)
        return Limits::Go;
    outbox.release(id); // free for a modem that may send it
    if (v.partsLimit) {
        waitForLimits(v.notBefore);
        return Limits::EndRun;
    }
    log.WriteActivityLog(QStringLiteral("The message to %1 waits: %2 has sent to as many recipients this month as "
                                        "its limit allows.")
                             .arg(number, news.modemName.isEmpty() ? QStringLiteral("the modem") : news.modemName));
    return Limits::SkipRow;
}

void OutboxRun::waitForLimits(const QDateTime& until)
{
    const qint64 ms = std::clamp<qint64>(state.clock->now().msecsTo(until), 0, 24LL * 3600 * 1000);
    log.WriteActivityLog(QStringLiteral("%1 has sent as many parts as its limits allow: it sends again at %2.")
                             .arg(news.modemName.isEmpty() ? QStringLiteral("The modem") : news.modemName,
                                  until.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));
    limitTimer.start(int(ms) + 1);
}

void OutboxRun::pauseAfter(const QString& reason)
{
    // Not the rows' fault: their attempts are given back.
    try {
        for (qint64 id : run->networkFailures)
            outbox.giveBackAttempt(id);
    } catch (const DbError& e) {
        news.failed(e);
    }
    pausedUntil = state.clock->now().addMSecs(PauseAfterNetworkFailureMs);
    log.WriteActivityLog(QStringLiteral("**ERROR** Every message fails the same way (%1): delivery pauses for a "
                                        "minute.")
                             .arg(reason));
}

void OutboxRun::endRun()
{
    if (!run)
        return;
    const bool lastSent = run->lastSent;
    const int handled = run->handled, total = run->total, failed = run->failed;
    const bool wrote = run->attempted > 0 && !run->databaseFailed;
    auto finished = std::move(run->finished);
    run.reset();
    if (wrote)
        news.worked();
    if (news.deliveryProgress)
        news.deliveryProgress(handled, total, failed, true);
    if (lastSent)
        news.outboxTouched();
    if (finished)
        finished();
}

void OutboxRun::keepOutcome(qint64 id, const Outcome& outcome)
{
    unsettled[id] = outcome;
    if (!settleTimer.isActive())
        settleTimer.start();
}

void LogSentAgain(ActivityLog& log, const QStringList& recipients)
{
    for (const QString& recipient : recipients)
        log.WriteActivityLog(QStringLiteral("The message to %1 was being sent when Broadtext last stopped: it is sent "
                                            "again and may reach the recipient twice.")
                                 .arg(Trim(recipient)));
}

bool OutboxRun::settleKept()
{
    if (!unsettled.isEmpty())
        settleOutcomes();
    return unsettled.isEmpty();
}

void OutboxRun::settleOutcomes()
{
    for (auto it = unsettled.begin(); it != unsettled.end();) {
        try {
            if (it->sent)
                outbox.markSent(it.key(), state.clock->now(), news.modemId, news.modemName);
            else
                outbox.settleUnsent(it.key(), it->reason);
        } catch (const DbError&) {
            return; // still not answering: next time
        }
        it = unsettled.erase(it);
    }
    settleTimer.stop();
    news.worked();
    log.WriteActivityLog(QStringLiteral("The message database answers again: the Outbox rows it could not update "
                                        "have been updated."));
    news.outboxTouched();
}
