#include "tools/ModemSimulator.h"

#include "tools/SimCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray CrLf = "\r\n";
const QByteArray Ok = "\r\nOK\r\n";
const QByteArray Error = "\r\nERROR\r\n";

QByteArray quoted(const QByteArray& s)
{
    return '"' + s + '"';
}

QByteArray quoted(const QString& s)
{
    return quoted(s.toLatin1());
}

// "yy/MM/dd,hh:mm:ss+zz", the zone in quarter hours.
QString timestamp(const QDateTime& t)
{
    const int quarters = t.offsetFromUtc() / 900;
    return t.toString(QStringLiteral("yy/MM/dd,hh:mm:ss")) + (quarters < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1").arg(std::abs(quarters), 2, 10, QLatin1Char('0'));
}

QString unquoted(QString s)
{
    return s.remove(QLatin1Char('"')).trimmed();
}

// The statuses of AT+CMGL, by their number in PDU mode.
const QStringList& ListingStatusNames()
{
    static const QStringList names = {QStringLiteral("REC UNREAD"), QStringLiteral("REC READ"),
                                      QStringLiteral("STO UNSENT"), QStringLiteral("STO SENT"), QStringLiteral("ALL")};
    return names;
}

} // namespace

ModemSimulator::ModemSimulator()
{
    static std::atomic<int> made{0};
    serialNumbers = serialsOfUnit(++made);
}

ModemSimulator::Serials ModemSimulator::serialsOfUnit(int unit)
{
    // Units take the operators in turn, so that a pool of modems has a SIM of each.
    struct Operator {
        const char *longName, *shortName, *code;
    };
    static const Operator Operators[] = {{"Simnet Mobile", "Simnet", "00101"},
                                         {"Tessera Telecom", "Tessera", "00102"},
                                         {"Orbit GSM", "Orbit", "00103"},
                                         {"Lantern Wireless", "Lantern", "00104"}};
    const Operator& o = Operators[std::abs(unit - 1) % std::size(Operators)];
    const QString code = QString::fromLatin1(o.code);
    return {QStringLiteral("35693803%1").arg(unit, 7, 10, QLatin1Char('0')),
            QStringLiteral("899110%1").arg(unit, 13, 10, QLatin1Char('0')),
            code + QStringLiteral("%1").arg(unit, 10, 10, QLatin1Char('0')),
            QString::fromLatin1(o.longName),
            QString::fromLatin1(o.shortName),
            code};
}

ModemSimulator::~ModemSimulator()
{
    stop();
}

void ModemSimulator::setClock(std::function<qint64()> nowMs)
{
    std::lock_guard lock(mutex);
    clock = std::move(nowMs);
}

void ModemSimulator::setDateClock(std::function<QDateTime()> now)
{
    std::lock_guard lock(mutex);
    dateClock = std::move(now);
}

qint64 ModemSimulator::nowMs() const
{
    if (clock)
        return clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool ModemSimulator::start(QString* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(strerror(errno)));
        return false;
    };
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return fail("posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return fail("grantpt/unlockpt");
    slavePath = QString::fromLocal8Bit(ptsname(master));
    // Keep one end of the terminal open ourselves, in raw mode: the line discipline must not touch the
    // bytes before the program opens the port, and the terminal survives the program closing it.
    slave = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail("open slave");
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    started = QDateTime::currentDateTime();
    running = true;
    thread = std::thread([this] { run(); });
    return true;
}

void ModemSimulator::wake()
{
    if (wakePipe[1] >= 0) {
        char c = 1;
        [[maybe_unused]] auto n = ::write(wakePipe[1], &c, 1);
    }
}

void ModemSimulator::stop()
{
    running = false;
    wake();
    if (thread.joinable())
        thread.join();
    closeTerminal();
    for (int& fd : wakePipe)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        linkPath.clear();
    }
}

void ModemSimulator::closeTerminal()
{
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
    if (slave >= 0) {
        ::close(slave);
        slave = -1;
    }
}

void ModemSimulator::hangUp()
{
    {
        std::lock_guard lock(mutex);
        hangupRequested = true;
    }
    wake();
    if (thread.joinable())
        thread.join();
    running = false;
    // An unplugged device's node goes away. Left in place, the link would point at a pseudo-terminal number the
    // system soon gives to another program, which a program waiting for this modem would then open.
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
}

bool ModemSimulator::replug(QString* error)
{
    std::unique_lock lock(mutex);
    if (!hangupRequested)
        return true;
    hangupRequested = false;
    // A new device: what was under way on the old line is gone.
    line.clear();
    bodyFor = BodyFor::None;
    body.clear();
    ready.clear();
    delayed.clear();
    echo = true;
    cmms = 0;
    cregMode = 0;
    lastConfirmAt = -1;
    if (slavePath.isEmpty())
        return true; // on a line other than the pseudo-terminal
    lock.unlock();
    for (int& fd : wakePipe)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    const QString link = linkPath;
    linkPath.clear();
    if (!start(error))
        return false;
    if (link.isEmpty())
        return true;
    const QString comName = QFileInfo(link).fileName();
    return linkAs(QFileInfo(QFileInfo(link).absolutePath()).absolutePath(), comName.mid(3).toInt(), error);
}

QString ModemSimulator::devicePath() const
{
    return slavePath;
}

