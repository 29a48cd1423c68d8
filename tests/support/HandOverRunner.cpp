// A program that only runs the hand-over dispatcher on a message database, as the program owning the modems
// would, so that a test can kill it with SIGKILL in the middle of a hand-over. Usage: HandOverRunner DATABASE
#include "common/AppState.h"
#include "common/Seams.h"
#include "delivery/HandOver.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <QCoreApplication>
#include <QFileInfo>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return 2;
    AppState state;
    state.dataDir = QFileInfo(app.arguments().at(1)).absolutePath();
    state.ActivityLogOn = true;
    SystemClock clock;
    state.clock = &clock;
    Database db;
    db.open(app.arguments().at(1));
    // As the tests' own connection: a kill loses nothing committed at NORMAL.
    db.execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
    ActivityLog log(state);
    HandOver handOver(db, log, clock);
    handOver.setBackoffMs({1, 2});
    handOver.setHoldMarginMs(300);
    return app.exec();
}
