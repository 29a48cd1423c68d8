// The activity log: the running trace of what the program does, newest entry on top, kept in memory for the
// home page (trimmed as it grows) and written in full to activity.log in the data folder (oldest first,
// rotated at 5 MB with three older files kept), so the history of a long mass send survives.
//
// The window is for people: an entry spanning several lines (a modem's multi-line answer) or carrying PDU
// hex shows there as one shortened line, the file keeping it whole; and the lines of a periodic check that
// found nothing new go to the file only, so that an idle program does not push the last real events out.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

struct AppState;

class ActivityLog : public QObject {
    Q_OBJECT
public:
    static constexpr int TrimAbove = 12000; // characters; longer texts are cut back
    static constexpr int KeepOnTrim = 2000; // characters kept from the top (the newest)
    static constexpr qint64 FileRotateAt = 5 * 1024 * 1024;
    static constexpr int OldFilesKept = 3;

    explicit ActivityLog(AppState& state, QObject* parent = nullptr);

    // Appends "[" + date and time + "] : " + message + CR LF on top, while ActivityLogOn is set.
    void WriteActivityLog(const QString& message);

    // The periodic checks. Between Hold and Show or Drop, what is written for that check goes to the file at
    // once and waits for the window: Show puts it there (in order, with its times), Drop leaves it in the
    // file only. Written for a check not held, a line is an ordinary entry.
    enum class Check { Reception, Delivery };
    void Hold(Check check);
    void Write(Check check, const QString& message);
    void Show(Check check);
    void Drop(Check check);

    // An entry as the window shows it: one line, long runs of hex and long texts cut short.
    static QString WindowText(const QString& message);
    static constexpr int WindowLineLimit = 240;
    void clear();
    const QString& text() const { return log; }
    // Where the log file is kept.
    QString filePath() const;

Q_SIGNALS:
    void changed();

private:
    QString stamp() const;
    void appendToFile(const QString& entry);
    void show(const QString& entry);

    struct Held {
        bool open = false;
        QStringList entries;
    };
    Held held[2];

    AppState& state;
    QString log;
    QFile file;
};
