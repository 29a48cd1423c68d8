// The check the fuzz targets use for their invariants: a broken one ends the run as a crash does, so libFuzzer
// keeps the input that broke it and names the line in its report.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void broken(const char* file, int line, const char* condition, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toUtf8().constData());
    std::abort();
}

// A text shown with its control characters and anything beyond ASCII escaped, so that a report stays readable.
inline QString shown(const QString& s)
{
    QString out;
    for (const QChar c : s) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'\\')
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return u'"' + out + u'"';
}

} // namespace fuzz

// The detail argument is only evaluated when the check fails.
#define FUZZ_CHECK(condition, ...)                                                                                     \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::fuzz::broken(__FILE__, __LINE__, #condition, QString(__VA_ARGS__));                                      \
    } while (0)
