#include "views/ModemPanelModel.h"

#include "store/Database.h"

#include <QStringList>

namespace {

const QString Separator = QStringLiteral(" · ");

QString displayName(const ModemStatus& status)
{
    return status.name.isEmpty() ? QStringLiteral("Modem %1").arg(status.modemId) : status.name;
}

QString registrationText(ModemHealth::Registration registration)
{
    using R = ModemHealth::Registration;
    switch (registration) {
    case R::Home:
    case R::HomeCsfbNotPreferred:
        return QStringLiteral("Home");
    case R::HomeSmsOnly:
        return QStringLiteral("Home (SMS only)");
    case R::Roaming:
    case R::RoamingCsfbNotPreferred:
        return QStringLiteral("Roaming");
    case R::RoamingSmsOnly:
        return QStringLiteral("Roaming (SMS only)");
    case R::EmergencyOnly:
        return QStringLiteral("Emergency only");
    case R::Searching:
        return QStringLiteral("Searching");
    case R::Denied:
        return QStringLiteral("Denied");
    case R::NotRegistered:
        return QStringLiteral("Not registered");
    case R::Unknown:
        break;
    }
    return QStringLiteral("Unknown");
}

// The radio as last polled means something only while the modem is connected; before the first poll
// nothing is known (an rssi of 99 then is the default, not "no signal").
bool radioKnown(const ModemStatus& status)
{
    return status.connected && status.health.checked.isValid();
}

} // namespace

QString ModemStateText(const ModemPanelRow& row)
{
    const ModemStatus& s = row.status;
    if (!row.switchedOn)
        return QStringLiteral("Switched off");
    if (s.connecting || (s.connected && !s.ready))
        return QStringLiteral("Connecting");
    if (s.connected)
        return QStringLiteral("Connected");
    // Disconnected with a problem to tell: the session retries, or waits for its device to come back.
    return s.lastError.isEmpty() ? QStringLiteral("Disconnected") : QStringLiteral("Waiting to try again");
}

QString ModemSummaryLine(const QList<ModemPanelRow>& modems, qint64 queued)
{
    int on = 0;
    int ready = 0;
    const ModemPanelRow* troubled = nullptr;
    for (const ModemPanelRow& m : modems) {
        if (!m.switchedOn)
            continue;
        ++on;
        if (m.status.connected && m.status.ready)
            ++ready;
        if (!troubled && !m.status.lastError.isEmpty())
            troubled = &m;
    }
    QStringList parts;
    parts << (on == 0 ? QStringLiteral("All modems switched off")
                      : QStringLiteral("%1 of %2 modems ready").arg(ready).arg(on));
    if (queued > 0)
        parts << QStringLiteral("%1 queued").arg(queued);
    if (troubled)
        parts << displayName(troubled->status) + QStringLiteral(": ") + troubled->status.lastError;
    return parts.join(Separator);
}

ModemPanelModel::ModemPanelModel(Counter counter, QObject* parent) : QAbstractTableModel(parent), counter(counter)
{
    countsTimer.setSingleShot(true);
    countsTimer.setInterval(1000);
    connect(&countsTimer, &QTimer::timeout, this, [this] {
        if (!countsDue)
            return;
        countsDue = false;
        recount();
        countsTimer.start();
    });
}

void ModemPanelModel::setStatus(const ModemStatus& status, bool switchedOn)
{
    for (int r = 0; r < rows.size(); ++r) {
        ModemPanelRow& row = rows[r];
        if (row.status.modemId != status.modemId)
            continue;
        if (row.status == status && row.switchedOn == switchedOn)
            return;
        row.status = status;
        row.switchedOn = switchedOn;
        Q_EMIT dataChanged(index(r, 0), index(r, ColumnCount - 1));
        return;
    }
    ModemPanelRow row{status, switchedOn, {}};
    if (counter) {
        try {
            row.counts = counter(status.modemId);
        } catch (const DbError&) {
            // Counted again with the next change of the folders; the engine's own work tells the user when the
            // database fails.
        }
    }
    beginInsertRows({}, rows.size(), rows.size());
    rows.append(row);
    endInsertRows();
}

void ModemPanelModel::refreshCounts()
{
    if (countsTimer.isActive()) {
        countsDue = true;
        return;
    }
    recount();
    countsTimer.start();
}

void ModemPanelModel::recount()
{
    if (!counter)
        return;
    for (int r = 0; r < rows.size(); ++r) {
        ModemCounts counts;
        try {
            counts = counter(rows[r].status.modemId);
        } catch (const DbError&) {
            continue; // the last counts stay until the database answers again
        }
        if (counts == rows[r].counts)
            continue;
        rows[r].counts = counts;
        Q_EMIT dataChanged(index(r, SentToday), index(r, Failed));
    }
}

int ModemPanelModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int ModemPanelModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ModemPanelModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return {};
    const ModemPanelRow& row = rows[index.row()];
    const ModemStatus& s = row.status;
    if (role == Qt::TextAlignmentRole)
        return index.column() >= SentToday ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role == Qt::ToolTipRole && index.column() == State && !s.lastError.isEmpty())
        return s.lastError;
    // The sending limits beside what the modem sent: how close it is to being held back.
    if (role == Qt::ToolTipRole && index.column() == SentToday && !row.counts.limitsUsed.isEmpty())
        return QStringLiteral("Limits: ") + row.counts.limitsUsed;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Name:
        return displayName(s);
    case Port:
        return s.port > 0 ? QStringLiteral("COM %1").arg(s.port) : QString();
    case State:
        return s.lastError.isEmpty() || !row.switchedOn ? ModemStateText(row)
                                                        : ModemStateText(row) + Separator + s.lastError;
    case Signal:
        if (!radioKnown(s))
            return QString();
        return s.health.rssi == 99 ? QStringLiteral("no signal") : QStringLiteral("%1 dBm").arg(s.health.dbm());
    case Registration:
        return radioKnown(s) ? registrationText(s.health.registration) : QString();
    case Operator:
        return radioKnown(s) ? s.health.operatorName : QString();
    case Sim:
        return s.health.imsi.isEmpty() ? s.health.iccid : s.health.imsi;
    case SentToday:
        return row.counts.sentToday;
    case Queued:
        return row.counts.queued;
    case Failed:
        return row.counts.failed;
    default:
        return {};
    }
}

QVariant ModemPanelModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    static const char* const captions[ColumnCount] = {"Modem",    "Port", "State",      "Signal", "Registration",
                                                      "Operator", "SIM",  "Sent today", "Queued", "Failed"};
    return QString::fromLatin1(captions[section]);
}
