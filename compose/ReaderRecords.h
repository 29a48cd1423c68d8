// The records a reader program sends back on its standard output: names (tables, sheets, columns), rows of
// values and an error description. Both sides use this: the wizard decodes, broadtext-reader encodes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One value read from a file: null (no value at all) or a text, possibly empty.
using SourceValue = std::optional<QString>;

// What a reader sent back.
struct ReaderOutput {
    QStringList names;                          // names listed (tables, sheets, columns)
    std::vector<std::vector<SourceValue>> rows; // rows read, in order
    QString error;                              // empty when the reader finished without a failure
};

// The reader's side: the calls a reader makes to send its results to a file descriptor. Records are
// buffered and written in blocks, so that a crash loses at most the last block.
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

// Decodes the complete records of stream from offset `from` on into out and returns the offset after the
// last complete one; an incomplete record at the end waits for more bytes.
qsizetype DecodeReaderRecords(const QByteArray& stream, qsizetype from, ReaderOutput& out);
