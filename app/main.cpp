// Broadtext: sends and receives SMS through a GSM modem on a serial port. With --headless it runs as a service,
// without a window (app/Headless.h); with --migrate-to URI it copies its message file to a PostgreSQL server and
// ends (store/Migration.h).
#include "app/Broadtext.h"
#include "app/Headless.h"
#include "app/MDI_Frmmanage.h"
#include "app/Owner.h"
#include "app/WaveSoundPlayer.h"
#include "app/WidgetDialogs.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/Migration.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QScreen>
#include <cstdio>

namespace {

void writeLine(FILE* stream, const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// broadtext --migrate-to URI: 0 when the messages are on the server and broadtext.conf points there, 1 when it
// refused or failed (nothing changed then), 2 when the command line is wrong.
int RunMigration(int argc, char** argv, int at)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("broadtext"));
    const QString option = QString::fromLocal8Bit(argv[at]);
    const QString uri = option.startsWith(QLatin1String("--migrate-to="))
                            ? option.mid(option.indexOf(QLatin1Char('=')) + 1)
                            : (at + 1 < argc ? QString::fromLocal8Bit(argv[at + 1]) : QString());
    if (!Database::IsServerLocation(uri)) {
        writeLine(stderr, QStringLiteral("Usage: broadtext --migrate-to postgresql://user@host/database\n"
                                         "The password goes in ~/.pgpass (or PGPASSWORD), not in the address."));
        return 2;
    }
    AppState state;
    state.dataDir = DefaultDataDirectory();
    // A program running the modems would go on writing to the file after its messages were copied.
    OwnerLock lock;
    QString error;
    if (QFileInfo::exists(DatabaseFilePath(state)) && !lock.take(DatabaseFilePath(state), &error)) {
        writeLine(stderr, error.isEmpty() ? QStringLiteral("Broadtext is running on this message database (process "
                                                           "%1): close it first, then copy its messages.")
                                                .arg(lock.holder())
                                          : error);
        return 1;
    }
    writeLine(stdout, QStringLiteral("Copying %1 to %2.").arg(DatabaseFilePath(state), Database::DisplayLocation(uri)));
    try {
        MigrateToServer(state, uri, [](const QString& line) { writeLine(stdout, line); });
    } catch (const DbError& e) {
        writeLine(stderr, QStringLiteral("Nothing was copied: ") + e.description());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Before any application object: the service and the copy to a server must not need a display.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0)
            return RunHeadless(argc, argv);
        if (qstrcmp(argv[i], "--migrate-to") == 0 || qstrncmp(argv[i], "--migrate-to=", 13) == 0)
            return RunMigration(argc, argv, i);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("broadtext"));
    QApplication::setApplicationDisplayName(QStringLiteral("Broadtext"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("broadtext")));

    AppState state;
    WidgetDialogs dialogs;
    SystemClock clock;
    WaveSoundPlayer sound;
    state.dialogs = &dialogs;
    state.clock = &clock;
    state.sound = &sound;
    state.dataDir = DefaultDataDirectory();
    state.endApplication = [] { QCoreApplication::exit(0); };

    QSize screen(1024, 768);
    if (const QScreen* s = QGuiApplication::primaryScreen())
        screen = (QSizeF(s->geometry().size()) * s->devicePixelRatio()).toSize();

    Broadtext program(state);
    if (!program.Main(screen))
        return 0;
    program.mainWindow->restartApplication = [&state] { RestartProgram(state); };
    program.showSplash();
    return app.exec();
}
