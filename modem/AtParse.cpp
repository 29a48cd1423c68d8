#include "modem/AtParse.h"

#include "common/FunctionsLibrary.h"

#include <QRegularExpression>

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString withoutQuotes(QString s)
{
    return s.remove(QLatin1Char('"'));
}

// Some modems report the status of a text-mode listing as its number.
QString statusName(const QString& status)
{
    static const char* const Names[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};
    const QString t = Trim(status);
    if (t.size() == 1 && t.at(0) >= QLatin1Char('0') && t.at(0) <= QLatin1Char('4'))
        return QString::fromLatin1(Names[t.at(0).unicode() - '0']);
    return status;
}

} // namespace

QString RemoveCrLf(const QString& s)
{
    QString out = s;
    out.remove(CrLf);
    return out;
}

QStringList SplitIntoParts(const QString& text, int partLength)
{
    QStringList parts;
    for (qsizetype i = 0; i < text.size(); i += partLength)
        parts << text.mid(i, partLength);
    return parts;
}

std::vector<SIMMessage> ParseMessageListing(const QString& response)
{
    const QStringList segments = response.split(QStringLiteral("+CMGL: "));
    std::vector<SIMMessage> records;
    for (qsizetype k = 1; k < segments.size(); ++k) {
        const QString& seg = segments.at(k);
        const bool last = k == segments.size() - 1;
        const qsizetype p = seg.indexOf(CrLf);
        QString header = p > 0 ? seg.left(p) : QString();
        if (header.isEmpty())
            header = QStringLiteral(" , , ,");
        const QString body = p >= 0 ? seg.mid(p + 2) : seg.mid(1);

        SIMMessage m;
        const QStringList fields = header.split(QLatin1Char(','));
        if (fields.size() > 0)
            m.Index = fields.at(0);
        if (fields.size() > 1)
            m.Status = statusName(withoutQuotes(fields.at(1)));
        if (fields.size() > 2)
            m.Number = withoutQuotes(fields.at(2));
        const QString endMark = last ? QStringLiteral("\r\nOK\r\n") : CrLf;
        const qsizetype end = body.lastIndexOf(endMark);
        m.Text = end >= 0 ? body.left(end) : QString();
        records.push_back(m);
    }
    return records;
}

QString IdentityLine(const QString& response)
{
    const QStringList lines = response.split(CrLf);
    return lines.size() > 1 ? Trim(lines.at(1)) : QString();
}

QString CallStatusFromResponse(const QString& response)
{
    // Take the first +CLCC line itself: an unsolicited line (RING, +CLIP) may stand in the same answer.
    const qsizetype at = response.indexOf(QStringLiteral("+CLCC:"));
    if (at >= 0) {
        qsizetype eol = response.indexOf(QLatin1Char('\r'), at);
        const QString line = response.mid(at, eol < 0 ? -1 : eol - at);
        const QStringList f = line.split(QLatin1Char(','));
        if (f.size() < 3)
            return {};
        static const char* const States[] = {"Active", "Held", "Dialing", "Alerting", "Incoming", "Waiting"};
        const QString state = f.at(2);
        if (state.size() == 1 && state.at(0) >= QLatin1Char('0') && state.at(0) <= QLatin1Char('5'))
            return QString::fromLatin1(States[state.at(0).unicode() - '0']);
        return {};
    }
    if (response.contains(QLatin1String("ERROR")))
        return QStringLiteral("ERROR");
    return response;
}

QString ParseCmgwIndex(const QString& response)
{
    static const QRegularExpression re(QStringLiteral("\\+CMGW:\\s*(\\d+)"));
    const auto m = re.match(response);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString ExtractCallerNumber(const QString& text)
{
    // +CLIP: "<number>",<type>,...   and   +CLCC: <id>,<dir>,<stat>,<mode>,<mpty>,"<number>",<type>
    // (some phones put a blank after each comma of +CLCC). The number is what stands between the quotes.
    qsizetype start = -1;
    const qsizetype clip = text.indexOf(QStringLiteral("+CLIP: \""));
    if (clip >= 0) {
        start = clip + 8;
    } else {
        const qsizetype clcc = text.indexOf(QStringLiteral("+CLCC: "));
        if (clcc < 0)
            return {};
        const qsizetype eol = text.indexOf(QLatin1Char('\r'), clcc);
        const qsizetype quote = text.indexOf(QLatin1Char('"'), clcc);
        if (quote < 0 || (eol >= 0 && quote > eol))
            return {};
        start = quote + 1;
    }
    const qsizetype end = text.indexOf(QLatin1Char('"'), start);
    return end < 0 ? QString() : text.mid(start, end - start);
}
