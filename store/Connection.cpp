#include "store/Connection.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "common/Seams.h"
#include "store/Database.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <cerrno>
#include <cstring>
#include <unistd.h>

QString DatabaseFilePath(const AppState& state)
{
    return state.dataDir + QStringLiteral("/Broadtext.db");
}

QString DatabaseLocation(const AppState& state)
{
    const QSettings conf(PreferencesFilePath(state.dataDir), QSettings::IniFormat);
    Database::SetMachineName(conf.value(QStringLiteral("machine")).toString());
    const QString location = conf.value(QStringLiteral("database")).toString().trimmed();
    return location.isEmpty() ? DatabaseFilePath(state) : location;
}

QString DatabaseAccessProblem(const QString& filePath)
{
    const auto refused = [](const QString& path, int mode) -> QString {
        if (::access(QFile::encodeName(path).constData(), mode) == 0)
            return {};
        return QString::fromLocal8Bit(strerror(errno));
    };
    const QString folder = QFileInfo(filePath).absolutePath();
    if (const QString why = refused(folder, W_OK | X_OK); !why.isEmpty())
        return QStringLiteral("The folder %1 cannot be written: %2.").arg(folder, why);
    if (QFileInfo::exists(filePath))
        if (const QString why = refused(filePath, R_OK | W_OK); !why.isEmpty())
            return QStringLiteral("The file cannot be written: %1.").arg(why);
    return {};
}

QString ConnectionErrorText(const QString& description, const QString& filePath)
{
    QString text = QStringLiteral("Following error occur while connecting with database\r\n\r\nError: ") + description;
    if (!filePath.isEmpty()) {
        text += QStringLiteral("\r\n\r\nDatabase file: ") + filePath;
        if (const QString why = DatabaseAccessProblem(filePath); !why.isEmpty())
            text += QStringLiteral("\r\n") + why;
    }
    return text + QStringLiteral("\r\n\r\nTo overcome this error please set proper data base for your application.");
}

void ConnectDatabase(AppState& state, Database& db, QString* problem)
{
    QString error;
    const QString file = DatabaseLocation(state);
    const bool server = Database::IsServerLocation(file);
    try {
        if (!EnsureDataDirectory(state.dataDir, &error))
            throw DbError(error);
        db.open(file);
        if (server) {
            state.DatabaseConnected = true;
            return;
        }
        // SQLite opens a file it may not write read-only without a word; every later save would fail.
        if (!DatabaseAccessProblem(file).isEmpty()) {
            db.close();
            throw DbError(QStringLiteral("The database can be read but not written."));
        }
        state.DatabaseConnected = true;
    } catch (const DbError& e) {
        state.DatabaseConnected = false;
        const QString text =
            server ? ConnectionErrorText(e.description() + QStringLiteral("\r\n\r\nDatabase server: ") +
                                         Database::DisplayLocation(file))
                   : ConnectionErrorText(e.description(), file);
        if (problem)
            *problem = text;
        else if (state.dialogs)
            state.dialogs->message(text);
    }
}

QStringList ResetSendingStatus(Database& db, int modem, const QDateTime& now)
{
    // A row whose lease ran out was left by a modem that stopped without coming back.
    const QString rows = modem > 0
                             ? QStringLiteral("DeliveryStatus = 'SENDING' AND (ClaimedBy IS NULL OR ClaimedBy = ? OR "
                                              "(ClaimUntil IS NOT NULL AND ClaimUntil < ?))")
                             : QStringLiteral("DeliveryStatus = 'SENDING'");
    const QVariantList values =
        modem > 0 ? QVariantList{modem, now.isValid() ? QVariant(Database::DbTime(now)) : QVariant(QString())}
                  : QVariantList{};
    QStringList recipients;
    {
        Query q(db,
                QStringLiteral("SELECT RecipientMobileNo FROM Message_OutBox WHERE ") + rows +
                    QStringLiteral(" ORDER BY Outbox_Id"),
                values);
        while (q.next())
            recipients << q.value(0).toString();
    }
    if (!recipients.isEmpty())
        db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '' WHERE ") + rows, values);
    db.execute(QStringLiteral("UPDATE Message_OutBox SET ClaimedBy = NULL, ClaimUntil = NULL WHERE ") +
                   (modem > 0 ? QStringLiteral("ClaimedBy = ?") : QStringLiteral("ClaimedBy IS NOT NULL")),
               modem > 0 ? QVariantList{modem} : QVariantList{});
    return recipients;
}

int RetryFailedOutboxRows(Database& db, const QList<qint64>& ids)
{
    int n = 0;
    for (qint64 id : ids)
        n += db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', Attempts = 0, NextAttempt = "
                                       "NULL, LastError = NULL WHERE Outbox_Id = ? AND DeliveryStatus = 'FAILED' AND "
                                       "DeliveryDatetime IS NULL"),
                        {id});
    return n;
}
