// Office Open XML workbooks (.xlsx): the zip container with libzip, the XML parts with SourceFormats.
#include "compose/SourceFormats.h"
#include "compose/reader/Workbook.h"

#include <QDir>
#include <QFile>

#include <zip.h>

namespace {

// Limits on what one part may inflate to. Far more than a worksheet of 1 048 576 rows needs; the reader
// stops there rather than filling the memory with a damaged or hostile file.
constexpr zip_uint64_t MaxPartSize = zip_uint64_t(256) << 20;
constexpr zip_uint64_t MaxSheetSize = zip_uint64_t(1) << 30;
// Spreadsheet XML deflates to a tenth or a twentieth of its size; a large part that claims to have
// shrunk by more than this is a zip bomb.
constexpr zip_uint64_t MaxRatio = 500;
constexpr zip_uint64_t RatioCheckFrom = zip_uint64_t(16) << 20;
constexpr zip_uint64_t PieceSize = 64 * 1024;

// One part of the zip, read in pieces, never beyond the size its directory entry gives.
class ZipPart {
public:
    ZipPart(zip_t* zip, const QString& name, zip_uint64_t maxSize)
    {
        const zip_int64_t index = zip_name_locate(zip, name.toUtf8().constData(), ZIP_FL_NOCASE);
        zip_stat_t st;
        zip_stat_init(&st);
        if (index < 0 || zip_stat_index(zip, zip_uint64_t(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            return;
        if (st.size > maxSize)
            return;
        if ((st.valid & ZIP_STAT_COMP_SIZE) && st.size > RatioCheckFrom &&
            st.size / std::max<zip_uint64_t>(st.comp_size, 1) > MaxRatio)
            return;
        size = st.size;
        file = zip_fopen_index(zip, zip_uint64_t(index), 0);
    }
    ~ZipPart()
    {
        if (file)
            zip_fclose(file);
    }
    ZipPart(const ZipPart&) = delete;
    ZipPart& operator=(const ZipPart&) = delete;

    bool ok() const { return file != nullptr; }
    bool read(QByteArray& piece)
    {
        piece.resize(qsizetype(PieceSize));
        const zip_int64_t n = zip_fread(file, piece.data(), PieceSize);
        if (n < 0)
            return false;
        piece.resize(qsizetype(n));
        done += zip_uint64_t(n);
        return done <= size && (n > 0 || done == size);
    }

private:
    zip_file_t* file = nullptr;
    zip_uint64_t size = 0;
    zip_uint64_t done = 0;
};

bool endsWithType(const XlsxRelationship& r, const char* kind)
{
    return r.type.endsWith(QLatin1Char('/') + QLatin1String(kind));
}

// The part a relationship's target names, from the folder of the part that holds the relationship; empty
// when it leads out of the package.
QString resolvedPart(const QString& folder, const QString& target)
{
    if (target.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(target.mid(1));
    const QString part = QDir::cleanPath(folder.isEmpty() ? target : folder + QLatin1Char('/') + target);
    return part.startsWith(QLatin1String("..")) ? QString() : part;
}

QString folderOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

// Where the relationships of a part are kept: xl/workbook.xml -> xl/_rels/workbook.xml.rels.
QString relationshipsOf(const QString& part)
{
    const QString folder = folderOf(part);
    const QString name = part.mid(folder.isEmpty() ? 0 : folder.size() + 1);
    return (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) + QStringLiteral("_rels/") + name +
           QStringLiteral(".rels");
}

class XlsxWorkbook : public Workbook {
public:
    explicit XlsxWorkbook(const QString& path)
    {
        int error = 0;
        zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    }
    ~XlsxWorkbook() override
    {
        if (zip)
            zip_discard(zip);
    }

    bool sheetNames(QStringList& names, QString&) override
    {
        if (!load())
            return false;
        for (const Sheet& s : sheets)
            names << s.name;
        return true;
    }

    bool readRows(int sheet, int* declaredColumns, const RowVisitor& visit) override
    {
        if (!load() || sheet < 0 || sheet >= int(sheets.size()))
            return false;
        QStringList shared;
        if (!sharedStringsPart.isEmpty() && !parse(sharedStringsPart, MaxPartSize, [&](const PartPieces& p) {
                return ParseXlsxSharedStrings(p, shared);
            }))
            return false;
        return parse(sheets[size_t(sheet)].part, MaxSheetSize,
                     [&](const PartPieces& p) { return ReadXlsxWorksheet(p, shared, declaredColumns, visit); });
    }

private:
    struct Sheet {
        QString name;
        QString part;
    };

    bool parse(const QString& name, zip_uint64_t maxSize, const std::function<bool(const PartPieces&)>& parser)
    {
        ZipPart part(zip, name, maxSize);
        return part.ok() && parser([&](QByteArray& piece) { return part.read(piece); });
    }

    // The worksheets and the shared strings, found through the package's and the workbook's relationships.
    bool load()
    {
        if (loaded)
            return !sheets.empty();
        loaded = true;
        std::vector<XlsxRelationship> package, workbook;
        if (!zip || !parse(QStringLiteral("_rels/.rels"), MaxPartSize,
                           [&](const PartPieces& p) { return ParseXlsxRelationships(p, package); }))
            return false;
        QString workbookPart;
        for (const XlsxRelationship& r : package)
            if (endsWithType(r, "officeDocument"))
                workbookPart = resolvedPart(QString(), r.target);
        std::vector<XlsxSheetEntry> entries;
        if (workbookPart.isEmpty() ||
            !parse(relationshipsOf(workbookPart), MaxPartSize,
                   [&](const PartPieces& p) { return ParseXlsxRelationships(p, workbook); }) ||
            !parse(workbookPart, MaxPartSize, [&](const PartPieces& p) { return ParseXlsxWorkbook(p, entries); }))
            return false;
        const QString folder = folderOf(workbookPart);
        for (const XlsxRelationship& r : workbook)
            if (endsWithType(r, "sharedStrings"))
                sharedStringsPart = resolvedPart(folder, r.target);
        // Chart sheets and dialog sheets hold no cells and are not offered.
        for (const XlsxSheetEntry& e : entries)
            for (const XlsxRelationship& r : workbook)
                if (r.id == e.relationshipId && endsWithType(r, "worksheet"))
                    sheets.push_back({e.name, resolvedPart(folder, r.target)});
        return !sheets.empty();
    }

    zip_t* zip = nullptr;
    bool loaded = false;
    std::vector<Sheet> sheets;
    QString sharedStringsPart;
};

} // namespace

std::unique_ptr<Workbook> OpenXlsxWorkbook(const QString& path)
{
    return std::make_unique<XlsxWorkbook>(path);
}
