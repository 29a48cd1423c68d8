#include "delivery/Delivery.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Paths.h"
#include "common/Seams.h"
#include "delivery/MessageBoxView.h"
#include "modem/AtParse.h"
#include "modem/ModemLink.h"
#include "modem/ModemRoutines.h"
#include "modem/Pdu.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <QObject>
#include <algorithm>
#include <utility>

namespace {

const QString NotCommunicating =
    QStringLiteral("Computer is not communicating with the modem. Please select the option "
                   "'Listen To Modem' before executing any modem commands.");

// Rows waiting to be sent whose next attempt is due (the first value bound is now).
const QString Eligible = QStringLiteral("DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR DeliveryStatus = '')"
                                        " AND (NextAttempt IS NULL OR NextAttempt <= ?)");

// How often an outcome that could not be written is written again.
constexpr int SettleRetryMs = 5000;

} // namespace

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

QString NormaliseSenderNumber(const QString& listed)
{
    const QString t = Trim(listed);
    if (t.size() > 10)
        return t.startsWith(QLatin1Char('+')) || t.startsWith(QLatin1Char('0')) ? t : QLatin1Char('+') + t;
    return QLatin1Char('+') + t;
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

struct Delivery::Run {
    int total = 0;
    int handled = 0;
    int failed = 0;
    qint64 lastId = 0;  // the run ends at the highest id waiting when it started
    qint64 afterId = 0; // rows are taken one at a time in queueing order
    bool lastSent = false;
    int pauseBeforeNextMs = 0; // the pause after a delivered message, kept before the next one
    // The latest rows that failed one after another for the same reason of the network or the modem.
    QList<qint64> networkFailures;
    QString networkReason;
    int attempted = 0;
    bool databaseFailed = false;
    std::function<void()> finished;
};

struct Delivery::Reception {
    int deletionsLeft = 0;
    bool listingDone = false;
    std::function<void()> finished;
};

Delivery::Delivery(AppState& state, Database& db, ActivityLog& log, ModemLink& link)
    : state(state), db(db), log(log), link(link)
{
    settleTimer.setInterval(SettleRetryMs);
    QObject::connect(&settleTimer, &QTimer::timeout, [this] { settleOutcomes(); });
}

Delivery::~Delivery() = default;

void Delivery::RefreshMessageBox()
{
    if (state.MessageBoxOpen && messageBox) {
        messageBox->redraw();
        messageBox->fillTreeView();
    }
}

bool Delivery::paused() const
{
    return pausedUntil.isValid() && state.clock->now() < pausedUntil;
}

bool Delivery::SendAllOutboxSMS(std::function<void()> finished)
{
    if (run)
        return false;
    // Outcomes the database missed go first: a run finds the database answering at least as soon as the retry.
    if (!unsettled.isEmpty())
        settleOutcomes();
    try {
        // The selection is taken now: rows queued during the run wait for the next one.
        const QString now = Database::DbTime(state.clock->now());
        const qint64 total = db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + Eligible, {now});
        log.Write(ActivityLog::Check::Delivery, QStringLiteral("Total %1 SMS to be sent.").arg(total));
        if (total > 0)
            log.Show(ActivityLog::Check::Delivery); // something to send: the check shows after all
        if (total == 0) {
            if (finished)
                finished();
            return true;
        }
        if (!state.IsConnected) {
            log.WriteActivityLog(NotCommunicating);
            state.dialogs->message(NotCommunicating);
            if (finished)
                finished();
            return true;
        }
        run = std::make_unique<Run>();
        run->total = int(total);
        run->finished = std::move(finished);
        run->lastId = db.scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox WHERE ") + Eligible, {now})
                          .toLongLong();
    } catch (const DbError& e) {
        if (databaseFailed)
            databaseFailed(e);
        if (run)
            endRun();
        else if (finished)
            finished();
        return true;
    }
    nextRow();
    return true;
}

