// The reader program's Access requests, with libmdb.
#include "compose/SourceFormats.h"
#include "compose/reader/Requests.h"

#include <QFile>
#include <algorithm>

// glib first: mdbtools.h wraps its own glib include in extern "C", which glib's C++ parts refuse.
#include <glib.h>

#include <mdbtools.h>

namespace {

// A Jet or ACE database starts with a zero byte and names its format at offset 4; libmdb is not asked to
// open anything else.
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

struct AccessFile {
    MdbHandle* mdb = nullptr;
    explicit AccessFile(const QString& path)
    {
        if (!looksLikeAccess(path))
            return;
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
    std::vector<MdbCatalogEntry*> tables;
    if (!file.mdb || !userTables(file.mdb, tables)) {
        sink.error(NotAccessMessage(path));
        return false;
    }
    QStringList names;
    for (MdbCatalogEntry* e : tables)
        names << QString::fromUtf8(e->object_name);
    const int index = FindColumn(names, table);
    if (index < 0) {
        sink.error(QStringLiteral("The table '%1' was not found in '%2'.").arg(table, path));
        return false;
    }
    out.def = mdb_read_table(tables[size_t(index)]);
    if (!out.def || !mdb_read_columns(out.def)) {
        sink.error(NotAccessMessage(path));
        return false;
    }
    return true;
}

} // namespace

void ListAccessTables(ReaderSink& sink, const QString& path)
{
    AccessFile file(path);
    std::vector<MdbCatalogEntry*> tables;
    if (!file.mdb || !userTables(file.mdb, tables)) {
        sink.error(NotAccessMessage(path));
        return;
    }
    for (MdbCatalogEntry* e : tables)
        sink.name(QString::fromUtf8(e->object_name));
}

void ListAccessColumns(ReaderSink& sink, const QString& path, const QString& table)
{
    AccessFile file(path);
    AccessTable t;
    if (!openTable(sink, file, path, table, t))
        return;
    for (const QString& n : columnNames(t.def))
        sink.name(n);
}

void ReadAccessRows(ReaderSink& sink, const QString& path, const QString& table, const QStringList& columns,
                    bool wholeRows)
{
    AccessFile file(path);
    AccessTable t;
    if (!openTable(sink, file, path, table, t))
        return;
    const QStringList names = columnNames(t.def);
    std::vector<int> read; // the positions of the columns sent, in order
    for (const QString& c : columns) {
        const int index = FindColumn(names, c);
        if (index < 0) {
            sink.error(QStringLiteral("The table '%1' has no column named '%2'.").arg(table, c));
            return;
        }
        read.push_back(index);
    }
    if (wholeRows) {
        read.clear();
        for (qsizetype i = 0; i < names.size(); ++i) {
            read.push_back(int(i));
            sink.name(names.at(i));
        }
    }
    // Only memo and OLE values come near the bind size. Every other value lies within one data page (a text
    // column holds at most 255 characters), for which libmdb's own default bind size is ample: a whole row of
    // many columns then stays small.
    const size_t bindSize = (1 << 20) + 1;
    constexpr size_t ShortSize = MDB_BIND_SIZE + 1;
    std::vector<std::vector<char>> buffers(read.size());
    std::vector<int> lengths(read.size(), 0);
    std::vector<int> types(read.size(), 0);
    for (size_t w = 0; w < read.size(); ++w) {
        types[w] = static_cast<MdbColumn*>(g_ptr_array_index(t.def->columns, guint(read[w])))->col_type;
        buffers[w].resize(types[w] == MDB_MEMO || types[w] == MDB_OLE ? bindSize : ShortSize);
        mdb_bind_column(t.def, read[w] + 1, buffers[w].data(), &lengths[w]);
    }
    mdb_rewind_table(t.def);
    std::vector<SourceValue> row(read.size());
    while (mdb_fetch_row(t.def)) {
        for (size_t w = 0; w < row.size(); ++w) {
            const int len = std::clamp(lengths[w], 0, int(buffers[w].size()) - 1);
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
