#include "views/WindowOnTop.h"

#include <QWindow>

void SetWindowOnTop(QWindow* window, bool onTop)
{
    if (!window)
        return;
    Qt::WindowFlags flags = window->flags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    window->setFlags(flags);
}
