// Comma-separated files as RFC 4180 describes them, for exports a spreadsheet opens: a field is quoted only
// when it holds a comma, a double quote, CR or LF (a double quote inside doubled), records end in CRLF, and
// the text is UTF-8 without a byte-order mark (spreadsheet programs on Linux read UTF-8 without one, and a
// mark would become part of the first column's name for plain readers). Rows go to the device as they come,
// so an export of any size holds one row at a time.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QIODevice;

// One field as it stands in a record: blanks at either end and every character are kept.
QString CsvField(const QString& value);
// One record, CRLF included, in UTF-8.
QByteArray CsvRecord(const QStringList& fields);

// Writes records to an open device, one write per record.
class CsvWriter {
public:
    explicit CsvWriter(QIODevice& device) : device(device) {}
    // false when the device refused the record (errorString says why)
    bool writeRow(const QStringList& fields);
    qint64 rowsWritten() const { return rows; }
    QString errorString() const;

private:
    QIODevice& device;
    qint64 rows = 0;
};

struct CsvFileResult {
    qint64 rows = 0; // records written after the header
    QString error;   // empty when the file was written whole
};

// Writes a header and then every row next() gives (until it returns false) to an open device, each as it
// comes; stops at the first record the device refuses.
CsvFileResult WriteCsv(QIODevice& device, const QStringList& header, const std::function<bool(QStringList& row)>& next);
// The same to the file at path, which replaces an older one only once it is written whole: a failed or
// interrupted export leaves what was there. What next() throws reaches the caller, with nothing written.
CsvFileResult WriteCsvFile(const QString& path, const QStringList& header,
                           const std::function<bool(QStringList& row)>& next);
