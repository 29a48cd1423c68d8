#include "tools/SimCodec.h"

#include <QHash>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cctype>

namespace SimCodec {

namespace {

constexpr char Escape = 0x1B;
constexpr char16_t None = 0xFFFF;

// The default alphabet, code by code (TS 23.038 6.2.1). 0x1B is the escape to the extension table.
constexpr std::array<char16_t, 128> Default = {
    u'@',      u'\u00A3', u'$',      u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC', // 0x00
    u'\u00F2', u'\u00C7', u'\n',     u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5', // 0x08
    u'\u0394', u'_',      u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8', // 0x10
    u'\u03A3', u'\u0398', u'\u039E', None,      u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9', // 0x18
    u' ',      u'!',      u'"',      u'#',      u'\u00A4', u'%',      u'&',      u'\'',     // 0x20
    u'(',      u')',      u'*',      u'+',      u',',      u'-',      u'.',      u'/',      // 0x28
    u'0',      u'1',      u'2',      u'3',      u'4',      u'5',      u'6',      u'7',      // 0x30
    u'8',      u'9',      u':',      u';',      u'<',      u'=',      u'>',      u'?',      // 0x38
    u'\u00A1', u'A',      u'B',      u'C',      u'D',      u'E',      u'F',      u'G',      // 0x40
    u'H',      u'I',      u'J',      u'K',      u'L',      u'M',      u'N',      u'O',      // 0x48
    u'P',      u'Q',      u'R',      u'S',      u'T',      u'U',      u'V',      u'W',      // 0x50
    u'X',      u'Y',      u'Z',      u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7', // 0x58
    u'\u00BF', u'a',      u'b',      u'c',      u'd',      u'e',      u'f',      u'g',      // 0x60
    u'h',      u'i',      u'j',      u'k',      u'l',      u'm',      u'n',      u'o',      // 0x68
    u'p',      u'q',      u'r',      u's',      u't',      u'u',      u'v',      u'w',      // 0x70
    u'x',      u'y',      u'z',      u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0', // 0x78
};

// The extension table (TS 23.038 6.2.1.1): the code after an escape, and its character.
constexpr std::array<std::pair<char, char16_t>, 10> Extension = {{
    {0x0A, u'\f'},
    {0x14, u'^'},
    {0x28, u'{'},
    {0x29, u'}'},
    {0x2F, u'\\'},
    {0x3C, u'['},
    {0x3D, u'~'},
    {0x3E, u']'},
    {0x40, u'|'},
    {0x65, u'\u20AC'},
}};

// Character to its septets: one code, or escape and code.
const QHash<char16_t, QByteArray>& gsmCodes()
{
    static const QHash<char16_t, QByteArray> codes = [] {
        QHash<char16_t, QByteArray> h;
        for (int i = 0; i < int(Default.size()); ++i)
            if (Default[i] != None)
                h.insert(Default[i], QByteArray(1, char(i)));
        for (const auto& [code, c] : Extension)
            h.insert(c, QByteArray(1, Escape) + code);
        return h;
    }();
    return codes;
}

QString hexOf(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex().toUpper());
}

// An address field (TS 23.040 9.1.2.5): "+digits" international, digits (with * # a b c) unknown type, any
// other text an alphanumeric name in packed septets. Empty when it cannot be written.
QByteArray addressField(const QString& address)
{
    const bool international = address.startsWith(QLatin1Char('+'));
    const QString digits = international ? address.mid(1) : address;
    static const QString semiOctets = QStringLiteral("0123456789*#abc");
    bool numeric = true;
    for (QChar c : digits)
        numeric = numeric && semiOctets.contains(c.toLower());
    QByteArray out;
    if (numeric) {
        out += char(digits.size());
        out += char(international ? 0x91 : 0x81);
        for (qsizetype i = 0; i < digits.size(); i += 2) {
            const int low = int(semiOctets.indexOf(digits.at(i).toLower()));
            const int high = i + 1 < digits.size() ? int(semiOctets.indexOf(digits.at(i + 1).toLower())) : 0xF;
            out += char(low | high << 4);
        }
        return out;
    }
    const std::optional<QByteArray> septets = toGsm(address);
    if (!septets || septets->size() > 11)
        return {};
    const QByteArray packed = packSeptets(*septets);
    out += char((septets->size() * 7 + 3) / 4); // semi-octets the packed name fills
    out += char(0xD0);
    return out + packed;
}

int semiOctet(int value)
{
    return (value % 10) << 4 | (value / 10 % 10);
}

// TP-SCTS (TS 23.040 9.2.3.11): year to second in swapped semi-octets, then the zone in quarter hours, its
// sign in bit 3 of the tens digit.
QByteArray timeStamp(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime h = t.time();
    const int quarters = t.offsetFromUtc() / 900;
    QByteArray out;
    for (int v : {d.year() % 100, d.month(), d.day(), h.hour(), h.minute(), h.second()})
        out += char(semiOctet(v));
    out += char(semiOctet(std::abs(quarters)) | (quarters < 0 ? 0x08 : 0));
    return out;
}

// User data with its header for each part, with the TP-UDL to write before it.
struct UserData {
    int length = 0;
    QByteArray octets;
};

QList<UserData> userData(const QString& text, int reference, Alphabet alphabet)
{
    const std::optional<QByteArray> septets = alphabet == Alphabet::Gsm7 ? toGsm(text) : std::nullopt;
    QByteArray encoded;
    if (septets) {
        encoded = *septets;
    } else {
        for (QChar c : text)
            encoded += char(c.unicode() >> 8) + QByteArray(1, char(c.unicode() & 0xFF));
    }
    const int step = septets ? 1 : 2;
    const int single = septets ? 160 : 140;
    const bool wide = reference > 255;
    const QByteArray concat = wide ? QByteArray("\x08\x04") + char(reference >> 8) + char(reference & 0xFF)
                                   : QByteArray("\x00\x03", 2) + char(reference);
    const int headerOctets = 1 + int(concat.size()) + 2;
    const int headerSeptets = (headerOctets * 8 + 6) / 7;
    QList<QByteArray> pieces;
    if (encoded.size() <= single) {
        pieces << encoded;
    } else {
        const int capacity = septets ? 160 - headerSeptets : (140 - headerOctets) / 2 * 2;
        qsizetype from = 0;
        while (from < encoded.size()) {
            qsizetype to = std::min<qsizetype>(from + capacity, encoded.size());
            const bool cutsPair =
                septets
                    ? encoded.at(to - 1) == Escape && to < encoded.size()
                    : QChar::isHighSurrogate(char16_t(uchar(encoded.at(to - 2)) << 8 | uchar(encoded.at(to - 1)))) &&
                          to < encoded.size();
            if (cutsPair)
                to -= step;
            pieces << encoded.mid(from, to - from);
            from = to;
        }
    }
    QList<UserData> out;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        QByteArray header;
        if (pieces.size() > 1)
            header = char(headerOctets - 1) + concat + char(pieces.size()) + char(i + 1);
        if (septets) {
            const int fill = header.isEmpty() ? 0 : headerSeptets * 7 - headerOctets * 8;
            out.append({int(pieces[i].size()) + (header.isEmpty() ? 0 : headerSeptets),
                        header + packSeptets(pieces[i], fill)});
        } else {
            out.append({int(header.size() + pieces[i].size()), header + pieces[i]});
        }
    }
    return out;
}

