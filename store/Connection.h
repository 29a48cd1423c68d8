// Opening the message database at start-up, and the one maintenance routine run when connecting.
#pragma once

#include <QString>

struct AppState;
class Database;

// The message database file in the data folder.
QString DatabaseFilePath(const AppState& state);

// Opens (or creates) the message database. On failure DatabaseConnected is false and the connection
// error box is shown.
void ConnectDatabase(AppState& state, Database& db);

// The text of the connection error box for a provider error description.
QString ConnectionErrorText(const QString& description);

// Returns Outbox rows left 'SENDING' by an interrupted delivery run to waiting. Throws DbError.
void ResetSendingStatus(Database& db);
