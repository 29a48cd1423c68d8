#include "tools/SimConsole.h"

#include <QSet>

namespace {

const char* const Help = R"(usage: broadtext-modemsim [--com N]... [--modems N] [--unit N] [--delay MS] [--data-dir DIR]

Simulated GSM modems, each linked as ports/COM<N> in Broadtext's data folder, answering until "quit".
  --com N        a modem linked as COM N (1 to 20; default 1); give it again for more modems
  --modems N     N modems on consecutive COM numbers from the (one) --com given
  --unit N       the device the first modem stands for (default 1); the next modems are the next units.
                 Each unit has its own IMEI, IMSI, ICCID, operator and SIM store
  --delay MS     the network's time per part for every modem (default 0)
  --data-dir DIR Broadtext's data folder

Commands on standard input. With several modems, a command may start with the COM number of the one it is
for ("2 sms +123 hello"), or with "*" for all of them. Without either it is for all of them, except "sms" and
"call", which come to the first modem only.
  sms <number> <text>                  an SMS arrives on the SIM (announced by +CMTI)
  call <number> [rings] [quiet]        a call rings (every 3 s); "quiet": the caller leaves without NO CARRIER
  fail cms|ok|silence [count] [error]  the next sends fail with +CMS ERROR: error (500 when not given), a bare
                                       OK, or no answer
  fail network [cause]                 every send fails with +CMS ERROR: cause (331 when not given)
  fail off                             sends succeed again
  delay <ms>                           the network takes this long per part before confirming a send; on a
                                       link kept open by AT+CMMS each part after the first takes 300 ms less
  signal <rssi> [ber]                  what AT+CSQ answers (0-31, 99 unknown)
  reg home|roaming|searching|denied|none|unknown
                                       the registration (announced by +CREG after AT+CREG=1 or 2); while not
                                       registered every send fails with +CMS ERROR: 331
  ccid plain|bare                      AT+CCID answers "+CCID: <iccid>" or the number alone
  cmms accept|refuse                   AT+CMMS answered, or answered ERROR
  length chars|octets|hex              what listing headers count of a UCS2 (hex) text
  sim | sent | status                  show the SIM store | the messages sent so far | identity and health
  hangup | plug                        unplug the modem | plug it in again; "hangup" for all of them also quits
  quit)";