Alphabet alphabetFor(const QString& text, bool ucs2)
{
    return !ucs2 && toGsm(text) ? Alphabet::Gsm7 : Alphabet::Ucs2;
}

// A reader of a hex PDU that turns any overrun into a failure at the end.
class Reader {
public:
    explicit Reader(QStringView hex)
    {
        const QByteArray latin = hex.toLatin1();
        bytes = QByteArray::fromHex(latin);
        sound = latin.size() % 2 == 0 && isHex(latin);
    }
    int octet()
    {
        if (at >= bytes.size()) {
            sound = false;
            return 0;
        }
        return uchar(bytes.at(at++));
    }
    QByteArray take(qsizetype n)
    {
        if (n < 0 || at + n > bytes.size()) {
            sound = false;
            at = bytes.size();
            return {};
        }
        const QByteArray out = bytes.mid(at, n);
        at += n;
        return out;
    }
    qsizetype left() const { return bytes.size() - at; }
    bool ok() const { return sound; }
    void fail() { sound = false; }

private:
    static bool isHex(const QByteArray& s)
    {
        for (char c : s)
            if (!std::isxdigit(uchar(c)))
                return false;
        return true;
    }
    QByteArray bytes;
    qsizetype at = 0;
    bool sound = true;
};

QString address(Reader& r, int* type)
{
    const int length = r.octet();
    *type = r.octet();
    const QByteArray field = r.take((length + 1) / 2);
    if ((*type & 0x70) == 0x50) { // alphanumeric
        const std::optional<QString> name = fromGsm(unpackSeptets(field, length * 4 / 7));
        if (!name)
            r.fail();
        return name.value_or(QString());
    }
    static const QString semiOctets = QStringLiteral("0123456789*#abc");
    QString digits = (*type & 0x70) == 0x10 ? QStringLiteral("+") : QString();
    for (int i = 0; i < length; ++i) {
        const int v = i / 2 < field.size() ? (uchar(field.at(i / 2)) >> (i % 2 ? 4 : 0)) & 0xF : 0xF;
        if (v == 0xF)
            r.fail();
        else
            digits += semiOctets.at(v);
    }
    return digits;
}

