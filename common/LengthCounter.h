// The length rule of message texts: at most three SMS parts in the encoding the message will travel in
// (480 characters of the GSM alphabet, 210 in Unicode), a live count, and a warning when the text will
// travel as several SMS. The same rule stands under every message field of the program.
#pragma once

#include "common/Charset.h"

#include <QString>

inline constexpr int MaxMessageLength = 480;
inline constexpr int MaxMessageParts = 3;

struct LengthCounterCaptions {
    QString count;   // "Typed: n/480 characters." (or "Typed: n/210 characters (Unicode).")
    QString warning; // empty while the text is one SMS, else the multi-part warning
    bool unicode = false;
    int parts = 1;
    int limit = MaxMessageLength; // the most characters the field takes in the encoding the text travels in
};

// n is the length without leading and trailing blanks (spaces only; a line break counts as CR LF).
LengthCounterCaptions LengthCounter(const QString& text, Charset::Mode mode = Charset::Mode::Text);

// Whether a text fits a message field: at most three parts in its encoding.
bool FitsMessageField(const QString& text, Charset::Mode mode = Charset::Mode::Text);
