// What the number sources' file formats mean, as pure functions shared by the wizard and its reader
// program: the rules of sheets and columns, the messages about unreadable files, text decoding, CSV
// records, and the XML parts of an .xlsx workbook (the zip container is the reader program's business).
#pragma once

#include "compose/ReaderRecords.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// ---- Sheets and columns

// A number as text in general form: whole values below 1e15 without decimals or exponent
// (9888812121 -> "9888812121"), others with up to 15 significant digits.
QString GeneralNumber(double value);
// Index of a column by name: the exact name first, then the name with outer blanks removed; -1 if none.
int FindColumn(const QStringList& columns, const QString& name);
// A worksheet's name as the wizard offers it: every "$" and the outer blanks removed.
QString SheetDisplayName(const QString& name);
// The column names of a sheet: the texts of its heading row, an empty heading called F1, F2, ... after its
// position, for as many columns as the heading has or the sheet declares, whichever is more.
QStringList HeadingNames(const std::vector<SourceValue>& heading, int declaredColumns);

// ---- Messages

QString NotFoundMessage(const QString& path);
QString NotAccessMessage(const QString& path);
// Names the kind of workbook the file's name promises (.xls, .xlsx or .csv).
QString NotWorkbookMessage(const QString& path);

// ---- Text

// Bytes as text: the encoding a byte-order mark names (UTF-8, UTF-16, UTF-32; the mark dropped), else
// UTF-8 when the bytes are valid UTF-8, else Windows-1252.
QString DecodeText(const QByteArray& bytes);

// ---- CSV

// The delimiter among , ; tab | that splits the first records into the most consistent columns (at least
// two in the heading); a null character when none does, and each line is then one value.
QChar DetectCsvDelimiter(QStringView text);
// The records of a CSV text: records end at LF, CR LF or CR outside quotes; a field starting with a quote
// runs to the closing quote, "" inside it standing for one quote, and may hold delimiters and line ends.
// An empty field is null. At most maxRecords records (all when negative).
std::vector<std::vector<SourceValue>> ParseCsv(QStringView text, QChar delimiter, qsizetype maxRecords = -1);

// ---- .xlsx parts

// A part of the workbook as it arrives: each call fills piece with the next bytes, an empty piece at the
// end; false when the part cannot be read further (damaged, or larger than allowed).
using PartPieces = std::function<bool(QByteArray& piece)>;

struct XlsxRelationship {
    QString id;
    QString type; // the full relationship type; only its last path segment matters ("worksheet")
    QString target;
};
// The relationships of a part (_rels/.rels, xl/_rels/workbook.xml.rels); false when damaged.
bool ParseXlsxRelationships(const PartPieces& part, std::vector<XlsxRelationship>& out);

struct XlsxSheetEntry {
    QString name;
    QString relationshipId;
};
// The sheets the workbook part lists, in workbook order; false when damaged.
bool ParseXlsxWorkbook(const PartPieces& part, std::vector<XlsxSheetEntry>& out);

// The shared strings, rich text runs joined and phonetic guides left out; false when damaged.
bool ParseXlsxSharedStrings(const PartPieces& part, QStringList& out);

// One row of a worksheet: its number from 0 and its values by column (null where no cell is), and whether
// the reading should go on.
using XlsxRowVisitor = std::function<bool(qint64 row, const std::vector<SourceValue>& values)>;
// Reads a worksheet row by row. Cells are placed by their reference (a cell without one follows the one
// before); shared and inline strings are texts, numbers are in general form, booleans TRUE or FALSE,
// formulas give their stored result, error values are null. declaredColumns receives the width the sheet's
// dimension names (0 without one) before the first row. False when damaged; stopping early is no failure.
bool ReadXlsxWorksheet(const PartPieces& part, const QStringList& sharedStrings, int* declaredColumns,
                       const XlsxRowVisitor& visit);
