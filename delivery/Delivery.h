// Moving messages between the database and the modem: the Outbox delivery run, reception from the SIM
// into the Inbox, and the record of incoming calls.
//
// Both runs are driven from the user-interface thread, where the database lives: each step asks the modem
// link for one piece of work and goes on when its result comes back, so the window never waits for the
// modem. A run is either idle or running; a second start while it runs is refused (the timers coalesce).
#pragma once

#include <QString>
#include <functional>
#include <memory>

struct AppState;
struct ListResult;
struct SubmitResult;
class ActivityLog;
class Database;
class MessageBoxView;
class ModemLink;

class Delivery {
public:
    Delivery(AppState& state, Database& db, ActivityLog& log, ModemLink& link);
    ~Delivery();

    // Starts a delivery run (false when one already runs); finished is called when it has ended.
    bool SendAllOutboxSMS(std::function<void()> finished = {});
    // Starts a reception (false when one already runs); finished is called when its deletions are done.
    bool ReceiveAllSIMMessages(qint16 listWait, std::function<void()> finished = {});
    void RecordCallStatistics(const QString& callerNumber);
    // When the message box is open: redraw it and refresh the counts of its folder tree.
    void RefreshMessageBox();

    bool sending() const { return run != nullptr; }
    bool receiving() const { return reception != nullptr; }

    // The open message box, or null (set by the message box on load and unload).
    MessageBoxView* messageBox = nullptr;

    // News for the windows: rows handled of a delivery run (failed among them), its end; messages being
    // imported; each message stored in the Inbox.
    std::function<void(int handled, int total, int failed, bool ended)> deliveryProgress;
    std::function<void(int importing, bool ended)> receptionProgress;
    std::function<void(const QString& sender, const QString& text)> messageReceived;

private:
    struct Run;
    struct Reception;
    void nextRow();
    void rowDone(qint64 id, const QString& number, bool storeFirst, const SubmitResult& r);
    void endRun();
    void listed(const ListResult& r);
    void endReception();

    AppState& state;
    Database& db;
    ActivityLog& log;
    ModemLink& link;
    std::unique_ptr<Run> run;
    std::unique_ptr<Reception> reception;
};

// The recipient as the delivery run uses it: outer blanks trimmed, then every blank, "-" and "." removed.
QString CleanRecipientNumber(const QString& stored);
// A number the modem can be asked to send to: digits, optionally after one leading "+".
bool IsValidRecipientNumber(const QString& cleaned);
// The sender as reception stores it: ten characters or fewer get a "+"; longer ones keep a leading "+" or
// "0", others get a "+".
QString NormaliseSenderNumber(const QString& listed);
