// The modems the program drives, as the settings keep them. The first modem is the ModemSetting row (with the
// message format of the settings), as databases of one modem always had it; further modems are rows of the
// Modems table. A Modems row with id 1 only adds the first modem's name, role, switch and sending limits. Every
// operation throws DbError when the database fails.
#pragma once

#include "store/SendingLimits.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

class Database;

struct ModemConfig {
    enum class Role { Both, Send, Receive };
    int id = 0;   // 1 for the ModemSetting row
    QString name; // what the user calls it; empty: "Modem <id>"
    int port = 0; // the COM number
    QString bitsPerSecond{QStringLiteral("9600")};
    QString parity{QStringLiteral("n")}; // as the serial settings spell it ("115200,n,8,1")
    QString dataBits{QStringLiteral("8")};
    QString stopBits{QStringLiteral("1")};
    QString flowControl{QStringLiteral("0")}; // 0 none, 1 XON/XOFF, 2 RTS/CTS
    QString characterSet{QStringLiteral("GSM")};
    bool callerId = false;
    double delayFactor = 1.0;
    bool pdu = false; // message format PDU, else text
    Role role = Role::Both;
    bool enabled = true; // switched off: kept in the list, never connected
    ModemLimits limits;  // what the operator lets its SIM send

    bool sends() const { return enabled && role != Role::Receive; }
    bool receives() const { return enabled && role != Role::Send; }
    QString displayName() const { return name.isEmpty() ? QStringLiteral("Modem %1").arg(id) : name; }
    bool operator==(const ModemConfig&) const = default;
};

// What the modem panel counts for one modem. Rows sent or failed before the modem was recorded with them count
// for the first modem, the only one there was.
struct ModemCounts {
    int sentToday = 0;    // Sent Items rows this modem sent on the day asked for
    int queued = 0;       // Outbox rows waiting that this modem holds (claimed) or that are pinned to it
    int failed = 0;       // Outbox rows FAILED on their last attempt through this modem
    QString limitsUsed{}; // how much of each sending limit is used ("7/10 min · 120/500 day"); empty without limits
    bool operator==(const ModemCounts&) const = default;
};

class ModemsRepository {
public:
    explicit ModemsRepository(Database& db) : db(db) {}

    // Every configured modem, the first one first (present only when the ModemSetting row exists), then by id.
    QList<ModemConfig> all();
    std::optional<ModemConfig> find(int id);
    // Writes a modem: id 1 to ModemSetting (and the message format), others to their Modems row. A modem with
    // id 0 is added and gets the next free id (at least 2), which is returned.
    int save(const ModemConfig& modem);
    // Removes a further modem; the first modem is only switched off (false is returned for it). The rows the
    // removed modem held or was kept for are free for any modem.
    bool remove(int id);
    // With `now`, also how much of the modem's sending limits is used at that moment.
    ModemCounts counts(int id, const QDate& day, const QDateTime& now = {});

private:
    Database& db;
};
