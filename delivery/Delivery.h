// Moving messages between the database and the modem: the Outbox delivery run, reception from the SIM
// into the Inbox, and the record of incoming calls.
#pragma once

#include <QString>

struct AppState;
class ActivityLog;
class Database;
class MessageBoxView;
class Modem;

class Delivery {
public:
    Delivery(AppState& state, Database& db, ActivityLog& log, Modem& modem);

    void SendAllOutboxSMS();
    void ReceiveAllSIMMessages(qint16 listWait);
    void RecordCallStatistics(const QString& callerNumber);
    // When the message box is open: redraw it and refresh the counts of its folder tree.
    void RefreshMessageBox();

    // The open message box, or null (set by the message box on load and unload).
    MessageBoxView* messageBox = nullptr;

    // Milliseconds spent in the pauses after each delivered message (benchmarks subtract it).
    qint64 pausedMs = 0;

private:
    void pause(int ms);

    AppState& state;
    Database& db;
    ActivityLog& log;
    Modem& modem;
};

// The recipient as the delivery run uses it: outer blanks trimmed, then every blank, "-" and "." removed.
QString CleanRecipientNumber(const QString& stored);
// A number the modem can be asked to send to: digits, optionally after one leading "+".
bool IsValidRecipientNumber(const QString& cleaned);
// The sender as reception stores it: ten characters or fewer get a "+"; longer ones keep a leading "+" or
// "0", others get a "+".
QString NormaliseSenderNumber(const QString& listed);
