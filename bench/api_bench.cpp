// The local HTTP API over loopback: messages queued per second with one request per message and with batches
// of 100, and the 99th percentile of a request's time, with six requests in flight (what one client of Qt's
// network access keeps open to a host).
#include "api/ApiServer.h"
#include "store/ApiRepository.h"
#include "store/Database.h"
#include "store/IntegrationSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double perSecond = 0;
    double p99Ms = 0;
    int failed = 0;
};

Figures run(QNetworkAccessManager& net, const QUrl& url, const QString& token, int requests, int perRequest)
{
    constexpr int InFlight = 6;
    std::vector<double> latencies;
    int started = 0;
    int done = 0;
    int failed = 0;
    QEventLoop loop;
    QElapsedTimer total;
    total.start();
    std::function<void()> next = [&] {
        const int n = started++;
        QJsonArray items;
        for (int i = 0; i < perRequest; ++i)
            items.append(QJsonObject{
                {QStringLiteral("to"), QStringLiteral("+4477%1").arg(n * perRequest + i, 8, 10, QLatin1Char('0'))},
                {QStringLiteral("text"), QStringLiteral("Your order %1 has shipped").arg(n)}});
        const QJsonObject body =
            perRequest == 1 ? items[0].toObject() : QJsonObject{{QStringLiteral("messages"), items}};
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
        auto* clock = new QElapsedTimer;
        clock->start();
        QNetworkReply* reply = net.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply, clock] {
            latencies.push_back(clock->nsecsElapsed() / 1e6);
            delete clock;
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 201)
                ++failed;
            reply->deleteLater();
            if (++done == requests)
                loop.quit();
            else if (started < requests)
                next();
        });
    };
    for (int i = 0; i < std::min(InFlight, requests); ++i)
        next();
    loop.exec();
    const double seconds = total.nsecsElapsed() / 1e9;
    std::sort(latencies.begin(), latencies.end());
    return {requests * perRequest / seconds, latencies[latencies.size() * 99 / 100], failed};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Broadtext.db"));
    Database db;
    db.open(path);
    WriteIntegrationFlag(db, QStringLiteral("ApiEnabled"), true);
    WriteIntegrationNumber(db, QStringLiteral("ApiPort"), 0);
    WriteIntegrationNumber(db, QStringLiteral("ApiRatePerMinute"), 10000000);
    const QString token = ReplaceApiToken(db);
    ApiService api(path);
    // In the program the engine starts a delivery run; here nobody listens to the local bus either.
    QObject::connect(&api, &ApiService::queued, &app, [] {});
    if (const QString problem = api.apply(); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/messages").arg(api.port()));
    QNetworkAccessManager net;

    const Figures single = run(net, url, token, 2000, 1);
    std::printf("api: one message per request: %.0f messages/s, p99 request %.2f ms (%d refused)\n", single.perSecond,
                single.p99Ms, single.failed);
    const Figures batched = run(net, url, token, 100, 100);
    std::printf("api: batches of 100: %.0f messages/s, p99 request %.2f ms (%d refused)\n", batched.perSecond,
                batched.p99Ms, batched.failed);
    const qint64 rows = db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox"));
    std::printf("api: %lld rows queued (expected %d)\n", rows, 2000 + 100 * 100);
    return single.failed || batched.failed || rows != 2000 + 100 * 100;
}
