#include "app/ProgressStatus.h"

#include <cmath>

namespace {

// Enough messages to smooth out one slow answer, few enough to follow a change of pace within a minute.
constexpr size_t PaceSamples = 10;

} // namespace

QString TimeLeftText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("less than a minute left");
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    const qint64 hours = minutes / 60, rest = minutes % 60;
    return rest == 0 ? QStringLiteral("about %1 h left").arg(hours)
                     : QStringLiteral("about %1 h %2 min left").arg(hours).arg(rest);
}

void ProgressStatus::delivery(int handled, int total, int failed, bool ended, const QDateTime& now)
{
    if (ended) {
        recent.clear();
        sending.clear();
        return;
    }
    // A new run starts its own pace.
    if (!recent.empty() && handled < recent.back().handled)
        recent.clear();
    recent.push_back({now, handled});
    if (recent.size() > PaceSamples)
        recent.pop_front();

    sending = QStringLiteral("Sending %1 of %2").arg(std::min(handled + 1, total)).arg(total);
    const qint64 spanMs = recent.front().at.msecsTo(recent.back().at);
    const int done = recent.back().handled - recent.front().handled;
    if (done > 0 && spanMs > 0) {
        const double secondsEach = spanMs / 1000.0 / done;
        sending += QStringLiteral(", ") + TimeLeftText(std::llround(secondsEach * std::max(total - handled, 0)));
    }
    if (failed > 0)
        sending += QStringLiteral(", %1 failed").arg(failed);
}

void ProgressStatus::reception(int importing, bool ended)
{
    if (ended || importing <= 0)
        receiving.clear();
    else
        receiving = importing == 1 ? QStringLiteral("Receiving 1 message")
                                   : QStringLiteral("Receiving %1 messages").arg(importing);
}

QString ProgressStatus::text() const
{
    if (sending.isEmpty() || receiving.isEmpty())
        return sending + receiving;
    return sending + QStringLiteral("; ") + receiving;
}
