#include "delivery/Delivery.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Paths.h"
#include "common/Seams.h"
#include "delivery/MessageBoxView.h"
#include "modem/ModemLink.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

namespace {

const QString NotCommunicating =
    QStringLiteral("Computer is not communicating with the modem. Please select the option "
                   "'Listen To Modem' before executing any modem commands.");

// Rows waiting to be sent.
const QString Eligible = QStringLiteral("DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR DeliveryStatus = '')");

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
    if (digits.isEmpty())
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

struct Delivery::Run {
    int total = 0;
    int handled = 0;
    int failed = 0;
    qint64 lastId = 0;  // the run ends at the highest id waiting when it started
    qint64 afterId = 0; // rows are taken one at a time in queueing order
    bool lastSent = false;
    int pauseBeforeNextMs = 0; // the pause after a delivered message, kept before the next one
    std::function<void()> finished;
};

struct Delivery::Reception {
    int deletionsLeft = 0;
    bool listingDone = false;
    std::function<void()> finished;
};

Delivery::Delivery(AppState& state, Database& db, ActivityLog& log, ModemLink& link)
    : state(state), db(db), log(log), link(link)
{}

Delivery::~Delivery() = default;

void Delivery::RefreshMessageBox()
{
    if (state.MessageBoxOpen && messageBox) {
        messageBox->redraw();
        messageBox->fillTreeView();
    }
}

bool Delivery::SendAllOutboxSMS(std::function<void()> finished)
{
    if (run)
        return false;
    try {
        // The selection is taken now: rows queued during the run wait for the next one.
        const qint64 total = db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + Eligible);
        log.WriteActivityLog(QStringLiteral("Total %1 SMS to be sent.").arg(total));
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
        run->lastId =
            db.scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox WHERE ") + Eligible).toLongLong();
    } catch (const DbError& e) {
        state.dialogs->message(e.description());
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
    try {
        while (state.IsConnected) {
            qint64 id = 0;
            QString recipient, message;
            {
                Query row(db,
                          QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, Message FROM Message_OutBox WHERE ") +
                              Eligible +
                              QStringLiteral(" AND Outbox_Id > ? AND Outbox_Id <= ? ORDER BY Outbox_Id LIMIT 1"),
                          {run->afterId, run->lastId});
                if (!row.next())
                    break;
                id = row.value(0).toLongLong();
                recipient = row.value(1).toString();
                message = row.value(2).toString();
            }
            run->afterId = id;

            const QString number = CleanRecipientNumber(recipient);
            if (!IsValidRecipientNumber(number))
                continue; // stays in the Outbox, silently
            const QString text = Trim(message);
            const QVariant mode = [&] {
                Query q(db, QStringLiteral("SELECT SMSDelevaryMode FROM Timer_setting ORDER BY rowid LIMIT 1"));
                return q.next() ? QVariant(q.value(0).toString()) : QVariant();
            }();
            if (!mode.isValid())
                continue;
            const bool storeFirst = mode.toString() == QLatin1String("STORE AND DELIVER");

            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENDING' WHERE Outbox_Id = ?"),
                       {id});
            log.WriteActivityLog(QStringLiteral("Sending SMS to ") + number +
                                 (storeFirst ? QStringLiteral(" using GSM modem and method - STORE & DELIVER.")
                                             : QStringLiteral(" using GSM modem and method - DIRECT DELIVERY.")));
            const int pause = run->pauseBeforeNextMs;
            run->pauseBeforeNextMs = 0;
            link.request<SubmitResult>(
                ModemLink::Work::Submission,
                [number, text, storeFirst, pause](ModemRoutines& modem) {
                    modem.pause(pause);
                    return storeFirst ? modem.StoreAndSendSMS(number, text) : modem.SendSMSDirect(number, text);
                },
                nullptr, [this, id, number, storeFirst](const SubmitResult& r) { rowDone(id, number, storeFirst, r); });
            return;
        }
    } catch (const DbError& e) {
        // The current row may stay 'SENDING' until the next connect returns it to waiting.
        state.dialogs->message(e.description());
    }
    endRun();
}

