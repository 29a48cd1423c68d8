// The local HTTP API through real HTTP: a client on loopback (Qt's network access, curl for the burst) against
// the server on its own thread over a real message database.
#include "TestRig.h"
#include "api/ApiServer.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "settings/Frm_Integration.h"
#include "store/ApiRepository.h"
#include "store/Database.h"
#include "store/InboxRepository.h"
#include "store/IntegrationSettings.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {

struct Answer {
    int status = 0;
    QJsonObject json;
    QByteArray retryAfter;
};

} // namespace

class TestApi : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path;
    std::unique_ptr<Database> db;
    std::unique_ptr<ApiService> api;
    QNetworkAccessManager net;
    QString token;
    int deliverCalls = 0;
    int databases = 0;

    QUrl url(const QString& pathAndQuery) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(api->port()).arg(pathAndQuery));
    }

    Answer send(const QByteArray& method, const QString& target, const QByteArray& body = {},
                const QList<QPair<QByteArray, QByteArray>>& headers = {}, std::optional<QString> bearer = {})
    {
        QNetworkRequest request(url(target));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        const QString t = bearer.value_or(token);
        if (!t.isNull())
            request.setRawHeader("Authorization", "Bearer " + t.toLatin1());
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        QNetworkReply* reply = net.sendCustomRequest(request, method, body);
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        Answer a;
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.json = QJsonDocument::fromJson(reply->readAll()).object();
        a.retryAfter = reply->rawHeader("Retry-After");
        reply->deleteLater();
        return a;
    }
    Answer post(const QString& target, const QJsonObject& body, const QList<QPair<QByteArray, QByteArray>>& h = {})
    {
        return send("POST", target, QJsonDocument(body).toJson(), h);
    }
    qint64 outboxRows() { return db->count(QStringLiteral("SELECT count(*) FROM Message_OutBox")); }
    void setting(const QString& name, const QString& value)
    {
        WriteIntegrationValue(*db, name, value);
        QCOMPARE(api->apply(), QString());
    }

