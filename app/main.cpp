// Broadtext: sends and receives SMS through a GSM modem on a serial port. With --headless it runs as a service,
// without a window (app/Headless.h).
#include "app/Broadtext.h"
#include "app/Headless.h"
#include "app/MDI_Frmmanage.h"
#include "app/WaveSoundPlayer.h"
#include "app/WidgetDialogs.h"
#include "common/AppState.h"
#include "common/Paths.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

int main(int argc, char** argv)
{
    // Before any application object: the service must not need a display.
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--headless") == 0)
            return RunHeadless(argc, argv);

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
