#include "modem/AtParse.h"

#include "common/FunctionsLibrary.h"
#include "modem/HealthParse.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

const QString CrLf = QStringLiteral("\r\n");

// Some modems report the status of a text-mode listing as its number.
QString statusName(const QByteArray& field)
{
    if (field.size() == 1 && field.at(0) >= '0' && field.at(0) <= '4')
        return ListingStatusNames().at(field.at(0) - '0');
    return QString::fromLatin1(field);
}

// The fields of a header after its colon: split at commas outside quotes, blanks around each removed.
// quoted[i] tells whether field i stood between quotes. False when a quote is not closed.
bool splitFields(const QByteArray& s, QList<QByteArray>* fields, QList<bool>* quoted)
{
    QByteArray current;
    bool inQuotes = false, wasQuoted = false;
    for (char c : s) {
        if (c == '"') {
            if (!inQuotes && !current.trimmed().isEmpty())
                return false; // text before an opening quote
            inQuotes = !inQuotes;
            wasQuoted = true;
            if (inQuotes)
                current.clear();
            continue;
        }
        if (c == ',' && !inQuotes) {
            fields->append(wasQuoted ? current : current.trimmed());
            quoted->append(wasQuoted);
            current.clear();
            wasQuoted = false;
            continue;
        }
        if (wasQuoted && !inQuotes) {
            if (c != ' ')
                return false; // text after a closing quote
            continue;
        }
        current += c;
    }
    if (inQuotes)
        return false;
    fields->append(wasQuoted ? current : current.trimmed());
    quoted->append(wasQuoted);
    return true;
}

bool isNumber(const QByteArray& s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "26/12/06,08:00:01+22", "2026/12/06 08:00:01+32", "26/12/06,08:00:01": digits with / and : in them.
bool looksLikeTimestamp(const QByteArray& s)
{
    static const QRegularExpression re(
        QStringLiteral("^\\d{2,4}/\\d{1,2}/\\d{1,2}[, ]\\d{1,2}:\\d{2}(:\\d{2})?([+-]\\d{1,2})?$"));
    return re.match(QString::fromLatin1(s)).hasMatch();
}

bool isListingStatus(const QByteArray& s, bool quoted)
{
    if (!quoted)
        return s.size() == 1 && s.at(0) >= '0' && s.at(0) <= '3';
    return s == "REC UNREAD" || s == "REC READ" || s == "STO UNSENT" || s == "STO SENT";
}

struct Line {
    QByteArray content;
    qsizetype end = -1; // position after the LF
};

// The line that starts at pos, or nothing when its LF has not arrived.
std::optional<Line> lineAt(const QByteArray& data, qsizetype pos)
{
    const qsizetype lf = data.indexOf('\n', pos);
    if (lf < 0)
        return std::nullopt;
    return Line{LineContent(data.mid(pos, lf + 1 - pos)), lf + 1};
}

bool isEcho(const QByteArray& content)
{
    return content.size() >= 2 && (content.at(0) == 'A' || content.at(0) == 'a') &&
           (content.at(1) == 'T' || content.at(1) == 't');
}

} // namespace

QByteArray LineContent(const QByteArray& line)
{
    qsizetype n = line.size();
    while (n > 0 && (line.at(n - 1) == '\n' || line.at(n - 1) == '\r'))
        --n;
    qsizetype start = 0;
    while (start < n && line.at(start) == '\r')
        ++start;
    return line.mid(start, n - start);
}

FinalCode FinalResultOf(const QByteArray& raw, int* errorNumber)
{
    const QByteArray line = raw.trimmed();
    if (errorNumber)
        *errorNumber = -1;
    if (line == "OK")
        return FinalCode::Ok;
    if (line == "ERROR")
        return FinalCode::Error;
    if (line == "NO CARRIER")
        return FinalCode::NoCarrier;
    if (line == "BUSY")
        return FinalCode::Busy;
    if (line == "NO ANSWER")
        return FinalCode::NoAnswer;
    if (line == "NO DIALTONE" || line == "NO DIAL TONE")
        return FinalCode::NoDialtone;
    for (const auto& [prefix, code] :
         {std::pair{"+CMS ERROR:", FinalCode::CmsError}, std::pair{"+CME ERROR:", FinalCode::CmeError}}) {
        if (line.startsWith(prefix)) {
            bool ok = false;
            const int n = line.mid(qsizetype(strlen(prefix))).trimmed().toInt(&ok);
            if (errorNumber)
                *errorNumber = ok ? n : -1;
            return code;
        }
    }
    return FinalCode::None;
}

