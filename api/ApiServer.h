// The local HTTP API: other programs on this computer queue messages, read their state and the Inbox, and add
// numbers to the opt-out list, with JSON over HTTP (api/ApiRequests.h says what each request does).
//
// Off until the user switches it on (Integration_setting "ApiEnabled"); it listens on "ApiAddress" (127.0.0.1)
// and "ApiPort" (8765). Every request carries the token shown once when it was made (only its hash is
// stored); the body size ("ApiMaxBody") and the request rate ("ApiRatePerMinute") are limited.
//
// The server and its database connection live on a thread of their own. A request waits for the disk
// (synchronous commits) and at times for another connection's write lock; done on the window thread, a burst
// of requests would freeze the windows for as long. The window thread only hears that rows were queued.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>

class ApiWorker;

// The settings the server runs with.
struct ApiSettings {
    bool enabled = false;
    QString address = QStringLiteral("127.0.0.1");
    int port = 8765;
    int maxBody = 256 * 1024;
    int ratePerMinute = 600;
};

class ApiService : public QObject {
    Q_OBJECT
public:
    // Opens its own connection to this database file, which an open connection has set up already.
    explicit ApiService(const QString& databasePath, QObject* parent = nullptr);
    ~ApiService() override;

    // Reads the settings again and listens, stops, or listens anew as they say. Returns an empty text, or why
    // the server could not listen (also kept in problem()).
    QString apply();
    bool isListening() const;
    // The port listened on (the setting, or the one the system chose for port 0); 0 when not listening.
    quint16 port() const;
    QString problem() const;

Q_SIGNALS:
    // Outbox rows were queued: emitted on this object's thread, at most once per turn of its event loop
    // however many requests queued rows meanwhile. Nobody connected: the owner of the modems is told
    // through the local bus instead (the API running in a process that does not drive the modems).
    void queued();

private:
    void rowsQueued();

    QString databasePath;
    QThread thread;
    ApiWorker* worker = nullptr;
    std::atomic_bool pending{false};
};
