// A small local channel between the Broadtext processes that share one message base on this computer.
//
// The process that runs the modems (the desktop program, or the headless service) listens; the command line
// and a desktop program that only shows the data connect to it. What travels is single words, one per line:
//   "outbox"  a client queued rows: the owner starts a delivery run at once instead of at the next tick;
//   "changed" the owner wrote rows (received, sent, marked): a client showing the data refreshes;
//   "settings" a client saved the integration settings: the owner's API server and hooks read them again.
// The socket is named after the database file, so two message bases never hear each other, and it lives in
// the user's runtime folder, so other users cannot reach it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QTimer;

class LocalBus : public QObject {
    Q_OBJECT
public:
    explicit LocalBus(QObject* parent = nullptr);
    ~LocalBus() override;

    // The socket name for a database file: the same for every path that names the same file.
    static QString ServerName(const QString& databasePath);

    // Owner side. False when another live process already listens for this database (a stale socket left by a
    // killed process is taken over).
    bool listen(const QString& databasePath);
    bool isListening() const;
    // Sends a word to every connected client.
    void broadcast(const QByteArray& word);

    // Client side. Keeps a connection to the owner, connecting again every second while there is none, and
    // emits received for each word the owner sends.
    void subscribe(const QString& databasePath);
    bool isConnected() const;

    // One word to the owner, for a short-lived client such as the command line. Waits at most timeoutMs; false
    // when no owner listens (the rows are then picked up at the owner's next start or tick).
    static bool Send(const QString& databasePath, const QByteArray& word, int timeoutMs = 500);

Q_SIGNALS:
    // A word from the other side: on the owner, from a client; on a client, from the owner.
    void received(const QByteArray& word);

private:
    void acceptClients();
    void readFrom(QLocalSocket* socket);
    void connectToOwner();

    QLocalServer* server = nullptr;
    QList<QLocalSocket*> clients;
    QLocalSocket* owner = nullptr;
    QTimer* reconnect = nullptr;
    QString subscribedName;
};
