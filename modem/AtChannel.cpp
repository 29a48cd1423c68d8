#include "modem/AtChannel.h"

#include "modem/Transport.h"

namespace {

// How long a listing whose headers announce no lengths must stay quiet after a final "OK" line before that
// line is taken for the end of the answer rather than for a line of a message text.
int quietAfterFinalMs(qint32 baud)
{
    return std::max(150, int(40 * 10 * 1000LL / std::max(baud, 300)));
}

bool isPrompt(const QByteArray& partial)
{
    QByteArray p = partial;
    while (p.startsWith('\r') || p.startsWith('\n'))
        p.remove(0, 1);
    return p == "> " || p == ">";
}

} // namespace

AtChannel::AtChannel(ModemTransport& port, ModemClock& clock, std::atomic<bool>& abort, QObject* parent)
    : QObject(parent), port(port), clock(clock), abort(abort)
{
    connect(&port, &ModemTransport::OnComm, this, &AtChannel::onData);
}

void AtChannel::onData()
{
    const QByteArray bytes = port.Input();
    if (bytes.isEmpty())
        return;
    lastByteAt = clock.nowMs();
    bytesRead += bytes.size();
    pending += bytes;
    process();
}

void AtChannel::route(const QByteArray& content)
{
    Unsolicited u = ParseUnsolicited(content);
    if (u.kind == Unsolicited::None)
        return;
    if (u.kind == Unsolicited::Ring)
        ringing = true;
    else if (u.kind == Unsolicited::NoCarrier)
        ringing = false;
    if (onUnsolicited)
        onUnsolicited(u);
}

void AtChannel::process()
{
    const bool listing = current && current->expect == AtCommand::Listing && !done;
    if (listing) {
        result->raw += pending;
        pending.clear();
        listingDone();
        return;
    }
    for (;;) {
        const qsizetype lf = pending.indexOf('\n');
        if (lf < 0) {
            if (current && !done && current->expect == AtCommand::Prompt && isPrompt(pending)) {
                result->raw += blankLines + pending;
                blankLines.clear();
                pending.clear();
                result->prompt = true;
                done = true;
            }
            return;
        }
        const QByteArray line = pending.left(lf + 1);
        pending.remove(0, lf + 1);
        const QByteArray content = LineContent(line);

        if (!urcWaitingForBody.isEmpty()) {
            Unsolicited u = ParseUnsolicited(urcWaitingForBody);
            u.body = content;
            urcWaitingForBody.clear();
            if (onUnsolicited)
                onUnsolicited(u);
            continue;
        }
        if (!current || done) {
            // Between answers only unsolicited lines mean something; anything else is a stray line.
            if (UnsolicitedHasBody(content))
                urcWaitingForBody = content;
            else
                route(content);
            continue;
        }
        if (current->expect == AtCommand::Prompt && isPrompt(content)) {
            // The prompt, followed at once by an unsolicited line that gave it a line end.
            result->raw += blankLines + line;
            blankLines.clear();
            result->prompt = true;
            done = true;
            continue;
        }
        if (content.isEmpty()) {
            // Held back: the empty line that opens an unsolicited line goes out of the answer with it.
            blankLines += line;
            continue;
        }
        if (!current->answerPrefix.isEmpty() && content.startsWith(current->answerPrefix)) {
            result->raw += blankLines + line;
            blankLines.clear();
            continue;
        }
        int number = -1;
        const FinalCode final = FinalResultOf(content, &number);
        if (final == FinalCode::NoCarrier && ringing) {
            route(content); // the caller gave up; the command's own answer is still to come
            continue;
        }
        if (final != FinalCode::None) {
            result->raw += blankLines + line;
            blankLines.clear();
            result->final = final;
            result->errorNumber = number;
            done = true;
            continue; // what follows is read as between answers
        }
        if (ParseUnsolicited(content).kind != Unsolicited::None) {
            blankLines.clear();
            if (UnsolicitedHasBody(content))
                urcWaitingForBody = content;
            else
                route(content);
            continue;
        }
        result->raw += blankLines + line;
        blankLines.clear();
    }
}

bool AtChannel::listingDone()
{
    lastParse = ParseListing(result->raw, current && current->pduListing, std::move(lastParse));
    ListingParse& parse = lastParse;
    for (qsizetype i = routedListingLines; i < parse.unsolicited.size(); ++i)
        route(parse.unsolicited.at(i));
    routedListingLines = int(parse.unsolicited.size());
    if (!parse.complete)
        return false;
    if (!parse.lengthsKnown && parse.final == FinalCode::Ok) {
        // Without lengths a line "OK" may belong to a text: the answer has ended only if nothing follows.
        if (clock.nowMs() - lastByteAt < quietAfterFinalMs(port.baudRate()))
            return false;
    }
    result->final = parse.final;
    result->errorNumber = parse.errorNumber;
    result->listing = parse;
    done = true;
    return true;
}

