#include "common/PeriodicTimer.h"

PeriodicTimer::PeriodicTimer(const QString& name, QObject* parent) : QObject(parent)
{
    setObjectName(name);
    connect(&timer, &QTimer::timeout, this, &PeriodicTimer::Timer);
}

void PeriodicTimer::setInterval(int ms)
{
    if (ms < 0)
        ms = 0;
    if (ms == period)
        return; // re-setting the same period must not restart the count
    period = ms;
    update();
}

void PeriodicTimer::setEnabled(bool on)
{
    if (on == enabled)
        return;
    enabled = on;
    update();
}

void PeriodicTimer::update()
{
    if (enabled && period > 0)
        timer.start(period);
    else
        timer.stop();
}
