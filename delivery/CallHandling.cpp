#include "delivery/CallHandling.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Paths.h"
#include "common/PeriodicTimer.h"
#include "common/Seams.h"
#include "delivery/Delivery.h"
#include "modem/ModemLink.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"

CallHandling::CallHandling(AppState& state, Database& db, ActivityLog& log, ModemLink& link, Delivery& delivery)
    : state(state), db(db), log(log), link(link), delivery(delivery)
{}

void CallHandling::OnComm(const Unsolicited& u)
{
    switch (u.kind) {
    case Unsolicited::Ring:
        RingDetected = true;
        ringSinceWatch = true;
        state.sound->PlayWaveFile(ProgramFile(QStringLiteral("ringing.wav")), true);
        if (RingCounter == 1) {
            CLIPFoundCounter = 0;
            displayDeferred = false;
        }
        ++RingCounter;
        break;
    case Unsolicited::CallerId: {
        ringSinceWatch = true;
        // Caller numbers count only when caller identification was asked for.
        if (!link.callerIdRequested() || u.number.isEmpty())
            break;
        ++CLIPFoundCounter;
        LastCallerNumber = u.number;
        log.WriteActivityLog(QStringLiteral("ALERT : Incoming call detected from the number '") + u.number +
                             QLatin1Char('\''));
        if (CLIPFoundCounter == 1) {
            delivery.RecordCallStatistics(u.number);
            LastCallStatus = QStringLiteral("RINGING");
            if (callRecorded)
                callRecorded(u.number);
        }
        if (!state.ChildWindowOpen)
            IdentifyCallerNumber(u.number);
        else if (RingCounter > 1 && !displayDeferred) {
            // A ring is no answer to anything the user did: a notice, once a call, not a box per caller line.
            displayDeferred = true;
            state.dialogs->notice(
                QStringLiteral("Please close all opened forms in application to disply Incomming Call."));
        }
        break;
    }
    case Unsolicited::NoCarrier:
        // The call ended. LastCallStatus stays, so a call that rang and ended still gets its reply.
        RingCounter = 1;
        RingDetected = false;
        inCall = false;
        if (holdWork)
            holdWork(false);
        break;
    default:
        break;
    }
}

void CallHandling::IdentifyCallerNumber(const QString& callerNumber)
{
    ++identified;
    try {
        QString number = callerNumber;
        if (number.startsWith(QLatin1Char('+')))
            number.remove(0, 1);
        else if (number.startsWith(QLatin1String("00")))
            number.remove(0, 2);
        UserId = CountryID = CountryCode = QStringLiteral("0");
        MobileNumber = QStringLiteral("0");
        IsLastCallerNumberMobile = false;

        qsizetype prefixLength = 0;
        Query country(db, QStringLiteral("SELECT CountryId, CountryCode FROM Country ORDER BY rowid"));
        while (country.next()) {
            const QString stored = country.value(1).toString();
            const QString code = Trim(stored);
            if (code.isEmpty())
                continue;
            if (code == Trim(number.left(stored.size()))) {
                prefixLength = stored.size();
                CountryCode = number.left(prefixLength);
                CountryID = country.value(0).toString();
                break;
            }
        }
        QString national = number.mid(prefixLength);
        if (national.startsWith(QLatin1Char('0')) && national.size() >= 11)
            national.remove(0, 1);
        if (national.startsWith(QLatin1Char('9'))) {
            IsLastCallerNumberMobile = true;
            MobileNumber = national;
        }
    } catch (const DbError& e) {
        // Asked by a ringing call, not by the user: no box that would hold the modem's work up.
        if (databaseFailed)
            databaseFailed(e);
    }
}

void CallHandling::CallWatched(const CallStatusResult& r)
{
    if (r.aborted || r.portClosed)
        return;
    if (r.callInProgress) {
        inCall = true;
        if (holdWork)
            holdWork(true);
    } else {
        inCall = false;
        const QString st = Trim(RemoveCrLf(r.status)).toUpper();
        if (st.contains(QLatin1String("OK"))) {
            if (RingDetected) {
                RingCounter = 1;
                RingDetected = false;
            }
            if (holdWork)
                holdWork(false);
        }
    }
    AutoReplyToMissedCall(r);
}

void CallHandling::AutoReplyToMissedCall(const CallStatusResult& r)
{
    if (!state.AutoReplyActive)
        return;
    // Missed: the first caller number was seen, and now the modem lists no voice call and no ring came
    // since the question was asked.
    if (LastCallStatus.toUpper() != QLatin1String("RINGING") || LastCallerNumber.size() < 10 ||
        !IsLastCallerNumberMobile || !r.noCall || ringSinceWatch || state.AutoReplyText.isEmpty())
        return;
    try {
        // A caller on the opt-out list gets no reply; the call is still recorded.
        if (OptOutRepository(db).contains(Trim(LastCallerNumber))) {
            log.WriteActivityLog(
                QStringLiteral("No reply to the missed call from %1: the number is on the opt-out list.")
                    .arg(Trim(LastCallerNumber)));
            LastCallStatus.clear();
            LastCallerNumber.clear();
            IsLastCallerNumberMobile = false;
            return;
        }
        // The reply goes out from the modem that was called.
        OutboxRepository(db).queueMessage(Trim(LastCallerNumber), state.AutoReplyText, state.clock->now(),
                                          delivery.modemId, QueueOptions::AutoReply());
    } catch (const DbError& e) {
        if (databaseFailed)
            databaseFailed(e);
        return;
    }
    LastCallStatus.clear();
    LastCallerNumber.clear();
    IsLastCallerNumberMobile = false;
}
