#include "store/OutboxRepository.h"

#include "store/Database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

// Rows waiting to be sent whose next attempt is due (the first value bound is now).
const QString Eligible = QStringLiteral("DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR DeliveryStatus = '')"
                                        " AND (NextAttempt IS NULL OR NextAttempt <= ?)");

QVariant nullWhenEmpty(const QString& s)
{
    return s.isEmpty() ? QVariant(QString()) : QVariant(s);
}

QString sqlErrorText(const QSqlError& e)
{
    const QString t = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return t.isEmpty() ? QStringLiteral("Unknown database error") : t;
}

} // namespace

qint64 OutboxRepository::queueMessage(const QString& number, const QString& text, const QDateTime& at)
{
    return db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                                    "VALUES (0, ?, ?, ?)"),
                     {number, text, Database::DbTime(at)});
}

OutboxRepository::Batch::Batch(Database& db) : insert(std::make_unique<QSqlQuery>(db.connection()))
{
    // RecepId keeps its default, 0, as for a message queued by itself.
    if (!insert->prepare(
            QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime) VALUES (?, ?, ?)")))
        throw DbError(sqlErrorText(insert->lastError()));
}

OutboxRepository::Batch::~Batch() = default;

void OutboxRepository::Batch::add(const QString& number, const QString& text, const QDateTime& at)
{
    insert->bindValue(0, number);
    insert->bindValue(1, text);
    insert->bindValue(2, Database::DbTime(at));
    if (!insert->exec())
        throw DbError(sqlErrorText(insert->lastError()));
}

qint64 OutboxRepository::countDue(const QDateTime& now)
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE ") + Eligible, {Database::DbTime(now)});
}

qint64 OutboxRepository::lastDue(const QDateTime& now)
{
    return db
        .scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox WHERE ") + Eligible, {Database::DbTime(now)})
        .toLongLong();
}

std::optional<DueOutboxRow> OutboxRepository::claimNextRow(const QDateTime& now, qint64 afterId, qint64 lastId)
{
    Query row(db,
              QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, Message, Attempts, PartsSent FROM Message_OutBox "
                             "WHERE ") +
                  Eligible + QStringLiteral(" AND Outbox_Id > ? AND Outbox_Id <= ? ORDER BY Outbox_Id LIMIT 1"),
              {Database::DbTime(now), afterId, lastId});
    if (!row.next())
        return std::nullopt;
    return DueOutboxRow{row.value(0).toLongLong(), row.value(1).toString(), row.value(2).toString(),
                        row.value(3).toInt(), row.value(4).toInt()};
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
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ? WHERE Outbox_Id = ?"),
               {QStringLiteral("INVALID NUMBER"), QStringLiteral("not a phone number"), id});
}

void OutboxRepository::markEmptyMessage(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ? WHERE Outbox_Id = ?"),
               {QStringLiteral("EMPTY MESSAGE"), QStringLiteral("the message is empty"), id});
}

void OutboxRepository::markSending(qint64 id, const QDateTime& now)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, Attempts = Attempts + 1, LastAttempt = ? "
                              "WHERE Outbox_Id = ?"),
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

void OutboxRepository::markSent(qint64 id, const QDateTime& now)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, DeliveryDatetime = ?, LastError = NULL, "
                              "NextAttempt = NULL WHERE Outbox_Id = ?"),
               {QStringLiteral("SENT"), Database::DbTime(now), id});
}

void OutboxRepository::putBack(qint64 id, bool reachedModem)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', Attempts = CASE WHEN ? THEN Attempts "
                              "ELSE max(Attempts - 1, 0) END WHERE Outbox_Id = ?"),
               {reachedModem, id});
}

void OutboxRepository::recordAttempt(qint64 id, const QString& reason)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ? WHERE Outbox_Id = ?"),
               {reason, id});
}

void OutboxRepository::markFailed(qint64 id, const QString& reason)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, NextAttempt = NULL WHERE "
                              "Outbox_Id = ?"),
               {QStringLiteral("FAILED"), reason, id});
}

void OutboxRepository::scheduleRetry(qint64 id, const QString& reason, const QDateTime& next)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ?, NextAttempt = ? WHERE "
                              "Outbox_Id = ?"),
               {reason, Database::DbTime(next), id});
}

void OutboxRepository::giveBackAttempt(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET Attempts = max(Attempts - 1, 0) WHERE Outbox_Id = ?"), {id});
}

void OutboxRepository::settleUnsent(qint64 id, const QString& reason)
{
    db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = '', LastError = ? WHERE Outbox_Id = ? AND "
                              "DeliveryStatus = ?"),
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
            QStringLiteral("SELECT Message, DeliveryStatus, Attempts, NextAttempt, LastError FROM Message_OutBox WHERE "
                           "Outbox_Id = ?"),
            {id});
    if (!q.next())
        return std::nullopt;
    return OutboxRecord{q.value(0).toString(), q.value(1).toString(), q.value(2).toInt(),
                        Database::FromDbTime(q.value(3)), q.value(4).toString()};
}
