// Keeping a window above the others, for windows that must not be lost behind the main window.
#pragma once

class QWindow;

// Sets or clears a window's always-on-top state without moving, resizing or activating it.
void SetWindowOnTop(QWindow* window, bool onTop);
