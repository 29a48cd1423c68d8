// The local channel between Broadtext processes: see LocalBus.h.
#include "common/LocalBus.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

constexpr int MaxLine = 256; // a word is short: anything longer is not ours and closes the connection

} // namespace

LocalBus::LocalBus(QObject* parent) : QObject(parent) {}

LocalBus::~LocalBus() = default;

QString LocalBus::ServerName(const QString& databasePath)
{
    const QFileInfo info(databasePath);
    const QString canonical = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("broadtext-") + QString::fromLatin1(hash);
}

bool LocalBus::listen(const QString& databasePath)
{
    const QString name = ServerName(databasePath);
    if (!server) {
        server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server, &QLocalServer::newConnection, this, &LocalBus::acceptClients);
    }
    if (server->listen(name))
        return true;
    if (server->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // A socket file is there. If nobody answers on it, its process died and left it behind.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(200))
        return false;
    QLocalServer::removeServer(name);
    return server->listen(name);
}

bool LocalBus::isListening() const
{
    return server && server->isListening();
}

void LocalBus::broadcast(const QByteArray& word)
{
    for (QLocalSocket* c : std::as_const(clients))
        c->write(word + '\n');
}

void LocalBus::acceptClients()
{
    while (QLocalSocket* c = server->nextPendingConnection()) {
        clients.append(c);
        connect(c, &QLocalSocket::readyRead, this, [this, c] { readFrom(c); });
        connect(c, &QLocalSocket::disconnected, this, [this, c] {
            clients.removeAll(c);
            c->deleteLater();
        });
    }
}

void LocalBus::readFrom(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray word = socket->readLine(MaxLine).trimmed();
        if (!word.isEmpty())
            Q_EMIT received(word);
    }
    if (socket->bytesAvailable() > MaxLine)
        socket->abort();
}

void LocalBus::subscribe(const QString& databasePath)
{
    subscribedName = ServerName(databasePath);
    if (!reconnect) {
        reconnect = new QTimer(this);
        reconnect->setInterval(1000);
        connect(reconnect, &QTimer::timeout, this, &LocalBus::connectToOwner);
    }
    connectToOwner();
}

bool LocalBus::isConnected() const
{
    return owner && owner->state() == QLocalSocket::ConnectedState;
}

void LocalBus::connectToOwner()
{
    if (isConnected())
        return;
    if (!owner) {
        owner = new QLocalSocket(this);
        connect(owner, &QLocalSocket::readyRead, this, [this] { readFrom(owner); });
        connect(owner, &QLocalSocket::connected, reconnect, &QTimer::stop);
        connect(owner, &QLocalSocket::disconnected, reconnect, qOverload<>(&QTimer::start));
        connect(owner, &QLocalSocket::errorOccurred, reconnect, qOverload<>(&QTimer::start));
    }
    owner->abort();
    owner->connectToServer(subscribedName);
}

bool LocalBus::Send(const QString& databasePath, const QByteArray& word, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(ServerName(databasePath));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(word + '\n');
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}
