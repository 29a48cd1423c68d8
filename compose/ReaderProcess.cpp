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

ReaderOutput RunReader(const QStringList& request, const QString& failureText, const ReaderLimits& limits)
{
    const QString program = ReaderProgram();
    if (program.isEmpty()) {
        ReaderOutput out;
        out.error = QStringLiteral("The file reader " BROADTEXT_READER_NAME " is missing; install Broadtext again.");
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
        decoded = DecodeReaderRecords(stream, decoded, out);
        if (decoded > 1 << 20) { // keep the undecoded tail only
            stream.remove(0, decoded);
            decoded = 0;
        }
        if (limits.maxRows >= 0 && qint64(out.rows.size()) > limits.maxRows) {
            out.rows.resize(size_t(limits.maxRows));
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
