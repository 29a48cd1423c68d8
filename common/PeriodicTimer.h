// A timer that behaves like the program's timers are described: a period in milliseconds (0 stops it) and
// an enabled switch, independent of each other. A tick is skipped while the previous tick's handler is
// still running (handlers let queued events run during modem waits, so a tick could otherwise re-enter).
#pragma once

#include <QObject>
#include <QTimer>

class PeriodicTimer : public QObject {
    Q_OBJECT
public:
    explicit PeriodicTimer(const QString& name, QObject* parent = nullptr);

    void setInterval(int ms);
    int interval() const { return period; }
    void setEnabled(bool on);
    bool isEnabled() const { return enabled; }
    bool isTicking() const { return timer.isActive(); }

Q_SIGNALS:
    void Timer();

private:
    void update();
    void tick();

    QTimer timer;
    int period = 0;
    bool enabled = true;
    bool inTick = false;
};
