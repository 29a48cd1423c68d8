// Hand-over bookkeeping: see HandOverRepository.h.
#include "store/HandOverRepository.h"

#include "store/Database.h"

std::optional<HandOverRow> HandOverRepository::claimNext(const QString& target, const QDateTime& now,
                                                         const QDateTime& heldUntil)
{
    const QString at = Database::DbTime(now);
    // Another dispatcher on the same file may take the row between the look and the update: the update's own
    // conditions then match nothing and the next row is looked at.
    for (int attempt = 0; attempt < 8; ++attempt) {
        Query q(db,
                QStringLiteral("SELECT Id, Kind, RefId, Detail, Tries FROM HandOver WHERE Target = ? AND State IN "
                               "('pending', 'running') AND NextAt <= ? ORDER BY Id LIMIT 1"),
                {target, at});
        if (!q.next())
            return std::nullopt;
        HandOverRow row{q.value(0).toLongLong(), target,
                        q.value(1).toString(),   q.value(2).toLongLong(),
                        q.value(3).toString(),   q.value(4).toInt() + 1};
        if (db.execute(QStringLiteral("UPDATE HandOver SET State = 'running', Tries = ?, NextAt = ? WHERE Id = ? AND "
                                      "Tries = ? AND State IN ('pending', 'running') AND NextAt <= ?"),
                       {row.tries, Database::DbTime(heldUntil), row.id, row.tries - 1, at}) == 1)
            return row;
    }
    return std::nullopt;
}

std::optional<QDateTime> HandOverRepository::nextDue(const QString& target)
{
    const QVariant v = db.scalar(
        QStringLiteral("SELECT min(NextAt) FROM HandOver WHERE Target = ? AND State IN ('pending', 'running')"),
        {target});
    if (v.isNull())
        return std::nullopt;
    if (v.toString().isEmpty())
        return QDateTime::fromMSecsSinceEpoch(0);
    return Database::FromDbTime(v);
}

bool HandOverRepository::finish(const HandOverRow& row, const QString& state, const QVariant& nextAt,
                                const QVariant& error, const QVariant& handedAt)
{
    return db.execute(QStringLiteral("UPDATE HandOver SET State = ?, NextAt = ?, LastError = ?, HandedAt = ? WHERE "
                                     "Id = ? AND State = 'running' AND Tries = ?"),
                      {state, nextAt, error, handedAt, row.id, row.tries}) == 1;
}

bool HandOverRepository::markDone(const HandOverRow& row, const QDateTime& at)
{
    return finish(row, QStringLiteral("done"), QStringLiteral(""), QVariant(QString()), Database::DbTime(at));
}

bool HandOverRepository::markRetry(const HandOverRow& row, const QDateTime& nextAt, const QString& error)
{
    return finish(row, QStringLiteral("pending"), Database::DbTime(nextAt), error, QVariant(QString()));
}

bool HandOverRepository::markFailed(const HandOverRow& row, const QString& error)
{
    return finish(row, QStringLiteral("failed"), QStringLiteral(""), error, QVariant(QString()));
}

void HandOverRepository::release(const HandOverRow& row)
{
    db.execute(QStringLiteral("UPDATE HandOver SET State = 'pending', NextAt = '', Tries = Tries - 1 WHERE Id = ? "
                              "AND State = 'running' AND Tries = ?"),
               {row.id, row.tries});
}

std::optional<HandOverSubject> HandOverRepository::subject(const HandOverRow& row)
{
    QString sql;
    if (row.kind == QLatin1String("message"))
        sql = QStringLiteral("SELECT SenderMobileNo, Message, InboxDateTime, ModemName FROM Message_InBox WHERE "
                             "InBox_Id = ?");
    else if (row.kind == QLatin1String("report"))
        sql = QStringLiteral("SELECT RecipientMobileNo, Message, ReportedAt, ModemName FROM Message_OutBox WHERE "
                             "Outbox_Id = ?");
    else if (row.kind == QLatin1String("call"))
        sql = QStringLiteral("SELECT callerNumber, '', callDateTime, ModemName FROM MissedCallStatistics WHERE id = ?");
    else
        return std::nullopt;
    Query q(db, sql, {row.refId});
    if (!q.next())
        return std::nullopt;
    return HandOverSubject{q.value(0).toString(), q.value(1).toString(), Database::FromDbTime(q.value(2)),
                           q.value(3).toString(), row.detail};
}
