// Campaigns: a wizard run queued under a name, whose rows can be paused, resumed or cancelled together and
// counted by what became of them. The Outbox's claim rule takes only the rows of a running campaign (or of
// none), so pausing is the campaign's state alone; cancelling also ends its waiting rows as CANCELLED.
// Every operation throws DbError when the database fails.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class Database;
class Query;

enum class CampaignState { Running, Paused, Cancelled, Loading };

struct Campaign {
    qint64 id = 0;
    QString name;
    QDateTime created;
    CampaignState state = CampaignState::Running;
};

// What became of a campaign's rows. A row counts once, by where it stands now.
struct CampaignCounts {
    qint64 queued = 0;    // still waiting (or under submission)
    qint64 sent = 0;      // sent, whether or not a report came
    qint64 failed = 0;    // given up after its attempts, an invalid number or an empty message
    qint64 delivered = 0; // sent and reported delivered (counted in sent too)
    qint64 optedOut = 0;
    qint64 cancelled = 0;
};

class CampaignRepository {
public:
    static constexpr const char* CancelledStatus = "CANCELLED";

    explicit CampaignRepository(Database& db) : db(db) {}

    // A new running campaign.
    qint64 create(const QString& name, const QDateTime& created);

    // The process that loads a campaign: on which computer, its id there, and since when.
    struct Loader {
        qint64 pid = 0;
        QString host;
        QDateTime started;
        static Loader ThisProcess(const QDateTime& now);
    };
    // How long a load may run before it counts as abandoned whatever its process, whose id may have been
    // given to another since.
    static constexpr qint64 AbandonedAfterSeconds = 24 * 60 * 60;
    // A new campaign in the loading state, its rows added by the loader; nothing takes them for sending yet.
    qint64 startLoad(const QString& name, const Loader& loader);
    // The loaded campaign runs; false when it is no longer loading (it was removed meanwhile).
    bool finishLoad(qint64 id);
    // Removes a loading campaign and its rows, a slice per transaction so that no other writer waits long;
    // the campaign goes last, so that a removal cut short is finished by the next one.
    void dropLoad(qint64 id);
    // Removes the loads whose process is gone (on this computer, no such process) or that began more than a
    // day before now; gives how many.
    int dropAbandonedLoads(const QDateTime& now);
    std::optional<Campaign> campaign(qint64 id);
    // Every campaign, the newest first.
    QList<Campaign> list();

    // Pauses a running campaign / resumes a paused one; false when it was in no state to be.
    bool pause(qint64 id);
    bool resume(qint64 id);
    // Cancels a running or paused campaign: its rows still waiting, and not held by a modem that is sending
    // them, become CANCELLED. Gives how many rows were cancelled, or -1 when the campaign was already
    // cancelled, is still loading or does not exist.
    qint64 cancel(qint64 id);

    CampaignCounts counts(qint64 id);

    static QString StateText(CampaignState s);

private:
    Database& db;
};

// A campaign's results for export, in queueing order, read in one forward pass and given one row at a time:
// number, message (whole, line breaks included), status (SENT, QUEUED, or the one stored: SENDING, FAILED,
// OPTED OUT, CANCELLED...), when it was sent (local time, ISO 8601 with its offset), the modem that sent it, and
// what the delivery report said. Throws DbError.
class CampaignResults {
public:
    CampaignResults(Database& db, qint64 campaign);
    ~CampaignResults();
    static QStringList header();
    // The next row into row; false at the end.
    bool next(QStringList& row);

private:
    std::unique_ptr<Query> query;
};
