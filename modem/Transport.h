// What the modem conversation needs of a port, and the clock it measures its waits by.
//
// The serial port (MSComm) is the transport the program uses; tests and benchmarks give the modem link an
// in-memory one (MemoryTransport) with a virtual clock instead, so that a conversation that takes minutes on
// a real line replays in milliseconds. Time passes only inside waitForInput(): the channel and the routines
// never sleep on their own, so a transport that owns its clock decides how long every wait really takes.
#pragma once

#include "modem/ComPorts.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// Monotonic milliseconds on the modem thread.
class ModemClock {
public:
    virtual ~ModemClock() = default;
    virtual qint64 nowMs() const = 0;
    // The machine's steady clock.
    static ModemClock& steady();
};

class ModemTransport : public QObject {
    Q_OBJECT
public:
    // Error numbers raised by opening the port.
    static constexpr int InvalidPortNumber = 8002; // no device behind the COM number
    static constexpr int PortAlreadyOpen = 8005;   // the device is in use by another program
    static constexpr int HardwareNotAvailable = 8010;
    static constexpr int CouldNotSetCommState = 8015;
    static constexpr int InvalidPropertyValue = 380;
    static constexpr int comEvReceive = 2;

    struct Error {
        int number = 0;
        QString description;
        explicit operator bool() const { return number != 0; }
    };

    using QObject::QObject;

    // What opening uses: the COM number (looked up in the paths given to setPortOpen), the settings text
    // ("115200,N,8,1") and the handshaking (0 none, 1 XON/XOFF, 2 RTS/CTS).
    void setCommPort(int n) { commPort = n; }
    int CommPort() const { return commPort; }
    void setSettings(const QString& s) { settings = s; }
    QString Settings() const { return settings; }
    void setHandshaking(int h) { handshaking = h; }
    virtual void setDTREnable(bool on) { dtrEnable = on; }
    void setInputLen(int n) { inputLen = n; }
    void setRThreshold(int n) { rThreshold = n; }
    void setSThreshold(int n) { sThreshold = n; }
    void setInputMode(int m) { inputMode = m; }
    int InputMode() const { return inputMode; }

    virtual bool PortOpen() const = 0;
    // Opens (looking the COM number up in paths) or closes.
    virtual Error setPortOpen(bool open, const PortPaths& paths = {}) = 0;
    virtual void Output(const QByteArray& bytes) = 0;
    virtual QByteArray Input() = 0; // everything received since the last read (may be empty)
    // Waits up to ms for bytes; those that arrive are announced through OnComm before it returns. On a
    // closed port it still takes ms: the caller may be keeping a pace.
    virtual bool waitForInput(int ms) = 0;
    virtual qint32 baudRate() const = 0;
    virtual QString device() const = 0; // what the COM number stood for when the port was opened

Q_SIGNALS:
    void OnComm(); // characters arrived
    void hungUp(); // the device went away; the port is closed (or closing)

protected:
    int commPort = 1;
    QString settings = QStringLiteral("9600,N,8,1");
    int handshaking = 0;
    bool dtrEnable = false;
    int inputLen = 0, rThreshold = 0, sThreshold = 0, inputMode = 0;
};

// How the modem link reaches its modem: a maker of the transport (the serial port when empty) and the
// clock the conversation measures by (the steady clock when none). A transport that keeps virtual time
// must be given with the clock it advances.
struct ModemPlumbing {
    std::function<std::unique_ptr<ModemTransport>()> transport;
    ModemClock* clock = nullptr;
};
