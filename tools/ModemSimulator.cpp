#include "tools/ModemSimulator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray CrLf = "\r\n";
const QByteArray Ok = "\r\nOK\r\n";
const QByteArray Error = "\r\nERROR\r\n";

QByteArray quoted(const QString& s)
{
    return '"' + s.toLatin1() + '"';
}

QString unquoted(QString s)
{
    return s.remove(QLatin1Char('"')).trimmed();
}

} // namespace

ModemSimulator::ModemSimulator() = default;

ModemSimulator::~ModemSimulator()
{
    stop();
}

qint64 ModemSimulator::nowMs() const
{
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
}

QString ModemSimulator::devicePath() const
{
    return slavePath;
}

bool ModemSimulator::linkAs(const QString& dataDir, int comNumber, QString* error)
{
    const QString dir = dataDir + QStringLiteral("/ports");
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

void ModemSimulator::run()
{
    QByteArray outgoing;
    char buffer[4096];
    while (running) {
        int timeout = 50;
        bool hangup = false;
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
        }
        if (hangup) {
            closeTerminal();
            running = false;
            note(QStringLiteral("hung up"));
            break;
        }
        pollfd fds[2] = {{master, short(POLLIN | (outgoing.isEmpty() ? 0 : POLLOUT)), 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
            }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(mutex);
                for (ssize_t i = 0; i < n; ++i)
                    handleByte(buffer[i]);
            }
        }
        if (!outgoing.isEmpty() && (fds[0].revents & POLLOUT)) {
            const ssize_t n = ::write(master, outgoing.constData(), size_t(outgoing.size()));
            if (n > 0)
                outgoing.remove(0, n);
        }
    }
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
    const qint64 at = nowMs() + delayMs + answerDelayMs;
    if (chunkPauseMs > 0 && bytes.size() > 1) {
        const qsizetype half = bytes.size() / 2;
        schedule(at, bytes.left(half));
        schedule(at + chunkPauseMs, bytes.mid(half));
    } else {
        schedule(at, bytes);
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
    if (c == '\n' && line.isEmpty())
        return;
    if (c == '\r') {
        const QByteArray command = line;
        line.clear();
        if (echo && !silent)
            writeNow(command + '\r');
        handleCommand(command);
        return;
    }
    line += c;
}

void ModemSimulator::handleCommand(const QByteArray& raw)
{
    const QString command = QString::fromLatin1(raw).trimmed();
    if (command.isEmpty())
        return;
    received << command;
    note(QStringLiteral("<- ") + command);
    const QString upper = command.toUpper();
    auto arg = [&](const char* prefix) { return command.mid(qsizetype(strlen(prefix))); };

    if (upper == QLatin1String("AT")) {
        answer(Ok);
    } else if (upper == QLatin1String("ATE0")) {
        echo = false;
        answer(Ok);
    } else if (upper == QLatin1String("ATE1") || upper == QLatin1String("ATE")) {
        echo = true;
        answer(Ok);
    } else if (upper.startsWith(QLatin1String("AT+FLO"))) {
        answer(floSupported ? Ok : Error);
    } else if (upper.startsWith(QLatin1String("AT+CSCS")) || upper.startsWith(QLatin1String("AT+CMGF"))) {
        answer(Ok);
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
    } else if (upper == QLatin1String("AT+CLCC")) {
        QByteArray a;
        if (call.active)
            a = CrLf + "+CLCC: 1,1,4,0,0," + quoted(call.number) + (call.number.startsWith('+') ? ",145" : ",129") +
                CrLf;
        answer(a + Ok);
    } else if (upper.startsWith(QLatin1String("AT+CMGL"))) {
        QString status =
            upper.startsWith(QLatin1String("AT+CMGL=")) ? unquoted(arg("AT+CMGL=")) : QStringLiteral("REC UNREAD");
        answer(listing(status.toUpper()));
    } else if (upper.startsWith(QLatin1String("AT+CMGD="))) {
        const int index = arg("AT+CMGD=").section(QLatin1Char(','), 0, 0).trimmed().toInt();
        sim.erase(index);
        answer(Ok);
    } else if (upper.startsWith(QLatin1String("AT+CMGS="))) {
        bodyFor = BodyFor::Cmgs;
        bodyNumber = unquoted(arg("AT+CMGS="));
        body.clear();
        answer("\r\n> ");
    } else if (upper.startsWith(QLatin1String("AT+CMGW="))) {
        bodyFor = BodyFor::Cmgw;
        bodyNumber = unquoted(arg("AT+CMGW=").section(QLatin1Char(','), 0, 0));
        body.clear();
        answer("\r\n> ");
    } else if (upper.startsWith(QLatin1String("AT+CMSS="))) {
        const int index = arg("AT+CMSS=").section(QLatin1Char(','), 0, 0).trimmed().toInt();
        auto it = sim.find(index);
        if (it == sim.end())
            answer("\r\n+CMS ERROR: 321\r\n");
        else
            submit(true, index, it->second.number, it->second.text);
    } else {
        answer(Error);
    }
}

