// A pool of simulated modems, each a device of its own: its identity, its health answers (27.007), AT+CMMS
// and what it saves, failures that stay on the modem they were set on, +CMTI as AT+CNMI asks, and the console
// lines that address one modem or all. Spoken to through the simulator's own line on a clock of the test's,
// so nothing here waits.
#include "SimulatorLine.h"
#include "tools/ModemSimulator.h"
#include "tools/SimConsole.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Four modems on COM1..COM4 of one console, echo off.
struct Pool {
    Pool()
    {
        for (int com = 1; com <= 4; ++com) {
            sims.push_back(std::make_unique<ModemSimulator>());
            sims.back()->setClock([this] { return now; });
            sims.back()->setEcho(false);
            modems << SimConsole::Modem{com, sims.back().get()};
        }
        console = std::make_unique<SimConsole>(modems);
    }

    ModemSimulator& at(int com) { return *sims.at(com - 1); }

    // Everything the modem writes for these bytes, the clock moved on to its last piece; when, after the
    // bytes went in, the last piece came.
    QByteArray write(int com, const QByteArray& bytes, qint64* tookMs = nullptr)
    {
        at(com).feed(bytes);
        return collect(com, tookMs);
    }
    QByteArray collect(int com, qint64* tookMs = nullptr)
    {
        const qint64 start = now;
        QByteArray out;
        for (const ModemSimulator::Output& o : at(com).takeOutput()) {
            out += o.bytes;
            now = std::max(now, o.atMs);
        }
        if (tookMs)
            *tookMs = now - start;
        return out;
    }
    // The answer's lines, without blank ones and without the final OK.
    QStringList ask(int com, const QString& command)
    {
        QStringList lines = QString::fromLatin1(write(com, command.toLatin1() + '\r')).split(QStringLiteral("\r\n"));
        lines.removeAll(QString());
        if (lines.value(lines.size() - 1) == QLatin1String("OK"))
            lines.removeLast();
        return lines;
    }
    // Console lines separated by ';'.
    void type(const QString& lines)
    {
        QStringList shown;
        for (const QString& line : lines.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            console->run(line, shown);
    }
    // One text-mode submission: its final answer line, and how long the network took.
    QString submit(int com, qint64* tookMs = nullptr)
    {
        write(com, "AT+CMGF=1\r");
        write(com, "AT+CMGS=\"+15550001\"\r");
        QStringList lines = QString::fromLatin1(write(com, "hello\x1a", tookMs)).split(QStringLiteral("\r\n"));
        lines.removeAll(QString());
        return lines.value(0);
    }

    qint64 now = 1000;
    std::vector<std::unique_ptr<ModemSimulator>> sims;
    QList<SimConsole::Modem> modems;
    std::unique_ptr<SimConsole> console;
};

// {imei}, {imsi}, {iccid}, {long}, {short}, {code}: the modem's own.
QString withIdentity(QString text, const ModemSimulator::Serials& s)
{
    return text.replace(QStringLiteral("{imei}"), s.imei)
        .replace(QStringLiteral("{imsi}"), s.imsi)
        .replace(QStringLiteral("{iccid}"), s.iccid)
        .replace(QStringLiteral("{long}"), s.operatorLong)
        .replace(QStringLiteral("{short}"), s.operatorShort)
        .replace(QStringLiteral("{code}"), s.operatorCode);
}

// A serial port opened as a program opens it: raw, read with a deadline.
class RawPort {
public:
    explicit RawPort(const QString& path) : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY))
    {
        termios t{};
        if (fd >= 0 && tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~RawPort()
    {
        if (fd >= 0)
            ::close(fd);
    }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;
    bool isOpen() const { return fd >= 0; }
    // What comes within ms, or up to a line ending in `until`.
    QByteArray read(int ms, const QByteArray& until = {})
    {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && (until.isEmpty() || !got.contains(until))) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::max<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
        }
        return got;
    }
    QByteArray ask(const QByteArray& command)
    {
        [[maybe_unused]] const ssize_t n = ::write(fd, command.constData(), size_t(command.size()));
        return read(5000, "OK\r\n");
    }

private:
    int fd;
};

} // namespace

class SimPoolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachModemAnswersWithItsOwnIdentity_data();
    void eachModemAnswersWithItsOwnIdentity();
    void healthAnswers_data();
    void healthAnswers();
    void registrationChangesAreAnnouncedWhenAskedFor_data();
    void registrationChangesAreAnnouncedWhenAskedFor();
    void keptLinkShortensTheFollowingParts_data();
    void keptLinkShortensTheFollowingParts();
    void failuresStayOnTheirModem_data();
    void failuresStayOnTheirModem();
    void newMessagesAreAnnouncedAsCnmiAsks_data();
    void newMessagesAreAnnouncedAsCnmiAsks();
    void commandLineMakesTheModems_data();
    void commandLineMakesTheModems();
    void eachComNumberReachesItsModemOnTheMemoryLine();
    void unpluggedModemIsBackWhenPluggedIn();
    void programLinksEachModemAsItsOwnComPort();
};

void SimPoolTest::eachModemAnswersWithItsOwnIdentity_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");
    QTest::newRow("IMEI") << u"AT+CGSN"_s << u"{imei}"_s;
    QTest::newRow("IMSI") << u"AT+CIMI"_s << u"{imsi}"_s;
    QTest::newRow("ICCID") << u"AT+CCID"_s << u"+CCID: {iccid}"_s;
    QTest::newRow("operator") << u"AT+COPS?"_s << u"+COPS: 0,0,\"{long}\""_s;
}

void SimPoolTest::eachModemAnswersWithItsOwnIdentity()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);
    Pool pool;
    QSet<QString> answers;
    for (int com = 1; com <= 4; ++com) {
        const QStringList answer = pool.ask(com, command);
        QCOMPARE(answer, QStringList(withIdentity(expected, pool.at(com).serials())));
        answers << answer.join(QLatin1Char('\n'));
    }
    QCOMPARE(answers.size(), 4);
}

void SimPoolTest::healthAnswers_data()
{
    QTest::addColumn<QString>("console");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("expected"); // the last command's answer
    QTest::newRow("signal") << u"2 signal 12 3"_s << QStringList{u"AT+CSQ"_s} << u"+CSQ: 12,3"_s;
    QTest::newRow("signal, bit errors not known") << u"2 signal 7"_s << QStringList{u"AT+CSQ"_s} << u"+CSQ: 7,99"_s;
    QTest::newRow("signal range") << QString() << QStringList{u"AT+CSQ=?"_s} << u"+CSQ: (0-31,99),(0-7,99)"_s;
    QTest::newRow("registered at home") << QString() << QStringList{u"AT+CREG?"_s} << u"+CREG: 0,1"_s;
    QTest::newRow("roaming") << u"2 reg roaming"_s << QStringList{u"AT+CREG?"_s} << u"+CREG: 0,5"_s;
    QTest::newRow("denied") << u"2 reg denied"_s << QStringList{u"AT+CREG?"_s} << u"+CREG: 0,3"_s;
    QTest::newRow("searching, announcing with cell")
        << u"2 reg searching"_s << QStringList{u"AT+CREG=2"_s, u"AT+CREG?"_s} << u"+CREG: 2,2"_s;
    QTest::newRow("not registered, announcing")
        << u"2 reg none"_s << QStringList{u"AT+CREG=1"_s, u"AT+CREG?"_s} << u"+CREG: 1,0"_s;
    QTest::newRow("announcing beyond 2") << QString() << QStringList{u"AT+CREG=3"_s} << u"ERROR"_s;
    QTest::newRow("operator, short name")
        << QString() << QStringList{u"AT+COPS=3,1"_s, u"AT+COPS?"_s} << u"+COPS: 0,1,\"{short}\""_s;
    QTest::newRow("operator, numeric") << QString() << QStringList{u"AT+COPS=3,2"_s, u"AT+COPS?"_s}
                                       << u"+COPS: 0,2,\"{code}\""_s;
    QTest::newRow("operator, none while searching")
        << u"2 reg searching"_s << QStringList{u"AT+COPS?"_s} << u"+COPS: 0"_s;
    QTest::newRow("operator format beyond 2") << QString() << QStringList{u"AT+COPS=3,5"_s} << u"ERROR"_s;
    QTest::newRow("ICCID as the number alone") << u"2 ccid bare"_s << QStringList{u"AT+CCID"_s} << u"{iccid}"_s;
    QTest::newRow("ICCID with its prefix again")
        << u"2 ccid bare;2 ccid plain"_s << QStringList{u"AT+CCID"_s} << u"+CCID: {iccid}"_s;
    QTest::newRow("CMMS range") << QString() << QStringList{u"AT+CMMS=?"_s} << u"+CMMS: (0-2)"_s;
    QTest::newRow("CMMS at first") << QString() << QStringList{u"AT+CMMS?"_s} << u"+CMMS: 0"_s;
    QTest::newRow("CMMS set") << QString() << QStringList{u"AT+CMMS=2"_s, u"AT+CMMS?"_s} << u"+CMMS: 2"_s;
    QTest::newRow("CMMS beyond 2") << QString() << QStringList{u"AT+CMMS=3"_s} << u"ERROR"_s;
    QTest::newRow("CMMS refused") << u"2 cmms refuse"_s << QStringList{u"AT+CMMS=2"_s} << u"ERROR"_s;
    QTest::newRow("CMMS refused, asked") << u"2 cmms refuse"_s << QStringList{u"AT+CMMS?"_s} << u"ERROR"_s;
}

