#include "delivery/Delivery.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Paths.h"
#include "common/Seams.h"
#include "delivery/MessageBoxView.h"
#include "modem/Modem.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <QThread>

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

Delivery::Delivery(AppState& state, Database& db, ActivityLog& log, Modem& modem)
    : state(state), db(db), log(log), modem(modem)
{}

void Delivery::pause(int ms)
{
    if (ms <= 0)
        return;
    QThread::msleep(static_cast<unsigned long>(ms)); // no events between rows
    pausedMs += ms;
}

void Delivery::RefreshMessageBox()
{
    if (state.MessageBoxOpen && messageBox) {
        messageBox->redraw();
        messageBox->fillTreeView();
    }
}

void Delivery::SendAllOutboxSMS()
{
    try {
        // The selection is taken now: rows queued during the run wait for the next one. Rows are fetched
        // one at a time in queueing order, so a row deleted meanwhile is simply not sent.
        const qint64 total = db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + Eligible);
        log.WriteActivityLog(QStringLiteral("Total %1 SMS to be sent.").arg(total));
        if (total == 0)
            return;
        if (!state.IsConnected) {
            log.WriteActivityLog(NotCommunicating);
            state.dialogs->message(NotCommunicating);
            return;
        }
        const qint64 lastId =
            db.scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox WHERE ") + Eligible).toLongLong();
        qint64 afterId = 0;
        bool lastSent = false;
        while (state.IsConnected) {
            qint64 id = 0;
            QString recipient, message;
            {
                Query row(db,
                          QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, Message FROM Message_OutBox WHERE ") +
                              Eligible +
                              QStringLiteral(" AND Outbox_Id > ? AND Outbox_Id <= ? ORDER BY Outbox_Id LIMIT 1"),
                          {afterId, lastId});
                if (!row.next())
                    break;
                id = row.value(0).toLongLong();
                recipient = row.value(1).toString();
                message = row.value(2).toString();
            }
            afterId = id;

            const QString number = CleanRecipientNumber(recipient);
            state.SendingBusy = true;
            if (!IsValidRecipientNumber(number)) {
                state.SendingBusy = false;
                continue; // stays in the Outbox, silently
            }
            const QString text = Trim(message);
            const QVariant mode = [&] {
                Query q(db, QStringLiteral("SELECT SMSDelevaryMode FROM Timer_setting ORDER BY rowid LIMIT 1"));
                return q.next() ? QVariant(q.value(0).toString()) : QVariant();
            }();
            if (!mode.isValid()) {
                state.SendingBusy = false;
                continue;
            }
            const bool storeFirst = mode.toString() == QLatin1String("STORE AND DELIVER");

            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENDING' WHERE Outbox_Id = ?"),
                       {id});
            QString response;
            if (!storeFirst) {
                log.WriteActivityLog(QStringLiteral("Sending SMS to ") + number +
                                     QStringLiteral(" using GSM modem and method - DIRECT DELIVERY."));
                response = modem.SendSMSDirect(number, text);
            } else {
                log.WriteActivityLog(QStringLiteral("Sending SMS to ") + number +
                                     QStringLiteral(" using GSM modem and method - STORE & DELIVER."));
                response = modem.StoreAndSendSMS(number, text);
            }

            if (response.contains(QLatin1String("ERROR"))) {
                if (!storeFirst)
                    log.WriteActivityLog(
                        QStringLiteral("**ERROR** SMS could not be sent to ") + number +
                        QStringLiteral(" (Possible Reasons: 1> Phone out of coverage area   2> No balance "
                                       "credit on your SIM     3> Trying to send International SMS (with "
                                       "'+' sign) which may not be allowed from your SIM Card.)"));
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '' WHERE Outbox_Id = ?"), {id});
                lastSent = false;
            } else {
                lastSent = true;
                if (!storeFirst)
                    log.WriteActivityLog(QStringLiteral("SMS sent successfully. Now removing it from outbox."));
                db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ? "
                                          "WHERE Outbox_Id = ?"),
                           {Database::DbTime(state.clock->now()), id});
                RefreshMessageBox();
                pause(storeFirst ? 100 : ScaledDelay(state.ModemDelayFactor, 75));
            }
            state.SendingBusy = false;
        }
        if (state.MessageBoxOpen && lastSent)
            RefreshMessageBox();
    } catch (const DbError& e) {
        state.dialogs->message(e.description());
    }
}

void Delivery::ReceiveAllSIMMessages(qint16 listWait)
{
    if (!state.IsConnected) {
        state.dialogs->message(NotCommunicating);
        return;
    }
    state.ReceivingBusy = true;
    modem.ListSIMMessages(QStringLiteral("ALL"), listWait);
    state.ReceivingBusy = false;
    const int count = modem.SIMMessageCount;
    if (count < 1) {
        log.WriteActivityLog(QStringLiteral("No new SMS found on SIM card."));
        return;
    }
    log.WriteActivityLog(QStringLiteral("Received total %1 new SMS. They have been put in 'Inbox'.").arg(count));

    // The listing is copied: the deletions below run exchanges during which another listing could run.
    const std::vector<SIMMessage> listed(modem.SIMMessageList.begin(), modem.SIMMessageList.begin() + count);
    bool anyReceived = false;
    for (const SIMMessage& m : listed) {
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
        modem.DeleteSIMMessage(Trim(m.Index).toInt());
    }
    if (anyReceived && state.MessageBoxOpen && messageBox) {
        messageBox->fillTreeView();
        messageBox->redraw();
    }
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