void Delivery::nextRow()
{
    qint64 id = 0;
    try {
        while (state.IsConnected && !held) {
            QString recipient, message;
            int attempts = 0, partsSent = 0;
            {
                Query row(db,
                          QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, Message, Attempts, PartsSent FROM "
                                         "Message_OutBox WHERE ") +
                              Eligible +
                              QStringLiteral(" AND Outbox_Id > ? AND Outbox_Id <= ? ORDER BY Outbox_Id LIMIT 1"),
                          {Database::DbTime(state.clock->now()), run->afterId, run->lastId});
                if (!row.next())
                    break;
                id = row.value(0).toLongLong();
                recipient = row.value(1).toString();
                message = row.value(2).toString();
                attempts = row.value(3).toInt();
                partsSent = row.value(4).toInt();
            }
            run->afterId = id;

            const QString number = CleanRecipientNumber(recipient);
            const QString text = Trim(message);
            // A row that can never be sent is marked once, said once, and left out of every later run.
            if (!IsValidRecipientNumber(number)) {
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'INVALID NUMBER', "
                                          "LastError = 'not a phone number' WHERE Outbox_Id = ?"),
                           {id});
                log.WriteActivityLog(QStringLiteral("**ERROR** '%1' is not a phone number: the message stays in the "
                                                    "Outbox marked INVALID NUMBER.")
                                         .arg(Trim(recipient)));
                continue;
            }
            if (text.isEmpty()) {
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'EMPTY MESSAGE', "
                                          "LastError = 'the message is empty' WHERE Outbox_Id = ?"),
                           {id});
                log.WriteActivityLog(QStringLiteral("**ERROR** The message to %1 is empty: it is not sent and stays "
                                                    "in the Outbox marked EMPTY MESSAGE.")
                                         .arg(number));
                continue;
            }
            const QVariant mode = [&] {
                Query q(db, QStringLiteral("SELECT SMSDelevaryMode FROM Timer_setting ORDER BY rowid LIMIT 1"));
                return q.next() ? QVariant(q.value(0).toString()) : QVariant();
            }();
            if (!mode.isValid())
                continue;
            const bool storeFirst = mode.toString() == QLatin1String("STORE AND DELIVER");

            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENDING', Attempts = Attempts + 1, "
                                      "LastAttempt = ? WHERE Outbox_Id = ?"),
                       {Database::DbTime(state.clock->now()), id});
            // An outcome still waiting from an attempt the database missed is older than this one.
            unsettled.remove(id);
            ++attempts;
            ++run->attempted;
            log.WriteActivityLog(QStringLiteral("Sending SMS to ") + number +
                                 (storeFirst ? QStringLiteral(" using GSM modem and method - STORE & DELIVER.")
                                             : QStringLiteral(" using GSM modem and method - DIRECT DELIVERY.")));
            const int pause = run->pauseBeforeNextMs;
            run->pauseBeforeNextMs = 0;
            link.request<SubmitResult>(
                ModemLink::Work::Submission,
                [this, id, number, text, storeFirst, pause, partsSent](ModemRoutines& modem) {
                    modem.pause(pause);
                    // Each stored copy and each confirmed part is on the row before the next step.
                    modem.submitEvent = [this, id](const SubmitEvent& event) {
                        link.onUserThread([this, id, event] { recordEvent(id, event); });
                    };
                    // The parts of a long message are joined by a reference the row keeps for every attempt.
                    const int reference = int(id & 0xFF);
                    SubmitResult r = storeFirst ? modem.StoreAndSendSMS(number, text, partsSent, reference)
                                                : modem.SendSMSDirect(number, text, partsSent, reference);
                    modem.submitEvent = nullptr;
                    return r;
                },
                nullptr,
                [this, id, number, storeFirst, attempts](const SubmitResult& r) {
                    rowDone(id, number, storeFirst, attempts, r);
                });
            return;
        }
    } catch (const DbError& e) {
        // The row it was working on may be SENDING with nothing sent: put back as soon as the database answers.
        if (id != 0)
            keepOutcome(id, {});
        if (run)
            run->databaseFailed = true;
        if (databaseFailed)
            databaseFailed(e);
    }
    if (run && !held && run->attempted > 0 && run->networkFailures.size() == run->attempted)
        pauseAfter(run->networkReason); // every message of the run failed the same way
    endRun();
}

