// The hand-over dispatcher: see HandOver.h.
#include "delivery/HandOver.h"

#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/IntegrationSettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QProcessEnvironment>
#include <QUrl>
#include <optional>

namespace {

const QString HookTarget = QStringLiteral("hook");
const QString WebhookTarget = QStringLiteral("webhook");
constexpr int KeptErrorBytes = 400;         // of the hook's standard error, for the log
constexpr int DatabaseRetryMs = 5000;       // a failed look at the database is tried again after this
constexpr qint64 LongestWaitMs = 3600000LL; // a timer never waits longer; the rows are looked at again then

QString receivedText(const QDateTime& at)
{
    return at.isValid() ? at.toUTC().toString(Qt::ISODate) : QString();
}

} // namespace

struct HandOver::Lane {
    explicit Lane(const QString& target) : target(target)
    {
        wakeTimer.setSingleShot(true);
        killTimer.setSingleShot(true);
    }
    QString target;
    std::optional<HandOverRow> current;
    QProcess* process = nullptr;
    QNetworkReply* reply = nullptr;
    QByteArray errorTail;
    bool timedOut = false;
    int timeoutMs = 0; // of the try under way
    QTimer wakeTimer;
    QTimer killTimer;
    QString lastDatabaseError;
};

HandOver::HandOver(Database& db, ActivityLog& log, Clock& clock, QObject* parent)
    : QObject(parent), db(db), log(log), clock(clock), rows(db), hook(std::make_unique<Lane>(HookTarget)),
      webhook(std::make_unique<Lane>(WebhookTarget))
{
    for (Lane* lane : {hook.get(), webhook.get()}) {
        connect(&lane->wakeTimer, &QTimer::timeout, this, [this, lane] { pump(*lane); });
        connect(&lane->killTimer, &QTimer::timeout, this, [lane] {
            if (lane->process) {
                lane->timedOut = true;
                lane->process->kill();
            }
        });
    }
    // What a dispatcher that died left behind, and what came while none ran.
    wake();
}

HandOver::~HandOver()
{
    for (Lane* lane : {hook.get(), webhook.get()}) {
        if (lane->process) {
            lane->process->disconnect(this);
            lane->process->kill();
            lane->process->waitForFinished(1000);
            delete lane->process;
        }
        if (lane->reply) {
            lane->reply->disconnect(this);
            lane->reply->abort();
            lane->reply->deleteLater();
        }
        if (lane->current) {
            try {
                rows.release(*lane->current);
            } catch (const DbError&) {
                // Going away: the row's hold runs out and the next dispatcher takes it then.
            }
        }
    }
}

void HandOver::follow(Engine& engine)
{
    connect(&engine, &Engine::inboxMessageStored, this, &HandOver::wake);
    connect(&engine, &Engine::callRecorded, this, &HandOver::wake);
    connect(&engine, &Engine::outboxChanged, this, &HandOver::wake);
}

void HandOver::wake()
{
    // Never inside the caller's work (it may hold a transaction open on the shared connection).
    for (Lane* lane : {hook.get(), webhook.get()})
        if (!lane->current)
            lane->wakeTimer.start(0);
}

int HandOver::timeoutMs() const
{
    return std::max(1, ReadIntegrationNumber(db, QStringLiteral("HookTimeoutSec"), DefaultHookTimeoutSec)) * 1000;
}

QString HandOver::IdempotencyId(const HandOverRow& row)
{
    if (row.kind == QLatin1String("message"))
        return QStringLiteral("msg-%1").arg(row.refId);
    if (row.kind == QLatin1String("call"))
        return QStringLiteral("call-%1").arg(row.refId);
    // A sent message can have several reports (one a part): the hand-over's own row tells them apart.
    return QStringLiteral("%1-%2-%3").arg(row.kind).arg(row.refId).arg(row.id);
}