// Asked on COM2 after the console lines; the other modems answer as before them.
void SimPoolTest::healthAnswers()
{
    QFETCH(QString, console);
    QFETCH(QStringList, commands);
    QFETCH(QString, expected);
    Pool pool;
    const auto others = [&] { return QList<QStringList>{pool.ask(1, commands.last()), pool.ask(3, commands.last())}; };
    const QList<QStringList> othersBefore = others();
    pool.type(console);
    for (qsizetype i = 0; i + 1 < commands.size(); ++i)
        QVERIFY2(!pool.ask(2, commands[i]).contains(u"ERROR"_s), qPrintable(commands[i]));
    QCOMPARE(pool.ask(2, commands.last()), QStringList(withIdentity(expected, pool.at(2).serials())));
    QCOMPARE(others(), othersBefore);
}

void SimPoolTest::registrationChangesAreAnnouncedWhenAskedFor_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("console");
    QTest::addColumn<QString>("announced"); // a pattern; empty: nothing comes
    QTest::newRow("not asked") << u"AT+CREG=0"_s << u"2 reg searching"_s << QString();
    QTest::newRow("state") << u"AT+CREG=1"_s << u"2 reg searching"_s << u"^\\+CREG: 2$"_s;
    QTest::newRow("state, roaming") << u"AT+CREG=1"_s << u"2 reg roaming"_s << u"^\\+CREG: 5$"_s;
    QTest::newRow("no change") << u"AT+CREG=1"_s << u"2 reg home"_s << QString();
    QTest::newRow("state and cell") << u"AT+CREG=2"_s << u"2 reg roaming"_s
                                    << u"^\\+CREG: 5,\"[0-9A-F]{4}\",\"[0-9A-F]{4}\"$"_s;
    QTest::newRow("state, no cell while denied") << u"AT+CREG=2"_s << u"2 reg denied"_s << u"^\\+CREG: 3$"_s;
}

void SimPoolTest::registrationChangesAreAnnouncedWhenAskedFor()
{
    QFETCH(QString, mode);
    QFETCH(QString, console);
    QFETCH(QString, announced);
    Pool pool;
    for (const int com : {1, 2})
        QCOMPARE(pool.ask(com, mode), QStringList());
    pool.type(console);
    const QString line = QString::fromLatin1(pool.collect(2)).trimmed();
    if (announced.isEmpty())
        QCOMPARE(line, QString());
    else
        QVERIFY2(QRegularExpression(announced).match(line).hasMatch(), qPrintable(line));
    QCOMPARE(pool.collect(1), QByteArray());
}

void SimPoolTest::keptLinkShortensTheFollowingParts_data()
{
    const int d = 3000;
    const int kept = d - ModemSimulator::LinkKeptGainMs;
    const int pause = ModemSimulator::LinkHoldMs + 1000;
    QTest::addColumn<QString>("console");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("pauses");    // before each submission after the first
    QTest::addColumn<QList<int>>("networkMs"); // each submission's
    QTest::addColumn<int>("modeAfter");
    QTest::newRow("link not kept") << QString() << QString() << QList<int>{0, 0} << QList<int>{d, d, d} << 0;
    QTest::newRow("kept") << QString() << u"AT+CMMS=2"_s << QList<int>{0, 0} << QList<int>{d, kept, kept} << 2;
    QTest::newRow("kept, again after a long pause")
        << QString() << u"AT+CMMS=2"_s << QList<int>{0, pause, 0} << QList<int>{d, kept, d, kept} << 2;
    QTest::newRow("kept once, then closed by a long pause")
        << QString() << u"AT+CMMS=1"_s << QList<int>{0, pause, 0} << QList<int>{d, kept, d, d} << 0;
    QTest::newRow("refused") << u"2 cmms refuse"_s << u"AT+CMMS=2"_s << QList<int>{0, 0} << QList<int>{d, d, d} << 0;
}