void Delivery::recordEvent(qint64 id, const SubmitEvent& event)
{
    try {
        switch (event.kind) {
        case SubmitEvent::Stored:
            db.execute(QStringLiteral("UPDATE Message_OutBox SET SimIndex = ? WHERE Outbox_Id = ?"), {event.index, id});
            break;
        case SubmitEvent::PartSent:
            db.execute(QStringLiteral("UPDATE Message_OutBox SET PartsSent = ?, PartReferences = "
                                      "trim(coalesce(PartReferences, '') || ',' || ?, ',') WHERE Outbox_Id = ?"),
                       {event.partsSent, event.reference, id});
            break;
        case SubmitEvent::StoredRemoved:
            db.execute(QStringLiteral("UPDATE Message_OutBox SET SimIndex = NULL WHERE Outbox_Id = ?"), {id});
            break;
        }
    } catch (const DbError& e) {
        if (databaseFailed)
            databaseFailed(e);
    }
}

void Delivery::rowDone(qint64 id, const QString& number, bool storeFirst, int attempts, const SubmitResult& r)
{
    if (!run)
        return;
    ++run->handled;
    const QString now = Database::DbTime(state.clock->now());
    try {
        if (r.sent) {
            run->lastSent = true;
            run->networkFailures.clear();
            if (!storeFirst)
                log.WriteActivityLog(QStringLiteral("SMS sent successfully. Now removing it from outbox."));
            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ?, "
                                      "LastError = NULL, NextAttempt = NULL WHERE Outbox_Id = ?"),
                       {now, id});
            // A report that came within this submission's exchange is about this row or none.
            for (const QString& hex : std::exchange(earlyReports, {}))
                RecordStatusReport(Pdu::decodeStatusReport(hex));
            RefreshMessageBox();
            run->pauseBeforeNextMs = storeFirst ? 100 : ScaledDelay(state.ModemDelayFactor, 75);
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
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', Attempts = CASE WHEN ? "
                                          "THEN Attempts ELSE max(Attempts - 1, 0) END WHERE Outbox_Id = ?"),
                           {r.reachedModem, id});
            } else if (IsNetworkWideFailure(r)) {
                if (run->networkReason != reason)
                    run->networkFailures.clear();
                run->networkReason = reason;
                run->networkFailures << id;
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ? WHERE "
                                          "Outbox_Id = ?"),
                           {reason, id});
                if (run->networkFailures.size() >= 2) {
                    pauseAfter(reason);
                    endRun();
                    return;
                }
            } else if (attempts >= MaxAttempts) {
                run->networkFailures.clear();
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'FAILED', LastError = ?, "
                                          "NextAttempt = NULL WHERE Outbox_Id = ?"),
                           {reason, id});
                log.WriteActivityLog(QStringLiteral("**ERROR** The message to %1 failed %2 times (%3): it is no longer "
                                                    "tried and stays in the Outbox marked FAILED.")
                                         .arg(number)
                                         .arg(attempts)
                                         .arg(reason));
            } else {
                run->networkFailures.clear();
                const QDateTime next = state.clock->now().addSecs(60LL * RetryDelayMinutes(attempts));
                db.execute(
                    QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ?, NextAttempt = ? "
                                   "WHERE Outbox_Id = ?"),
                    {reason, Database::DbTime(next), id});
            }
        }
    } catch (const DbError& e) {
        keepOutcome(id, {r.sent, FailureReason(r)});
        run->databaseFailed = true;
        if (databaseFailed)
            databaseFailed(e);
        endRun();
        return;
    }
    if (deliveryProgress)
        deliveryProgress(run->handled, run->total, run->failed, false);
    nextRow();
}

void Delivery::pauseAfter(const QString& reason)
{
    // Not the rows' fault: their attempts are given back.
    try {
        for (qint64 id : run->networkFailures)
            db.execute(QStringLiteral("UPDATE Message_OutBox SET Attempts = max(Attempts - 1, 0) WHERE Outbox_Id = ?"),
                       {id});
    } catch (const DbError& e) {
        if (databaseFailed)
            databaseFailed(e);
    }
    pausedUntil = state.clock->now().addMSecs(PauseAfterNetworkFailureMs);
    log.WriteActivityLog(QStringLiteral("**ERROR** Every message fails the same way (%1): delivery pauses for a "
                                        "minute.")
                             .arg(reason));
}

