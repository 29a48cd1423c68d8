// Start-up time and memory: from process start to the main window shown (and to the end of its load,
// which tries to connect), with a new data folder and with an existing database. Each start runs in a
// fresh child process; the splash's own three seconds are left out (it is closed at once).
#include "Doubles.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "common/AppState.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

// Seconds from this process's start to now (the kernel counts process starts in clock ticks since boot).
double secondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = stat.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    const double started = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    return uptime.readAll().split(' ').value(0).toDouble() - started;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

int child(int argc, char** argv, const QString& dataDir)
{
    const double beforeMain = secondsSinceProcessStart();
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    AppState state;
    ScriptedDialogs dialogs;
    SystemClock systemClock;
    RecordingSoundPlayer sound;
    state.dialogs = &dialogs;
    state.clock = &systemClock;
    state.sound = &sound;
    state.dataDir = dataDir;
    state.endApplication = [] {};
    Broadtext program(state);
    if (!program.Main(QSize(1280, 800)))
        return 1;
    double shownMs = 0;
    QObject::connect(&program, &Broadtext::mainWindowShown, [&] {
        QWindow* w = program.mainWindow->windowHandle();
        while (!w || !w->isExposed()) {
            QCoreApplication::processEvents();
            w = program.mainWindow->windowHandle();
        }
        shownMs = beforeMain * 1000 + clock.nsecsElapsed() / 1e6;
    });
    program.showMainWindow();
    const double loadedMs = beforeMain * 1000 + clock.nsecsElapsed() / 1e6;
    std::printf("%.1f %.1f %ld\n", shownMs, loadedMs, residentKiB());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return child(argc, argv, QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    const int runs = 7;
    for (const bool existing : {false, true}) {
        QList<double> shown, loaded;
        QList<long> rss;
        for (int i = 0; i < runs; ++i) {
            QTemporaryDir dir;
            const QString data = dir.path() + QStringLiteral("/broadtext");
            if (existing) { // create the database first
                QProcess first;
                first.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), data});
                first.waitForFinished(-1);
            }
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), data});
            p.waitForFinished(-1);
            const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
            shown << f.value(0).toDouble();
            loaded << f.value(1).toDouble();
            rss << f.value(2).toLong();
        }
        std::sort(shown.begin(), shown.end());
        std::sort(loaded.begin(), loaded.end());
        std::sort(rss.begin(), rss.end());
        std::printf("%s database: main window shown %.0f ms, load done %.0f ms (median of %d; best shown %.0f ms), "
                    "resident memory %.1f MB\n",
                    existing ? "existing" : "new", shown[runs / 2], loaded[runs / 2], runs, shown.first(),
                    rss[runs / 2] / 1024.0);
    }
    return 0;
}