void ModemSimulator::finishBody()
{
    const QString text = QString::fromLatin1(body);
    body.clear();
    const BodyFor kind = bodyFor;
    bodyFor = BodyFor::None;
    if (kind == BodyFor::Cmgs) {
        submit(false, 0, bodyNumber, text);
    } else if (int(sim.size()) >= capacity) {
        answer("\r\n+CMS ERROR: 322\r\n");
    } else {
        const int index = freeIndex();
        sim[index] = {index, QStringLiteral("STO UNSENT"), bodyNumber, text, QDateTime::currentDateTime()};
        note(QStringLiteral("stored %1 for %2").arg(index).arg(bodyNumber));
        answer("\r\n+CMGW: " + QByteArray::number(index) + CrLf + Ok);
    }
}

void ModemSimulator::submit(bool fromStore, int storeIndex, const QString& number, const QString& text)
{
    SendFailure how = SendFailure::None;
    if (!failures.empty()) {
        how = failures.front();
        failures.pop_front();
    }
    switch (how) {
    case SendFailure::None: {
        const int reference = nextReference++;
        network.append({number, text, reference});
        if (fromStore)
            sim[storeIndex].status = QStringLiteral("STO SENT");
        note(QStringLiteral("sent to %1: %2").arg(number, text));
        answer(CrLf + (fromStore ? "+CMSS: " : "+CMGS: ") + QByteArray::number(reference) + CrLf + Ok, networkDelayMs);
        break;
    }
    case SendFailure::CmsError:
        note(QStringLiteral("refused a message to %1").arg(number));
        answer("\r\n+CMS ERROR: 500\r\n", networkDelayMs);
        break;
    case SendFailure::BareOk:
        note(QStringLiteral("answered OK without sending a message to %1").arg(number));
        answer(Ok, networkDelayMs);
        break;
    case SendFailure::Silence:
        note(QStringLiteral("said nothing to a message for %1").arg(number));
        break;
    }
}

QByteArray ModemSimulator::listing(const QString& status)
{
    QByteArray out;
    for (auto& [index, m] : sim) {
        if (status != QLatin1String("ALL") && m.status != status)
            continue;
        out += "+CMGL: " + QByteArray::number(index) + ',' + quoted(m.status) + ',' + quoted(m.number) + ",,";
        if (m.status.startsWith(QLatin1String("REC")))
            out += quoted(m.received.toString(QStringLiteral("yy/MM/dd,hh:mm:ss")) + QStringLiteral("+22"));
        out += CrLf + m.text.toLatin1() + CrLf;
        if (m.status == QLatin1String("REC UNREAD"))
            m.status = QStringLiteral("REC READ"); // listing marks received messages read, as on a real SIM
    }
    return out.isEmpty() ? Ok : CrLf + out + Ok;
}

int ModemSimulator::freeIndex() const
{
    int i = 1;
    while (sim.count(i))
        ++i;
    return i;
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

void ModemSimulator::setSimCapacity(int messages)
{
    std::lock_guard lock(mutex);
    capacity = messages;
}

void ModemSimulator::failSends(SendFailure how, int count)
{
    std::lock_guard lock(mutex);
    for (int i = 0; i < count; ++i)
        failures.push_back(how);
}

void ModemSimulator::setNetworkDelayMs(int ms)
{
    std::lock_guard lock(mutex);
    networkDelayMs = ms;
}

void ModemSimulator::setChunkedAnswers(int pauseMs)
{
    std::lock_guard lock(mutex);
    chunkPauseMs = pauseMs;
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

int ModemSimulator::storeMessage(const QString& status, const QString& number, const QString& text)
{
    std::lock_guard lock(mutex);
    const int index = freeIndex();
    sim[index] = {index, status, number, text, QDateTime::currentDateTime()};
    return index;
}

void ModemSimulator::receiveSms(const QString& number, const QString& text)
{
    int index = 0;
    {
        std::lock_guard lock(mutex);
        index = freeIndex();
        sim[index] = {index, QStringLiteral("REC UNREAD"), number, text, QDateTime::currentDateTime()};
        if (!silent)
            writeNow("\r\n+CMTI: \"SM\"," + QByteArray::number(index) + CrLf);
        note(QStringLiteral("SMS from %1 stored at %2").arg(number).arg(index));
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
}

void ModemSimulator::setLogger(std::function<void(const QString&)> l)
{
    std::lock_guard lock(mutex);
    logger = std::move(l);
}
