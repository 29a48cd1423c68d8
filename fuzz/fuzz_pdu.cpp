// Feeds modem/Pdu arbitrary PDUs and messages. An input whose first octet is below 0xF0 is a PDU: its octets are
// written as hex and handed to typeOf and every decoder, and so is the input itself read as hex text. An input
// starting with 0xF0 or above chooses a message (kind, number, text, alphabet, options) that is encoded and
// decoded again, and every field must come back.
#include "common/Charset.h"
#include "fuzz/FuzzCheck.h"
#include "modem/Pdu.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

using fuzz::shown;

void checkUserData(const Pdu::Decoded& d, const Pdu::UserData& u)
{
    if (!d.ok())
        return;
    FUZZ_CHECK(d.tpduLength > 0);
    if (u.concatenation.isPart())
        FUZZ_CHECK(u.concatenation.sequence >= 1 && u.concatenation.sequence <= u.concatenation.total);
    if (u.coding.compressed)
        return;
    switch (u.coding.alphabet) {
    case Pdu::Alphabet::Gsm7:
        FUZZ_CHECK(u.data.size() <= 160 && u.text.size() <= u.data.size());
        break;
    case Pdu::Alphabet::EightBit:
        FUZZ_CHECK(u.data.size() <= 140 && u.text.size() == u.data.size());
        break;
    case Pdu::Alphabet::Ucs2:
        FUZZ_CHECK(u.data.size() <= 140 && u.text.size() * 2 == u.data.size());
        break;
    }
}

void decodeAll(QStringView hex)
{
    const Pdu::Type type = Pdu::typeOf(hex);
    const Pdu::Deliver deliver = Pdu::decodeDeliver(hex);
    const Pdu::Submit submit = Pdu::decodeSubmit(hex);
    const Pdu::StatusReport report = Pdu::decodeStatusReport(hex);
    checkUserData(deliver, deliver);
    checkUserData(submit, submit);
    // A sound PDU is of one kind only, and typeOf names that kind.
    FUZZ_CHECK(int(deliver.ok()) + int(submit.ok()) + int(report.ok()) <= 1);
    if (deliver.ok())
        FUZZ_CHECK(type == Pdu::Type::Deliver);
    if (submit.ok())
        FUZZ_CHECK(type == Pdu::Type::Submit);
    if (report.ok()) {
        FUZZ_CHECK(type == Pdu::Type::StatusReport);
        FUZZ_CHECK(report.status >= 0 && report.status <= 255 && !Pdu::statusText(report.status).isEmpty());
    }
    if (submit.ok() && submit.validityMinutes)
        FUZZ_CHECK(*submit.validityMinutes >= 5 && *submit.validityMinutes <= 63 * 7 * 24 * 60);
}

// A number as a user or a modem writes one: "+" and digits, with "*" and "#" now and then.
QString number(FuzzedDataProvider& in, int maxDigits)
{
    static constexpr char Keys[] = "0123456789*#";
    QString n = in.ConsumeBool() ? QStringLiteral("+") : QString();
    const int digits = in.ConsumeIntegralInRange(0, maxDigits);
    for (int i = 0; i < digits; ++i)
        n += QLatin1Char(Keys[in.ConsumeIntegralInRange<int>(0, in.ConsumeBool() ? 9 : 11)]);
    return n;
}

QString anyText(FuzzedDataProvider& in, size_t maxBytes)
{
    const std::string raw = in.ConsumeRandomLengthString(maxBytes);
    const QByteArray bytes(raw.data(), qsizetype(raw.size()));
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return QString::fromLatin1(bytes);
    case 1:
        return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    default: {
        QByteArray septets = bytes;
        for (char& b : septets)
            b = char(b & 0x7F);
        return Charset::decode(septets, Charset::Set::Gsm).text;
    }
    }
}

QDateTime timestamp(FuzzedDataProvider& in)
{
    const QDate date(in.ConsumeIntegralInRange(1985, 2095), in.ConsumeIntegralInRange(1, 12),
                     in.ConsumeIntegralInRange(1, 31));
    const QTime time(in.ConsumeIntegralInRange(0, 23), in.ConsumeIntegralInRange(0, 59),
                     in.ConsumeIntegralInRange(0, 59));
    const int quarters = in.ConsumeIntegralInRange(-96, 96);
    return QDateTime(date, time, Qt::OffsetFromUTC, quarters * 15 * 60);
}

