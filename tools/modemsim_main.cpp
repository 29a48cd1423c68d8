// broadtext-modemsim: a simulated GSM modem for trying Broadtext without one.
//
//   broadtext-modemsim --com 1            link it as COM1 in the data folder and answer until "quit"
//   broadtext-modemsim --com 1 --unit 2   another device (its own IMEI and SIM) under the same COM number
//
// Then start Broadtext and choose COM port 1 in Settings > System Settings. Commands on standard input:
//   sms <number> <text>                   an SMS arrives on the SIM
//   call <number> [rings] [quiet]         a call rings (every 3 s); "quiet": the caller leaves without NO CARRIER
//   fail cms|ok|silence [count] [error]   the next sends fail with +CMS ERROR: error (500 when not given), a
//                                         bare OK, or no answer
//   delay <ms>                            the network takes this long before confirming a send
//   length chars|octets|hex               what listing headers count of a UCS2 (hex) text
//   sim | sent                            show the SIM store | the messages sent so far
//   hangup | quit
#include "common/Paths.h"
#include "tools/ModemSimulator.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int com = 1;
    int unit = 1;
    QString dataDir = DefaultDataDirectory();
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--com") && i + 1 < args.size())
            com = args[++i].toInt();
        else if (args[i] == QLatin1String("--unit") && i + 1 < args.size())
            unit = args[++i].toInt();
        else if (args[i] == QLatin1String("--data-dir") && i + 1 < args.size())
            dataDir = args[++i];
        else {
            std::fprintf(stderr, "usage: broadtext-modemsim [--com N] [--unit N] [--data-dir DIR]\n");
            return 2;
        }
    }
    if (com < 1 || com > 20) {
        std::fprintf(stderr, "The COM number must be 1 to 20.\n");
        return 2;
    }

    std::mutex out;
    auto say = [&out](const QString& line) {
        std::lock_guard lock(out);
        std::printf("%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    };

    ModemSimulator modem;
    modem.setLogger(say);
    // Each unit is a device of its own: the program takes a different unit for a different modem.
    modem.setSerials(ModemSimulator::serialsOfUnit(unit));
    QString error;
    if (!modem.start(&error) || !modem.linkAs(dataDir, com, &error)) {
        std::fprintf(stderr, "Cannot start the simulator: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    say(QStringLiteral("Simulated modem on %1, linked as COM%2 (%3/ports/COM%2). Type \"help\" for commands.")
            .arg(modem.devicePath())
            .arg(com)
            .arg(dataDir));

    std::string input;
    while (std::getline(std::cin, input)) {
        const QString line = QString::fromLocal8Bit(input.c_str()).trimmed();
        const QString word = line.section(QLatin1Char(' '), 0, 0).toLower();
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (word.isEmpty())
            continue;
        if (word == QLatin1String("quit") || word == QLatin1String("exit")) {
            break;
        } else if (word == QLatin1String("sms")) {
            modem.receiveSms(rest.section(QLatin1Char(' '), 0, 0), rest.section(QLatin1Char(' '), 1));
        } else if (word == QLatin1String("call")) {
            const QStringList a = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const int rings = a.size() > 1 ? a[1].toInt() : 3;
            const bool quiet = a.contains(QStringLiteral("quiet"));
            modem.incomingCall(a.value(0), rings > 0 ? rings : 3, 3000, !quiet);
        } else if (word == QLatin1String("fail")) {
            const QString how = rest.section(QLatin1Char(' '), 0, 0);
            const int count = qMax(1, rest.section(QLatin1Char(' '), 1, 1).toInt());
            const int error = rest.section(QLatin1Char(' '), 2, 2).toInt();
            modem.failSends(how == QLatin1String("ok")        ? ModemSimulator::SendFailure::BareOk
                            : how == QLatin1String("silence") ? ModemSimulator::SendFailure::Silence
                                                              : ModemSimulator::SendFailure::CmsError,
                            count, error > 0 ? error : 500);
        } else if (word == QLatin1String("delay")) {
            modem.setNetworkDelayMs(rest.toInt());
        } else if (word == QLatin1String("length")) {
            modem.setLengthUnit(rest == QLatin1String("chars") ? ModemSimulator::LengthUnit::Characters
                                : rest == QLatin1String("hex") ? ModemSimulator::LengthUnit::HexDigits
                                                               : ModemSimulator::LengthUnit::Octets);
        } else if (word == QLatin1String("sim")) {
            for (const auto& m : modem.simMessages())
                say(QStringLiteral("%1 %2 %3: %4").arg(m.index).arg(m.status, m.number, m.text));
        } else if (word == QLatin1String("sent")) {
            for (const auto& m : modem.sent())
                say(QStringLiteral("%1 -> %2: %3").arg(m.reference).arg(m.number, m.text));
        } else if (word == QLatin1String("hangup")) {
            modem.hangUp();
            say(QStringLiteral("The modem is unplugged. Bye."));
            break;
        } else {
            say(QStringLiteral(
                "Commands: sms <number> <text> | call <number> [rings] [quiet] | fail cms|ok|silence [count] [error]"
                " | delay <ms> | length chars|octets|hex | sim | sent | hangup | quit"));
        }
    }
    modem.stop();
    return 0;
}
