#include "modem/ModemRoutines.h"

#include "modem/HealthParse.h"
#include "modem/Pdu.h"

#include "common/Charset.h"
#include "common/FunctionsLibrary.h"

#include <algorithm>

namespace {

const QByteArray CR = "\r";
const char CtrlZ = 26;
const char Escape = 27;

// A silent modem fails an exchange after the prescribed number of empty polls, but never sooner than this:
// giving up costs nothing to wait for, while giving up too early makes a slow modem fail.
constexpr int MinimumSilenceMs = 1000;

QByteArray quoted(const QString& s)
{
    return '"' + s.toLatin1() + '"';
}

// The answer as the log and the results show it: a plain error is "ERROR", whatever came before it.
QString shownAnswer(const AtResult& r)
{
    return r.final == FinalCode::Error ? QStringLiteral("ERROR") : Trim(r.text());
}

} // namespace

ModemRoutines::ModemRoutines(std::atomic<bool>& abort, QObject* parent, const ModemPlumbing& plumbing)
    : QObject(parent), abort(abort), transport(plumbing.transport ? plumbing.transport() : std::make_unique<MSComm>()),
      comm(*transport), channel(comm, plumbing.clock ? *plumbing.clock : ModemClock::steady(), abort, this)
{
    comm.setParent(this); // moves to the modem thread with the routines
    channel.onUnsolicited = [this](const Unsolicited& u) {
        if (unsolicited)
            unsolicited(u);
    };
    connect(&comm, &ModemTransport::hungUp, this, &ModemRoutines::hungUp);
}

ModemRoutines::~ModemRoutines()
{
    comm.setPortOpen(false);
}

int ModemRoutines::delay(double ms) const
{
    return ScaledDelay(ModemDelayFactor, ms);
}

void ModemRoutines::report(const LinkError& e)
{
    if (failed)
        failed(e);
}

void ModemRoutines::hungUp()
{
    if (portLost)
        portLost();
}

bool ModemRoutines::portOpen() const
{
    return comm.PortOpen();
}

void ModemRoutines::pause(int ms)
{
    if (ms <= 0)
        return;
    channel.sleep(ms);
    pausedMs += ms;
}

void ModemRoutines::logResponse(const QString& command, const AtResult& r)
{
    log(QStringLiteral("Response for ") + command + QStringLiteral(" is '") + RemoveCrLf(shownAnswer(r)) +
        QLatin1Char('\''));
}

AtResult ModemRoutines::ExecuteATCommand(const QByteArray& command, const Pacing& pacing, const QString& expected,
                                         const QString& reportedAs)
{
    return ExecuteATCommand(command, delay(pacing), expected, pacing.emptyPolls, reportedAs);
}

AtResult ModemRoutines::ExecuteATCommand(const QByteArray& command, int pollDelayMs, const QString& expected,
                                         int maxEmptyPolls, const QString& reportedAs)
{
    AtCommand c;
    c.bytes = command;
    c.expect = Trim(expected) == QLatin1String(">") ? AtCommand::Prompt : AtCommand::Final;
    c.minMs = pollDelayMs;
    c.silenceMs = std::max(pollDelayMs * (maxEmptyPolls + 2), MinimumSilenceMs);
    // Answers whose own lines could be taken for unsolicited ones keep them.
    static const std::pair<QByteArray, QByteArray> ownLines[] = {
        {"AT+CLCC", "+CLCC:"}, {"AT+CREG?", "+CREG:"}, {"AT+CCID", "^SCID:"}};
    for (const auto& [prefix, line] : ownLines)
        if (command.startsWith(prefix))
            c.answerPrefix = line;
    const AtResult r = channel.exchange(c);
    if (r.isError()) {
        if (!Trim(reportedAs).isEmpty())
            report(LinkError::of(r, Trim(reportedAs)));
    } else if (r.final == FinalCode::NoCarrier) {
        report(LinkError::of(r, QString::fromLatin1(command).trimmed()));
    } else if (c.expect == AtCommand::Prompt && !r.prompt && r.final != FinalCode::None) {
        log(QStringLiteral("Modem gives non expected response\r\nCommand: ") + QString::fromLatin1(command) +
            QStringLiteral("\r\nExpected response: ") + Trim(expected) + QStringLiteral("\r\nReturned response: ") +
            r.text());
    }
    return r;
}

