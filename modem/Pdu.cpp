// SMS PDU encoding and decoding after 3GPP TS 23.040 (TPDU layout, addresses, time stamps, user data header)
// and TS 23.038 (data coding scheme, septet packing). Every length field read from a PDU is checked against
// what is left before it is used: these decoders take whatever a modem or a fuzzer hands them.
#include "modem/Pdu.h"

#include "common/Charset.h"

#include <QDate>
#include <QTime>

namespace {

using Pdu::Alphabet;
using Pdu::Concatenation;

constexpr int MaxSeptets = 160;
constexpr int MaxOctets = 140;
constexpr int MaxAddressDigits = 20;
constexpr int MaxAlphanumericSeptets = 11;
constexpr quint8 TypeInternational = 0x91;
constexpr quint8 TypeUnknown = 0x81;
constexpr quint8 TypeAlphanumeric = 0xD0;

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

bool parseHex(QStringView hex, QByteArray& out, QString& error)
{
    hex = hex.trimmed();
    if (hex.size() % 2) {
        error = QStringLiteral("The PDU has an odd number of hex digits");
        return false;
    }
    out.resize(hex.size() / 2);
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i].unicode());
        const int lo = hexValue(hex[i + 1].unicode());
        if (hi < 0 || lo < 0) {
            error = QStringLiteral("The PDU holds a character that is not a hex digit at position %1")
                        .arg(hi < 0 ? i + 1 : i + 2);
            return false;
        }
        out[i / 2] = char(hi << 4 | lo);
    }
    return true;
}

// Reads octets front to back; a read past the end records which field was cut and leaves the reader failed.
class Reader {
public:
    explicit Reader(const QByteArray& bytes) : b(bytes) {}

    bool need(qsizetype n, const char* field)
    {
        if (!failed && pos + n <= b.size())
            return true;
        if (!failed)
            fail(QStringLiteral("The PDU ends inside the %1").arg(QLatin1String(field)));
        return false;
    }
    quint8 octet() { return quint8(b[pos++]); }
    QByteArrayView take(qsizetype n)
    {
        const QByteArrayView v(b.constData() + pos, n);
        pos += n;
        return v;
    }
    void fail(const QString& why)
    {
        if (!failed)
            error = why;
        failed = true;
    }
    qsizetype position() const { return pos; }
    qsizetype size() const { return b.size(); }

    bool failed = false;
    QString error;

private:
    const QByteArray& b;
    qsizetype pos = 0;
};

QString semiOctetDigits(QByteArrayView value, int digits)
{
    static constexpr char16_t Digit[] = u"0123456789*#abc";
    QString out;
    out.reserve(digits);
    for (int i = 0; i < digits; ++i) {
        const quint8 octet = quint8(value[i / 2]);
        const int nibble = i % 2 ? octet >> 4 : octet & 0x0F;
        // 0xF is the filler of an odd count; a stray one inside a number carries no digit.
        if (nibble != 0xF)
            out.append(QChar(Digit[nibble]));
    }
    return out;
}

// Septets packed from bit 0 of the first octet, beginning at septet index `first`.
QByteArray unpackSeptets(QByteArrayView octets, int first, int count)
{
    QByteArray out(count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const int bit = (first + i) * 7;
        const int index = bit >> 3;
        const int shift = bit & 7;
        int v = quint8(octets[index]) >> shift;
        if (shift > 1)
            v |= quint8(octets[index + 1]) << (8 - shift);
        out[i] = char(v & 0x7F);
    }
    return out;
}

void readSmsc(Reader& r, QString& smsc)
{
    if (!r.need(1, "service-centre address"))
        return;
    const int length = r.octet();
    if (length == 0)
        return;
    if (length > 1 + MaxAddressDigits / 2) {
        r.fail(QStringLiteral("The service-centre address is %1 octets long, more than an address can be").arg(length));
        return;
    }
    if (!r.need(length, "service-centre address"))
        return;
    const quint8 type = r.octet();
    const QByteArrayView value = r.take(length - 1);
    smsc = ((type & 0x70) == 0x10 ? QStringLiteral("+") : QString()) + semiOctetDigits(value, (length - 1) * 2);
}

