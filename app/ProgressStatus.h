// What the main window's status bar says about long work: a delivery run ("Sending 12 of 250, about 4 min
// left, 2 failed") and a reception ("Receiving 30 messages"); nothing once both have ended. The time left
// follows the pace of the last messages sent, so a modem that slows down (or a network that answers late)
// soon shows in the estimate.
#pragma once

#include <QDateTime>
#include <QString>
#include <deque>

class ProgressStatus {
public:
    // The delivery run's news, as Engine::deliveryProgress gives it, with the time it came.
    void delivery(int handled, int total, int failed, bool ended, const QDateTime& now);
    // The reception's news, as Engine::receptionProgress gives it.
    void reception(int importing, bool ended);
    QString text() const;

private:
    struct Sample {
        QDateTime at;
        int handled;
    };
    std::deque<Sample> recent; // the last messages of the running delivery
    QString sending;
    QString receiving;
};

// "less than a minute left", "about 4 min left", "about 2 h 5 min left".
QString TimeLeftText(qint64 seconds);