namespace {

// What the modem says of its own accord, one row per line it may send: how the line starts (or, for a whole
// line, what it is), what it is, how many lines of its own follow it, and what more is read from it.
struct UnsolicitedRow {
    const char* text;
    enum Match { Whole, Prefix } match;
    Unsolicited::Kind kind;
    enum Body { NoBody, OneLine, OneLineAfterLength } body = NoBody;
    void (*read)(Unsolicited& u, const QByteArray& rest) = nullptr;
};

void readRingType(Unsolicited& u, const QByteArray& rest)
{
    u.kind = rest.trimmed() == "VOICE" ? Unsolicited::Ring : Unsolicited::OtherRing;
}

void readCallerNumber(Unsolicited& u, const QByteArray&)
{
    u.number = ExtractCallerNumber(QString::fromLatin1(u.line));
}

void readStoreIndex(Unsolicited& u, const QByteArray&)
{
    bool ok = false;
    const int index = u.line.mid(u.line.lastIndexOf(',') + 1).trimmed().toInt(&ok);
    u.index = ok ? index : -1;
}

// A +CREG line that cannot be read is still heard, as a status line like any other.
void readRegistration(Unsolicited& u, const QByteArray&)
{
    const auto r = ParseRegistrationLine(u.line);
    u.kind = r ? Unsolicited::Registration : Unsolicited::Other;
    if (r)
        u.registration = r->registration;
}

// +CMT: [<alpha>],<length> and +CDS: <length> are followed by the PDU in PDU mode; in text mode +CDS is one
// line, and +CMT is followed by the text.
constexpr UnsolicitedRow UnsolicitedLines[] = {
    {"RING", UnsolicitedRow::Whole, Unsolicited::Ring},
    {"+CRING:", UnsolicitedRow::Prefix, Unsolicited::Ring, UnsolicitedRow::NoBody, readRingType},
    {"+CLIP:", UnsolicitedRow::Prefix, Unsolicited::CallerId, UnsolicitedRow::NoBody, readCallerNumber},
    {"NO CARRIER", UnsolicitedRow::Whole, Unsolicited::NoCarrier},
    {"+CMTI:", UnsolicitedRow::Prefix, Unsolicited::NewMessage, UnsolicitedRow::NoBody, readStoreIndex},
    {"+CDSI:", UnsolicitedRow::Prefix, Unsolicited::StatusReportStored, UnsolicitedRow::NoBody, readStoreIndex},
    {"+CDS:", UnsolicitedRow::Prefix, Unsolicited::StatusReport, UnsolicitedRow::OneLineAfterLength},
    {"+CMT:", UnsolicitedRow::Prefix, Unsolicited::Delivered, UnsolicitedRow::OneLine},
    {"+CBM:", UnsolicitedRow::Prefix, Unsolicited::Delivered, UnsolicitedRow::OneLine},
    {"+CREG:", UnsolicitedRow::Prefix, Unsolicited::Registration, UnsolicitedRow::NoBody, readRegistration},
    // Packet-domain registration, signal, call progress and vendor status lines: heard, and otherwise left alone.
    {"+CGREG:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CEREG:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CUSD:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CIEV:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CCWA:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CSSI:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CSSU:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+QIND", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+WIND", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+STIN", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+PACSP", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+QUSIM", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CPIN:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CFUN:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CTZV:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CTZE:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"*PSUTTZ", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"DST:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"^", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+ZPAS", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+SIMREADY", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+KSUP", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CGEV:", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CMGRMI", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+MBMEM", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+ECSQ", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"+CSQN", UnsolicitedRow::Prefix, Unsolicited::Other},
    {"SMS Ready", UnsolicitedRow::Whole, Unsolicited::Other},
    {"Call Ready", UnsolicitedRow::Whole, Unsolicited::Other},
    {"RDY", UnsolicitedRow::Whole, Unsolicited::Other},
    {"START", UnsolicitedRow::Whole, Unsolicited::Other},
    {"+PBREADY", UnsolicitedRow::Whole, Unsolicited::Other},
};

// The row a line (trimmed) is, and what follows the row's text.
const UnsolicitedRow* unsolicitedRow(const QByteArray& line, QByteArray* rest = nullptr)
{
    for (const UnsolicitedRow& row : UnsolicitedLines) {
        const bool match = row.match == UnsolicitedRow::Whole ? line == row.text : line.startsWith(row.text);
        if (!match)
            continue;
        if (rest)
            *rest = line.mid(qsizetype(strlen(row.text)));
        return &row;
    }
    return nullptr;
}

} // namespace

