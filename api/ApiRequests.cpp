// The local HTTP API's requests: see ApiRequests.h.
#include "api/ApiRequests.h"

#include "common/FunctionsLibrary.h"
#include "delivery/RecipientNumbers.h"
#include "store/ApiRepository.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

constexpr int DefaultInboxLimit = 100;
constexpr int MaxInboxLimit = 1000;
constexpr int MaxKeyLength = 200;

ApiReply jsonReply(int status, const QJsonObject& body)
{
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact), {}, false};
}

QString isoTime(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonValue timeOrNull(const QDateTime& t)
{
    return t.isValid() ? QJsonValue(isoTime(t)) : QJsonValue(QJsonValue::Null);
}

// A time given by the caller: ISO 8601, with or without milliseconds; without an offset it is local time.
QDateTime parseTime(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODate);
    return t;
}

// The body as a JSON object, or the 400 that says why it is not one.
std::optional<QJsonObject> parseObject(const QByteArray& body, ApiReply& refusal)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        refusal = ApiError(
            400,
            QStringLiteral("the body is not valid JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        refusal = ApiError(400, QStringLiteral("the body must be a JSON object"));
        return std::nullopt;
    }
    return doc.object();
}

// Why a number cannot be sent to, by the rules the compose window applies; empty when it can.
QString numberProblem(const QJsonValue& value)
{
    if (!value.isString())
        return QStringLiteral("\"to\" must be a string holding a mobile number");
    const QString problem = RecipientNumberProblem(value.toString());
    if (!problem.isEmpty())
        return QStringLiteral("the number \"%1\" cannot be sent to: %2").arg(value.toString(), problem);
    return {};
}

struct Message {
    QString to;
    QString text;
    QDateTime sendAt;
    int modem = 0;
};

class Messages {
public:
    Messages(Database& db) : db(db) {}

    // Why an item cannot be queued; empty when it can (then `out` holds it).
    QString check(const QJsonValue& item, Message& out)
    {
        if (!item.isObject())
            return QStringLiteral("a message must be a JSON object with \"to\" and \"text\"");
        const QJsonObject o = item.toObject();
        QString problem = numberProblem(o.value(QLatin1String("to")));
        if (!problem.isEmpty())
            return problem;
        out.to = Trim(o.value(QLatin1String("to")).toString());
        const QJsonValue text = o.value(QLatin1String("text"));
        if (!text.isString() || Trim(text.toString()).isEmpty())
            return QStringLiteral("the text is empty");
        out.text = text.toString();
        if (optedOut().contains(OptOutKey(out.to)))
            return QStringLiteral("the number \"%1\" is on the opt-out list").arg(out.to);
        const QJsonValue at = o.value(QLatin1String("send_at"));
        if (!at.isUndefined() && !at.isNull()) {
            out.sendAt = at.isString() ? parseTime(at.toString()) : QDateTime();
            if (!out.sendAt.isValid())
                return QStringLiteral("\"send_at\" is not an ISO 8601 time");
        }
        const QJsonValue modem = o.value(QLatin1String("modem"));
        if (!modem.isUndefined() && !modem.isNull()) {
            out.modem = modemId(modem.toString());
            if (out.modem == 0)
                return QStringLiteral("no modem is named \"%1\"").arg(modem.toString());
        }
        return {};
    }

private:
    const QSet<QString>& optedOut()
    {
        if (!keys)
            keys = OptOutRepository(db).keys();
        return *keys;
    }
    int modemId(const QString& name)
    {
        if (!modems)
            modems = ModemsRepository(db).all();
        for (const ModemConfig& m : std::as_const(*modems))
            if (!name.isEmpty() && m.displayName().compare(name, Qt::CaseInsensitive) == 0)
                return m.id;
        return 0;
    }

    Database& db;
    std::optional<QSet<QString>> keys;
    std::optional<QList<ModemConfig>> modems;
};

