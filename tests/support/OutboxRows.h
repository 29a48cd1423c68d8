// An Outbox row as the bookkeeping tests read it back: status, attempts, reason, next attempt and whether it
// was marked sent.
#pragma once

#include "store/Database.h"

#include <QDateTime>
#include <QString>

struct OutboxRow {
    QString status;
    int attempts;
    QString reason;
    QDateTime next;
    bool delivered;
};

inline OutboxRow outboxRow(Database& db, qint64 id)
{
    Query q(db,
            QStringLiteral("SELECT DeliveryStatus, Attempts, LastError, NextAttempt, DeliveryDatetime FROM "
                           "Message_OutBox WHERE Outbox_Id = ?"),
            {id});
    if (!q.next())
        return {};
    return {q.value(0).toString(), q.value(1).toInt(), q.value(2).toString(), Database::FromDbTime(q.value(3)),
            !q.value(4).isNull()};
}

inline qint64 lastOutboxId(Database& db)
{
    return db.scalar(QStringLiteral("SELECT max(Outbox_Id) FROM Message_OutBox")).toLongLong();
}
