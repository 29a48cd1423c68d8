// What the end-to-end modem conversation tests share: the boxes as the database holds them, the timers run
// as the main window runs them, and a user who leaves a message box open.
#pragma once

#include "EngineRig.h"

inline QStringList inboxTexts(Database& db)
{
    return queryTexts(db, QStringLiteral("SELECT Message FROM Message_InBox ORDER BY InBox_Id"));
}

inline qint64 inboxCount(Database& db)
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_InBox"));
}

inline qint64 sentItems(Database& db)
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'"));
}

// Runs reception and delivery every second and the call watch as the main window does.
inline void runTimers(EngineRig& rig, bool callWatch = true)
{
    rig.state.ReceiveIntervalSeconds = 1;
    rig.state.SendIntervalSeconds = 1;
    rig.engine.applyTimerPeriods();
    rig.engine.timerRefreshHomePage.setEnabled(callWatch);
}

// A user who leaves a message box open: the box runs its own event loop until it is closed.
class LingeringDialogs : public ScriptedDialogs {
public:
    int openForMs = 0;
    std::function<void()> whileOpen;
    void message(const QString& text) override
    {
        ScriptedDialogs::message(text);
        QEventLoop loop;
        QTimer::singleShot(openForMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (whileOpen)
            whileOpen();
    }
};
