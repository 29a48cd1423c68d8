#include "compose/ReaderProcess.h"

#include <QElapsedTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A record is one type byte, a 32-bit little-endian length and the payload.
constexpr char NameRecord = 'N';
constexpr char RowRecord = 'R';
constexpr char ErrorRecord = 'E';
constexpr int FlushSize = 64 * 1024;

void putLength(QByteArray& out, quint32 n)
{
    char b[4] = {char(n & 0xff), char((n >> 8) & 0xff), char((n >> 16) & 0xff), char((n >> 24) & 0xff)};
    out.append(b, 4);
}

bool getLength(const QByteArray& in, qsizetype at, quint32* n)
{
    if (at + 4 > in.size())
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(in.constData() + at);
    *n = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    return true;
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool decodeRow(const QByteArray& payload, std::vector<SourceValue>& row)
{
    qsizetype at = 0;
    while (at < payload.size()) {
        const char flag = payload.at(at++);
        quint32 n = 0;
        if (!getLength(payload, at, &n))
            return false;
        at += 4;
        if (at + qsizetype(n) > payload.size())
            return false;
        if (flag == 0)
            row.emplace_back(std::nullopt);
        else
            row.emplace_back(QString::fromUtf8(payload.constData() + at, qsizetype(n)));
        at += n;
    }
    return true;
}

// Decodes the complete records at the front of the stream and returns how many bytes they took.
qsizetype decodeRecords(const QByteArray& stream, qsizetype from, ReaderOutput& out)
{
    qsizetype at = from;
    for (;;) {
        quint32 n = 0;
        if (at + 1 > stream.size() || !getLength(stream, at + 1, &n) || at + 5 + qsizetype(n) > stream.size())
            return at;
        const char type = stream.at(at);
        const QByteArray payload = stream.mid(at + 5, n);
        at += 5 + n;
        if (type == NameRecord) {
            out.names << QString::fromUtf8(payload);
        } else if (type == ErrorRecord) {
            out.error = QString::fromUtf8(payload);
        } else if (type == RowRecord) {
            std::vector<SourceValue> row;
            if (decodeRow(payload, row))
                out.rows.push_back(std::move(row));
        }
    }
}

[[noreturn]] void runChild(int fd, const std::function<void(ReaderSink&)>& work)
{
    // The parent's crash handlers (a test framework's, for one) must not run here: a crash of the reader
    // simply ends this process, and no core file is left behind.
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGPIPE, SIGTERM, SIGINT})
        ::signal(sig, SIG_DFL);
    struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // The reading libraries print their complaints on the standard streams; the user sees ours instead.
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
    }
    ReaderSink sink(fd);
    try {
        work(sink);
    } catch (const std::exception& e) {
        sink.error(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        sink.error(QStringLiteral("The file could not be read."));
    }
    sink.flush();
    ::_exit(0);
}

} // namespace

void ReaderSink::frame(char type, const QByteArray& payload)
{
    buffer.append(type);
    putLength(buffer, quint32(payload.size()));
    buffer.append(payload);
    if (buffer.size() >= FlushSize)
        flush();
}

void ReaderSink::name(const QString& n)
{
    frame(NameRecord, n.toUtf8());
}

void ReaderSink::row(const std::vector<SourceValue>& values)
{
    QByteArray payload;
    for (const SourceValue& v : values) {
        payload.append(char(v ? 1 : 0));
        const QByteArray text = v ? v->toUtf8() : QByteArray();
        putLength(payload, quint32(text.size()));
        payload.append(text);
    }
    frame(RowRecord, payload);
}

void ReaderSink::error(const QString& description)
{
    frame(ErrorRecord, description.toUtf8());
}

void ReaderSink::flush()
{
    if (!buffer.isEmpty())
        writeAll(fd, buffer.constData(), buffer.size());
    buffer.clear();
}

void DecodeReaderStream(const QByteArray& stream, ReaderOutput& out)
{
    decodeRecords(stream, 0, out);
}

ReaderOutput RunReader(const std::function<void(ReaderSink&)>& work, const QString& failureText,
                       const ReaderLimits& limits)
{
    ReaderOutput out;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        out.error = QString::fromLocal8Bit(strerror(errno));
        return out;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        out.error = QString::fromLocal8Bit(strerror(errno));
        ::close(fds[0]);
        ::close(fds[1]);
        return out;
    }
    if (pid == 0) {
        ::close(fds[0]);
        runChild(fds[1], work);
    }
    ::close(fds[1]);

    QByteArray stream;
    qsizetype decoded = 0;
    bool ended = false; // the child was ended by us
    char chunk[64 * 1024];
    for (;;) {
        pollfd p = {fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, limits.idleSeconds * 1000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            ended = true;
            break;
        }
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        stream.append(chunk, n);
        decoded = decodeRecords(stream, decoded, out);
        if (decoded > 1 << 20) { // keep the undecoded tail only
            stream.remove(0, decoded);
            decoded = 0;
        }
        if (limits.maxRows >= 0 && qint64(out.rows.size()) > limits.maxRows) {
            out.rows.resize(size_t(limits.maxRows));
            ended = true;
            break;
        }
    }
    if (ended)
        ::kill(pid, SIGKILL);
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const bool finished = !ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!finished && out.error.isEmpty())
        out.error = failureText;
    return out;
}
