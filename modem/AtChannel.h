// The conversation with the modem at the level of whole lines, on the modem thread.
//
// Every byte read goes into one buffer that is cut into lines. While a command runs, its answer collects
// until a final result line (OK, ERROR, +CMS ERROR: n, +CME ERROR: n, NO CARRIER, BUSY, NO ANSWER,
// NO DIALTONE) or the "> " prompt; a listing until its parser says the last record and the final result
// have arrived. Unsolicited lines (RING, +CLIP, +CMTI, network and vendor status lines) are taken out at
// line level, inside or outside an answer, and handed to onUnsolicited. Input is thrown away only before a
// command is written, and unsolicited lines among it are still handed on.
//
// Waiting here blocks the modem thread only; the user-interface thread never waits for the modem.
#pragma once

#include "modem/AtParse.h"

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <functional>

class ModemTransport;
class ModemClock;

struct AtCommand {
    enum Expect { Final, Prompt, Listing };
    QByteArray bytes; // what is written, line end included
    Expect expect = Final;
    int minMs = 0;           // the exchange lasts at least this long: the modem's prescribed pacing
    int silenceMs = 1000;    // it fails when nothing arrives for this long
    int overallMs = 30000;   // ... or when it takes this long in all (a listing's bound grows, see AtChannel)
    QByteArray answerPrefix; // lines starting so belong to the answer even where they could come unasked
    bool pduListing = false; // a listing in PDU mode
};

struct AtResult {
    QByteArray raw; // the answer as received, without the unsolicited lines taken out of it
    FinalCode final = FinalCode::None;
    int errorNumber = -1; // of +CMS ERROR / +CME ERROR
    bool prompt = false;
    bool timedOut = false;
    bool portClosed = false; // the port was closed or the device went away
    bool aborted = false;    // the program asked to stop (Disconnect)
    ListingParse listing;
    qint64 elapsedMs = 0;

    bool ok() const { return final == FinalCode::Ok; }
    bool isError() const
    {
        return final == FinalCode::Error || final == FinalCode::CmsError || final == FinalCode::CmeError;
    }
    bool empty() const { return raw.trimmed().isEmpty(); }
    QString text() const { return QString::fromLatin1(raw); }
};

class AtChannel : public QObject {
    Q_OBJECT
public:
    // Time is read from clock only, and passes only in the port's waits.
    AtChannel(ModemTransport& port, ModemClock& clock, std::atomic<bool>& abort, QObject* parent = nullptr);

    AtResult exchange(const AtCommand& command);
    // Writes bytes that are no command (the escape that cancels a pending text entry).
    void write(const QByteArray& bytes);
    // Waits without a command, still hearing unsolicited lines.
    void sleep(int ms);
    // Hands on the unsolicited lines read so far and drops everything else; a line still arriving is kept
    // when it may be the start of an unsolicited line, unless partialLineToo.
    void discardInput(bool partialLineToo = false);

    // A call is ringing: a NO CARRIER line then ends the call instead of the answer being read.
    void setRinging(bool on) { ringing = on; }

    std::function<void(const Unsolicited&)> onUnsolicited;

    // Milliseconds spent waiting out the prescribed pacing (benchmarks subtract it).
    qint64 pacedMs = 0;

private:
    void onData();
    void process();
    void route(const QByteArray& content);
    bool listingDone();
    bool stopWaiting(AtResult& r, qint64 sinceLastByte);

    ModemTransport& port;
    ModemClock& clock;
    std::atomic<bool>& abort;
    QByteArray pending;           // bytes read and not yet taken
    QByteArray urcWaitingForBody; // +CMT / +CDS header whose second line has not come yet
    QByteArray blankLines;        // empty lines of an answer not yet known to belong to it
    const AtCommand* current = nullptr;
    AtResult* result = nullptr;
    bool done = false;
    bool ringing = false;
    int routedListingLines = 0;
    ListingParse lastParse;
    qint64 bytesRead = 0;
    qint64 lastByteAt = 0; // on the clock
};
