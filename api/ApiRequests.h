// The local HTTP API's requests, apart from the HTTP transport: one request in (method, path, query, headers
// and body, already past the token, size and rate checks), one reply out. Runs on the API's own thread over its
// own database connection, so it may wait for the database without holding up the windows.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

class Database;

struct ApiRequest {
    QByteArray method; // "GET", "POST", ...
    QString path;
    QUrlQuery query;
    QByteArray idempotencyKey; // the header's value; empty when not given
    QByteArray body;
};

struct ApiReply {
    int status = 200;
    QByteArray body; // JSON
    QList<QPair<QByteArray, QByteArray>> headers;
    bool queued = false; // Outbox rows were added: the modems should start at once
};

// {"error": text} with the status.
ApiReply ApiError(int status, const QString& text);

// Answers one request. The clock is read once per request for the rows' queueing time.
ApiReply HandleApiRequest(Database& db, const ApiRequest& request, const QDateTime& now);
