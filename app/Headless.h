// broadtext --headless: the engine (modems, timers, reception, delivery, the call watch) without a window, for
// a systemd user service. It needs no display. Boxes become lines in the activity log and on standard error,
// where the journal reads them with their priority ("<3>" and so on, one line each). SIGTERM or SIGINT ends
// it: the modems are closed and the rows they held given back.
#pragma once

#include "common/Seams.h"

#include <QString>

class ActivityLog;

// Journal priorities (syslog levels).
enum class JournalPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Writes text to standard error, each of its lines behind the priority prefix; empty lines are left out.
void WriteJournal(JournalPriority priority, const QString& text);

// Dialogs with nobody to see them: messages and notices go to the activity log and the journal; questions are
// answered No and choices with the button that closing the box means, and that is said too.
class JournalDialogs : public Dialogs {
public:
    explicit JournalDialogs(ActivityLog& log) : log(log) {}
    void message(const QString& text) override;
    void notice(const QString& text) override;
    bool question(const QString& text) override;
    int choice(const QString& text, const QStringList& buttons) override;
    void showFolder(const QString& path) override;
    QString openFileName(const QString& folder, const QString& filter) override;
    QString saveFileName(const QString& suggested, const QString& filter) override;

private:
    void tell(JournalPriority priority, const QString& text);
    ActivityLog& log;
};

// Runs the service until SIGTERM or SIGINT; the program's exit status (1 when it cannot start, for instance
// because another Broadtext runs the modems of the same database).
int RunHeadless(int argc, char** argv);
