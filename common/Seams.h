// Small interfaces to the outside world (message boxes, file dialogs, the clock, sound). The real
// implementations live with the program (the clock here, dialogs and sound in app/); the tests' scripted
// and recording ones in tests/support/Doubles.h.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Message boxes (OK button, the program's title), Yes/No questions, boxes with a choice of buttons, the
// file-open and file-save dialogs and the desktop's file manager.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(const QString& text) = 0;
    // A problem found by background work (timers, the modem): shown without waiting for anyone, so the work
    // goes on while the notice is up. Returns at once.
    virtual void notice(const QString& text) = 0;
    virtual bool question(const QString& text) = 0; // true for Yes
    // A box with buttons of the caller's, the first the default and the last what closing the box means;
    // returns the index of the button pressed.
    virtual int choice(const QString& text, const QStringList& buttons) = 0;
    // Shows a folder in the desktop's file manager (a box of its own when that cannot be done).
    virtual void showFolder(const QString& path) = 0;
    // filter in the form "TXT Files (*.txt)|*.txt"; returns the chosen path, empty when cancelled
    virtual QString openFileName(const QString& folder, const QString& filter) = 0;
    // The file-save dialog, offering `suggested` (a path) and asking before an existing file is replaced; the
    // filter as for openFileName. Returns the chosen path, empty when cancelled.
    virtual QString saveFileName(const QString& suggested, const QString& filter) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Plays a wave file by name, without falling back to a default sound; true when playback started.
    virtual bool PlayWaveFile(const QString& file, bool async) = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