void SimPoolTest::keptLinkShortensTheFollowingParts()
{
    QFETCH(QString, console);
    QFETCH(QString, mode);
    QFETCH(QList<int>, pauses);
    QFETCH(QList<int>, networkMs);
    QFETCH(int, modeAfter);
    Pool pool;
    pool.type(u"2 delay 3000;"_s + console);
    if (!mode.isEmpty())
        pool.ask(2, mode);
    QList<int> took;
    for (qsizetype i = 0; i < networkMs.size(); ++i) {
        pool.now += i > 0 ? pauses[i - 1] : 0;
        qint64 ms = 0;
        QVERIFY(pool.submit(2, &ms).startsWith(u"+CMGS: "_s));
        took << int(ms);
    }
    QCOMPARE(took, networkMs);
    QList<int> keptOnes;
    for (const ModemSimulator::SentMessage& m : pool.at(2).sent())
        keptOnes << (m.linkKept ? networkMs.first() - ModemSimulator::LinkKeptGainMs : networkMs.first());
    QCOMPARE(keptOnes, networkMs);
    QCOMPARE(pool.at(2).cmmsMode(), modeAfter);
    // The others kept the network time they had.
    qint64 other = -1;
    pool.submit(1, &other);
    QCOMPARE(other, 0);
}

void SimPoolTest::failuresStayOnTheirModem_data()
{
    QTest::addColumn<QString>("console");
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("failures"); // of three submissions on each failing modem
    QTest::newRow("one send") << u"2 fail cms 1 38"_s << QList<int>{2} << u"+CMS ERROR: 38"_s << 1;
    QTest::newRow("two sends, default cause") << u"3 fail cms 2"_s << QList<int>{3} << u"+CMS ERROR: 500"_s << 2;
    QTest::newRow("network-wide") << u"2 fail network"_s << QList<int>{2} << u"+CMS ERROR: 331"_s << 3;
    QTest::newRow("network-wide, its cause") << u"4 fail network 42"_s << QList<int>{4} << u"+CMS ERROR: 42"_s << 3;
    QTest::newRow("network-wide, over") << u"2 fail network;2 fail off"_s << QList<int>{} << QString() << 0;
    QTest::newRow("not registered") << u"3 reg searching"_s << QList<int>{3} << u"+CMS ERROR: 331"_s << 3;
    QTest::newRow("network-wide on every modem")
        << u"fail network 38"_s << QList<int>{1, 2, 3, 4} << u"+CMS ERROR: 38"_s << 3;
}

void SimPoolTest::failuresStayOnTheirModem()
{
    QFETCH(QString, console);
    QFETCH(QList<int>, failing);
    QFETCH(QString, error);
    QFETCH(int, failures);
    Pool pool;
    pool.type(console);
    for (int com = 1; com <= 4; ++com) {
        const int expectedFailures = failing.contains(com) ? failures : 0;
        QStringList expected;
        for (int i = 0; i < 3; ++i)
            expected << (i < expectedFailures ? error : u"sent"_s);
        QStringList answers;
        for (int i = 0; i < 3; ++i) {
            const QString answer = pool.submit(com);
            answers << (answer.startsWith(u"+CMGS: "_s) ? u"sent"_s : answer);
        }
        QCOMPARE(answers, expected);
        QCOMPARE(pool.at(com).sent().size(), 3 - expectedFailures);
    }
}

void SimPoolTest::newMessagesAreAnnouncedAsCnmiAsks_data()
{
    QTest::addColumn<QString>("cnmi");
    QTest::addColumn<QString>("console");
    QTest::addColumn<QList<int>>("receiving");
    QTest::addColumn<bool>("announced");
    QTest::newRow("addressed, as modems start") << QString() << u"2 sms +15551234 hello"_s << QList<int>{2} << true;
    QTest::newRow("asked for") << u"AT+CNMI=2,1,0,1,0"_s << u"2 sms +15551234 hello"_s << QList<int>{2} << true;
    QTest::newRow("not asked for") << u"AT+CNMI=2,0,0,0,0"_s << u"2 sms +15551234 hello"_s << QList<int>{2} << false;
    QTest::newRow("mode only, announcing kept")
        << u"AT+CNMI=1"_s << u"3 sms +15551234 hello"_s << QList<int>{3} << true;
    QTest::newRow("unaddressed: the first modem") << QString() << u"sms +15551234 hello"_s << QList<int>{1} << true;
    QTest::newRow("every modem") << QString() << u"* sms +15551234 hello"_s << QList<int>{1, 2, 3, 4} << true;
    QTest::newRow("no such modem") << QString() << u"7 sms +15551234 hello"_s << QList<int>{} << true;
}