MSComm::Error ModemRoutines::OpenComPort(int port, const QString& settings)
{
    if (comm.PortOpen()) {
        report(LinkError{LinkError::AlreadyOpen, port, {}, {}});
        return {};
    }
    comm.setCommPort(port);
    comm.setInputLen(0);
    comm.setDTREnable(true);
    comm.setHandshaking(2);
    comm.setRThreshold(1);
    comm.setSThreshold(1);
    comm.setSettings(settings);
    comm.setDTREnable(true);
    log(QStringLiteral("Opening COM Port"));
    const MSComm::Error e = comm.setPortOpen(true, paths);
    if (e) {
        log(QStringLiteral("**ERROR** Error occured while opening the COM Port. Error number: %1 Description: %2")
                .arg(e.number)
                .arg(e.description));
        return e;
    }
    log(QStringLiteral("COM Port opened successfully."));
    return {};
}

ConnectResult ModemRoutines::Connect(const ConnectRequest& request)
{
    ConnectResult result;
    result.openError = OpenComPort(request.port, request.settings);
    if (result.openError)
        return result;
    result.opened = true;
    result.device = comm.device();
    log(QStringLiteral("Setting the communication parameters for the modem."));
    const Linked<> initialised = InitializeModem(Trim(request.flowControl), Trim(request.characterSet),
                                                 request.callerId, request.pduMode, request.statusReports);
    result.ready = initialised.ok();
    result.error = initialised.error();
    if (result.ready)
        result.identity = ModemIdentity();
    result.aborted = abort.load();
    result.portClosed = !comm.PortOpen();
    return result;
}

Linked<> ModemRoutines::InitializeModem(const QString& flowControl, const QString& characterSet, bool enabledCallerId,
                                        bool pdu, bool reports)
{
    callerId = false;
    pduMode = pdu;
    statusReports = pdu && reports;
    // A new connection: the modem may have been reset or replaced.
    relayLink = RelayLink::Unasked;
    simIdentityRead = false;
    imsi.clear();
    iccid.clear();

    // A session that ended while the modem waited for a message text ("> ") left it waiting: without the
    // escape it would take the next commands for that text and answer none of them.
    cancelTextEntry();

    const auto flow = IsNumeric(flowControl) ? RoundHalfEven(NumericValue(flowControl)) : std::nullopt;
    const QString wanted = ModemCharacterSet(characterSet);
    const QString cmgf = pduMode ? QStringLiteral("AT+CMGF=0") : QStringLiteral("AT+CMGF=1");
    QString chosen;
    auto only = [](bool when, const QString& command) {
        return [when, command] { return when ? command : QString(); };
    };
    using Log = SequenceStep::Log;
    const std::vector<SequenceStep> steps = {
        // A modem that refuses the flow control the settings name works without it.
        {.command = only(flow && *flow != 0, QStringLiteral("AT+FLO=") + flowControl), .logged = Log::Raw},
        {.command = only(true, QStringLiteral("ATE0")), .mandatory = true, .reportedAs = QStringLiteral("ATE0")},
        // The settings' item names the set; the modem is asked which sets it has, and GSM, then IRA, stand in
        // for one it lacks.
        {.command = only(true, QStringLiteral("AT+CSCS=?")),
         .logged = Log::None,
         .process =
             [&](const AtResult& offered) {
                 const QStringList supported = offered.ok() ? ParseCharacterSets(offered.text()) : QStringList();
                 chosen = ChooseCharacterSet(wanted, supported);
                 unicodeOffered = supported.isEmpty() || supported.contains(QLatin1String("UCS2"));
                 log(chosen == wanted
                         ? QStringLiteral("Character set in use: %1").arg(chosen)
                         : QStringLiteral("Character set in use: %1 (the modem has no %2)").arg(chosen, wanted));
             }},
        {.command = [&] { return QStringLiteral("AT+CSCS=") + QString::fromLatin1(quoted(chosen)); },
         .mandatory = true,
         .reportedAs = QStringLiteral("AT+CSCS"),
         .process =
             [&](const AtResult& r) {
                 if (!r.ok())
                     return;
                 charsetName = chosen;
                 charset = Charset::fromName(chosen).value_or(Charset::Set::Ira);
             }},
        {.command = only(enabledCallerId, QStringLiteral("AT+CLIP=1")),
         .mandatory = true,
         .reportedAs = QStringLiteral("AT+CLIP=1"),
         .process = [this](const AtResult&) { callerId = true; }},
        {.command = only(true, cmgf), .mandatory = true, .reportedAs = cmgf},
        // PDU mode: delivery reports come as +CDS lines with their PDU; a modem that will not route them so
        // keeps them in its store, where the listing finds them.
        {.command = only(pduMode && statusReports, QStringLiteral("AT+CNMI=2,1,0,1,0"))},
        // Text mode: listing headers then announce each text's length, so that a text is cut where it ends,
        // whatever lines it holds. A modem that does not know the command lists without lengths, and is not
        // asked again.
        {.command = only(!pduMode && !csdhRefused, QStringLiteral("AT+CSDH=1")),
         .process =
             [this](const AtResult& r) {
                 if (r.isError())
                     csdhRefused = true;
             }},
    };
    return RunSequence(steps);
}

