#include "store/Connection.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "common/Seams.h"
#include "store/Database.h"

QString DatabaseFilePath(const AppState& state)
{
    return state.dataDir + QStringLiteral("/Broadtext.db");
}

QString ConnectionErrorText(const QString& description)
{
    return QStringLiteral("Following error occur while connecting with database\r\n\r\nError: ") + description +
           QStringLiteral("\r\n\r\nTo overcome this error please set proper data base for your application.");
}

void ConnectDatabase(AppState& state, Database& db)
{
    QString error;
    try {
        if (!EnsureDataDirectory(state.dataDir, &error))
            throw DbError(error);
        db.open(DatabaseFilePath(state));
        state.DatabaseConnected = true;
    } catch (const DbError& e) {
        state.DatabaseConnected = false;
        if (state.dialogs)
            state.dialogs->message(ConnectionErrorText(e.description()));
    }
}

QStringList ResetSendingStatus(Database& db)
{
    QStringList recipients;
    {
        Query q(db, QStringLiteral("SELECT RecipientMobileNo FROM Message_OutBox WHERE DeliveryStatus = 'SENDING' "
                                   "ORDER BY Outbox_Id"));
        while (q.next())
            recipients << q.value(0).toString();
    }
    if (!recipients.isEmpty())
        db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '' WHERE DeliveryStatus = 'SENDING'"));
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