void Delivery::endRun()
{
    if (!run)
        return;
    const bool lastSent = run->lastSent;
    const int handled = run->handled, total = run->total, failed = run->failed;
    const bool wrote = run->attempted > 0 && !run->databaseFailed;
    auto finished = std::move(run->finished);
    run.reset();
    if (wrote && databaseWorked)
        databaseWorked();
    if (deliveryProgress)
        deliveryProgress(handled, total, failed, true);
    if (state.MessageBoxOpen && lastSent)
        RefreshMessageBox();
    if (finished)
        finished();
}

void Delivery::keepOutcome(qint64 id, const Outcome& outcome)
{
    unsettled[id] = outcome;
    if (!settleTimer.isActive())
        settleTimer.start();
}

void Delivery::settleOutcomes()
{
    for (auto it = unsettled.begin(); it != unsettled.end();) {
        try {
            if (it->sent)
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ?, "
                                          "LastError = NULL WHERE Outbox_Id = ?"),
                           {Database::DbTime(state.clock->now()), it.key()});
            else
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ? WHERE "
                                          "Outbox_Id = ? AND DeliveryStatus = 'SENDING'"),
                           {it->reason.isEmpty() ? QVariant(QString()) : QVariant(it->reason), it.key()});
        } catch (const DbError&) {
            return; // still not answering: next time
        }
        it = unsettled.erase(it);
    }
    settleTimer.stop();
    if (databaseWorked)
        databaseWorked();
    log.WriteActivityLog(QStringLiteral("The message database answers again: the Outbox rows it could not update "
                                        "have been updated."));
    RefreshMessageBox();
}

bool Delivery::ReceiveAllSIMMessages(qint16 listWait, std::function<void()> finished)
{
    if (reception)
        return false;
    if (!state.IsConnected) {
        state.dialogs->message(NotCommunicating);
        if (finished)
            finished();
        return true;
    }
    reception = std::make_unique<Reception>();
    reception->finished = std::move(finished);
    link.request<ListResult>(
        ModemLink::Work::Listing,
        [listWait](ModemRoutines& modem) { return modem.ListSIMMessages(QStringLiteral("ALL"), listWait); }, nullptr,
        [this](const ListResult& r) { listed(r); });
    return true;
}

