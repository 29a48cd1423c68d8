// The modem link as the rest of the program sees it: one object on the user-interface thread that owns
// the modem thread (the serial port and every exchange run there) and the queue of requests for it.
//
// Windows, timers and the call watch ask for work with request(); the work runs on the modem thread, one
// request at a time and in the order asked, so no exchange can take another's answer; its result comes
// back to the callback on the user-interface thread, which never sleeps or waits for the modem. Whether
// the modem is busy is known here and only here. Unsolicited lines, activity-log lines and failures the user
// is to hear of (as LinkError values: the link chooses no words) come back in the order the modem thread made
// them.
#pragma once

#include "modem/ModemRoutines.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

struct AppState;

class ModemLink : public QObject {
    Q_OBJECT
public:
    enum class Work { Connect, Listing, Deletion, Submission, CallWatch, Query, Probe, Health };
    // Who asked: the user's own action (Connect, the SIM manager), or the program by itself (timers,
    // retries). Failures are put in words differently for each.
    enum class Origin { Program, User };

    // The modem is reached through the serial port unless plumbing says otherwise (tests, benchmarks).
    explicit ModemLink(AppState& state, QObject* parent = nullptr, const ModemPlumbing& plumbing = {});
    ~ModemLink() override;

    // Runs work(routines) on the modem thread after the requests before it, then done(result) here. done is
    // skipped once context is destroyed. A request given up (Disconnect, shut-down) completes with a
    // result whose aborted flag is set.
    template <class R>
    void request(Work kind, std::function<R(ModemRoutines&)> work, QObject* context, std::function<void(const R&)> done,
                 Origin origin = Origin::Program);

    // The health poll (ModemRoutines::PollHealth) as one request at the back of the queue: it never breaks into
    // the running request (a submission's parts stay together) and runs between the others. done gets the
    // health with its checked time set from the program's clock (aborted when the poll was given up).
    void requestHealth(QObject* context, std::function<void(const HealthResult&)> done);

    bool busy() const { return current != nullptr || !queue.empty(); }
    bool running(Work kind) const { return current && current->kind == kind; }
    // The running request is the user's own (failures it reports come during it, before its result).
    bool servingUser() const { return current && current->origin == Origin::User; }
    bool waiting(Work kind) const; // queued or running

    // Stops the running request as soon as it can and gives up the waiting ones.
    void cancelAll();

    // Copied to the modem thread with every request.
    double ModemDelayFactor = 1.0;
    int finalAnswerTimeoutMs = 60000;
    // Submissions ask the modem to keep the relay link open between them (AT+CMMS=2, once a connection).
    bool moreMessagesToSend = false;

    // Whether the last initialisation asked for caller identification.
    bool callerIdRequested() const { return callerId.load(); }
    // Milliseconds of prescribed pacing spent on the modem thread so far (benchmarks subtract it).
    qint64 pacedMs() const { return paced.load(); }

    // Moves o to the modem thread, where it is deleted when the thread ends: what work needs of its own there
    // (a database connection of its own, so that a record is kept before the modem's next step without
    // waiting for this thread).
    void adopt(QObject* o);

    std::function<void(const QString&)> writeLog;
    std::function<void(const LinkError&)> failed;

Q_SIGNALS:
    void unsolicited(const Unsolicited& u);
    void portLost();
    void probeProgress(int port);
    void idle(); // nothing runs or waits

private:
    struct Job {
        Work kind;
        Origin origin = Origin::Program;
        std::function<void()> run;    // on the modem thread
        std::function<void()> cancel; // here, for a job given up before it ran
    };
    void pump();
    void onModemThread(std::function<void()> f);
    void here(std::function<void()> f);

    AppState& state;
    QThread thread;
    std::atomic<bool> abort{false};
    std::atomic<bool> callerId{false};
    std::atomic<qint64> paced{0};
    ModemRoutines* routines; // lives on the modem thread
    std::deque<std::shared_ptr<Job>> queue;
    std::shared_ptr<Job> current;
};

template <class R>
void ModemLink::request(Work kind, std::function<R(ModemRoutines&)> work, QObject* context,
                        std::function<void(const R&)> done, Origin origin)
{
    auto job = std::make_shared<Job>();
    job->kind = kind;
    job->origin = origin;
    QPointer<QObject> guard(context);
    const bool guarded = context != nullptr;
    auto deliver = [guard, guarded, done](const R& r) {
        if (done && (!guarded || guard))
            done(r);
    };
    std::weak_ptr<Job> self = job;
    job->run = [this, work, deliver, self, factor = ModemDelayFactor, timeout = finalAnswerTimeoutMs,
                more = moreMessagesToSend, paths = PortPathsOf(state)] {
        routines->ModemDelayFactor = factor;
        routines->finalAnswerTimeoutMs = timeout;
        routines->moreMessagesToSend = more;
        routines->paths = paths;
        R r = work(*routines);
        callerId = routines->callerIdRequested();
        paced = routines->pacedMs();
        here([this, r, deliver, self] {
            if (auto j = self.lock(); j && current == j)
                current.reset();
            deliver(r);
            pump();
        });
    };
    job->cancel = [deliver] {
        R r;
        r.aborted = true;
        deliver(r);
    };
    queue.push_back(job);
    pump();
}