bool ModemSimulator::linkAs(const QString& dataDir, int comNumber, QString* error)
{
    const QString dir = dataDir + QStringLiteral("/ports");
    // The data folder is the program's: owner-only, as the program makes it.
    if (!QFileInfo::exists(dataDir) && QDir().mkpath(QFileInfo(dataDir).absolutePath()))
        ::mkdir(QFile::encodeName(dataDir).constData(), 0700);
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    const QString link = dir + QStringLiteral("/COM%1").arg(comNumber);
    QFile::remove(link);
    if (::symlink(slavePath.toLocal8Bit().constData(), link.toLocal8Bit().constData()) != 0) {
        if (error)
            *error = QStringLiteral("cannot link %1: %2").arg(link, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    linkPath = link;
    return true;
}

qint64 ModemSimulator::nowUs() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ModemSimulator::run()
{
    QByteArray outgoing;
    char buffer[4096];
    while (running) {
        int timeout = 50;
        bool hangup = false;
        int bytesPerSecond = 0;
        {
            std::lock_guard lock(mutex);
            hangup = hangupRequested;
            const qint64 now = nowMs();
            tickCall(now);
            while (!delayed.empty() && delayed.front().at <= now) {
                outgoing += delayed.front().bytes;
                delayed.pop_front();
            }
            outgoing += ready;
            ready.clear();
            if (!delayed.empty())
                timeout = int(std::clamp<qint64>(delayed.front().at - now, 0, 50));
            if (call.active)
                timeout = int(std::clamp<qint64>(call.nextRingAt - now, 0, timeout));
            bytesPerSecond = baud / 10;
        }
        if (hangup) {
            closeTerminal();
            running = false;
            note(QStringLiteral("hung up"));
            break;
        }
        // A slow line sends a slice of about 10 ms at a time, and nothing before the previous one is out.
        qsizetype slice = outgoing.size();
        bool lineBusy = false;
        if (bytesPerSecond > 0 && !outgoing.isEmpty()) {
            const qint64 wait = lineFreeAtUs - nowUs();
            if (wait > 0) {
                lineBusy = true;
                timeout = std::min<int>(timeout, int((wait + 999) / 1000));
            }
            slice = std::min<qsizetype>(outgoing.size(), std::max(1, bytesPerSecond / 100));
        }
        const bool wantWrite = !outgoing.isEmpty() && !lineBusy;
        pollfd fds[2] = {{master, short(POLLIN | (wantWrite ? POLLOUT : 0)), 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
            }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(mutex);
                raw.append(buffer, n);
                for (ssize_t i = 0; i < n; ++i)
                    handleByte(buffer[i]);
            }
        }
        if (wantWrite && (fds[0].revents & POLLOUT)) {
            const ssize_t n = ::write(master, outgoing.constData(), size_t(slice));
            if (n > 0) {
                written += n;
                outgoing.remove(0, n);
                if (bytesPerSecond > 0)
                    lineFreeAtUs = std::max(lineFreeAtUs, nowUs()) + n * 1000000 / bytesPerSecond;
            }
        }
    }
}

void ModemSimulator::feed(const QByteArray& bytes)
{
    std::lock_guard lock(mutex);
    raw += bytes;
    for (const char c : bytes)
        handleByte(c);
}

QList<ModemSimulator::Output> ModemSimulator::takeOutput()
{
    std::lock_guard lock(mutex);
    const qint64 now = nowMs();
    tickCall(now);
    QList<Output> out;
    // Delayed answers now due go before what was written now, as the thread writes them.
    QByteArray due;
    while (!delayed.empty() && delayed.front().at <= now) {
        due += delayed.front().bytes;
        delayed.pop_front();
    }
    due += std::exchange(ready, {});
    if (!due.isEmpty())
        out.push_back({now, due});
    for (Delayed& d : delayed)
        out.push_back({d.at, std::move(d.bytes)});
    delayed.clear();
    for (const Output& o : out)
        written += o.bytes.size();
    return out;
}

bool ModemSimulator::outputDue() const
{
    std::lock_guard lock(mutex);
    return !ready.isEmpty() || !delayed.empty() || (call.active && call.nextRingAt <= nowMs());
}

bool ModemSimulator::hangUpAsked() const
{
    std::lock_guard lock(mutex);
    return hangupRequested;
}

int ModemSimulator::baudRate() const
{
    std::lock_guard lock(mutex);
    return baud;
}

// ---- protocol (called with the mutex held) ----

void ModemSimulator::writeNow(const QByteArray& bytes)
{
    ready += bytes;
}

void ModemSimulator::answer(const QByteArray& raw, int delayMs)
{
    if (silent)
        return;
    QByteArray bytes = raw;
    if (!pendingInjection.isEmpty()) {
        // After the first complete line of the answer, as a modem would interleave it.
        qsizetype at = bytes.indexOf(CrLf, bytes.startsWith(CrLf) ? 2 : 0);
        at = at < 0 ? bytes.size() / 2 : at + 2;
        bytes.insert(at, pendingInjection);
        pendingInjection.clear();
    }
    auto schedule = [this](qint64 at, const QByteArray& b) {
        if (!delayed.empty() && delayed.back().at > at)
            at = delayed.back().at; // answers keep their order
        if (at <= nowMs() && delayed.empty())
            ready += b;
        else
            delayed.push_back({at, b});
    };
    qint64 at = nowMs() + delayMs + answerDelayMs;
    if (chunkPauseMs > 0 && bytes.size() > 1) {
        const qsizetype piece = chunkBytes > 0 ? chunkBytes : (bytes.size() + 1) / 2;
        for (qsizetype i = 0; i < bytes.size(); i += piece, at += chunkPauseMs)
            schedule(at, bytes.mid(i, piece));
        at -= chunkPauseMs;
    } else {
        schedule(at, bytes);
    }
    if (!pendingAfter.isEmpty()) {
        schedule(at + pendingAfterDelayMs, pendingAfter);
        pendingAfter.clear();
    }
}

void ModemSimulator::handleByte(char c)
{
    if (bodyFor != BodyFor::None) {
        if (c == 26) {
            finishBody();
        } else if (c == 27) {
            bodyFor = BodyFor::None;
            body.clear();
            answer(Ok);
        } else {
            body += c;
        }
        return;
    }
    // Echo as typed, as modems do.
    if (echo && !silent && !errorToEverything && !(c == '\n' && line.isEmpty()))
        writeNow(QByteArray(1, c));
    if (c == '\n' && line.isEmpty())
        return;
    if (c == '\r') {
        const QByteArray command = line;
        line.clear();
        handleCommand(command);
        return;
    }
    line += c;
}

void ModemSimulator::handleCommand(const QByteArray& line)
{
    // As V.250 says, everything before "AT" on a command line is ignored (a stray escape, say).
    const qsizetype at = line.toUpper().indexOf("AT");
    const QByteArray raw = at > 0 ? line.mid(at) : line;
    const QString command = QString::fromLatin1(raw).trimmed();
    if (command.isEmpty())
        return;
    received << command;
    note(QStringLiteral("<- ") + command);
    const QString upper = command.toUpper();
    auto arg = [&](const char* prefix) { return command.mid(qsizetype(strlen(prefix))); };

    if (errorToEverything) {
        answer(Error);
    } else if (upper == QLatin1String("AT")) {
        answer(Ok);
    } else if (upper == QLatin1String("ATE0")) {
        echo = false;
        answer(Ok);
    } else if (upper == QLatin1String("ATE1") || upper == QLatin1String("ATE")) {
        echo = true;
        answer(Ok);
    } else if (upper.startsWith(QLatin1String("AT+FLO"))) {
        answer(floSupported ? Ok : Error);
    } else if (upper == QLatin1String("AT+CSCS=?")) {
        QByteArrayList names;
        for (const QString& set : sets)
            names << quoted(set);
        answer("\r\n+CSCS: (" + names.join(',') + ")\r\n" + Ok);
    } else if (upper == QLatin1String("AT+CSCS?")) {
        answer("\r\n+CSCS: " + quoted(charset) + CrLf + Ok);
    } else if (upper.startsWith(QLatin1String("AT+CSCS="))) {
        const QString set = unquoted(arg("AT+CSCS=")).toUpper();
        if (sets.contains(set)) {
            charset = set;
            answer(Ok);
        } else {
            answer(Error);
        }
    } else if (upper == QLatin1String("AT+CSMP?")) {
        answer("\r\n+CSMP: " + csmp.toLatin1() + CrLf + Ok);
    } else if (upper.startsWith(QLatin1String("AT+CSMP="))) {
        csmp = arg("AT+CSMP=").remove(QLatin1Char(' '));
        answer(Ok);
    } else if (upper == QLatin1String("AT+CMGF?")) {
        answer(QByteArray("\r\n+CMGF: ") + (pdu ? "0" : "1") + CrLf + Ok);
    } else if (upper.startsWith(QLatin1String("AT+CMGF="))) {
        const QString mode = arg("AT+CMGF=").trimmed();
        if (mode == QLatin1String("0") || mode == QLatin1String("1")) {
            pdu = mode == QLatin1String("0");
            answer(Ok);
        } else {
            answer(Error);
        }
    } else if (upper.startsWith(QLatin1String("AT+CNMI="))) {
        // Values left out keep theirs, as on real modems.
        QStringList values = cnmi.split(QLatin1Char(','));
        const QStringList given = arg("AT+CNMI=").split(QLatin1Char(','));
        for (qsizetype i = 0; i < given.size() && i < values.size(); ++i)
            if (!given[i].trimmed().isEmpty())
                values[i] = QString::number(given[i].trimmed().toInt());
        cnmi = values.join(QLatin1Char(','));
        reportRouting = values[3].toInt();
        // Messages for the terminal straight away (<mt> 2, +CMT) are not simulated: stored and announced.
        announceNew = values[1] != QLatin1String("0");
        answer(Ok);
    } else if (upper.startsWith(QLatin1String("AT+CSDH="))) {
        if (!csdhSupported) {
            answer(Error);
        } else {
            csdh = arg("AT+CSDH=").trimmed() == QLatin1String("1");
            answer(Ok);
        }
    } else if (upper.startsWith(QLatin1String("AT+CLIP="))) {
        if (!clipSupported) {
            answer(Error);
        } else {
            clipEnabled = arg("AT+CLIP=").trimmed() == QLatin1String("1");
            answer(Ok);
        }
    } else if (upper == QLatin1String("AT+CGMI")) {
        answer(CrLf + manufacturer.toLatin1() + CrLf + Ok);
    } else if (upper == QLatin1String("AT+CGMM")) {
        answer(CrLf + model.toLatin1() + CrLf + Ok);
    } else if (upper == QLatin1String("AT+CGSN") || upper == QLatin1String("AT+CIMI")) {
        const QString& n = upper == QLatin1String("AT+CGSN") ? serialNumbers.imei : serialNumbers.imsi;
        answer(n.isEmpty() ? Error : CrLf + n.toLatin1() + CrLf + Ok);
    } else if (upper == QLatin1String("AT+CCID")) {
        answer(serialNumbers.iccid.isEmpty()
                   ? Error
                   : CrLf + (bareCcid ? "" : "+CCID: ") + serialNumbers.iccid.toLatin1() + CrLf + Ok);
    } else if (upper == QLatin1String("AT+CSQ")) {
        answer("\r\n+CSQ: " + QByteArray::number(rssi) + ',' + QByteArray::number(ber) + CrLf + Ok);
    } else if (upper == QLatin1String("AT+CSQ=?")) {
        answer("\r\n+CSQ: (0-31,99),(0-7,99)\r\n" + Ok);
    } else if (upper == QLatin1String("AT+CREG?")) {
        answer(registrationLine(false) + Ok);
    } else if (upper == QLatin1String("AT+CREG=?")) {
        answer("\r\n+CREG: (0-2)\r\n" + Ok);
    } else if (upper.startsWith(QLatin1String("AT+CREG="))) {
        bool number = false;
        const int n = arg("AT+CREG=").trimmed().toInt(&number);
        if (number && n >= 0 && n <= 2) {
            cregMode = n;
            answer(Ok);
        } else {
            answer(Error);
        }
    } else if (upper == QLatin1String("AT+COPS?")) {
        if (!registered()) {
            answer("\r\n+COPS: 0\r\n" + Ok);
        } else {
            const QString& name = copsFormat == 2   ? serialNumbers.operatorCode
                                  : copsFormat == 1 ? serialNumbers.operatorShort
                                                    : serialNumbers.operatorLong;
            answer("\r\n+COPS: 0," + QByteArray::number(copsFormat) + ',' + quoted(name) + CrLf + Ok);
        }
    } else if (upper == QLatin1String("AT+COPS=?")) {
        answer("\r\n+COPS: (2," + quoted(serialNumbers.operatorLong) + ',' + quoted(serialNumbers.operatorShort) + ',' +
               quoted(serialNumbers.operatorCode) + "),,(0-4),(0-2)\r\n" + Ok);
    } else if (upper.startsWith(QLatin1String("AT+COPS="))) {
        // Automatic selection, or only a change of the format the operator is given in.
        const QStringList a = arg("AT+COPS=").split(QLatin1Char(','));
        const int mode = a.value(0).trimmed().toInt();
        bool number = false;
        const int format = a.value(1).trimmed().toInt(&number);
        if (mode == 0 && a.size() == 1) {
            answer(Ok);
        } else if ((mode == 0 || mode == 3) && number && format >= 0 && format <= 2) {
            copsFormat = format;
            answer(Ok);
        } else {
            answer(Error);
        }
    } else if (upper == QLatin1String("AT+CMMS=?")) {
        answer(cmmsSupported ? "\r\n+CMMS: (0-2)\r\n" + Ok : Error);
    } else if (upper == QLatin1String("AT+CMMS?")) {
        answer(cmmsSupported ? "\r\n+CMMS: " + QByteArray::number(cmms) + CrLf + Ok : Error);
    } else if (upper.startsWith(QLatin1String("AT+CMMS="))) {
        bool number = false;
        const int n = arg("AT+CMMS=").trimmed().toInt(&number);
        if (cmmsSupported && number && n >= 0 && n <= 2) {
            cmms = n;
            answer(Ok);
        } else {
            answer(Error);
        }
    } else if (upper == QLatin1String("AT+CNMI?")) {
        answer("\r\n+CNMI: " + cnmi.toLatin1() + CrLf + Ok);
    } else if (upper == QLatin1String("AT+CNMI=?")) {
        answer("\r\n+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n" + Ok);
    } else if (upper == QLatin1String("AT+CLCC")) {
        QByteArray a;
        if (dataCall)
            a = CrLf + "+CLCC: 1,0,0,1,0,\"\",128" + CrLf;
        if (call.active)
            a += CrLf + (dataCall ? "+CLCC: 2,1,4,0,0," : "+CLCC: 1,1,4,0,0,") + quoted(call.number) +
                 (call.number.startsWith('+') ? ",145" : ",129") + CrLf;
        answer(a + Ok);
    } else if (upper.startsWith(QLatin1String("AT+CMGL"))) {
        QString status =
            upper.startsWith(QLatin1String("AT+CMGL=")) ? unquoted(arg("AT+CMGL=")) : QStringLiteral("REC UNREAD");
        bool numeric = false;
        const int n = status.toInt(&numeric);
        if (numeric && n >= 0 && n < ListingStatusNames().size())
            status = ListingStatusNames().at(n);
        answer(pdu ? pduListing(status.toUpper()) : listing(status.toUpper()));
    } else if (upper.startsWith(QLatin1String("AT+CMGD="))) {
        const int index = arg("AT+CMGD=").section(QLatin1Char(','), 0, 0).trimmed().toInt();
        sim.erase(index);
        answer(Ok);
    } else if ((upper.startsWith(QLatin1String("AT+CMGS=")) || upper.startsWith(QLatin1String("AT+CMGW="))) &&
               promptsWithheld > 0) {
        --promptsWithheld;
        if (withheldPromptOk)
            answer(Ok);
    } else if (pdu && (upper.startsWith(QLatin1String("AT+CMGS=")) || upper.startsWith(QLatin1String("AT+CMGW=")))) {
        bodyFor = upper.startsWith(QLatin1String("AT+CMGS=")) ? BodyFor::Cmgs : BodyFor::Cmgw;
        bodyLength = command.mid(8).section(QLatin1Char(','), 0, 0).trimmed().toInt();
        body.clear();
        answer("\r\n> ");
    } else if (upper.startsWith(QLatin1String("AT+CMGS="))) {
        bodyFor = BodyFor::Cmgs;
        bodyNumber = fromCharset(unquoted(arg("AT+CMGS=")).toLatin1(), false);
        body.clear();
        answer("\r\n> ");
    } else if (upper.startsWith(QLatin1String("AT+CMGW="))) {
        bodyFor = BodyFor::Cmgw;
        bodyNumber = fromCharset(unquoted(arg("AT+CMGW=").section(QLatin1Char(','), 0, 0)).toLatin1(), false);
        body.clear();
        answer("\r\n> ");
    } else if (upper.startsWith(QLatin1String("AT+CMSS="))) {
        const int index = arg("AT+CMSS=").section(QLatin1Char(','), 0, 0).trimmed().toInt();
        auto it = sim.find(index);
        if (it == sim.end())
            answer("\r\n+CMS ERROR: 321\r\n");
        else if (!it->second.pdu.isEmpty())
            submit(true, index, fromSubmitPdu(it->second.pdu, -1).value_or(Submission{}));
        else
            submit(true, index, {it->second.number, it->second.text, it->second.unicode});
    } else {
        answer(Error);
    }
}

void ModemSimulator::finishBody()
{
    const BodyFor kind = bodyFor;
    bodyFor = BodyFor::None;
    if (pdu) {
        // The program's hex, read as the network would; a PDU that does not match its length is refused.
        const auto message = fromSubmitPdu(QString::fromLatin1(body), bodyLength);
        const QString hex = QString::fromLatin1(body);
        body.clear();
        if (!message) {
            answer("\r\n+CMS ERROR: 304\r\n");
        } else if (kind == BodyFor::Cmgs) {
            submit(false, 0, *message);
        } else if (int(sim.size()) >= capacity) {
            answer("\r\n+CMS ERROR: 322\r\n");
        } else {
            const int index = freeIndex();
            sim[index] = {index,
                          QStringLiteral("STO UNSENT"),
                          message->number,
                          message->text,
                          QDateTime::currentDateTime(),
                          message->unicode,
                          hex};
            answer("\r\n+CMGW: " + QByteArray::number(index) + CrLf + Ok);
        }
        return;
    }
    const bool unicode = unicodeCoding();
    const QString text = fromCharset(body, unicode);
    body.clear();
    if (kind == BodyFor::Cmgs) {
        submit(false, 0, {bodyNumber, text, unicode});
    } else if (int(sim.size()) >= capacity) {
        answer("\r\n+CMS ERROR: 322\r\n");
    } else {
        const int index = freeIndex();
        sim[index] = {index, QStringLiteral("STO UNSENT"), bodyNumber, text, QDateTime::currentDateTime(), unicode, {}};
        note(QStringLiteral("stored %1 for %2").arg(index).arg(bodyNumber));
        answer("\r\n+CMGW: " + QByteArray::number(index) + CrLf + Ok);
    }
}

std::optional<ModemSimulator::Submission> ModemSimulator::fromSubmitPdu(const QString& hex, int announcedLength) const
{
    const std::optional<SimCodec::Submit> d = SimCodec::decodeSubmit(hex);
    if (!d || (announcedLength >= 0 && d->tpduLength != announcedLength))
        return std::nullopt;
    Submission m;
    m.number = d->destination;
    m.text = d->text;
    m.unicode = d->alphabet == SimCodec::Alphabet::Ucs2;
    m.partReference = d->partReference;
    m.partNumber = d->partNumber;
    m.partCount = d->partCount;
    m.report = d->statusReport;
    return m;
}

void ModemSimulator::sendReport(const QString& number, int reference)
{
    const QDateTime now = QDateTime::currentDateTime();
    const SimCodec::Part report = SimCodec::encodeStatusReport(reference, number, now, now.addSecs(2), reportStatus);
    if (report.hex.isEmpty())
        return;
    if (reportRouting == 1) {
        answer("\r\n+CDS: " + QByteArray::number(report.tpduLength) + CrLf + report.hex.toLatin1() + CrLf,
               networkDelayMs + 100);
        return;
    }
    const int index = freeIndex();
    sim[index] = {index, QStringLiteral("REC UNREAD"), number, QString(), now, false, report.hex};
    if (reportRouting == 2)
        answer("\r\n+CDSI: \"SM\"," + QByteArray::number(index) + CrLf, networkDelayMs + 100);
}

void ModemSimulator::submit(bool fromStore, int storeIndex, const Submission& message)
{
    const QString& number = message.number;
    const QString& text = message.text;
    SendFailure how = SendFailure::None;
    int cmsError = 500;
    if (!failures.empty()) {
        how = failures.front().first;
        cmsError = failures.front().second;
        failures.pop_front();
    }
    if (networkFailure > 0 || !registered()) {
        how = SendFailure::CmsError;
        cmsError = networkFailure > 0 ? networkFailure : 331;
    }
    // AT+CMMS: the relay link stays open after a submission for a while, and the next part saves setting it up.
    // Under 1 the network closes it once and the mode falls back to 0; under 2 it is kept.
    const qint64 now = nowMs();
    const bool withinHold = lastConfirmAt >= 0 && now - lastConfirmAt <= LinkHoldMs;
    if (cmms == 1 && !withinHold && lastConfirmAt >= 0)
        cmms = 0;
    const bool linkKept = cmms > 0 && withinHold;
    const int delayMs = linkKept ? std::max(0, networkDelayMs - LinkKeptGainMs) : networkDelayMs;
    if (how != SendFailure::Silence)
        lastConfirmAt = now + delayMs + answerDelayMs;
    switch (how) {
    case SendFailure::None: {
        const int reference = nextReference;
        nextReference = (nextReference + 1) % 256; // TP-MR is one octet
        network.append({number, text, reference, message.unicode, message.partReference, message.partNumber,
                        message.partCount, message.report, linkKept,
                        dateClock ? dateClock() : QDateTime::currentDateTime()});
        if (fromStore)
            sim[storeIndex].status = QStringLiteral("STO SENT");
        note(QStringLiteral("sent to %1: %2").arg(number, text));
        answer(CrLf + (fromStore ? "+CMSS: " : "+CMGS: ") + QByteArray::number(reference) + CrLf + Ok, delayMs);
        if (pdu && message.report)
            sendReport(number, reference);
        break;
    }
    case SendFailure::CmsError:
        note(QStringLiteral("refused a message to %1").arg(number));
        answer("\r\n+CMS ERROR: " + QByteArray::number(cmsError) + "\r\n", delayMs);
        break;
    case SendFailure::BareOk:
        note(QStringLiteral("answered OK without sending a message to %1").arg(number));
        answer(Ok, delayMs);
        break;
    case SendFailure::Silence:
        note(QStringLiteral("said nothing to a message for %1").arg(number));
        break;
    }
}

QByteArray ModemSimulator::header(int index, const SimEntry& m, const QByteArray& text) const
{
    const bool received = m.status.startsWith(QLatin1String("REC"));
    QByteArrayList fields;
    fields << QByteArray::number(index);
    fields << (headerStyle == HeaderStyle::NumericStatus ? QByteArray::number(ListingStatusNames().indexOf(m.status))
                                                         : quoted(m.status));
    fields << quoted(inCharset(m.number));
    if (headerStyle != HeaderStyle::NoAlphaField)
        fields << QByteArray(); // no phonebook name
    if (received || headerStyle != HeaderStyle::NoAlphaField)
        fields << (received ? quoted(timestamp(m.received)) : QByteArray());
    if (csdh) {
        // The length: of a hex text in the unit this modem counts in, else septets (characters, an escaped one
        // counting two).
        fields << (m.number.startsWith(QLatin1Char('+')) ? "145" : "129");
        qsizetype length = 0;
        if (m.unicode || charset == QLatin1String("UCS2")) {
            const qsizetype units = text.size() / 4;
            length = lengthUnit == LengthUnit::Characters ? units
                     : lengthUnit == LengthUnit::Octets   ? 2 * units
                                                          : text.size();
        } else {
            const std::optional<QByteArray> gsm = SimCodec::toGsm(m.text);
            length = gsm ? gsm->size() : m.text.size();
        }
        fields << QByteArray::number(length);
    }
    const QByteArray separator = headerStyle == HeaderStyle::BlanksAfterCommas ? ", " : ",";
    const QByteArray prefix = headerStyle == HeaderStyle::NoBlankAfterColon ? "+CMGL:" : "+CMGL: ";
    return prefix + fields.join(separator);
}

QByteArray ModemSimulator::listedText(const SimEntry& m) const
{
    // A UCS2-coded message is listed as hex whatever the character set, as modems do.
    return m.unicode ? SimCodec::toSet(m.text, SimCodec::Set::Ucs2) : inCharset(m.text);
}

QByteArray ModemSimulator::listing(const QString& status)
{
    QByteArray out;
    for (auto& [index, m] : sim) {
        if (status != QLatin1String("ALL") && m.status != status)
            continue;
        const QByteArray text = listedText(m);
        out += header(index, m, text) + CrLf + text + CrLf;
        if (m.status == QLatin1String("REC UNREAD"))
            m.status = QStringLiteral("REC READ"); // listing marks received messages read, as on a real SIM
    }
    return out.isEmpty() ? Ok : CrLf + out + Ok;
}

QByteArray ModemSimulator::pduListing(const QString& status)
{
    QByteArray out;
    for (auto& [index, m] : sim) {
        if (status != QLatin1String("ALL") && m.status != status)
            continue;
        QString hex = m.pdu;
        if (hex.isEmpty()) {
            // A message stored as text: written as the PDU it would have been (its first part).
            hex = (m.status.startsWith(QLatin1String("REC"))
                       ? SimCodec::encodeDeliver(m.number, m.text, m.received, 0, m.unicode)
                       : SimCodec::encodeSubmit(m.number, m.text, 0, m.unicode))
                      .value(0)
                      .hex;
        }
        const int smscOctets = hex.left(2).toInt(nullptr, 16);
        out += "+CMGL: " + QByteArray::number(index) + ',' +
               QByteArray::number(ListingStatusNames().indexOf(m.status)) + ",," +
               QByteArray::number(hex.size() / 2 - 1 - smscOctets) + CrLf + hex.toLatin1() + CrLf;
        if (m.status == QLatin1String("REC UNREAD"))
            m.status = QStringLiteral("REC READ");
    }
    return out.isEmpty() ? Ok : CrLf + out + Ok;
}

QByteArray ModemSimulator::inCharset(const QString& text) const
{
    // A character the set lacks comes out as "?", as modems write it.
    return SimCodec::toSet(text, SimCodec::setNamed(charset).value_or(SimCodec::Set::Ira));
}

QString ModemSimulator::fromCharset(const QByteArray& bytes, bool hex) const
{
    const SimCodec::Set set = hex ? SimCodec::Set::Ucs2 : SimCodec::setNamed(charset).value_or(SimCodec::Set::Ira);
    return SimCodec::fromSet(bytes, set).value_or(QString::fromLatin1(bytes));
}

bool ModemSimulator::unicodeCoding() const
{
    return charset == QLatin1String("UCS2") || csmp.section(QLatin1Char(','), 3, 3).trimmed() == QLatin1String("8");
}

int ModemSimulator::freeIndex() const
{
    int i = 1;
    while (sim.count(i))
        ++i;
    return i;
}

bool ModemSimulator::registered() const
{
    return registration == Registration::Home || registration == Registration::Roaming;
}

QByteArray ModemSimulator::registrationLine(bool unsolicited) const
{
    // The location area and cell (under AT+CREG=2, while registered) are made up from the unit's IMEI.
    QByteArray out = "\r\n+CREG: ";
    if (!unsolicited)
        out += QByteArray::number(cregMode) + ',';
    out += QByteArray::number(int(registration));
    if (cregMode == 2 && registered())
        out += ",\"" + serialNumbers.imei.right(4).toLatin1() + "\",\"" +
               serialNumbers.imei.right(7).left(4).toLatin1() + '"';
    return out + CrLf;
}

void ModemSimulator::tickCall(qint64 now)
{
    if (!call.active || now < call.nextRingAt)
        return;
    if (call.ringsLeft > 0) {
        QByteArray ring = "\r\nRING\r\n";
        if (clipEnabled && !call.number.isEmpty())
            ring += "\r\n+CLIP: " + quoted(call.number) + (call.number.startsWith('+') ? ",145" : ",129") + ",,,,0\r\n";
        writeNow(ring);
        --call.ringsLeft;
        call.nextRingAt = now + call.intervalMs;
        note(QStringLiteral("ring from %1").arg(call.number));
    } else {
        call.active = false;
        if (call.noCarrier)
            writeNow("\r\nNO CARRIER\r\n");
        note(QStringLiteral("caller %1 gave up").arg(call.number));
    }
}

void ModemSimulator::note(const QString& line)
{
    if (logger)
        logger(line);
}

// ---- controls (any thread) ----

void ModemSimulator::setEcho(bool on)
{
    std::lock_guard lock(mutex);
    echo = on;
}

void ModemSimulator::setSilent(bool on)
{
    std::lock_guard lock(mutex);
    silent = on;
}

void ModemSimulator::setFloSupported(bool on)
{
    std::lock_guard lock(mutex);
    floSupported = on;
}

void ModemSimulator::setClipSupported(bool on)
{
    std::lock_guard lock(mutex);
    clipSupported = on;
}

void ModemSimulator::setIdentity(const QString& m, const QString& mo)
{
    std::lock_guard lock(mutex);
    manufacturer = m;
    model = mo;
}

void ModemSimulator::setSerials(const Serials& s)
{
    std::lock_guard lock(mutex);
    serialNumbers = s;
}

ModemSimulator::Serials ModemSimulator::serials() const
{
    std::lock_guard lock(mutex);
    return serialNumbers;
}

void ModemSimulator::setSimCapacity(int messages)
{
    std::lock_guard lock(mutex);
    capacity = messages;
}

void ModemSimulator::failSends(SendFailure how, int count, int cmsError)
{
    std::lock_guard lock(mutex);
    for (int i = 0; i < count; ++i)
        failures.push_back({how, cmsError});
}

void ModemSimulator::withholdPrompts(int count, bool answerOk)
{
    std::lock_guard lock(mutex);
    promptsWithheld = count;
    withheldPromptOk = answerOk;
}

void ModemSimulator::setNetworkDelayMs(int ms)
{
    std::lock_guard lock(mutex);
    networkDelayMs = ms;
}

void ModemSimulator::failNetworkWide(int cause)
{
    std::lock_guard lock(mutex);
    networkFailure = std::max(0, cause);
}

void ModemSimulator::clearFailures()
{
    std::lock_guard lock(mutex);
    networkFailure = 0;
    failures.clear();
}

void ModemSimulator::setSignal(int r, int b)
{
    std::lock_guard lock(mutex);
    rssi = r;
    ber = b;
}

void ModemSimulator::setRegistration(Registration stat)
{
    {
        std::lock_guard lock(mutex);
        if (registration == stat)
            return;
        registration = stat;
        if (cregMode > 0 && !silent)
            writeNow(registrationLine(true));
        note(QStringLiteral("registration %1").arg(int(stat)));
    }
    wake();
}

void ModemSimulator::setBareCcid(bool on)
{
    std::lock_guard lock(mutex);
    bareCcid = on;
}

void ModemSimulator::setCmmsSupported(bool on)
{
    std::lock_guard lock(mutex);
    cmmsSupported = on;
    if (!on)
        cmms = 0;
}

int ModemSimulator::signalQuality() const
{
    std::lock_guard lock(mutex);
    return rssi;
}

ModemSimulator::Registration ModemSimulator::registrationState() const
{
    std::lock_guard lock(mutex);
    return registration;
}

int ModemSimulator::cmmsMode() const
{
    std::lock_guard lock(mutex);
    return cmms;
}

void ModemSimulator::setChunkedAnswers(int pauseMs, int bytes)
{
    std::lock_guard lock(mutex);
    chunkPauseMs = pauseMs;
    chunkBytes = bytes;
}

void ModemSimulator::setBaudRate(int b)
{
    std::lock_guard lock(mutex);
    baud = b;
}

void ModemSimulator::injectAfterNextAnswer(const QByteArray& unsolicited, int delayMs)
{
    std::lock_guard lock(mutex);
    pendingAfter = unsolicited;
    pendingAfterDelayMs = delayMs;
}

void ModemSimulator::sendUnsolicited(const QByteArray& bytes)
{
    {
        std::lock_guard lock(mutex);
        writeNow(bytes);
    }
    wake();
}

void ModemSimulator::setHeaderStyle(HeaderStyle style)
{
    std::lock_guard lock(mutex);
    headerStyle = style;
}

void ModemSimulator::setCsdhSupported(bool on)
{
    std::lock_guard lock(mutex);
    csdhSupported = on;
}

void ModemSimulator::setLengthUnit(LengthUnit unit)
{
    std::lock_guard lock(mutex);
    lengthUnit = unit;
}

void ModemSimulator::setDataCallListed(bool on)
{
    std::lock_guard lock(mutex);
    dataCall = on;
}

void ModemSimulator::setErrorToEverything(bool on)
{
    std::lock_guard lock(mutex);
    errorToEverything = on;
}

void ModemSimulator::setCharacterSets(const QStringList& list)
{
    std::lock_guard lock(mutex);
    sets = list;
}

QString ModemSimulator::characterSet() const
{
    std::lock_guard lock(mutex);
    return charset;
}

void ModemSimulator::enterTextEntry(const QString& number)
{
    std::lock_guard lock(mutex);
    bodyFor = BodyFor::Cmgs;
    bodyNumber = number;
    body.clear();
}

void ModemSimulator::setAnswerDelayMs(int ms)
{
    std::lock_guard lock(mutex);
    answerDelayMs = ms;
}

void ModemSimulator::injectIntoNextAnswer(const QByteArray& unsolicited)
{
    std::lock_guard lock(mutex);
    pendingInjection = unsolicited;
}

int ModemSimulator::storeMessage(const QString& status, const QString& number, const QString& text, bool unicode,
                                 const QDateTime& sentOn)
{
    std::lock_guard lock(mutex);
    const int index = freeIndex();
    sim[index] = {index, status, number, text, sentOn.isValid() ? sentOn : QDateTime::currentDateTime(), unicode, {}};
    return index;
}

QStringList ModemSimulator::deliverPdus(const QString& number, const QString& text, int reference,
                                        const QDateTime& sentOn)
{
    QStringList out;
    for (const SimCodec::Part& part :
         SimCodec::encodeDeliver(number, text, sentOn.isValid() ? sentOn : QDateTime::currentDateTime(), reference))
        out << part.hex;
    return out;
}

int ModemSimulator::storePdu(const QString& status, const QString& hex)
{
    std::lock_guard lock(mutex);
    const int index = freeIndex();
    // A status report or anything else the program is to be shown keeps only its hex.
    const SimCodec::Deliver d = SimCodec::decodeDeliver(hex).value_or(SimCodec::Deliver{});
    sim[index] = {index, status, d.sender, d.text, d.sentOn, d.alphabet == SimCodec::Alphabet::Ucs2, hex};
    return index;
}

void ModemSimulator::setReportStatus(int status)
{
    std::lock_guard lock(mutex);
    reportStatus = status;
}

bool ModemSimulator::pduMode() const
{
    std::lock_guard lock(mutex);
    return pdu;
}

void ModemSimulator::receiveSms(const QString& number, const QString& text, bool unicode)
{
    unicode = unicode || !SimCodec::toGsm(text);
    {
        std::lock_guard lock(mutex);
        // In PDU mode the network brings a long message in parts, each stored and announced by itself.
        QStringList parts(1, QString());
        const QDateTime sentOn = QDateTime::currentDateTime();
        if (pdu) {
            const QList<SimCodec::Part> encoded = SimCodec::encodeDeliver(number, text, sentOn, nextReference, unicode);
            if (encoded.size() > 1) {
                parts.clear();
                for (const SimCodec::Part& part : encoded)
                    parts << part.hex;
            }
        }
        for (const QString& hex : parts) {
            const int index = freeIndex();
            sim[index] = {index, QStringLiteral("REC UNREAD"), number, text, sentOn, unicode, hex};
            if (!silent && announceNew)
                writeNow("\r\n+CMTI: \"SM\"," + QByteArray::number(index) + CrLf);
            note(QStringLiteral("SMS from %1 stored at %2").arg(number).arg(index));
        }
    }
    wake();
}

QList<ModemSimulator::SimEntry> ModemSimulator::simMessages() const
{
    std::lock_guard lock(mutex);
    QList<SimEntry> out;
    for (const auto& [i, m] : sim)
        out << m;
    return out;
}

void ModemSimulator::incomingCall(const QString& number, int rings, int ringIntervalMs, bool noCarrierAtEnd)
{
    {
        std::lock_guard lock(mutex);
        call = {true, number, rings, ringIntervalMs, noCarrierAtEnd, nowMs()};
    }
    wake();
}

bool ModemSimulator::callRinging() const
{
    std::lock_guard lock(mutex);
    return call.active;
}

QStringList ModemSimulator::commands() const
{
    std::lock_guard lock(mutex);
    return received;
}

qint64 ModemSimulator::bytesSent() const
{
    return written.load();
}

QByteArray ModemSimulator::rawInput() const
{
    std::lock_guard lock(mutex);
    return raw;
}

QList<ModemSimulator::SentMessage> ModemSimulator::sent() const
{
    std::lock_guard lock(mutex);
    return network;
}

void ModemSimulator::clearRecords()
{
    std::lock_guard lock(mutex);
    received.clear();
    network.clear();
    raw.clear();
}

void ModemSimulator::setLogger(std::function<void(const QString&)> l)
{
    std::lock_guard lock(mutex);
    logger = std::move(l);
}
