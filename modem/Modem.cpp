#include "modem/Modem.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "modem/MSComm.h"
#include "store/ActivityLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

const QString CR = QStringLiteral("\r");
const QString CtrlZ = QString(QChar(26));
const QString Quote = QStringLiteral("\"");

} // namespace

Modem::Modem(AppState& state, ActivityLog& log, MSComm& port, QObject* parent)
    : QObject(parent), state(state), log(log), comm(port)
{
    connect(&comm, &MSComm::hungUp, this, &Modem::portHungUp);
}

int Modem::delay(double ms) const
{
    return ScaledDelay(state.ModemDelayFactor, ms);
}

void Modem::sleep(int ms)
{
    if (ms <= 0)
        return;
    QThread::msleep(static_cast<unsigned long>(ms));
    sleptMs += ms;
}

void Modem::portHungUp()
{
    state.IsConnected = false;
    state.ModemReady = false;
    state.CommandBusy = false;
    state.SendingBusy = false;
    state.ReceivingBusy = false;
    log.WriteActivityLog(QStringLiteral("**ERROR** The modem on COM Port %1 (%2) stopped answering: the device was "
                                        "disconnected. The port has been closed.")
                             .arg(comm.CommPort())
                             .arg(comm.device()));
    Q_EMIT connectionLost();
}

void Modem::ClearReceiveBuffer()
{
    state.ReceiveBuffer.clear();
}

QString Modem::ExecuteATCommand(const QString& command, int pollDelayMs, const QString& expectedText, bool binaryInput,
                                bool convertToText, int maxEmptyPolls, const QString& errorText)
{
    Depth inExchange(depth);
    state.CommandBusy = true;
    state.LastCommandOK = true;
    const QString expected = Trim(expectedText);
    int emptyPolls = 0, errorAnswers = 0, noCarrierAnswers = 0, unexpectedAnswers = 0;

    comm.setInBufferCount(0);
    if (!comm.PortOpen()) {
        state.IsConnected = false;
        state.LastCommandOK = false;
        state.dialogs->message(QStringLiteral("Modem is currently not connected to the application. Please click on "
                                              "'Connect' button before executing any commands."));
        state.CommandBusy = false;
        return {};
    }
    ClearReceiveBuffer();
    comm.setInputMode(binaryInput ? 1 : 0);
    if (!state.IsConnected) {
        state.LastCommandOK = false;
        state.CommandBusy = false;
        return {};
    }

    comm.Output(command.toLatin1());
    sleep(pollDelayMs);
    QString response = WaitForResponse(expected, binaryInput && convertToText);

    while (!response.contains(expected) && errorAnswers < 3 && noCarrierAnswers < 2 && emptyPolls < maxEmptyPolls + 1 &&
           unexpectedAnswers < 2) {
        if (!state.IsConnected)
            break; // the port went away: nothing more will come
        sleep(pollDelayMs);
        response = WaitForResponse(expected, binaryInput && convertToText);
        if (response.contains(QLatin1String("ERROR")))
            ++errorAnswers;
        else if (response.isEmpty() && !expected.isEmpty())
            ++emptyPolls;
        else if (response.contains(QLatin1String("NO CARRIER")))
            ++noCarrierAnswers;
        else if (!expected.isEmpty() && !response.contains(expected))
            ++unexpectedAnswers;
    }

    const bool found = response.contains(expected);
    if (errorAnswers >= 3) {
        if (!Trim(errorText).isEmpty())
            state.dialogs->message(errorText);
        state.LastCommandOK = false;
    }
    if (noCarrierAnswers >= 2) {
        state.dialogs->message(QStringLiteral("Your modem probably does not support the dialing feature."));
        state.LastCommandOK = false;
    }
    // An answer that did arrive, even on the poll after the last allowed empty one, is a success.
    if (emptyPolls >= maxEmptyPolls && !found)
        state.LastCommandOK = false;
    if (unexpectedAnswers >= 2) {
        log.WriteActivityLog(QStringLiteral("Modem gives non expected response\r\nCommand: ") + command +
                             QStringLiteral("\r\nExpected response: ") + expected +
                             QStringLiteral("\r\nReturned response: ") + response);
        state.LastCommandOK = false;
    }
    if (!state.IsConnected && !found)
        state.LastCommandOK = false;
    state.CommandBusy = false;
    return response;
}

