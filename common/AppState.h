// The process-wide state of Broadtext: the flags and values every part of the program shares, plus the
// seams to the outside world. What a modem is doing (connected, ready, its format and delay factor) is
// not here: each modem session publishes its own ModemStatus. One instance is created at start-up (and a
// fresh one by every test).
#pragma once

#include <QString>
#include <functional>

class Dialogs;
class Clock;
class SoundPlayer;

inline constexpr const char* ProgramTitle = "Broadtext";

struct AppState {
    // Message store
    bool DatabaseConnected = false;

    // Timers, auto-reply, views
    qint16 ReceiveIntervalSeconds = 0;
    qint16 SendIntervalSeconds = 0;
    bool AutoReplyActive = false;
    QString AutoReplyText;
    qint32 MessagePageSize = 100;
    bool ActivityLogOn = false;
    bool ChildWindowOpen = false;
    bool MessageBoxOpen = false;
    QString msgType; // folder the message box opens on: "I" Inbox, "O" Outbox

    // Modem auto-detection results and the pick made from them.
    QString ComPorts;
    QString ManufacturerId;
    QString ModelId;
    bool selectPortFromList = false;

    // Where things live. dataDir holds Broadtext.db and the ports/ links; devDir is scanned for serial
    // devices when a COM number has no link (tests point both at temporary folders).
    QString dataDir;
    QString devDir = QStringLiteral("/dev");
    QString sysClassTtyDir = QStringLiteral("/sys/class/tty");
    QString serialByIdDir = QStringLiteral("/dev/serial/by-id"); // stable names of USB serial devices

    // Seams to the outside world; never null once start-up (or a test) has wired them.
    Dialogs* dialogs = nullptr;
    Clock* clock = nullptr;
    SoundPlayer* sound = nullptr;

    // Ends the program at once (restart rule of the settings window, Exit). The real one quits the
    // event loop; tests record the call.
    std::function<void()> endApplication;
};
