#include "compose/NumberSources.h"

#include "common/FunctionsLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <functional>

// glib first: mdbtools.h wraps its own glib include in extern "C", which glib's C++ parts refuse.
#include <glib.h>

#include <freexl.h>
#include <iconv.h>
#include <mdbtools.h>

namespace {

QString notFound(const QString& path)
{
    return QStringLiteral("Could not find file '%1'.").arg(path);
}

// ---- Access

QString notAccess(const QString& path)
{
    return QStringLiteral("The file '%1' is not an Access database or it is damaged.").arg(path);
}

// A Jet or ACE database starts with a zero byte and names its format at offset 4.
bool looksLikeAccess(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(4096);
    if (head.size() < 4096 || head.at(0) != 0)
        return false;
    const QByteArray kind = head.mid(4, 15);
    return kind == "Standard Jet DB" || kind == "Standard ACE DB";
}

// An upper bound of the rows a file of this size can hold; a reader producing more is looping.
ReaderLimits accessLimits(const QString& path)
{
    ReaderLimits l;
    l.maxRows = QFileInfo(path).size() + 1000;
    return l;
}

// libmdb converts texts with iconv, which loads its converters on first use. Loading them here, in this
// process, spares the reader process a library load right after fork.
void loadTextConverters()
{
    static const bool loaded = [] {
        for (const char* from : {"UCS-2LE", "CP1252"}) {
            const iconv_t cd = iconv_open("UTF-8", from);
            if (cd != iconv_t(-1))
                iconv_close(cd);
        }
        return true;
    }();
    Q_UNUSED(loaded);
}

struct AccessFile {
    MdbHandle* mdb = nullptr;
    explicit AccessFile(const QString& path)
    {
        mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
        if (mdb) {
            // Memo values are cut at the bind size; dates get four-digit years.
            mdb_set_bind_size(mdb, 1 << 20);
            mdb_set_date_fmt(mdb, "%Y-%m-%d %H:%M:%S");
        }
    }
    ~AccessFile()
    {
        if (mdb)
            mdb_close(mdb);
    }
};

bool isUserTable(MdbCatalogEntry* entry)
{
    if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry))
        return false;
    const QString name = QString::fromUtf8(entry->object_name);
    // Access keeps its own bookkeeping in MSys tables and temporary work in "~" tables.
    return !name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive) && !name.startsWith(QLatin1Char('~'));
}

// The user tables of the file; false when the catalog cannot be read (every database lists at least its
// own MSysObjects table, so an empty catalog means a damaged file).
bool userTables(MdbHandle* mdb, std::vector<MdbCatalogEntry*>& out)
{
    if (!mdb_read_catalog(mdb, MDB_TABLE) || mdb->num_catalog == 0)
        return false;
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry && isUserTable(entry))
            out.push_back(entry);
    }
    return true;
}

QStringList columnNames(MdbTableDef* table)
{
    QStringList names;
    for (unsigned int i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        names << QString::fromUtf8(col->name);
    }
    return names;
}

struct AccessTable {
    MdbTableDef* def = nullptr;
    ~AccessTable()
    {
        if (def)
            mdb_free_tabledef(def);
    }
};

// Opens the named table of the file; reports a failure through the sink and returns false.
bool openTable(ReaderSink& sink, AccessFile& file, const QString& path, const QString& table, AccessTable& out)
{
    if (!file.mdb) {
        sink.error(notAccess(path));
        return false;
    }
    QStringList names;
    std::vector<MdbCatalogEntry*> tables;
    if (!userTables(file.mdb, tables)) {
        sink.error(notAccess(path));
        return false;
    }
    for (MdbCatalogEntry* e : tables)
        names << QString::fromUtf8(e->object_name);
    const int index = FindColumn(names, table);
    if (index < 0) {
        sink.error(QStringLiteral("The table '%1' was not found in '%2'.").arg(table, path));
        return false;
    }
    out.def = mdb_read_table(tables[size_t(index)]);
    if (!out.def || !mdb_read_columns(out.def)) {
        sink.error(notAccess(path));
        return false;
    }
    return true;
}