Linked<> ModemRoutines::RunSequence(const std::vector<SequenceStep>& steps)
{
    for (const SequenceStep& step : steps) {
        const QString command = step.command ? step.command() : QString();
        if (command.isEmpty())
            continue;
        const AtResult r = ExecuteATCommand(command.toLatin1() + CR, step.pacing, step.expected, step.reportedAs);
        if (step.logged == SequenceStep::Log::Trimmed)
            logResponse(command, r);
        else if (step.logged == SequenceStep::Log::Raw)
            log(QStringLiteral("Response for ") + command + QStringLiteral(" is '") + shownAnswer(r) +
                QLatin1Char('\''));
        if (step.process)
            step.process(r);
        const bool prompt = Trim(step.expected) == QLatin1String(">");
        if (step.mandatory && !(prompt ? r.prompt : r.ok())) {
            CloseComPort();
            LinkError e = LinkError::of(r, step.reportedAs.isEmpty() ? command : step.reportedAs, prompt);
            if (e.reason == LinkError::None) // answered, yet not as expected
                e.reason = LinkError::Unexpected;
            return e;
        }
    }
    if (!comm.PortOpen())
        return LinkError{LinkError::PortClosed, -1, {}, {}};
    return {};
}

void ModemRoutines::cancelTextEntry()
{
    if (!comm.PortOpen())
        return;
    channel.write(QByteArray(1, Escape));
    channel.sleep(std::max(delay(Paces.cancelEntry), 100));
    channel.discardInput(true); // its echo, or the OK of the cancelled entry
}

void ModemRoutines::CloseComPort()
{
    comm.setPortOpen(false);
    channel.setRinging(false);
}

QString ModemRoutines::GetManufacturerId()
{
    return IdentityLine(ExecuteATCommand("AT+CGMI" + CR, Paces.identity, QStringLiteral("OK")).text());
}

QString ModemRoutines::GetModelId()
{
    return IdentityLine(ExecuteATCommand("AT+CGMM" + CR, Paces.identity, QStringLiteral("OK")).text());
}

QString ModemRoutines::ModemIdentity()
{
    // "+CCID: 8991...", "+ICCID: ...", "8991..." or the number in quotes: the value is what follows any prefix.
    auto serial = [this](const QByteArray& command) {
        const AtResult r = ExecuteATCommand(command + CR, Paces.identity, QStringLiteral("OK"));
        if (!r.ok())
            return QString();
        QString line = IdentityLine(r.text());
        line = line.mid(line.indexOf(QLatin1Char(':')) + 1).remove(QLatin1Char('"'));
        return Trim(line);
    };
    QStringList parts;
    if (const QString imei = serial("AT+CGSN"); !imei.isEmpty())
        parts << QStringLiteral("IMEI ") + imei;
    QString sim = serial("AT+CCID");
    if (sim.isEmpty())
        sim = serial("AT+CIMI");
    if (!sim.isEmpty())
        parts << QStringLiteral("SIM ") + sim;
    if (parts.isEmpty())
        parts << GetManufacturerId() << GetModelId();
    return parts.join(QStringLiteral(", "));
}

CallStatusResult ModemRoutines::GetCallStatus()
{
    CallStatusResult result;
    const AtResult r = ExecuteATCommand("AT+CLCC" + CR, Paces.callStatus, QStringLiteral("OK"));
    result.aborted = r.aborted;
    result.portClosed = r.portClosed;
    result.error = LinkError::of(r, QStringLiteral("AT+CLCC"));
    result.status = CallStatusFromResponse(r.text());
    const QString st = Trim(RemoveCrLf(result.status)).toUpper();
    result.callInProgress = st == QLatin1String("ACTIVE") || st == QLatin1String("INCOMING") ||
                            st == QLatin1String("DIALING") || st == QLatin1String("ALERTING");
    for (const CallEntry& c : ParseCallList(r.text()))
        result.voiceCall = result.voiceCall || c.mode == 0;
    result.noCall = r.ok() && !result.voiceCall;
    if (result.noCall)
        channel.setRinging(false);
    return result;
}

