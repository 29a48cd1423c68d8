#include "store/InboxRepository.h"

#include "store/Database.h"

#include <QStringList>

void InboxRepository::clearStaleSimMarks(const QList<int>& listedIndexes)
{
    QVariantList values;
    for (int i : listedIndexes)
        values << i;
    const QStringList marks(values.size(), QStringLiteral("?"));
    db.execute(QStringLiteral("UPDATE Message_InBox SET SimIndex = NULL WHERE SimIndex IS NOT NULL AND SimIndex NOT "
                              "IN (%1)")
                   .arg(marks.isEmpty() ? QStringLiteral("NULL") : marks.join(QLatin1Char(','))),
               values);
}

std::optional<qint64> InboxRepository::findStoredCopy(int simIndex, const QString& number, const QString& text,
                                                      const QDateTime& received, int modem)
{
    // Another modem's SIM has its own indexes: its copy is not this one (rows of before modems were kept
    // belong to any).
    Query q(db,
            QStringLiteral("SELECT InBox_Id FROM Message_InBox WHERE SimIndex = ? AND SenderMobileNo = ? AND Message = "
                           "? AND InboxDateTime = ? AND (ModemId IS NULL OR ? = 0 OR ModemId = ?)"),
            {simIndex, number, text, Database::DbTime(received), db.modemKey(modem), db.modemKey(modem)});
    if (!q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

qint64 InboxRepository::storeInboxMessage(const QString& number, const QString& text, const QDateTime& received,
                                          std::optional<int> simIndex, int modem, const QString& modemName)
{
    return db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, "
                                    "SimIndex, ModemId, ModemName) VALUES (?, 0, ?, ?, ?, ?, ?)"),
                     {number, text, Database::DbTime(received), simIndex ? QVariant(*simIndex) : QVariant(),
                      modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(),
                      modemName.isEmpty() ? QVariant(QString()) : QVariant(modemName)});
}

void InboxRepository::forgetSimCopy(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_InBox SET SimIndex = NULL WHERE InBox_Id = ?"), {id});
}

std::optional<QString> InboxRepository::messageText(qint64 id)
{
    Query q(db, QStringLiteral("SELECT Message FROM Message_InBox WHERE InBox_Id = ?"), {id});
    if (!q.next())
        return std::nullopt;
    return q.value(0).toString();
}

void InboxRepository::markRead(qint64 id)
{
    db.execute(QStringLiteral("UPDATE Message_InBox SET IsRead = ? WHERE InBox_Id = ?"), {Database::DbBool(true), id});
}
