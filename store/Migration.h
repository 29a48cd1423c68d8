// Moving a message base from the data folder's SQLite file to a PostgreSQL server that several computers share
// (broadtext --migrate-to URI). The file is only read: it stays as it was, to go back to or to keep.
#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <utility>

struct AppState;

// Copies every row of the data folder's message file into the empty message base at the postgresql:// URI (its
// tables are made when missing), in one transaction: ids kept, the next ids drawn past them, this computer's
// modems in its own schema and the modem ids in the shared rows turned into its modem keys, hand-overs as they
// were (none made for the copied rows). Then compares the row count of every table and, when all agree, points
// broadtext.conf at the URI. progress gets one line per step. Gives each table with its row count. Throws DbError
// when it refuses (no file, a file of a newer program, a password in the URI, a server it cannot reach, a message
// table already holding rows) or fails; nothing is then left written, on the server or in broadtext.conf.
QList<std::pair<QString, qint64>> MigrateToServer(const AppState& state, const QString& uri,
                                                  const std::function<void(const QString&)>& progress = {});