ListResult ModemRoutines::ListSIMMessages(const QString& statusText, int pollDelayMs)
{
    ListResult result;
    const QString status = statusText.toUpper();
    // A call in progress (or no answer at all): nothing is listed. A modem that refuses AT+CLCC lists.
    const CallStatusResult call = GetCallStatus();
    if (call.voiceCall || !(call.error.reason == LinkError::None || call.error.refusal())) {
        result.callInProgress = true;
        result.portClosed = !comm.PortOpen();
        result.aborted = abort.load();
        result.error =
            call.voiceCall ? LinkError{LinkError::Unexpected, -1, QStringLiteral("AT+CLCC"), call.status} : call.error;
        return result;
    }
    // PDU mode names the statuses by their numbers.
    const QString command = QStringLiteral("AT+CMGL=") +
                            (pduMode ? QString::number(std::max<qsizetype>(0, ListingStatusNames().indexOf(status)))
                                     : QString::fromLatin1(quoted(status)));
    AtCommand c;
    c.bytes = command.toLatin1() + "\r\n";
    c.expect = AtCommand::Listing;
    c.pduListing = pduMode;
    c.minMs = pollDelayMs;
    c.silenceMs = std::max(pollDelayMs * 7, MinimumSilenceMs * 3);
    c.overallMs = 20000;
    const AtResult r = channel.exchange(c);
    result.aborted = r.aborted;
    result.portClosed = r.portClosed;
    log(QStringLiteral("Response for ") + command + QStringLiteral(" is '") + shownAnswer(r) + QLatin1Char('\''));
    result.error = LinkError::of(r, command);
    if (!r.ok() || !r.listing.complete) {
        if (!result.error.failed()) // OK before the listing's end
            result.error = {LinkError::Unexpected, -1, command, r.text().trimmed()};
        return result;
    }
    result.listed = true;
    result.records = r.listing.records;
    for (size_t i = 0; i < result.records.size(); ++i) {
        SIMMessage& m = result.records[i];
        if (pduMode) {
            decodePduRecord(m);
            continue;
        }
        m.Text = decodeText(r.listing.bodies[i], m.Length);
        m.Number = decodeText(m.Number.toLatin1(), -1);
    }
    return result;
}

void ModemRoutines::decodePduRecord(SIMMessage& m) const
{
    // Number and Text as a text-mode listing gives them; the caller finds the rest in the PDU.
    switch (Pdu::typeOf(m.Pdu)) {
    case Pdu::Type::Deliver: {
        const Pdu::Deliver d = Pdu::decodeDeliver(m.Pdu);
        m.Number = d.sender;
        m.Text = d.ok() ? d.text : QString();
        m.SentOn = d.serviceCentreTime;
        break;
    }
    case Pdu::Type::Submit: {
        const Pdu::Submit d = Pdu::decodeSubmit(m.Pdu);
        m.Number = d.destination;
        m.Text = d.ok() ? d.text : QString();
        break;
    }
    case Pdu::Type::StatusReport: {
        const Pdu::StatusReport d = Pdu::decodeStatusReport(m.Pdu);
        m.Number = d.recipient;
        m.Text = d.ok() ? QStringLiteral("Delivery report: ") + Pdu::statusText(d.status) : QString();
        m.SentOn = d.serviceCentreTime;
        break;
    }
    case Pdu::Type::Unknown:
        m.Text.clear();
        break;
    }
}

CommandResult ModemRoutines::DeleteSIMMessage(int index)
{
    CommandResult result;
    const QString command = QStringLiteral("AT+CMGD=%1").arg(index);
    result.at = ExecuteATCommand(command.toLatin1() + CR, Paces.deleteOne, QStringLiteral("OK"), command);
    result.ok = result.at.ok();
    result.error = LinkError::of(result.at, command);
    result.aborted = result.at.aborted;
    result.portClosed = result.at.portClosed;
    return result;
}

void ModemRoutines::DeleteSIMMessagesByStatus(const QString& status)
{
    const ListResult listed = ListSIMMessages(status.toUpper(), delay(Paces.listByStatus));
    for (const SIMMessage& m : listed.records) {
        if (abort.load() || !comm.PortOpen())
            return;
        const QString command = QStringLiteral("AT+CMGD=") + m.Index;
        ExecuteATCommand(command.toLatin1() + CR, Paces.deleteListed, QStringLiteral("OK"), command);
    }
}

