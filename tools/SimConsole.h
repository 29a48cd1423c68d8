// The command line and the console of broadtext-modemsim: which modems to make and link as COM ports, and the
// lines a person types to make things happen to one of them or to all. Kept apart from main() so that the
// addressing of a pool of modems is tested like the rest of the simulator.
#pragma once

#include "tools/ModemSimulator.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct SimOptions {
    QList<int> coms; // one modem each, in the order given
    int unit = 1;    // the first modem's unit; the next modems are the next units
    int delayMs = 0; // network time per part for every modem
    QString dataDir;
};

// The options, or nothing with the reason (an empty reason: --help was asked for).
std::optional<SimOptions> ParseSimOptions(const QStringList& arguments, const QString& defaultDataDir, QString* error);

// What --help shows: the options and the console commands.
QString SimHelp();

class SimConsole {
public:
    struct Modem {
        int com;
        ModemSimulator* sim;
    };
    explicit SimConsole(QList<Modem> modems) : modems(std::move(modems)) {}

    enum class Next { Continue, Quit };
    // Runs one typed line; what to show goes to out, a line each.
    Next run(const QString& line, QStringList& out);

private:
    Next runOn(const QList<Modem>& targets, const QString& word, const QString& rest, QStringList& out);
    QString tag(const Modem& m) const; // "COMn: " before what one of several modems shows

    QList<Modem> modems;
};
