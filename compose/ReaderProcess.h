// Runs a file reader as a separate program (broadtext-reader, built from compose/reader), so that a
// damaged file that makes a third-party reading library crash, abort or loop cannot take the program down
// with it. The reader streams what it reads back as records (ReaderRecords); whatever arrived before a
// failure is kept.
#pragma once

#include "compose/ReaderRecords.h"

#include <QString>
#include <QStringList>

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
