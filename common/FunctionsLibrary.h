// Small routines shared by the whole program.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// The rounding helpers give nothing for a value that has no whole number in their result type: NaN, an
// infinity, or a number beyond the type's range ("1e300" typed or stored as a number). Callers treat that as
// a text that is not numeric. Test for a value before comparing: std::optional orders nothing below every
// number, so "RoundHalfEven(x) < 3" is true for 1e300.

// Smallest whole number not less than x (RoundUp(1.00625) == 2, RoundUp(2.0) == 2).
[[nodiscard]] std::optional<qint32> RoundUp(double x);

// Removes leading and trailing blanks (space characters only: tabs, CR and LF stay), as every "trim" of
// the program does. Modem answers depend on this: their CR LF framing must survive trimming.
QString Trim(const QString& s);

// True when the text reads as a number in the usual notation: surrounding blanks, a leading or trailing
// sign, a currency sign "$", group separators ",", one decimal point and an exponent are admitted.
bool IsNumeric(const QString& s);
// The value of a text IsNumeric accepts (0 otherwise).
double NumericValue(const QString& s);

// Whole-number conversion that sends halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
[[nodiscard]] std::optional<qint64> RoundHalfEven(double x);

// The date and time as the program shows them (short date, a blank, long time), e.g. in the activity log.
QString GeneralDateTime(const QDateTime& t);

// Milliseconds of a poll delay: delay times factor, rounded to a whole number. A factor that gives no whole
// number of milliseconds in an int (a stored "1e300") is not a usable number: the default factor 1.0 applies.
int ScaledDelay(double factor, double delayMs);
