// The headless service: see Headless.h.
#include "app/Headless.h"

#include "app/Owner.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "delivery/Engine.h"
#include "store/ActivityLog.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/OutboxRepository.h"
#include "store/SettingsRows.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

void WriteJournal(JournalPriority priority, const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    QByteArray out;
    for (const QString& line : text.split(lineBreak, Qt::SkipEmptyParts))
        if (!line.trimmed().isEmpty())
            out += '<' + QByteArray::number(int(priority)) + '>' + line.toUtf8() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stderr);
    std::fflush(stderr);
}

void JournalDialogs::tell(JournalPriority priority, const QString& text)
{
    log.WriteActivityLog(text);
    WriteJournal(priority, text);
}

void JournalDialogs::message(const QString& text)
{
    tell(JournalPriority::Error, text);
}

void JournalDialogs::notice(const QString& text)
{
    tell(JournalPriority::Warning, text);
}

bool JournalDialogs::question(const QString& text)
{
    tell(JournalPriority::Notice, text + QStringLiteral("\r\n(No one is there to answer: No.)"));
    return false;
}

int JournalDialogs::choice(const QString& text, const QStringList& buttons)
{
    const int closing = int(buttons.size()) - 1;
    tell(JournalPriority::Error, text + QStringLiteral("\r\n(No one is there to answer: %1.)")
                                            .arg(QString(buttons.value(closing)).remove(QLatin1Char('&'))));
    return std::max(closing, 0);
}

void JournalDialogs::showFolder(const QString& path)
{
    tell(JournalPriority::Info, QStringLiteral("See the folder %1.").arg(path));
}

QString JournalDialogs::openFileName(const QString&, const QString&)
{
    return {};
}

QString JournalDialogs::saveFileName(const QString&, const QString&)
{
    return {};
}

namespace {

// SIGTERM and SIGINT, turned into an event of the event loop: the handler only writes the signal's number to
// a pipe (nothing else is safe there), the loop reads it.
int stopPipe[2] = {-1, -1};

void onStopSignal(int signal)
{
    const char number = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &number, 1);
}

class StopSignals : public QObject {
public:
    // False when the signals cannot be caught.
    bool install(std::function<void(int)> stop)
    {
        if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, stop] {
            char number = 0;
            while (::read(stopPipe[0], &number, 1) == 1)
                stop(number);
        });
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
    }
    ~StopSignals() override
    {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }

private:
    QSocketNotifier* notifier = nullptr;
};

class SilentSound : public SoundPlayer {
public:
    bool PlayWaveFile(const QString&, bool) override { return false; }
};

} // namespace

int RunHeadless(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("broadtext"));

    AppState state;
    SystemClock clock;
    SilentSound sound;
    state.clock = &clock;
    state.sound = &sound;
    state.dataDir = DefaultDataDirectory();
    state.ActivityLogOn = true;
    state.MessagePageSize = 100;
    state.endApplication = [] { QCoreApplication::exit(0); };
    // Declared before the engine: the lock outlives it, so no other process opens a port it still closes.
    OwnerLock lock;
    Database db;
    ActivityLog log(state);
    JournalDialogs dialogs(log);
    state.dialogs = &dialogs;

    QString problem;
    ConnectDatabase(state, db, &problem);
    if (!state.DatabaseConnected) {
        WriteJournal(JournalPriority::Error, problem);
        return 1;
    }

    int status = 0;
    QList<int> modems;
    {
        Engine engine(state, db, log);
        ModemOwner owner(state, db, log, engine, lock);
        if (!owner.take()) {
            WriteJournal(
                JournalPriority::Error,
                QStringLiteral("Broadtext does not start as a service for %1: its modems are run by %2 on this "
                               "computer.")
                    .arg(Database::DisplayLocation(db.filePath()), owner.ownerName()));
            return 1;
        }
        StopSignals stopSignals;
        bool stopping = false;
        if (!stopSignals.install([&engine, &log, &stopping](int signal) {
                // A second signal while stopping (a supervisor and a terminal both asking) changes nothing.
                if (std::exchange(stopping, true))
                    return;
                const QString line = QStringLiteral("The Broadtext service stops (%1).")
                                         .arg(signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT"));
                log.WriteActivityLog(line);
                WriteJournal(JournalPriority::Info, line);
                engine.Disconnect();
                QCoreApplication::exit(0);
            })) {
            WriteJournal(JournalPriority::Error, QStringLiteral("The stop signals cannot be caught."));
            return 1;
        }
        try {
            engine.loadModemSettings();
            LoadRunningSettings(state, db, log);
        } catch (const DbError& e) {
            dialogs.message(e.description());
            return 1;
        }
        // On a server: this computer's modems, on the base it shares (no password is ever in the address).
        const QString started = QStringLiteral("The Broadtext service runs the modems of %1 (process %2).")
                                    .arg(Database::DisplayLocation(db.filePath()))
                                    .arg(QCoreApplication::applicationPid());
        log.WriteActivityLog(started);
        WriteJournal(JournalPriority::Info, started);
        engine.Connect();
        status = QCoreApplication::exec();
        engine.Disconnect();
        modems = engine.modemIds();
    }
    // The modem threads have ended: what they held is free for whoever runs the modems next.
    try {
        OutboxRepository outbox(db);
        for (int id : std::as_const(modems))
            outbox.releaseAll(id);
    } catch (const DbError& e) {
        WriteJournal(JournalPriority::Error, e.description());
    }
    return status;
}
