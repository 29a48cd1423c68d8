// The two receivers a hand-over goes to, real and started by the test: a hook script run by /bin/sh and a
// local HTTP server. Each fails the first tries of every hand-over (counted by its idempotency id) and keeps a
// record, as a careful receiver would: "ID done" the first time it took one, "ID repeat" when the same id
// came again after it had been taken (a try cut off between the taking and the marking).
#pragma once

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

// The record lines grouped: how often each id was taken ("done") and came again ("repeat").
struct ReceiverRecords {
    QHash<QString, int> done;
    QHash<QString, int> repeats;
    int takenMoreThanOnce() const
    {
        int n = 0;
        for (int times : done)
            n += times > 1;
        return n;
    }
    void add(const QString& line)
    {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() == 2)
            ++(parts[1] == QLatin1String("done") ? done : repeats)[parts[0]];
    }
};

class HookScript {
public:
    // A script in folder that fails the first `fails` tries of each hand-over (exit 1, a line on standard error)
    // and then keeps its standard input and environment under done/. While stall() is set, a hand-over it took
    // does not end (its process id in stalled()): what a kill between the taking and the marking leaves.
    HookScript(const QString& folder, int fails) : dir(folder)
    {
        QDir().mkpath(dir + QStringLiteral("/tries"));
        QDir().mkpath(dir + QStringLiteral("/done"));
        QFile f(path());
        f.open(QIODevice::WriteOnly);
        // Only shell builtins after the start: a fork for each try would make the test measure process starts.
        // A try is counted by appending a line, which a kill cannot leave half done.
        f.write(QStringLiteral("#!/bin/sh\n"
                               "d='%1'\n"
                               "id=\"$BROADTEXT_IDEMPOTENCY_ID\"\n"
                               "echo . >> \"$d/tries/$id\"\n"
                               "n=0\n"
                               "while read t; do n=$((n+1)); done < \"$d/tries/$id\"\n"
                               "if [ $n -le %2 ]; then echo \"not yet ($n)\" >&2; exit 1; fi\n"
                               "if [ -e \"$d/done/$id\" ]; then echo \"$id repeat\" >> \"$d/records\"; exit 0; fi\n"
                               "IFS= read -r body\n"
                               "printf '%s' \"$body\" > \"$d/done/$id.json\"\n"
                               "printf '%s\\n' \"$BROADTEXT_ID\" \"$BROADTEXT_KIND\" \"$BROADTEXT_NUMBER\" "
                               "\"$BROADTEXT_TEXT\" \"$BROADTEXT_RECEIVED\" \"$BROADTEXT_MODEM\" > \"$d/done/$id\"\n"
                               "echo \"$id done\" >> \"$d/records\"\n"
                               "if [ -e \"$d/stall\" ]; then echo $$ > \"$d/stalled\"; exec sleep 20; fi\n")
                    .arg(dir)
                    .arg(fails)
                    .toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path() const { return dir + QStringLiteral("/hook.sh"); }
    void stall(bool on)
    {
        QFile f(dir + QStringLiteral("/stall"));
        on ? (void)f.open(QIODevice::WriteOnly) : (void)f.remove();
    }
    qint64 stalled() const { return read(QStringLiteral("/stalled")).trimmed().toLongLong(); }
    ReceiverRecords records() const
    {
        ReceiverRecords r;
        QFile f(dir + QStringLiteral("/records"));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                r.add(QString::fromUtf8(line));
        return r;
    }
    // What the hook was given for this id: its standard input, and its environment (BROADTEXT_ID, _KIND,
    // _NUMBER, _TEXT, _RECEIVED, _MODEM, each followed by a line end).
    QByteArray input(const QString& id) const { return read(QStringLiteral("/done/%1.json").arg(id)); }
    QString environment(const QString& id) const { return QString::fromUtf8(read(QStringLiteral("/done/%1").arg(id))); }

private:
    QByteArray read(const QString& name) const
    {
        QFile f(dir + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString dir;
};

// An HTTP/1.1 server on 127.0.0.1 that answers 500 to the first `fails` POSTs of each idempotency id and 200
// after; it checks the signature header when given the secret (a bad one: 401).
class WebhookServer : public QObject {
public:
    explicit WebhookServer(int fails, QString secret = {}) : fails(fails), secret(std::move(secret))
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
                connect(s, &QTcpSocket::disconnected, this, [this, s] {
                    buffers.remove(s);
                    s->deleteLater();
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/incoming").arg(server.serverPort()); }
    ReceiverRecords records() const
    {
        ReceiverRecords r;
        for (const QString& line : lines)
            r.add(line);
        return r;
    }
    // While set, a request taken gets no answer (the connection stays open): see HookScript::stall.
    bool stall = false;
    int stalledRequests = 0;
    QHash<QString, QByteArray> bodies;     // the body taken, by id
    QHash<QString, QByteArray> signatures; // its X-Broadtext-Signature
    int requests = 0;

private:
    void read(QTcpSocket* s)
    {
        QByteArray& in = buffers[s];
        in += s->readAll();
        for (;;) {
            const qsizetype headEnd = in.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            qsizetype length = 0;
            QByteArray signature;
            for (const QByteArray& line : in.left(headEnd).split('\n')) {
                const qsizetype colon = line.indexOf(':');
                const QByteArray name = line.left(colon).trimmed().toLower();
                if (name == "content-length")
                    length = line.mid(colon + 1).trimmed().toLongLong();
                else if (name == "x-broadtext-signature")
                    signature = line.mid(colon + 1).trimmed();
            }
            if (in.size() < headEnd + 4 + length)
                return;
            const QByteArray body = in.mid(headEnd + 4, length);
            in.remove(0, headEnd + 4 + length);
            answer(s, body, signature);
        }
    }
    void answer(QTcpSocket* s, const QByteArray& body, const QByteArray& signature)
    {
        ++requests;
        const QString id = QJsonDocument::fromJson(body).object().value(QStringLiteral("idempotency_id")).toString();
        int status = 200;
        const QByteArray expected =
            "sha256=" + QMessageAuthenticationCode::hash(body, secret.toUtf8(), QCryptographicHash::Sha256).toHex();
        if (!secret.isEmpty() && signature != expected)
            status = 401;
        else if (++tries[id] <= fails)
            status = 500;
        else if (bodies.contains(id))
            lines << id + QStringLiteral(" repeat");
        else {
            bodies.insert(id, body);
            signatures.insert(id, signature);
            lines << id + QStringLiteral(" done");
            if (stall) {
                ++stalledRequests;
                return;
            }
        }
        s->write(QStringLiteral("HTTP/1.1 %1 %2\r\nContent-Length: 0\r\n\r\n")
                     .arg(status)
                     .arg(status == 200 ? QStringLiteral("OK") : QStringLiteral("No"))
                     .toLatin1());
    }

    int fails;
    QString secret;
    QHash<QTcpSocket*, QByteArray> buffers;
    QHash<QString, int> tries;
    QStringList lines;
    QTcpServer server; // last: its sockets go before what their signals touch
};
