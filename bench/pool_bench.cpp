// A pool of simulated modems on in-memory lines, each on its own virtual clock, with 3.0 s of network time per
// part: messages per minute for 1, 2, 4 and 8 modems, the pool's rate against N times one modem's, and each
// modem's rate against what its network allows (one part per 3.0 s); and the time from queueing one message
// (as the compose window does) to its AT+CMGS on an idle modem. During each run the user-interface thread's
// latency is sampled (how late a 10 ms timer fires), and the processor time is taken per message: that of the
// user-interface thread (the program's bookkeeping) and that of the whole process (which here includes the
// simulators and their lines, so it bounds the program's own from above).
#include "PoolRig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int NetworkMs = 3000;

struct Figures {
    double perMinute = 0;
    QList<double> ofLimit;    // each modem's rate / the network's limit
    int linkKept = 0;         // parts that went on a relay link kept open
    int fewest = 0, most = 0; // messages per modem
    double latencyP99Ms = 0, latencyMaxMs = 0;
    double uiCpuMsPerMessage = 0, processCpuMsPerMessage = 0;
};

double cpuMs(clockid_t which)
{
    timespec t{};
    clock_gettime(which, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Figures run(int modems, int messages)
{
    PoolRig rig(modems);
    if (!rig.connectAll())
        qFatal("the pool did not connect");
    rig.setNetworkDelayMs(NetworkMs);
    rig.db.beginTransaction();
    for (int i = 0; i < messages; ++i)
        rig.queue(QStringLiteral("+91988%1").arg(i, 7, 10, QLatin1Char('0')),
                  QStringLiteral("Message number %1 of the pool benchmark").arg(i));
    rig.db.commit();
    std::map<int, qint64> started;
    for (int id : rig.ids())
        started[id] = rig.lineOf(id).clock.nowMs();
    // How late the window's events are served while the pool sends.
    QList<double> late;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        late << std::max(0.0, sinceTick.nsecsElapsed() / 1e6 - 10.0);
        sinceTick.restart();
    });
    const double uiCpu = cpuMs(CLOCK_THREAD_CPUTIME_ID), processCpu = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    sinceTick.start();
    probe.start();
    rig.engine.deliverNow();
    if (!QTest::qWaitFor([&] { return rig.sentRows() == messages; }, 600000))
        qFatal("not everything was sent");
    probe.stop();
    // Each modem's clock runs on its own (a modem thread given more of the processor gets further in its
    // time and takes more rows): the pool's rate is the sum of its modems' rates, each in its own time.
    Figures f;
    f.uiCpuMsPerMessage = (cpuMs(CLOCK_THREAD_CPUTIME_ID) - uiCpu) / messages;
    f.processCpuMsPerMessage = (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processCpu) / messages;
    std::sort(late.begin(), late.end());
    if (!late.isEmpty()) {
        f.latencyP99Ms = late.at(std::min<qsizetype>(late.size() - 1, late.size() * 99 / 100));
        f.latencyMaxMs = late.last();
    }
    f.fewest = messages;
    for (int id : rig.ids()) {
        const qint64 took = rig.lineOf(id).clock.nowMs() - started[id];
        const auto sent = rig.simOf(id).sent();
        f.perMinute += sent.size() * 60000.0 / double(took);
        f.ofLimit << double(sent.size()) * NetworkMs / double(took);
        f.fewest = std::min(f.fewest, int(sent.size()));
        f.most = std::max(f.most, int(sent.size()));
        for (const auto& m : sent)
            f.linkKept += m.linkKept ? 1 : 0;
    }
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double single = 0;
    for (int modems : {1, 2, 4, 8}) {
        const int messages = 60 * modems;
        const Figures f = run(modems, messages);
        if (modems == 1)
            single = f.perMinute;
        QString each;
        for (double r : f.ofLimit)
            each += QStringLiteral(" %1").arg(r, 0, 'f', 3);
        std::printf("pool of %d modem(s), %d one-part messages, %.1f s network time per part: %.1f messages per "
                    "minute, %.3f of %d x one modem's rate; each modem's rate / its network's limit:%s (%d of %d "
                    "parts on a relay link kept open; %d to %d messages per modem)\n",
                    modems, messages, NetworkMs / 1000.0, f.perMinute, f.perMinute / (modems * single), modems,
                    qPrintable(each), f.linkKept, messages, f.fewest, f.most);
        std::printf("  user-interface latency during the run: p99 %.1f ms, worst %.1f ms; processor time per message: "
                    "%.2f ms on the user-interface thread, %.2f ms in the whole process with the simulators\n",
                    f.latencyP99Ms, f.latencyMaxMs, f.uiCpuMsPerMessage, f.processCpuMsPerMessage);
    }
    {
        // One message queued to an idle modem: deliverNow, as the compose window calls it, to the AT+CMGS.
        PoolRig rig(1);
        if (!rig.connectAll())
            qFatal("the modem did not connect");
        QTest::qWait(200); // idle
        std::atomic<qint64> atVirtual{-1};
        std::atomic<qint64> atReal{-1};
        QElapsedTimer real;
        rig.sim.setLogger([&](const QString& line) {
            if (line.startsWith(QLatin1String("<- AT+CMGS")) && atVirtual < 0) {
                atVirtual = rig.simLine->clock.nowMs();
                atReal = real.nsecsElapsed();
            }
        });
        const qint64 queuedAt = rig.simLine->clock.nowMs();
        real.start();
        rig.queue(QStringLiteral("+919888812121"), QStringLiteral("Queued from the compose window"));
        rig.engine.deliverNow();
        if (!QTest::qWaitFor([&] { return atVirtual >= 0; }, 30000))
            qFatal("no AT+CMGS");
        rig.sim.setLogger({});
        std::printf("queueing one message to an idle modem: its AT+CMGS %.1f ms later on the modem's clock (%.2f ms "
                    "of real time)\n",
                    double(atVirtual - queuedAt), atReal / 1e6);
    }
    return 0;
}
