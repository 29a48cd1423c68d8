// Opening the message database at start-up, and the one maintenance routine run when connecting.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct AppState;
class Database;

// The message database file in the data folder.
QString DatabaseFilePath(const AppState& state);

// Opens (or creates) the message database. On failure DatabaseConnected is false and the connection
// error box is shown.
void ConnectDatabase(AppState& state, Database& db);

// The text of the connection error box for a provider error description.
QString ConnectionErrorText(const QString& description);

// Returns Outbox rows left 'SENDING' by an interrupted delivery run to waiting, and gives their recipients.
// Throws DbError.
QStringList ResetSendingStatus(Database& db);
// Makes FAILED Outbox rows among the given ones wait again, with their attempts forgotten; gives how many.
// Throws DbError.
int RetryFailedOutboxRows(Database& db, const QList<qint64>& ids);
