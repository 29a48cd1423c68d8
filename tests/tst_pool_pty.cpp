// Four modems through the real serial code: the simulator program (broadtext-modemsim --modems 4) links each
// of its modems as a COM port of its own pseudo-terminal, and the program drives them all from one Outbox.
// What the network got is read from the simulator's own lines ("COMn: sent to ..."), so a message counted
// here really left a modem. Labelled slow: it runs in real time.
#include "Conversation.h"
#include "TestRig.h"
#include "delivery/Engine.h"
#include "store/ModemsRepository.h"
#include "store/SettingsRows.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

constexpr int Modems = 4;
constexpr int NetworkMs = 150;

// The simulator program on the rig's data folder, COM1..COM4, and what its network has taken.
struct SimProgram {
    QProcess process;
    QByteArray shown;
    QList<std::pair<int, QString>> network; // the COM number and the text, in the order the network took them

    bool start(const QString& dataDir)
    {
        process.start(QStringLiteral(BROADTEXT_MODEMSIM),
                      {u"--data-dir"_s, dataDir, u"--com"_s, u"1"_s, u"--modems"_s, QString::number(Modems),
                       u"--delay"_s, QString::number(NetworkMs)});
        return process.waitForStarted() && QTest::qWaitFor([this] { return read().contains("Type \"help\""); }, 10000);
    }
    // Everything shown so far; each "sent to" line noted once.
    const QByteArray& read()
    {
        shown += process.readAllStandardOutput();
        static const QRegularExpression sent(u"^COM(\\d+): sent to [^:]*: (.*)$"_s);
        const QStringList lines = QString::fromLocal8Bit(shown).split(QLatin1Char('\n'));
        network.clear();
        for (const QString& line : lines)
            if (const auto m = sent.match(line.trimmed()); m.hasMatch())
                network.append({m.captured(1).toInt(), m.captured(2)});
        return shown;
    }
    void type(const QByteArray& line)
    {
        process.write(line + '\n');
        process.waitForBytesWritten(5000);
    }
    ~SimProgram()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        type("quit");
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

QString messageText(int i)
{
    return u"Pool message %1"_s.arg(i);
}

} // namespace

class PoolPtyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fourModemsShareTheOutbox_data();
    void fourModemsShareTheOutbox();
};

void PoolPtyTest::fourModemsShareTheOutbox_data()
{
    QTest::addColumn<int>("unplugged"); // the COM number unplugged after a quarter of the messages; 0: none
    QTest::newRow("all plugged in") << 0;
    QTest::newRow("a further modem unplugged") << 3;
    QTest::newRow("the first modem unplugged") << 1;
}

