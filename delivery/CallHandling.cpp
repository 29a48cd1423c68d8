#include "delivery/CallHandling.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Paths.h"
#include "common/PeriodicTimer.h"
#include "common/Seams.h"
#include "delivery/Delivery.h"
#include "modem/AtParse.h"
#include "modem/MSComm.h"
#include "modem/Modem.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <QRegularExpression>
#include <QThread>

namespace {

// Takes the ringing lines (RING, +CLIP) out of the collected text. The receive event can run inside
// another exchange's wait; clearing the whole text would throw away that exchange's answer.
void removeRingLines(QString& buffer)
{
    static const QRegularExpression ringLines(QStringLiteral("(\\r\\n)?(RING|\\+CLIP:[^\\r\\n]*)\\r\\n"));
    buffer.remove(ringLines);
}

} // namespace

CallHandling::CallHandling(AppState& state, Database& db, ActivityLog& log, Modem& modem, Delivery& delivery,
                           PeriodicTimer& receiveTimer, PeriodicTimer& sendTimer)
    : state(state), db(db), log(log), modem(modem), delivery(delivery), Timer1(receiveTimer), Timer2(sendTimer)
{}

void CallHandling::OnComm()
{
    if (modem.port().CommEvent() != MSComm::comEvReceive)
        return;
    const QString s = modem.WaitForResponse(QStringLiteral("RING"), true);
    if (s.contains(QLatin1String("RING"))) {
        RingDetected = true;
        QThread::msleep(100); // give the caller-id line time to follow the RING
        const QString s2 = modem.WaitForResponse(QStringLiteral("CLIP"), true);
        state.sound->PlayWaveFile(ProgramFile(QStringLiteral("ringing.wav")), true);
        if (RingCounter == 1)
            CLIPFoundCounter = 0;
        ++RingCounter;
        // Caller numbers count only when caller identification was asked for: otherwise a number could come
        // from the call watch's own AT+CLCC answer waiting in the same text.
        if (modem.callerIdRequested() && (s2.contains(QLatin1String("+CLIP")) || s2.contains(QLatin1String("+CLCC")))) {
            const QString number = ExtractCallerNumber(s2);
            if (!number.isEmpty()) {
                ++CLIPFoundCounter;
                LastCallerNumber = number;
                log.WriteActivityLog(QStringLiteral("ALERT : Incoming call detected from the number '") + number +
                                     QLatin1Char('\''));
                if (CLIPFoundCounter == 1) {
                    delivery.RecordCallStatistics(number);
                    LastCallStatus = QStringLiteral("RINGING");
                }
                if (!state.ChildWindowOpen)
                    IdentifyCallerNumber(number);
                else if (RingCounter > 1)
                    state.dialogs->message(
                        QStringLiteral("Please close all opened forms in application to disply Incomming Call."));
            }
        }
        removeRingLines(state.ReceiveBuffer);
    }
    if (s.contains(QLatin1String("NO CARRIER"))) {
        // The call ended. LastCallStatus stays, so a call that rang and ended still gets its reply.
        RingCounter = 1;
        RingDetected = false;
        state.CommandBusy = false;
        Timer1.setEnabled(true);
        Timer2.setEnabled(true);
    }
}

void CallHandling::IdentifyCallerNumber(const QString& callerNumber)
{
    ++identifications;
    try {
        QString number = callerNumber;
        if (number.startsWith(QLatin1Char('+')))
            number.remove(0, 1);
        else if (number.startsWith(QLatin1String("00")))
            number.remove(0, 2);
        userId = CountryID = CountryCode = QStringLiteral("0");
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
        state.dialogs->message(e.description());
    }
}

void CallHandling::CallWatch()
{
    if (state.IsConnected && state.ModemReady && !state.SendingBusy && !state.ReceivingBusy) {
        const QString st = Trim(RemoveCrLf(modem.GetCallStatus())).toUpper();
        if (st == QLatin1String("ACTIVE") || st == QLatin1String("INCOMING") || st == QLatin1String("DIALING") ||
            st == QLatin1String("ALERTING")) {
            state.CommandBusy = true;
            Timer1.setEnabled(false);
            Timer2.setEnabled(false);
        } else {
            state.CommandBusy = false;
            state.SendingBusy = false;
            if (st.contains(QLatin1String("OK"))) {
                if (RingDetected) {
                    RingCounter = 1;
                    RingDetected = false;
                }
                Timer1.setEnabled(true);
                Timer2.setEnabled(true);
            }
        }
    } else if (state.IsConnected && state.ModemReady) {
        if (state.SendingBusy)
            Timer2.setEnabled(true);
        else if (state.ReceivingBusy)
            Timer1.setEnabled(true);
    }
}

void CallHandling::AutoReplyToMissedCall()
{
    if (!state.AutoReplyActive)
        return;
    auto ringing = [](const QString& s) {
        return s.contains(QLatin1String("CLCC")) || s.contains(QLatin1String("CLIP")) ||
               s.contains(QLatin1String("RING"));
    };
    QString s = modem.WaitForResponse(QStringLiteral("RING"), true);
    if (LastCallStatus.toUpper() != QLatin1String("RINGING") || LastCallerNumber.size() < 10 || ringing(s) ||
        !IsLastCallerNumberMobile)
        return;
    s = modem.WaitForResponse(QStringLiteral("RING"), true);
    if (LastCallStatus != QLatin1String("RINGING") || ringing(s) || !s.contains(QLatin1String("OK")) ||
        state.AutoReplyText.isEmpty())
        return;
    db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                              "VALUES (0, ?, ?, ?)"),
               {Trim(LastCallerNumber), state.AutoReplyText, Database::DbTime(state.clock->now())});
    LastCallStatus.clear();
    LastCallerNumber.clear();
    IsLastCallerNumberMobile = false;
    state.CommandBusy = false;
}