void SimPoolTest::newMessagesAreAnnouncedAsCnmiAsks()
{
    QFETCH(QString, cnmi);
    QFETCH(QString, console);
    QFETCH(QList<int>, receiving);
    QFETCH(bool, announced);
    Pool pool;
    for (int com = 1; com <= 4; ++com) {
        pool.at(com).storeMessage(u"REC READ"_s, u"+15550000"_s, u"older"_s);
        if (!cnmi.isEmpty())
            QCOMPARE(pool.ask(com, cnmi), QStringList());
    }
    pool.type(console);
    for (int com = 1; com <= 4; ++com) {
        const bool receives = receiving.contains(com);
        QCOMPARE(pool.at(com).simMessages().size(), receives ? 2 : 1);
        QCOMPARE(pool.collect(com), receives && announced ? QByteArray("\r\n+CMTI: \"SM\",2\r\n") : QByteArray());
    }
}

void SimPoolTest::commandLineMakesTheModems_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("coms"); // empty: refused
    QTest::addColumn<int>("unit");
    QTest::newRow("one, as before") << QStringList{} << QList<int>{1} << 1;
    QTest::newRow("one, its unit") << QStringList{u"--com"_s, u"3"_s, u"--unit"_s, u"2"_s} << QList<int>{3} << 2;
    QTest::newRow("several") << QStringList{u"--com"_s, u"1"_s, u"--com"_s, u"2"_s, u"--com"_s, u"5"_s}
                             << QList<int>{1, 2, 5} << 1;
    QTest::newRow("a count") << QStringList{u"--modems"_s, u"4"_s, u"--com"_s, u"3"_s} << QList<int>{3, 4, 5, 6} << 1;
    QTest::newRow("a count from COM1") << QStringList{u"--modems"_s, u"2"_s} << QList<int>{1, 2} << 1;
    QTest::newRow("a count past COM20") << QStringList{u"--com"_s, u"19"_s, u"--modems"_s, u"3"_s} << QList<int>{} << 1;
    QTest::newRow("a count and two COMs")
        << QStringList{u"--com"_s, u"1"_s, u"--com"_s, u"2"_s, u"--modems"_s, u"2"_s} << QList<int>{} << 1;
    QTest::newRow("a COM twice") << QStringList{u"--com"_s, u"2"_s, u"--com"_s, u"2"_s} << QList<int>{} << 1;
    QTest::newRow("COM0") << QStringList{u"--com"_s, u"0"_s} << QList<int>{} << 1;
    QTest::newRow("unknown option") << QStringList{u"--colour"_s, u"1"_s} << QList<int>{} << 1;
}

void SimPoolTest::commandLineMakesTheModems()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, coms);
    QFETCH(int, unit);
    QString error;
    const std::optional<SimOptions> o =
        ParseSimOptions(QStringList{u"broadtext-modemsim"_s} + arguments, u"/data"_s, &error);
    QCOMPARE(o.has_value(), !coms.isEmpty());
    if (!o) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QCOMPARE(o->coms, coms);
    QCOMPARE(o->unit, unit);
}

// The in-memory line the program's tests use: each COM number reaches its own modem, another none.
void SimPoolTest::eachComNumberReachesItsModemOnTheMemoryLine()
{
    Pool pool;
    QList<std::pair<int, ModemSimulator*>> modems;
    for (int com = 1; com <= 4; ++com)
        modems << std::pair{com, &pool.at(com)};
    SimulatorLine line(modems);
    for (const int com : {3, 1, 4, 2, 5}) {
        MemoryTransport port(line.clock, line);
        port.setCommPort(com);
        port.setSettings(u"9600,n,8,1"_s);
        const ModemTransport::Error opened = port.setPortOpen(true);
        if (com == 5) {
            QCOMPARE(opened.number, int(ModemTransport::InvalidPortNumber));
            continue;
        }
        QVERIFY2(!opened, qPrintable(opened.description));
        port.Output("AT+CGSN\r");
        QByteArray answer;
        QVERIFY(QTest::qWaitFor(
            [&] {
                port.waitForInput(10);
                answer += port.Input();
                return answer.endsWith("OK\r\n");
            },
            5000));
        QCOMPARE(QString::fromLatin1(answer).split(u"\r\n"_s, Qt::SkipEmptyParts),
                 (QStringList{pool.at(com).serials().imei, u"OK"_s}));
    }
}

