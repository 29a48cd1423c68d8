// The modem link against the simulator answering at once: what an exchange costs beyond its prescribed
// sleeps, and the processor time the program uses while connected and idle (the once-a-second call watch
// and the reception and delivery timers running).
#include "EngineRig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
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
        EngineRig rig;
        rig.sim.setEcho(false);
        if (!rig.connectModem())
            return 1;
        for (const int delay : {20, 50}) {
            const int commands = 200;
            const qint64 slept = rig.engine.modem.sleptMs;
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < commands; ++i)
                rig.engine.modem.ExecuteATCommand(QStringLiteral("AT\r"), delay, QStringLiteral("OK"), false, true, 5,
                                                  {});
            const double total = t.nsecsElapsed() / 1e6;
            const double beyond = total - double(rig.engine.modem.sleptMs - slept);
            std::printf("exchange with a %d ms poll delay: %.3f ms per command beyond the prescribed sleeps "
                        "(%d commands, %.0f ms in all)\n",
                        delay, beyond / commands, commands, total);
        }
        const int listings = 50;
        for (int i = 0; i < 20; ++i)
            rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919888812121"), QString(160, 'x'));
        const qint64 slept = rig.engine.modem.sleptMs;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < listings; ++i)
            rig.engine.modem.ListSIMMessages(QStringLiteral("ALL"), 20);
        std::printf("listing 20 SIM messages (with its call-state query): %.3f ms beyond the sleeps per listing\n",
                    (t.nsecsElapsed() / 1e6 - double(rig.engine.modem.sleptMs - slept)) / listings);
    }
    {
        EngineRig rig;
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
