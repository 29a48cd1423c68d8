#include "app/Broadtext.h"

#include "app/MDI_Frmmanage.h"
#include "app/frmSplash.h"
#include "common/AppState.h"
#include "common/Seams.h"
#include "store/Connection.h"

#include <QCoreApplication>
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

bool Broadtext::Main(const QSize& screenPixels)
{
    ConnectDatabase(state, db);
    if (state.DatabaseConnected) {
        state.ChildWindowOpen = false;
        if (!ScreenSizeAccepted(screenPixels, *state.dialogs))
            return false;
    }
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