bool sameTime(const QDateTime& a, const QDateTime& b)
{
    return a == b && a.offsetFromUtc() == b.offsetFromUtc();
}

std::optional<Pdu::Alphabet> alphabet(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
        return Pdu::Alphabet::Gsm7;
    case 2:
        return Pdu::Alphabet::EightBit;
    case 3:
        return Pdu::Alphabet::Ucs2;
    default:
        return std::nullopt;
    }
}

Pdu::Alphabet expectedAlphabet(const QString& text, std::optional<Pdu::Alphabet> wanted)
{
    if (wanted)
        return *wanted;
    return Charset::count(text, Charset::Mode::Pdu).encoding == Charset::Encoding::Gsm7 ? Pdu::Alphabet::Gsm7
                                                                                        : Pdu::Alphabet::Ucs2;
}

// What every part of an encoded message shares: the hex is sound, its length is the one given for AT+CMGS,
// and the parts carry one concatenation header with the right numbers.
void checkPart(const Pdu::Encoded& part, const Pdu::Decoded& d, const Pdu::UserData& u, int smscOctets, int k,
               int total, int reference, Pdu::Alphabet alphabet)
{
    FUZZ_CHECK(d.ok(), d.error + u' ' + part.hex);
    FUZZ_CHECK(part.hex.size() % 2 == 0 && part.hex.size() / 2 - smscOctets == part.tpduLength);
    FUZZ_CHECK(d.tpduLength == part.tpduLength);
    FUZZ_CHECK(part.tpduLength <= 176, QString::number(part.tpduLength));
    FUZZ_CHECK(u.coding.alphabet == alphabet);
    if (total > 1) {
        FUZZ_CHECK(u.concatenation.isPart() && u.concatenation.total == total && u.concatenation.sequence == k + 1 &&
                       u.concatenation.reference == (reference & 0xFF),
                   part.hex);
    } else {
        FUZZ_CHECK(!u.concatenation.isPart(), part.hex);
    }
}

void roundTripSubmit(FuzzedDataProvider& in)
{
    const QString destination = number(in, 22);
    Pdu::SubmitOptions options;
    if (in.ConsumeBool())
        options.validityMinutes = in.ConsumeIntegral<int>();
    options.statusReport = in.ConsumeBool();
    options.rejectDuplicates = in.ConsumeBool();
    options.concatenationReference = in.ConsumeIntegral<int>();
    options.alphabet = alphabet(in);
    const QString text = anyText(in, 2000);

    const Pdu::EncodeResult r = Pdu::encodeSubmit(destination, text, options);
    FUZZ_CHECK(r.ok() == !r.parts.isEmpty(), r.error);
    if (!r.ok())
        return;
    const Pdu::Alphabet alphabet = expectedAlphabet(text, options.alphabet);
    QString joined;
    for (qsizetype k = 0; k < r.parts.size(); ++k) {
        const Pdu::Encoded& part = r.parts[k];
        FUZZ_CHECK(Pdu::typeOf(part.hex) == Pdu::Type::Submit);
        const Pdu::Submit s = Pdu::decodeSubmit(part.hex);
        checkPart(part, s, s, 1, int(k), int(r.parts.size()), options.concatenationReference, alphabet);
        FUZZ_CHECK(s.smsc.isEmpty());
        FUZZ_CHECK(s.destination == destination, shown(destination) + u' ' + shown(s.destination));
        FUZZ_CHECK(s.destinationType == (destination.startsWith(u'+') ? 0x91 : 0x81));
        FUZZ_CHECK(s.statusReport == options.statusReport && s.rejectDuplicates == options.rejectDuplicates);
        FUZZ_CHECK(s.validityMinutes.has_value() == options.validityMinutes.has_value());
        if (options.validityMinutes) {
            const int wanted = *options.validityMinutes;
            FUZZ_CHECK(*s.validityMinutes == Pdu::validityMinutes(Pdu::relativeValidity(wanted)));
            // Rounded up to a period the field holds, as far as the field reaches.
            if (wanted <= 63 * 7 * 24 * 60)
                FUZZ_CHECK(*s.validityMinutes >= wanted,
                           QStringLiteral("%1 minutes became %2").arg(wanted).arg(*s.validityMinutes));
        }
        joined += s.text;
    }
    FUZZ_CHECK(joined == text, shown(text) + u' ' + shown(joined));
}

