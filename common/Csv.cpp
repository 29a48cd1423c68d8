#include "common/Csv.h"

#include <QIODevice>
#include <QSaveFile>

#include <algorithm>

QString CsvField(const QString& value)
{
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (QChar c : value)
        if (special.contains(c)) {
            quote = true;
            break;
        }
    if (!quote)
        return value;
    QString s = value;
    s.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QByteArray CsvRecord(const QStringList& fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        line += CsvField(fields[i]);
    }
    line += QStringLiteral("\r\n");
    return line.toUtf8();
}

bool CsvWriter::writeRow(const QStringList& fields)
{
    const QByteArray record = CsvRecord(fields);
    if (device.write(record) != record.size())
        return false;
    ++rows;
    return true;
}

QString CsvWriter::errorString() const
{
    return device.errorString();
}

CsvFileResult WriteCsv(QIODevice& device, const QStringList& header, const std::function<bool(QStringList& row)>& next)
{
    CsvFileResult result;
    CsvWriter writer(device);
    QStringList row;
    bool ok = writer.writeRow(header);
    while (ok && next(row))
        ok = writer.writeRow(row);
    if (!ok)
        result.error = writer.errorString();
    result.rows = std::max<qint64>(writer.rowsWritten() - 1, 0);
    return result;
}

CsvFileResult WriteCsvFile(const QString& path, const QStringList& header,
                           const std::function<bool(QStringList& row)>& next)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {0, file.errorString()};
    CsvFileResult result = WriteCsv(file, header, next);
    if (result.error.isEmpty() && !file.commit())
        result.error = file.errorString();
    if (!result.error.isEmpty())
        result.rows = 0; // nothing of it was kept
    return result;
}