void readAddress(Reader& r, QString& address, int& type, const char* field)
{
    if (!r.need(2, field))
        return;
    const int digits = r.octet();
    type = r.octet();
    if (digits > MaxAddressDigits) {
        r.fail(QStringLiteral("The %1 claims %2 digits, more than an address can hold")
                   .arg(QLatin1String(field))
                   .arg(digits));
        return;
    }
    const int octets = (digits + 1) / 2;
    if (!r.need(octets, field))
        return;
    const QByteArrayView value = r.take(octets);
    if ((type & 0x70) == 0x50) {
        const Charset::Decoded name = Charset::decode(unpackSeptets(value, 0, digits * 4 / 7), Charset::Set::Gsm);
        if (!name.ok())
            r.fail(QStringLiteral("The alphanumeric %1 is not sound: %2").arg(QLatin1String(field), name.error));
        address = name.text;
        return;
    }
    address = ((type & 0x70) == 0x10 ? QStringLiteral("+") : QString()) + semiOctetDigits(value, digits);
}

int bcd(quint8 octet, bool& sound)
{
    const int lo = octet & 0x0F;
    const int hi = octet >> 4;
    sound = sound && lo <= 9 && hi <= 9;
    return lo * 10 + hi;
}

void readTimestamp(Reader& r, QDateTime& out, const char* field)
{
    if (!r.need(7, field))
        return;
    bool sound = true;
    int v[6];
    for (int& f : v)
        f = bcd(r.octet(), sound);
    const quint8 zone = r.octet();
    const int quarters = (zone & 0x07) * 10 + (zone >> 4);
    sound = sound && (zone >> 4) <= 9;
    // Two digits of year: the 1990s are the only years before 2000 an SMS can have.
    const QDate date(v[0] >= 90 ? 1900 + v[0] : 2000 + v[0], v[1], v[2]);
    const QTime time(v[3], v[4], v[5]);
    if (sound && date.isValid() && time.isValid())
        out = QDateTime(date, time, Qt::OffsetFromUTC, (zone & 0x08 ? -quarters : quarters) * 15 * 60);
    if (!out.isValid())
        r.fail(QStringLiteral("The %1 is not a valid date and time").arg(QLatin1String(field)));
}

void readUserData(Reader& r, bool hasHeader, Pdu::UserData& u)
{
    if (!r.need(1, "user data length"))
        return;
    const int length = r.octet();
    u.coding = Pdu::interpretDataCoding(u.dataCoding);
    const bool septets = u.coding.alphabet == Alphabet::Gsm7 && !u.coding.compressed;
    if (length > (septets ? MaxSeptets : MaxOctets)) {
        r.fail(QStringLiteral("The user data length %1 is more than a message can hold").arg(length));
        return;
    }
    const int octets = septets ? (length * 7 + 7) / 8 : length;
    if (!r.need(octets, "user data"))
        return;
    const QByteArrayView ud = r.take(octets);

    int headerOctets = 0;
    if (hasHeader) {
        if (octets < 1) {
            r.fail(QStringLiteral("The user data header is announced but the user data is empty"));
            return;
        }
        headerOctets = 1 + quint8(ud[0]);
        if (headerOctets > octets || (septets && headerOctets * 8 > length * 7)) {
            r.fail(QStringLiteral("The user data header is longer than the user data"));
            return;
        }
        for (int p = 1; p < headerOctets;) {
            if (p + 2 > headerOctets) {
                r.fail(QStringLiteral("The user data header ends inside an element"));
                return;
            }
            const int id = quint8(ud[p]);
            const int len = quint8(ud[p + 1]);
            p += 2;
            if (p + len > headerOctets) {
                r.fail(QStringLiteral("An element of the user data header runs past the header"));
                return;
            }
            const auto at = [&](int k) { return int(quint8(ud[p + k])); };
            Concatenation c;
            if (id == 0x00 && len == 3)
                c = {at(0), at(1), at(2)};
            else if (id == 0x08 && len == 4)
                c = {at(0) << 8 | at(1), at(2), at(3)};
            // A part number of 0 or beyond the total makes the element one to ignore, as TS 23.040 says.
            if (c.total > 0 && c.sequence >= 1 && c.sequence <= c.total)
                u.concatenation = c;
            p += len;
        }
    }

    if (septets) {
        const int headerSeptets = (headerOctets * 8 + 6) / 7;
        u.data = unpackSeptets(ud, headerSeptets, length - headerSeptets);
        const Charset::Decoded text = Charset::decode(u.data, Charset::Set::Gsm);
        if (!text.ok())
            r.fail(QStringLiteral("The message text is not sound: %1").arg(text.error));
        u.text = text.text;
        return;
    }
    u.data = ud.sliced(headerOctets).toByteArray();
    if (u.coding.compressed)
        return;
    if (u.coding.alphabet == Alphabet::EightBit) {
        u.text = QString::fromLatin1(u.data);
    } else if (u.data.size() % 2) {
        r.fail(QStringLiteral("The UCS2 text has an odd number of octets"));
    } else {
        u.text.resize(u.data.size() / 2);
        for (qsizetype i = 0; i < u.text.size(); ++i)
            u.text[i] = QChar(quint8(u.data[2 * i]) << 8 | quint8(u.data[2 * i + 1]));
    }
}

