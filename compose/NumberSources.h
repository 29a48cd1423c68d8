// Where the mass-send wizard finds its numbers: a text file (one number per line, or numbers separated by
// one character), a table of an Access database file, or a worksheet of an Excel 97-2003 workbook whose
// first row names the columns. No windows here: every reader returns what it found plus, when something
// went wrong, a description for the user; rows read before a failure are kept.
//
// Access files are read with libmdb and workbooks with FreeXL, each inside a child process (ReaderProcess),
// because neither library survives every damaged file.
#pragma once

#include "compose/ReaderProcess.h"

#include <QString>
#include <QStringList>
#include <vector>

// One recipient: the number and, when the messages come from the source, the message.
struct NumberRow {
    QString number;
    QString message;
};

struct NumberRows {
    std::vector<NumberRow> rows;
    QString error; // empty when the whole source was read
};

struct NameList {
    QStringList names;
    QString error;
};

// ---- Text files

// The entries of a text file's content: lines end at LF (a CR before it is dropped); with an empty
// separator each line with outer blanks removed is one entry, otherwise each line is cut at every
// separator and every part with outer blanks removed is one; empty entries are left out. The bytes are
// read as UTF-8 when they are valid UTF-8, else as Windows-1252 (Latin-1).
QStringList ExtractNumbers(const QByteArray& content, const QString& separator);
// The same for a file; the separator is used with outer blanks removed.
NumberRows ReadTextFileNumbers(const QString& path, const QString& separator);

// ---- Access database files

// The user tables (system and temporary tables are never offered), in the file's order.
NameList AccessTables(const QString& path);
// The columns of a table, in order.
NameList AccessColumns(const QString& path, const QString& table);
// The rows of a table: rows whose number is null, empty or only blanks are skipped; the message is read
// when messageColumn is not empty (a null message is an empty one). Values have outer blanks removed.
NumberRows ReadAccessTable(const QString& path, const QString& table, const QString& numbersColumn,
                           const QString& messageColumn);

// ---- Excel workbooks

// The worksheets in workbook order, each name with every "$" and the outer blanks removed.
NameList ExcelSheets(const QString& path);
// The column names of a worksheet: the texts of its first row (an empty heading is called F1, F2, ...
// after its position).
NameList ExcelColumns(const QString& path, const QString& sheet);

struct SheetRecords {
    std::vector<std::vector<SourceValue>> records; // one value per requested column
    QString error;
};
// The values of the named columns for the records under the heading row, at most maxRecords of them
// (all when negative). An empty cell is null; a number cell reads in general number form.
SheetRecords ExcelRecords(const QString& path, const QString& sheet, const QStringList& columns, int maxRecords = -1);
// The rows of a worksheet: a row is given when its number cell is neither empty nor an empty text (a cell
// of blanks gives a row with an empty number); the message is read when messageColumn is not empty.
NumberRows ReadExcelSheet(const QString& path, const QString& sheet, const QString& numbersColumn,
                          const QString& messageColumn);

// ---- Shared rules

// A number as text in general form: whole values below 1e15 without decimals or exponent
// (9888812121 -> "9888812121"), others with up to 15 significant digits.
QString GeneralNumber(double value);
// Index of a column by name: the exact name first, then the name with outer blanks removed; -1 if none.
int FindColumn(const QStringList& columns, const QString& name);
