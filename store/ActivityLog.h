// The activity log: the running trace of what the program does, newest entry on top, kept in memory for the
// home page (trimmed as it grows) and written in full to activity.log in the data folder (oldest first,
// rotated at 5 MB with three older files kept), so the history of a long mass send survives.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>

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
    void clear();
    const QString& text() const { return log; }
    // Where the log file is kept.
    QString filePath() const;

Q_SIGNALS:
    void changed();

private:
    QString stamp() const;
    void appendToFile(const QString& entry);

    AppState& state;
    QString log;
    QFile file;
};
