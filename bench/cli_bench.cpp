// broadtext-cli: the time to queue 100,000 messages from a CSV file into a message base on disk, in one run of
// the command (checking every row, then writing them a slice per transaction as a campaign that is loading, and
// making it run at the end); in-process through bt_cli, and as a script runs the real program (which also prints
// the 100,000 ids). Also how long another connection's write waits meanwhile: about one slice's insert (rows and
// their search index entries), where one transaction for the whole file would make it wait for all of them.
#include "TestRig.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int Rows = 100000;

QString writeCsv(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray csv = "number,text\n";
    for (int i = 0; i < Rows; ++i)
        csv += QStringLiteral("+91988%1,\"Dear customer %1, your order is ready for collection\"\n")
                   .arg(i, 7, 10, QLatin1Char('0'))
                   .toUtf8();
    f.write(csv);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    {
        TestRig rig;
        const QString csv = writeCsv(rig.dir.filePath(QStringLiteral("orders.csv")));
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        QElapsedTimer t;
        t.start();
        const int code =
            RunCommandLine({QStringLiteral("--database"), DatabaseFilePath(rig.state), QStringLiteral("queue"), csv},
                           outStream, errStream);
        const qint64 ms = t.elapsed();
        if (code != 0 || rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox")) != Rows)
            qFatal("queue failed (%d): %s", code, qPrintable(err));
        std::printf("queue of %d messages from a CSV file, in-process, in slices of %zu: %lld ms (%.0f messages per "
                    "second)\n",
                    Rows, QueueSlice, ms, Rows * 1000.0 / double(ms));
    }
    {
        TestRig rig;
        const QString csv = writeCsv(rig.dir.filePath(QStringLiteral("orders.csv")));
        // Another writer (the running program) tries every 10 ms to write, waiting as long as it takes; its
        // longest wait is about the longest the command held the write lock. The program itself waits 2 s.
        rig.db.execute(QStringLiteral("PRAGMA busy_timeout = 600000"));
        QProcess run;
        QElapsedTimer t;
        t.start();
        run.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/broadtext-cli"),
                  {QStringLiteral("--database"), DatabaseFilePath(rig.state), QStringLiteral("queue"), csv});
        if (!run.waitForStarted())
            qFatal("broadtext-cli did not start");
        qint64 longestWrite = 0;
        while (run.state() != QProcess::NotRunning) {
            QElapsedTimer w;
            w.start();
            rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = SMSDelevaryMode"));
            longestWrite = std::max(longestWrite, w.elapsed());
            run.waitForFinished(10);
        }
        const qint64 ms = t.elapsed();
        if (run.exitCode() != 0 || run.readAllStandardOutput().count('\n') != Rows)
            qFatal("broadtext-cli failed: %s", run.readAllStandardError().constData());
        std::printf("queue of %d messages from a CSV file, the program run by a script: %lld ms (ids printed); the "
                    "longest write of another connection meanwhile: %lld ms\n",
                    Rows, ms, longestWrite);
    }
    return 0;
}
