// The server's word that rows of the shared message base changed on another connection (another computer, or a
// modem thread of this program): the open windows show them at once rather than at their next refresh. A burst
// of changes (a delivery run writes a row at a time) is told at most every EveryMs, naming the tables touched.
// One per connection, found with Of(); a message base in a file has none (the local bus tells of its changes).
#pragma once

#include <QElapsedTimer>
#include <QFlags>
#include <QObject>
#include <QSqlDriver>
#include <QTimer>

class Database;

class ServerNews : public QObject {
    Q_OBJECT
public:
    enum Table { Inbox = 1, Outbox = 2, Calls = 4 };
    Q_DECLARE_FLAGS(Tables, Table)

    static constexpr int EveryMs = 200;

    // The news of the window thread's connection to the server, subscribed on first use; null on a file.
    static ServerNews* Of(Database& db);

Q_SIGNALS:
    void rowsChanged(ServerNews::Tables tables);

private:
    explicit ServerNews(QSqlDriver* driver);
    void heard(const QString& channel, QSqlDriver::NotificationSource source, const QVariant& payload);
    void tell();

    Tables pending;
    QTimer later;
    QElapsedTimer lastTold;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ServerNews::Tables)