void Delivery::listed(const ListResult& r)
{
    if (!reception)
        return;
    reception->listingDone = true;
    if (r.aborted || r.portClosed) {
        endReception(); // disconnected meanwhile: nothing was listed
        return;
    }
    const int count = int(r.records.size());
    if (count < 1) {
        log.Write(ActivityLog::Check::Reception, QStringLiteral("No new SMS found on SIM card."));
        if (joinParts() && state.MessageBoxOpen && messageBox) {
            messageBox->fillTreeView();
            messageBox->redraw();
        }
        endReception();
        return;
    }
    log.Write(ActivityLog::Check::Reception,
              QStringLiteral("Received total %1 new SMS. They have been put in 'Inbox'.").arg(count));
    log.Show(ActivityLog::Check::Reception);
    if (receptionProgress)
        receptionProgress(count, false);

    // Marks of copies listed no longer are stale (deleted, or the SIM was changed).
    QVariantList listedIndexes;
    for (const SIMMessage& m : r.records)
        listedIndexes << Trim(m.Index).toInt();
    try {
        QStringList marks(listedIndexes.size(), QStringLiteral("?"));
        db.execute(QStringLiteral("UPDATE Message_InBox SET SimIndex = NULL WHERE SimIndex IS NOT NULL AND SimIndex "
                                  "NOT IN (%1)")
                       .arg(marks.isEmpty() ? QStringLiteral("NULL") : marks.join(QLatin1Char(','))),
                   listedIndexes);
    } catch (const DbError&) {
        // Harmless: a stale mark only matters for an identical message at the same index.
    }

    bool anyReceived = false;
    for (const SIMMessage& m : r.records) {
        if (m.Status != QLatin1String("REC READ") && m.Status != QLatin1String("REC UNREAD"))
            continue; // stored outgoing messages stay on the SIM
        const int index = Trim(m.Index).toInt();
        std::optional<qint64> part;
        bool report = false;
        std::optional<Pdu::Deliver> pdu;
        if (!m.Pdu.isEmpty()) {
            const Pdu::Type type = Pdu::typeOf(m.Pdu);
            if (type == Pdu::Type::StatusReport) {
                // A delivery report kept on the SIM: once it is on its row, it is deleted.
                report = RecordStatusReport(Pdu::decodeStatusReport(m.Pdu));
                if (report)
                    deleteFromSim(index, {});
                continue;
            }
            if (type != Pdu::Type::Deliver)
                continue;
            pdu = Pdu::decodeDeliver(m.Pdu);
            if (!pdu->ok()) {
                log.WriteActivityLog(QStringLiteral("**ERROR** The SMS at %1 on the SIM card cannot be read (%2). It "
                                                    "stays on the SIM card.")
                                         .arg(index)
                                         .arg(pdu->error));
                continue;
            }
        }
        const QString number = NormaliseSenderNumber(m.Number);
        // Received On is when the service centre took the message, when the listing says; else now.
        const QDateTime sentOn = m.SentOn.isValid() ? m.SentOn : ParseServiceCentreTime(m.Timestamp);
        const QDateTime now = sentOn.isValid() ? sentOn.toLocalTime() : state.clock->now();
        if (pdu && pdu->concatenation.isPart()) {
            // One part of a long message: kept until the others have come.
            qint64 partId = 0;
            try {
                partId = storePart(number, *pdu, now, index);
            } catch (const DbError& e) {
                log.WriteActivityLog(
                    QStringLiteral("**ERROR** A part of an SMS from %1 could not be stored (%2). It stays on "
                                   "the SIM card until the next check.")
                        .arg(number, e.description()));
                break;
            }
            deleteFromSim(index, [this, partId] {
                db.execute(QStringLiteral("UPDATE Message_Parts SET SimIndex = NULL WHERE Part_Id = ?"), {partId});
            });
            continue;
        }
        qint64 id = 0;
        bool stored = false;
        try {
            // Stored by a run that stopped before deleting the SIM copy: only the deletion is left to do.
            Query already(db,
                          QStringLiteral("SELECT InBox_Id FROM Message_InBox WHERE SimIndex = ? AND SenderMobileNo = ? "
                                         "AND Message = ? AND InboxDateTime = ?"),
                          {index, number, m.Text, Database::DbTime(now)});
            if (already.next()) {
                id = already.value(0).toLongLong();
                stored = true;
            } else {
                id = db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, "
                                              "InboxDateTime, SimIndex) VALUES (?, 0, ?, ?, ?)"),
                               {number, m.Text, Database::DbTime(now), index});
            }
        } catch (const DbError& e) {
            // The message stays on the SIM and is imported by the next run; deleting it would lose it.
            log.WriteActivityLog(
                QStringLiteral("**ERROR** The SMS from %1 could not be put in the Inbox (%2). It stays on "
                               "the SIM card until the next check.")
                    .arg(number, e.description()));
            break;
        }
        if (!stored) {
            anyReceived = true;
            announceReceived(number, m.Text, now, id);
        }
        // Deleted from the SIM only now that its row is stored.
        deleteFromSim(index, [this, id] {
            db.execute(QStringLiteral("UPDATE Message_InBox SET SimIndex = NULL WHERE InBox_Id = ?"), {id});
        });
    }
    anyReceived = joinParts() || anyReceived;
    if (anyReceived && state.MessageBoxOpen && messageBox) {
        messageBox->fillTreeView();
        messageBox->redraw();
    }
    if (reception && reception->deletionsLeft == 0)
        endReception();
}

void Delivery::announceReceived(const QString& number, const QString& text, const QDateTime& on, qint64 id)
{
    if (state.MessageBoxOpen && messageBox && messageBox->isInBoxSelected()) {
        QString shown = Trim(text);
        shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        messageBox->addInboxRowAtTop(Trim(number), shown, on, id);
        messageBox->redraw();
    }
    state.sound->PlayWaveFile(ProgramFile(QStringLiteral("SMSNotify.wav")), true);
    if (messageReceived)
        messageReceived(number, text);
}

