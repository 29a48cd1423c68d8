// Recorded modem conversations, replayed on the in-memory line with its virtual clock, and the recorder
// that writes them from a run on a real port (the simulator's pseudo-terminal).
//
// A transcript is plain text, one item a line:
//   # words                 a comment; blank lines are ignored too
//   baud N                  the modem's answers travel at N baud from here on (0: at once)
//   > TEXT                  the program writes TEXT and a CR (a command)
//   >| TEXT                 the program writes exactly TEXT (an escape, a message body ending in \x1a)
//   < TEXT                  the modem answers TEXT and CR LF ("< " alone: an empty line)
//   <| TEXT                 the modem sends exactly TEXT (an echo, the "> " prompt, a piece of a line)
//   @ N                     what the modem sends after this comes N ms (virtual) later
//   hangup                  the device goes away here
// TEXT knows the escapes \r \n \\ and \xHH. The answers after a "> " line are sent once the program has
// written that command; those before the first command, when the port opens. The program must write the
// commands in the order given: anything else stops the replay, and failure() says what was written instead.
#pragma once

#include "modem/MSComm.h"
#include "modem/MemoryTransport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <mutex>

namespace transcript {

inline QByteArray unescape(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char e = text.at(++i);
        if (e == 'r')
            out += '\r';
        else if (e == 'n')
            out += '\n';
        else if (e == 'x' && i + 2 < text.size()) {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else
            out += e;
    }
    return out;
}

inline QByteArray escape(const QByteArray& bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (uchar(c) < 0x20 || uchar(c) >= 0x7f)
            out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

} // namespace transcript

class TranscriptPlayer : public ModemPeer {
public:
    // Reads tests/data/transcripts/<name>.txt; a missing or malformed file is a failure at once.
    explicit TranscriptPlayer(const QString& name)
    {
#ifdef BROADTEXT_TEST_DATA
        QFile f(QStringLiteral(BROADTEXT_TEST_DATA "/transcripts/%1.txt").arg(name));
#else
        QFile f(name); // benchmarks give the path
#endif
        if (!f.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read transcript %1").arg(f.fileName()));
            return;
        }
        source = name;
        int number = 0;
        for (QByteArray line : f.readAll().split('\n')) {
            ++number;
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.trimmed().isEmpty() || line.startsWith('#'))
                continue;
            Step s;
            s.line = number;
            if (line.startsWith(">| ") || line.startsWith("<| ")) {
                s.kind = line.at(0) == '>' ? Step::Write : Step::Answer;
                s.bytes = transcript::unescape(line.mid(3));
            } else if (line.startsWith("> ") || line.startsWith("< ") || line == "<") {
                s.kind = line.at(0) == '>' ? Step::Write : Step::Answer;
                s.bytes = transcript::unescape(line.mid(2)) + (s.kind == Step::Write ? "\r" : "\r\n");
            } else if (line.startsWith("@ ")) {
                s.kind = Step::Delay;
                s.number = line.mid(2).trimmed().toLongLong();
            } else if (line.startsWith("baud ")) {
                s.kind = Step::Baud;
                s.number = line.mid(5).trimmed().toLongLong();
            } else if (line.trimmed() == "hangup") {
                s.kind = Step::HangUp;
            } else {
                fail(QStringLiteral("%1 line %2: not a transcript line: %3").arg(name).arg(number).arg(line));
                return;
            }
            steps.push_back(s);
        }
    }

    // Empty while the program has written what the transcript expects.
    QString failure() const
    {
        std::lock_guard lock(mutex);
        return failed;
    }
    // Every command of the transcript has been written.
    bool atEnd() const
    {
        std::lock_guard lock(mutex);
        for (size_t i = next; i < steps.size(); ++i)
            if (steps[i].kind == Step::Write)
                return false;
        return true;
    }
    // What the program is to write next (empty at the end).
    QByteArray nextCommand() const
    {
        std::lock_guard lock(mutex);
        for (size_t i = next; i < steps.size(); ++i)
            if (steps[i].kind == Step::Write)
                return steps[i].bytes;
        return {};
    }
    int commandsWritten() const
    {
        std::lock_guard lock(mutex);
        return written;
    }

    ModemTransport::Error opened(int, MemoryTransport& line) override
    {
        std::lock_guard lock(mutex);
        playAnswers(line);
        return {};
    }

