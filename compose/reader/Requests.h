// The requests the reader program answers, one per command line; each sends its results, or what went
// wrong, through the sink.
#pragma once

#include "compose/ReaderRecords.h"

#include <QString>
#include <QStringList>

// ---- Access database files (libmdb)

// The user tables, in the file's order.
void ListAccessTables(ReaderSink& sink, const QString& path);
// The columns of a table, in order.
void ListAccessColumns(ReaderSink& sink, const QString& path, const QString& table);
// The named columns of every row of a table; null and empty values both arrive as empty texts. With
// wholeRows the columns are only checked to exist: the column names are sent first, then every column of
// each row.
void ReadAccessRows(ReaderSink& sink, const QString& path, const QString& table, const QStringList& columns,
                    bool wholeRows = false);

// ---- Workbooks and CSV files

// The sheets, named as the wizard offers them (SheetDisplayName).
void ListSheets(ReaderSink& sink, const QString& path);
// The column names of a sheet (HeadingNames of its first row).
void ListSheetColumns(ReaderSink& sink, const QString& path, const QString& sheet);
// The named columns of the rows under the heading, at most maxRecords of them (all when negative); rows
// without any cell in between are sent as rows of nulls. With wholeRows the columns are only checked to
// exist: the column names (HeadingNames) are sent first, then each record with one value per name.
void ReadSheetRecords(ReaderSink& sink, const QString& path, const QString& sheet, qint64 maxRecords,
                      const QStringList& columns, bool wholeRows = false);
