// A workbook as the reader program's sheet requests see it, whatever the file format: named sheets, each a
// sequence of rows of values by column, the heading row first. One implementation per format.
#pragma once

#include "compose/ReaderRecords.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// One row: its number from 0 (rows without any cell may be skipped) and its values by column, null where
// no cell is (trailing empty cells may be left out). Returns whether the reading should go on.
using RowVisitor = std::function<bool(qint64 row, const std::vector<SourceValue>& values)>;

class Workbook {
public:
    virtual ~Workbook() = default;
    // The sheets' names as the file has them, in workbook order. False when damaged, with a description in
    // error when there is something more precise to say than that.
    virtual bool sheetNames(QStringList& names, QString& error) = 0;
    // Visits the rows of the sheet at a position of sheetNames, in order. declaredColumns receives the
    // sheet's width as the file declares it (0 when it does not) before the first row. False when damaged.
    virtual bool readRows(int sheet, int* declaredColumns, const RowVisitor& visit) = 0;
};

// The workbook in a file, by its content: Excel 97-2003 (.xls), Office Open XML (.xlsx) or, for a name
// ending in .csv, comma-separated values. Null when the file cannot be opened as any of them.
std::unique_ptr<Workbook> OpenWorkbook(const QString& path);

std::unique_ptr<Workbook> OpenXlsWorkbook(const QString& path);
std::unique_ptr<Workbook> OpenXlsxWorkbook(const QString& path);
std::unique_ptr<Workbook> OpenCsvWorkbook(const QString& path);