    void received(const QByteArray& bytes, MemoryTransport& line) override
    {
        std::lock_guard lock(mutex);
        if (!failed.isEmpty())
            return;
        got += bytes;
        while (!got.isEmpty()) {
            if (next >= steps.size()) {
                failLocked(QStringLiteral("the program wrote \"%1\" after the end of transcript %2")
                               .arg(QString::fromLatin1(transcript::escape(got)), source));
                return;
            }
            const Step& s = steps[next];
            const QByteArray& want = s.bytes;
            if (got.size() < want.size() && want.startsWith(got))
                return; // the rest of the command is still to come
            if (!got.startsWith(want)) {
                failLocked(QStringLiteral("%1 line %2: the program wrote \"%3\" where \"%4\" was expected")
                               .arg(source)
                               .arg(s.line)
                               .arg(QString::fromLatin1(transcript::escape(got)),
                                    QString::fromLatin1(transcript::escape(want))));
                return;
            }
            got.remove(0, want.size());
            ++next;
            ++written;
            playAnswers(line);
        }
    }

private:
    struct Step {
        enum Kind { Write, Answer, Delay, Baud, HangUp } kind = Write;
        QByteArray bytes;
        qint64 number = 0;
        int line = 0;
    };

    // Sends the answers up to the next command.
    void playAnswers(MemoryTransport& line)
    {
        qint64 delay = 0;
        for (; next < steps.size() && steps[next].kind != Step::Write; ++next) {
            const Step& s = steps[next];
            if (s.kind == Step::Answer)
                line.send(s.bytes, delay);
            else if (s.kind == Step::Delay)
                delay += s.number;
            else if (s.kind == Step::Baud)
                line.setLineBaud(int(s.number));
            else
                line.hangUp(delay);
        }
    }
    void fail(const QString& why)
    {
        std::lock_guard lock(mutex);
        failLocked(why);
    }
    void failLocked(const QString& why)
    {
        if (failed.isEmpty())
            failed = why;
    }

    mutable std::mutex mutex;
    QString source;
    std::vector<Step> steps;
    size_t next = 0;
    QByteArray got;
    QString failed;
    int written = 0;
};

// The plumbing that replays a transcript: one line per port opening, all on one virtual clock.
struct Replay {
    VirtualClock clock;
    TranscriptPlayer player;
    explicit Replay(const QString& name) : player(name) {}
    ModemPlumbing plumbing()
    {
        return {[this] { return std::make_unique<MemoryTransport>(clock, player); }, &clock};
    }
};

// The serial port, with everything written and read kept as a transcript (written out when the port is
// destroyed). For recording new transcripts from a run against the simulator.
class RecordingTransport : public ModemTransport {
public:
    explicit RecordingTransport(const QString& path) : path(path)
    {
        port.setParent(this); // moves to the modem thread with this object
        connect(&port, &ModemTransport::OnComm, this, &ModemTransport::OnComm);
        connect(&port, &ModemTransport::hungUp, this, [this] {
            note("hangup");
            Q_EMIT hungUp();
        });
        since.start();
    }
    ~RecordingTransport() override
    {
        flushAnswer(true);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(out);
    }
    void setDTREnable(bool on) override { port.setDTREnable(on); }
    bool PortOpen() const override { return port.PortOpen(); }
    Error setPortOpen(bool open, const PortPaths& paths = {}) override
    {
        port.setCommPort(commPort);
        port.setSettings(settings);
        port.setHandshaking(handshaking);
        return port.setPortOpen(open, paths);
    }
    void Output(const QByteArray& bytes) override
    {
        flushAnswer(true);
        if (bytes.endsWith('\r') && bytes.count('\r') == 1 && !bytes.contains('\n'))
            note("> " + transcript::escape(bytes.chopped(1)));
        else
            note(">| " + transcript::escape(bytes));
        lastWrite = since.elapsed();
        port.Output(bytes);
    }
    QByteArray Input() override
    {
        const QByteArray bytes = port.Input();
        if (!bytes.isEmpty()) {
            if (answer.isEmpty() && since.elapsed() - lastWrite >= 100)
                note("@ " + QByteArray::number(since.elapsed() - lastWrite));
            lastWrite = since.elapsed();
            answer += bytes;
            flushAnswer(false);
        }
        return bytes;
    }
    bool waitForInput(int ms) override { return port.waitForInput(ms); }
    qint32 baudRate() const override { return port.baudRate(); }
    QString device() const override { return port.device(); }

private:
    void note(const QByteArray& line) { out += line + '\n'; }
    void flushAnswer(bool all)
    {
        for (qsizetype lf; (lf = answer.indexOf('\n')) >= 0;) {
            const QByteArray line = answer.left(lf + 1);
            answer.remove(0, lf + 1);
            const QByteArray content = line.chopped(2);
            if (line.endsWith("\r\n") && !content.contains('\r'))
                note(content.isEmpty() ? QByteArray("<") : "< " + transcript::escape(content));
            else
                note("<| " + transcript::escape(line));
        }
        if (all && !answer.isEmpty())
            note("<| " + transcript::escape(std::exchange(answer, {})));
    }

    MSComm port;
    QString path;
    QByteArray out;
    QByteArray answer;
    QElapsedTimer since;
    qint64 lastWrite = 0;
};
