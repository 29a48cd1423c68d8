// broadtext-cli's commands, for scripts and other programs: queue messages in the Outbox the desktop program
// (or the service) delivers, and read the Inbox, the Outbox, a message's status and the opt-out list.
//
//   send NUMBER... --text TEXT|--file F [--at TIME] [--modem NAME] [--skip-opted-out]
//   queue FILE.csv [--skip-opted-out]          columns number,text (send_at optional), with a header
//   status [ID] [--json]                        one queued message, or the counts per folder and status
//   inbox [--unread] [--since TIME] [--json]
//   outbox [--json]
//   optout add|remove NUMBER | optout list [--json]
//   global: --database PATH (default: the program's), --wait SECONDS (for a database another program holds)
//
// Every command is one transaction: what it was asked to write is written whole or not at all, and input is
// checked before anything is. Refusals are one line on the error stream; the exit code tells a script why.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

class QTextStream;

namespace CliExit {
constexpr int Ok = 0;
constexpr int Failed = 1; // the database failed, or something else outside the input
constexpr int Usage = 2;  // bad arguments or bad input: nothing was written
constexpr int Busy = 3;   // another program held the database longer than the wait: nothing was written
} // namespace CliExit

// How long a command waits for a database another program holds, when --wait does not say.
constexpr int DefaultWaitSeconds = 5;

// Runs one command (arguments without the program's name); writes results to out, refusals to err; gives the
// exit code.
int RunCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err);

// A time as the command line takes it: ISO 8601 in local time ("2026-12-24 09:00", "2026-12-24T09:00:30") or
// with an offset ("2026-12-24T09:00+01:00", "...Z"). Invalid when it is none of these.
QDateTime ParseCliTime(const QString& text);