QString Modem::WaitForResponse(const QString& expected, bool convert)
{
    Q_UNUSED(convert); // input is always taken as single-byte text
    Depth inWait(depth);
    state.CommandBusy = true;
    QString token = Trim(expected).isEmpty() ? QStringLiteral("OK\r\n") : expected;
    int rounds = 0;
    bool error = false;
    do {
        QCoreApplication::processEvents();
        if (!state.IsConnected) {
            state.CommandBusy = false;
            return {};
        }
        state.ReceiveBuffer += QString::fromLatin1(comm.Input());
        if (state.ReceiveBuffer.isEmpty())
            break;
        if (!state.ReceiveBuffer.contains(token) && state.ReceiveBuffer.contains(QLatin1String("ERROR\r\n"))) {
            error = true;
            break;
        }
        if (state.ReceiveBuffer.contains(QLatin1String("NO CARRIER\r\n"))) {
            token = QStringLiteral("NO CARRIER");
            break;
        }
        ++rounds;
    } while (!(rounds > 5 || state.ReceiveBuffer.contains(token)));

    if (error)
        state.ReceiveBuffer = QStringLiteral("ERROR");
    comm.setInBufferCount(0);
    const QString result = Trim(state.ReceiveBuffer);
    state.CommandBusy = false;
    return result;
}

void Modem::ConfigureComPort(int portNumber, const QString& settings)
{
    if (comm.PortOpen()) {
        state.dialogs->message(
            QStringLiteral("Comm Port : %1 already open or some other program is using it.").arg(portNumber));
        return;
    }
    comm.setCommPort(portNumber);
    comm.setInputLen(0);
    comm.setDTREnable(true);
    comm.setHandshaking(2);
    comm.setRThreshold(1);
    comm.setSThreshold(1);
    comm.setSettings(settings);
    comm.setDTREnable(true);
    state.IsConnected = true;
}

void Modem::OpenComPort()
{
    if (!comm.PortOpen()) {
        log.WriteActivityLog(QStringLiteral("Opening COM Port"));
        const MSComm::Error e = comm.setPortOpen(true);
        if (e) {
            log.WriteActivityLog(QStringLiteral("**ERROR** Error occured while opening the COM Port. Error number: %1 "
                                                "Description: %2")
                                     .arg(e.number)
                                     .arg(e.description));
            state.IsConnected = false;
            if (e.number == MSComm::InvalidPortNumber) {
                if (state.dialogs->question(QStringLiteral("No modem found on COM Port %1\r\nDo you wish to enter the "
                                                           "correct COM port settings for the attached modem?")
                                                .arg(comm.CommPort())) &&
                    openSettings)
                    openSettings();
            } else {
                state.dialogs->message(e.description);
            }
            return;
        }
        state.IsConnected = true;
    }
    log.WriteActivityLog(QStringLiteral("COM Port opened successfully."));
}

void Modem::CloseComPort()
{
    if (comm.PortOpen()) {
        comm.setPortOpen(false);
        state.IsConnected = false;
    }
    state.ModemReady = false;
    state.CommandBusy = false;
    state.SendingBusy = false;
    state.ReceivingBusy = false;
}

void Modem::InitializeModem(const QString& flowControl, const QString& characterSet, bool enabledCallerId)
{
    const int d = delay(50);
    callerId = false;
    auto logResponse = [this](const QString& command, const QString& response) {
        log.WriteActivityLog(QStringLiteral("Response for ") + command + QStringLiteral(" is '") +
                             RemoveCrLf(response) + QLatin1Char('\''));
    };

    if (IsNumeric(flowControl) && RoundHalfEven(NumericValue(flowControl)) != 0) {
        const QString command = QStringLiteral("AT+FLO=") + flowControl;
        const QString r = ExecuteATCommand(command + CR, d, QStringLiteral("OK"), false, true, 5, QString());
        log.WriteActivityLog(QStringLiteral("Response for ") + command + QStringLiteral(" is '") + r +
                             QLatin1Char('\''));
    }

    QString r = ExecuteATCommand(QStringLiteral("ATE0") + CR, d, QStringLiteral("OK"), false, true, 5,
                                 QStringLiteral("Error occured while executing this command: ATE0"));
    logResponse(QStringLiteral("ATE0"), r);
    if (!state.LastCommandOK) {
        CloseComPort();
        return;
    }

    const QString cscs = QStringLiteral("AT+CSCS=") + Quote + characterSet + Quote;
    r = ExecuteATCommand(cscs + CR, d, QStringLiteral("OK"), false, true, 5,
                         QStringLiteral("Error occured while executing this command: AT+CSCS"));
    logResponse(cscs, r);
    if (!state.LastCommandOK) {
        CloseComPort();
        return;
    }

    if (enabledCallerId) {
        callerId = true;
        r = ExecuteATCommand(QStringLiteral("AT+CLIP=1") + CR, d, QStringLiteral("OK"), false, true, 5,
                             QStringLiteral("Your modem does not support 'CallerID' feature."));
        logResponse(QStringLiteral("AT+CLIP=1"), r);
        if (!state.LastCommandOK) {
            CloseComPort();
            return;
        }
    }

    r = ExecuteATCommand(QStringLiteral("AT+CMGF=1") + CR, d, QStringLiteral("OK"), false, true, 5,
                         QStringLiteral("Error occured while executing this command: AT+CMGF=1"));
    logResponse(QStringLiteral("AT+CMGF=1"), r);
    if (state.LastCommandOK) {
        state.ModemReady = true;
        return;
    }
    CloseComPort();
}

