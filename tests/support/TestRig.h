// Fresh process-wide state for one test: a temporary data folder (and empty /dev and /sys stand-ins, so
// no real serial device of the machine is ever seen), scripted dialogs, a clock, a sound recorder, the
// message database and the activity log; and a way to read stored rows.
#pragma once

#include "Doubles.h"
#include "StoreBackend.h"
#include "common/AppState.h"
#include "store/ActivityLog.h"
#include "store/Connection.h"
#include "store/Database.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

struct TestRig {
    QTemporaryDir dir;
    AppState state;
    ScriptedDialogs dialogs;
    ManualClock clock;
    RecordingSoundPlayer sound;
    Database db;
    ActivityLog log{state};
    int endApplicationCalls = 0;

    explicit TestRig(bool openDatabase = true)
    {
        state.dataDir = dir.path() + QStringLiteral("/data");
        state.devDir = dir.path() + QStringLiteral("/dev");
        state.sysClassTtyDir = dir.path() + QStringLiteral("/sys");
        state.serialByIdDir = dir.path() + QStringLiteral("/dev/serial/by-id");
        QDir().mkpath(state.devDir);
        QDir().mkpath(state.sysClassTtyDir);
        state.dialogs = &dialogs;
        state.clock = &clock;
        state.sound = &sound;
        state.ActivityLogOn = true;
        state.endApplication = [this] { ++endApplicationCalls; };
        PrepareTestStore(state.dataDir);
        if (openDatabase)
            ConnectDatabase(state, db);
    }

    // The activity log file: every entry, whole (line breaks inside an entry as LF, as at its end).
    QString logFile() const
    {
        QFile f(log.filePath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

// The first column of each row a query gives, as text: a test's view of stored rows (several columns can be
// joined in the SQL with ||).
inline QStringList queryTexts(Database& db, const QString& sql, const QVariantList& values = {})
{
    QStringList out;
    for (Query q(db, sql, values); q.next();)
        out << q.value(0).toString();
    return out;
}
