#include "store/OutboxRepository.h"

#include "store/Database.h"
#include "store/SendingLimits.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

// Rows waiting to be sent whose next attempt and chosen time are due, that quiet hours do not hold, queued by
// themselves or in a running campaign (bound: now, now, whether only replies to missed calls may go, whether
// nothing may, RunningCampaign); eligibleValues gives them. A paused campaign's rows wait where they are; a
// cancelled one's no longer wait at all.
const QString Eligible = QStringLiteral("DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR DeliveryStatus = '')"
                                        " AND (NextAttempt IS NULL OR NextAttempt <= ?)"
                                        " AND (SendAt IS NULL OR SendAt <= ?) AND (? = 0 OR AutoReply <> 0) AND ? = 0"
                                        " AND (CampaignId IS NULL OR EXISTS (SELECT 1 FROM Campaigns WHERE "
                                        "Campaigns.Id = Message_OutBox.CampaignId AND Campaigns.State = ?))");
const QString RunningCampaign = QStringLiteral("running");

// A row the user may still move or cancel: waiting, and no modem has it.
const QString Waiting = QStringLiteral(" WHERE Outbox_Id = ? AND DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL "
                                       "OR DeliveryStatus = '') AND ClaimedBy IS NULL");

// Rows a modem may claim (bound: now, the modem): nobody holds them, or the lease ran out; kept for no modem or
// for this one.
const QString Claimable = QStringLiteral(" AND (ClaimedBy IS NULL OR ClaimUntil IS NULL OR ClaimUntil <= ?)"
                                         " AND (ModemId IS NULL OR ModemId = ?)");
// The same, and also what the modem holds itself (bound: now, the modem, the modem).
const QString ClaimableOrHeld = QStringLiteral(" AND (ClaimedBy IS NULL OR ClaimUntil IS NULL OR ClaimUntil <= ? OR "
                                               "ClaimedBy = ?) AND (ModemId IS NULL OR ModemId = ?)");

// What ends a claim, set beside an outcome: the row is free for any modem.
const QString EndClaim = QStringLiteral("ClaimedBy = NULL, ClaimUntil = NULL");

QVariant nullWhenEmpty(const QString& s)
{
    return s.isEmpty() ? QVariant(QString()) : QVariant(s);
}

QString sqlErrorText(const QSqlError& e)
{
    const QString t = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return t.isEmpty() ? QStringLiteral("Unknown database error") : t;
}

QVariant timeOrNull(const QDateTime& t)
{
    return t.isValid() ? QVariant(Database::DbTime(t)) : QVariant(QString());
}

} // namespace

QVariantList OutboxRepository::eligibleValues(const QString& now) const
{
    return {now, now, hold == Hold::AllButAutoReplies ? 1 : 0, hold == Hold::Everything ? 1 : 0, RunningCampaign};
}

qint64 OutboxRepository::queueMessage(const QString& number, const QString& text, const QDateTime& at, int modem,
                                      const QueueOptions& options)
{
    return db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                                    "ModemId, SendAt, AutoReply) VALUES (0, ?, ?, ?, ?, ?, ?)"),
                     {number, text, Database::DbTime(at), modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(),
                      timeOrNull(options.sendAt), Database::DbBool(options.autoReply)});
}

bool OutboxRepository::reschedule(qint64 id, const QDateTime& sendAt)
{
    return db.execute(QStringLiteral("UPDATE Message_OutBox SET SendAt = ?") + Waiting, {timeOrNull(sendAt), id}) > 0;
}

bool OutboxRepository::cancel(qint64 id)
{
    return db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?") + Waiting,
                      {QString::fromLatin1(CancelledStatus), QStringLiteral("cancelled by the user"), id}) > 0;
}

OutboxRepository::Batch::Batch(Database& db, qint64 campaign)
    : db(db), insert(std::make_unique<QSqlQuery>(db.connection())), campaign(campaign)
{
    // RecepId keeps its default, 0, as for a message queued by itself.
    if (!insert->prepare(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, "
                                        "SendAt, CampaignId) VALUES (?, ?, ?, ?, ?)")))
        throw DbError(sqlErrorText(insert->lastError()));
}

OutboxRepository::Batch::~Batch() = default;

