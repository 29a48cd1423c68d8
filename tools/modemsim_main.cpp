// broadtext-modemsim: simulated GSM modems for trying Broadtext without one.
//
//   broadtext-modemsim --com 1            link a modem as COM1 in the data folder and answer until "quit"
//   broadtext-modemsim --com 1 --unit 2   another device (its own IMEI and SIM) under the same COM number
//   broadtext-modemsim --com 1 --com 2    two modems, each a device of its own (also: --com 1 --modems 4)
//
// Then start Broadtext and choose the COM ports in Settings. "--help" lists the console commands.
#include "common/Paths.h"
#include "tools/ModemSimulator.h"
#include "tools/SimConsole.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString error;
    const std::optional<SimOptions> options = ParseSimOptions(app.arguments(), DefaultDataDirectory(), &error);
    if (!options) {
        if (error.isEmpty()) {
            std::printf("%s\n", SimHelp().toLocal8Bit().constData());
            return 0;
        }
        std::fprintf(stderr, "%s\n%s\n", error.toLocal8Bit().constData(),
                     SimHelp().section(QLatin1Char('\n'), 0, 0).toLocal8Bit().constData());
        return 2;
    }

    std::mutex out;
    auto say = [&out](const QString& line) {
        std::lock_guard lock(out);
        std::printf("%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    };

    const bool several = options->coms.size() > 1;
    std::vector<std::unique_ptr<ModemSimulator>> made;
    QList<SimConsole::Modem> modems;
    for (qsizetype i = 0; i < options->coms.size(); ++i) {
        const int com = options->coms[i];
        auto modem = std::make_unique<ModemSimulator>();
        modem->setLogger(several ? std::function<void(const QString&)>([say, com](const QString& line) {
            say(QStringLiteral("COM%1: ").arg(com) + line);
        })
                                 : std::function<void(const QString&)>(say));
        // Each unit is a device of its own: the program takes a different unit for a different modem.
        modem->setSerials(ModemSimulator::serialsOfUnit(options->unit + int(i)));
        modem->setNetworkDelayMs(options->delayMs);
        if (!modem->start(&error) || !modem->linkAs(options->dataDir, com, &error)) {
            std::fprintf(stderr, "Cannot start the simulator: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        say(QStringLiteral("Simulated modem on %1, linked as COM%2 (%3/ports/COM%2).")
                .arg(modem->devicePath())
                .arg(com)
                .arg(options->dataDir) +
            (i + 1 == options->coms.size() ? QStringLiteral(" Type \"help\" for commands.") : QString()));
        modems << SimConsole::Modem{com, modem.get()};
        made.push_back(std::move(modem));
    }

    SimConsole console(modems);
    std::string input;
    while (std::getline(std::cin, input)) {
        QStringList shown;
        const SimConsole::Next next = console.run(QString::fromLocal8Bit(input.c_str()), shown);
        for (const QString& line : shown)
            say(line);
        if (next == SimConsole::Next::Quit)
            break;
    }
    for (auto& modem : made)
        modem->stop();
    return 0;
}
