#include "store/CampaignRepository.h"

#include "store/Database.h"
#include "store/FoldersRepository.h"
#include "store/OptOutRepository.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>

namespace {

CampaignState stateOf(const QString& s)
{
    if (s == QLatin1String("paused"))
        return CampaignState::Paused;
    if (s == QLatin1String("cancelled"))
        return CampaignState::Cancelled;
    if (s == QLatin1String("loading"))
        return CampaignState::Loading;
    return CampaignState::Running;
}

Campaign campaignOf(const Query& q)
{
    return {q.value(0).toLongLong(), q.value(1).toString(), Database::FromDbTime(q.value(2)),
            stateOf(q.value(3).toString())};
}

} // namespace

QString CampaignRepository::StateText(CampaignState s)
{
    switch (s) {
    case CampaignState::Paused:
        return QStringLiteral("paused");
    case CampaignState::Cancelled:
        return QStringLiteral("cancelled");
    case CampaignState::Loading:
        return QStringLiteral("loading");
    case CampaignState::Running:
        break;
    }
    return QStringLiteral("running");
}

qint64 CampaignRepository::create(const QString& name, const QDateTime& created)
{
    return db.insert(QStringLiteral("INSERT INTO Campaigns (Name, Created, State) VALUES (?, ?, ?)"),
                     {name, Database::DbTime(created), StateText(CampaignState::Running)});
}

CampaignRepository::Loader CampaignRepository::Loader::ThisProcess(const QDateTime& now)
{
    return {QCoreApplication::applicationPid(), QSysInfo::machineHostName(), now};
}

qint64 CampaignRepository::startLoad(const QString& name, const Loader& loader)
{
    return db.insert(QStringLiteral("INSERT INTO Campaigns (Name, Created, State, LoaderPid, LoaderHost, "
                                    "LoaderStarted) VALUES (?, ?, ?, ?, ?, ?)"),
                     {name, Database::DbTime(loader.started), StateText(CampaignState::Loading), loader.pid,
                      loader.host, Database::DbTime(loader.started)});
}

bool CampaignRepository::finishLoad(qint64 id)
{
    return db.execute(QStringLiteral("UPDATE Campaigns SET State = ?, LoaderPid = NULL, LoaderHost = NULL, "
                                     "LoaderStarted = NULL WHERE Id = ? AND State = ?"),
                      {StateText(CampaignState::Running), id, StateText(CampaignState::Loading)}) > 0;
}

void CampaignRepository::dropLoad(qint64 id)
{
    // About as many rows as a loader writes in one slice: each delete is as short as each of its inserts.
    constexpr int Slice = 2000;
    for (;;) {
        db.beginTransaction();
        try {
            // Only ever the rows of a loading campaign: one that finished meanwhile is left alone.
            const qint64 removed = db.execute(
                QStringLiteral("DELETE FROM Message_OutBox WHERE Outbox_Id IN (SELECT Outbox_Id FROM Message_OutBox "
                               "WHERE CampaignId = ? AND EXISTS (SELECT 1 FROM Campaigns WHERE Id = ? AND State = ?) "
                               "LIMIT %1)")
                    .arg(Slice),
                {id, id, StateText(CampaignState::Loading)});
            if (removed == 0)
                db.execute(QStringLiteral("DELETE FROM Campaigns WHERE Id = ? AND State = ?"),
                           {id, StateText(CampaignState::Loading)});
            db.commit();
            if (removed == 0)
                return;
        } catch (...) {
            db.rollback();
            throw;
        }
    }
}