void AtChannel::discardInput(bool partialLineToo)
{
    port.waitForInput(0); // whole lines read meanwhile are taken as between answers
    process();
    if (partialLineToo) {
        pending.clear();
        return;
    }
    // A line still arriving is kept when it can be the start of an unsolicited line, and dropped when it
    // can be a late result of an earlier command, which the next command must not take for its own.
    const QByteArray partial = LineContent(pending);
    for (const char* final : {"OK", "ERROR", "+CMS ERROR:", "+CME ERROR:", "BUSY", "NO ANSWER", "NO DIALTONE", ">"}) {
        const QByteArray f(final);
        if (!partial.isEmpty() && (f.startsWith(partial) || partial.startsWith(f))) {
            pending.clear();
            return;
        }
    }
}

void AtChannel::write(const QByteArray& bytes)
{
    port.Output(bytes);
}

bool AtChannel::stopWaiting(AtResult& r, qint64 sinceLastByte)
{
    if (abort.load()) {
        r.aborted = true;
        return true;
    }
    if (!port.PortOpen()) {
        r.portClosed = true;
        return true;
    }
    if (sinceLastByte > current->silenceMs) {
        r.timedOut = true;
        return true;
    }
    qint64 overall = current->overallMs;
    if (current->expect == AtCommand::Listing) {
        // A long listing on a slow line takes as long as its bytes need: the bound grows with what was
        // received and what the headers announce, counted at twice the time of a 9600 baud line (the port's
        // own speed says little: a modem behind USB or a slow one sends at its own pace).
        const qint64 bytes = r.raw.size() + lastParse.announcedBytesOutstanding;
        overall += 2 * bytes * 10 * 1000 / std::min(std::max(port.baudRate(), 300), 9600);
    }
    if (r.elapsedMs > overall) {
        r.timedOut = true;
        return true;
    }
    return false;
}

AtResult AtChannel::exchange(const AtCommand& command)
{
    AtResult r;
    discardInput();
    if (!port.PortOpen()) {
        r.portClosed = true;
        return r;
    }
    current = &command;
    result = &r;
    done = false;
    blankLines.clear();
    routedListingLines = 0;
    lastParse = {};
    const qint64 started = clock.nowMs();
    lastByteAt = started;
    port.Output(command.bytes);
    while (!done) {
        r.elapsedMs = clock.nowMs() - started;
        if (stopWaiting(r, clock.nowMs() - lastByteAt))
            break;
        const qint64 before = bytesRead;
        port.waitForInput(20);
        // A listing without lengths may be waiting for its quiet time after a final line.
        if (!done && command.expect == AtCommand::Listing && bytesRead == before && lastParse.complete)
            listingDone();
    }
    r.raw += blankLines;
    blankLines.clear();
    current = nullptr;
    result = nullptr;
    if (command.expect == AtCommand::Listing && r.listing.complete && r.listing.end >= 0) {
        // Bytes after the final line (an unsolicited line, say) are read as between answers.
        pending.prepend(r.raw.mid(r.listing.end));
        r.raw.truncate(r.listing.end);
    } else if (command.expect == AtCommand::Listing && !done) {
        pending.clear(); // an unfinished listing: nothing of it is read as anything else
    }
    process();
    r.elapsedMs = clock.nowMs() - started;
    if (!r.aborted && !r.portClosed && r.elapsedMs < command.minMs) {
        const int rest = int(command.minMs - r.elapsedMs);
        sleep(rest);
        pacedMs += rest;
        r.elapsedMs = clock.nowMs() - started;
    }
    return r;
}

void AtChannel::sleep(int ms)
{
    const qint64 started = clock.nowMs();
    while (!abort.load() && port.PortOpen()) {
        const qint64 left = ms - (clock.nowMs() - started);
        if (left <= 0)
            break;
        port.waitForInput(int(std::min<qint64>(left, 50)));
    }
    if (!port.PortOpen()) {
        // Nothing to hear: still keep the pace, the caller may be measuring it (a closed port's wait
        // takes the time all the same).
        const qint64 left = ms - (clock.nowMs() - started);
        if (left > 0 && !abort.load())
            port.waitForInput(int(left));
    }
}
