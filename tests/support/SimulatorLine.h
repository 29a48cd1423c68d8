// The modem simulator on the in-memory line: the program talks to it with no pseudo-terminal, and every wait
// of the modem thread (pacing, network delay, silence timeouts) passes on a virtual clock at once.
//
// Between the modem thread's waits the clock follows real time: a ticker adds the real time gone by, so what
// the simulator does by itself (rings, an SMS arriving, a line after an answer) still reaches a modem thread
// that is idle, as the serial port's read notification would bring it. The simulator's own timing runs on
// the same clock. Only the COM numbers given answer (one modem each); any other is a port with no device
// behind it.
#pragma once

#include "modem/MemoryTransport.h"
#include "tools/ModemSimulator.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTest>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

class SimulatorLine : public ModemPeer {
public:
    SimulatorLine(ModemSimulator& sim, int com) : SimulatorLine(QList<std::pair<int, ModemSimulator*>>{{com, &sim}}) {}
    // A pool: each modem answers on its own COM number, all on one clock.
    explicit SimulatorLine(const QList<std::pair<int, ModemSimulator*>>& modems)
    {
        for (const auto& [com, sim] : modems) {
            sim->setClock([this] { return clock.nowMs(); });
            ports.push_back(std::make_unique<Port>(*sim, com));
        }
        ticker = std::thread([this] { tick(); });
    }
    ~SimulatorLine() override
    {
        running = false;
        ticker.join();
    }
    SimulatorLine(const SimulatorLine&) = delete;
    SimulatorLine& operator=(const SimulatorLine&) = delete;

    // One line per transport made, all on this clock.
    ModemPlumbing plumbing()
    {
        return {[this] { return std::make_unique<MemoryTransport>(clock, *this); }, &clock};
    }

    ModemTransport::Error opened(int comPort, MemoryTransport& line) override
    {
        Port* port = nullptr;
        for (const auto& p : ports)
            if (p->com == comPort)
                port = p.get();
        if (!port || port->sim.hangUpAsked() || port->unplugged)
            return {ModemTransport::InvalidPortNumber,
                    QStringLiteral("Invalid port number (no serial device answers to COM %1)").arg(comPort)};
        std::lock_guard lock(mutex);
        if (port->current != &line) {
            port->current = &line;
            if (!lines.count(&line))
                QObject::connect(&line, &QObject::destroyed, [this, gone = &line] {
                    std::lock_guard lock(mutex);
                    lines.erase(gone);
                    for (const auto& p : ports)
                        if (p->current == gone)
                            p->current = nullptr;
                });
            lines[&line] = port;
        }
        port->hungUp = false;
        return {};
    }

    void received(const QByteArray& bytes, MemoryTransport& line) override
    {
        Port* port = nullptr;
        {
            std::lock_guard lock(mutex);
            const auto it = lines.find(&line);
            port = it != lines.end() ? it->second : ports.front().get();
        }
        port->sim.feed(bytes);
        if (port->unplugNow.exchange(false)) {
            // Pulled out before it could answer: what it would have said never reaches the program.
            port->sim.takeOutput();
            port->unplugged = true;
            port->hungUp = true;
            line.hangUp();
            return;
        }
        carry(*port, line);
    }

    // Unplugs the modem on COM com as it receives the nth command starting with prefix, before it answers:
    // a point fixed by the conversation (that command reached the modem, nothing came back). The simulator's
    // logger is taken for it.
    void unplugAtCommand(int com, const QString& prefix, int nth)
    {
        Port& port = portOn(com);
        port.sim.setLogger([&port, prefix, nth, seen = std::make_shared<std::atomic<int>>(0)](const QString& line) {
            if (line.startsWith(QLatin1String("<- ") + prefix) && ++*seen == nth)
                port.unplugNow = true;
        });
    }
    bool unplugged(int com) { return portOn(com).unplugged; }
    // Plugged in again after unplugAtCommand: a fresh device (what was under way is gone), the SIM kept.
    void replug(int com)
    {
        Port& port = portOn(com);
        port.sim.setLogger({});
        port.sim.hangUp();
        port.sim.replug();
        port.unplugged = false;
    }

