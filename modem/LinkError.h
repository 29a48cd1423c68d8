// Why an exchange with the modem failed, as one value for every routine: the link says what went wrong (which
// command, for what reason) and leaves the words the user reads to the program above it.
#pragma once

#include "modem/AtChannel.h"

#include <QString>
#include <utility>
#include <variant>

struct LinkError {
    enum Reason {
        None,
        Aborted,     // Disconnect, or the link was shut down
        PortClosed,  // the port was not open or the device went away
        AlreadyOpen, // the port was open already (number: the COM port)
        TimedOut,    // no final answer in time
        Refused,     // ERROR
        CmsError,    // +CMS ERROR: number
        CmeError,    // +CME ERROR: number
        NoPrompt,    // an answer, but not the "> " the text waits for
        NoCarrier,   // NO CARRIER
        Unexpected,  // another final answer (BUSY, NO ANSWER, NO DIALTONE), or OK without the awaited result
    };
    Reason reason = None;
    int number = -1; // the error number of +CMS / +CME ERROR (-1 when the modem gave a text); the port
    QString command; // the command as it is named to the user ("AT+CMGW", "AT+CMGD=3")
    QString detail;  // the modem's answer, for the log

    bool failed() const { return reason != None; }
    // The modem itself said no (ERROR, +CMS ERROR, +CME ERROR).
    bool refusal() const { return reason == Refused || reason == CmsError || reason == CmeError; }

    // What an exchange's result says; None when it ended as the command expected (OK, or the prompt).
    static LinkError of(const AtResult& r, const QString& command, bool promptExpected = false)
    {
        LinkError e;
        e.command = command;
        e.number = r.errorNumber;
        e.detail = r.text().trimmed();
        if (r.aborted)
            e.reason = Aborted;
        else if (r.portClosed)
            e.reason = PortClosed;
        else if (promptExpected ? r.prompt : r.ok())
            e.reason = None;
        else if (r.final == FinalCode::Error)
            e.reason = Refused;
        else if (r.final == FinalCode::CmsError)
            e.reason = CmsError;
        else if (r.final == FinalCode::CmeError)
            e.reason = CmeError;
        else if (r.final == FinalCode::NoCarrier)
            e.reason = NoCarrier;
        else if (r.final == FinalCode::None)
            e.reason = TimedOut;
        else
            e.reason = promptExpected ? NoPrompt : Unexpected;
        if (e.reason == None)
            e.detail.clear();
        return e;
    }
};

// A routine's value, or why there is none.
template <class T = std::monostate> class Linked {
public:
    Linked(T v = {}) : v(std::move(v)) {}
    Linked(LinkError e) : e(std::move(e)) {}

    bool ok() const { return !e.failed(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return v; }
    const T& operator*() const { return v; }
    const LinkError& error() const { return e; }

private:
    T v{};
    LinkError e;
};
