// The local HTTP API's rows: see ApiRepository.h.
#include "store/ApiRepository.h"

#include "store/Database.h"
#include "store/IntegrationSettings.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

QString NewApiToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray ApiTokenHash(const QString& token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex();
}

bool ApiTokenMatches(const QString& presented, const QByteArray& storedHash)
{
    // Hashes have one length whatever was presented, so the loop's time tells nothing about the token.
    const QByteArray hash = ApiTokenHash(presented);
    if (storedHash.size() != hash.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(hash[i] ^ storedHash[i]);
    return difference == 0;
}

QString ReplaceApiToken(Database& db)
{
    const QString token = NewApiToken();
    WriteIntegrationValue(db, QStringLiteral("ApiTokenHash"), QString::fromLatin1(ApiTokenHash(token)));
    return token;
}

std::optional<StoredApiAnswer> ApiRepository::answer(const QString& key)
{
    Query q(db,
            QStringLiteral("SELECT Status, Answer FROM Api_request WHERE IdempotencyKey = ? AND Status IS NOT NULL"),
            {key});
    if (!q.next())
        return std::nullopt;
    return StoredApiAnswer{q.value(0).toInt(), q.value(1).toByteArray()};
}

bool ApiRepository::claimKey(const QString& key, const QDateTime& at)
{
    return db.execute(QStringLiteral("INSERT INTO Api_request (IdempotencyKey, Created) VALUES (?, ?)"
                                     " ON CONFLICT(IdempotencyKey) DO NOTHING"),
                      {key, Database::DbTime(at)}) > 0;
}

void ApiRepository::keepAnswer(const QString& key, const StoredApiAnswer& answer)
{
    db.execute(QStringLiteral("UPDATE Api_request SET Status = ?, Answer = ? WHERE IdempotencyKey = ?"),
               {answer.status, QString::fromUtf8(answer.body), key});
}

namespace {

QString callerState(const QString& status, bool sent)
{
    if (sent || status == QLatin1String("SENT"))
        return QStringLiteral("sent");
    if (status.isEmpty())
        return QStringLiteral("queued");
    if (status == QLatin1String("CANCELLED"))
        return QStringLiteral("cancelled");
    // SENDING, FAILED, OPTED OUT, INVALID NUMBER, EMPTY MESSAGE read the same in lower case.
    return status.toLower();
}

} // namespace

std::optional<ApiMessageState> ApiRepository::message(qint64 id)
{
    Query q(
        db,
        QStringLiteral("SELECT RecipientMobileNo, coalesce(DeliveryStatus, ''), Attempts, LastError, OutBoxDateTime,"
                       " SendAt, DeliveryDatetime, ReportStatus, ReportedAt, PartsSent, PartsDelivered"
                       " FROM Message_OutBox WHERE Outbox_Id = ?"),
        {id});
    if (!q.next())
        return std::nullopt;
    ApiMessageState m;
    m.id = id;
    m.to = q.value(0).toString();
    m.sentAt = Database::FromDbTime(q.value(6));
    m.state = callerState(q.value(1).toString(), m.sentAt.isValid());
    m.attempts = q.value(2).toInt();
    m.lastError = q.value(3).toString();
    m.queuedAt = Database::FromDbTime(q.value(4));
    m.sendAt = Database::FromDbTime(q.value(5));
    m.delivery = q.value(7).toString();
    m.reportedAt = Database::FromDbTime(q.value(8));
    m.parts = q.value(9).toInt();
    m.partsDelivered = q.value(10).toInt();
    return m;
}

QList<ApiInboxMessage> ApiRepository::inboxSince(const QDateTime& since, int limit)
{
    // Stored times sort as text, so "after" is a comparison of the stored texts.
    Query q(db,
            QStringLiteral("SELECT InBox_Id, SenderMobileNo, Message, InboxDateTime, ModemName FROM Message_InBox"
                           " WHERE InboxDateTime > ? ORDER BY InboxDateTime, InBox_Id LIMIT ?"),
            {since.isValid() ? Database::DbTime(since) : QStringLiteral(""), limit});
    QList<ApiInboxMessage> rows;
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                     Database::FromDbTime(q.value(3)), q.value(4).toString()});
    return rows;
}
