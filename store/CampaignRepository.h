// Campaigns: a wizard run queued under a name, whose rows can be paused, resumed or cancelled together and
// counted by what became of them. The Outbox's claim rule takes only the rows of a running campaign (or of
// none), so pausing is the campaign's state alone; cancelling also ends its waiting rows as CANCELLED.
// Every operation throws DbError when the database fails.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class Database;

enum class CampaignState { Running, Paused, Cancelled };

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
    std::optional<Campaign> campaign(qint64 id);
    // Every campaign, the newest first.
    QList<Campaign> list();

    // Pauses a running campaign / resumes a paused one; false when it was in no state to be.
    bool pause(qint64 id);
    bool resume(qint64 id);
    // Cancels a running or paused campaign: its rows still waiting, and not held by a modem that is sending
    // them, become CANCELLED. Gives how many rows were cancelled, or -1 when the campaign was already
    // cancelled or does not exist.
    qint64 cancel(qint64 id);

    CampaignCounts counts(qint64 id);

    static QString StateText(CampaignState s);

private:
    Database& db;
};
