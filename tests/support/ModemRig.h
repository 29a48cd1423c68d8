// A TestRig with the serial port, the modem routines and a simulated modem linked as COM3.
#pragma once

#include "TestRig.h"
#include "modem/MSComm.h"
#include "modem/Modem.h"
#include "tools/ModemSimulator.h"

struct ModemRig : TestRig {
    MSComm comm{state};
    Modem modem{state, log, comm};
    ModemSimulator sim;
    static constexpr int Com = 3;

    explicit ModemRig(bool openDatabase = true) : TestRig(openDatabase)
    {
        QString error;
        if (!sim.start(&error) || !sim.linkAs(state.dataDir, Com, &error))
            qFatal("simulator: %s", qPrintable(error));
    }

    // Opens COM3 as Connect does, without initialising the modem.
    bool openPort()
    {
        modem.ConfigureComPort(Com, QStringLiteral("115200,N,8,1"));
        modem.OpenComPort();
        return state.IsConnected;
    }

    // Opens and initialises (echo off, text mode, caller id on).
    bool connectModem()
    {
        if (!openPort())
            return false;
        modem.InitializeModem(QStringLiteral("0"), QStringLiteral("GSM"), true);
        return state.ModemReady;
    }
};