QString registrationName(ModemSimulator::Registration r)
{
    switch (r) {
    case ModemSimulator::Registration::Home:
        return QStringLiteral("home");
    case ModemSimulator::Registration::Roaming:
        return QStringLiteral("roaming");
    case ModemSimulator::Registration::Searching:
        return QStringLiteral("searching");
    case ModemSimulator::Registration::Denied:
        return QStringLiteral("denied");
    case ModemSimulator::Registration::NotRegistered:
        return QStringLiteral("none");
    case ModemSimulator::Registration::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<ModemSimulator::Registration> registrationNamed(const QString& name)
{
    for (const auto r : {ModemSimulator::Registration::NotRegistered, ModemSimulator::Registration::Home,
                         ModemSimulator::Registration::Searching, ModemSimulator::Registration::Denied,
                         ModemSimulator::Registration::Unknown, ModemSimulator::Registration::Roaming})
        if (registrationName(r) == name)
            return r;
    return std::nullopt;
}

} // namespace

QString SimHelp()
{
    return QString::fromLatin1(Help);
}

std::optional<SimOptions> ParseSimOptions(const QStringList& args, const QString& defaultDataDir, QString* error)
{
    SimOptions o;
    o.dataDir = defaultDataDir;
    int count = 0;
    auto fail = [error](const QString& why) {
        *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            return fail({});
        if (i + 1 >= args.size())
            return fail(QStringLiteral("%1 wants a value.").arg(a));
        const QString value = args[++i];
        bool number = false;
        const int n = value.toInt(&number);
        if (a == QLatin1String("--data-dir"))
            o.dataDir = value;
        else if (!number)
            return fail(QStringLiteral("Unknown option or not a number: %1 %2").arg(a, value));
        else if (a == QLatin1String("--com"))
            o.coms << n;
        else if (a == QLatin1String("--modems"))
            count = n;
        else if (a == QLatin1String("--unit"))
            o.unit = n;
        else if (a == QLatin1String("--delay") && n >= 0)
            o.delayMs = n;
        else
            return fail(QStringLiteral("Unknown option or value: %1 %2").arg(a, value));
    }
    if (o.coms.isEmpty())
        o.coms << 1;
    if (count != 0) {
        if (o.coms.size() > 1)
            return fail(QStringLiteral("--modems takes one --com, the first of its COM numbers."));
        if (count < 1)
            return fail(QStringLiteral("--modems wants 1 or more."));
        for (int k = 1; k < count; ++k)
            o.coms << o.coms.first() + k;
    }
    QSet<int> seen;
    for (const int com : o.coms) {
        if (com < 1 || com > 20)
            return fail(QStringLiteral("The COM number must be 1 to 20."));
        if (seen.contains(com))
            return fail(QStringLiteral("COM%1 is given twice.").arg(com));
        seen.insert(com);
    }
    return o;
}

QString SimConsole::tag(const Modem& m) const
{
    return modems.size() > 1 ? QStringLiteral("COM%1: ").arg(m.com) : QString();
}

SimConsole::Next SimConsole::run(const QString& typed, QStringList& out)
{
    QString line = typed.trimmed();
    QString first = line.section(QLatin1Char(' '), 0, 0);
    bool number = false;
    const int com = first.toInt(&number);
    QList<Modem> targets = modems;
    bool addressed = false;
    if (number || first == QLatin1String("*") || first == QLatin1String("all")) {
        addressed = true;
        line = line.section(QLatin1Char(' '), 1).trimmed();
        if (number) {
            targets.clear();
            for (const Modem& m : modems)
                if (m.com == com)
                    targets << m;
            if (targets.isEmpty()) {
                out << QStringLiteral("No modem on COM%1.").arg(com);
                return Next::Continue;
            }
        }
    }
    const QString word = line.section(QLatin1Char(' '), 0, 0).toLower();
    const QString rest = line.section(QLatin1Char(' '), 1);
    if (word.isEmpty())
        return Next::Continue;
    if (word == QLatin1String("quit") || word == QLatin1String("exit"))
        return Next::Quit;
    if (!addressed && (word == QLatin1String("sms") || word == QLatin1String("call")))
        targets = {modems.first()};
    if (word == QLatin1String("hangup")) {
        for (const Modem& m : targets)
            m.sim->hangUp();
        if (!addressed) {
            out << (modems.size() > 1 ? QStringLiteral("The modems are unplugged. Bye.")
                                      : QStringLiteral("The modem is unplugged. Bye."));
            return Next::Quit;
        }
        for (const Modem& m : targets)
            out << QStringLiteral("%1unplugged; \"%2 plug\" plugs it in again.").arg(tag(m)).arg(m.com);
        return Next::Continue;
    }
    return runOn(targets, word, rest, out);
}

SimConsole::Next SimConsole::runOn(const QList<Modem>& targets, const QString& word, const QString& rest,
                                   QStringList& out)
{
    const QStringList a = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const Modem& m : targets) {
        ModemSimulator& modem = *m.sim;
        if (word == QLatin1String("sms")) {
            modem.receiveSms(rest.section(QLatin1Char(' '), 0, 0), rest.section(QLatin1Char(' '), 1));
        } else if (word == QLatin1String("call")) {
            const int rings = a.size() > 1 ? a[1].toInt() : 3;
            modem.incomingCall(a.value(0), rings > 0 ? rings : 3, 3000, !a.contains(QStringLiteral("quiet")));
        } else if (word == QLatin1String("fail")) {
            const QString how = a.value(0);
            if (how == QLatin1String("off")) {
                modem.clearFailures();
            } else if (how == QLatin1String("network")) {
                const int cause = a.value(1).toInt();
                modem.failNetworkWide(cause > 0 ? cause : 331);
            } else {
                const int count = qMax(1, a.value(1).toInt());
                const int error = a.value(2).toInt();
                modem.failSends(how == QLatin1String("ok")        ? ModemSimulator::SendFailure::BareOk
                                : how == QLatin1String("silence") ? ModemSimulator::SendFailure::Silence
                                                                  : ModemSimulator::SendFailure::CmsError,
                                count, error > 0 ? error : 500);
            }
        } else if (word == QLatin1String("delay")) {
            modem.setNetworkDelayMs(qMax(0, rest.toInt()));
        } else if (word == QLatin1String("signal")) {
            modem.setSignal(a.value(0).toInt(), a.size() > 1 ? a[1].toInt() : 99);
        } else if (word == QLatin1String("reg")) {
            const auto r = registrationNamed(a.value(0).toLower());
            if (!r) {
                out << QStringLiteral("reg home|roaming|searching|denied|none|unknown");
                return Next::Continue;
            }
            modem.setRegistration(*r);
        } else if (word == QLatin1String("ccid")) {
            modem.setBareCcid(a.value(0) == QLatin1String("bare"));
        } else if (word == QLatin1String("cmms")) {
            modem.setCmmsSupported(a.value(0) != QLatin1String("refuse"));
        } else if (word == QLatin1String("length")) {
            modem.setLengthUnit(rest == QLatin1String("chars") ? ModemSimulator::LengthUnit::Characters
                                : rest == QLatin1String("hex") ? ModemSimulator::LengthUnit::HexDigits
                                                               : ModemSimulator::LengthUnit::Octets);
        } else if (word == QLatin1String("sim")) {
            for (const auto& s : modem.simMessages())
                out << tag(m) + QStringLiteral("%1 %2 %3: %4").arg(s.index).arg(s.status, s.number, s.text);
        } else if (word == QLatin1String("sent")) {
            for (const auto& s : modem.sent())
                out << tag(m) + QStringLiteral("%1 -> %2: %3").arg(s.reference).arg(s.number, s.text);
        } else if (word == QLatin1String("status")) {
            const ModemSimulator::Serials id = modem.serials();
            out << QStringLiteral("COM%1 %2: IMEI %3, IMSI %4, ICCID %5, %6, signal %7, %8%9")
                       .arg(m.com)
                       .arg(modem.hangUpAsked() ? QStringLiteral("unplugged") : modem.devicePath(), id.imei, id.imsi,
                            id.iccid, id.operatorLong)
                       .arg(modem.signalQuality())
                       .arg(registrationName(modem.registrationState()))
                       .arg(modem.cmmsMode() > 0 ? QStringLiteral(", link kept (AT+CMMS=%1)").arg(modem.cmmsMode())
                                                 : QString());
        } else if (word == QLatin1String("plug")) {
            QString error;
            out << (modem.replug(&error) ? tag(m) + QStringLiteral("plugged in on %1").arg(modem.devicePath())
                                         : tag(m) + QStringLiteral("cannot plug in again: %1").arg(error));
        } else {
            const QString help = SimHelp();
            out << help.mid(help.indexOf(QStringLiteral("Commands on standard input.")));
            return Next::Continue;
        }
    }
    return Next::Continue;
}