void Delivery::rowDone(qint64 id, const QString& number, bool storeFirst, const SubmitResult& r)
{
    if (!run)
        return;
    ++run->handled;
    try {
        if (!r.sent) {
            ++run->failed;
            if (!storeFirst)
                log.WriteActivityLog(QStringLiteral("**ERROR** SMS could not be sent to ") + number +
                                     QStringLiteral(" (Possible Reasons: 1> Phone out of coverage area   2> No balance "
                                                    "credit on your SIM     3> Trying to send International SMS (with "
                                                    "'+' sign) which may not be allowed from your SIM Card.)"));
            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '' WHERE Outbox_Id = ?"), {id});
            run->lastSent = false;
        } else {
            run->lastSent = true;
            if (!storeFirst)
                log.WriteActivityLog(QStringLiteral("SMS sent successfully. Now removing it from outbox."));
            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ? "
                                      "WHERE Outbox_Id = ?"),
                       {Database::DbTime(state.clock->now()), id});
            RefreshMessageBox();
            run->pauseBeforeNextMs = storeFirst ? 100 : ScaledDelay(state.ModemDelayFactor, 75);
        }
    } catch (const DbError& e) {
        state.dialogs->message(e.description());
        endRun();
        return;
    }
    if (deliveryProgress)
        deliveryProgress(run->handled, run->total, run->failed, false);
    nextRow();
}

void Delivery::endRun()
{
    if (!run)
        return;
    const bool lastSent = run->lastSent;
    const int handled = run->handled, total = run->total, failed = run->failed;
    auto finished = std::move(run->finished);
    run.reset();
    if (deliveryProgress)
        deliveryProgress(handled, total, failed, true);
    if (state.MessageBoxOpen && lastSent)
        RefreshMessageBox();
    if (finished)
        finished();
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
        log.WriteActivityLog(QStringLiteral("No new SMS found on SIM card."));
        endReception();
        return;
    }
    log.WriteActivityLog(QStringLiteral("Received total %1 new SMS. They have been put in 'Inbox'.").arg(count));
    if (receptionProgress)
        receptionProgress(count, false);

    bool anyReceived = false;
    for (const SIMMessage& m : r.records) {
        if (m.Status != QLatin1String("REC READ") && m.Status != QLatin1String("REC UNREAD"))
            continue; // stored outgoing messages stay on the SIM
        anyReceived = true;
        const QString number = NormaliseSenderNumber(m.Number);
        const QDateTime now = state.clock->now();
        qint64 id = 0;
        try {
            id =
                db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime) "
                                         "VALUES (?, 0, ?, ?)"),
                          {number, m.Text, Database::DbTime(now)});
        } catch (const DbError& e) {
            // The message stays on the SIM and is imported by the next run; deleting it would lose it.
            log.WriteActivityLog(
                QStringLiteral("**ERROR** The SMS from %1 could not be put in the Inbox (%2). It stays on "
                               "the SIM card until the next check.")
                    .arg(number, e.description()));
            break;
        }
        if (state.MessageBoxOpen && messageBox && messageBox->isInBoxSelected()) {
            QString shown = Trim(m.Text);
            shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
            messageBox->addInboxRowAtTop(Trim(number), shown, now, id);
            messageBox->redraw();
        }
        state.sound->PlayWaveFile(ProgramFile(QStringLiteral("SMSNotify.wav")), true);
        if (messageReceived)
            messageReceived(number, m.Text);
        // Deleted from the SIM only now that its row is stored.
        ++reception->deletionsLeft;
        const int index = Trim(m.Index).toInt();
        link.request<CommandResult>(
            ModemLink::Work::Deletion, [index](ModemRoutines& modem) { return modem.DeleteSIMMessage(index); }, nullptr,
            [this](const CommandResult&) {
                if (reception && --reception->deletionsLeft == 0)
                    endReception();
            });
    }
    if (anyReceived && state.MessageBoxOpen && messageBox) {
        messageBox->fillTreeView();
        messageBox->redraw();
    }
    if (reception->deletionsLeft == 0)
        endReception();
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
        state.dialogs->message(e.description());
    }
}