QDateTime readTimeStamp(Reader& r)
{
    const auto number = [](int o) { return (o & 0x0F) * 10 + (o >> 4); };
    int v[6];
    for (int& x : v)
        x = number(r.octet());
    const int zone = r.octet();
    const int quarters = number(zone & 0xF7) * (zone & 0x08 ? -1 : 1);
    const QDate date(2000 + v[0], v[1], v[2]);
    const QTime time(v[3], v[4], v[5]);
    if (!date.isValid() || !time.isValid()) {
        r.fail();
        return {};
    }
    return QDateTime(date, time, QTimeZone(quarters * 900));
}

std::optional<Alphabet> alphabetOf(int dcs)
{
    const int group = dcs >> 4;
    if (group <= 0x7) { // general data coding, with or without automatic deletion
        if (dcs & 0x20)
            return std::nullopt; // compressed
        switch ((dcs >> 2) & 3) {
        case 0:
            return Alphabet::Gsm7;
        case 1:
            return Alphabet::EightBit;
        case 2:
            return Alphabet::Ucs2;
        default:
            return std::nullopt;
        }
    }
    if (group == 0xC || group == 0xD)
        return Alphabet::Gsm7; // message waiting, discard or store
    if (group == 0xE)
        return Alphabet::Ucs2;
    if (group == 0xF)
        return dcs & 0x04 ? Alphabet::EightBit : Alphabet::Gsm7;
    return std::nullopt;
}

struct Text {
    QString text;
    int partReference = 0, partNumber = 0, partCount = 0;
};

// TP-UDL and TP-UD as the rest of the PDU: the length must account for every octet left.
std::optional<Text> readUserData(Reader& r, bool hasHeader, Alphabet alphabet)
{
    const int length = r.octet();
    const qsizetype octets = alphabet == Alphabet::Gsm7 ? (length * 7 + 7) / 8 : length;
    const QByteArray data = r.take(octets);
    // 140 octets is all one message carries (160 septets); a network refuses more.
    if (!r.ok() || r.left() != 0 || octets > 140)
        return std::nullopt;
    Text out;
    int headerOctets = 0;
    if (hasHeader) {
        if (data.isEmpty())
            return std::nullopt;
        headerOctets = 1 + uchar(data.at(0));
        if (headerOctets > data.size())
            return std::nullopt;
        for (int i = 1; i + 1 < headerOctets;) {
            const int id = uchar(data.at(i));
            const int size = uchar(data.at(i + 1));
            if (i + 2 + size > headerOctets)
                return std::nullopt;
            const auto v = [&](int k) { return int(uchar(data.at(i + 2 + k))); };
            if (id == 0x00 && size == 3)
                out = {{}, v(0), v(2), v(1)};
            else if (id == 0x08 && size == 4)
                out = {{}, v(0) << 8 | v(1), v(3), v(2)};
            i += 2 + size;
        }
    }
    if (alphabet == Alphabet::Gsm7) {
        const int skip = (headerOctets * 8 + 6) / 7;
        if (skip > length)
            return std::nullopt;
        const std::optional<QString> text = fromGsm(unpackSeptets(data, length).mid(skip));
        if (!text)
            return std::nullopt;
        out.text = *text;
    } else if (alphabet == Alphabet::EightBit) {
        out.text = QString::fromLatin1(data.mid(headerOctets));
    } else {
        const QByteArray units = data.mid(headerOctets);
        if (units.size() % 2)
            return std::nullopt;
        for (qsizetype i = 0; i < units.size(); i += 2)
            out.text += QChar(char16_t(uchar(units.at(i)) << 8 | uchar(units.at(i + 1))));
    }
    return out;
}

} // namespace

