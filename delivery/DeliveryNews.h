// What delivery tells the rest of the program: each job of delivery reports through these, and the engine
// turns them into its signals for the windows.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

class DbError;

struct DeliveryNews {
    // Rows handled of a delivery run (failed among them), its end; messages being imported.
    std::function<void(int handled, int total, int failed, bool ended)> deliveryProgress;
    std::function<void(int importing, bool ended)> receptionProgress;
    // A message stored in the Inbox: first the row as stored, then what the user is told of it.
    std::function<void(const QString& number, const QString& text, const QDateTime& received, qint64 id)>
        inboxMessageStored;
    std::function<void(const QString& sender, const QString& text)> messageReceived;
    // The folders' contents or counts changed.
    std::function<void()> inboxChanged;
    std::function<void()> outboxChanged;
    // A database failure of timer work: shown once, logged each time.
    std::function<void(const DbError& error)> databaseFailed;
    std::function<void()> databaseWorked;

    // The modem these jobs work for: claims, sent and received rows carry its id, and its name as shown then.
    int modemId = 1;
    QString modemName;
    // Other modems take from the same Outbox.
    bool pooled = false;

    // The modem's sending limits let it send again after a run they stopped.
    std::function<void()> limitsAllow;

    // Whether the modem's port is open (its session says); the jobs stop when it closes.
    std::function<bool()> connected = [] { return false; };

    void failed(const DbError& e) const
    {
        if (databaseFailed)
            databaseFailed(e);
    }
    void worked() const
    {
        if (databaseWorked)
            databaseWorked();
    }
    void outboxTouched() const
    {
        if (outboxChanged)
            outboxChanged();
    }
    void inboxTouched() const
    {
        if (inboxChanged)
            inboxChanged();
    }
};
