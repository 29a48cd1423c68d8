// The activity log: the running trace of what the program does, newest entry on top, kept in memory only.
// The home page displays it.
#pragma once

#include <QObject>
#include <QString>

struct AppState;

class ActivityLog : public QObject {
    Q_OBJECT
public:
    static constexpr int TrimAbove = 12000; // characters; longer texts are cut back
    static constexpr int KeepOnTrim = 2000; // characters kept from the top (the newest)

    explicit ActivityLog(AppState& state, QObject* parent = nullptr);

    // Appends "[" + date and time + "] : " + message + CR LF on top, while ActivityLogOn is set.
    void WriteActivityLog(const QString& message);
    void clear();
    const QString& text() const { return log; }

Q_SIGNALS:
    void changed();

private:
    QString stamp() const;

    AppState& state;
    QString log;
};
