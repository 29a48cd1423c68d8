#include "app/Broadtext.h"

#include "app/MDI_Frmmanage.h"
#include "app/frmSplash.h"
#include "common/AppState.h"
#include "common/Seams.h"
#include "delivery/HandOver.h"
#include "store/Connection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

bool ScreenSizeAccepted(const QSize& pixels, Dialogs& dialogs)
{
    if (!(pixels.width() < 1024 && pixels.height() < 768))
        return true;
    const QString text =
        QStringLiteral("Required Screen Resolution: 1024 x 768\r\nCurrent Screen Resolution: %1 x %2\r\n\r\n"
                       "This application requires 1024 x 768 screen resolution. Application may not be "
                       "displyed properly on your screen.\r\n\r\n It is highly recommanded that you should "
                       "increase the screen resolution to 1024 x 768.\r\n\r\n Do you want to continue any "
                       "way?")
            .arg(pixels.width())
            .arg(pixels.height());
    return dialogs.question(text);
}

void RestartProgram(AppState& state)
{
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1)))
        state.dialogs->message(QStringLiteral("Broadtext could not start again by itself. Please start it again."));
    state.endApplication();
}

Broadtext::Broadtext(AppState& state) : state(state), log(state), engine(state, db, log) {}

Broadtext::~Broadtext()
{
    mainWindow.reset();
}

QString NearestExistingFolder(const QString& path)
{
    QFileInfo info(path);
    while (!info.isDir() && !info.isRoot())
        info.setFile(info.absolutePath());
    return info.absoluteFilePath();
}

bool Broadtext::Main(const QSize& screenPixels)
{
    // Without its database the program has nothing to show: the user puts it right and tries again, looks at
    // the data folder, or quits.
    for (;;) {
        QString problem;
        ConnectDatabase(state, db, &problem);
        if (state.DatabaseConnected)
            break;
        const int chosen = state.dialogs->choice(
            problem, {QStringLiteral("&Retry"), QStringLiteral("&Open Data Folder"), QStringLiteral("&Quit")});
        if (chosen == 1)
            state.dialogs->showFolder(NearestExistingFolder(state.dataDir));
        else if (chosen != 0)
            return false;
    }
    // Received messages go on to the receive hook and the webhook when the user set them up (the engine owns
    // the dispatcher, so that it goes before the database it works on).
    (new HandOver(db, log, *state.clock, &engine))->follow(engine);
    state.ChildWindowOpen = false;
    if (!ScreenSizeAccepted(screenPixels, *state.dialogs))
        return false;
    mainWindow = std::make_unique<MDI_Frmmanage>(state, db, log, engine);
    return true;
}

void Broadtext::showSplash()
{
    auto* splash = new frmSplash;
    connect(splash, &frmSplash::finished, this, &Broadtext::showMainWindow);
    splash->show();
}

void Broadtext::showMainWindow()
{
    mainWindow->show();
    Q_EMIT mainWindowShown();
    mainWindow->MDIForm_Load();
}