AtResult ModemRoutines::messageBody(const QByteArray& body, int pollDelayMs)
{
    // After the text the network decides: its answer may take many seconds and no byte comes meanwhile.
    AtCommand c;
    c.bytes = body;
    c.minMs = pollDelayMs;
    c.silenceMs = finalAnswerTimeoutMs;
    c.overallMs = finalAnswerTimeoutMs;
    return channel.exchange(c);
}

QString ModemRoutines::decodeText(const QByteArray& bytes, int announcedLength) const
{
    return ListingText(bytes, announcedLength, charset);
}

bool ModemRoutines::sendsAsText(const QString& text) const
{
    // In text mode only the basic GSM table goes as text: the escape to the extension table, and the code
    // of "Ξ" (Ctrl-Z), would end the text entry on many modems.
    return Charset::canEncode(text, Charset::Set::Gsm, false) &&
           (charset == Charset::Set::Gsm || Charset::canEncode(text, charset));
}

SubmitResult ModemRoutines::SendSMSDirect(const QString& number, const QString& text, int partsConfirmed,
                                          int concatenationReference)
{
    return submit(number, text, false, partsConfirmed, concatenationReference);
}

SubmitResult ModemRoutines::StoreAndSendSMS(const QString& number, const QString& text, int partsConfirmed,
                                            int concatenationReference)
{
    return submit(number, text, true, partsConfirmed, concatenationReference);
}

void ModemRoutines::tell(const SubmitEvent& event)
{
    if (submitEvent)
        submitEvent(event);
}

// Every part of a message as a command and a body: text in the set in use (AT+CMGS="number").
static QList<QByteArray> textCommands(const char* command, const QByteArray& to, qsizetype count)
{
    return QList<QByteArray>(count, QByteArray(command) + "=\"" + to + '"');
}

SubmitResult ModemRoutines::submit(const QString& number, const QString& text, bool storeFirst, int partsConfirmed,
                                   int concatenationReference)
{
    QString message = text;
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (pduMode)
        return submitPdus(number, message, storeFirst, partsConfirmed, concatenationReference);
    auto run = [&](const QByteArray& to, const QList<QByteArray>& bodies) {
        const QList<QByteArray> commands = textCommands(storeFirst ? "AT+CMGW" : "AT+CMGS", to, bodies.size());
        QList<Part> parts;
        for (qsizetype i = 0; i < bodies.size(); ++i)
            parts.append({commands[i], bodies[i]});
        return storeFirst ? storeAndSendParts(parts, partsConfirmed) : sendPartsDirect(parts, partsConfirmed);
    };
    if (sendsAsText(message)) {
        const QByteArray to = Charset::encode(number, charset).bytes;
        QList<QByteArray> bodies;
        for (const QString& part : SplitIntoParts(message))
            bodies << Charset::encode(part, charset, false).bytes;
        return run(to, bodies);
    }
    // Any other character: the whole message goes as UCS2, this message only; the set and the text-mode
    // parameters the modem had are put back afterwards, so the next plain message goes as text again.
    SubmitResult refused;
    refused.response = QStringLiteral("ERROR: the modem cannot send this text");
    refused.reason = QStringLiteral("Unicode text, which the modem cannot send");
    refused.error = {LinkError::Refused, -1, QStringLiteral("AT+CSCS=\"UCS2\""), refused.reason};
    if (!unicodeOffered)
        return refused;
    const Pacing& d = Paces.unicodeSwitch;
    const AtResult asked = ExecuteATCommand("AT+CSMP?" + CR, d, QStringLiteral("OK"));
    QString parameters = ParseCsmp(asked.text());
    if (parameters.isEmpty())
        parameters = QStringLiteral("17,167,0,0");
    const QStringList p = parameters.split(QLatin1Char(','));
    const QString unicodeParameters = QStringList{p.value(0), p.value(1), p.value(2), QStringLiteral("8")}.join(',');
    if (!ExecuteATCommand("AT+CSCS=\"UCS2\"" + CR, d, QStringLiteral("OK")).ok())
        return refused;
    SubmitResult result;
    if (ExecuteATCommand("AT+CSMP=" + unicodeParameters.toLatin1() + CR, d, QStringLiteral("OK")).ok()) {
        const QByteArray to = Charset::encode(number, Charset::Set::Ucs2).bytes;
        QList<QByteArray> bodies;
        for (const QString& part : Charset::split(message, Charset::Mode::Text, Charset::Encoding::Ucs2))
            bodies << Charset::encode(part, Charset::Set::Ucs2).bytes;
        result = run(to, bodies);
    } else {
        result = refused;
    }
    ExecuteATCommand("AT+CSCS=" + quoted(charsetName) + CR, d, QStringLiteral("OK"));
    ExecuteATCommand("AT+CSMP=" + parameters.toLatin1() + CR, d, QStringLiteral("OK"));
    return result;
}