// Reads the named columns of every row; null and empty values both arrive as empty texts.
void readAccessRows(ReaderSink& sink, const QString& path, const QString& table, const QStringList& wanted)
{
    AccessFile file(path);
    AccessTable t;
    if (!openTable(sink, file, path, table, t))
        return;
    const QStringList names = columnNames(t.def);
    const size_t bindSize = (1 << 20) + 1;
    std::vector<std::vector<char>> buffers(size_t(wanted.size()), std::vector<char>(bindSize));
    std::vector<int> lengths(size_t(wanted.size()), 0);
    std::vector<int> types(size_t(wanted.size()), 0);
    for (qsizetype w = 0; w < wanted.size(); ++w) {
        const int index = FindColumn(names, wanted.at(w));
        if (index < 0) {
            sink.error(QStringLiteral("The table '%1' has no column named '%2'.").arg(table, wanted.at(w)));
            return;
        }
        types[size_t(w)] = static_cast<MdbColumn*>(g_ptr_array_index(t.def->columns, guint(index)))->col_type;
        mdb_bind_column(t.def, index + 1, buffers[size_t(w)].data(), &lengths[size_t(w)]);
    }
    mdb_rewind_table(t.def);
    std::vector<SourceValue> row(size_t(wanted.size()));
    while (mdb_fetch_row(t.def)) {
        for (size_t w = 0; w < row.size(); ++w) {
            const int len = std::clamp(lengths[w], 0, int(bindSize) - 1);
            QString text = QString::fromUtf8(buffers[w].data(), len);
            if ((types[w] == MDB_DOUBLE || types[w] == MDB_FLOAT) && !text.isEmpty()) {
                bool ok = false;
                const double v = text.toDouble(&ok);
                if (ok)
                    text = GeneralNumber(v);
            }
            row[w] = text;
        }
        sink.row(row);
    }
}

// ---- Excel

QString notWorkbook(const QString& path)
{
    return QStringLiteral("The file '%1' is not an Excel 97-2003 workbook or it is damaged.").arg(path);
}

ReaderLimits excelLimits()
{
    ReaderLimits l;
    l.maxRows = 1 << 20;
    return l;
}

struct XlsFile {
    const void* handle = nullptr;
    int rc = FREEXL_OK;
    explicit XlsFile(const QString& path) { rc = freexl_open(QFile::encodeName(path).constData(), &handle); }
    ~XlsFile()
    {
        if (handle)
            freexl_close(handle);
    }
    bool ok() const { return rc == FREEXL_OK && handle; }
};

QString sheetDisplayName(const char* raw)
{
    QString n = QString::fromUtf8(raw);
    n.remove(QLatin1Char('$'));
    return Trim(n);
}

SourceValue cellValue(const void* h, unsigned int row, unsigned short col)
{
    FreeXL_CellValue v;
    if (freexl_get_cell_value(h, row, col, &v) != FREEXL_OK)
        return std::nullopt;
    switch (v.type) {
    case FREEXL_CELL_INT:
        return QString::number(v.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return GeneralNumber(v.value.double_value);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        return v.value.text_value ? QString::fromUtf8(v.value.text_value) : QString();
    default:
        return std::nullopt;
    }
}

// Opens the workbook and makes the named worksheet the active one; reports failures through the sink.
bool openSheet(ReaderSink& sink, XlsFile& file, const QString& path, const QString& sheet, unsigned int* rows,
               unsigned short* cols)
{
    if (!file.ok()) {
        sink.error(notWorkbook(path));
        return false;
    }
    unsigned int count = 0;
    if (freexl_get_info(file.handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) {
        sink.error(notWorkbook(path));
        return false;
    }
    const QString wanted = Trim(QString(sheet).remove(QLatin1Char('$')));
    for (unsigned int i = 0; i < count && i <= 0xffff; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(file.handle, static_cast<unsigned short>(i), &name) != FREEXL_OK || !name)
            continue;
        if (sheetDisplayName(name) != wanted)
            continue;
        if (freexl_select_active_worksheet(file.handle, static_cast<unsigned short>(i)) != FREEXL_OK ||
            freexl_worksheet_dimensions(file.handle, rows, cols) != FREEXL_OK) {
            sink.error(notWorkbook(path));
            return false;
        }
        return true;
    }
    sink.error(QStringLiteral("The worksheet '%1' was not found in '%2'.").arg(sheet, path));
    return false;
}

QStringList headerNames(const void* h, unsigned int rows, unsigned short cols)
{
    QStringList names;
    if (rows == 0)
        return names;
    for (unsigned short c = 0; c < cols; ++c) {
        const SourceValue v = cellValue(h, 0, c);
        names << (v && !v->isEmpty() ? *v : QStringLiteral("F") + QString::number(c + 1));
    }
    return names;
}

bool checkedFile(const QString& path, QString* error)
{
    if (!QFileInfo(path).isFile()) {
        *error = notFound(path);
        return false;
    }
    return true;
}

} // namespace

