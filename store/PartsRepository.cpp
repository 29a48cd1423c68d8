#include "store/PartsRepository.h"

#include "store/Database.h"

qint64 PartsRepository::storePart(const QString& number, int reference, int count, int partNumber, const QString& text,
                                  const QDateTime& sentOn, const QDateTime& receivedOn, int simIndex)
{
    // The same part again (left on the SIM by a stopped run, or repeated by the network) is not kept twice.
    Query already(db,
                  QStringLiteral("SELECT Part_Id FROM Message_Parts WHERE SenderMobileNo = ? AND Reference = ? AND "
                                 "PartCount = ? AND PartNumber = ? AND (InBox_Id IS NULL OR SimIndex = ?)"),
                  {number, reference, count, partNumber, simIndex});
    if (already.next())
        return already.value(0).toLongLong();
    return db.insert(
        QStringLiteral("INSERT INTO Message_Parts (SenderMobileNo, Reference, PartCount, PartNumber, "
                       "Message, SentOn, ReceivedOn, SimIndex) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
        {number, reference, count, partNumber, text, Database::DbTime(sentOn), Database::DbTime(receivedOn), simIndex});
}

void PartsRepository::forgetSimCopy(qint64 partId)
{
    db.execute(QStringLiteral("UPDATE Message_Parts SET SimIndex = NULL WHERE Part_Id = ?"), {partId});
}

void PartsRepository::dropJoinedParts()
{
    db.execute(QStringLiteral("DELETE FROM Message_Parts WHERE InBox_Id IS NOT NULL AND SimIndex IS NULL"));
}

QList<PartsGroup> PartsRepository::groupsReady(const QDateTime& waitedSince)
{
    QList<PartsGroup> ready;
    Query q(db,
            QStringLiteral("SELECT SenderMobileNo, Reference, PartCount FROM Message_Parts WHERE InBox_Id IS NULL "
                           "GROUP BY SenderMobileNo, Reference, PartCount HAVING count(DISTINCT PartNumber) >= "
                           "PartCount OR min(ReceivedOn) < ?"),
            {Database::DbTime(waitedSince)});
    while (q.next())
        ready.append({q.value(0).toString(), q.value(1).toInt(), q.value(2).toInt()});
    return ready;
}

QList<StoredPart> PartsRepository::partsOf(const PartsGroup& group)
{
    QList<StoredPart> parts;
    Query q(db,
            QStringLiteral("SELECT PartNumber, Message, SentOn FROM Message_Parts WHERE InBox_Id IS NULL AND "
                           "SenderMobileNo = ? AND Reference = ? AND PartCount = ? ORDER BY PartNumber, Part_Id"),
            {group.number, group.reference, group.count});
    while (q.next())
        parts.append({q.value(0).toInt(), q.value(1).toString(), Database::FromDbTime(q.value(2))});
    return parts;
}

void PartsRepository::markJoined(const PartsGroup& group, qint64 inboxId)
{
    db.execute(QStringLiteral("UPDATE Message_Parts SET InBox_Id = ? WHERE InBox_Id IS NULL AND SenderMobileNo = ? AND "
                              "Reference = ? AND PartCount = ?"),
               {inboxId, group.number, group.reference, group.count});
}
