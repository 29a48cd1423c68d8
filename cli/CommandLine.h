// broadtext-cli's commands, for scripts and other programs: queue messages in the Outbox the desktop program
// (or the service) delivers, and read the Inbox, the Outbox, a message's status and the opt-out list.
//
//   send NUMBER... --text TEXT|--file F [--at TIME] [--modem NAME] [--skip-opted-out]
//   queue FILE.csv [--campaign NAME] [--skip-opted-out]
//                                               columns number,text (send_at optional), with a header; one
//                                               campaign, named after the file unless NAME is given
//   status [ID] [--json]                        one queued message, or the counts per folder and status
//   inbox [--unread] [--since TIME] [--json]
//   outbox [--json]
//   optout add|remove NUMBER | optout list [--json]
//   global: --database PATH (default: the program's), --wait SECONDS (for a database another program holds)
//
// Every command is one transaction: what it was asked to write is written whole or not at all, and input is
// checked before anything is. A queue of more than QueueSlice rows is the one exception: it is written a slice
// per transaction, so that the running program's own writes never wait long, as a campaign that is loading and
// that nothing sends from; it runs once every row is in, and is removed if the command fails or is killed. Refusals are
// one line on the error stream; the exit code tells a script why.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstddef>

class QTextStream;

namespace CliExit {
constexpr int Ok = 0;
constexpr int Failed = 1; // the database failed, or something else outside the input
constexpr int Usage = 2;  // bad arguments or bad input: nothing was written
constexpr int Busy = 3;   // another program held the database longer than the wait: nothing was written
} // namespace CliExit

// How long a command waits for a database another program holds, when --wait does not say.
constexpr int DefaultWaitSeconds = 5;

// Rows a queue writes per transaction: each well under a second, with the Outbox's search index kept up.
constexpr size_t QueueSlice = 2000;
// The pause after each slice, in which the running program's writers take their turn.
constexpr int QueueSlicePauseMs = 110;

// Runs one command (arguments without the program's name); writes results to out, refusals to err; gives the
// exit code.
int RunCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err);

// A time as the command line takes it: ISO 8601 in local time ("2026-12-24 09:00", "2026-12-24T09:00:30") or
// with an offset ("2026-12-24T09:00+01:00", "...Z"). Invalid when it is none of these.
QDateTime ParseCliTime(const QString& text);
