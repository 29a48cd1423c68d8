#include "modem/HealthParse.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

namespace {

struct Field {
    QString text;
    bool quoted = false;
};

// The fields after a prefix: split at commas outside quotes, blanks around each removed, quotes taken off.
QList<Field> fieldsOf(const QString& rest)
{
    QList<Field> out;
    Field current;
    bool inQuotes = false;
    for (const QChar c : rest) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            current.quoted = true;
            continue;
        }
        if (c == QLatin1Char(',') && !inQuotes) {
            current.text = current.quoted ? current.text : current.text.trimmed();
            out << current;
            current = {};
            continue;
        }
        if (!inQuotes && current.quoted)
            continue; // blanks after a closing quote
        current.text += c;
    }
    current.text = current.quoted ? current.text : current.text.trimmed();
    out << current;
    return out;
}

// The answer's lines, line ends and surrounding blanks removed, empty ones left out.
QStringList linesOf(const QString& answer)
{
    QStringList out;
    for (const QString& l : answer.split(QLatin1Char('\n'))) {
        const QString t = l.trimmed();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

// What follows prefix on the last line starting with it.
std::optional<QString> lastAfter(const QString& answer, const QString& prefix)
{
    std::optional<QString> found;
    for (const QString& l : linesOf(answer))
        if (l.startsWith(prefix, Qt::CaseInsensitive))
            found = l.mid(prefix.size()).trimmed();
    return found;
}

std::optional<int> numberOf(const Field& f)
{
    bool ok = false;
    const int n = f.text.toInt(&ok);
    if (!ok || f.quoted)
        return std::nullopt;
    return n;
}

bool isDigits(const QString& s)
{
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !s.isEmpty();
}

} // namespace

ModemHealth::Registration RegistrationOf(int stat)
{
    if (stat < 0 || stat > 10)
        return ModemHealth::Registration::Unknown;
    return ModemHealth::Registration(stat);
}

std::optional<SignalQuality> ParseSignalQuality(const QString& answer)
{
    const auto rest = lastAfter(answer, QStringLiteral("+CSQ:"));
    if (!rest)
        return std::nullopt;
    const QList<Field> f = fieldsOf(*rest);
    const auto rssi = numberOf(f.value(0));
    const auto ber = f.size() > 1 ? numberOf(f.at(1)) : std::optional<int>(99);
    if (!rssi || !ber || f.size() > 2)
        return std::nullopt;
    SignalQuality q;
    // Values outside 27.007's ranges mean nothing: they count as not known.
    q.rssi = *rssi >= 0 && *rssi <= 31 ? *rssi : 99;
    q.ber = *ber >= 0 && *ber <= 7 ? *ber : 99;
    return q;
}

std::optional<RegistrationReport> ParseRegistrationLine(const QByteArray& raw)
{
    const QString line = QString::fromLatin1(raw).trimmed();
    const QString prefix = QStringLiteral("+CREG:");
    if (!line.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    const QList<Field> f = fieldsOf(line.mid(prefix.size()));
    // Answer: n,stat (2), n,stat,lac,ci (4), n,stat,lac,ci,AcT (5), ... with cause type and reject cause (7).
    // Unsolicited: stat (1), stat,lac,ci (3), stat,lac,ci,AcT (4), ... with cause type and reject cause (6).
    bool answer = false;
    switch (f.size()) {
    case 2:
    case 5:
    case 7:
        answer = true;
        break;
    case 4:
        // n,stat,lac,ci has a state second; stat,lac,ci,AcT a quoted (or left out) area code.
        answer = numberOf(f.at(1)).has_value();
        break;
    case 1:
    case 3:
    case 6:
        break;
    default:
        return std::nullopt;
    }
    RegistrationReport r;
    r.unsolicited = !answer;
    const int at = answer ? 1 : 0;
    if (answer) {
        const auto n = numberOf(f.at(0));
        if (!n)
            return std::nullopt;
        r.presentation = *n;
    }
    const auto stat = numberOf(f.at(at));
    if (!stat)
        return std::nullopt;
    r.registration = RegistrationOf(*stat);
    r.lac = f.value(at + 1).text;
    r.cellId = f.value(at + 2).text;
    if (f.size() > at + 3)
        r.accessTechnology = numberOf(f.at(at + 3)).value_or(-1);
    return r;
}

std::optional<RegistrationReport> ParseRegistration(const QString& answer)
{
    std::optional<RegistrationReport> found;
    for (const QString& l : linesOf(answer))
        if (const auto r = ParseRegistrationLine(l.toLatin1()))
            found = r;
    return found;
}

std::optional<OperatorReport> ParseOperator(const QString& answer)
{
    const auto rest = lastAfter(answer, QStringLiteral("+COPS:"));
    if (!rest)
        return std::nullopt;
    const QList<Field> f = fieldsOf(*rest);
    const auto mode = numberOf(f.value(0));
    if (!mode || f.size() == 2 || f.size() > 4)
        return std::nullopt; // a list of AT+COPS=? or a line cut short
    OperatorReport r;
    r.mode = *mode;
    if (f.size() >= 3) {
        r.format = numberOf(f.at(1)).value_or(-1);
        r.name = f.at(2).text.trimmed();
    }
    if (f.size() == 4)
        r.accessTechnology = numberOf(f.at(3)).value_or(-1);
    return r;
}

QString ParseImsi(const QString& answer)
{
    for (QString l : linesOf(answer)) {
        if (l.startsWith(QLatin1String("+CIMI:"), Qt::CaseInsensitive))
            l = l.mid(6).trimmed();
        l.remove(QLatin1Char('"'));
        if (isDigits(l) && l.size() >= 5 && l.size() <= 15)
            return l;
    }
    return {};
}

QString ParseIccid(const QString& answer)
{
    static const QRegularExpression number(QStringLiteral("^[0-9]{10,21}[Ff]?$"));
    for (QString l : linesOf(answer)) {
        for (const char* prefix : {"+CCID:", "^SCID:", "+ICCID:", "+QCCID:"}) {
            if (l.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) {
                l = l.mid(qsizetype(strlen(prefix))).trimmed();
                break;
            }
        }
        l.remove(QLatin1Char('"'));
        l = l.trimmed();
        if (number.match(l).hasMatch())
            return l.toUpper();
    }
    return {};
}
