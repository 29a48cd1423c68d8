// The local HTTP API's server: see ApiServer.h.
#include "api/ApiServer.h"

#include "api/ApiRequests.h"
#include "common/LocalBus.h"
#include "store/ApiRepository.h"
#include "store/Database.h"
#include "store/IntegrationSettings.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QMetaMethod>
#include <QTcpServer>
#include <QTcpSocket>
#include <cmath>

namespace {

// Requests allowed per minute, in a bucket that refills continuously: a burst of up to a minute's worth is
// let through at once, and then one request each 60/rate seconds.
class RateLimit {
public:
    void setRate(int perMinute)
    {
        rate = std::max(perMinute, 1);
        tokens = rate;
        clock.start();
    }
    // 0 when the request may go on, else the whole seconds until one may.
    int take()
    {
        const double perSecond = rate / 60.0;
        tokens = std::min<double>(rate, tokens + clock.restart() / 1000.0 * perSecond);
        if (tokens >= 1) {
            tokens -= 1;
            return 0;
        }
        return std::max(1, int(std::ceil((1 - tokens) / perSecond)));
    }

private:
    int rate = 600;
    double tokens = 600;
    QElapsedTimer clock;
};

QByteArray headerValue(const QHttpServerRequest& request, const QByteArray& name)
{
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

} // namespace

class ApiWorker : public QAbstractHttpServer {
public:
    ApiWorker(QString databasePath, std::function<void()> queued)
        : databasePath(std::move(databasePath)), queued(std::move(queued))
    {}

    // On the worker's thread.
    QString apply()
    {
        try {
            if (!db.isOpen())
                db.openShared(databasePath);
            ApiSettings s;
            s.enabled = ReadIntegrationFlag(db, QStringLiteral("ApiEnabled"), false);
            s.address = ReadIntegrationValue(db, QStringLiteral("ApiAddress"), s.address);
            s.port = ReadIntegrationNumber(db, QStringLiteral("ApiPort"), s.port);
            s.maxBody = ReadIntegrationNumber(db, QStringLiteral("ApiMaxBody"), s.maxBody);
            s.ratePerMinute = ReadIntegrationNumber(db, QStringLiteral("ApiRatePerMinute"), s.ratePerMinute);
            if (tcp && (!s.enabled || s.address != settings.address || s.port != settings.port)) {
                delete tcp; // its open connections end with it
                tcp = nullptr;
                listening = 0;
            }
            settings = s;
            limit.setRate(s.ratePerMinute);
            problem.clear();
            if (!s.enabled || tcp)
                return problem;
            QHostAddress address;
            if (!address.setAddress(s.address))
                return problem = QStringLiteral("The API cannot listen: \"%1\" is not an IP address.").arg(s.address);
            if (s.port < 0 || s.port > 65535)
                return problem = QStringLiteral("The API cannot listen: %1 is not a port number.").arg(s.port);
            auto* server = new QTcpServer(this);
            // A burst of clients connecting at once waits in the queue rather than being turned away.
            server->setListenBacklogSize(1024);
            if (!server->listen(address, quint16(s.port))) {
                problem = QStringLiteral("The API cannot listen on %1 port %2: %3.")
                              .arg(s.address)
                              .arg(s.port)
                              .arg(server->errorString());
                delete server;
                return problem;
            }
            tcp = server;
            listening = server->serverPort();
            bind(server);
        } catch (const DbError& e) {
            problem = QStringLiteral("The API cannot read its settings: %1").arg(e.description());
        }
        return problem;
    }

    void stop()
    {
        delete tcp;
        tcp = nullptr;
        listening = 0;
        db.close();
    }