void Delivery::deleteFromSim(int index, std::function<void()> deleted)
{
    if (reception)
        ++reception->deletionsLeft;
    link.request<CommandResult>(
        ModemLink::Work::Deletion, [index](ModemRoutines& modem) { return modem.DeleteSIMMessage(index); }, nullptr,
        [this, deleted = std::move(deleted)](const CommandResult& result) {
            if (result.ok && deleted) {
                try {
                    deleted();
                } catch (const DbError&) {
                    // The mark is cleared when the index is no longer listed.
                }
            }
            if (reception && --reception->deletionsLeft == 0)
                endReception();
        });
}

qint64 Delivery::storePart(const QString& number, const Pdu::Deliver& part, const QDateTime& sentOn, int simIndex)
{
    const Pdu::Concatenation& c = part.concatenation;
    // The same part again (left on the SIM by a stopped run, or repeated by the network) is not kept twice.
    Query already(db,
                  QStringLiteral("SELECT Part_Id FROM Message_Parts WHERE SenderMobileNo = ? AND Reference = ? AND "
                                 "PartCount = ? AND PartNumber = ? AND (InBox_Id IS NULL OR SimIndex = ?)"),
                  {number, c.reference, c.total, c.sequence, simIndex});
    if (already.next())
        return already.value(0).toLongLong();
    return db.insert(QStringLiteral("INSERT INTO Message_Parts (SenderMobileNo, Reference, PartCount, PartNumber, "
                                    "Message, SentOn, ReceivedOn, SimIndex) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                     {number, c.reference, c.total, c.sequence, part.text, Database::DbTime(sentOn),
                      Database::DbTime(state.clock->now()), simIndex});
}

bool Delivery::joinParts()
{
    struct Group {
        QString number;
        int reference, count;
    };
    QList<Group> ready;
    bool stored = false;
    try {
        // Joined parts whose SIM copies are gone are no longer needed.
        db.execute(QStringLiteral("DELETE FROM Message_Parts WHERE InBox_Id IS NOT NULL AND SimIndex IS NULL"));
        const QString limit = Database::DbTime(state.clock->now().addSecs(-PartsWaitHours * 3600));
        Query q(db,
                QStringLiteral("SELECT SenderMobileNo, Reference, PartCount FROM Message_Parts WHERE InBox_Id IS "
                               "NULL GROUP BY SenderMobileNo, Reference, PartCount HAVING count(DISTINCT "
                               "PartNumber) >= PartCount OR min(ReceivedOn) < ?"),
                {limit});
        while (q.next())
            ready.append({q.value(0).toString(), q.value(1).toInt(), q.value(2).toInt()});
        for (const Group& g : ready) {
            db.beginTransaction();
            try {
                Query parts(db,
                            QStringLiteral("SELECT PartNumber, Message, SentOn FROM Message_Parts WHERE InBox_Id IS "
                                           "NULL AND SenderMobileNo = ? AND Reference = ? AND PartCount = ? ORDER BY "
                                           "PartNumber, Part_Id"),
                            {g.number, g.reference, g.count});
                QMap<int, QString> texts;
                QDateTime sentOn;
                while (parts.next()) {
                    const int n = parts.value(0).toInt();
                    if (!texts.contains(n))
                        texts.insert(n, parts.value(1).toString());
                    const QDateTime t = Database::FromDbTime(parts.value(2));
                    if (n == 1 || !sentOn.isValid())
                        sentOn = n == 1 ? t : std::min(sentOn.isValid() ? sentOn : t, t);
                }
                // A part that never came is marked where it belongs, so that what did come is not lost.
                QString text;
                for (int n = 1; n <= g.count; ++n)
                    text += texts.contains(n) ? texts.value(n)
                                              : QStringLiteral("[part %1 of %2 did not arrive]").arg(n).arg(g.count);
                const qint64 id =
                    db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, "
                                             "InboxDateTime) VALUES (?, 0, ?, ?)"),
                              {g.number, text, Database::DbTime(sentOn.isValid() ? sentOn : state.clock->now())});
                db.execute(QStringLiteral("UPDATE Message_Parts SET InBox_Id = ? WHERE InBox_Id IS NULL AND "
                                          "SenderMobileNo = ? AND Reference = ? AND PartCount = ?"),
                           {id, g.number, g.reference, g.count});
                db.commit();
                if (texts.size() < g.count)
                    log.WriteActivityLog(
                        QStringLiteral("An SMS from %1 in %2 parts is stored with %3 of them: the others did not "
                                       "arrive within %4 hours.")
                            .arg(g.number)
                            .arg(g.count)
                            .arg(texts.size())
                            .arg(PartsWaitHours));
                stored = true;
                announceReceived(g.number, text, sentOn.isValid() ? sentOn.toLocalTime() : state.clock->now(), id);
            } catch (const DbError&) {
                db.rollback();
                throw;
            }
        }
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** The parts of a long SMS could not be joined (%1). They are "
                                            "kept and joined at the next check.")
                                 .arg(e.description()));
    }
    return stored;
}