// Reads the SMSC field and the first TPDU octet; false when the PDU is not of the wanted kind.
bool readStart(QStringView hex, QByteArray& bytes, Reader& r, Pdu::Decoded& d, int wantedType, const char* kind,
               quint8& first)
{
    if (!parseHex(hex, bytes, d.error))
        return false;
    readSmsc(r, d.smsc);
    d.tpduLength = int(r.size() - r.position());
    if (!r.need(1, "first octet of the message"))
        return false;
    first = r.octet();
    if ((first & 0x03) != wantedType) {
        r.fail(QStringLiteral("The PDU is not an %1").arg(QLatin1String(kind)));
        return false;
    }
    return true;
}

template <typename T> T finish(Reader& r, T d)
{
    if (r.failed && d.error.isEmpty())
        d.error = r.error;
    return d;
}

bool appendDigits(QByteArray& out, QStringView digits)
{
    quint8 pending = 0;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        const char16_t c = digits[i].unicode();
        int v;
        if (c >= u'0' && c <= u'9')
            v = c - u'0';
        else if (c == u'*')
            v = 0xA;
        else if (c == u'#')
            v = 0xB;
        else
            return false;
        if (i % 2)
            out.append(char(pending | v << 4));
        else
            pending = quint8(v);
    }
    if (digits.size() % 2)
        out.append(char(pending | 0xF0));
    return true;
}

bool isNumber(QStringView s)
{
    if (s.startsWith(u'+'))
        s = s.sliced(1);
    if (s.isEmpty())
        return false;
    for (const QChar c : s)
        if (!((c >= u'0' && c <= u'9') || c == u'*' || c == u'#'))
            return false;
    return true;
}

QByteArray packSeptets(QByteArrayView septets, int first, int totalSeptets)
{
    QByteArray out((totalSeptets * 7 + 7) / 8, '\0');
    for (qsizetype i = 0; i < septets.size(); ++i) {
        const int bit = (first + int(i)) * 7;
        const int index = bit >> 3;
        const int shift = bit & 7;
        const int v = quint8(septets[i]);
        out[index] = char(quint8(out[index]) | quint8(v << shift));
        if (shift > 1)
            out[index + 1] = char(quint8(out[index + 1]) | quint8(v >> (8 - shift)));
    }
    return out;
}

// A phone number or, when allowed, an alphanumeric name as TP-DA / TP-OA.
bool appendAddress(QByteArray& out, const QString& address, bool allowName, QString& error, const char* field)
{
    if (isNumber(address)) {
        const bool international = address.startsWith(u'+');
        const QStringView digits = QStringView(address).sliced(international ? 1 : 0);
        if (digits.size() > MaxAddressDigits) {
            error = QStringLiteral("The %1 \"%2\" has more than %3 digits")
                        .arg(QLatin1String(field), address)
                        .arg(MaxAddressDigits);
            return false;
        }
        out.append(char(digits.size()));
        out.append(char(international ? TypeInternational : TypeUnknown));
        appendDigits(out, digits);
        return true;
    }
    if (!allowName || address.isEmpty()) {
        error = QStringLiteral("The %1 \"%2\" is not a phone number").arg(QLatin1String(field), address);
        return false;
    }
    const Charset::Encoded name = Charset::encode(address, Charset::Set::Gsm, true);
    if (!name.ok() || name.bytes.size() > MaxAlphanumericSeptets) {
        error = QStringLiteral("The %1 \"%2\" is neither a phone number nor a name of up to %3 GSM characters")
                    .arg(QLatin1String(field), address)
                    .arg(MaxAlphanumericSeptets);
        return false;
    }
    const int septets = int(name.bytes.size());
    out.append(char((septets * 7 + 3) / 4));
    out.append(char(TypeAlphanumeric));
    out.append(packSeptets(name.bytes, 0, septets));
    return true;
}

