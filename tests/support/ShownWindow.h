// A window of one test, shown and active (focus is only reported in the active window), deleted with the
// test, and its controls found by objectName (a missing one fails the test loudly).
#pragma once

#include <QPointer>
#include <QTest>
#include <stdexcept>

template <class W> struct ShownWindow {
    QPointer<W> w;
    explicit ShownWindow(W* window) : w(window)
    {
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w))
            qWarning("window not active");
    }
    ~ShownWindow() { delete w.data(); }
    ShownWindow(const ShownWindow&) = delete;
    ShownWindow& operator=(const ShownWindow&) = delete;
    template <class T> T* get(const QString& name) const
    {
        T* c = w->template findChild<T*>(name);
        return c ? c : throw std::logic_error("no control " + name.toStdString());
    }
};
