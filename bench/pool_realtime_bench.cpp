// Eight modems in real time through the real serial code: the simulator program links each as a COM port of
// its own pseudo-terminal, with 1.0 s of network time per part, and the program sends 240 messages from one
// Outbox while the user-interface thread's latency is sampled (how late a 10 ms timer fires) and its
// processor time is counted per message.
#include "TestRig.h"
#include "delivery/Engine.h"
#include "store/ModemsRepository.h"
#include "store/SettingsRows.h"

#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

constexpr int Modems = 8;
constexpr int NetworkMs = 1000;
constexpr int Messages = 240;

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestRig rig;
    SystemClock clock;
    rig.state.clock = &clock;
    QProcess sim;
    QByteArray shown;
    sim.start(QStringLiteral(BROADTEXT_MODEMSIM),
              {u"--data-dir"_s, rig.state.dataDir, u"--com"_s, u"1"_s, u"--modems"_s, QString::number(Modems),
               u"--delay"_s, QString::number(NetworkMs)});
    if (!sim.waitForStarted() || !QTest::qWaitFor(
                                     [&] {
                                         shown += sim.readAllStandardOutput();
                                         return shown.contains("Type \"help\"");
                                     },
                                     10000))
        qFatal("the simulator did not start");

    WriteModemSetting(rig.db,
                      {1, u"115200"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, Database::DbBool(true), u"1"_s});
    for (int com = 2; com <= Modems; ++com) {
        ModemConfig modem;
        modem.port = com;
        modem.bitsPerSecond = u"115200"_s;
        ModemsRepository(rig.db).save(modem);
    }
    Engine engine(rig.state, rig.db, rig.log);
    engine.loadModemSettings();
    engine.applyTimerPeriods();
    engine.Connect();
    if (!QTest::qWaitFor(
            [&] {
                for (int id : engine.modemIds())
                    if (!engine.status(id).ready)
                        return false;
                return true;
            },
            30000))
        qFatal("not every modem connected");

    rig.db.beginTransaction();
    for (int i = 0; i < Messages; ++i)
        rig.db.execute(
            u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
            "VALUES (0, ?, ?, ?)"_s,
            {u"98888%1"_s.arg(20000 + i), u"Real-time pool message %1"_s.arg(i), Database::DbTime(clock.now())});
    rig.db.commit();

    QList<double> late;
    QElapsedTimer sinceTick, wall;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        late << std::max(0.0, sinceTick.nsecsElapsed() / 1e6 - 10.0);
        sinceTick.restart();
    });
    const double cpu = threadCpuMs();
    wall.start();
    sinceTick.start();
    probe.start();
    engine.deliverNow();
    auto sent = [&] {
        return rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NOT NULL"_s);
    };
    if (!QTest::qWaitFor([&] { return sent() == Messages; }, 600000))
        qFatal("not everything was sent");
    probe.stop();
    const double seconds = wall.elapsed() / 1000.0;
    const double cpuPerMessage = (threadCpuMs() - cpu) / Messages;
    std::sort(late.begin(), late.end());
    const double p99 = late.at(std::min<qsizetype>(late.size() - 1, late.size() * 99 / 100));
    std::printf("%d modems in real time, %d messages, %.1f s network time per part: all sent in %.1f s (%.1f messages "
                "per minute); user-interface latency over %lld samples: p50 %.2f ms, p99 %.2f ms, worst %.2f ms; "
                "the user-interface thread's processor time %.2f ms per message\n",
                Modems, Messages, NetworkMs / 1000.0, seconds, Messages * 60.0 / seconds, qint64(late.size()),
                late.at(late.size() / 2), p99, late.last(), cpuPerMessage);
    engine.Disconnect();
    sim.write("quit\n");
    sim.waitForFinished(5000);
    return 0;
}
