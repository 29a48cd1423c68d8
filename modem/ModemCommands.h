// The modem's commands as data: how long each exchange lasts at least (its pacing, times the delay factor),
// how long the modem may stay silent, and the initialisation as a list of steps that one sequencer runs.
//
// The least times are what slow modems need between commands; they were found on real modems, and a change to
// one changes what every modem sees, so they live here, next to the commands they pace, and nowhere else.
#pragma once

#include "modem/LinkError.h"

#include <QByteArray>
#include <QString>
#include <functional>

// The pacing of one kind of exchange.
struct Pacing {
    const char* commands; // which commands it paces
    double gapMs;         // least time of the exchange at delay factor 1
    int emptyPolls;       // silence allowed, in gaps, before the exchange fails (0: its own bound)
};

// Every pacing value of the modem routines.
struct PacingTable {
    Pacing setup{"AT+FLO, ATE0, AT+CSCS=?, AT+CSCS, AT+CLIP=1, AT+CMGF, AT+CNMI, AT+CSDH=1", 50, 5};
    // The escape that ends a text entry left pending, and the wait for its echo (never under 100 ms).
    Pacing cancelEntry{"ESC", 50, 0};
    Pacing identity{"AT+CGMI, AT+CGMM, AT+CGSN, AT+CCID, AT+CIMI", 50, 5};
    Pacing callStatus{"AT+CLCC", 120, 4};
    Pacing deleteOne{"AT+CMGD=<index>", 150, 5};
    // Deleting by status lists first, then deletes what it listed.
    Pacing listByStatus{"AT+CMGL=<status>", 200, 0};
    Pacing deleteListed{"AT+CMGD=<index>", 100, 5};
    // The switch to UCS2 for one message and back: AT+CSMP?, AT+CSCS="UCS2", AT+CSMP=..., AT+CSCS=...
    Pacing unicodeSwitch{"AT+CSMP?, AT+CSCS, AT+CSMP", 50, 5};
    Pacing submitPrompt{"AT+CMGS", 20, 10};
    Pacing submitText{"<text> Ctrl-Z after AT+CMGS", 250, 0};
    Pacing storePrompt{"AT+CMGW", 75, 5};
    Pacing storeText{"<text> Ctrl-Z after AT+CMGW", 75, 0};
    // From a stored message's AT+CMSS to the next command: the network's rhythm between submissions.
    Pacing storedSendRhythm{"AT+CMSS", 1000, 0};
    Pacing probe{"AT", 100, 4};
    // The health poll, run between other work at a low rate; AT+CIMI and AT+CCID once a connection.
    Pacing signalQuality{"AT+CSQ", 50, 5};
    Pacing registration{"AT+CREG?", 50, 5};
    // Some modems ask the network before they name the operator: allowed a longer silence.
    Pacing operatorName{"AT+COPS?", 100, 20};
    Pacing simIdentity{"AT+CIMI, AT+CCID", 50, 5};
    // Keeps the relay link open between submissions (AT+CMMS=2), asked once a connection before the first.
    Pacing relayLink{"AT+CMMS=2", 50, 5};
};
inline constexpr PacingTable Paces{};

// One step of a command sequence.
struct SequenceStep {
    // The command written (without CR); an empty one skips the step.
    std::function<QString()> command{};
    QString expected = QStringLiteral("OK");
    Pacing pacing = Paces.setup;
    // A mandatory step that fails stops the sequence and closes the port; an optional one is only logged.
    bool mandatory = false;
    // How the command is named when its refusal is reported upward; empty: a refusal is not reported.
    QString reportedAs{};
    // Whether the answer goes to the log as "Response for <command> is '<answer>'" with its line ends
    // taken out (Trimmed), as it came (Raw), or not at all.
    enum class Log { Trimmed, Raw, None } logged = Log::Trimmed;
    // Called with every answer of the step, before a mandatory failure stops the sequence.
    std::function<void(const AtResult&)> process{};
};
