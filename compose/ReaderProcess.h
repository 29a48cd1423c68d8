// Runs a file reader in a child process, so that a damaged file that makes a third-party reading library
// crash, abort or loop cannot take the program down with it. The child streams what it reads back through
// a pipe as records; whatever arrived before a failure is kept.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// One value read from a file: null (no value at all) or a text, possibly empty.
using SourceValue = std::optional<QString>;

// What the child sends back.
struct ReaderOutput {
    QStringList names;                          // names listed (tables, sheets, columns)
    std::vector<std::vector<SourceValue>> rows; // rows read, in order
    QString error;                              // empty when the reader finished without a failure
};

// The child's side: the calls a reader makes to send its results.
class ReaderSink {
public:
    explicit ReaderSink(int fd) : fd(fd) {}
    void name(const QString& n);
    void row(const std::vector<SourceValue>& values);
    void error(const QString& description);
    void flush();

private:
    void frame(char type, const QByteArray& payload);
    int fd;
    QByteArray buffer;
};

struct ReaderLimits {
    int idleSeconds = 20; // the child is ended when it sends nothing for this long
    qint64 maxRows = -1;  // more rows than this means the reader is looping on a damaged file
};

// Runs work(sink) in a child process and collects its output. When the child dies, is ended for silence
// or sends too many rows, error is set to failureText (unless the reader had reported its own error).
ReaderOutput RunReader(const std::function<void(ReaderSink&)>& work, const QString& failureText,
                       const ReaderLimits& limits = {});

// Decodes a stream of records as the child writes them (exposed for tests of the framing).
void DecodeReaderStream(const QByteArray& stream, ReaderOutput& out);
