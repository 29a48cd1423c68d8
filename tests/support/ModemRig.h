// A TestRig with the modem routines run directly on the test's thread (as the modem thread runs them) and
// a simulated modem as COM3: on the in-memory line with its virtual clock, or on its pseudo-terminal
// through the real serial code where a test needs a real device. Failures reported for the user go to a
// list (the words are the engine's), log lines to the activity log, unsolicited lines to a list.
#pragma once

#include "SimulatorLine.h"
#include "TestRig.h"
#include "modem/ModemRoutines.h"
#include "tools/ModemSimulator.h"

struct ModemRig : TestRig {
    enum class Line { Memory, Terminal };
    std::atomic<bool> abort{false};
    ModemSimulator sim;
    std::unique_ptr<SimulatorLine> simLine; // on the in-memory line
    ModemRoutines modem;
    QList<Unsolicited> heard;
    QList<LinkError> failures;
    int portsLost = 0;
    static constexpr int Com = 3;

    explicit ModemRig(bool openDatabase = true, Line line = Line::Memory)
        : TestRig(openDatabase), simLine(line == Line::Memory ? std::make_unique<SimulatorLine>(sim, Com) : nullptr),
          modem(abort, nullptr, simLine ? simLine->plumbing() : ModemPlumbing{})
    {
        modem.paths = PortPathsOf(state);
        modem.log = [this](const QString& line) { log.WriteActivityLog(line); };
        modem.failed = [this](const LinkError& e) { failures << e; };
        modem.unsolicited = [this](const Unsolicited& u) { heard << u; };
        modem.portLost = [this] { ++portsLost; };
        if (simLine)
            return;
        QString error;
        if (!sim.start(&error) || !sim.linkAs(state.dataDir, Com, &error))
            qFatal("simulator: %s", qPrintable(error));
    }
    explicit ModemRig(Line line) : ModemRig(true, line) {}

    bool openPort() { return !modem.OpenComPort(Com, QStringLiteral("115200,N,8,1")); }

    // Opens and initialises (echo off, text mode, caller id on).
    bool connectModem()
    {
        return openPort() && modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true).ok();
    }

    QStringList commandsStartingWith(const QString& prefix) const
    {
        QStringList out;
        for (const QString& c : sim.commands())
            if (c.startsWith(prefix))
                out << c;
        return out;
    }
};
