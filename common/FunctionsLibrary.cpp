#include "common/FunctionsLibrary.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace {

// A whole-valued double as Int, or nothing outside Int's range. The bounds are -2^(n-1), exact as a double,
// and 2^(n-1), the first whole number past the top (Int's maximum itself is not exact as a double).
template <typename Int> std::optional<Int> toInteger(double whole)
{
    constexpr double lowest = static_cast<double>(std::numeric_limits<Int>::min());
    if (!(whole >= lowest && whole < -lowest)) // also refuses NaN
        return std::nullopt;
    return static_cast<Int>(whole);
}

} // namespace

std::optional<qint32> RoundUp(double x)
{
    return toInteger<qint32>(-std::floor(-x));
}

QString Trim(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

namespace {

// Parses the usual notation; returns false when the text is not a number.
bool parseNumber(const QString& text, double* value)
{
    QString s = Trim(text);
    if (s.isEmpty())
        return false;
    bool negative = false;
    auto takeSign = [&](QChar c) {
        if (c == QLatin1Char('+'))
            return true;
        if (c == QLatin1Char('-')) {
            negative = !negative;
            return true;
        }
        return false;
    };
    bool signSeen = false;
    if (takeSign(s.front())) {
        signSeen = true;
        s.remove(0, 1);
        s = Trim(s);
    } else if (takeSign(s.back())) {
        signSeen = true;
        s.chop(1);
        s = Trim(s);
    }
    if (s.startsWith(QLatin1Char('$'))) {
        s.remove(0, 1);
        s = Trim(s);
        if (!signSeen && !s.isEmpty() && takeSign(s.front()))
            s.remove(0, 1);
    }
    if (s.isEmpty())
        return false;

    QString digits;
    bool anyDigit = false, point = false, exponent = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        QChar c = s.at(i);
        if (c.isDigit() && c.unicode() < 128) {
            digits += c;
            anyDigit = true;
        } else if (c == QLatin1Char(',') && !point && !exponent && anyDigit) {
            continue; // group separator
        } else if (c == QLatin1Char('.') && !point && !exponent) {
            point = true;
            digits += c;
        } else if ((c == QLatin1Char('e') || c == QLatin1Char('E')) && anyDigit && !exponent) {
            exponent = true;
            digits += QLatin1Char('e');
            if (i + 1 < s.size() && (s.at(i + 1) == QLatin1Char('+') || s.at(i + 1) == QLatin1Char('-')))
                digits += s.at(++i);
            if (i + 1 >= s.size() || !s.at(i + 1).isDigit())
                return false;
        } else {
            return false;
        }
    }
    if (!anyDigit)
        return false;
    bool ok = false;
    double v = digits.toDouble(&ok);
    if (!ok)
        return false;
    if (value)
        *value = negative ? -v : v;
    return true;
}

} // namespace

bool IsNumeric(const QString& s)
{
    return parseNumber(s, nullptr);
}

double NumericValue(const QString& s)
{
    double v = 0;
    return parseNumber(s, &v) ? v : 0.0;
}

std::optional<qint64> RoundHalfEven(double x)
{
    return toInteger<qint64>(std::nearbyint(x)); // default rounding mode: to nearest, ties to even
}

QString GeneralDateTime(const QDateTime& t)
{
    QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t')); // time-zone name: not part of the general date
    return locale.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(t.time(), timeFormat.trimmed());
}

int ScaledDelay(double factor, double delayMs)
{
    // Halves to even, as every rounding here.
    if (const auto ms = toInteger<int>(std::nearbyint(factor * delayMs)))
        return *ms;
    return toInteger<int>(std::nearbyint(delayMs)).value_or(0);
}
