// Start-up: opens the message database, checks the screen, shows the splash and then the main window.
// Owns the database, the activity log, the engine and the main window; main() and the tests create it.
#pragma once

#include "app/Owner.h"
#include "delivery/Engine.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <QObject>
#include <QSize>
#include <memory>

struct AppState;
class Dialogs;
class MDI_Frmmanage;

// The screen-size question for screens below 1024 x 768 (both sides); false when the user says No.
bool ScreenSizeAccepted(const QSize& pixels, Dialogs& dialogs);

// The folder itself when it exists, else the nearest folder above it that does (what a file manager can show).
QString NearestExistingFolder(const QString& path);

// Starts this program again (same executable, same arguments) and ends this one.
void RestartProgram(AppState& state);

class Broadtext : public QObject {
    Q_OBJECT
public:
    explicit Broadtext(AppState& state);
    ~Broadtext() override;

    // Opens the database (offering Retry, the data folder or Quit while it cannot be opened) and checks the
    // screen. False when the program must end at once.
    bool Main(const QSize& screenPixels);
    // The splash, which shows the main window when it closes.
    void showSplash();
    void showMainWindow();

    AppState& state;
    OwnerLock ownerLock; // outlives the engine: no other process opens a port it still closes
    Database db;
    ActivityLog log;
    Engine engine;
    std::unique_ptr<MDI_Frmmanage> mainWindow;
    // Whether this program runs the modems or only shows the data of the process that does (made by Main).
    std::unique_ptr<ModemOwner> owner;

Q_SIGNALS:
    void mainWindowShown();
};
