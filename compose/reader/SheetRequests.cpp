// The reader program's sheet requests, the same for every workbook format.
#include "compose/SourceFormats.h"
#include "compose/reader/Requests.h"
#include "compose/reader/Workbook.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

// Opens the workbook and finds the sheet by the name the wizard shows; reports failures through the sink.
std::unique_ptr<Workbook> openSheet(ReaderSink& sink, const QString& path, const QString& sheet, int* index)
{
    std::unique_ptr<Workbook> book = OpenWorkbook(path);
    QStringList names;
    QString error;
    if (!book || !book->sheetNames(names, error)) {
        sink.error(error.isEmpty() ? NotWorkbookMessage(path) : error);
        return nullptr;
    }
    const QString wanted = SheetDisplayName(sheet);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (SheetDisplayName(names.at(i)) == wanted) {
            *index = int(i);
            return book;
        }
    }
    sink.error(QStringLiteral("The worksheet '%1' was not found in '%2'.").arg(sheet, path));
    return nullptr;
}

} // namespace

std::unique_ptr<Workbook> OpenWorkbook(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray head = f.read(8);
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return OpenXlsxWorkbook(path);
    if (head == QByteArray::fromHex("d0cf11e0a1b11ae1"))
        return OpenXlsWorkbook(path);
    if (QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        return OpenCsvWorkbook(path);
    return nullptr;
}

void ListSheets(ReaderSink& sink, const QString& path)
{
    std::unique_ptr<Workbook> book = OpenWorkbook(path);
    QStringList names;
    QString error;
    if (!book || !book->sheetNames(names, error)) {
        sink.error(error.isEmpty() ? NotWorkbookMessage(path) : error);
        return;
    }
    for (const QString& n : names)
        if (!n.isEmpty()) // a sheet whose name could not be read
            sink.name(SheetDisplayName(n));
}

void ListSheetColumns(ReaderSink& sink, const QString& path, const QString& sheet)
{
    int index = 0;
    std::unique_ptr<Workbook> book = openSheet(sink, path, sheet, &index);
    if (!book)
        return;
    int declared = 0;
    bool anyRow = false;
    std::vector<SourceValue> heading;
    const bool read = book->readRows(index, &declared, [&](qint64 row, const std::vector<SourceValue>& values) {
        anyRow = true;
        if (row == 0)
            heading = values;
        return false;
    });
    if (!read) {
        sink.error(NotWorkbookMessage(path));
        return;
    }
    if (anyRow)
        for (const QString& n : HeadingNames(heading, declared))
            sink.name(n);
}

void ReadSheetRecords(ReaderSink& sink, const QString& path, const QString& sheet, qint64 maxRecords,
                      const QStringList& columns, bool wholeRows)
{
    int index = 0;
    std::unique_ptr<Workbook> book = openSheet(sink, path, sheet, &index);
    if (!book)
        return;
    int declared = 0;
    bool headingRead = false;
    std::vector<int> wanted; // the requested columns' positions, once the heading is known
    qint64 next = 1;         // the row expected after the heading
    qint64 sent = 0;
    bool refused = false;
    std::vector<SourceValue> record(size_t(columns.size()));
    size_t width = 0; // of a whole row: the heading's
    const auto send = [&](const std::vector<SourceValue>& values) {
        if (wholeRows) {
            // A cell beyond the heading has no name to be asked by; a short row is padded with nulls.
            record.assign(values.begin(), values.begin() + std::ptrdiff_t(std::min(width, values.size())));
            record.resize(width);
        } else {
            for (size_t k = 0; k < wanted.size(); ++k)
                record[k] = size_t(wanted[k]) < values.size() ? values[size_t(wanted[k])] : std::nullopt;
        }
        sink.row(record);
        return maxRecords < 0 || ++sent < maxRecords;
    };
    const bool read = book->readRows(index, &declared, [&](qint64 row, const std::vector<SourceValue>& values) {
        if (!headingRead) {
            headingRead = true;
            const QStringList names = HeadingNames(row == 0 ? values : std::vector<SourceValue>(), declared);
            for (const QString& c : columns) {
                const int i = FindColumn(names, c);
                if (i < 0) {
                    sink.error(QStringLiteral("The worksheet '%1' has no column named '%2'.").arg(sheet, c));
                    refused = true;
                    return false;
                }
                wanted.push_back(i);
            }
            if (wholeRows) {
                width = size_t(names.size());
                for (const QString& n : names)
                    sink.name(n);
            }
            if (row == 0)
                return maxRecords != 0;
        }
        // Rows the file leaves out are empty records, as a worksheet shows them.
        for (const std::vector<SourceValue> none; next < row; ++next)
            if (!send(none))
                return false;
        next = row + 1;
        return send(values);
    });
    if (!read && !refused)
        sink.error(NotWorkbookMessage(path));
}