// ---- Shared rules

QString GeneralNumber(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15).toUpper();
}

int FindColumn(const QStringList& columns, const QString& name)
{
    const int exact = int(columns.indexOf(name));
    if (exact >= 0)
        return exact;
    const QString trimmed = Trim(name);
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (Trim(columns.at(i)) == trimmed)
            return int(i);
    return -1;
}

// ---- Text files

QStringList ExtractNumbers(const QByteArray& content, const QString& separator)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(content);
    if (utf8.hasError()) {
        QStringDecoder cp1252("windows-1252");
        text = cp1252.isValid() ? QString(cp1252.decode(content)) : QString::fromLatin1(content);
    }
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
    const QString file = Trim(path);
    QFile f(file);
    if (!QFileInfo(file).isFile()) {
        out.error = notFound(file);
        return out;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("The file '%1' could not be opened: %2").arg(file, f.errorString());
        return out;
    }
    const QByteArray content = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        out.error = QStringLiteral("The file '%1' could not be read: %2").arg(file, f.errorString());
        return out;
    }
    const QStringList entries = ExtractNumbers(content, separator);
    out.rows.reserve(size_t(entries.size()));
    for (const QString& e : entries)
        out.rows.push_back({e, QString()});
    return out;
}

// ---- Access database files

// Runs an Access reader in the child process after the checks every Access read shares.
ReaderOutput readAccess(const QString& path, const std::function<void(ReaderSink&)>& work)
{
    ReaderOutput refused;
    if (!checkedFile(path, &refused.error))
        return refused;
    if (!looksLikeAccess(path)) {
        refused.error = notAccess(path);
        return refused;
    }
    loadTextConverters();
    return RunReader(work, notAccess(path), accessLimits(path));
}

NameList AccessTables(const QString& path)
{
    const ReaderOutput r = readAccess(path, [&](ReaderSink& sink) {
        AccessFile file(path);
        if (!file.mdb) {
            sink.error(notAccess(path));
            return;
        }
        std::vector<MdbCatalogEntry*> tables;
        if (!userTables(file.mdb, tables)) {
            sink.error(notAccess(path));
            return;
        }
        for (MdbCatalogEntry* e : tables)
            sink.name(QString::fromUtf8(e->object_name));
    });
    return {r.names, r.error};
}

NameList AccessColumns(const QString& path, const QString& table)
{
    const ReaderOutput r = readAccess(path, [&](ReaderSink& sink) {
        AccessFile file(path);
        AccessTable t;
        if (!openTable(sink, file, path, table, t))
            return;
        for (const QString& n : columnNames(t.def))
            sink.name(n);
    });
    return {r.names, r.error};
}

NumberRows ReadAccessTable(const QString& path, const QString& table, const QString& numbersColumn,
                           const QString& messageColumn)
{
    NumberRows out;
    const bool separate = !messageColumn.isEmpty();
    QStringList wanted{numbersColumn};
    if (separate)
        wanted << messageColumn;
    const ReaderOutput r = readAccess(path, [&](ReaderSink& sink) { readAccessRows(sink, path, table, wanted); });
    out.rows.reserve(r.rows.size());
    for (const auto& row : r.rows) {
        const QString number = row.empty() ? QString() : Trim(row[0].value_or(QString()));
        if (number.isEmpty())
            continue;
        out.rows.push_back({number, separate && row.size() > 1 ? Trim(row[1].value_or(QString())) : QString()});
    }
    out.error = r.error;
    return out;
}

