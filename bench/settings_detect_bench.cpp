// How long modem auto-detection takes over COM1 to COM20: with no device at all, with 20 silent modems, with
// one silent modem at the slowest delay factor, and with two answering modems. Time runs from the click on
// the detect button to the list of found modems on the screen.
#include "TestRig.h"
#include "delivery/Engine.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "settings/frm_Settings.h"
#include "tools/ModemSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Figures {
    qint64 ms = 0;
    qint64 sleptMs = 0;
    qsizetype messages = 0;
};

// One detection run: silentPorts get a modem that never answers, answeringPorts one that does.
Figures detect(const QList<int>& silentPorts, const QList<int>& answeringPorts, double factor)
{
    TestRig rig;
    Engine engine(rig.state, rig.db, rig.log);
    engine.timerRefreshHomePage.setEnabled(false);
    engine.setDelayFactor(factor);
    std::vector<std::unique_ptr<ModemSimulator>> sims;
    auto add = [&](int com, bool silent) {
        auto sim = std::make_unique<ModemSimulator>();
        QString error;
        if (!sim->start(&error) || !sim->linkAs(rig.state.dataDir, com, &error))
            qFatal("simulator: %s", qPrintable(error));
        sim->setSilent(silent);
        sims.push_back(std::move(sim));
    };
    for (int com : silentPorts)
        add(com, true);
    for (int com : answeringPorts)
        add(com, false);

    auto* settings = new frm_Settings(engine);
    settings->show();
    QElapsedTimer clock;
    const qint64 sleptBefore = engine.pacedMs();
    clock.start();
    settings->findChild<QPushButton*>(QStringLiteral("cmdChkModem"))->click();
    Frm_FoundModemPortNumbers* list = nullptr;
    while (!list) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (auto* w : settings->findChildren<Frm_FoundModemPortNumbers*>())
            if (w->isVisible())
                list = w;
    }
    Figures f{clock.elapsed(), engine.pacedMs() - sleptBefore, rig.dialogs.messages().size()};
    list->close();
    delete settings;
    QCoreApplication::processEvents();
    return f;
}

void report(const char* what, const QList<Figures>& runs, const char* note)
{
    QList<qint64> ms;
    for (const auto& r : runs)
        ms << r.ms;
    std::sort(ms.begin(), ms.end());
    std::printf("%-56s median %6lld ms  (min %lld, max %lld, %lld runs; %lld ms in prescribed sleeps)  %s\n", what,
                static_cast<long long>(ms.at(ms.size() / 2)), static_cast<long long>(ms.first()),
                static_cast<long long>(ms.last()), static_cast<long long>(ms.size()),
                static_cast<long long>(runs.first().sleptMs), note);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<int> all;
    for (int i = 1; i <= 20; ++i)
        all << i;

    QList<Figures> runs;
    for (int i = 0; i < 5; ++i)
        runs << detect({}, {}, 1.0);
    report("20 ports, no device at all, factor 1", runs, "(unopenable ports cost no wait)");

    runs.clear();
    for (int i = 0; i < 2; ++i)
        runs << detect(all, {}, 1.0);
    report("20 ports, 20 silent modems, factor 1", runs, "(bound: about 8000 ms)");

    runs.clear();
    runs << detect({1}, {}, 7.0);
    report("1 silent modem + 19 missing ports, factor 7", runs, "(bound: about 2800 ms)");

    runs.clear();
    for (int i = 0; i < 3; ++i)
        runs << detect({}, {3, 5}, 1.0);
    report("2 answering modems (COM3, COM5) + 18 missing, factor 1", runs, "(probe plus identity queries)");
    return 0;
}