SubmitResult ModemRoutines::submitPdus(const QString& number, const QString& text, bool storeFirst, int partsConfirmed,
                                       int concatenationReference)
{
    Pdu::SubmitOptions options;
    options.statusReport = statusReports;
    options.concatenationReference = concatenationReference & 0xFF;
    const Pdu::EncodeResult encoded = Pdu::encodeSubmit(number, text, options);
    if (!encoded.ok()) {
        SubmitResult refused;
        refused.response = QStringLiteral("ERROR: ") + encoded.error;
        refused.reason = encoded.error;
        refused.error = {LinkError::Refused, -1, QStringLiteral("AT+CMGS"), encoded.error};
        return refused;
    }
    QList<Part> parts;
    for (const Pdu::Encoded& e : encoded.parts)
        parts.append(
            {QByteArray(storeFirst ? "AT+CMGW=" : "AT+CMGS=") + QByteArray::number(e.tpduLength), e.hex.toLatin1()});
    return storeFirst ? storeAndSendParts(parts, partsConfirmed) : sendPartsDirect(parts, partsConfirmed);
}

SubmitResult ModemRoutines::sendPartsDirect(const QList<Part>& parts, int partsConfirmed)
{
    SubmitResult result;
    for (qsizetype part = partsConfirmed; part < parts.size(); ++part) {
        const QByteArray& body = parts.at(part).body;
        if (abort.load() || !comm.PortOpen()) {
            result.aborted = abort.load();
            result.portClosed = !comm.PortOpen();
            result.response = QStringLiteral("ERROR");
            result.reason = QStringLiteral("the modem is not connected");
            result.error = {abort.load() ? LinkError::Aborted : LinkError::PortClosed, -1, {}, {}};
            return result;
        }
        keepRelayLinkOpen();
        const QByteArray& header = parts.at(part).command;
        result.reachedModem = true;
        const AtResult prompt = ExecuteATCommand(header + CR, Paces.submitPrompt, QStringLiteral("> "));
        logResponse(QString::fromLatin1(header), prompt);
        if (!prompt.prompt) {
            result.error = LinkError::of(prompt, QStringLiteral("AT+CMGS"), true);
            // No prompt: the modem refused or did not answer. Ctrl-Z would submit whatever it collected, so
            // nothing more is written; an escape ends a text entry the modem may have opened after all.
            cancelTextEntry();
            result.final = prompt.final;
            result.errorNumber = prompt.errorNumber;
            result.response =
                prompt.isError() ? shownAnswer(prompt) : QStringLiteral("ERROR: no prompt for the message text");
            result.reason = prompt.timedOut ? QStringLiteral("no answer") : QStringLiteral("no prompt for the text");
            result.aborted = prompt.aborted;
            result.portClosed = prompt.portClosed;
            return result;
        }
        const AtResult r = messageBody(body + CtrlZ, delay(Paces.submitText));
        result.final = r.final;
        result.errorNumber = r.errorNumber;
        result.aborted = r.aborted;
        result.portClosed = r.portClosed;
        // Only +CMGS: <reference> says the network took the message; silence or a bare OK does not.
        if (!r.ok() || ParseResultNumber(r.text(), "+CMGS:").isEmpty()) {
            result.error = LinkError::of(r, QStringLiteral("AT+CMGS"));
            if (!result.error.failed()) // OK without the network's reference
                result.error = {LinkError::Unexpected, -1, QStringLiteral("AT+CMGS"), r.text().trimmed()};
            result.response = r.isError() ? shownAnswer(r)
                                          : QStringLiteral("ERROR: the modem did not confirm the message (") +
                                                Trim(RemoveCrLf(r.text())) + QLatin1Char(')');
            result.reason = r.timedOut ? QStringLiteral("no answer")
                            : r.ok()   ? QStringLiteral("bare OK")
                                       : shownAnswer(r);
            return result;
        }
        result.response = shownAnswer(r);
        ++result.partsSent;
        tell({SubmitEvent::PartSent, -1, int(part) + 1, ParseResultNumber(r.text(), "+CMGS:")});
    }
    result.sent = true;
    return result;
}

Linked<int> ModemRoutines::WriteSMSToSIM(const QString& number, const QString& partText)
{
    QString part = partText;
    part.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return writeToSim("AT+CMGW=\"" + Charset::encode(number, charset).bytes + '"',
                      Charset::encode(part, charset, false).bytes);
}

