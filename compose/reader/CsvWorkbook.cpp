// CSV files as a workbook of one sheet named after the file.
#include "compose/SourceFormats.h"
#include "compose/reader/Workbook.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Larger than any worksheet a spreadsheet program would make of it.
constexpr qint64 MaxFileSize = qint64(1) << 30;

class CsvWorkbook : public Workbook {
public:
    explicit CsvWorkbook(const QString& path) : path(path) {}

    bool sheetNames(QStringList& names, QString&) override
    {
        if (!load())
            return false;
        names << QFileInfo(path).completeBaseName();
        return true;
    }

    bool readRows(int sheet, int* declaredColumns, const RowVisitor& visit) override
    {
        if (sheet != 0 || !load())
            return false;
        *declaredColumns = 0;
        for (const auto& record : records)
            *declaredColumns = std::max(*declaredColumns, int(record.size()));
        for (size_t r = 0; r < records.size(); ++r)
            if (!visit(qint64(r), records[r]))
                break;
        return true;
    }

private:
    bool load()
    {
        if (loaded)
            return readable;
        loaded = true;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || f.size() > MaxFileSize)
            return false;
        const QString text = DecodeText(f.readAll());
        // A text file holds no NUL characters; this is some other kind of file with a .csv name.
        if (f.error() != QFileDevice::NoError || text.contains(QChar(0)))
            return false;
        records = ParseCsv(text, DetectCsvDelimiter(text));
        readable = true;
        return true;
    }

    QString path;
    bool loaded = false;
    bool readable = false;
    std::vector<std::vector<SourceValue>> records;
};

} // namespace

std::unique_ptr<Workbook> OpenCsvWorkbook(const QString& path)
{
    return std::make_unique<CsvWorkbook>(path);
}
