#include "store/CallsRepository.h"

#include "store/Database.h"

void CallsRepository::recordMissedCall(const QString& callerNumber, const QDateTime& at, int modem,
                                       const QString& modemName)
{
    db.execute(QStringLiteral("INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall, ModemId, "
                              "ModemName) VALUES (?, ?, ?, ?, ?)"),
               {callerNumber.isEmpty() ? QVariant(QString()) : QVariant(callerNumber), Database::DbTime(at),
                Database::DbBool(true), modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(),
                modemName.isEmpty() ? QVariant(QString()) : QVariant(modemName)});
}

QList<MissedCall> CallsRepository::missedCalls(const QDate& from, const QDate& to)
{
    // Whole days: from local midnight of the first day to the midnight after the last one, so a call in the
    // last minute of a day belongs to that day.
    const auto [start, end] = Database::DayRange(from, to);
    QList<MissedCall> calls;
    Query q(db,
            QStringLiteral("SELECT id, callerNumber, callDateTime FROM MissedCallStatistics WHERE callDateTime >= ? "
                           "AND callDateTime < ? AND IsMissCall = ? ORDER BY callDateTime"),
            {start, end, Database::DbBool(true)});
    while (q.next())
        calls.append({q.value(0).toLongLong(), q.value(1).toString(), Database::FromDbTime(q.value(2))});
    return calls;
}

void CallsRepository::deleteCall(qint64 id)
{
    db.execute(QStringLiteral("DELETE FROM MissedCallStatistics WHERE id = ?"), {id});
}
