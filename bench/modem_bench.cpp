// The modem link against the simulator: what an exchange costs beyond its prescribed pacing, how long the
// window waits for its events while the modem works hard (a delivery at delay factor 7 on a network that
// takes 3 s per message), and the processor time used while connected and idle.
#include "EngineRig.h"
#include "ModemRig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    {
        ModemRig rig(ModemRig::Line::Terminal);
        rig.sim.setEcho(false);
        if (!rig.connectModem())
            return 1;
        for (const int delay : {20, 50}) {
            const int commands = 200;
            const qint64 paced = rig.modem.pacedMs();
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < commands; ++i)
                rig.modem.ExecuteATCommand("AT\r", delay, QStringLiteral("OK"), 5, {});
            const double total = t.nsecsElapsed() / 1e6;
            const double beyond = total - double(rig.modem.pacedMs() - paced);
            std::printf("exchange with a %d ms pacing: %.3f ms per command beyond it (%d commands, %.0f ms in all)\n",
                        delay, beyond / commands, commands, total);
        }
    }
    {
        EngineRig rig(EngineRig::Line::Terminal);
        rig.sim.setEcho(false);
        if (!rig.connectModem())
            return 1;
        rig.engine.setDelayFactor(7);
        rig.sim.setNetworkDelayMs(3000);
        for (int i = 0; i < 20; ++i)
            rig.queue(QStringLiteral("9888812121"), QStringLiteral("Message %1").arg(i));
        rig.engine.timerRefreshHomePage.setEnabled(true);
        std::vector<double> waits;
        QTimer poster;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&poster, &QTimer::timeout, [&] {
            const qint64 posted = clock.nsecsElapsed();
            QMetaObject::invokeMethod(
                &poster, [&, posted] { waits.push_back((clock.nsecsElapsed() - posted) / 1e6); }, Qt::QueuedConnection);
        });
        poster.start(5);
        rig.sendAllAndWait();
        poster.stop();
        std::sort(waits.begin(), waits.end());
        const auto at = [&](double q) { return waits[std::min(waits.size() - 1, size_t(q * waits.size()))]; };
        std::printf("window while delivering 20 messages at delay factor 7, network 3 s per message (%.0f s): "
                    "%zu posted events waited median %.2f ms, p99 %.2f ms, longest %.2f ms\n",
                    clock.elapsed() / 1000.0, waits.size(), at(0.5), at(0.99), waits.back());
    }
    {
        EngineRig rig(EngineRig::Line::Terminal);
        if (!rig.connectModem())
            return 1;
        rig.engine.applyTimerPeriods();
        rig.engine.timerRefreshHomePage.setEnabled(true);
        const int seconds = 20;
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        QEventLoop idle;
        QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
        idle.exec();
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        std::printf("connected and idle for %d s (call watch every second, reception and delivery every 10 s): "
                    "%.2f%% of one core, simulator thread included\n",
                    seconds, 100.0 * cpu / seconds);
    }
    return 0;
}
