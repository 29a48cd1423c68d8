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

void ResetSendingStatus(Database& db)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '' WHERE DeliveryStatus = 'SENDING'"));
}
