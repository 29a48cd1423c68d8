// A timer that behaves like the program's timers are described: a period in milliseconds (0 stops it) and
// an enabled switch, independent of each other. A tick's handler only starts work (the modem link reports back
// later) and never runs an event loop, so one tick cannot begin inside another and no guard is needed.
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

    QTimer timer;
    int period = 0;
    bool enabled = true;
};
