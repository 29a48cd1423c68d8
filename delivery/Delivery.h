// Moving messages between the database and the modem, one job per class: the Outbox run (OutboxRun),
// reception from the SIM into the Inbox with the joining of long messages (Reception, PartsJoiner), the
// matching of delivery reports to sent rows (ReportMatcher) and the record of incoming calls (CallRecords).
// Delivery is their common front for the engine; what they have to tell goes out through DeliveryNews.
#pragma once

#include "delivery/CallRecords.h"
#include "delivery/DeliveryNews.h"
#include "delivery/OutboxRun.h"
#include "delivery/Reception.h"
#include "delivery/ReportMatcher.h"

#include <QString>
#include <functional>

namespace Pdu {
struct StatusReport;
} // namespace Pdu

struct AppState;
class ActivityLog;
class Database;
class ModemLink;

class Delivery : public DeliveryNews {
public:
    static constexpr int MaxAttempts = OutboxRun::MaxAttempts;
    static constexpr int PauseAfterNetworkFailureMs = OutboxRun::PauseAfterNetworkFailureMs;
    static constexpr int PartsWaitHours = PartsJoiner::PartsWaitHours;

    Delivery(AppState& state, Database& db, ActivityLog& log, ModemLink& link);

    // Starts a delivery run (false when one already runs or delivery pauses); finished is called when it ends.
    bool SendAllOutboxSMS(std::function<void()> finished = {}) { return outboxRun.start(std::move(finished)); }
    // Starts a reception (false when one already runs); finished is called when its deletions are done.
    bool ReceiveAllSIMMessages(qint16 listWait, std::function<void()> finished = {})
    {
        return reception.start(listWait, std::move(finished));
    }
    // A delivery report put on the sent row it is about; false when no sent row matches its reference and
    // number.
    bool RecordStatusReport(const Pdu::StatusReport& report) { return reports.record(report); }
    // A +CDS line's report.
    void StatusReportArrived(const QString& hex) { reports.arrived(hex, outboxRun.running()); }
    void RecordCallStatistics(const QString& callerNumber) { calls.record(callerNumber); }

    bool sending() const { return outboxRun.running(); }
    bool receiving() const { return reception.running(); }
    // Delivery pauses after a run in which every message failed for the network's or the modem's reason.
    bool paused() const { return outboxRun.paused(); }
    void endPause() { outboxRun.endPause(); }
    // Outbox outcomes the database missed, written now; true when none is left to write.
    bool settleKeptOutcomes() { return outboxRun.settleKept(); }

private:
    ReportMatcher reports;
    OutboxRun outboxRun;
    Reception reception;
    CallRecords calls;

public:
    // Held by the user: a run stops before its next row (the one on the network is finished first).
    bool& held = outboxRun.held;
};
