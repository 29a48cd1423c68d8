// Opening the message database at start-up, and the one maintenance routine run when connecting.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>

struct AppState;
class Database;

// The message database file in the data folder.
QString DatabaseFilePath(const AppState& state);
// Where the message database is: the `database` choice of broadtext.conf (a postgresql:// URI of a server that
// several computers share) or, without one, the file in the data folder. Also names this computer to the
// database from the `machine` choice (the host name without one).
QString DatabaseLocation(const AppState& state);

// Opens (or creates) the message database; a database that opens but cannot be written counts as not
// opened. On failure DatabaseConnected is false and the connection error box is shown, or, with problem
// given, its text is put there for the caller to offer a way out.
void ConnectDatabase(AppState& state, Database& db, QString* problem = nullptr);

// The text of the connection error box: the provider's description, and with a file path the file and what
// the operating system says about reaching it.
QString ConnectionErrorText(const QString& description, const QString& filePath = {});

// Why the operating system would not let the program write the database file or its folder; empty when
// nothing stands in the way.
QString DatabaseAccessProblem(const QString& filePath);

// Returns Outbox rows left 'SENDING' by an interrupted delivery run to waiting, and gives their recipients; the
// claims of the modem that is (re)connecting end too, since it holds nothing it is working on. With a modem
// given, only its rows and those nobody holds: another modem's rows may be going out at this moment. Without
// one (a single modem), every row. Throws DbError.
QStringList ResetSendingStatus(Database& db, int modem = 0, const QDateTime& now = {});
// Returns to waiting the Outbox rows left 'SENDING' by a modem whose lease on them ran out: a modem that stopped
// without coming back, perhaps on another computer that died. Gives their recipients. Throws DbError.
QStringList TakeBackLapsedRows(Database& db, const QDateTime& now);

// How long a modem's claim on an Outbox row lasts before another modem, of this computer or another, may take it
// over: `leaseSeconds` in broadtext.conf (read once per data folder), 600 s without it, never under MinimumLease.
// It must outlast a submission with all its retries.
std::chrono::seconds OutboxLease(const AppState& state);
inline constexpr std::chrono::seconds MinimumLease{10};

// Makes FAILED Outbox rows among the given ones wait again, with their attempts forgotten; gives how many.
// Throws DbError.
int RetryFailedOutboxRows(Database& db, const QList<qint64>& ids);