    VirtualClock clock;
    // How many times faster than real time the clock runs between the modem thread's waits (rings come
    // sooner; the user-interface thread's timers are not affected).
    void setIdlePace(int times) { pace = times; }

private:
    struct Port {
        Port(ModemSimulator& sim, int com) : sim(sim), com(com) {}
        ModemSimulator& sim;
        const int com;
        MemoryTransport* current = nullptr; // under mutex
        std::atomic<bool> hungUp{false};
        std::atomic<bool> unplugNow{false}; // unplugAtCommand's command came
        std::atomic<bool> unplugged{false};
        std::atomic<bool> poked{false};
        std::atomic<qint64> arrivalsUntil{0};
    };

    Port& portOn(int com)
    {
        for (const auto& p : ports)
            if (p->com == com)
                return *p;
        qFatal("no simulated modem on COM %d", com);
    }

    // On the line's thread: hands over what the simulator has written, each piece when it is due.
    void carry(Port& port, MemoryTransport& line)
    {
        const int baud = port.sim.baudRate();
        line.setLineBaud(baud);
        for (const ModemSimulator::Output& o : port.sim.takeOutput()) {
            const qint64 now = clock.nowMs();
            line.send(o.bytes, std::max<qint64>(0, o.atMs - now));
            const qint64 travel = baud > 0 ? o.bytes.size() * 10000LL / baud + 1 : 0;
            port.arrivalsUntil = std::max(port.arrivalsUntil.load(), std::max(o.atMs, now)) + travel;
        }
        if (port.sim.hangUpAsked() && !port.hungUp) {
            port.hungUp = true;
            line.hangUp();
        }
    }

    void tick()
    {
        QElapsedTimer real;
        real.start();
        qint64 last = 0;
        while (running) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const qint64 elapsed = real.elapsed();
            clock.advanceTo(clock.nowMs() + (elapsed - last) * pace.load());
            last = elapsed;
            for (const auto& p : ports) {
                Port* port = p.get();
                if (port->unplugged)
                    continue;
                const bool due = port->sim.outputDue() || clock.nowMs() <= port->arrivalsUntil.load() ||
                                 (port->sim.hangUpAsked() && !port->hungUp.load());
                if (!due || port->poked.exchange(true))
                    continue;
                std::lock_guard lock(mutex);
                if (!port->current) {
                    port->poked = false;
                    continue;
                }
                MemoryTransport* line = port->current;
                // Runs when the line's thread next turns its event loop, i.e. between exchanges.
                QMetaObject::invokeMethod(
                    line,
                    [this, port, line] {
                        port->poked = false;
                        carry(*port, *line);
                        line->waitForInput(0);
                    },
                    Qt::QueuedConnection);
            }
        }
    }

    std::vector<std::unique_ptr<Port>> ports;
    std::mutex mutex;
    std::map<const MemoryTransport*, Port*> lines; // under mutex: the modem each open line reaches
    std::atomic<bool> running{true};
    std::atomic<int> pace{1};
    std::thread ticker;
};

// Holds the modem when it receives the nth command starting with prefix, until opened: a test acts while that
// exchange is under way (the user pauses, disconnects, deletes; another program takes the database) at a
// point fixed by the conversation rather than by real time. While it holds, the test must not call the
// simulator. Opened at the latest when it goes out of scope.
class CommandGate {
public:
    CommandGate(ModemSimulator& sim, const QString& prefix, int nth = 1) : sim(sim)
    {
        sim.setLogger([this, prefix, nth](const QString& line) {
            if (line.startsWith(QLatin1String("<- ") + prefix) && ++seen == nth) {
                reached = true;
                gate.acquire();
            }
        });
    }
    ~CommandGate() { open(); }
    CommandGate(const CommandGate&) = delete;
    CommandGate& operator=(const CommandGate&) = delete;

    // Waits (turning the event loop) until the modem holds.
    [[nodiscard]] bool held(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([this] { return reached.load(); }, timeoutMs);
    }
    void open()
    {
        if (!std::exchange(opened, true))
            gate.release();
        sim.setLogger({});
    }

private:
    ModemSimulator& sim;
    std::binary_semaphore gate{0};
    std::atomic<bool> reached{false};
    bool opened = false;
    int seen = 0; // where the simulator logs
};
