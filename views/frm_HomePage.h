// The home page: today's date, the counters of unread, waiting and missed-call items as links, and the
// activity log with its Start, Stop and Clear links.
#pragma once

#include <QWidget>
#include <functional>

struct AppState;
struct HomeCounters;
class ActivityLog;
class Database;
class LinkLabel;
class QLabel;
class QPlainTextEdit;

class frm_HomePage : public QWidget {
    Q_OBJECT
public:
    frm_HomePage(AppState& state, ActivityLog& log, Database& db, QWidget* parent = nullptr);

    // Load: today's date and the counters from the database (DbError propagates to the caller's handler).
    void Form_Load();
    // The counter captions as the refresh tick writes them.
    void showCounters(const HomeCounters& counters);

    void lblStart_Click();
    void lblStop_Click();
    void lblClear_Click();

    // Open the message box on a folder ("I" or "O") and the missed calls report; wired by the main window.
    std::function<void()> openMessageBox;
    std::function<void()> openMissedCalls;

private:
    void lblInBox_Click();
    void lblOutBox_Click();
    void showLog();

    AppState& state;
    ActivityLog& log;
    Database& db;
    QLabel* lblToday;
    LinkLabel* lblInBox;
    LinkLabel* lblOutBox;
    LinkLabel* LblMissCall;
    LinkLabel* lblStart;
    LinkLabel* lblStop;
    LinkLabel* lblClear;
    QPlainTextEdit* txtActivityLog;
};
