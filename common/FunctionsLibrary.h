// Small routines shared by the whole program.
#pragma once

#include <QDateTime>
#include <QString>

class QWindow;

// Smallest whole number not less than x (RoundUp(1.00625) == 2, RoundUp(2.0) == 2).
qint32 RoundUp(double x);

// Removes leading and trailing blanks (space characters only: tabs, CR and LF stay), as every "trim" of
// the program does. Modem answers depend on this: their CR LF framing must survive trimming.
QString Trim(const QString& s);

// True when the text reads as a number in the usual notation: surrounding blanks, a leading or trailing
// sign, a currency sign "$", group separators ",", one decimal point and an exponent are admitted.
bool IsNumeric(const QString& s);
// The value of a text IsNumeric accepts (0 otherwise).
double NumericValue(const QString& s);

// Whole-number conversion that sends halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
qint64 RoundHalfEven(double x);

// Sets or clears a window's always-on-top state without moving, resizing or activating it.
void SetWindowOnTop(QWindow* window, bool onTop);

// The date and time as the program shows them (short date, a blank, long time), e.g. in the activity log.
QString GeneralDateTime(const QDateTime& t);

// Milliseconds of a poll delay: delay times factor, rounded to a whole number.
int ScaledDelay(double factor, double delayMs);