qint64 OutboxRepository::Batch::add(const QString& number, const QString& text, const QDateTime& at,
                                    const QDateTime& sendAt)
{
    insert->bindValue(0, db.bindable(number));
    insert->bindValue(1, db.bindable(text));
    insert->bindValue(2, Database::DbTime(at));
    insert->bindValue(3, timeOrNull(sendAt));
    insert->bindValue(4, campaign > 0 ? QVariant(campaign) : QVariant());
    if (!insert->exec())
        throw DbError(sqlErrorText(insert->lastError()));
    return insert->lastInsertId().toLongLong();
}

qint64 OutboxRepository::countDue(const QDateTime& now, int modem)
{
    const QString t = Database::DbTime(now);
    if (modem <= 0)
        return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + Eligible, eligibleValues(t));
    return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + Eligible + Claimable,
                    eligibleValues(t) + QVariantList{t, db.modemKey(modem)});
}

qint64 OutboxRepository::lastDue(const QDateTime& now, int modem)
{
    const QString t = Database::DbTime(now);
    if (modem <= 0)
        return db
            .scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox WHERE ") + Eligible, eligibleValues(t))
            .toLongLong();
    return db
        .scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox WHERE ") + Eligible + Claimable,
                eligibleValues(t) + QVariantList{t, db.modemKey(modem)})
        .toLongLong();
}

std::optional<DueOutboxRow> OutboxRepository::claim(int modem, const QDateTime& now, std::chrono::seconds lease,
                                                    qint64 afterId, qint64 lastId)
{
    return take(modem, now, lease, afterId, lastId, false);
}

std::optional<DueOutboxRow> OutboxRepository::claimNextRow(const QDateTime& now, qint64 afterId, qint64 lastId)
{
    return take(1, now, DefaultLease, afterId, lastId, true);
}

std::optional<DueOutboxRow> OutboxRepository::claimNext(int modem, const QDateTime& now, std::chrono::seconds lease,
                                                        qint64 afterId, qint64 lastId)
{
    return take(modem, now, lease, afterId, lastId, true);
}

std::optional<DueOutboxRow> OutboxRepository::take(int modem, const QDateTime& now, std::chrono::seconds lease,
                                                   qint64 afterId, qint64 lastId, bool heldByItToo)
{
    const QString t = Database::DbTime(now);
    const QString claimable = Eligible + (heldByItToo ? ClaimableOrHeld : Claimable);
    const int key = db.modemKey(modem);
    QVariantList conditions = eligibleValues(t) + QVariantList{t};
    if (heldByItToo)
        conditions << key;
    conditions << key;
    const QVariantList values = QVariantList{key, Database::DbTime(now.addSecs(lease.count()))} + conditions +
                                conditions + QVariantList{afterId, lastId};
    // The claim's commit does not wait for the disk, which would cost more than all the rest of a pick. Lost in a
    // power cut, a claim leaves the row free, as it was before; and nothing is sent before markSending, whose
    // commit waits for the disk and so takes the claim written before it along. (A server makes that choice
    // itself.)
    const int synchronous =
        db.isServer() ? 0 : db.scalar(QStringLiteral("PRAGMA synchronous")).toInt(); // 0 OFF, 1 NORMAL, 2 FULL
    const QString restore = QStringLiteral("PRAGMA synchronous=%1").arg(synchronous);
    if (synchronous > 1)
        db.execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
    std::optional<DueOutboxRow> taken;
    try {
        // The row is chosen and taken by the one statement: SQLite holds its write lock from the choice to the
        // change, so a second claimer waits and then chooses among what is left. A server locks only the row: the
        // choice passes over rows another claimer holds locked (SKIP LOCKED) instead of waiting for them and then
        // finding them taken. The conditions are said again outside the choice for a row changed between the
        // choice and the lock: the claimer then takes nothing this time.
        Query row(db,
                  QStringLiteral("UPDATE Message_OutBox SET ClaimedBy = ?, ClaimUntil = ? WHERE ") + claimable +
                      QStringLiteral(" AND Outbox_Id = (SELECT Outbox_Id FROM Message_OutBox WHERE ") + claimable +
                      QStringLiteral(" AND Outbox_Id > ? AND Outbox_Id <= ? ORDER BY Outbox_Id LIMIT 1") +
                      (db.isServer() ? QStringLiteral(" FOR UPDATE SKIP LOCKED") : QString()) +
                      QStringLiteral(") RETURNING Outbox_Id, RecipientMobileNo, Message, Attempts, PartsSent, "
                                     "OptOutReply"),
                  values);
        if (row.next())
            taken = DueOutboxRow{row.value(0).toLongLong(), row.value(1).toString(), row.value(2).toString(),
                                 row.value(3).toInt(),      row.value(4).toInt(),    row.value(5).toInt() != 0};
    } catch (const DbError&) {
        try {
            if (synchronous > 1)
                db.execute(restore);
        } catch (const DbError&) {
            // The claim's own complaint is the one to tell.
        }
        throw;
    }
    if (synchronous > 1)
        db.execute(restore);
    return taken;
}