std::optional<Set> setNamed(QStringView name)
{
    const QString n = name.toString().toUpper();
    if (n == QLatin1String("GSM"))
        return Set::Gsm;
    if (n == QLatin1String("IRA"))
        return Set::Ira;
    if (n == QLatin1String("8859-1"))
        return Set::Latin1;
    if (n == QLatin1String("UCS2"))
        return Set::Ucs2;
    return std::nullopt;
}

std::optional<QByteArray> toGsm(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        const auto it = gsmCodes().constFind(c.unicode());
        if (it == gsmCodes().constEnd())
            return std::nullopt;
        out += *it;
    }
    return out;
}

std::optional<QString> fromGsm(QByteArrayView septets)
{
    QString out;
    for (qsizetype i = 0; i < septets.size(); ++i) {
        const uchar code = uchar(septets.at(i));
        if (code > 0x7F)
            return std::nullopt;
        if (code != uchar(Escape)) {
            out += QChar(Default[code]);
            continue;
        }
        // An escape at the end, or before another escape, shows as a space; a code the extension table lacks
        // as its character in the default alphabet (TS 23.038 6.2.1.1).
        if (i + 1 >= septets.size() || uchar(septets.at(i + 1)) == uchar(Escape) || uchar(septets.at(i + 1)) > 0x7F) {
            if (i + 1 < septets.size() && uchar(septets.at(i + 1)) > 0x7F)
                return std::nullopt;
            out += QLatin1Char(' ');
            continue;
        }
        const char next = septets.at(++i);
        char16_t c = Default[uchar(next)];
        for (const auto& [code2, ext] : Extension)
            if (code2 == next)
                c = ext;
        out += QChar(c);
    }
    return out;
}

QByteArray toSet(QStringView text, Set set)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (set) {
        case Set::Gsm:
            out += toGsm(text.mid(i, 1)).value_or(QByteArray("?"));
            break;
        case Set::Ira:
            out += c.unicode() < 0x80 ? char(c.unicode()) : '?';
            break;
        case Set::Latin1:
            out += c.unicode() < 0x100 ? char(c.unicode()) : '?';
            break;
        case Set::Ucs2:
            out += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
            break;
        }
        // A character outside the basic plane is one "?" in the 8-bit sets.
        if (set != Set::Ucs2 && c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return out;
}

std::optional<QString> fromSet(QByteArrayView bytes, Set set)
{
    switch (set) {
    case Set::Gsm:
        return fromGsm(bytes);
    case Set::Ira:
        for (char b : bytes)
            if (uchar(b) > 0x7F)
                return std::nullopt;
        return QString::fromLatin1(bytes);
    case Set::Latin1:
        return QString::fromLatin1(bytes);
    case Set::Ucs2: {
        if (bytes.size() % 4)
            return std::nullopt;
        QString out;
        for (qsizetype i = 0; i < bytes.size(); i += 4) {
            const QByteArrayView digits = bytes.sliced(i, 4);
            if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(uchar(c)); }))
                return std::nullopt;
            const uint unit = digits.toByteArray().toUInt(nullptr, 16);
            out += QChar(char16_t(unit));
        }
        return out;
    }
    }
    return std::nullopt;
}

QByteArray packSeptets(QByteArrayView septets, int fillBits)
{
    QByteArray out((fillBits + septets.size() * 7 + 7) / 8, '\0');
    for (qsizetype i = 0; i < septets.size(); ++i) {
        const qsizetype bit = fillBits + i * 7;
        const int value = uchar(septets.at(i)) & 0x7F;
        out[bit / 8] = char(uchar(out[bit / 8]) | ((value << (bit % 8)) & 0xFF));
        if (bit % 8 > 1)
            out[bit / 8 + 1] = char(uchar(out[bit / 8 + 1]) | value >> (8 - bit % 8));
    }
    return out;
}

QByteArray unpackSeptets(QByteArrayView octets, int count, int fillBits)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        const qsizetype bit = fillBits + qsizetype(i) * 7;
        if (bit / 8 >= octets.size())
            break;
        int value = uchar(octets.at(bit / 8)) >> (bit % 8);
        if (bit % 8 > 1 && bit / 8 + 1 < octets.size())
            value |= uchar(octets.at(bit / 8 + 1)) << (8 - bit % 8);
        out += char(value & 0x7F);
    }
    return out;
}