QByteArray HandOver::Payload(const HandOverRow& row, const HandOverSubject& subject)
{
    QJsonObject o{{QStringLiteral("idempotency_id"), IdempotencyId(row)},
                  {QStringLiteral("kind"), row.kind},
                  {QStringLiteral("id"), row.refId},
                  {QStringLiteral("number"), subject.number},
                  {QStringLiteral("text"), subject.text},
                  {QStringLiteral("received"), receivedText(subject.at)},
                  {QStringLiteral("modem"), subject.modem}};
    if (row.kind == QLatin1String("report"))
        o.insert(QStringLiteral("status"), subject.status);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray HandOver::Signature(const QByteArray& body, const QString& secret)
{
    return "sha256=" + QMessageAuthenticationCode::hash(body, secret.toUtf8(), QCryptographicHash::Sha256).toHex();
}

QString HandOver::describe(const HandOverRow& row) const
{
    if (row.kind == QLatin1String("message"))
        return QStringLiteral("message %1").arg(row.refId);
    if (row.kind == QLatin1String("call"))
        return QStringLiteral("call %1").arg(row.refId);
    return QStringLiteral("delivery report \"%1\" of SMS %2").arg(row.detail).arg(row.refId);
}

void HandOver::pump(Lane& lane)
{
    if (lane.current)
        return;
    try {
        const bool isHook = lane.target == HookTarget;
        const QString where =
            ReadIntegrationValue(db, isHook ? QStringLiteral("HookCommand") : QStringLiteral("WebhookUrl")).trimmed();
        // A target switched off keeps its rows waiting; they go once it is set up again.
        if (where.isEmpty() || (isHook && QProcess::splitCommand(where).isEmpty()))
            return;
        const QDateTime now = clock.now();
        lane.timeoutMs = timeoutMs();
        const std::optional<HandOverRow> row =
            rows.claimNext(lane.target, now, now.addMSecs(lane.timeoutMs + holdMarginMs));
        lane.lastDatabaseError.clear();
        if (!row) {
            schedule(lane);
            return;
        }
        const std::optional<HandOverSubject> subject = rows.subject(*row);
        if (!subject) {
            const QString error = QStringLiteral("it is no longer in the database");
            rows.markFailed(*row, error);
            log.WriteActivityLog(
                QStringLiteral("Could not hand over %1 to the %2: %3").arg(describe(*row), lane.target, error));
            Q_EMIT tryFailed(lane.target, row->id, true);
            lane.wakeTimer.start(0);
            return;
        }
        lane.current = row;
        start(lane, *row, *subject);
    } catch (const DbError& e) {
        // A row taken but not started stays held until its hold runs out, and is tried then.
        if (lane.current && !lane.process && !lane.reply)
            lane.current.reset();
        if (e.description() != lane.lastDatabaseError)
            log.WriteActivityLog(
                QStringLiteral("Handing over to the %1 waits for the database: %2").arg(lane.target, e.description()));
        lane.lastDatabaseError = e.description();
        lane.wakeTimer.start(DatabaseRetryMs);
    }
}

void HandOver::schedule(Lane& lane)
{
    const std::optional<QDateTime> due = rows.nextDue(lane.target);
    if (!due) {
        lane.wakeTimer.stop();
        return;
    }
    lane.wakeTimer.start(int(std::clamp(clock.now().msecsTo(*due), 0LL, LongestWaitMs)));
}

void HandOver::start(Lane& lane, const HandOverRow& row, const HandOverSubject& subject)
{
    const QByteArray body = Payload(row, subject);
    if (lane.target == HookTarget)
        runHook(lane, row, subject, body);
    else
        postWebhook(lane, row, body);
}

void HandOver::runHook(Lane& lane, const HandOverRow& row, const HandOverSubject& subject, const QByteArray& body)
{
    QStringList args = QProcess::splitCommand(ReadIntegrationValue(db, QStringLiteral("HookCommand")));
    const QString program = args.takeFirst();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BROADTEXT_ID"), QString::number(row.refId));
    env.insert(QStringLiteral("BROADTEXT_IDEMPOTENCY_ID"), IdempotencyId(row));
    env.insert(QStringLiteral("BROADTEXT_KIND"), row.kind);
    env.insert(QStringLiteral("BROADTEXT_NUMBER"), subject.number);
    env.insert(QStringLiteral("BROADTEXT_TEXT"), subject.text);
    env.insert(QStringLiteral("BROADTEXT_RECEIVED"), receivedText(subject.at));
    env.insert(QStringLiteral("BROADTEXT_MODEM"), subject.modem);
    if (row.kind == QLatin1String("report"))
        env.insert(QStringLiteral("BROADTEXT_STATUS"), subject.status);

    auto* p = new QProcess(this);
    lane.process = p;
    lane.errorTail.clear();
    lane.timedOut = false;
    p->setProcessEnvironment(env);
    p->setStandardOutputFile(QProcess::nullDevice());
    connect(p, &QProcess::readyReadStandardError, this, [&lane, p] {
        lane.errorTail += p->readAllStandardError();
        if (lane.errorTail.size() > KeptErrorBytes)
            lane.errorTail = lane.errorTail.right(KeptErrorBytes);
    });
    connect(p, &QProcess::errorOccurred, this, [this, &lane, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart && lane.process == p)
            ended(lane, false, QStringLiteral("it could not be started (%1)").arg(p->errorString()));
    });
    connect(p, &QProcess::finished, this, [this, &lane, p](int code, QProcess::ExitStatus status) {
        if (lane.process != p)
            return;
        lane.errorTail += p->readAllStandardError();
        const QString said = QString::fromUtf8(lane.errorTail).trimmed();
        QString error;
        if (lane.timedOut)
            error = QStringLiteral("it did not finish within %1 s and was stopped").arg(lane.timeoutMs / 1000);
        else if (status != QProcess::NormalExit)
            error = QStringLiteral("it crashed");
        else if (code != 0)
            error = QStringLiteral("it ended with status %1").arg(code);
        if (!error.isEmpty() && !said.isEmpty())
            error += QStringLiteral(": ") + said.right(KeptErrorBytes);
        ended(lane, error.isEmpty(), error);
    });
    p->start(program, args);
    if (lane.process != p) // could not start: already ended
        return;
    p->write(body);
    p->closeWriteChannel();
    lane.killTimer.start(lane.timeoutMs);
}