int OutboxRepository::renewLease(int modem, const QDateTime& now, std::chrono::seconds lease)
{
    return db.execute(QStringLiteral("UPDATE Message_OutBox SET ClaimUntil = ? WHERE ClaimedBy = ?"),
                      {Database::DbTime(now.addSecs(lease.count())), db.modemKey(modem)});
}

void OutboxRepository::release(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET ") + EndClaim + QStringLiteral(" WHERE Outbox_Id = ?"), {id});
}

int OutboxRepository::releaseAll(int modem)
{
    return db.execute(QStringLiteral("UPDATE Message_OutBox SET ") + EndClaim + QStringLiteral(" WHERE ClaimedBy = ?"),
                      {db.modemKey(modem)});
}

void OutboxRepository::pin(qint64 id, int modem)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET ModemId = ? WHERE Outbox_Id = ? AND DeliveryDatetime IS NULL"),
               {modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(), id});
}

std::optional<QString> OutboxRepository::deliveryMode()
{
    Query q(db, QStringLiteral("SELECT SMSDelevaryMode FROM Timer_setting ORDER BY rowid LIMIT 1"));
    if (!q.next())
        return std::nullopt;
    return q.value(0).toString();
}

void OutboxRepository::markInvalidNumber(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, ") + EndClaim +
                   QStringLiteral(" WHERE Outbox_Id = ?"),
               {QStringLiteral("INVALID NUMBER"), QStringLiteral("not a phone number"), id});
}

void OutboxRepository::markEmptyMessage(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, ") + EndClaim +
                   QStringLiteral(" WHERE Outbox_Id = ?"),
               {QStringLiteral("EMPTY MESSAGE"), QStringLiteral("the message is empty"), id});
}

void OutboxRepository::markSending(qint64 id, const QDateTime& now)
{
    // The attempt's modem is kept for the failures each modem counts.
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, Attempts = Attempts + 1, LastAttempt = ?, "
                              "LastModemId = coalesce(ClaimedBy, LastModemId) WHERE Outbox_Id = ?"),
               {QStringLiteral("SENDING"), Database::DbTime(now), id});
}

void OutboxRepository::recordStoredCopy(qint64 id, int simIndex)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET SimIndex = ? WHERE Outbox_Id = ?"), {simIndex, id});
}

void OutboxRepository::forgetStoredCopy(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET SimIndex = NULL WHERE Outbox_Id = ?"), {id});
}

void OutboxRepository::recordPartSent(qint64 id, int partsSent, const QString& reference)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET PartsSent = ?, PartReferences = "
                              "trim(coalesce(PartReferences, '') || ',' || ?, ',') WHERE Outbox_Id = ?"),
               {partsSent, reference, id});
}

void OutboxRepository::markSent(qint64 id, const QDateTime& now, int modem, const QString& modemName, int parts)
{
    // The sending limits count what the modem sent: recorded with the row in one transaction, so that a row
    // marked again after a failure is counted once.
    db.beginTransaction();
    try {
        db.execute(SentPartsInsertFor(), {modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(), db.modemKey(1),
                                          Database::DbTime(now), parts, id});
        markSentRow(id, now, modem, modemName);
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

void OutboxRepository::markSentRow(qint64 id, const QDateTime& now, int modem, const QString& modemName)
{
    // Every value on the right is the row's before the change: the holder is read before it is cleared.
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, DeliveryDatetime = ?, LastError = NULL, "
                              "NextAttempt = NULL, ModemId = coalesce(?, ClaimedBy, ModemId), "
                              "LastModemId = coalesce(?, ClaimedBy, LastModemId), ModemName = ?, ") +
                   EndClaim + QStringLiteral(" WHERE Outbox_Id = ?"),
               {QStringLiteral("SENT"), Database::DbTime(now), modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(),
                modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(), nullWhenEmpty(modemName), id});
}

