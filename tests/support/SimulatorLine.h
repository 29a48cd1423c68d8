// The modem simulator on the in-memory line: the program talks to it with no pseudo-terminal, and every wait
// of the modem thread (pacing, network delay, silence timeouts) passes on a virtual clock at once.
//
// Between the modem thread's waits the clock follows real time: a ticker adds the real time gone by, so what
// the simulator does by itself (rings, an SMS arriving, a line after an answer) still reaches a modem thread
// that is idle, as the serial port's read notification would bring it. The simulator's own timing runs on
// the same clock. Only the COM number given answers; any other is a port with no device behind it.
#pragma once

#include "modem/MemoryTransport.h"
#include "tools/ModemSimulator.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTest>
#include <mutex>
#include <semaphore>
#include <thread>

class SimulatorLine : public ModemPeer {
public:
    SimulatorLine(ModemSimulator& sim, int com) : sim(sim), com(com)
    {
        sim.setClock([this] { return clock.nowMs(); });
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
        if (comPort != com || sim.hangUpAsked())
            return {ModemTransport::InvalidPortNumber,
                    QStringLiteral("Invalid port number (no serial device answers to COM %1)").arg(comPort)};
        std::lock_guard lock(mutex);
        if (current != &line) {
            current = &line;
            QObject::connect(&line, &QObject::destroyed, [this, gone = &line] {
                std::lock_guard lock(mutex);
                if (current == gone)
                    current = nullptr;
            });
        }
        hungUp = false;
        return {};
    }

    void received(const QByteArray& bytes, MemoryTransport& line) override
    {
        sim.feed(bytes);
        carry(line);
    }

    VirtualClock clock;
    // How many times faster than real time the clock runs between the modem thread's waits (rings come
    // sooner; the user-interface thread's timers are not affected).
    void setIdlePace(int times) { pace = times; }

private:
    // On the line's thread: hands over what the simulator has written, each piece when it is due.
    void carry(MemoryTransport& line)
    {
        const int baud = sim.baudRate();
        line.setLineBaud(baud);
        for (const ModemSimulator::Output& o : sim.takeOutput()) {
            const qint64 now = clock.nowMs();
            line.send(o.bytes, std::max<qint64>(0, o.atMs - now));
            const qint64 travel = baud > 0 ? o.bytes.size() * 10000LL / baud + 1 : 0;
            arrivalsUntil = std::max(arrivalsUntil.load(), std::max(o.atMs, now)) + travel;
        }
        if (sim.hangUpAsked() && !hungUp) {
            hungUp = true;
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
            const bool due =
                sim.outputDue() || clock.nowMs() <= arrivalsUntil.load() || (sim.hangUpAsked() && !hungUp.load());
            if (!due || poked.exchange(true))
                continue;
            std::lock_guard lock(mutex);
            if (!current) {
                poked = false;
                continue;
            }
            MemoryTransport* line = current;
            // Runs when the line's thread next turns its event loop, i.e. between exchanges.
            QMetaObject::invokeMethod(
                line,
                [this, line] {
                    poked = false;
                    carry(*line);
                    line->waitForInput(0);
                },
                Qt::QueuedConnection);
        }
    }

    ModemSimulator& sim;
    const int com;
    std::mutex mutex;
    MemoryTransport* current = nullptr; // under mutex
    std::atomic<bool> hungUp{false};
    std::atomic<bool> poked{false};
    std::atomic<qint64> arrivalsUntil{0};
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
