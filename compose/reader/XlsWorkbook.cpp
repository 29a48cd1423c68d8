// Excel 97-2003 workbooks (.xls), with FreeXL.
#include "compose/SourceFormats.h"
#include "compose/reader/Workbook.h"

#include <QFile>

#include <freexl.h>

namespace {

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

class XlsWorkbook : public Workbook {
public:
    explicit XlsWorkbook(const QString& path) : path(path)
    {
        // freexl_open can succeed with a null handle, and fail with one that must still be closed.
        rc = freexl_open(QFile::encodeName(path).constData(), &handle);
    }
    ~XlsWorkbook() override
    {
        if (handle)
            freexl_close(handle);
    }

    bool sheetNames(QStringList& names, QString& error) override
    {
        unsigned int count = 0;
        if (rc != FREEXL_OK || !handle || freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK)
            return false;
        unsigned int protection = 0;
        if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &protection) == FREEXL_OK &&
            protection == FREEXL_BIFF_OBFUSCATED) {
            error = QStringLiteral("The workbook '%1' is protected by a password.").arg(path);
            return false;
        }
        for (unsigned int i = 0; i < count && i <= 0xffff; ++i) {
            const char* name = nullptr;
            if (freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name) == FREEXL_OK && name)
                names << QString::fromUtf8(name);
            else
                names << QString(); // keeps the positions of the sheets after it
        }
        return true;
    }

    bool readRows(int sheet, int* declaredColumns, const RowVisitor& visit) override
    {
        unsigned int rows = 0;
        unsigned short cols = 0;
        if (freexl_select_active_worksheet(handle, static_cast<unsigned short>(sheet)) != FREEXL_OK ||
            freexl_worksheet_dimensions(handle, &rows, &cols) != FREEXL_OK)
            return false;
        *declaredColumns = cols;
        std::vector<SourceValue> values(cols);
        for (unsigned int r = 0; r < rows; ++r) {
            for (unsigned short c = 0; c < cols; ++c)
                values[c] = cellValue(handle, r, c);
            if (!visit(r, values))
                break;
        }
        return true;
    }

private:
    QString path;
    const void* handle = nullptr;
    int rc = FREEXL_OK;
};

} // namespace

std::unique_ptr<Workbook> OpenXlsWorkbook(const QString& path)
{
    return std::make_unique<XlsWorkbook>(path);
}