bool appendSmsc(QByteArray& out, const QString& smsc, QString& error)
{
    if (smsc.isEmpty()) {
        out.append('\0');
        return true;
    }
    const bool international = smsc.startsWith(u'+');
    const QStringView digits = QStringView(smsc).sliced(international ? 1 : 0);
    if (!isNumber(smsc) || digits.size() > MaxAddressDigits) {
        error = QStringLiteral("The service-centre address \"%1\" is not a phone number").arg(smsc);
        return false;
    }
    out.append(char(1 + (digits.size() + 1) / 2));
    out.append(char(international ? TypeInternational : TypeUnknown));
    appendDigits(out, digits);
    return true;
}

quint8 swappedBcd(int value)
{
    return quint8((value % 10) << 4 | (value / 10) % 10);
}

bool appendTimestamp(QByteArray& out, const QDateTime& t, QString& error, const char* field)
{
    const QDate date = t.date();
    if (!t.isValid() || date.year() < 1990 || date.year() > 2089) {
        error = QStringLiteral("The %1 must be a valid time between 1990 and 2089").arg(QLatin1String(field));
        return false;
    }
    const QTime time = t.time();
    for (const int v : {date.year() % 100, date.month(), date.day(), time.hour(), time.minute(), time.second()})
        out.append(char(swappedBcd(v)));
    const int quarters = t.offsetFromUtc() / (15 * 60);
    const int magnitude = std::abs(quarters);
    if (magnitude > 79) {
        error = QStringLiteral("The %1 has an offset from UTC beyond what the field holds").arg(QLatin1String(field));
        return false;
    }
    out.append(char(swappedBcd(magnitude) | (quarters < 0 ? 0x08 : 0)));
    return true;
}

struct PartsPlan {
    Alphabet alphabet = Alphabet::Gsm7;
    QStringList parts;
    QString error;
};

PartsPlan planParts(const QString& text, std::optional<Alphabet> wanted)
{
    PartsPlan plan;
    plan.alphabet = wanted.value_or(
        Charset::count(text, Charset::Mode::Pdu).encoding == Charset::Encoding::Gsm7 ? Alphabet::Gsm7 : Alphabet::Ucs2);
    switch (plan.alphabet) {
    case Alphabet::Gsm7: {
        const Charset::Encoded check = Charset::encode(text, Charset::Set::Gsm, true);
        if (!check.ok()) {
            plan.error = QStringLiteral("The GSM alphabet has no \"%1\" (character %2 of the text)")
                             .arg(text.mid(check.unencodable.first(), 1))
                             .arg(check.unencodable.first() + 1);
            return plan;
        }
        plan.parts = Charset::split(text, Charset::Mode::Pdu, Charset::Encoding::Gsm7);
        break;
    }
    case Alphabet::Ucs2:
        plan.parts = Charset::split(text, Charset::Mode::Pdu, Charset::Encoding::Ucs2);
        break;
    case Alphabet::EightBit: {
        const Charset::Encoded check = Charset::encode(text, Charset::Set::Latin1);
        if (!check.ok()) {
            plan.error = QStringLiteral("8-bit data holds only characters up to U+00FF (character %1 is not one)")
                             .arg(check.unencodable.first() + 1);
            return plan;
        }
        const int size = text.size() > MaxOctets ? MaxOctets - 6 : MaxOctets;
        for (qsizetype i = 0; i < text.size(); i += size)
            plan.parts.append(text.mid(i, size));
        if (plan.parts.isEmpty())
            plan.parts.append(QString());
        break;
    }
    }
    if (plan.parts.size() > 255)
        plan.error =
            QStringLiteral("The text needs %1 parts; a long message can have at most 255").arg(plan.parts.size());
    return plan;
}

