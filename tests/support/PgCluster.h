// A throw-away PostgreSQL server for tests: a cluster of its own in a temporary folder, reachable only through a
// Unix socket in that folder (no TCP), stopped and deleted with the object. Never the machine's own cluster.
// initdb runs once per test process into a template, test database included, that every cluster then copies, so
// a second cluster costs a copy and a server start. PostgreSQL refuses to run as root; a root test process runs the
// server as the `postgres` account (or `nobody`) and connects over the socket as that database user.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <pwd.h>
#include <unistd.h>

class PgCluster {
public:
    // BROADTEXT_PG_BINDIR points at another server's programs; Debian 12 ships PostgreSQL 15.
    static QString binDir()
    {
        const QString dir = qEnvironmentVariable("BROADTEXT_PG_BINDIR");
        return dir.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin") : dir;
    }

    static bool installed()
    {
        return QFileInfo(binDir() + QStringLiteral("/initdb")).isExecutable() &&
               QFileInfo(binDir() + QStringLiteral("/pg_ctl")).isExecutable() &&
               QFileInfo(binDir() + QStringLiteral("/postgres")).isExecutable();
    }

    PgCluster()
    {
        QElapsedTimer clock;
        clock.start();
        const Template& source = sharedTemplate();
        if (!source.error.isEmpty()) {
            failure = source.error;
            return;
        }
        if (!folder.isValid() || !handOver(folder.path())) {
            failure = QStringLiteral("cannot prepare a folder for the cluster: %1")
                          .arg(folder.isValid() ? folder.path() : folder.errorString());
            return;
        }
        // Settings that differ per cluster go last in the file, where they override the template's.
        if (!run({QStringLiteral("cp"), QStringLiteral("-a"), source.data, dataDir()}, false))
            return;
        if (!appendSettings(dataDir(), {QStringLiteral("unix_socket_directories = '%1'").arg(socketDir()),
                                        QStringLiteral("port = %1").arg(port())})) {
            failure = QStringLiteral("cannot write the settings of %1").arg(dataDir());
            return;
        }
        if (!start())
            return;
        startup = clock.elapsed();
    }

    ~PgCluster()
    {
        if (running)
            stop();
    }

    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // True once the server runs and the database exists; otherwise error() says what went wrong.
    bool isReady() const { return failure.isEmpty() && running; }
    QString error() const { return failure; }
    // How long the constructor took, for keeping an eye on test start-up.
    qint64 startupMs() const { return startup; }

    QString socketDir() const { return folder.path(); }
    int port() const { return 5432; }
    static QString databaseName() { return QStringLiteral("broadtext_test"); }
    QString user() const { return serverUser(); }
    QString uri() const { return uri(databaseName()); }
    QString uri(const QString& database) const
    {
        // One arg() call: the folder's percent signs must not be taken for more places to fill.
        return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4")
            .arg(user(), database, QString::fromLatin1(QUrl::toPercentEncoding(socketDir())), QString::number(port()));
    }

    // An open connection through the QPSQL driver; when it could not open, lastError() says why.
    QSqlDatabase addDatabase(const QString& connName) const
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connName);
        db.setHostName(socketDir());
        db.setPort(port());
        db.setDatabaseName(databaseName());
        db.setUserName(user());
        db.open();
        return db;
    }

    // The server dies at once, as if it had crashed; connections break. start() brings it back with the same data:
    // a commit still reaches the operating system before it returns (fsync = off only skips the disk).
    bool stop()
    {
        running = !run({binDir() + QStringLiteral("/pg_ctl"), QStringLiteral("stop"), QStringLiteral("-m"),
                        QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("-s"), QStringLiteral("-D"),
                        dataDir()},
                       true);
        return !running;
    }

    bool start()
    {
        running = run({binDir() + QStringLiteral("/pg_ctl"), QStringLiteral("start"), QStringLiteral("-w"),
                       QStringLiteral("-t"), QStringLiteral("30"), QStringLiteral("-s"), QStringLiteral("-D"),
                       dataDir(), QStringLiteral("-l"), socketDir() + QStringLiteral("/server.log")},
                      true);
        if (!running) {
            QFile log(socketDir() + QStringLiteral("/server.log"));
            if (log.open(QIODevice::ReadOnly))
                failure += QStringLiteral("\nserver log:\n") + QString::fromLocal8Bit(log.readAll().right(2000));
        }
        return running;
    }

