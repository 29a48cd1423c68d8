// Delivery reports put on the sent Outbox row they are about: matched by a part's message reference and the
// recipient's number (its last nine digits), the most recent sent row first.
#pragma once

#include "store/OutboxRepository.h"

#include <QStringList>
#include <functional>

namespace Pdu {
struct StatusReport;
}
struct AppState;
struct DeliveryNews;
class ActivityLog;

class ReportMatcher {
public:
    ReportMatcher(AppState& state, Database& db, ActivityLog& log, const DeliveryNews& news);

    // False when no sent row matches its reference and number.
    bool record(const Pdu::StatusReport& report);
    // A +CDS line's report. One that comes while a submission is under way, before its row is marked sent
    // (the network can be that quick), is matched again once that row is.
    void arrived(const QString& hex, bool submissionUnderWay);
    void matchEarlyReports();

private:
    AppState& state;
    OutboxRepository outbox;
    ActivityLog& log;
    const DeliveryNews& news;
    QStringList earlyReports;
};