quint8 dataCodingOf(Alphabet a)
{
    return a == Alphabet::Gsm7 ? 0x00 : a == Alphabet::EightBit ? 0x04 : 0x08;
}

// TP-UDL and TP-UD of one part, with the concatenation header when the part belongs to a longer message.
void appendUserData(QByteArray& out, Alphabet alphabet, const QString& part, const Concatenation& c)
{
    QByteArray header;
    if (c.isPart())
        header = QByteArray{"\x05\x00\x03", 3} + char(c.reference) + char(c.total) + char(c.sequence);
    switch (alphabet) {
    case Alphabet::Gsm7: {
        const QByteArray septets = Charset::encode(part, Charset::Set::Gsm, true).bytes;
        const int headerSeptets = (int(header.size()) * 8 + 6) / 7;
        const int length = headerSeptets + int(septets.size());
        QByteArray ud = packSeptets(septets, headerSeptets, length);
        ud.replace(0, header.size(), header);
        out.append(char(length));
        out.append(ud);
        break;
    }
    case Alphabet::EightBit:
        out.append(char(header.size() + part.size()));
        out.append(header);
        out.append(part.toLatin1());
        break;
    case Alphabet::Ucs2:
        out.append(char(header.size() + 2 * part.size()));
        out.append(header);
        for (const QChar ch : part) {
            out.append(char(ch.unicode() >> 8));
            out.append(char(ch.unicode() & 0xFF));
        }
        break;
    }
}

Pdu::Encoded finishPdu(const QByteArray& bytes, int smscOctets)
{
    return {QString::fromLatin1(bytes.toHex().toUpper()), int(bytes.size()) - smscOctets};
}

} // namespace

