// Writing a list the user asked to export to a CSV file, and telling how it went.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class Dialogs;

// Writes the header and each row `next` gives to path, then says how many were written or why the file could
// not be written; a database error while reading the rows is shown too.
void ExportToCsv(Dialogs& dialogs, const QString& path, const QStringList& header,
                 const std::function<bool(QStringList& row)>& next);
