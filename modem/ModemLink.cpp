#include "modem/ModemLink.h"

#include "common/AppState.h"
#include "common/Seams.h"

#include <QMetaObject>

ModemLink::ModemLink(AppState& state, QObject* parent, const ModemPlumbing& plumbing) : QObject(parent), state(state)
{
    thread.setObjectName(QStringLiteral("modem"));
    routines = new ModemRoutines(abort, nullptr, plumbing);
    routines->moveToThread(&thread);
    connect(&thread, &QThread::finished, routines, &QObject::deleteLater);
    // The routines speak from the modem thread; what they say is handed over in order.
    routines->log = [this](const QString& line) {
        here([this, line] {
            if (writeLog)
                writeLog(line);
        });
    };
    routines->failed = [this](const LinkError& e) {
        here([this, e] {
            if (failed)
                failed(e);
        });
    };
    routines->unsolicited = [this](const Unsolicited& u) { here([this, u] { Q_EMIT unsolicited(u); }); };
    routines->portLost = [this] { here([this] { Q_EMIT portLost(); }); };
    routines->probeProgress = [this](int port) { here([this, port] { Q_EMIT probeProgress(port); }); };
    thread.start();
}

ModemLink::~ModemLink()
{
    cancelAll();
    thread.quit();
    thread.wait();
}

void ModemLink::onModemThread(std::function<void()> f)
{
    QMetaObject::invokeMethod(routines, std::move(f), Qt::QueuedConnection);
}

void ModemLink::here(std::function<void()> f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

bool ModemLink::waiting(Work kind) const
{
    if (running(kind))
        return true;
    for (const auto& j : queue)
        if (j->kind == kind)
            return true;
    return false;
}

void ModemLink::pump()
{
    if (current)
        return;
    if (queue.empty()) {
        Q_EMIT idle();
        return;
    }
    current = queue.front();
    queue.pop_front();
    abort = false;
    onModemThread(current->run);
}

void ModemLink::cancelAll()
{
    if (current)
        abort = true;
    std::deque<std::shared_ptr<Job>> given;
    given.swap(queue);
    for (const auto& j : given)
        j->cancel();
}

void ModemLink::adopt(QObject* o)
{
    o->moveToThread(&thread);
    connect(&thread, &QThread::finished, o, &QObject::deleteLater);
}

void ModemLink::requestHealth(QObject* context, std::function<void(const HealthResult&)> done)
{
    request<HealthResult>(
        Work::Health, [](ModemRoutines& modem) { return modem.PollHealth(); }, context,
        [this, done = std::move(done)](const HealthResult& r) {
            HealthResult stamped = r;
            if (!r.aborted && state.clock)
                stamped.health.checked = state.clock->now();
            if (done)
                done(stamped);
        });
}
