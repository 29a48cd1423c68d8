// broadtext-reader: reads a number source file for the mass-send wizard in a process of its own, so that
// a damaged file that crashes, hangs or runs away with a reading library ends only this process. The
// request is on the command line; the records (ReaderRecords) go out on standard output.
//
//   broadtext-reader access-tables FILE
//   broadtext-reader access-columns FILE TABLE
//   broadtext-reader access-rows FILE TABLE COLUMN...
//   broadtext-reader access-table FILE TABLE COLUMN...       (every column, the COLUMNs must exist)
//   broadtext-reader sheets FILE
//   broadtext-reader sheet-columns FILE SHEET
//   broadtext-reader sheet-records FILE SHEET MAX-RECORDS COLUMN...
//   broadtext-reader sheet-table FILE SHEET COLUMN...        (every column, the COLUMNs must exist)
#include "compose/reader/Requests.h"

#include <QFile>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

bool answer(const QStringList& args, ReaderSink& sink)
{
    const qsizetype n = args.size();
    const QString request = n > 0 ? args.at(0) : QString();
    const QString path = n > 1 ? args.at(1) : QString();
    if (request == QLatin1String("access-tables") && n == 2)
        ListAccessTables(sink, path);
    else if (request == QLatin1String("access-columns") && n == 3)
        ListAccessColumns(sink, path, args.at(2));
    else if (request == QLatin1String("access-rows") && n >= 4)
        ReadAccessRows(sink, path, args.at(2), args.mid(3));
    else if (request == QLatin1String("access-table") && n >= 4)
        ReadAccessRows(sink, path, args.at(2), args.mid(3), true);
    else if (request == QLatin1String("sheets") && n == 2)
        ListSheets(sink, path);
    else if (request == QLatin1String("sheet-columns") && n == 3)
        ListSheetColumns(sink, path, args.at(2));
    else if (request == QLatin1String("sheet-records") && n >= 5)
        ReadSheetRecords(sink, path, args.at(2), args.at(3).toLongLong(), args.mid(4));
    else if (request == QLatin1String("sheet-table") && n >= 4)
        ReadSheetRecords(sink, path, args.at(2), -1, args.mid(3), true);
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Some damaged files crash the reading libraries: that is expected here, is reported by the wizard
    // from the exit status, and must not leave core files behind.
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(SIGPIPE, SIG_DFL);

    // The records get a descriptor of their own; the libraries' chatter on standard output goes to
    // standard error instead, where it cannot break a record.
    const int records = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (records < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return 3;

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    ReaderSink sink(records);
    bool understood = true;
    try {
        understood = answer(args, sink);
    } catch (const std::exception& e) {
        sink.error(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        sink.error(QStringLiteral("The file could not be read."));
    }
    sink.flush();
    if (!understood) {
        std::fprintf(stderr, "usage: broadtext-reader REQUEST FILE [NAMES...] (see the source for requests)\n");
        return 2;
    }
    return 0;
}