namespace Pdu {

DataCoding interpretDataCoding(int dcs)
{
    DataCoding c;
    const int group = dcs >> 4;
    if (group <= 0x7) {
        // General data coding, with or without automatic deletion (bit 6).
        c.compressed = dcs & 0x20;
        if (dcs & 0x10)
            c.messageClass = dcs & 0x03;
        const int alphabet = (dcs >> 2) & 0x03;
        c.alphabet = alphabet == 1 ? Alphabet::EightBit : alphabet == 2 ? Alphabet::Ucs2 : Alphabet::Gsm7;
    } else if (group == 0xE) {
        c.alphabet = Alphabet::Ucs2; // message waiting indication, store, UCS2 text
    } else if (group == 0xF) {
        c.alphabet = dcs & 0x04 ? Alphabet::EightBit : Alphabet::Gsm7;
        c.messageClass = dcs & 0x03;
    }
    // Every other group (message waiting discard or store, and the reserved ones) is GSM 7-bit text.
    return c;
}

EncodeResult encodeSubmit(const QString& destination, const QString& text, const SubmitOptions& options)
{
    EncodeResult result;
    QByteArray address;
    if (!appendAddress(address, destination, false, result.error, "destination"))
        return result;
    const PartsPlan plan = planParts(text, options.alphabet);
    if (!plan.error.isEmpty()) {
        result.error = plan.error;
        return result;
    }
    const int total = int(plan.parts.size());
    quint8 first = 0x01;
    if (options.rejectDuplicates)
        first |= 0x04;
    if (options.validityMinutes)
        first |= 0x10;
    if (options.statusReport)
        first |= 0x20;
    if (total > 1)
        first |= 0x40;
    for (int k = 0; k < total; ++k) {
        QByteArray pdu;
        pdu.reserve(180);
        pdu.append('\0');
        pdu.append(char(first));
        pdu.append('\0'); // message reference: the modem assigns it
        pdu.append(address);
        pdu.append('\0');
        pdu.append(char(dataCodingOf(plan.alphabet)));
        if (options.validityMinutes)
            pdu.append(char(relativeValidity(*options.validityMinutes)));
        const Concatenation c =
            total > 1 ? Concatenation{options.concatenationReference & 0xFF, total, k + 1} : Concatenation{};
        appendUserData(pdu, plan.alphabet, plan.parts[k], c);
        result.parts.append(finishPdu(pdu, 1));
    }
    return result;
}

EncodeResult encodeDeliver(const QString& sender, const QString& text, const DeliverOptions& options)
{
    EncodeResult result;
    QByteArray smsc;
    QByteArray address;
    QByteArray timestamp;
    if (!appendSmsc(smsc, options.smsc, result.error) ||
        !appendAddress(address, sender, true, result.error, "sender") ||
        !appendTimestamp(timestamp, options.serviceCentreTime, result.error, "service-centre time stamp"))
        return result;
    const PartsPlan plan = planParts(text, options.alphabet);
    if (!plan.error.isEmpty()) {
        result.error = plan.error;
        return result;
    }
    const int total = int(plan.parts.size());
    quint8 first = 0x04; // no more messages waiting
    if (options.statusReportIndication)
        first |= 0x20;
    if (total > 1)
        first |= 0x40;
    for (int k = 0; k < total; ++k) {
        QByteArray pdu = smsc;
        pdu.append(char(first));
        pdu.append(address);
        pdu.append('\0');
        pdu.append(char(dataCodingOf(plan.alphabet)));
        pdu.append(timestamp);
        const Concatenation c =
            total > 1 ? Concatenation{options.concatenationReference & 0xFF, total, k + 1} : Concatenation{};
        appendUserData(pdu, plan.alphabet, plan.parts[k], c);
        result.parts.append(finishPdu(pdu, int(smsc.size())));
    }
    return result;
}

EncodedReport encodeStatusReport(const StatusReportFields& f)
{
    EncodedReport result;
    QByteArray pdu;
    if (!appendSmsc(pdu, f.smsc, result.error))
        return result;
    const int smscOctets = int(pdu.size());
    pdu.append(char(0x06)); // status report, no more messages waiting
    pdu.append(char(f.reference & 0xFF));
    if (!appendAddress(pdu, f.recipient, false, result.error, "recipient") ||
        !appendTimestamp(pdu, f.serviceCentreTime, result.error, "service-centre time stamp") ||
        !appendTimestamp(pdu, f.dischargeTime, result.error, "discharge time"))
        return result;
    pdu.append(char(f.status & 0xFF));
    result.pdu = finishPdu(pdu, smscOctets);
    return result;
}

Type typeOf(QStringView hex)
{
    QByteArray bytes;
    QString error;
    if (!parseHex(hex, bytes, error) || bytes.isEmpty())
        return Type::Unknown;
    const qsizetype first = 1 + quint8(bytes[0]);
    if (first >= bytes.size())
        return Type::Unknown;
    switch (bytes[first] & 0x03) {
    case 0:
        return Type::Deliver;
    case 1:
        return Type::Submit;
    case 2:
        return Type::StatusReport;
    default:
        return Type::Unknown;
    }
}

Deliver decodeDeliver(QStringView hex)
{
    Deliver d;
    QByteArray bytes;
    Reader r(bytes);
    quint8 first = 0;
    if (!readStart(hex, bytes, r, d, 0, "SMS-DELIVER", first))
        return finish(r, d);
    d.moreMessagesToSend = !(first & 0x04);
    d.statusReportIndication = first & 0x20;
    readAddress(r, d.sender, d.senderType, "originating address");
    if (r.need(2, "protocol identifier and data coding")) {
        d.protocolId = r.octet();
        d.dataCoding = r.octet();
    }
    readTimestamp(r, d.serviceCentreTime, "service-centre time stamp");
    readUserData(r, first & 0x40, d);
    return finish(r, d);
}

Submit decodeSubmit(QStringView hex)
{
    Submit s;
    QByteArray bytes;
    Reader r(bytes);
    quint8 first = 0;
    if (!readStart(hex, bytes, r, s, 1, "SMS-SUBMIT", first))
        return finish(r, s);
    s.rejectDuplicates = first & 0x04;
    s.statusReport = first & 0x20;
    if (r.need(1, "message reference"))
        s.messageReference = r.octet();
    readAddress(r, s.destination, s.destinationType, "destination address");
    if (r.need(2, "protocol identifier and data coding")) {
        s.protocolId = r.octet();
        s.dataCoding = r.octet();
    }
    switch ((first >> 3) & 0x03) {
    case 2:
        if (r.need(1, "validity period"))
            s.validityMinutes = validityMinutes(r.octet());
        break;
    case 3:
        readTimestamp(r, s.validUntil, "validity period");
        break;
    case 1:
        // The enhanced format is of no use to the program; it is skipped whole.
        if (r.need(7, "validity period"))
            r.take(7);
        break;
    }
    readUserData(r, first & 0x40, s);
    return finish(r, s);
}

StatusReport decodeStatusReport(QStringView hex)
{
    StatusReport s;
    QByteArray bytes;
    Reader r(bytes);
    quint8 first = 0;
    if (!readStart(hex, bytes, r, s, 2, "SMS-STATUS-REPORT", first))
        return finish(r, s);
    if (r.need(1, "message reference"))
        s.messageReference = r.octet();
    readAddress(r, s.recipient, s.recipientType, "recipient address");
    readTimestamp(r, s.serviceCentreTime, "service-centre time stamp");
    readTimestamp(r, s.dischargeTime, "discharge time");
    if (r.need(1, "status"))
        s.status = r.octet();
    return finish(r, s);
}

StatusGroup statusGroup(int status)
{
    switch (status >> 5) {
    case 0:
        return StatusGroup::Completed;
    case 1:
        return StatusGroup::TemporaryStillTrying;
    case 2:
        return StatusGroup::Permanent;
    case 3:
        return StatusGroup::TemporaryGaveUp;
    default:
        return StatusGroup::Reserved;
    }
}

QString statusText(int status)
{
    static const char* const Completed[] = {"Delivered", "Forwarded, delivery not confirmed", "Replaced"};
    static const char* const Temporary[] = {"congestion",
                                            "recipient busy",
                                            "no response from the recipient",
                                            "service rejected",
                                            "quality of service not available",
                                            "error in the recipient's phone"};
    static const char* const Permanent[] = {"remote procedure error",
                                            "incompatible destination",
                                            "connection rejected by the recipient",
                                            "not obtainable",
                                            "quality of service not available",
                                            "no interworking available",
                                            "validity period expired",
                                            "deleted by the sender",
                                            "deleted by the service centre",
                                            "message does not exist"};
    const int reason = status & 0x1F;
    const QString code = QStringLiteral("status 0x%1").arg(status, 2, 16, QLatin1Char('0'));
    const auto named = [&](const char* const* names, int count, const char* group) {
        const QString why = reason < count   ? QString::fromLatin1(names[reason])
                            : reason >= 0x10 ? QStringLiteral("service-centre specific ") + code
                                             : QStringLiteral("reserved ") + code;
        return QString::fromLatin1(group) + why;
    };
    switch (statusGroup(status)) {
    case StatusGroup::Completed:
        if (reason < 3)
            return QString::fromLatin1(Completed[reason]);
        return QStringLiteral("Completed (%1%2)")
            .arg(reason >= 0x10 ? QStringLiteral("service-centre specific ") : QStringLiteral("reserved "), code);
    case StatusGroup::TemporaryStillTrying:
        return named(Temporary, 6, "Temporary error, still trying: ");
    case StatusGroup::Permanent:
        return named(Permanent, 10, "Permanent error: ");
    case StatusGroup::TemporaryGaveUp:
        return named(Temporary, 6, "Temporary error, no longer trying: ");
    case StatusGroup::Reserved:
        break;
    }
    return QStringLiteral("Unknown (reserved %1)").arg(code);
}

int relativeValidity(int minutes)
{
    // In 64 bits: a period near the int limit must not overflow on its way to the longest the field holds.
    const auto up = [](qint64 value, qint64 unit) { return int(std::min<qint64>((value + unit - 1) / unit, 255)); };
    if (minutes <= 12 * 60)
        return std::max(0, up(minutes, 5) - 1);
    if (minutes <= 24 * 60)
        return 143 + up(minutes - 12 * 60, 30);
    if (minutes <= 30 * 24 * 60)
        return 166 + up(minutes, 24 * 60);
    return std::min(255, 192 + up(minutes, 7 * 24 * 60));
}

int validityMinutes(int vp)
{
    vp &= 0xFF;
    if (vp <= 143)
        return (vp + 1) * 5;
    if (vp <= 167)
        return 12 * 60 + (vp - 143) * 30;
    if (vp <= 196)
        return (vp - 166) * 24 * 60;
    return (vp - 192) * 7 * 24 * 60;
}

} // namespace Pdu