private Q_SLOTS:
    void init()
    {
        path = dir.filePath(QStringLiteral("Broadtext-%1.db").arg(++databases));
        db = std::make_unique<Database>();
        db->open(path);
        WriteIntegrationFlag(*db, QStringLiteral("ApiEnabled"), true);
        WriteIntegrationNumber(*db, QStringLiteral("ApiPort"), 0); // any free port
        token = ReplaceApiToken(*db);
        api = std::make_unique<ApiService>(path);
        connect(api.get(), &ApiService::queued, this, [this] { ++deliverCalls; });
        QCOMPARE(api->apply(), QString());
        QVERIFY(api->isListening());
        deliverCalls = 0;
    }
    void cleanup()
    {
        api.reset();
        db.reset();
        net.clearConnectionCache();
    }

    void offUntilEnabled()
    {
        WriteIntegrationFlag(*db, QStringLiteral("ApiEnabled"), false);
        QCOMPARE(api->apply(), QString());
        QVERIFY(!api->isListening());
        ApiService fresh(path);
        QCOMPARE(fresh.apply(), QString());
        QVERIFY(!fresh.isListening());
    }

    void tokenChecked_data()
    {
        QTest::addColumn<QString>("presented");
        QTest::addColumn<int>("status");
        QTest::newRow("none") << QString() << 401;
        QTest::newRow("wrong") << QStringLiteral("not-the-token") << 401;
        QTest::newRow("empty") << QStringLiteral("") << 401;
        QTest::newRow("right") << QStringLiteral("RIGHT") << 200;
    }
    void tokenChecked()
    {
        QFETCH(QString, presented);
        QFETCH(int, status);
        const Answer a =
            send("GET", QStringLiteral("/inbox"), {}, {}, presented == QLatin1String("RIGHT") ? token : presented);
        QCOMPARE(a.status, status);
        QCOMPARE(a.json.contains(QStringLiteral("error")), status == 401);
        // The stored value is a hash: the token itself is nowhere in the database.
        QVERIFY(!ReadIntegrationValue(*db, QStringLiteral("ApiTokenHash")).contains(token));
    }

    void newTokenReplacesOld()
    {
        const QString old = token;
        token = ReplaceApiToken(*db);
        QCOMPARE(send("GET", QStringLiteral("/inbox"), {}, {}, old).status, 401);
        QCOMPARE(send("GET", QStringLiteral("/inbox")).status, 200);
    }

    void oversizedBody()
    {
        const QByteArray big = "{\"to\": \"+447700900123\", \"text\": \"" + QByteArray(300 * 1024, 'a') + "\"}";
        QCOMPARE(send("POST", QStringLiteral("/messages"), big).status, 413);
        setting(QStringLiteral("ApiMaxBody"), QStringLiteral("1024000"));
        QCOMPARE(send("POST", QStringLiteral("/messages"), big).status, 201);
        QCOMPARE(outboxRows(), 1);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QList<int>>("badItems");
        QTest::newRow("not JSON") << QByteArray("{\"to\": ") << 400 << "not valid JSON" << QList<int>{};
        QTest::newRow("not an object") << QByteArray("[1, 2]") << 400 << "JSON object" << QList<int>{};
        QTest::newRow("letters in the number")
            << QByteArray(R"({"to": "+44 77OO 900123", "text": "hi"})") << 400 << "\"+44 77OO 900123\"" << QList<int>{};
        QTest::newRow("too short") << QByteArray(R"({"to": "12", "text": "hi"})") << 400 << "\"12\"" << QList<int>{};
        QTest::newRow("no number") << QByteArray(R"({"text": "hi"})") << 400 << "\"to\"" << QList<int>{};
        QTest::newRow("empty text") << QByteArray(R"({"to": "+447700900123", "text": "  "})") << 400 << "text is empty"
                                    << QList<int>{};
        QTest::newRow("bad time") << QByteArray(R"({"to": "+447700900123", "text": "hi", "send_at": "soon"})") << 400
                                  << "send_at" << QList<int>{};
        QTest::newRow("unknown modem") << QByteArray(R"({"to": "+447700900123", "text": "hi", "modem": "Nokia"})")
                                       << 400 << "\"Nokia\"" << QList<int>{};
        QTest::newRow("batch with two bad")
            << QByteArray(R"({"messages": [{"to": "+447700900123", "text": "a"}, {"to": "x", "text": "b"},)"
                          R"( {"to": "+447700900124", "text": "c"}, {"to": "+447700900125", "text": ""}]})")
            << 400 << "2 of 4" << QList<int>{1, 3};
        QTest::newRow("key too long") << QByteArray(R"({"to": "+447700900123", "text": "hi", "idempotency_key": ")" +
                                                    QByteArray(201, 'k') + R"("})")
                                      << 400 << "idempotency key" << QList<int>{};
        QTest::newRow("unknown path") << QByteArray("{}") << 404 << "nothing" << QList<int>{};
    }
    void refused()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QFETCH(QList<int>, badItems);
        const QString target = status == 404 ? QStringLiteral("/letters") : QStringLiteral("/messages");
        const Answer a = send("POST", target, body);
        QCOMPARE(a.status, status);
        QVERIFY2(a.json.value(QStringLiteral("error")).toString().contains(reason),
                 qPrintable(a.json.value(QStringLiteral("error")).toString()));
        QList<int> indexes;
        for (const QJsonValue& item : a.json.value(QStringLiteral("items")).toArray())
            indexes << item.toObject().value(QStringLiteral("index")).toInt();
        QCOMPARE(indexes, badItems);
        QCOMPARE(outboxRows(), 0);
        QCOMPARE(deliverCalls, 0);
    }

    void queuedOnceUnderRetries_data()
    {
        QTest::addColumn<bool>("inHeader");
        QTest::addColumn<int>("messages");
        QTest::newRow("header, one message") << true << 1;
        QTest::newRow("field, one message") << false << 1;
        QTest::newRow("header, batch of 3") << true << 3;
    }
    void queuedOnceUnderRetries()
    {
        QFETCH(bool, inHeader);
        QFETCH(int, messages);
        QJsonArray items;
        for (int i = 0; i < messages; ++i)
            items.append(QJsonObject{{QStringLiteral("to"), QStringLiteral("+44770090010%1").arg(i)},
                                     {QStringLiteral("text"), QStringLiteral("order %1 shipped").arg(i)}});
        QJsonObject body = messages == 1 ? items[0].toObject() : QJsonObject{{QStringLiteral("messages"), items}};
        QList<QPair<QByteArray, QByteArray>> headers;
        if (inHeader)
            headers.append(qMakePair(QByteArray("Idempotency-Key"), QByteArray("order-42")));
        else
            body.insert(QStringLiteral("idempotency_key"), QStringLiteral("order-42"));
        const Answer first = post(QStringLiteral("/messages"), body, headers);
        QCOMPARE(first.status, 201);
        QCOMPARE(first.json.value(QStringLiteral("ids")).toArray().size(), messages);
        const Answer again = post(QStringLiteral("/messages"), body, headers);
        QCOMPARE(again.status, 201);
        QCOMPARE(again.json, first.json);
        QCOMPARE(outboxRows(), messages);
        // Without a key, a request is a new one.
        body.remove(QStringLiteral("idempotency_key"));
        QCOMPARE(post(QStringLiteral("/messages"), body).status, 201);
        QCOMPARE(outboxRows(), 2 * messages);
        QTRY_VERIFY(deliverCalls >= 1);
    }

    void messageState()
    {
        const QDateTime later = QDateTime::currentDateTime().addDays(1);
        const Answer queued =
            post(QStringLiteral("/messages"), {{QStringLiteral("to"), QStringLiteral("+447700900123")},
                                               {QStringLiteral("text"), QStringLiteral("hello")},
                                               {QStringLiteral("send_at"), later.toUTC().toString(Qt::ISODate)}});
        QCOMPARE(queued.status, 201);
        const qint64 id = queued.json.value(QStringLiteral("id")).toInteger();
        auto state = [&] { return send("GET", QStringLiteral("/messages/%1").arg(id)).json; };
        QCOMPARE(state().value(QStringLiteral("status")).toString(), QStringLiteral("queued"));
        QCOMPARE(state().value(QStringLiteral("to")).toString(), QStringLiteral("+447700900123"));
        QCOMPARE(QDateTime::fromString(state().value(QStringLiteral("send_at")).toString(), Qt::ISODateWithMs),
                 later.toUTC().addMSecs(-later.time().msec()));

        OutboxRepository outbox(*db);
        outbox.markSending(id, QDateTime::currentDateTime());
        QCOMPARE(state().value(QStringLiteral("status")).toString(), QStringLiteral("sending"));
        outbox.markSent(id, QDateTime::currentDateTime(), 0, {}, 1);
        outbox.recordReport(id, QStringLiteral("DELIVERED"), QDateTime::currentDateTime(), 1);
        QCOMPARE(state().value(QStringLiteral("status")).toString(), QStringLiteral("sent"));
        QCOMPARE(state().value(QStringLiteral("delivery")).toString(), QStringLiteral("DELIVERED"));

        const qint64 other =
            outbox.queueMessage(QStringLiteral("+447700900124"), QStringLiteral("x"), QDateTime::currentDateTime());
        outbox.cancel(other);
        QCOMPARE(send("GET", QStringLiteral("/messages/%1").arg(other)).json.value(QStringLiteral("status")),
                 QStringLiteral("cancelled"));
        outbox.markFailed(
            outbox.queueMessage(QStringLiteral("+447700900125"), QStringLiteral("y"), QDateTime::currentDateTime()),
            QStringLiteral("no network"));
        const QJsonObject failed = send("GET", QStringLiteral("/messages/%1").arg(other + 1)).json;
        QCOMPARE(failed.value(QStringLiteral("status")).toString(), QStringLiteral("failed"));
        QCOMPARE(failed.value(QStringLiteral("last_error")).toString(), QStringLiteral("no network"));
        QCOMPARE(send("GET", QStringLiteral("/messages/99999")).status, 404);
        QCOMPARE(send("GET", QStringLiteral("/messages/abc")).status, 404);
    }

    void inboxSince()
    {
        const QDateTime t0 = QDateTime::fromString(QStringLiteral("2026-03-01T10:00:00Z"), Qt::ISODate);
        InboxRepository inbox(*db);
        for (int i = 0; i < 4; ++i)
            inbox.storeInboxMessage(QStringLiteral("+44770090020%1").arg(i), QStringLiteral("reply %1").arg(i),
                                    t0.addSecs(60 * i));
        auto numbers = [&](const QString& query) {
            const Answer a = send("GET", QStringLiteral("/inbox") + query);
            QStringList out;
            for (const QJsonValue& m : a.json.value(QStringLiteral("messages")).toArray())
                out << m.toObject().value(QStringLiteral("text")).toString();
            return out;
        };
        QCOMPARE(numbers(QString()).size(), 4);
        QCOMPARE(numbers(QStringLiteral("?since=2026-03-01T10:01:00Z")),
                 (QStringList{QStringLiteral("reply 2"), QStringLiteral("reply 3")}));
        QCOMPARE(numbers(QStringLiteral("?since=2026-03-01T10:00:30Z&limit=1")),
                 QStringList{QStringLiteral("reply 1")});
        QCOMPARE(send("GET", QStringLiteral("/inbox?since=yesterday")).status, 400);
        QCOMPARE(send("GET", QStringLiteral("/inbox?limit=0")).status, 400);
    }

    void optOutThenRefused()
    {
        OutboxRepository outbox(*db);
        const qint64 waiting =
            outbox.queueMessage(QStringLiteral("07700900123"), QStringLiteral("promo"), QDateTime::currentDateTime());
        const Answer added =
            post(QStringLiteral("/optout"), {{QStringLiteral("number"), QStringLiteral("+447700900123")}});
        QCOMPARE(added.status, 201);
        QCOMPARE(added.json.value(QStringLiteral("messages_held")).toInt(), 1);
        QCOMPARE(send("GET", QStringLiteral("/messages/%1").arg(waiting)).json.value(QStringLiteral("status")),
                 QStringLiteral("opted out"));
        QCOMPARE(post(QStringLiteral("/optout"), {{QStringLiteral("number"), QStringLiteral("+447700900123")}}).status,
                 200);
        QCOMPARE(post(QStringLiteral("/optout"), {{QStringLiteral("number"), QStringLiteral("abc")}}).status, 400);

        // Another spelling of the same number.
        const Answer refused =
            post(QStringLiteral("/messages"), {{QStringLiteral("to"), QStringLiteral("00447700900123")},
                                               {QStringLiteral("text"), QStringLiteral("hi")}});
        QCOMPARE(refused.status, 400);
        QVERIFY(refused.json.value(QStringLiteral("error")).toString().contains(QStringLiteral("opt-out")));
        QCOMPARE(outboxRows(), 1);
    }

    void rateLimited()
    {
        setting(QStringLiteral("ApiRatePerMinute"), QStringLiteral("3"));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(send("GET", QStringLiteral("/inbox")).status, 200);
        const Answer a = send("GET", QStringLiteral("/inbox"));
        QCOMPARE(a.status, 429);
        QVERIFY(a.retryAfter.toInt() >= 1 && a.retryAfter.toInt() <= 20);
    }

    // The program's own API, switched on from the integration window: the token is shown once, the server
    // listens on the port typed, and "New token" makes the old token useless.
    void programsApiFromTheWindow()
    {
        TestRig rig(false);
        Broadtext program(rig.state);
        program.engine.timerRefreshHomePage.setEnabled(false);
        QVERIFY(program.Main(QSize(1280, 800)));
        program.showMainWindow();
        QTcpServer probe; // a port nobody uses
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();

        const qsizetype before = rig.dialogs.messages().size();
        program.mainWindow->menuItem(QStringLiteral("mnuIntegration"))->trigger();
        auto* window = program.mainWindow->findChild<Frm_Integration*>();
        QVERIFY(window && window->isVisible());
        auto* enabled = window->findChild<QCheckBox*>(QStringLiteral("chkApiEnabled"));
        QVERIFY(!enabled->isChecked()); // off by default
        QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("txtApiAddress"))->text(), QStringLiteral("127.0.0.1"));
        enabled->setChecked(true);
        window->findChild<QLineEdit*>(QStringLiteral("txtApiPort"))->setText(QString::number(port));
        window->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        const QStringList shown = rig.dialogs.messages().mid(before);
        QVERIFY2(shown.size() == 1, qPrintable(shown.join(u'\n')));
        const QString first = shown[0].split(QStringLiteral("\r\n"))[2];
        QCOMPARE(first.size(), 43); // 32 bytes, base64url without padding
        QVERIFY(!ReadIntegrationValue(program.db, QStringLiteral("ApiTokenHash")).contains(first));

        auto status = [&](const QString& presented) {
            QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/inbox").arg(port)));
            request.setRawHeader("Authorization", "Bearer " + presented.toLatin1());
            QNetworkReply* reply = net.get(request);
            QEventLoop loop;
            connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
            reply->deleteLater();
            return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        };
        QCOMPARE(status(first), 200);

        program.mainWindow->menuItem(QStringLiteral("mnuIntegration"))->trigger();
        window = nullptr;
        for (auto* w : program.mainWindow->findChildren<Frm_Integration*>())
            if (w->isVisible())
                window = w;
        QVERIFY(window);
        window->findChild<QPushButton*>(QStringLiteral("cmdNewToken"))->click();
        QCOMPARE(rig.dialogs.questions().size(), 1);
        const QString second = rig.dialogs.messages().last().split(QStringLiteral("\r\n"))[2];
        QVERIFY(second != first);
        QCOMPARE(status(first), 401);
        QCOMPARE(status(second), 200);
        // OK again with the API on: no token is shown, since one exists.
        const qsizetype shownBefore = rig.dialogs.messages().size();
        window->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        QCOMPARE(rig.dialogs.messages().size(), shownBefore);
        QCOMPARE(status(second), 200);
        net.clearConnectionCache();
    }

    // A burst from a local client: 1,000 requests at once, each key sent twice, one key in ten with a bad number.
    // The window thread (this one) keeps its timers on time throughout.
    void burst()
    {
        const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
        if (curl.isEmpty())
            QSKIP("curl is not installed");
        setting(QStringLiteral("ApiRatePerMinute"), QStringLiteral("100000"));
        constexpr int Requests = 1000;
        QFile config(dir.filePath(QStringLiteral("burst.curl")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        QMap<int, int> expected; // request -> status
        for (int i = 0; i < Requests; ++i) {
            const bool bad = i % 20 >= 18; // both requests of a key
            const QString number =
                bad ? QStringLiteral("12x%1").arg(i) : QStringLiteral("+4477009%1").arg(i / 2, 5, 10, QLatin1Char('0'));
            const QString body = QStringLiteral(R"({"to": "%1", "text": "burst %2"})").arg(number).arg(i / 2);
            config.write(QStringLiteral("url = \"%1\"\nrequest = \"POST\"\noutput = \"/dev/null\"\n"
                                        "header = \"Authorization: Bearer %2\"\nheader = \"Idempotency-Key: k%3\"\n"
                                        "header = \"Content-Type: application/json\"\ndata = \"%4\"\n"
                                        "write-out = \"%{http_code} %{url_effective}\\n\"\n%5")
                             .arg(url(QStringLiteral("/messages?n=%1").arg(i)).toString(), token)
                             .arg(i / 2)
                             .arg(QString(body).replace(QLatin1Char('"'), QStringLiteral("\\\"")),
                                  i + 1 < Requests ? QStringLiteral("next\n") : QString())
                             .toUtf8());
            expected[i] = bad ? 400 : 201;
        }
        config.close();

        std::vector<qint64> lateness;
        QElapsedTimer clock;
        clock.start();
        qint64 due = 5;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        connect(&tick, &QTimer::timeout, this, [&] {
            const qint64 now = clock.elapsed();
            lateness.push_back(std::max<qint64>(0, now - due));
            due = now + 5;
        });
        tick.start(5);
        QProcess client;
        client.start(curl, {QStringLiteral("--silent"), QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                            QStringLiteral("300"), QStringLiteral("--config"), config.fileName()});
        QVERIFY(client.waitForStarted());
        QEventLoop loop;
        connect(&client, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        tick.stop();
        const qint64 took = clock.elapsed();
        QCOMPARE(client.state(), QProcess::NotRunning);

        QMap<int, int> got;
        for (const QByteArray& line : client.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const QList<QByteArray> fields = line.split(' ');
            got[QUrlQuery(QUrl(QString::fromLatin1(fields.value(1))).query())
                    .queryItemValue(QStringLiteral("n"))
                    .toInt()] = fields[0].toInt();
        }
        QCOMPARE(got, expected);
        // Each key twice, one row each; the bad numbers none.
        QCOMPARE(outboxRows(), qint64(Requests / 2 - Requests / 20));
        QCOMPARE(db->count(QStringLiteral("SELECT count(DISTINCT RecipientMobileNo) FROM Message_OutBox")),
                 outboxRows());

        std::sort(lateness.begin(), lateness.end());
        QVERIFY(lateness.size() > 10);
        const qint64 p99 = lateness[lateness.size() * 99 / 100];
        qInfo("burst: %d requests in %lld ms; window thread timer lateness p99 %lld ms (max %lld ms, %zu ticks);"
              " %d deliver-now calls",
              Requests, took, p99, lateness.back(), lateness.size(), deliverCalls);
        QVERIFY2(p99 < 30, qPrintable(QStringLiteral("p99 lateness %1 ms").arg(p99)));
        QVERIFY(deliverCalls >= 1 && deliverCalls <= Requests / 2);
    }
};

QTEST_MAIN(TestApi)
#include "tst_api.moc"
