// Killed at random moments: the program (its Engine in a child process of this one) is killed with
// SIGKILL 30 times while it takes messages off the SIM and 30 times while it delivers the Outbox, each
// time restarted on the same data folder and the same simulated modem (which, like a real one, outlives
// the program); then 30 times more while four modems share the Outbox. At the end every message must be in
// the Inbox exactly once and every Outbox row must have reached the network, none marked sent that did not
// (with four modems: that did not reach it through the modem its Sent Items row names); a row may reach the
// network twice when the kill fell between the network's confirmation and the database's record of it, and
// the program says so.
//
//   delivery_kill_bench [trials]        30 by default (in each of the three parts)
#include "TestRig.h"
#include "delivery/Engine.h"
#include "store/ModemsRepository.h"
#include "store/SettingsRows.h"
#include "tools/ModemSimulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/wait.h>
#include <vector>

namespace {

constexpr int Com = 3;

// The program's background work on an existing data folder, reception or delivery asked for again and
// again as the timers would, until it is killed.
int runChild(const QString& dataDir)
{
    TestRig rig(false);
    SystemClock clock;
    rig.state.clock = &clock;
    rig.state.dataDir = dataDir;
    ConnectDatabase(rig.state, rig.db);
    if (!rig.state.DatabaseConnected)
        return 3;
    Engine engine(rig.state, rig.db, rig.log);
    engine.timerRefreshHomePage.setEnabled(false);
    engine.loadModemSettings(); // every modem of the list, as the program starts
    engine.Connect();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        // Each modem that is ready takes its share; the others wait for their connection.
        engine.ReceiveNow();
        engine.SendNow();
    });
    tick.start(100);
    return QCoreApplication::exec();
}

struct Trials {
    QString program;
    QString dataDir;
    int started = 0;