void HandOver::postWebhook(Lane& lane, const HandOverRow& row, const QByteArray& body)
{
    if (!network)
        network = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(ReadIntegrationValue(db, QStringLiteral("WebhookUrl")).trimmed()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Idempotency-Key", IdempotencyId(row).toUtf8());
    const QString secret = ReadIntegrationValue(db, QStringLiteral("WebhookSecret"));
    if (!secret.isEmpty())
        request.setRawHeader("X-Broadtext-Signature", Signature(body, secret));
    request.setTransferTimeout(lane.timeoutMs);
    QNetworkReply* reply = network->post(request, body);
    lane.reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, &lane, reply] {
        if (lane.reply != reply)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QString error;
        if (status < 200 || status > 299)
            error = status > 0 ? QStringLiteral("the server answered %1 %2")
                                     .arg(status)
                                     .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                                     .trimmed()
                               : reply->errorString();
        ended(lane, error.isEmpty(), error);
    });
}

void HandOver::ended(Lane& lane, bool ok, const QString& error)
{
    const HandOverRow row = *lane.current;
    lane.current.reset();
    lane.killTimer.stop();
    if (lane.process) {
        lane.process->disconnect(this);
        lane.process->deleteLater();
        lane.process = nullptr;
    }
    if (lane.reply) {
        lane.reply->deleteLater();
        lane.reply = nullptr;
    }
    try {
        const QDateTime now = clock.now();
        if (ok) {
            rows.markDone(row, now);
            if (row.tries > 1)
                log.WriteActivityLog(QStringLiteral("Handed over %1 to the %2 at try %3")
                                         .arg(describe(row), lane.target)
                                         .arg(row.tries));
            Q_EMIT handedOver(lane.target, row.id);
        } else {
            const int maxTries = std::max(1, ReadIntegrationNumber(db, QStringLiteral("HookMaxTries"), 5));
            const bool final = row.tries >= maxTries;
            if (final) {
                rows.markFailed(row, error);
                log.WriteActivityLog(QStringLiteral("Gave up handing over %1 to the %2 after %3 tries: %4")
                                         .arg(describe(row), lane.target)
                                         .arg(row.tries)
                                         .arg(error));
            } else {
                const int pause =
                    backoff.isEmpty() ? 0 : backoff.at(std::min<qsizetype>(row.tries - 1, backoff.size() - 1));
                rows.markRetry(row, now.addMSecs(pause), error);
                log.WriteActivityLog(QStringLiteral("Could not hand over %1 to the %2 (try %3 of %4): %5; trying again "
                                                    "in %6 s")
                                         .arg(describe(row), lane.target)
                                         .arg(row.tries)
                                         .arg(maxTries)
                                         .arg(error)
                                         .arg((pause + 999) / 1000));
            }
            Q_EMIT tryFailed(lane.target, row.id, final);
        }
    } catch (const DbError& e) {
        // The row stays held; its hold runs out and it is tried again (the receiver drops a repeat by its id).
        log.WriteActivityLog(QStringLiteral("Could not record the hand-over of %1 to the %2: %3")
                                 .arg(describe(row), lane.target, e.description()));
    }
    lane.wakeTimer.start(0);
}