// ---- Excel workbooks

NameList ExcelSheets(const QString& path)
{
    NameList out;
    if (!checkedFile(path, &out.error))
        return out;
    const ReaderOutput r = RunReader(
        [&](ReaderSink& sink) {
            XlsFile file(path);
            unsigned int count = 0;
            if (!file.ok() || freexl_get_info(file.handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) {
                sink.error(notWorkbook(path));
                return;
            }
            unsigned int protection = 0;
            if (freexl_get_info(file.handle, FREEXL_BIFF_PASSWORD, &protection) == FREEXL_OK &&
                protection == FREEXL_BIFF_OBFUSCATED) {
                sink.error(QStringLiteral("The workbook '%1' is protected by a password.").arg(path));
                return;
            }
            for (unsigned int i = 0; i < count && i <= 0xffff; ++i) {
                const char* name = nullptr;
                if (freexl_get_worksheet_name(file.handle, static_cast<unsigned short>(i), &name) == FREEXL_OK && name)
                    sink.name(sheetDisplayName(name));
            }
        },
        notWorkbook(path), excelLimits());
    out.names = r.names;
    out.error = r.error;
    return out;
}

NameList ExcelColumns(const QString& path, const QString& sheet)
{
    NameList out;
    if (!checkedFile(path, &out.error))
        return out;
    const ReaderOutput r = RunReader(
        [&](ReaderSink& sink) {
            XlsFile file(path);
            unsigned int rows = 0;
            unsigned short cols = 0;
            if (!openSheet(sink, file, path, sheet, &rows, &cols))
                return;
            for (const QString& n : headerNames(file.handle, rows, cols))
                sink.name(n);
        },
        notWorkbook(path), excelLimits());
    out.names = r.names;
    out.error = r.error;
    return out;
}

SheetRecords ExcelRecords(const QString& path, const QString& sheet, const QStringList& columns, int maxRecords)
{
    SheetRecords out;
    if (!checkedFile(path, &out.error))
        return out;
    ReaderOutput r = RunReader(
        [&](ReaderSink& sink) {
            XlsFile file(path);
            unsigned int rows = 0;
            unsigned short cols = 0;
            if (!openSheet(sink, file, path, sheet, &rows, &cols))
                return;
            const QStringList names = headerNames(file.handle, rows, cols);
            std::vector<unsigned short> indexes;
            for (const QString& c : columns) {
                const int i = FindColumn(names, c);
                if (i < 0) {
                    sink.error(QStringLiteral("The worksheet '%1' has no column named '%2'.").arg(sheet, c));
                    return;
                }
                indexes.push_back(static_cast<unsigned short>(i));
            }
            std::vector<SourceValue> row(indexes.size());
            unsigned int last = rows;
            if (maxRecords >= 0)
                last = std::min<unsigned int>(rows, 1u + unsigned(maxRecords));
            for (unsigned int r = 1; r < last; ++r) {
                for (size_t k = 0; k < indexes.size(); ++k)
                    row[k] = cellValue(file.handle, r, indexes[k]);
                sink.row(row);
            }
        },
        notWorkbook(path), excelLimits());
    out.records = std::move(r.rows);
    out.error = r.error;
    return out;
}

NumberRows ReadExcelSheet(const QString& path, const QString& sheet, const QString& numbersColumn,
                          const QString& messageColumn)
{
    NumberRows out;
    const bool separate = !messageColumn.isEmpty();
    QStringList wanted{numbersColumn};
    if (separate)
        wanted << messageColumn;
    const SheetRecords r = ExcelRecords(path, sheet, wanted);
    out.rows.reserve(r.records.size());
    for (const auto& rec : r.records) {
        if (rec.empty() || !rec[0] || rec[0]->isEmpty())
            continue;
        out.rows.push_back({Trim(*rec[0]), separate && rec.size() > 1 ? Trim(rec[1].value_or(QString())) : QString()});
    }
    out.error = r.error;
    return out;
}
