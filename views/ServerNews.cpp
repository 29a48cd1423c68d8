// The server's news of changed rows: see ServerNews.h.
#include "views/ServerNews.h"

#include "store/Database.h"

#include <QSqlDatabase>
#include <algorithm>
#include <utility>

ServerNews* ServerNews::Of(Database& db)
{
    if (!db.isServer() || !db.isOpen())
        return nullptr;
    // A child of the connection's driver: it lives as long as the connection (the driver stays the same across
    // reconnects, and the database subscribes it again), and every window finds the same one.
    QSqlDriver* driver = db.connection().driver();
    if (auto* news = driver->findChild<ServerNews*>(QString(), Qt::FindDirectChildrenOnly))
        return news;
    auto* news = new ServerNews(driver);
    db.listen(Database::ChangedChannelName());
    return news;
}

ServerNews::ServerNews(QSqlDriver* driver) : QObject(driver)
{
    later.setSingleShot(true);
    connect(&later, &QTimer::timeout, this, &ServerNews::tell);
    connect(driver, &QSqlDriver::notification, this, &ServerNews::heard);
}

void ServerNews::heard(const QString& channel, QSqlDriver::NotificationSource source, const QVariant& payload)
{
    // What this connection wrote itself the window that wrote it has already shown.
    if (source == QSqlDriver::SelfSource || channel != Database::ChangedChannelName())
        return;
    const QString table = payload.toString();
    if (table == QLatin1String("message_inbox"))
        pending |= Inbox;
    else if (table == QLatin1String("message_outbox"))
        pending |= Outbox;
    else if (table == QLatin1String("missedcallstatistics"))
        pending |= Calls;
    if (!pending || later.isActive())
        return;
    // The first news after a quiet spell goes at once (after the notifications read with it); the rest of a burst
    // waits for the next turn.
    const qint64 since = lastTold.isValid() ? lastTold.elapsed() : EveryMs;
    later.start(int(std::clamp<qint64>(EveryMs - since, 0, EveryMs)));
}

void ServerNews::tell()
{
    lastTold.start();
    const Tables told = std::exchange(pending, {});
    Q_EMIT rowsChanged(told);
}
