// Runs a file reader as a separate program (broadtext-reader, built from compose/reader), so that a
// damaged file that makes a third-party reading library crash, abort or loop cannot take the program down
// with it. The reader streams what it reads back as records (ReaderRecords); whatever arrived before a
// failure is kept. A window reads through ReaderRun, which follows the reader by signals and never waits;
// RunReader waits for the reader and suits short requests (names of tables, sheets and columns).
#pragma once

#include "compose/ReaderRecords.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

struct ReaderLimits {
    int idleSeconds = 20; // the reader is ended when it sends nothing for this long
    qint64 maxRows = -1;  // more rows than this means the reader is looping on a damaged file
};

// The reader program: beside this program's executable, in the installed helper folder, or in the build
// tree (tests and benchmarks); empty when none is there.
QString ReaderProgram();

// Runs the reader program with a request (its command line) and collects its output. When the reader
// dies, is ended for silence or sends too many rows, error is set to failureText (unless the reader had
// reported its own error).
ReaderOutput RunReader(const QStringList& request, const QString& failureText, const ReaderLimits& limits = {});

// The same with any program speaking the reader's records.
ReaderOutput RunReaderProgram(const QString& program, const QStringList& arguments, const QString& failureText,
                              const ReaderLimits& limits = {});

// One run of a reader program followed from the event loop: the same limits and the same failure rule as
// RunReaderProgram, with progress reported while the rows arrive and a cancel.
class ReaderRun : public QObject {
    Q_OBJECT
public:
    ReaderRun(const QString& program, const QStringList& arguments, const QString& failureText,
              const ReaderLimits& limits, QObject* parent = nullptr);
    ~ReaderRun() override;

    // Starts the reader; finished() follows, also when it cannot start.
    void start();
    // Ends the reader; finished() follows with what was read so far and cancelledText as the error.
    void cancel(const QString& cancelledText);

    const ReaderOutput& output() const { return out; }
    // The output handed over once the run has finished (the rows can be many).
    ReaderOutput takeOutput() { return std::move(out); }

Q_SIGNALS:
    void rowsRead(qint64 rows);
    void finished();

private:
    void readMore();
    void end(bool endedByUs);

    QString program;
    QString failureText;
    ReaderLimits limits;
    QProcess reader;
    QTimer silence;
    QByteArray stream;
    qsizetype decoded = 0;
    ReaderOutput out;
    QString cancelled;
    bool done = false;
};

// ReaderRun with the reader program; a missing program is reported as RunReader reports it.
ReaderRun* StartReader(const QStringList& request, const QString& failureText, const ReaderLimits& limits,
                       QObject* parent);