    std::atomic<quint16> listening{0};
    QString problem;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        const ApiReply reply = answer(request);
        QHttpServerResponse response(QByteArrayLiteral("application/json"), reply.body,
                                     QHttpServerResponse::StatusCode(reply.status));
        for (const auto& [name, value] : reply.headers)
            response.addHeader(name, value);
        response.write(makeResponder(request, socket));
        if (reply.queued)
            queued();
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        const ApiReply reply = ApiError(404, QStringLiteral("there is nothing here"));
        QHttpServerResponse(QByteArrayLiteral("application/json"), reply.body,
                            QHttpServerResponse::StatusCode::NotFound)
            .write(makeResponder(request, socket));
    }

private:
    ApiReply answer(const QHttpServerRequest& request)
    {
        // The body has been read by now (the server reads it whole); what counts is that a large one is not
        // taken into the database or parsed.
        bool lengthGiven = false;
        const qint64 length = headerValue(request, "Content-Length").toLongLong(&lengthGiven);
        if ((lengthGiven && length > settings.maxBody) || request.body().size() > settings.maxBody)
            return ApiError(413, QStringLiteral("the body is larger than %1 bytes").arg(settings.maxBody));
        const QByteArray authorization = headerValue(request, "Authorization");
        QByteArray stored;
        try {
            stored = ReadIntegrationValue(db, QStringLiteral("ApiTokenHash")).toLatin1();
        } catch (const DbError& e) {
            return ApiError(503, QStringLiteral("the message database failed: %1").arg(e.description()));
        }
        if (!authorization.startsWith("Bearer "))
            return ApiError(401, QStringLiteral("a token is needed: Authorization: Bearer <token>"));
        if (!ApiTokenMatches(QString::fromLatin1(authorization.mid(7).trimmed()), stored))
            return ApiError(401, QStringLiteral("the token is not valid"));
        if (const int wait = limit.take()) {
            ApiReply reply =
                ApiError(429, QStringLiteral("too many requests: at most %1 a minute").arg(settings.ratePerMinute));
            reply.headers.append({"Retry-After", QByteArray::number(wait)});
            return reply;
        }
        ApiRequest r;
        switch (request.method()) {
        case QHttpServerRequest::Method::Get:
            r.method = "GET";
            break;
        case QHttpServerRequest::Method::Post:
            r.method = "POST";
            break;
        default:
            r.method = "OTHER";
            break;
        }
        r.path = request.url().path();
        r.query = request.query();
        r.idempotencyKey = headerValue(request, "Idempotency-Key");
        r.body = request.body();
        return HandleApiRequest(db, r, QDateTime::currentDateTime());
    }

    QString databasePath;
    std::function<void()> queued;
    Database db;
    ApiSettings settings;
    RateLimit limit;
    QTcpServer* tcp = nullptr;
};

ApiService::ApiService(const QString& databasePath, QObject* parent) : QObject(parent), databasePath(databasePath)
{
    thread.setObjectName(QStringLiteral("broadtext-api"));
    worker = new ApiWorker(databasePath, [this] { rowsQueued(); });
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();
}

ApiService::~ApiService()
{
    QMetaObject::invokeMethod(
        worker, [w = worker] { w->stop(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

QString ApiService::apply()
{
    QString problem;
    QMetaObject::invokeMethod(
        worker, [&] { problem = worker->apply(); }, Qt::BlockingQueuedConnection);
    return problem;
}

bool ApiService::isListening() const
{
    return worker->listening != 0;
}

quint16 ApiService::port() const
{
    return worker->listening;
}

QString ApiService::problem() const
{
    QString p;
    QMetaObject::invokeMethod(
        worker, [&] { p = worker->problem; }, Qt::BlockingQueuedConnection);
    return p;
}

void ApiService::rowsQueued()
{
    // On the worker's thread. Many requests in a row make one call on the window thread.
    if (isSignalConnected(QMetaMethod::fromSignal(&ApiService::queued))) {
        if (!pending.exchange(true))
            QMetaObject::invokeMethod(this, [this] {
                pending = false;
                Q_EMIT queued();
            });
        return;
    }
    LocalBus::Send(databasePath, "outbox");
}
