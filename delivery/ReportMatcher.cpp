#include "delivery/ReportMatcher.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "delivery/DeliveryNews.h"
#include "modem/Pdu.h"
#include "store/ActivityLog.h"
#include "store/Database.h"

#include <algorithm>
#include <utility>

namespace {

// The digits a report's number and a row's number are compared by.
QString lastDigits(const QString& n)
{
    QString d;
    for (QChar c : n)
        if (c.isDigit())
            d += c;
    return d.right(9);
}

} // namespace

ReportMatcher::ReportMatcher(AppState& state, Database& db, ActivityLog& log, const DeliveryNews& news)
    : state(state), outbox(db), log(log), news(news)
{}

void ReportMatcher::arrived(const QString& hex, bool submissionUnderWay)
{
    const Pdu::StatusReport report = Pdu::decodeStatusReport(hex);
    if (!report.ok()) {
        log.WriteActivityLog(QStringLiteral("**ERROR** A delivery report could not be read (%1).").arg(report.error));
        return;
    }
    if (!record(report) && submissionUnderWay)
        earlyReports.append(hex);
}

void ReportMatcher::matchEarlyReports()
{
    for (const QString& hex : std::exchange(earlyReports, {}))
        record(Pdu::decodeStatusReport(hex));
}

bool ReportMatcher::record(const Pdu::StatusReport& report)
{
    if (!report.ok())
        return false;
    try {
        for (const SentOutboxRow& row : outbox.sentRowsWithReference(report.messageReference)) {
            if (lastDigits(row.recipient) != lastDigits(report.recipient))
                continue;
            const Pdu::StatusGroup group = Pdu::statusGroup(report.status);
            QString status = Pdu::statusText(report.status);
            int delivered = row.partsDelivered;
            if (group == Pdu::StatusGroup::Completed) {
                delivered = std::min(row.parts, delivered + 1);
                status = delivered >= row.parts
                             ? QStringLiteral("Delivered")
                             : QStringLiteral("Delivered %1 of %2 parts").arg(delivered).arg(row.parts);
            }
            outbox.recordReport(row.id, status,
                                report.dischargeTime.isValid() ? report.dischargeTime : state.clock->now(), delivered);
            log.WriteActivityLog(QStringLiteral("Delivery report for the SMS to %1: %2").arg(row.recipient, status));
            news.outboxTouched();
            return true;
        }
    } catch (const DbError& e) {
        news.failed(e);
    }
    return false;
}