int CampaignRepository::dropAbandonedLoads(const QDateTime& now)
{
    const QString host = QSysInfo::machineHostName();
    QList<qint64> abandoned;
    {
        Query q(db, QStringLiteral("SELECT Id, LoaderPid, LoaderHost, LoaderStarted FROM Campaigns WHERE State = ?"),
                {StateText(CampaignState::Loading)});
        while (q.next()) {
            const qint64 pid = q.value(1).toLongLong();
            const QDateTime started = Database::FromDbTime(q.value(3));
            // A loader on another computer sharing the file cannot be looked for: only its age tells.
            const bool gone =
                q.value(2).toString() == host && (pid <= 0 || !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
            const bool old = !started.isValid() || started.secsTo(now) > AbandonedAfterSeconds;
            if (gone || old)
                abandoned << q.value(0).toLongLong();
        }
    }
    for (qint64 id : std::as_const(abandoned))
        dropLoad(id);
    return int(abandoned.size());
}

std::optional<Campaign> CampaignRepository::campaign(qint64 id)
{
    Query q(db, QStringLiteral("SELECT Id, Name, Created, State FROM Campaigns WHERE Id = ?"), {id});
    if (!q.next())
        return std::nullopt;
    return campaignOf(q);
}

QList<Campaign> CampaignRepository::list()
{
    QList<Campaign> out;
    Query q(db, QStringLiteral("SELECT Id, Name, Created, State FROM Campaigns ORDER BY Id DESC"));
    while (q.next())
        out.push_back(campaignOf(q));
    return out;
}

bool CampaignRepository::pause(qint64 id)
{
    return db.execute(QStringLiteral("UPDATE Campaigns SET State = ? WHERE Id = ? AND State = ?"),
                      {StateText(CampaignState::Paused), id, StateText(CampaignState::Running)}) > 0;
}

bool CampaignRepository::resume(qint64 id)
{
    return db.execute(QStringLiteral("UPDATE Campaigns SET State = ? WHERE Id = ? AND State = ?"),
                      {StateText(CampaignState::Running), id, StateText(CampaignState::Paused)}) > 0;
}

qint64 CampaignRepository::cancel(qint64 id)
{
    db.beginTransaction();
    try {
        // Said again for a cancelled campaign: a row under submission then that came back to wait (the modem
        // went away) is swept up by the next cancel.
        // A campaign still loading is its loader's to finish or remove.
        if (db.execute(QStringLiteral("UPDATE Campaigns SET State = ? WHERE Id = ? AND State <> ?"),
                       {StateText(CampaignState::Cancelled), id, StateText(CampaignState::Loading)}) == 0) {
            db.rollback();
            return -1;
        }
        // A row under submission (SENDING) is left to its outcome: the modem may already have sent it.
        const qint64 rows =
            db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, ClaimedBy = NULL, "
                                      "ClaimUntil = NULL WHERE CampaignId = ? AND DeliveryDatetime IS NULL AND "
                                      "(DeliveryStatus IS NULL OR DeliveryStatus = '')"),
                       {QString::fromLatin1(CancelledStatus), QStringLiteral("the campaign was cancelled"), id});
        db.commit();
        return rows;
    } catch (...) {
        db.rollback();
        throw;
    }
}

CampaignCounts CampaignRepository::counts(qint64 id)
{
    Query q(
        db,
        QStringLiteral("SELECT"
                       " sum(CASE WHEN DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR"
                       " DeliveryStatus IN ('', 'SENDING')) THEN 1 ELSE 0 END),"
                       " sum(CASE WHEN DeliveryDatetime IS NOT NULL THEN 1 ELSE 0 END),"
                       " sum(CASE WHEN DeliveryDatetime IS NULL AND"
                       " DeliveryStatus IN ('FAILED', 'INVALID NUMBER', 'EMPTY MESSAGE') THEN 1 ELSE 0 END),"
                       " sum(CASE WHEN DeliveryDatetime IS NOT NULL AND ReportStatus = 'Delivered' THEN 1 ELSE 0 END),"
                       " sum(CASE WHEN DeliveryDatetime IS NULL AND DeliveryStatus = ? THEN 1 ELSE 0 END),"
                       " sum(CASE WHEN DeliveryDatetime IS NULL AND DeliveryStatus = ? THEN 1 ELSE 0 END)"
                       " FROM Message_OutBox WHERE CampaignId = ?"),
        {QString::fromLatin1(OptOutRepository::OptedOutStatus), QString::fromLatin1(CancelledStatus), id});
    CampaignCounts c;
    if (q.next()) {
        c.queued = q.value(0).toLongLong();
        c.sent = q.value(1).toLongLong();
        c.failed = q.value(2).toLongLong();
        c.delivered = q.value(3).toLongLong();
        c.optedOut = q.value(4).toLongLong();
        c.cancelled = q.value(5).toLongLong();
    }
    return c;
}

CampaignResults::CampaignResults(Database& db, qint64 campaign)
{
    // A sent row says SENT whatever its status column kept; a waiting row without a status is still queued.
    query = std::make_unique<Query>(
        db,
        QStringLiteral("SELECT RecipientMobileNo, Message, CASE WHEN DeliveryDatetime IS NOT NULL THEN 'SENT' "
                       "WHEN coalesce(DeliveryStatus, '') = '' THEN 'QUEUED' ELSE DeliveryStatus END, "
                       "DeliveryDatetime, ModemName, ReportStatus FROM Message_OutBox WHERE CampaignId = ? "
                       "ORDER BY Outbox_Id"),
        QVariantList{campaign});
}

CampaignResults::~CampaignResults() = default;

QStringList CampaignResults::header()
{
    return {QStringLiteral("Number"), QStringLiteral("Message"), QStringLiteral("Status"),
            QStringLiteral("Sent"),   QStringLiteral("Modem"),   QStringLiteral("Delivery")};
}

bool CampaignResults::next(QStringList& row)
{
    if (!query->next())
        return false;
    const auto text = [this](int column) { return query->value(column).toString(); };
    row = {text(0), text(1), text(2), ExportDateText(query->value(3)), text(4), text(5)};
    return true;
}