bool UnsolicitedHasBody(const QByteArray& raw)
{
    QByteArray rest;
    const UnsolicitedRow* row = unsolicitedRow(raw.trimmed(), &rest);
    if (!row)
        return false;
    return row->body == UnsolicitedRow::OneLine ||
           (row->body == UnsolicitedRow::OneLineAfterLength && isNumber(rest.trimmed()));
}

Unsolicited ParseUnsolicited(const QByteArray& raw)
{
    Unsolicited u;
    u.line = raw.trimmed();
    QByteArray rest;
    if (const UnsolicitedRow* row = unsolicitedRow(u.line, &rest)) {
        u.kind = row->kind;
        if (row->read)
            row->read(u, rest);
    }
    return u;
}

std::optional<SIMMessage> ParseListingHeader(const QByteArray& raw)
{
    const QByteArray line = LineContent(raw);
    if (!line.startsWith("+CMGL:"))
        return std::nullopt;
    QList<QByteArray> f;
    QList<bool> quoted;
    if (!splitFields(line.mid(6), &f, &quoted) || f.size() < 3)
        return std::nullopt;
    SIMMessage m;
    if (!isNumber(f[0]) || quoted[0] || !isListingStatus(f[1], quoted[1]) || !quoted[2])
        return std::nullopt;
    m.Index = QString::fromLatin1(f[0]);
    m.Status = statusName(f[1]);
    m.Number = QString::fromLatin1(f[2]);
    // What follows: [alpha], [time stamp], then the number type and the text length (both or neither).
    qsizetype i = 3;
    if (i < f.size() && (quoted[i] || f[i].isEmpty()) && !looksLikeTimestamp(f[i])) {
        m.Alpha = QString::fromLatin1(f[i]);
        ++i;
    }
    if (i < f.size() && ((quoted[i] && looksLikeTimestamp(f[i])) || (!quoted[i] && f[i].isEmpty()))) {
        m.Timestamp = QString::fromLatin1(f[i]);
        ++i;
    }
    const qsizetype rest = f.size() - i;
    if (rest == 2) {
        if (quoted[i] || quoted[i + 1] || !isNumber(f[i]) || !isNumber(f[i + 1]))
            return std::nullopt;
        m.Length = f[i + 1].toInt();
    } else if (rest != 0) {
        return std::nullopt;
    }
    return m;
}

const QStringList& ListingStatusNames()
{
    static const QStringList names = {QStringLiteral("REC UNREAD"), QStringLiteral("REC READ"),
                                      QStringLiteral("STO UNSENT"), QStringLiteral("STO SENT"), QStringLiteral("ALL")};
    return names;
}

std::optional<SIMMessage> ParsePduListingHeader(const QByteArray& raw)
{
    const QByteArray line = LineContent(raw);
    if (!line.startsWith("+CMGL:"))
        return std::nullopt;
    QList<QByteArray> f;
    QList<bool> quoted;
    if (!splitFields(line.mid(6), &f, &quoted) || f.size() < 3 || f.size() > 4)
        return std::nullopt;
    if (!isNumber(f[0]) || quoted[0] || !isListingStatus(f[1], false) || !isNumber(f.last()) || quoted.last())
        return std::nullopt;
    SIMMessage m;
    m.Index = QString::fromLatin1(f[0]);
    m.Status = statusName(f[1]);
    if (f.size() == 4)
        m.Alpha = QString::fromLatin1(f[2]);
    m.Length = f.last().toInt();
    return m;
}