// "2 hangup" unplugs COM2 alone; "2 plug" brings the same device back, its SIM store kept.
void SimPoolTest::unpluggedModemIsBackWhenPluggedIn()
{
    Pool pool;
    SimulatorLine line({{1, &pool.at(1)}, {2, &pool.at(2)}});
    pool.at(2).storeMessage(u"REC UNREAD"_s, u"+15550000"_s, u"kept"_s);
    auto opens = [&line](int com) {
        MemoryTransport port(line.clock, line);
        port.setCommPort(com);
        port.setSettings(u"9600,n,8,1"_s);
        return !port.setPortOpen(true);
    };
    pool.type(u"2 hangup"_s);
    QCOMPARE((QList<bool>{opens(1), opens(2)}), (QList<bool>{true, false}));
    pool.type(u"2 plug"_s);
    QCOMPARE((QList<bool>{opens(1), opens(2)}), (QList<bool>{true, true}));
    // A device just plugged in echoes again, until told not to.
    QVERIFY(pool.ask(2, u"ATE0"_s).contains(u"ATE0\r"_s));
    QCOMPARE(pool.ask(2, u"AT+CGSN"_s), QStringList(pool.at(2).serials().imei));
    QCOMPARE(pool.at(2).simMessages().size(), 1);
}

// broadtext-modemsim --com 2 --modems 2: COM2 and COM3 are two devices; "3 sms" reaches COM3 alone.
void SimPoolTest::programLinksEachModemAsItsOwnComPort()
{
    QTemporaryDir data;
    QProcess program;
    program.start(QStringLiteral(BROADTEXT_MODEMSIM),
                  {u"--data-dir"_s, data.path(), u"--com"_s, u"2"_s, u"--modems"_s, u"2"_s});
    QVERIFY(program.waitForStarted());
    QByteArray shown;
    QVERIFY(QTest::qWaitFor(
        [&] {
            program.waitForReadyRead(50);
            shown += program.readAllStandardOutput();
            return shown.contains("Type \"help\"");
        },
        10000));
    const QString com2 = QFileInfo(data.filePath(u"ports/COM2"_s)).symLinkTarget();
    const QString com3 = QFileInfo(data.filePath(u"ports/COM3"_s)).symLinkTarget();
    QVERIFY2(!com2.isEmpty() && com2 != com3, qPrintable(com2 + u" "_s + com3));
    RawPort port2(data.filePath(u"ports/COM2"_s)), port3(data.filePath(u"ports/COM3"_s));
    QVERIFY(port2.isOpen() && port3.isOpen());
    QVERIFY(port2.ask("ATE0\r").endsWith("OK\r\n"));
    QVERIFY(port3.ask("ATE0\r").endsWith("OK\r\n"));
    QCOMPARE(port2.ask("AT+CGSN\r"), "\r\n" + ModemSimulator::serialsOfUnit(1).imei.toLatin1() + "\r\n\r\nOK\r\n");
    QCOMPARE(port3.ask("AT+CGSN\r"), "\r\n" + ModemSimulator::serialsOfUnit(2).imei.toLatin1() + "\r\n\r\nOK\r\n");
    program.write("3 sms +15551234 hello\n");
    QVERIFY(program.waitForBytesWritten(5000));
    QCOMPARE(port3.read(5000, "\r\n+CMTI: \"SM\",1\r\n"), QByteArray("\r\n+CMTI: \"SM\",1\r\n"));
    QCOMPARE(port2.read(200), QByteArray());
    program.write("quit\n");
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(data.filePath(u"ports/COM2"_s)) &&
            !QFileInfo(data.filePath(u"ports/COM3"_s)).isSymLink());
}

QTEST_GUILESS_MAIN(SimPoolTest)
#include "tst_sim_pool.moc"