Linked<int> ModemRoutines::writeToSim(const QByteArray& command, const QByteArray& body)
{
    // The text is written once the modem asks for it: modems drop what comes before the prompt.
    const QString name = QStringLiteral("AT+CMGW");
    const AtResult prompt = ExecuteATCommand(command + CR, Paces.storePrompt, QStringLiteral("> "), name);
    if (!prompt.prompt) {
        cancelTextEntry();
        return LinkError::of(prompt, name, true);
    }
    const AtResult r = messageBody(body + CtrlZ, delay(Paces.storeText));
    const LinkError e = LinkError::of(r, name);
    if (e.refusal())
        report(e);
    if (e.failed())
        return e;
    const QString index = ParseCmgwIndex(r.text());
    if (index.isEmpty()) // OK without the index of the stored copy
        return LinkError{LinkError::Unexpected, -1, name, r.text().trimmed()};
    return index.toInt();
}

AtResult ModemRoutines::SendStoredSMS(int index)
{
    AtCommand c;
    c.bytes = QStringLiteral("AT+CMSS=%1").arg(index).toLatin1() + CR;
    // No least time here: the answer is taken as it comes, so that the caller records the message as sent
    // at once (a stop before that record sends it again). The pacing is kept before the next command.
    c.silenceMs = finalAnswerTimeoutMs;
    c.overallMs = finalAnswerTimeoutMs;
    const AtResult r = channel.exchange(c);
    if (r.isError())
        report(LinkError::of(r, QStringLiteral("AT+CMSS")));
    return r;
}

SubmitResult ModemRoutines::storeAndSendParts(const QList<Part>& parts, int partsConfirmed)
{
    SubmitResult result;
    for (qsizetype part = partsConfirmed; part < parts.size(); ++part) {
        const QByteArray& body = parts.at(part).body;
        if (abort.load() || !comm.PortOpen()) {
            result.aborted = abort.load();
            result.portClosed = !comm.PortOpen();
            result.response = QStringLiteral("ERROR");
            result.reason = QStringLiteral("the modem is not connected");
            result.error = {abort.load() ? LinkError::Aborted : LinkError::PortClosed, -1, {}, {}};
            return result;
        }
        keepRelayLinkOpen();
        result.reachedModem = true;
        const Linked<int> stored = writeToSim(parts.at(part).command, body);
        if (!stored) {
            result.response = QStringLiteral("ERROR");
            result.reason = QStringLiteral("the message could not be stored on the SIM card");
            result.error = stored.error();
            result.aborted = abort.load();
            result.portClosed = !comm.PortOpen();
            return result;
        }
        const int index = *stored;
        tell({SubmitEvent::Stored, index, int(part), {}});
        const AtResult r = SendStoredSMS(index);
        result.final = r.final;
        result.errorNumber = r.errorNumber;
        const bool confirmed = r.ok() && !ParseResultNumber(r.text(), "+CMSS:").isEmpty();
        if (confirmed)
            tell({SubmitEvent::PartSent, index, int(part) + 1, ParseResultNumber(r.text(), "+CMSS:")});
        if (!r.aborted && !r.portClosed)
            pause(int(delay(Paces.storedSendRhythm) - r.elapsedMs));
        if (!confirmed) {
            result.error = LinkError::of(r, QStringLiteral("AT+CMSS"));
            if (!result.error.failed()) // OK without the network's reference
                result.error = {LinkError::Unexpected, -1, QStringLiteral("AT+CMSS"), r.text().trimmed()};
            // Not sent: remove the stored copy so that retries do not fill the SIM.
            if (!DeleteSIMMessage(index).error.failed())
                tell({SubmitEvent::StoredRemoved, index, int(part), {}});
            result.response = QStringLiteral("ERROR: the modem did not send the stored message (") +
                              Trim(RemoveCrLf(r.text())) + QLatin1Char(')');
            result.reason = r.timedOut ? QStringLiteral("no answer")
                            : r.ok()   ? QStringLiteral("bare OK")
                                       : shownAnswer(r);
            result.aborted = r.aborted;
            result.portClosed = r.portClosed;
            return result;
        }
        // The part has left; a failed clean-up must not make it count as unsent (it would be sent again).
        ++result.partsSent;
        const CommandResult deleted = DeleteSIMMessage(index);
        if (!deleted.error.failed())
            tell({SubmitEvent::StoredRemoved, index, int(part) + 1, {}});
        else
            log(QStringLiteral("Could not delete the sent message %1 from the SIM card: '%2'")
                    .arg(QString::number(index), RemoveCrLf(shownAnswer(deleted.at))));
    }
    result.response = QStringLiteral("OK");
    result.sent = true;
    return result;
}

