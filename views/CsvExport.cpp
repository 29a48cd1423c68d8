#include "views/CsvExport.h"

#include "common/Csv.h"
#include "common/Seams.h"
#include "store/Database.h"

#include <QDir>

void ExportToCsv(Dialogs& dialogs, const QString& path, const QStringList& header,
                 const std::function<bool(QStringList& row)>& next)
{
    try {
        const CsvFileResult done = WriteCsvFile(path, header, next);
        if (!done.error.isEmpty())
            dialogs.message(QStringLiteral("The messages could not be exported to %1: %2")
                                .arg(QDir::toNativeSeparators(path), done.error));
        else
            dialogs.message(
                QStringLiteral("%1 messages exported to %2.").arg(done.rows).arg(QDir::toNativeSeparators(path)));
    } catch (const DbError& e) {
        dialogs.message(e.description());
    }
}
