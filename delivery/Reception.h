// Reception: the messages on the SIM card listed, stored in the Inbox and only then deleted from the SIM;
// delivery reports kept on the SIM put on their rows; the parts of long messages kept until the PartsJoiner
// can make them one Inbox message. Driven from the user-interface thread by the modem link's results; a
// reception is either idle or running.
#pragma once

#include "store/InboxRepository.h"
#include "store/PartsRepository.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

struct AppState;
struct DeliveryNews;
struct ListResult;
class ActivityLog;
class Database;
class ModemLink;
class ReportMatcher;

// Tells the user of a message stored in the Inbox: the row, the sound, the news.
class InboxAnnouncer {
public:
    InboxAnnouncer(AppState& state, const DeliveryNews& news) : state(state), news(news) {}
    void announce(const QString& number, const QString& text, const QDateTime& received, qint64 id);
    // The modem whose reception this is.
    const DeliveryNews& about() const { return news; }

private:
    AppState& state;
    const DeliveryNews& news;
};

// Joins the parts of long messages into Inbox messages once all have come, or once they have waited too long.
class PartsJoiner {
public:
    // Hours the parts of a long message are waited for before what came is stored with the gaps marked.
    static constexpr int PartsWaitHours = 24;

    PartsJoiner(AppState& state, Database& db, ActivityLog& log, InboxAnnouncer& announcer);
    // Stores the long messages whose parts have all come (or waited too long) in the Inbox; true if any.
    bool join();

private:
    AppState& state;
    Database& db;
    InboxRepository inbox;
    PartsRepository parts;
    ActivityLog& log;
    InboxAnnouncer& announcer;
};

class Reception {
public:
    Reception(AppState& state, Database& db, ActivityLog& log, ModemLink& link, ReportMatcher& reports,
              const DeliveryNews& news);
    ~Reception();

    // Starts a reception (false when one already runs); finished is called when its deletions are done.
    bool start(qint16 listWait, std::function<void()> finished);
    bool running() const { return current != nullptr; }

private:
    struct Current;
    void listed(const ListResult& r);
    void end();
    // Deletes a SIM copy whose message is stored; deleted runs once the modem has deleted it.
    void deleteFromSim(int index, std::function<void()> deleted);
    // A stop word puts the sender on the opt-out list and holds back what waits for it; START may take it off.
    void honourOptOut(const QString& number, const QString& text);

    AppState& state;
    InboxRepository inbox;
    PartsRepository parts;
    ActivityLog& log;
    ModemLink& link;
    ReportMatcher& reports;
    const DeliveryNews& news;
    InboxAnnouncer announcer;
    PartsJoiner joiner;
    std::unique_ptr<Current> current;
    Database& db;
};

// The sender as reception stores it: ten characters or fewer get a "+"; longer ones keep a leading "+" or
// "0", others get a "+".
QString NormaliseSenderNumber(const QString& listed);