void OutboxRepository::putBack(qint64 id, bool reachedModem)
{
    db.execute(
        QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', Attempts = CASE WHEN ? <> 0 THEN Attempts "
                       "WHEN Attempts > 1 THEN Attempts - 1 ELSE 0 END, ") +
            EndClaim + QStringLiteral(" WHERE Outbox_Id = ?"),
        {Database::DbBool(reachedModem), id});
}

void OutboxRepository::recordAttempt(qint64 id, const QString& reason)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ?, ") + EndClaim +
                   QStringLiteral(" WHERE Outbox_Id = ?"),
               {reason, id});
}

void OutboxRepository::markFailed(qint64 id, const QString& reason)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, NextAttempt = NULL, "
                              "LastModemId = coalesce(ClaimedBy, LastModemId), ") +
                   EndClaim + QStringLiteral(" WHERE Outbox_Id = ?"),
               {QStringLiteral("FAILED"), reason, id});
}

void OutboxRepository::scheduleRetry(qint64 id, const QString& reason, const QDateTime& next)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ?, NextAttempt = ?, ") +
                   EndClaim + QStringLiteral(" WHERE Outbox_Id = ?"),
               {reason, Database::DbTime(next), id});
}

void OutboxRepository::giveBackAttempt(qint64 id)
{
    db.execute(
        QStringLiteral("UPDATE Message_OutBox SET Attempts = CASE WHEN Attempts > 1 THEN Attempts - 1 ELSE 0 END "
                       "WHERE Outbox_Id = ?"),
        {id});
}

void OutboxRepository::settleUnsent(qint64 id, const QString& reason)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ?, ") + EndClaim +
                   QStringLiteral(" WHERE Outbox_Id = ? AND DeliveryStatus = ?"),
               {nullWhenEmpty(reason), id, QStringLiteral("SENDING")});
}

QList<SentOutboxRow> OutboxRepository::sentRowsWithReference(int reference)
{
    QList<SentOutboxRow> rows;
    Query q(db,
            QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, PartReferences, PartsDelivered FROM Message_OutBox "
                           "WHERE DeliveryDatetime IS NOT NULL AND (',' || PartReferences || ',') LIKE ? ORDER BY "
                           "Outbox_Id DESC LIMIT 20"),
            {QStringLiteral("%,%1,%").arg(reference)});
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(),
                     int(q.value(2).toString().split(QLatin1Char(','), Qt::SkipEmptyParts).size()),
                     q.value(3).toInt()});
    return rows;
}

void OutboxRepository::recordReport(qint64 id, const QString& status, const QDateTime& at, int partsDelivered)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET ReportStatus = ?, ReportedAt = ?, PartsDelivered = ? WHERE "
                              "Outbox_Id = ?"),
               {status, Database::DbTime(at), partsDelivered, id});
}

std::optional<OutboxRecord> OutboxRepository::record(qint64 id)
{
    Query q(db,
            QStringLiteral("SELECT Message, DeliveryStatus, Attempts, NextAttempt, LastError, ClaimedBy, ClaimUntil, "
                           "ModemId, ModemName FROM Message_OutBox WHERE Outbox_Id = ?"),
            {id});
    if (!q.next())
        return std::nullopt;
    // A modem of another computer sharing the base is none of this one's: -1.
    auto modemOfRow = [&](const QVariant& value) {
        const qint64 key = value.toLongLong();
        const int own = db.modemOfKey(key);
        return key == 0 ? 0 : own > 0 ? own : -1;
    };
    return OutboxRecord{q.value(0).toString(),
                        q.value(1).toString(),
                        q.value(2).toInt(),
                        Database::FromDbTime(q.value(3)),
                        q.value(4).toString(),
                        modemOfRow(q.value(5)),
                        Database::FromDbTime(q.value(6)),
                        modemOfRow(q.value(7)),
                        q.value(8).toString()};
}