ProbeResult ModemRoutines::ProbeComPorts(int first, int last, const QString& settings)
{
    ProbeResult result;
    QList<int> answering;
    for (int p = first; p <= last; ++p) {
        if (abort.load()) {
            result.cancelled = true;
            return result;
        }
        if (probeProgress)
            probeProgress(p);
        comm.setCommPort(p);
        comm.setSettings(settings);
        comm.setHandshaking(2);
        // A port that does not exist or is busy fails here, silently, and costs no wait.
        if (comm.setPortOpen(true, paths))
            continue;
        AtCommand c;
        c.bytes = "AT" + CR;
        c.minMs = delay(Paces.probe);
        c.silenceMs = delay(Paces.probe) * Paces.probe.emptyPolls;
        const AtResult r = channel.exchange(c);
        if (!r.empty())
            answering << p;
        comm.setPortOpen(false);
    }
    for (int p : answering) {
        if (abort.load()) {
            result.cancelled = true;
            return result;
        }
        comm.setCommPort(p);
        comm.setSettings(settings);
        if (comm.setPortOpen(true, paths))
            continue;
        ProbeResult::Found f{p, GetManufacturerId(), GetModelId()};
        result.found.push_back(f);
        comm.setPortOpen(false);
    }
    return result;
}

void ModemRoutines::keepRelayLinkOpen()
{
    if (!moreMessagesToSend || relayLink != RelayLink::Unasked)
        return;
    const QString command = QStringLiteral("AT+CMMS=2");
    const AtResult r = ExecuteATCommand(command.toLatin1() + CR, Paces.relayLink, QStringLiteral("OK"));
    if (r.aborted || r.portClosed)
        return; // no answer to go by: asked again in the next connection
    logResponse(command, r);
    // Silence counts as a refusal too: a modem that does not know the command is not made to wait for again.
    relayLink = r.ok() ? RelayLink::Kept : RelayLink::Refused;
}

HealthResult ModemRoutines::PollHealth()
{
    HealthResult result;
    ModemHealth& h = result.health;
    auto only = [](bool when, const char* command) {
        return [when, command] { return when ? QString::fromLatin1(command) : QString(); };
    };
    using Log = SequenceStep::Log;
    const bool identity = !simIdentityRead;
    const std::vector<SequenceStep> steps = {
        {.command = only(true, "AT+CSQ"),
         .pacing = Paces.signalQuality,
         .logged = Log::None,
         .process =
             [&](const AtResult& r) {
                 if (const auto q = r.ok() ? ParseSignalQuality(r.text()) : std::nullopt) {
                     h.rssi = q->rssi;
                     h.ber = q->ber;
                 }
             }},
        {.command = only(true, "AT+CREG?"),
         .pacing = Paces.registration,
         .logged = Log::None,
         .process =
             [&](const AtResult& r) {
                 if (const auto g = r.ok() ? ParseRegistration(r.text()) : std::nullopt) {
                     h.registration = g->registration;
                     h.accessTechnology = g->accessTechnology;
                 }
             }},
        {.command = only(true, "AT+COPS?"),
         .pacing = Paces.operatorName,
         .logged = Log::None,
         .process =
             [&](const AtResult& r) {
                 if (const auto o = r.ok() ? ParseOperator(r.text()) : std::nullopt) {
                     h.operatorName = o->name;
                     if (o->accessTechnology >= 0)
                         h.accessTechnology = o->accessTechnology;
                 }
             }},
        {.command = only(identity, "AT+CIMI"),
         .pacing = Paces.simIdentity,
         .logged = Log::None,
         .process = [&](const AtResult& r) { imsi = r.ok() ? ParseImsi(r.text()) : QString(); }},
        {.command = only(identity, "AT+CCID"),
         .pacing = Paces.simIdentity,
         .logged = Log::None,
         .process = [&](const AtResult& r) { iccid = r.ok() ? ParseIccid(r.text()) : QString(); }},
    };
    const Linked<> ran = RunSequence(steps);
    result.error = ran.error();
    result.aborted = abort.load();
    result.portClosed = !comm.PortOpen();
    // The identity counts as read once the modem answered for it, even with ERROR; a poll cut short asks again.
    if (identity && !result.aborted && !result.portClosed)
        simIdentityRead = true;
    h.imsi = imsi;
    h.iccid = iccid;
    return result;
}