void roundTripDeliver(FuzzedDataProvider& in)
{
    QString sender;
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        sender = number(in, 22);
        break;
    case 1:
        sender = anyText(in, 24); // a name such as "Bank" or "VM-HDFCBK"
        break;
    default:
        sender = QString::fromLatin1(in.ConsumeRandomLengthString(12));
        break;
    }
    Pdu::DeliverOptions options;
    if (in.ConsumeBool())
        options.smsc = number(in, 22);
    options.serviceCentreTime = timestamp(in);
    options.statusReportIndication = in.ConsumeBool();
    options.concatenationReference = in.ConsumeIntegral<int>();
    options.alphabet = alphabet(in);
    const QString text = anyText(in, 2000);

    const Pdu::EncodeResult r = Pdu::encodeDeliver(sender, text, options);
    FUZZ_CHECK(r.ok() == !r.parts.isEmpty(), r.error);
    if (!r.ok())
        return;
    const int smscOctets =
        options.smsc.isEmpty() ? 1 : 2 + (int(options.smsc.size()) - options.smsc.startsWith(u'+') + 1) / 2;
    const Pdu::Alphabet alphabet = expectedAlphabet(text, options.alphabet);
    QString joined;
    for (qsizetype k = 0; k < r.parts.size(); ++k) {
        const Pdu::Encoded& part = r.parts[k];
        FUZZ_CHECK(Pdu::typeOf(part.hex) == Pdu::Type::Deliver);
        const Pdu::Deliver d = Pdu::decodeDeliver(part.hex);
        checkPart(part, d, d, smscOctets, int(k), int(r.parts.size()), options.concatenationReference, alphabet);
        FUZZ_CHECK(d.smsc == options.smsc, shown(options.smsc) + u' ' + shown(d.smsc));
        FUZZ_CHECK(d.sender == sender, shown(sender) + u' ' + shown(d.sender));
        FUZZ_CHECK(sameTime(d.serviceCentreTime, options.serviceCentreTime),
                   options.serviceCentreTime.toString(Qt::ISODate) + u' ' + d.serviceCentreTime.toString(Qt::ISODate));
        FUZZ_CHECK(d.statusReportIndication == options.statusReportIndication && !d.moreMessagesToSend);
        joined += d.text;
    }
    FUZZ_CHECK(joined == text, shown(text) + u' ' + shown(joined));
}

void roundTripStatusReport(FuzzedDataProvider& in)
{
    Pdu::StatusReportFields f;
    if (in.ConsumeBool())
        f.smsc = number(in, 22);
    f.reference = in.ConsumeIntegral<int>();
    f.recipient = number(in, 22);
    f.serviceCentreTime = timestamp(in);
    f.dischargeTime = timestamp(in);
    f.status = in.ConsumeIntegral<int>();

    const Pdu::EncodedReport r = Pdu::encodeStatusReport(f);
    FUZZ_CHECK(r.ok() == !r.pdu.hex.isEmpty(), r.error);
    if (!r.ok())
        return;
    FUZZ_CHECK(Pdu::typeOf(r.pdu.hex) == Pdu::Type::StatusReport);
    const Pdu::StatusReport s = Pdu::decodeStatusReport(r.pdu.hex);
    FUZZ_CHECK(s.ok(), s.error + u' ' + r.pdu.hex);
    FUZZ_CHECK(s.tpduLength == r.pdu.tpduLength);
    FUZZ_CHECK(s.smsc == f.smsc && s.recipient == f.recipient, shown(f.recipient) + u' ' + shown(s.recipient));
    FUZZ_CHECK(s.messageReference == (f.reference & 0xFF) && s.status == (f.status & 0xFF));
    FUZZ_CHECK(sameTime(s.serviceCentreTime, f.serviceCentreTime) && sameTime(s.dischargeTime, f.dischargeTime));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0 && data[0] >= 0xF0) {
        FuzzedDataProvider in(data + 1, size - 1);
        switch (data[0] % 3) {
        case 0:
            roundTripSubmit(in);
            break;
        case 1:
            roundTripDeliver(in);
            break;
        default:
            roundTripStatusReport(in);
            break;
        }
        return 0;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    decodeAll(QString::fromLatin1(bytes.toHex()));
    decodeAll(QString::fromLatin1(bytes));
    return 0;
}