QString Modem::GetManufacturerId()
{
    return IdentityLine(
        ExecuteATCommand(QStringLiteral("AT+CGMI") + CR, delay(50), QStringLiteral("OK"), false, true, 5, {}));
}

QString Modem::GetModelId()
{
    return IdentityLine(
        ExecuteATCommand(QStringLiteral("AT+CGMM") + CR, delay(50), QStringLiteral("OK"), false, true, 5, {}));
}

QString Modem::GetCallStatus()
{
    return CallStatusFromResponse(
        ExecuteATCommand(QStringLiteral("AT+CLCC") + CR, delay(120), QStringLiteral("OK"), false, true, 4, {}));
}

void Modem::ListSIMMessages(QString status, int pollDelayMs)
{
    state.ReceivingBusy = true;
    status = status.toUpper();
    const QString call = Trim(RemoveCrLf(GetCallStatus())).toUpper();
    // A call in progress (or no answer at all): hold the periodic work off until the call watch's next
    // exchange ends.
    if (!call.contains(QLatin1String("ERROR")) && !call.contains(QLatin1String("OK")))
        state.CommandBusy = true;
    if (state.CommandBusy || !state.IsConnected) {
        SIMMessageCount = 0;
        state.ReceivingBusy = false;
        return;
    }
    const QString command = QStringLiteral("AT+CMGL=") + Quote + status + Quote;
    const QString r =
        ExecuteATCommand(command + QStringLiteral("\r\n"), pollDelayMs, QStringLiteral("OK"), false, true, 5, {});
    log.WriteActivityLog(QStringLiteral("Response for ") + command + QStringLiteral(" is '") + r + QLatin1Char('\''));
    if (r.isEmpty() || !state.LastCommandOK) {
        SIMMessageCount = 0;
        state.ReceivingBusy = false;
        return;
    }
    SIMMessageList = ParseMessageListing(r);
    SIMMessageCount = static_cast<qint16>(std::min<size_t>(SIMMessageList.size(), 32767));
    state.ReceivingBusy = false;
}

QString Modem::DeleteSIMMessage(int index)
{
    return ExecuteATCommand(QStringLiteral("AT+CMGD=%1").arg(index) + CR, delay(150), QStringLiteral("OK"), false, true,
                            5, QStringLiteral("Error occured while executing this command: AT+CMGD=%1").arg(index));
}

void Modem::DeleteSIMMessagesByStatus(QString status)
{
    status = status.toUpper();
    ListSIMMessages(status, delay(200));
    for (int i = 0; i < SIMMessageCount; ++i) {
        const QString index = SIMMessageList[i].Index;
        ExecuteATCommand(QStringLiteral("AT+CMGD=") + index + CR, delay(100), QStringLiteral("OK"), false, true, 5,
                         QStringLiteral("Error occured while executing this command: AT+CMGD=") + index);
    }
}

QString Modem::waitForFinalAnswer(QString response)
{
    QElapsedTimer clock;
    clock.start();
    while (!response.contains(QLatin1String("OK")) && !response.contains(QLatin1String("ERROR")) && state.IsConnected &&
           clock.elapsed() < finalAnswerTimeoutMs) {
        const QString next = WaitForResponse(QStringLiteral("OK"), true);
        if (next == response)
            QThread::msleep(20); // nothing new yet; the response wait itself let events run
        response = next;
    }
    return response;
}