    void start(QProcess& child)
    {
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.start(program, {QStringLiteral("--child"), dataDir});
        child.waitForStarted();
        ++started;
    }
    // Lets events in for ms milliseconds (or until done says so).
    static bool wait(qint64 ms, const std::function<bool()>& done = {})
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (done && done())
                return true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return false;
    }
    static void kill(QProcess& child)
    {
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished(5000);
    }

    // Starts the child and kills it after a random time in [minMs, maxMs).
    void killAfter(int minMs, int maxMs)
    {
        QProcess child;
        start(child);
        wait(minMs + int(QRandomGenerator::global()->bounded(maxMs - minMs)),
             [&] { return child.state() != QProcess::Running; });
        kill(child);
    }

    // Runs the child until done() holds (or two minutes pass), lets its last exchange finish, then stops it.
    bool runUntil(const std::function<bool()>& done)
    {
        QProcess child;
        start(child);
        const bool ok = wait(120000, done);
        wait(1500);
        kill(child);
        return ok;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--child"))
        return runChild(args.value(2));
    const int trials = args.size() > 1 ? qMax(1, args[1].toInt()) : 30;

    TestRig rig;
    ModemSimulator sim;
    QString error;
    if (!sim.start(&error) || !sim.linkAs(rig.state.dataDir, Com, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    sim.setSimCapacity(255);
    sim.setChunkedAnswers(15, 64);
    sim.setNetworkDelayMs(250);
    WriteModemSetting(rig.db,
                      {Com, QStringLiteral("115200"), QStringLiteral("n"), QStringLiteral("8"), QStringLiteral("1"),
                       QStringLiteral("0"), QStringLiteral("GSM"), Database::DbBool(true), QStringLiteral("1")});
    Trials run{app.applicationFilePath(), rig.state.dataDir};

    // Reception: messages keep arriving while the program is killed again and again.
    QStringList texts;
    auto arrive = [&](int n) {
        for (int i = 0; i < n; ++i) {
            texts << QStringLiteral("Incoming %1: please call back about the order").arg(texts.size());
            sim.receiveSms(QStringLiteral("+9198888%1").arg(10000 + texts.size()), texts.last());
        }
    };
    arrive(20);
    for (int i = 0; i < trials; ++i) {
        arrive(2);
        run.killAfter(300, 3000);
    }
    const bool drained = run.runUntil([&] { return sim.simMessages().isEmpty(); });
    int lost = 0, duplicated = 0;
    for (const QString& text : texts) {
        const qint64 n = rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE Message = ?"), {text});
        lost += n == 0;
        duplicated += n > 1;
    }
    std::printf("reception, %d kills: %lld messages arrived, %lld in the Inbox; lost %d, duplicated %d; SIM %s "
                "(%lld left)\n",
                trials, qint64(texts.size()), rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox")), lost,
                duplicated, drained ? "emptied" : "NOT emptied", qint64(sim.simMessages().size()));

    // Delivery: a queue of messages, the program killed while it works through it.
    sim.clearRecords();
    const int queued = 60;
    rig.db.beginTransaction();
    for (int i = 0; i < queued; ++i)
        rig.db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, "
                                      "OutBoxDateTime) VALUES (0, ?, ?, ?)"),
                       {QStringLiteral("98888%1").arg(20000 + i),
                        QStringLiteral("Outgoing %1: your order is ready").arg(i),
                        Database::DbTime(QDateTime::currentDateTimeUtc())});
    rig.db.commit();
    for (int i = 0; i < trials; ++i)
        run.killAfter(300, 3000);
    auto waiting = [&] {
        return rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus IS NULL OR "
                                           "DeliveryStatus NOT IN ('SENT', 'FAILED')"));
    };
    const bool delivered = run.runUntil([&] { return waiting() == 0; });
    QHash<QString, int> onNetwork;
    for (const auto& m : sim.sent())
        ++onNetwork[m.text];
    int notSent = 0, twice = 0, falselySent = 0, failed = 0;
    for (int i = 0; i < queued; ++i) {
        const QString text = QStringLiteral("Outgoing %1: your order is ready").arg(i);
        const QString status =
            rig.db.scalar(QStringLiteral("SELECT DeliveryStatus FROM Message_OutBox WHERE Message = ?"), {text})
                .toString();
        const int n = onNetwork.value(text);
        notSent += n == 0;
        twice += n > 1;
        falselySent += status == QLatin1String("SENT") && n == 0;
        failed += status == QLatin1String("FAILED");
    }
    // Rows found SENDING at a start: the program logs that they may reach the recipient twice.
    auto logText = [&] {
        QByteArray all;
        for (const QString& name : QDir(rig.state.dataDir).entryList({QStringLiteral("activity.log*")})) {
            QFile f(rig.state.dataDir + QLatin1Char('/') + name);
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll();
        }
        return all;
    };
    auto warnings = [&] { return int(logText().count("may reach the recipient twice")); };
    const int warned = warnings();
    std::printf("delivery, %d kills: %d queued, %s; never reached the network %d, reached it twice %d (rows the "
                "program warned may go twice: %d), marked sent without reaching it %d, FAILED %d\n",
                trials, queued, delivered ? "all settled" : "NOT all settled", notSent, twice, warned, falselySent,
                failed);

    // Four modems: the first and three more on the next COM numbers, each its own device with its own network.
    constexpr int PoolSize = 4;
    std::vector<std::unique_ptr<ModemSimulator>> others;
    QList<ModemSimulator*> pool{&sim};
    for (int id = 2; id <= PoolSize; ++id) {
        others.push_back(std::make_unique<ModemSimulator>());
        ModemSimulator& m = *others.back();
        m.setSerials(ModemSimulator::serialsOfUnit(id));
        if (!m.start(&error) || !m.linkAs(rig.state.dataDir, Com + id - 1, &error)) {
            std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
            return 1;
        }
        m.setChunkedAnswers(15, 64);
        m.setNetworkDelayMs(250);
        ModemConfig config;
        config.port = Com + id - 1;
        config.bitsPerSecond = QStringLiteral("115200");
        config.role = ModemConfig::Role::Send;
        if (ModemsRepository(rig.db).save(config) != id) {
            std::fprintf(stderr, "modem %d not saved as such\n", id);
            return 1;
        }
        pool << &m;
    }
    sim.clearRecords();
    const int warnedBefore = warnings();
    const int poolQueued = 120;
    auto poolText = [](int i) { return QStringLiteral("Pooled %1: your order is ready").arg(i); };
    rig.db.beginTransaction();
    for (int i = 0; i < poolQueued; ++i)
        rig.db.execute(
            QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, "
                           "OutBoxDateTime) VALUES (0, ?, ?, ?)"),
            {QStringLiteral("98888%1").arg(30000 + i), poolText(i), Database::DbTime(QDateTime::currentDateTimeUtc())});
    rig.db.commit();
    for (int i = 0; i < trials; ++i)
        run.killAfter(300, 3000);
    const bool poolDelivered = run.runUntil([&] { return waiting() == 0; });
    // Each text with the modems whose network took it.
    QHash<QString, QList<int>> takenBy;
    QList<int> perModem;
    for (int id = 1; id <= PoolSize; ++id) {
        const QList<ModemSimulator::SentMessage> sent = pool[id - 1]->sent();
        perModem << int(sent.size());
        for (const auto& m : sent)
            takenBy[m.text] << id;
    }
    // Rows that went twice must be among those the program warned of (each recipient is queued once).
    const QByteArray logged = logText();
    int poolNotSent = 0, poolTwice = 0, poolFalselySent = 0, poolFailed = 0, otherModem = 0, twiceUnwarned = 0;
    for (int i = 0; i < poolQueued; ++i) {
        const QString text = poolText(i);
        Query q(rig.db, QStringLiteral("SELECT DeliveryStatus, ModemId FROM Message_OutBox WHERE Message = ?"), {text});
        q.next();
        const QString status = q.value(0).toString();
        const int modem = q.value(1).toInt();
        const QList<int> by = takenBy.value(text);
        poolNotSent += by.isEmpty();
        poolTwice += by.size() > 1;
        twiceUnwarned +=
            by.size() > 1 &&
            !logged.contains(QStringLiteral("The message to 98888%1 was being sent").arg(30000 + i).toLatin1());
        poolFalselySent += status == QLatin1String("SENT") && by.isEmpty();
        // Sent Items name a modem whose network never took the message.
        otherModem += status == QLatin1String("SENT") && !by.isEmpty() && !by.contains(modem);
        poolFailed += status == QLatin1String("FAILED");
    }
    QStringList spread;
    for (int id = 1; id <= PoolSize; ++id)
        spread << QStringLiteral("modem %1: %2").arg(id).arg(perModem[id - 1]);
    std::printf("delivery on %d modems, %d kills: %d queued, %s; never reached the network %d, reached it twice %d "
                "(rows the program warned may go twice: %d; twice without a warning: %d), marked sent without reaching "
                "it %d, marked sent by a "
                "modem that did not send it %d, FAILED %d; sent by %s\n",
                PoolSize, trials, poolQueued, poolDelivered ? "all settled" : "NOT all settled", poolNotSent, poolTwice,
                warnings() - warnedBefore, twiceUnwarned, poolFalselySent, otherModem, poolFailed,
                qPrintable(spread.join(QStringLiteral(", "))));
    std::printf("program starts: %d\n", run.started);
    for (ModemSimulator* m : pool)
        m->stop();
    return lost || falselySent || notSent || poolFalselySent || poolNotSent || otherModem || twiceUnwarned ? 2 : 0;
}