private:
    // A cluster is some 30 MB of files written at once; on the disk that alone took over a second on a busy
    // machine, in memory a tenth of that. BROADTEXT_PG_TMPDIR chooses another place.
    static QString scratchTemplate()
    {
        QString root = qEnvironmentVariable("BROADTEXT_PG_TMPDIR");
        if (root.isEmpty()) {
            const QFileInfo memory(QStringLiteral("/dev/shm"));
            root = memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
        }
        return root + QStringLiteral("/broadtext-pg-XXXXXX");
    }

    struct Template {
        QTemporaryDir folder{scratchTemplate()};
        QString data;
        QString error;
    };

    // The account the server runs as: ourselves, unless we are root.
    static QString serverUser()
    {
        if (::geteuid() != 0) {
            const passwd* self = ::getpwuid(::geteuid());
            return self ? QString::fromLocal8Bit(self->pw_name) : QString::fromLocal8Bit(qgetenv("USER"));
        }
        return ::getpwnam("postgres") ? QStringLiteral("postgres") : QStringLiteral("nobody");
    }

    // As root, the server's account must own its folders (initdb insists on owning the data directory).
    static bool handOver(const QString& path)
    {
        if (::geteuid() != 0)
            return true;
        const passwd* account = ::getpwnam(serverUser().toLocal8Bit().constData());
        return account && ::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid) == 0;
    }

    static bool appendSettings(const QString& data, const QStringList& lines)
    {
        QFile conf(data + QStringLiteral("/postgresql.conf"));
        if (!conf.open(QIODevice::Append | QIODevice::Text))
            return false;
        conf.write((QLatin1Char('\n') + lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        return conf.error() == QFileDevice::NoError;
    }

    // Runs a program, as the server's account when asked and we are root; its output goes to the error text.
    static bool run(QStringList command, bool asServer, QString* error, const QByteArray& input = {})
    {
        if (asServer && ::geteuid() == 0)
            command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), serverUser(), QStringLiteral("--")} +
                      command;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(command.takeFirst(), command);
        process.write(input);
        process.closeWriteChannel();
        const bool done = process.waitForFinished(60000);
        const QString output = QString::fromLocal8Bit(process.readAll());
        // The single-user server reads statements from its input and exits 0 even when one of them failed.
        const bool failed = !input.isEmpty() && output.contains(QStringLiteral("ERROR:"));
        if (done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && !failed)
            return true;
        *error += QStringLiteral("%1 %2 failed: %3\n")
                      .arg(process.program(), command.join(QLatin1Char(' ')),
                           process.error() == QProcess::UnknownError ? output : process.errorString());
        return false;
    }
    bool run(const QStringList& command, bool asServer) { return run(command, asServer, &failure); }

    // initdb is the slow part (about a second of processor time), so a process pays for it once. The test
    // database is made here too, by the server in single-user mode (no socket, no start-up wait), and `postgres`,
    // which nothing here uses, goes, leaving less to copy per cluster (one-megabyte WAL segments for the same
    // reason).
    static const Template& sharedTemplate()
    {
        static const std::unique_ptr<Template> made = [] {
            auto made = std::make_unique<Template>();
            made->data = made->folder.path() + QStringLiteral("/data");
            if (!made->folder.isValid() || !handOver(made->folder.path())) {
                made->error = QStringLiteral("cannot prepare a folder for the cluster: %1")
                                  .arg(made->folder.isValid() ? made->folder.path() : made->folder.errorString());
                return made;
            }
            const bool initialised =
                run({binDir() + QStringLiteral("/initdb"), QStringLiteral("-D"), made->data,
                     QStringLiteral("--auth=trust"), QStringLiteral("--encoding=UTF8"), QStringLiteral("--locale=C"),
                     QStringLiteral("--no-sync"), QStringLiteral("--no-instructions"),
                     QStringLiteral("--wal-segsize=1"), QStringLiteral("-U"), serverUser()},
                    true, &made->error) &&
                run({binDir() + QStringLiteral("/postgres"), QStringLiteral("--single"), QStringLiteral("-D"),
                     made->data, QStringLiteral("template1")},
                    true, &made->error,
                    QStringLiteral("CREATE DATABASE %1\nDROP DATABASE postgres\n").arg(databaseName()).toUtf8());
            if (initialised &&
                !appendSettings(made->data, {QStringLiteral("listen_addresses = ''"), QStringLiteral("fsync = off"),
                                             QStringLiteral("full_page_writes = off")}))
                made->error = QStringLiteral("cannot write the settings of %1").arg(made->data);
            return made;
        }();
        return *made;
    }

    QString dataDir() const { return folder.path() + QStringLiteral("/data"); }

    QTemporaryDir folder{scratchTemplate()};
    QString failure;
    bool running = false;
    qint64 startup = -1;
};