QString Modem::SendSMSDirect(const QString& number, const QString& text)
{
    state.SendingBusy = true;
    QString message = text;
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QString result;
    for (const QString& part : SplitIntoParts(message)) {
        if (state.CommandBusy || !state.IsConnected) {
            result = QStringLiteral("ERROR");
            break;
        }
        const QString header = QStringLiteral("AT+CMGS=") + Quote + number + Quote;
        QString r = ExecuteATCommand(header + CR, delay(20), QStringLiteral("> "), false, true, 10, {});
        log.WriteActivityLog(QStringLiteral("Response for ") + header + QStringLiteral(" is '") + RemoveCrLf(r) +
                             QLatin1Char('\''));
        if (r.contains(QLatin1String("ERROR")) || !state.LastCommandOK) {
            // No prompt: the modem refused or did not answer. Ctrl-Z would submit whatever it collected, so
            // nothing more is written.
            result = r.contains(QLatin1String("ERROR")) ? r : QStringLiteral("ERROR: no prompt for the message text");
            break;
        }
        r = ExecuteATCommand(part + CtrlZ, delay(250), QStringLiteral("OK"), false, true, 10, {});
        if (!r.contains(QLatin1String("ERROR")))
            r = waitForFinalAnswer(r);
        if (r.contains(QLatin1String("ERROR"))) {
            result = r;
            break;
        }
        // Only +CMGS: <reference> says the network took the message; silence or a bare OK does not.
        if (!r.contains(QLatin1String("+CMGS:"))) {
            result = QStringLiteral("ERROR: the modem did not confirm the message (") + Trim(RemoveCrLf(r)) +
                     QLatin1Char(')');
            break;
        }
        result = r;
    }
    state.SendingBusy = false;
    return result;
}

QString Modem::WriteSMSToSIM(const QString& number, const QString& partText)
{
    QString part = partText;
    part.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QString r = ExecuteATCommand(QStringLiteral("AT+CMGW=") + Quote + number + Quote + CR + part + CtrlZ, delay(75),
                                 QStringLiteral("OK"), false, true, 5,
                                 QStringLiteral("Error occured while executing this command: AT+CMGW"));
    if (!r.contains(QLatin1String("ERROR")) && !state.LastCommandOK)
        return {};
    r = waitForFinalAnswer(r);
    if (!r.contains(QLatin1String("ERROR")) && state.IsConnected)
        return ParseCmgwIndex(r);
    return {};
}

QString Modem::SendStoredSMS(int index)
{
    return ExecuteATCommand(QStringLiteral("AT+CMSS=%1").arg(index) + CR, delay(1000), QStringLiteral("OK"), false,
                            true, 5, QStringLiteral("Error occured while executing this command: AT+CMSS"));
}

QString Modem::StoreAndSendSMS(const QString& number, const QString& text)
{
    state.SendingBusy = true;
    QString result;
    for (const QString& part : SplitIntoParts(text)) {
        if (state.CommandBusy || !state.IsConnected) {
            result = QStringLiteral("ERROR");
            break;
        }
        const QString index = Trim(WriteSMSToSIM(number, part));
        if (index.isEmpty() || !state.LastCommandOK) {
            result = QStringLiteral("ERROR");
            break;
        }
        QString r = SendStoredSMS(index.toInt());
        if (!r.contains(QLatin1String("ERROR")))
            r = waitForFinalAnswer(r);
        if (!r.contains(QLatin1String("+CMSS:"))) {
            // Not sent: remove the stored copy so that retries do not fill the SIM.
            DeleteSIMMessage(index.toInt());
            result = QStringLiteral("ERROR: the modem did not send the stored message (") + Trim(RemoveCrLf(r)) +
                     QLatin1Char(')');
            break;
        }
        // The part has left; a failed clean-up must not make it count as unsent (it would be sent again).
        const QString deleted = DeleteSIMMessage(index.toInt());
        if (!deleted.contains(QLatin1String("OK")))
            log.WriteActivityLog(QStringLiteral("Could not delete the sent message %1 from the SIM card: '%2'")
                                     .arg(index, RemoveCrLf(deleted)));
        result = QStringLiteral("OK");
    }
    state.SendingBusy = false;
    return result;
}
