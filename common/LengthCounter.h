// The length rule of message texts: at most 480 characters, a live count, and a warning when the text will
// travel as several SMS. The same rule stands under every message field of the program.
#pragma once

#include <QString>

inline constexpr int MaxMessageLength = 480;

struct LengthCounterCaptions {
    QString count;   // "Typed: n/480 characters."
    QString warning; // empty up to 160 characters, else the multi-part warning
};

// n is the length without leading and trailing blanks (spaces only; a line break counts as CR LF).
LengthCounterCaptions LengthCounter(const QString& text);