namespace {

bool isHexLine(const QByteArray& s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

enum class Boundary { Yes, No, NotYet };

// Whether a text-mode record's body can end at the line end at `at` (a CR LF): what follows it, past blank and
// unsolicited lines, is the next header or a final result. With lastOnly a final result counts only when
// nothing but blank and unsolicited lines has come after it, as it must once the announced length has proved
// wrong: an "OK" line with more text after it belongs to a text.
Boundary boundaryAt(const QByteArray& answer, qsizetype at, bool lastOnly)
{
    bool afterFinal = false;
    qsizetype scan = at + 2;
    for (;;) {
        const auto next = lineAt(answer, scan);
        if (!next)
            return afterFinal && scan == answer.size() ? Boundary::Yes : Boundary::NotYet;
        scan = next->end;
        if (next->content.isEmpty() || ParseUnsolicited(next->content).kind != Unsolicited::None)
            continue;
        if (afterFinal)
            return Boundary::No;
        if (ParseListingHeader(next->content))
            return Boundary::Yes;
        if (FinalResultOf(next->content) == FinalCode::None)
            return Boundary::No;
        if (!lastOnly)
            return Boundary::Yes;
        afterFinal = true;
    }
}

// The nearest line end before `before` (down to the body's start) where the body can end, or -1.
qsizetype boundaryBefore(const QByteArray& answer, qsizetype bodyStart, qsizetype before, qsizetype lowest)
{
    for (qsizetype at = answer.lastIndexOf("\r\n", before - 1); at >= std::max(bodyStart, lowest);
         at = at > 0 ? answer.lastIndexOf("\r\n", at - 1) : -1) {
        if (boundaryAt(answer, at, true) == Boundary::Yes)
            return at;
    }
    return -1;
}

// Where the body of a text-mode record with an announced length ends (the position of the CR LF after it), or
// nothing while that cannot be told yet. Modems count a text in characters of the set in use, UCS2 characters,
// octets or hex digits, and some write a "?" for a character their set lacks while counting it in UCS2; so the
// body ends at the first line end at or after the announced length only when the next header or the final
// result follows there; otherwise at the nearest line end where one does, and the record is marked as one whose
// length did not hold (the link then waits for the line to stay quiet before it believes a final "OK").
std::optional<qsizetype> announcedEnd(const QByteArray& answer, qsizetype bodyStart, int length, ListingParse* out,
                                      bool* beforeFinal)
{
    *beforeFinal = false;
    const qsizetype announced = bodyStart + length;
    const qsizetype cut = announced <= answer.size() ? answer.indexOf("\r\n", announced) : -1;
    if (cut < 0) {
        // The announced end has not come; but a shorter text may already stand before the final result.
        const qsizetype lastLf = answer.size() - 1;
        if (lastLf > bodyStart && answer.at(lastLf) == '\n') {
            const qsizetype lineStart = answer.lastIndexOf('\n', lastLf - 1) + 1;
            const FinalCode final = FinalResultOf(answer.mid(lineStart));
            if (final != FinalCode::None && final != FinalCode::NoCarrier) {
                qsizetype at = boundaryBefore(answer, bodyStart, lineStart, bodyStart);
                if (at >= 0) {
                    // As without lengths: the line end of the text and the blank line before the result go.
                    if (at - 2 >= bodyStart && answer.mid(at - 2, 2) == "\r\n")
                        at -= 2;
                    out->lengthsKnown = false;
                    *beforeFinal = true; // more bytes may show that final line to be a line of the text
                    return at;
                }
            }
        }
        out->announcedBytesOutstanding = std::max<qint64>(0, announced - answer.size());
        return std::nullopt;
    }
    switch (boundaryAt(answer, cut, false)) {
    case Boundary::NotYet:
        return std::nullopt;
    case Boundary::Yes: {
        // A line end as near before the announced end is nearer, and a text one or two characters shorter than
        // announced ends before the blank line that precedes the final result, not after it.
        const qsizetype nearer =
            boundaryBefore(answer, bodyStart, announced, announced - std::max<qsizetype>(cut - announced, 2));
        if (nearer < 0)
            return cut;
        out->lengthsKnown = false;
        return nearer;
    }
    case Boundary::No:
        break;
    }
    out->lengthsKnown = false;
    const qsizetype before = boundaryBefore(answer, bodyStart, announced, bodyStart);
    if (before >= 0)
        return before;
    for (qsizetype at = answer.indexOf("\r\n", cut + 2); at >= 0; at = answer.indexOf("\r\n", at + 2)) {
        switch (boundaryAt(answer, at, true)) {
        case Boundary::Yes:
            return at;
        case Boundary::NotYet:
            return std::nullopt;
        case Boundary::No:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

ListingParse ParseListing(const QByteArray& answer, bool pduMode, ListingParse earlier)
{
    ListingParse out;
    out.resume = earlier.resume;
    out.records = std::move(earlier.records);
    out.bodies = std::move(earlier.bodies);
    out.unsolicited = std::move(earlier.unsolicited);
    out.records.erase(out.records.begin() + qsizetype(out.resume.records), out.records.end());
    out.bodies.erase(out.bodies.begin() + qsizetype(out.resume.records), out.bodies.end());
    out.unsolicited.resize(out.resume.unsolicited);
    out.lengthsKnown = out.resume.lengthsKnown;
    qsizetype pos = out.resume.pos;
    bool any = out.resume.anyRecord;
    bool settled = true; // no later byte can change how the answer up to pos was read
    auto addRecord = [&](SIMMessage m, const QByteArray& body) {
        m.Text = QString::fromLatin1(body);
        out.records.push_back(m);
        out.bodies.push_back(body);
    };
    while (pos < answer.size()) {
        if (settled)
            out.resume = {pos, any, out.records.size(), out.unsolicited.size(), out.lengthsKnown};
        settled = true;
        const auto line = lineAt(answer, pos);
        if (!line)
            return out; // the rest of this line has not arrived
        if (line->content.isEmpty() || (!any && isEcho(line->content))) {
            pos = line->end;
            continue;
        }
        int number = -1;
        const FinalCode final = FinalResultOf(line->content, &number);
        if (final != FinalCode::None && final != FinalCode::NoCarrier) {
            out.complete = true;
            out.final = final;
            out.errorNumber = number;
            out.end = line->end;
            return out;
        }
        const auto header = pduMode ? ParsePduListingHeader(line->content) : ParseListingHeader(line->content);
        if (!header) {
            // Between records only unsolicited lines may stand; anything else is skipped.
            if (ParseUnsolicited(line->content).kind != Unsolicited::None)
                out.unsolicited << line->content;
            pos = line->end;
            continue;
        }
        any = true;
        if (pduMode) {
            // One line of hex follows each header, so no line of a message can be taken for anything else.
            const auto body = lineAt(answer, line->end);
            if (!body) {
                // The hex holds the service-centre field (at most 12 octets) and the announced TPDU.
                out.announcedBytesOutstanding =
                    std::max<qint64>(0, line->end + 2 * (header->Length + 12) - answer.size());
                return out;
            }
            if (!isHexLine(body->content)) {
                pos = line->end; // not a PDU: the header is dropped and the line read for what it is
                continue;
            }
            SIMMessage m = *header;
            m.Pdu = QString::fromLatin1(body->content);
            addRecord(m, body->content);
            pos = body->end;
            continue;
        }
        const qsizetype bodyStart = line->end;
        if (header->Length >= 0) {
            bool beforeFinal = false;
            const std::optional<qsizetype> end = announcedEnd(answer, bodyStart, header->Length, &out, &beforeFinal);
            if (!end)
                return out;
            addRecord(*header, answer.mid(bodyStart, *end - bodyStart));
            settled = !beforeFinal;
            pos = *end + 2;
            continue;
        }
        // No length: the body runs to the line end before the next header line, or before the blank line and
        // final result that close the answer.
        out.lengthsKnown = false;
        qsizetype scan = bodyStart;
        qsizetype bodyEnd = -1;
        bool beforeFinal = false;
        while (scan < answer.size()) {
            const auto next = lineAt(answer, scan);
            if (!next)
                return out;
            if (ParseListingHeader(next->content)) {
                bodyEnd = scan;
                break;
            }
            // NO CARRIER is a call's end, which may stand inside a text; it never closes a listing.
            const FinalCode closing = FinalResultOf(next->content);
            if (closing != FinalCode::None && closing != FinalCode::NoCarrier && next->end == answer.size()) {
                bodyEnd = scan;
                beforeFinal = true;
                break;
            }
            scan = next->end;
        }
        if (bodyEnd < 0)
            return out;
        auto dropLineEnd = [&](qsizetype at) {
            if (at - bodyStart >= 2 && answer.at(at - 2) == '\r' && answer.at(at - 1) == '\n')
                return at - 2;
            if (at > bodyStart && (answer.at(at - 1) == '\n' || answer.at(at - 1) == '\r'))
                return at - 1;
            return at;
        };
        qsizetype textEnd = dropLineEnd(bodyEnd);
        if (beforeFinal)
            textEnd = dropLineEnd(textEnd);
        addRecord(*header, answer.mid(bodyStart, textEnd - bodyStart));
        settled = !beforeFinal; // more bytes may show that final line to be a line of the text
        pos = bodyEnd;
    }
    return out;
}

namespace {

// Whether a hex body read as UCS2 gives a text someone wrote: no control character but line ends, no
// unassigned or private-use code point, no surrogate out of its pair.
bool plausibleText(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        const QChar::Category k = c.category();
        if ((k == QChar::Other_Control && c != u'\r' && c != u'\n') || k == QChar::Other_NotAssigned ||
            k == QChar::Other_PrivateUse || k == QChar::Other_Surrogate)
            return false;
    }
    return true;
}

} // namespace

QString ListingText(const QByteArray& body, int announcedLength, Charset::Set set)
{
    if (set != Charset::Set::Ucs2 && announcedLength > 0 && body.size() % 4 == 0 && isHexLine(body)) {
        const Charset::Decoded unicode = Charset::decode(body, Charset::Set::Ucs2);
        if (unicode.ok()) {
            const qsizetype units = body.size() / 4;
            const qsizetype codePoints = unicode.text.toUcs4().size();
            // Counted in hex digits, the length is also that of a plain text of the same bytes: the hex is read
            // as UCS2 only when that gives a text someone wrote, and decimal digits only (a code, a number) are
            // taken as they stand.
            const bool digitsOnly = std::all_of(body.begin(), body.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (announcedLength == units || announcedLength == codePoints || announcedLength == 2 * units ||
                (announcedLength == body.size() && !digitsOnly && plausibleText(unicode.text)))
                return unicode.text;
        }
    }
    const Charset::Decoded text = Charset::decode(body, set);
    return text.ok() ? text.text : QString::fromLatin1(body);
}

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

QString IdentityLine(const QString& response)
{
    const QStringList lines = response.split(QLatin1Char('\n'));
    bool first = true;
    for (QString l : lines) {
        while (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
        const QByteArray bytes = l.toLatin1();
        if (first && isEcho(bytes.trimmed())) {
            first = false;
            continue;
        }
        first = false;
        if (Trim(l).isEmpty() || FinalResultOf(bytes) != FinalCode::None)
            continue;
        return Trim(l);
    }
    return {};
}

std::vector<CallEntry> ParseCallList(const QString& response)
{
    std::vector<CallEntry> calls;
    for (const QString& raw : response.split(QLatin1Char('\n'))) {
        const QByteArray line = LineContent(raw.toLatin1());
        if (!line.startsWith("+CLCC:"))
            continue;
        QList<QByteArray> f;
        QList<bool> quoted;
        if (!splitFields(line.mid(6), &f, &quoted) || f.size() < 4)
            continue;
        CallEntry c;
        bool ok[4] = {};
        c.id = f[0].toInt(&ok[0]);
        c.direction = f[1].toInt(&ok[1]);
        c.state = f[2].toInt(&ok[2]);
        c.mode = f[3].toInt(&ok[3]);
        if (!(ok[0] && ok[1] && ok[2] && ok[3]))
            continue;
        if (f.size() > 5)
            c.number = QString::fromLatin1(f[5]);
        calls.push_back(c);
    }
    return calls;
}

QString CallStatusFromResponse(const QString& response)
{
    static const char* const States[] = {"Active", "Held", "Dialing", "Alerting", "Incoming", "Waiting"};
    for (const CallEntry& c : ParseCallList(response)) {
        if (c.mode != 0)
            continue; // a data or fax connection is no voice call
        return c.state >= 0 && c.state <= 5 ? QString::fromLatin1(States[c.state]) : QString();
    }
    if (response.contains(QLatin1String("ERROR")))
        return QStringLiteral("ERROR");
    return response;
}

QString ParseResultNumber(const QString& response, const char* prefix)
{
    const QRegularExpression re(QStringLiteral("(^|\\n)\\s*\\%1\\s*(\\d+)").arg(QString::fromLatin1(prefix)));
    const auto m = re.match(response);
    return m.hasMatch() ? m.captured(2) : QString();
}

QString ParseCmgwIndex(const QString& response)
{
    return ParseResultNumber(response, "+CMGW:");
}

QString ExtractCallerNumber(const QString& text)
{
    // +CLIP: "<number>",<type>,...   and   +CLCC: <id>,<dir>,<stat>,<mode>,<mpty>,"<number>",<type>
    // (some phones put a blank after each comma of +CLCC). The number is what stands between the quotes.
    qsizetype start = -1;
    const qsizetype clip = text.indexOf(QStringLiteral("+CLIP:"));
    if (clip >= 0) {
        const qsizetype quote = text.indexOf(QLatin1Char('"'), clip);
        const qsizetype eol = text.indexOf(QLatin1Char('\r'), clip);
        if (quote < 0 || (eol >= 0 && quote > eol))
            return {};
        start = quote + 1;
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

QString ModemCharacterSet(const QString& settingsItem)
{
    const QString item = Trim(settingsItem).toUpper();
    if (item == QLatin1String("ASCII") || item == QLatin1String("CDMA"))
        return QStringLiteral("IRA");
    if (item == QLatin1String("ANSI"))
        return QStringLiteral("8859-1");
    return item.isEmpty() ? QStringLiteral("GSM") : item;
}

QStringList ParseCharacterSets(const QString& answer)
{
    QStringList sets;
    const qsizetype at = answer.indexOf(QLatin1String("+CSCS:"));
    if (at < 0)
        return sets;
    const qsizetype eol = answer.indexOf(QLatin1Char('\n'), at);
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
    auto it = quoted.globalMatch(answer.mid(at, eol < 0 ? -1 : eol - at));
    while (it.hasNext())
        sets << it.next().captured(1).toUpper();
    return sets;
}

QString ChooseCharacterSet(const QString& wanted, const QStringList& supported)
{
    if (supported.isEmpty() || supported.contains(wanted))
        return wanted;
    for (const char* fallback : {"GSM", "IRA"})
        if (supported.contains(QLatin1String(fallback)))
            return QString::fromLatin1(fallback);
    return wanted;
}

QString ParseCsmp(const QString& answer)
{
    static const QRegularExpression re(
        QStringLiteral("\\+CSMP:\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)"));
    const auto m = re.match(answer);
    return m.hasMatch() ? QStringList{m.captured(1), m.captured(2), m.captured(3), m.captured(4)}.join(',') : QString();
}

QDateTime ParseServiceCentreTime(const QString& timestamp)
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{2,4})/(\\d{1,2})/(\\d{1,2})[, ](\\d{1,2}):(\\d{2})(?::(\\d{2}))?(?:([+-])(\\d{1,2}))?$"));
    const auto m = re.match(Trim(timestamp));
    if (!m.hasMatch())
        return {};
    int year = m.captured(1).toInt();
    if (m.captured(1).size() == 2)
        year += year >= 90 ? 1900 : 2000;
    const QDate date(year, m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    int offset = m.captured(8).toInt() * 15 * 60;
    if (m.captured(7) == QLatin1String("-"))
        offset = -offset;
    if (offset < -16 * 3600 || offset > 16 * 3600)
        return {};
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}

QString CmsErrorMeaning(int number)
{
    static const std::pair<int, const char*> Meanings[] = {
        {1, "unassigned number"},
        {8, "operator determined barring"},
        {10, "call barred"},
        {21, "short message transfer rejected"},
        {27, "destination out of service"},
        {28, "unidentified subscriber"},
        {29, "facility rejected"},
        {30, "unknown subscriber"},
        {38, "network out of order"},
        {41, "temporary failure"},
        {42, "congestion"},
        {47, "resources unavailable"},
        {50, "requested facility not subscribed"},
        {69, "requested facility not implemented"},
        {81, "invalid short message transfer reference value"},
        {95, "invalid message"},
        {96, "invalid mandatory information"},
        {97, "message type non-existent or not implemented"},
        {98, "message not compatible with the short message protocol state"},
        {99, "information element non-existent or not implemented"},
        {111, "protocol error"},
        {127, "interworking error"},
        {128, "telematic interworking not supported"},
        {129, "short message type 0 not supported"},
        {130, "cannot replace short message"},
        {143, "unspecified TP-PID error"},
        {144, "data coding scheme (alphabet) not supported"},
        {145, "message class not supported"},
        {159, "unspecified TP-DCS error"},
        {160, "command cannot be actioned"},
        {161, "command unsupported"},
        {175, "unspecified TP-Command error"},
        {176, "TPDU not supported"},
        {192, "service centre busy"},
        {193, "no service centre subscription"},
        {194, "service centre system failure"},
        {195, "invalid recipient address"},
        {196, "recipient barred"},
        {197, "duplicate message rejected"},
        {198, "validity period format not supported"},
        {199, "validity period not supported"},
        {208, "SIM SMS storage full"},
        {209, "no SMS storage capability in SIM"},
        {210, "error in the phone"},
        {211, "memory capacity exceeded"},
        {212, "SIM toolkit busy"},
        {213, "SIM data download error"},
        {255, "unspecified error"},
        {300, "modem failure"},
        {301, "SMS service of the modem reserved"},
        {302, "operation not allowed"},
        {303, "operation not supported"},
        {304, "invalid PDU mode parameter"},
        {305, "invalid text mode parameter"},
        {310, "SIM not inserted"},
        {311, "SIM PIN required"},
        {312, "PH-SIM PIN required"},
        {313, "SIM failure"},
        {314, "SIM busy"},
        {315, "SIM wrong"},
        {316, "SIM PUK required"},
        {317, "SIM PIN2 required"},
        {318, "SIM PUK2 required"},
        {320, "memory failure"},
        {321, "invalid memory index"},
        {322, "memory full"},
        {330, "service centre address unknown"},
        {331, "no network service"},
        {332, "network timeout"},
        {340, "no +CNMA acknowledgement expected"},
        {500, "unknown error"},
    };
    for (const auto& [n, text] : Meanings)
        if (n == number)
            return QString::fromLatin1(text);
    return {};
}

QString CmeErrorMeaning(int number)
{
    static const std::pair<int, const char*> Meanings[] = {
        {0, "phone failure"},
        {3, "operation not allowed"},
        {4, "operation not supported"},
        {10, "SIM not inserted"},
        {11, "SIM PIN required"},
        {12, "SIM PUK required"},
        {13, "SIM failure"},
        {14, "SIM busy"},
        {15, "SIM wrong"},
        {20, "memory full"},
        {21, "invalid index"},
        {23, "memory failure"},
        {30, "no network service"},
        {31, "network timeout"},
        {32, "network not allowed, emergency calls only"},
        {100, "unknown error"},
    };
    for (const auto& [n, text] : Meanings)
        if (n == number)
            return QString::fromLatin1(text);
    return {};
}
