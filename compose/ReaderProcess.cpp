#include "compose/ReaderProcess.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

QString ReaderProgram()
{
    QStringList candidates;
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/" BROADTEXT_READER_NAME);
    candidates << QStringLiteral(BROADTEXT_READER_INSTALLED) << QStringLiteral(BROADTEXT_READER_BUILT);
    for (const QString& c : candidates)
        if (QFileInfo(c).isExecutable() && QFileInfo(c).isFile())
            return c;
    return {};
}

namespace {

QString missingReaderText()
{
    return QStringLiteral("The file reader " BROADTEXT_READER_NAME " is missing; install Broadtext again.");
}

// Decodes what arrived and keeps only the undecoded tail of a long stream; false when the reader sent more
// rows than the limit (it is looping), the rows then cut to the limit.
bool takeRecords(QByteArray& stream, qsizetype& decoded, ReaderOutput& out, const ReaderLimits& limits)
{
    decoded = DecodeReaderRecords(stream, decoded, out);
    if (decoded > 1 << 20) {
        stream.remove(0, decoded);
        decoded = 0;
    }
    if (limits.maxRows >= 0 && qint64(out.rows.size()) > limits.maxRows) {
        out.rows.resize(size_t(limits.maxRows));
        return false;
    }
    return true;
}

} // namespace

ReaderOutput RunReader(const QStringList& request, const QString& failureText, const ReaderLimits& limits)
{
    const QString program = ReaderProgram();
    if (program.isEmpty()) {
        ReaderOutput out;
        out.error = missingReaderText();
        return out;
    }
    return RunReaderProgram(program, request, failureText, limits);
}

ReaderOutput RunReaderProgram(const QString& program, const QStringList& arguments, const QString& failureText,
                              const ReaderLimits& limits)
{
    ReaderOutput out;
    QProcess reader;
    reader.setProgram(program);
    reader.setArguments(arguments);
    reader.setStandardInputFile(QProcess::nullDevice());
    // The reading libraries complain on the standard streams; the user sees our message instead.
    reader.setStandardErrorFile(QProcess::nullDevice());
    reader.start(QIODevice::ReadOnly);
    if (!reader.waitForStarted(limits.idleSeconds * 1000)) {
        out.error = QStringLiteral("The file reader %1 could not be started: %2").arg(program, reader.errorString());
        return out;
    }

    // Waiting blocks this thread as a direct read of the file would; the silence limit bounds the wait.
    QByteArray stream;
    qsizetype decoded = 0;
    bool ended = false; // the reader was ended by us
    for (;;) {
        const bool more = reader.waitForReadyRead(limits.idleSeconds * 1000);
        stream.append(reader.readAllStandardOutput());
        if (!takeRecords(stream, decoded, out, limits)) {
            ended = true;
            break;
        }
        if (!more) {
            ended = reader.state() != QProcess::NotRunning;
            break;
        }
    }
    // The reader closed its output; it has a moment to exit before it counts as hanging.
    if (!ended && reader.state() != QProcess::NotRunning && !reader.waitForFinished(limits.idleSeconds * 1000))
        ended = true;
    if (ended) {
        reader.kill();
        reader.waitForFinished(-1);
    }
    const bool finished = !ended && reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0;
    if (!finished && out.error.isEmpty())
        out.error = failureText;
    return out;
}

ReaderRun::ReaderRun(const QString& program, const QStringList& arguments, const QString& failureText,
                     const ReaderLimits& limits, QObject* parent)
    : QObject(parent), program(program), failureText(failureText), limits(limits)
{
    reader.setProgram(program);
    reader.setArguments(arguments);
    reader.setStandardInputFile(QProcess::nullDevice());
    reader.setStandardErrorFile(QProcess::nullDevice());
    silence.setSingleShot(true);
    silence.setInterval(limits.idleSeconds * 1000);
    connect(&silence, &QTimer::timeout, this, [this] { end(true); });
    connect(&reader, &QProcess::readyReadStandardOutput, this, &ReaderRun::readMore);
    connect(&reader, &QProcess::finished, this, [this] {
        readMore();
        end(false);
    });
    connect(&reader, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return; // a crash or a kill also ends in finished()
        out.error =
            QStringLiteral("The file reader %1 could not be started: %2").arg(this->program, reader.errorString());
        end(false);
    });
}

ReaderRun::~ReaderRun()
{
    // A window closed while reading: the reader is killed, and a killed process is gone at once.
    if (reader.state() != QProcess::NotRunning) {
        reader.disconnect(this);
        reader.kill();
        reader.waitForFinished(1000);
    }
}

void ReaderRun::start()
{
    if (program.isEmpty()) {
        out.error = missingReaderText();
        end(false);
        return;
    }
    silence.start();
    reader.start(QIODevice::ReadOnly);
}

void ReaderRun::cancel(const QString& cancelledText)
{
    if (done)
        return;
    cancelled = cancelledText;
    end(true);
}

void ReaderRun::readMore()
{
    if (done)
        return;
    silence.start();
    const qsizetype before = qsizetype(out.rows.size());
    stream.append(reader.readAllStandardOutput());
    if (!takeRecords(stream, decoded, out, limits)) {
        end(true);
        return;
    }
    if (qsizetype(out.rows.size()) != before)
        Q_EMIT rowsRead(qint64(out.rows.size()));
}

void ReaderRun::end(bool endedByUs)
{
    if (done)
        return;
    done = true;
    silence.stop();
    if (endedByUs && reader.state() != QProcess::NotRunning) {
        // Its end is not waited for: the process object reaps it when it goes.
        reader.disconnect(this);
        reader.kill();
    }
    const bool finishedWell = !endedByUs && reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0;
    if (!cancelled.isEmpty())
        out.error = cancelled;
    else if (!finishedWell && out.error.isEmpty())
        out.error = failureText;
    Q_EMIT finished();
}

ReaderRun* StartReader(const QStringList& request, const QString& failureText, const ReaderLimits& limits,
                       QObject* parent)
{
    return new ReaderRun(ReaderProgram(), request, failureText, limits, parent);
}