void Delivery::StatusReportArrived(const QString& hex)
{
    const Pdu::StatusReport report = Pdu::decodeStatusReport(hex);
    if (!report.ok()) {
        log.WriteActivityLog(QStringLiteral("**ERROR** A delivery report could not be read (%1).").arg(report.error));
        return;
    }
    if (!RecordStatusReport(report) && run)
        earlyReports.append(hex);
}

bool Delivery::RecordStatusReport(const Pdu::StatusReport& report)
{
    if (!report.ok())
        return false;
    const QString reference = QString::number(report.messageReference);
    try {
        // The most recent sent row with this reference among its parts' and a number with the same digits.
        Query q(db,
                QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, PartReferences, PartsDelivered FROM "
                               "Message_OutBox WHERE DeliveryDatetime IS NOT NULL AND (',' || PartReferences || ',') "
                               "LIKE ? ORDER BY Outbox_Id DESC LIMIT 20"),
                {QStringLiteral("%,") + reference + QStringLiteral(",%")});
        auto digits = [](const QString& n) {
            QString d;
            for (QChar c : n)
                if (c.isDigit())
                    d += c;
            return d.right(9);
        };
        while (q.next()) {
            if (digits(q.value(1).toString()) != digits(report.recipient))
                continue;
            const qint64 id = q.value(0).toLongLong();
            const int parts = int(q.value(2).toString().split(QLatin1Char(','), Qt::SkipEmptyParts).size());
            const Pdu::StatusGroup group = Pdu::statusGroup(report.status);
            QString status = Pdu::statusText(report.status);
            int delivered = q.value(3).toInt();
            if (group == Pdu::StatusGroup::Completed) {
                delivered = std::min(parts, delivered + 1);
                status = delivered >= parts ? QStringLiteral("Delivered")
                                            : QStringLiteral("Delivered %1 of %2 parts").arg(delivered).arg(parts);
            }
            db.execute(QStringLiteral("UPDATE Message_OutBox SET ReportStatus = ?, ReportedAt = ?, PartsDelivered = ? "
                                      "WHERE Outbox_Id = ?"),
                       {status,
                        Database::DbTime(report.dischargeTime.isValid() ? report.dischargeTime : state.clock->now()),
                        delivered, id});
            log.WriteActivityLog(
                QStringLiteral("Delivery report for the SMS to %1: %2").arg(q.value(1).toString(), status));
            RefreshMessageBox();
            return true;
        }
    } catch (const DbError& e) {
        if (databaseFailed)
            databaseFailed(e);
    }
    return false;
}

void Delivery::endReception()
{
    if (!reception)
        return;
    auto finished = std::move(reception->finished);
    reception.reset();
    if (receptionProgress)
        receptionProgress(0, true);
    if (finished)
        finished();
}

void Delivery::RecordCallStatistics(const QString& callerNumber)
{
    try {
        db.execute(QStringLiteral(
                       "INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) VALUES (?, ?, ?)"),
                   {callerNumber.isEmpty() ? QVariant(QString()) : QVariant(callerNumber),
                    Database::DbTime(state.clock->now()), Database::DbBool(true)});
    } catch (const DbError& e) {
        if (databaseFailed)
            databaseFailed(e);
    }
}