ApiReply postMessages(Database& db, const ApiRequest& request, const QDateTime& now)
{
    ApiReply refusal;
    const std::optional<QJsonObject> body = parseObject(request.body, refusal);
    if (!body)
        return refusal;
    const QString key = !request.idempotencyKey.isEmpty() ? QString::fromUtf8(request.idempotencyKey)
                                                          : body->value(QLatin1String("idempotency_key")).toString();
    if (key.size() > MaxKeyLength)
        return ApiError(400, QStringLiteral("the idempotency key is longer than %1 characters").arg(MaxKeyLength));
    ApiRepository api(db);
    if (!key.isEmpty()) {
        if (const auto stored = api.answer(key))
            return {stored->status, stored->body, {}, false};
    }

    const bool batch = body->contains(QLatin1String("messages"));
    QJsonArray items;
    if (batch) {
        if (!body->value(QLatin1String("messages")).isArray())
            return ApiError(400, QStringLiteral("\"messages\" must be an array of messages"));
        items = body->value(QLatin1String("messages")).toArray();
        if (items.isEmpty())
            return ApiError(400, QStringLiteral("\"messages\" is empty"));
    } else {
        items.append(*body);
    }

    // Every item is checked before any is queued: one bad item and nothing is queued.
    Messages checker(db);
    std::vector<Message> messages(size_t(items.size()));
    QJsonArray bad;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString problem = checker.check(items[i], messages[size_t(i)]);
        if (!problem.isEmpty())
            bad.append(QJsonObject{{QStringLiteral("index"), int(i)}, {QStringLiteral("error"), problem}});
    }
    if (!bad.isEmpty()) {
        if (!batch)
            return ApiError(400, bad[0].toObject().value(QLatin1String("error")).toString());
        return jsonReply(400, {{QStringLiteral("error"), QStringLiteral("%1 of %2 messages cannot be queued, so "
                                                                        "nothing was queued")
                                                             .arg(bad.size())
                                                             .arg(items.size())},
                               {QStringLiteral("items"), bad}});
    }

    // The rows and the answer kept for the key go in one transaction: a retry finds either both or neither.
    db.beginTransaction();
    try {
        if (!key.isEmpty() && !api.claimKey(key, now)) {
            // Another connection answered the same key since the look-up above.
            db.rollback();
            if (const auto stored = api.answer(key))
                return {stored->status, stored->body, {}, false};
            return ApiError(409, QStringLiteral("a request with this idempotency key is under way"));
        }
        OutboxRepository outbox(db);
        QJsonArray ids;
        for (const Message& m : messages)
            ids.append(outbox.queueMessage(m.to, m.text, now, m.modem, QueueOptions::SendAt(m.sendAt)));
        QJsonObject answer{{QStringLiteral("ids"), ids}};
        if (!batch)
            answer.insert(QStringLiteral("id"), ids[0]);
        ApiReply reply = jsonReply(201, answer);
        if (!key.isEmpty())
            api.keepAnswer(key, {reply.status, reply.body});
        db.commit();
        reply.queued = true;
        return reply;
    } catch (...) {
        db.rollback();
        throw;
    }
}

ApiReply getMessage(Database& db, const QString& idText)
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    const std::optional<ApiMessageState> m = ok ? ApiRepository(db).message(id) : std::nullopt;
    if (!m)
        return ApiError(404, QStringLiteral("no message has the id \"%1\"").arg(idText));
    QJsonObject o{{QStringLiteral("id"), m->id},
                  {QStringLiteral("to"), m->to},
                  {QStringLiteral("status"), m->state},
                  {QStringLiteral("attempts"), m->attempts},
                  {QStringLiteral("queued_at"), timeOrNull(m->queuedAt)},
                  {QStringLiteral("send_at"), timeOrNull(m->sendAt)},
                  {QStringLiteral("sent_at"), timeOrNull(m->sentAt)},
                  {QStringLiteral("parts"), m->parts},
                  {QStringLiteral("parts_delivered"), m->partsDelivered},
                  {QStringLiteral("delivery"), m->delivery.isEmpty() ? QJsonValue() : QJsonValue(m->delivery)},
                  {QStringLiteral("reported_at"), timeOrNull(m->reportedAt)}};
    if (!m->lastError.isEmpty())
        o.insert(QStringLiteral("last_error"), m->lastError);
    return jsonReply(200, o);
}