void PoolPtyTest::fourModemsShareTheOutbox()
{
    QFETCH(int, unplugged);
    TestRig rig;
    SystemClock clock; // leases run out in real time
    rig.state.clock = &clock;
    SimProgram sim;
    QVERIFY(sim.start(rig.state.dataDir));

    // Modem n on COMn: the first as the settings always kept it, the others as further rows of the list.
    WriteModemSetting(rig.db,
                      {1, u"115200"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, Database::DbBool(true), u"1"_s});
    for (int com = 2; com <= Modems; ++com) {
        ModemConfig modem;
        modem.port = com;
        modem.bitsPerSecond = u"115200"_s;
        QCOMPARE(ModemsRepository(rig.db).save(modem), com);
    }
    Engine engine(rig.state, rig.db, rig.log);
    engine.timerRefreshHomePage.setEnabled(false);
    engine.setReconnectPollMs(300);
    engine.loadModemSettings();
    QCOMPARE(engine.modemIds(), (QList<int>{1, 2, 3, 4}));
    auto ready = [&](int id) { return engine.status(id).ready; };
    engine.Connect();
    for (int id = 1; id <= Modems; ++id)
        QTRY_VERIFY2_WITH_TIMEOUT(
            ready(id), qPrintable(u"modem %1 did not connect: "_s.arg(id) + rig.logFile().right(300)), 15000);
    QVERIFY(rig.dialogs.messages().isEmpty() && rig.dialogs.notices().isEmpty());

    const int queued = 40;
    rig.db.beginTransaction();
    for (int i = 0; i < queued; ++i)
        rig.db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                       "VALUES (0, ?, ?, ?)"_s,
                       {u"98888%1"_s.arg(20000 + i), messageText(i), Database::DbTime(clock.now())});
    rig.db.commit();
    engine.deliverNow();

    // The one in flight on the unplugged modem may have reached the network before its answer was lost: the
    // program cannot know, so it sends it again rather than lose it.
    QString inFlight;
    if (unplugged != 0) {
        QTRY_VERIFY_WITH_TIMEOUT((sim.read(), sim.network.size() >= queued / 4), 20000);
        sim.type(QByteArray::number(unplugged) + " hangup");
        QTRY_VERIFY_WITH_TIMEOUT(!engine.status(unplugged).connected, 5000);
        for (const auto& [com, text] : sim.network)
            if (com == unplugged)
                inFlight = text;
    }
    QTRY_COMPARE_WITH_TIMEOUT(sentItems(rig.db), qint64(queued), 30000);
    // The simulator is another process: its log of what the network took may trail our Sent Items on a busy
    // machine. A message that never reached it still fails below, after this wait.
    const auto reachedNetwork = [&] {
        sim.read();
        QSet<QString> texts;
        for (const auto& [com, text] : sim.network)
            texts.insert(text);
        return texts.size();
    };
    (void)QTest::qWaitFor([&] { return reachedNetwork() >= queued; }, 10000);
    QTest::qWait(300); // nothing more goes out
    sim.read();

    QHash<QString, int> times;
    QSet<int> senders;
    for (const auto& [com, text] : sim.network) {
        ++times[text];
        senders.insert(com);
    }
    for (int i = 0; i < queued; ++i) {
        const int n = times.value(messageText(i));
        QVERIFY2(n == 1 || (n == 2 && messageText(i) == inFlight),
                 qPrintable(u"%1 reached the network %2 times"_s.arg(messageText(i)).arg(n)));
    }
    QCOMPARE(senders.size(), Modems);
    // Sent Items name the modem the network got each message from (modem n is COMn).
    for (const auto& [com, text] : sim.network)
        if (times.value(text) == 1)
            QCOMPARE(rig.db.scalar(u"SELECT ModemId FROM Message_OutBox WHERE Message = ?"_s, {text}).toInt(), com);
    QVERIFY(rig.dialogs.messages().isEmpty());
    if (unplugged == 0)
        return;

    // Plugged in again, it rejoins and takes its share of what is queued next.
    sim.type(QByteArray::number(unplugged) + " plug");
    QTRY_VERIFY_WITH_TIMEOUT(ready(unplugged), 10000);
    const qsizetype before = sim.network.size();
    rig.db.beginTransaction();
    for (int i = queued; i < queued + 2 * Modems; ++i)
        rig.db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                       "VALUES (0, ?, ?, ?)"_s,
                       {u"98888%1"_s.arg(20000 + i), messageText(i), Database::DbTime(clock.now())});
    rig.db.commit();
    engine.deliverNow();
    QTRY_COMPARE_WITH_TIMEOUT(sentItems(rig.db), qint64(queued + 2 * Modems), 20000);
    sim.read();
    QList<int> later;
    for (qsizetype i = before; i < sim.network.size(); ++i)
        later << sim.network[i].first;
    QVERIFY2(later.contains(unplugged), qPrintable(u"%1 messages, none from COM%2"_s.arg(later.size()).arg(unplugged)));
    engine.Disconnect();
}

QTEST_GUILESS_MAIN(PoolPtyTest)
#include "tst_pool_pty.moc"
