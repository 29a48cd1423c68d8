// A modem line in memory with a virtual clock, for tests and benchmarks: what the program writes goes to a
// peer (a replayed transcript, a scripted modem), which answers by scheduling bytes at virtual times.
//
// Virtual time moves only inside waitForInput(): to the next scheduled arrival when it falls within the
// wait, else by the whole wait. A conversation that would take minutes of real pacing, silence and slow
// lines therefore runs as fast as the code does, while the program still sees every delay it would see on
// a real line. Answers may be sent at a line speed (10 bits a byte), arriving in pieces as from a UART.
#pragma once

#include "modem/Transport.h"

#include <atomic>
#include <deque>

class VirtualClock : public ModemClock {
public:
    qint64 nowMs() const override { return now.load(); }
    void advanceTo(qint64 ms)
    {
        if (ms > now.load())
            now.store(ms);
    }

private:
    std::atomic<qint64> now{0};
};

class MemoryTransport;

// The other end of the line. Called on the thread the transport lives on.
class ModemPeer {
public:
    virtual ~ModemPeer() = default;
    // The program opens the port: an error refuses it.
    virtual ModemTransport::Error opened(int comPort, MemoryTransport& line)
    {
        (void)comPort;
        (void)line;
        return {};
    }
    virtual void received(const QByteArray& bytes, MemoryTransport& line) = 0;
};

class MemoryTransport : public ModemTransport {
    Q_OBJECT
public:
    MemoryTransport(VirtualClock& clock, ModemPeer& peer, QObject* parent = nullptr);

    bool PortOpen() const override { return open; }
    Error setPortOpen(bool open, const PortPaths& paths = {}) override;
    void Output(const QByteArray& bytes) override;
    QByteArray Input() override;
    bool waitForInput(int ms) override;
    qint32 baudRate() const override { return baud; }
    QString device() const override { return devicePath; }

    // For the peer. Bytes reach the program delayMs after now, behind what is still on the line.
    void send(const QByteArray& bytes, qint64 delayMs = 0);
    // The device goes away once what was sent before has arrived (and delayMs after now at the earliest).
    void hangUp(qint64 delayMs = 0);
    // The speed answers travel at; 0 (the default) delivers them at once.
    void setLineBaud(int baud) { lineBaud = baud; }
    VirtualClock& clock() const { return virtualClock; }

private:
    struct Arrival {
        qint64 atMs;
        QByteArray bytes;
        bool hangUp = false;
    };
    qint64 lineStartUs(qint64 delayMs) const;

    VirtualClock& virtualClock;
    ModemPeer& peer;
    bool open = false;
    qint32 baud = 9600;
    QString devicePath;
    int lineBaud = 0;
    qint64 lineFreeUs = 0; // when everything sent so far has arrived
    std::deque<Arrival> arrivals;
    QByteArray inbound; // arrived, not yet read
};
