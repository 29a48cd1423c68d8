#include "compose/NumberSources.h"

#include "common/FunctionsLibrary.h"
#include "compose/ReaderProcess.h"

#include <QFile>
#include <QFileInfo>

namespace {

// An upper bound of the rows an Access file of this size can hold; a reader producing more is looping.
ReaderLimits accessLimits(const QString& path)
{
    ReaderLimits l;
    l.maxRows = QFileInfo(path).size() + 1000;
    return l;
}

// A worksheet holds at most 1 048 576 rows.
ReaderLimits sheetLimits()
{
    ReaderLimits l;
    l.maxRows = 1 << 20;
    return l;
}

bool checkedFile(const QString& path, QString* error)
{
    if (!QFileInfo(path).isFile()) {
        *error = NotFoundMessage(path);
        return false;
    }
    return true;
}

ReaderOutput readAccess(const QStringList& request, const QString& path)
{
    ReaderOutput refused;
    if (!checkedFile(path, &refused.error))
        return refused;
    return RunReader(request, NotAccessMessage(path), accessLimits(path));
}

ReaderOutput readSheet(const QStringList& request, const QString& path)
{
    ReaderOutput refused;
    if (!checkedFile(path, &refused.error))
        return refused;
    return RunReader(request, NotWorkbookMessage(path), sheetLimits());
}

bool readFile(const QString& path, QByteArray* content, QString* error)
{
    QFile f(path);
    if (!QFileInfo(path).isFile()) {
        *error = NotFoundMessage(path);
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("The file '%1' could not be opened: %2").arg(path, f.errorString());
        return false;
    }
    *content = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("The file '%1' could not be read: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace

// ---- Text files

QStringList TextSeparators()
{
    return {QStringLiteral(","), QStringLiteral(";"), QStringLiteral("~"), QStringLiteral("^"), QStringLiteral(":")};
}

QStringList ExtractNumbers(const QByteArray& content, const QString& separator)
{
    const QString text = DecodeText(content);
    QStringList entries;
    const QString sep = Trim(separator);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (i == lines.size() - 1 && line.isEmpty())
            break; // the text ended with a line end
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QStringList parts = sep.isEmpty() ? QStringList{line} : line.split(sep);
        for (const QString& part : parts) {
            const QString entry = Trim(part);
            if (!entry.isEmpty())
                entries << entry;
        }
    }
    return entries;
}

NumberRows ReadTextFileNumbers(const QString& path, const QString& separator)
{
    NumberRows out;
    QByteArray content;
    if (!readFile(Trim(path), &content, &out.error))
        return out;
    const QStringList entries = ExtractNumbers(content, separator);
    out.rows.reserve(size_t(entries.size()));
    for (const QString& e : entries)
        out.rows.push_back({e, QString(), {}});
    return out;
}

bool HoldsOneNumberPerLine(const QString& path)
{
    QByteArray content;
    QString error;
    if (!readFile(Trim(path), &content, &error))
        return false;
    const QStringList separators = TextSeparators();
    for (const QString& entry : ExtractNumbers(content, QString()))
        for (const QString& s : separators)
            if (entry.contains(s))
                return false;
    return true;
}

// ---- Access database files

NameList AccessTables(const QString& path)
{
    const ReaderOutput r = readAccess({QStringLiteral("access-tables"), path}, path);
    return {r.names, r.error};
}

NameList AccessColumns(const QString& path, const QString& table)
{
    const ReaderOutput r = readAccess({QStringLiteral("access-columns"), path, table}, path);
    return {r.names, r.error};
}

namespace {

QStringList accessRowsRequest(const QString& path, const QString& table, const QString& numbersColumn,
                              const QString& messageColumn)
{
    QStringList request{QStringLiteral("access-table"), path, table, numbersColumn};
    if (!messageColumn.isEmpty())
        request << messageColumn;
    return request;
}

// The reader's whole rows as the wizard keeps them: the cells moved, not copied (a list can have a hundred
// thousand rows), nulls as empty texts, the number and message columns found by the rule the reader used
// to check that they exist. keep() says whether a row with that number cell is listed at all.
NumberRows wholeRowsOf(ReaderOutput&& r, const QString& numbersColumn, const QString& messageColumn,
                       const std::function<bool(const SourceValue&)>& keep)
{
    NumberRows out;
    out.error = std::move(r.error);
    const int number = FindColumn(r.names, numbersColumn);
    const int message = messageColumn.isEmpty() ? -1 : FindColumn(r.names, messageColumn);
    if (number < 0) {
        if (out.error.isEmpty() && !r.rows.empty())
            out.error = QStringLiteral("The column '%1' was not found.").arg(numbersColumn);
        return out;
    }
    out.headers = std::move(r.names);
    out.rows.reserve(r.rows.size());
    for (auto& rec : r.rows) {
        if (size_t(number) >= rec.size() || !keep(rec[size_t(number)]))
            continue;
        NumberRow row;
        row.cells.reserve(qsizetype(rec.size()));
        for (SourceValue& v : rec)
            row.cells << (v ? std::move(*v) : QString());
        row.number = Trim(row.cells.at(number));
        if (message >= 0 && message < row.cells.size())
            row.message = Trim(row.cells.at(message));
        out.rows.push_back(std::move(row));
        rec = {};
    }
    return out;
}

NumberRows accessRowsOf(ReaderOutput&& r, const QString& numbersColumn, const QString& messageColumn)
{
    return wholeRowsOf(std::move(r), numbersColumn, messageColumn,
                       [](const SourceValue& v) { return !Trim(v.value_or(QString())).isEmpty(); });
}

} // namespace

NumberRows ReadAccessTable(const QString& path, const QString& table, const QString& numbersColumn,
                           const QString& messageColumn)
{
    return accessRowsOf(readAccess(accessRowsRequest(path, table, numbersColumn, messageColumn), path), numbersColumn,
                        messageColumn);
}

// ---- Excel workbooks and CSV files

NameList ExcelSheets(const QString& path)
{
    const ReaderOutput r = readSheet({QStringLiteral("sheets"), path}, path);
    return {r.names, r.error};
}

NameList ExcelColumns(const QString& path, const QString& sheet)
{
    const ReaderOutput r = readSheet({QStringLiteral("sheet-columns"), path, sheet}, path);
    return {r.names, r.error};
}

SheetRecords ExcelRecords(const QString& path, const QString& sheet, const QStringList& columns, int maxRecords)
{
    ReaderOutput r = readSheet(
        QStringList{QStringLiteral("sheet-records"), path, sheet, QString::number(maxRecords)} + columns, path);
    return {std::move(r.rows), r.error};
}

namespace {

QStringList sheetRowsRequest(const QString& path, const QString& sheet, const QString& numbersColumn,
                             const QString& messageColumn)
{
    QStringList request{QStringLiteral("sheet-table"), path, sheet, numbersColumn};
    if (!messageColumn.isEmpty())
        request << messageColumn;
    return request;
}

NumberRows sheetRowsOf(ReaderOutput&& r, const QString& numbersColumn, const QString& messageColumn)
{
    return wholeRowsOf(std::move(r), numbersColumn, messageColumn,
                       [](const SourceValue& v) { return v && !v->isEmpty(); });
}

} // namespace

NumberRows ReadExcelSheet(const QString& path, const QString& sheet, const QString& numbersColumn,
                          const QString& messageColumn)
{
    return sheetRowsOf(readSheet(sheetRowsRequest(path, sheet, numbersColumn, messageColumn), path), numbersColumn,
                       messageColumn);
}

// ---- Reading the rows without waiting

void NumberRowsReading::start()
{
    if (!run) {
        ReaderOutput refused;
        refused.error = refusal;
        Q_EMIT finished(rowsOf(std::move(refused)));
        return;
    }
    connect(run, &ReaderRun::rowsRead, this, &NumberRowsReading::rowsRead);
    connect(run, &ReaderRun::finished, this, [this] { Q_EMIT finished(rowsOf(run->takeOutput())); });
    run->start();
}

void NumberRowsReading::cancel(const QString& cancelledText)
{
    if (run)
        run->cancel(cancelledText);
}

NumberRowsReading* StartReadingAccessTable(const QString& path, const QString& table, const QString& numbersColumn,
                                           const QString& messageColumn, QObject* parent)
{
    auto* reading = new NumberRowsReading(parent);
    reading->rowsOf = [numbersColumn, messageColumn](ReaderOutput&& r) {
        return accessRowsOf(std::move(r), numbersColumn, messageColumn);
    };
    if (checkedFile(path, &reading->refusal))
        reading->run = StartReader(accessRowsRequest(path, table, numbersColumn, messageColumn), NotAccessMessage(path),
                                   accessLimits(path), reading);
    return reading;
}

NumberRowsReading* StartReadingExcelSheet(const QString& path, const QString& sheet, const QString& numbersColumn,
                                          const QString& messageColumn, QObject* parent)
{
    auto* reading = new NumberRowsReading(parent);
    reading->rowsOf = [numbersColumn, messageColumn](ReaderOutput&& r) {
        return sheetRowsOf(std::move(r), numbersColumn, messageColumn);
    };
    if (checkedFile(path, &reading->refusal))
        reading->run = StartReader(sheetRowsRequest(path, sheet, numbersColumn, messageColumn),
                                   NotWorkbookMessage(path), sheetLimits(), reading);
    return reading;
}