ApiReply getInbox(Database& db, const QUrlQuery& query)
{
    QDateTime since;
    if (query.hasQueryItem(QStringLiteral("since"))) {
        since = parseTime(query.queryItemValue(QStringLiteral("since"), QUrl::FullyDecoded));
        if (!since.isValid())
            return ApiError(400, QStringLiteral("\"since\" is not an ISO 8601 time"));
    }
    int limit = DefaultInboxLimit;
    if (query.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = query.queryItemValue(QStringLiteral("limit")).toInt(&ok);
        if (!ok || limit < 1 || limit > MaxInboxLimit)
            return ApiError(400, QStringLiteral("\"limit\" must be a whole number from 1 to %1").arg(MaxInboxLimit));
    }
    QJsonArray rows;
    for (const ApiInboxMessage& m : ApiRepository(db).inboxSince(since, limit))
        rows.append(QJsonObject{{QStringLiteral("id"), m.id},
                                {QStringLiteral("from"), m.from},
                                {QStringLiteral("text"), m.text},
                                {QStringLiteral("received"), timeOrNull(m.received)},
                                {QStringLiteral("modem"), m.modem.isEmpty() ? QJsonValue() : QJsonValue(m.modem)}});
    return jsonReply(200, {{QStringLiteral("messages"), rows}});
}

ApiReply postOptOut(Database& db, const ApiRequest& request, const QDateTime& now)
{
    ApiReply refusal;
    const std::optional<QJsonObject> body = parseObject(request.body, refusal);
    if (!body)
        return refusal;
    const QJsonValue number = body->value(QLatin1String("number"));
    if (!number.isString())
        return ApiError(400, QStringLiteral("\"number\" must be a string holding a mobile number"));
    const QString problem = RecipientNumberProblem(number.toString());
    if (!problem.isEmpty())
        return ApiError(400, QStringLiteral("the number \"%1\" cannot be sent to: %2").arg(number.toString(), problem));
    const QString cleaned = Trim(number.toString());
    // As when the user adds a number by hand: on the list, and what waits for it is held back, at once.
    db.beginTransaction();
    try {
        OptOutRepository list(db);
        const bool added = list.add(cleaned, now);
        const int held = list.optOutQueuedRows(cleaned);
        db.commit();
        return jsonReply(added ? 201 : 200, {{QStringLiteral("number"), cleaned},
                                             {QStringLiteral("added"), added},
                                             {QStringLiteral("messages_held"), held}});
    } catch (...) {
        db.rollback();
        throw;
    }
}

} // namespace

ApiReply ApiError(int status, const QString& text)
{
    return jsonReply(status, {{QStringLiteral("error"), text}});
}

ApiReply HandleApiRequest(Database& db, const ApiRequest& request, const QDateTime& now)
{
    const QStringList parts = request.path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    try {
        if (parts == QStringList{QStringLiteral("messages")} && post)
            return postMessages(db, request, now);
        if (parts.size() == 2 && parts[0] == QLatin1String("messages") && get)
            return getMessage(db, parts[1]);
        if (parts == QStringList{QStringLiteral("inbox")} && get)
            return getInbox(db, request.query);
        if (parts == QStringList{QStringLiteral("optout")} && post)
            return postOptOut(db, request, now);
    } catch (const DbError& e) {
        return ApiError(503, QStringLiteral("the message database failed: %1").arg(e.description()));
    }
    const bool known =
        parts == QStringList{QStringLiteral("messages")} || parts == QStringList{QStringLiteral("inbox")} ||
        parts == QStringList{QStringLiteral("optout")} || (parts.size() == 2 && parts[0] == QLatin1String("messages"));
    if (known)
        return ApiError(
            405, QStringLiteral("%1 is not allowed on %2").arg(QString::fromLatin1(request.method), request.path));
    return ApiError(404, QStringLiteral("there is nothing at %1").arg(request.path));
}