std::optional<Submit> decodeSubmit(QStringView hex)
{
    Reader r(hex);
    r.take(r.octet()); // the service-centre field
    Submit s;
    const int first = r.octet();
    if (!r.ok() || (first & 0x03) != 0x01)
        return std::nullopt;
    s.tpduLength = int(r.left() + 1);
    s.statusReport = first & 0x20;
    s.messageReference = r.octet();
    s.destination = address(r, &s.destinationType);
    s.protocolId = r.octet();
    s.dataCoding = r.octet();
    const int validityFormat = (first >> 3) & 0x03;
    if (validityFormat == 0x02)
        s.relativeValidity = r.octet();
    else if (validityFormat != 0x00)
        r.take(7); // enhanced or absolute: seven octets the simulator does not need
    const std::optional<Alphabet> alphabet = alphabetOf(s.dataCoding);
    if (!alphabet || !r.ok())
        return std::nullopt;
    s.alphabet = *alphabet;
    const std::optional<Text> text = readUserData(r, first & 0x40, *alphabet);
    if (!text)
        return std::nullopt;
    s.text = text->text;
    s.partReference = text->partReference;
    s.partNumber = text->partNumber;
    s.partCount = text->partCount;
    return s;
}

std::optional<Deliver> decodeDeliver(QStringView hex)
{
    Reader r(hex);
    r.take(r.octet());
    const int first = r.octet();
    if (!r.ok() || (first & 0x03) != 0x00)
        return std::nullopt;
    Deliver d;
    int type = 0;
    d.sender = address(r, &type);
    r.octet(); // TP-PID
    const std::optional<Alphabet> alphabet = alphabetOf(r.octet());
    d.sentOn = readTimeStamp(r);
    if (!alphabet || !r.ok())
        return std::nullopt;
    d.alphabet = *alphabet;
    const std::optional<Text> text = readUserData(r, first & 0x40, *alphabet);
    if (!text)
        return std::nullopt;
    d.text = text->text;
    d.partReference = text->partReference;
    d.partNumber = text->partNumber;
    d.partCount = text->partCount;
    return d;
}

QList<Part> encodeDeliver(const QString& sender, const QString& text, const QDateTime& sentOn, int reference, bool ucs2)
{
    const QByteArray origin = addressField(sender);
    if (origin.isEmpty())
        return {};
    const Alphabet alphabet = alphabetFor(text, ucs2);
    const QList<UserData> parts = userData(text, reference, alphabet);
    QList<Part> out;
    for (const UserData& u : parts) {
        // TP-MTI deliver, TP-MMS set (no more messages waiting), TP-UDHI when a header leads the data.
        QByteArray tpdu(1, char(0x04 | (parts.size() > 1 ? 0x40 : 0)));
        tpdu += origin;
        tpdu += char(0x00);
        tpdu += char(alphabet == Alphabet::Ucs2 ? 0x08 : 0x00);
        tpdu += timeStamp(sentOn);
        tpdu += char(u.length);
        tpdu += u.octets;
        out.append({QStringLiteral("00") + hexOf(tpdu), int(tpdu.size())});
    }
    return out;
}

QList<Part> encodeSubmit(const QString& destination, const QString& text, int reference, bool ucs2)
{
    const QByteArray target = addressField(destination);
    if (target.isEmpty())
        return {};
    const Alphabet alphabet = alphabetFor(text, ucs2);
    const QList<UserData> parts = userData(text, reference, alphabet);
    QList<Part> out;
    for (const UserData& u : parts) {
        // TP-MTI submit, no validity period, TP-UDHI when a header leads the data; TP-MR 0.
        QByteArray tpdu(1, char(0x01 | (parts.size() > 1 ? 0x40 : 0)));
        tpdu += char(0x00);
        tpdu += target;
        tpdu += char(0x00);
        tpdu += char(alphabet == Alphabet::Ucs2 ? 0x08 : 0x00);
        tpdu += char(u.length);
        tpdu += u.octets;
        out.append({QStringLiteral("00") + hexOf(tpdu), int(tpdu.size())});
    }
    return out;
}

Part encodeStatusReport(int reference, const QString& recipient, const QDateTime& sentOn, const QDateTime& discharged,
                        int status)
{
    const QByteArray target = addressField(recipient);
    if (target.isEmpty())
        return {};
    // TP-MTI status report, TP-MMS set; the report answers a submission (TP-SRQ clear).
    QByteArray tpdu(1, char(0x06));
    tpdu += char(reference & 0xFF);
    tpdu += target;
    tpdu += timeStamp(sentOn);
    tpdu += timeStamp(discharged);
    tpdu += char(status);
    return {QStringLiteral("00") + hexOf(tpdu), int(tpdu.size())};
}

} // namespace SimCodec
