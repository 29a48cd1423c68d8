// Where the mass-send wizard finds its numbers: a text file (one number per line, or numbers separated by
// one character), a table of an Access database file, or a worksheet of an Excel workbook (.xls, .xlsx) or
// a CSV file whose first row names the columns. No windows here: every reader returns what it found plus,
// when something went wrong, a description for the user; rows read before a failure are kept.
//
// Text files are read here. Access files, workbooks and CSV files are read by the reader program
// (ReaderProcess), because the libraries that read them do not survive every damaged file.
#pragma once

#include "compose/ReaderRecords.h"
#include "compose/SourceFormats.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class ReaderRun;

// One recipient: the number and, when the messages come from the source, the message. A row of a table or a
// worksheet also keeps every cell it has, in the order of NumberRows::headers (a missing cell is an empty
// text), for the fields of a mail merge; number and message share their text with the cells.
struct NumberRow {
    QString number;
    QString message;
    QStringList cells;
};

struct NumberRows {
    std::vector<NumberRow> rows;
    QStringList headers; // the names of the cells' columns, once for all rows; empty for a text file
    QString error;       // empty when the whole source was read
};

struct NameList {
    QStringList names;
    QString error;
};

// ---- Text files

// The separators a text file's numbers may be separated by, as the wizard offers them.
QStringList TextSeparators();
// The entries of a text file's content: lines end at LF (a CR before it is dropped); with an empty
// separator each line with outer blanks removed is one entry, otherwise each line is cut at every
// separator and every part with outer blanks removed is one; empty entries are left out. The bytes are
// read as UTF-8 when they are valid UTF-8, else as Windows-1252 (Latin-1).
QStringList ExtractNumbers(const QByteArray& content, const QString& separator);
// The same for a file; the separator is used with outer blanks removed.
NumberRows ReadTextFileNumbers(const QString& path, const QString& separator);
// True when the file can be read and none of its lines holds one of the TextSeparators, so that it is
// read the same whatever the separator.
bool HoldsOneNumberPerLine(const QString& path);

// ---- Access database files

// The user tables (system and temporary tables are never offered), in the file's order.
NameList AccessTables(const QString& path);
// The columns of a table, in order.
NameList AccessColumns(const QString& path, const QString& table);
// The rows of a table: rows whose number is null, empty or only blanks are skipped; the message is read
// when messageColumn is not empty (a null message is an empty one). The number and the message have outer
// blanks removed; the cells are as read.
NumberRows ReadAccessTable(const QString& path, const QString& table, const QString& numbersColumn,
                           const QString& messageColumn);

// ---- Excel workbooks and CSV files

// The worksheets in workbook order, each name with every "$" and the outer blanks removed; a CSV file
// has one, named after the file.
NameList ExcelSheets(const QString& path);
// The column names of a worksheet (HeadingNames of its first row).
NameList ExcelColumns(const QString& path, const QString& sheet);

struct SheetRecords {
    std::vector<std::vector<SourceValue>> records; // one value per requested column
    QString error;
};
// The values of the named columns for the records under the heading row, at most maxRecords of them
// (all when negative). An empty cell is null; a number cell reads in general number form.
SheetRecords ExcelRecords(const QString& path, const QString& sheet, const QStringList& columns, int maxRecords = -1);
// The rows of a worksheet: a row is given when its number cell is neither empty nor an empty text (a cell
// of blanks gives a row with an empty number); the message is read when messageColumn is not empty. Every
// cell comes along, as with ReadAccessTable.
NumberRows ReadExcelSheet(const QString& path, const QString& sheet, const QString& numbersColumn,
                          const QString& messageColumn);

// ---- Reading the rows without waiting

// ReadAccessTable or ReadExcelSheet followed from the event loop, for a window that stays responsive while a
// large file is read: finished() gives the rows and the error, also when the file is refused at once.
class NumberRowsReading : public QObject {
    Q_OBJECT
public:
    void start();
    // Ends the reading; the rows read so far are given, with cancelledText as the error.
    void cancel(const QString& cancelledText);

Q_SIGNALS:
    void rowsRead(qint64 rows);
    void finished(const NumberRows& read);

private:
    friend NumberRowsReading* StartReadingAccessTable(const QString&, const QString&, const QString&, const QString&,
                                                      QObject*);
    friend NumberRowsReading* StartReadingExcelSheet(const QString&, const QString&, const QString&, const QString&,
                                                     QObject*);
    explicit NumberRowsReading(QObject* parent) : QObject(parent) {}

    ReaderRun* run = nullptr;
    QString refusal; // the file was refused before any reader ran
    std::function<NumberRows(ReaderOutput&&)> rowsOf;
};

// Both are started with start(), once their signals are connected.
NumberRowsReading* StartReadingAccessTable(const QString& path, const QString& table, const QString& numbersColumn,
                                           const QString& messageColumn, QObject* parent);
NumberRowsReading* StartReadingExcelSheet(const QString& path, const QString& sheet, const QString& numbersColumn,
                                          const QString& messageColumn, QObject* parent);
