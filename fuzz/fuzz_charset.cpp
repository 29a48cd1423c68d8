// Feeds arbitrary bytes and texts to common/Charset for every character set and checks the codecs against each
// other: a text that canEncode accepts comes back unchanged from decode(encode(text)), decoded bytes encode
// back to what they were, and count() and split() agree on parts, units and where a text is cut.
#include "common/Charset.h"
#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>

namespace {

using Charset::Set;
using fuzz::shown;

constexpr Set Sets[] = {Set::Gsm, Set::Ira, Set::Latin1, Set::Ucs2};

bool isHigh(QChar c)
{
    return c.unicode() >= 0xD800 && c.unicode() <= 0xDBFF;
}

bool isLow(QChar c)
{
    return c.unicode() >= 0xDC00 && c.unicode() <= 0xDFFF;
}

void checkBytes(QByteArrayView bytes)
{
    for (const Set set : Sets) {
        const Charset::Decoded d = Charset::decode(bytes, set);
        FUZZ_CHECK(d.ok() == (d.errorAt == -1));
        if (!d.ok()) {
            FUZZ_CHECK(d.errorAt >= 0 && d.errorAt <= bytes.size(), QString::number(d.errorAt));
            continue;
        }
        const Charset::Encoded again = Charset::encode(d.text, set, true);
        FUZZ_CHECK(again.ok(), Charset::name(set) + u' ' + shown(d.text));
        switch (set) {
        case Set::Gsm: {
            // An escape before a code the extension table lacks reads as the basic character, so the bytes
            // themselves need not come back; what they read as must.
            const Charset::Decoded twice = Charset::decode(again.bytes, set);
            FUZZ_CHECK(twice.ok() && twice.text == d.text, shown(d.text) + u' ' + shown(twice.text));
            break;
        }
        case Set::Ira:
        case Set::Latin1:
            FUZZ_CHECK(again.bytes == bytes);
            break;
        case Set::Ucs2:
            FUZZ_CHECK(again.bytes == bytes.toByteArray().toUpper());
            break;
        }
    }
}

void checkEncode(const QString& text)
{
    for (const Set set : Sets) {
        for (const bool extension : {true, false}) {
            const Charset::Encoded e = Charset::encode(text, set, extension);
            FUZZ_CHECK(Charset::canEncode(text, set, extension) == e.ok(), Charset::name(set) + u' ' + shown(text));
            if (!e.ok()) {
                FUZZ_CHECK(e.bytes.isEmpty());
                qsizetype previous = -1;
                for (const qsizetype at : e.unencodable) {
                    FUZZ_CHECK(at > previous && at < text.size());
                    FUZZ_CHECK(!isLow(text[at]) || at == 0 || !isHigh(text[at - 1]), QString::number(at));
                    previous = at;
                }
                continue;
            }
            const Charset::Decoded d = Charset::decode(e.bytes, set);
            FUZZ_CHECK(d.ok(), Charset::name(set) + u' ' + d.error);
            FUZZ_CHECK(d.text == text, Charset::name(set) + u' ' + shown(text) + u' ' + shown(d.text));
            if (set == Set::Gsm) {
                qsizetype septets = 0;
                for (const QChar c : text)
                    septets += Charset::gsmSeptets(c.unicode(), extension);
                FUZZ_CHECK(septets == e.bytes.size());
                FUZZ_CHECK(!extension || !e.bytes.contains('\x1A') || text.contains(u'Ξ'));
                if (!extension)
                    FUZZ_CHECK(!e.bytes.contains('\x1B') && !e.bytes.contains('\x1A'), shown(text));
            }
        }
    }
}

int units(QStringView part, Charset::Encoding encoding, bool extension)
{
    if (encoding == Charset::Encoding::Ucs2)
        return int(part.size());
    int n = 0;
    for (qsizetype i = 0; i < part.size(); ++i) {
        const bool pair = i + 1 < part.size() && isHigh(part[i]) && isLow(part[i + 1]);
        n += pair ? 2 : std::max(1, Charset::gsmSeptets(part[i].unicode(), extension));
        i += pair ? 1 : 0;
    }
    return n;
}

void checkParts(const QStringList& parts, const QString& text, Charset::Mode mode, Charset::Encoding encoding)
{
    const bool extension = mode == Charset::Mode::Pdu;
    FUZZ_CHECK(parts.join(QString()) == text);
    FUZZ_CHECK(!parts.isEmpty());
    const int capacity =
        parts.size() > 1 ? Charset::partCapacity(mode, encoding) : Charset::singleCapacity(mode, encoding);
    for (qsizetype k = 0; k < parts.size(); ++k) {
        FUZZ_CHECK(units(parts[k], encoding, extension) <= capacity, QStringLiteral("part %1 of %2 holds %3 units")
                                                                         .arg(k)
                                                                         .arg(parts.size())
                                                                         .arg(units(parts[k], encoding, extension)));
        if (k > 0) {
            FUZZ_CHECK(!parts[k].isEmpty());
            FUZZ_CHECK(!(isHigh(parts[k - 1].back()) && isLow(parts[k].front())), QString::number(k));
        }
    }
}

void checkCount(const QString& text)
{
    for (const Charset::Mode mode : {Charset::Mode::Text, Charset::Mode::Pdu}) {
        const bool extension = mode == Charset::Mode::Pdu;
        const Charset::Count c = Charset::count(text, mode);
        const QStringList parts = Charset::split(text, mode);
        FUZZ_CHECK(c.parts == parts.size(),
                   QStringLiteral("%1 parts counted, %2 split").arg(c.parts).arg(parts.size()));
        FUZZ_CHECK((c.encoding == Charset::Encoding::Gsm7) == Charset::canEncode(text, Set::Gsm, extension));
        FUZZ_CHECK(c.units == units(text, c.encoding, extension));
        if (c.encoding == Charset::Encoding::Gsm7)
            FUZZ_CHECK(c.units == Charset::encode(text, Set::Gsm, extension).bytes.size());
        FUZZ_CHECK((c.parts > 1) == (c.units > Charset::singleCapacity(mode, c.encoding)));
        FUZZ_CHECK(c.perPart ==
                   (c.parts > 1 ? Charset::partCapacity(mode, c.encoding) : Charset::singleCapacity(mode, c.encoding)));
        checkParts(parts, text, mode, c.encoding);
        for (const Charset::Encoding e : {Charset::Encoding::Gsm7, Charset::Encoding::Ucs2})
            checkParts(Charset::split(text, mode, e), text, mode, e);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    checkBytes(bytes);

    // Three readings of the input as text: Latin-1 (letters, digits and accents most messages hold), UTF-16
    // as it comes (emoji, lone surrogates), and GSM septets (every character of both GSM tables).
    QByteArray septets = bytes.toByteArray();
    for (char& b : septets)
        b = char(b & 0x7F);
    const QString texts[] = {QString::fromLatin1(bytes),
                             QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2)),
                             Charset::decode(septets, Set::Gsm).text};
    for (const QString& text : texts) {
        checkEncode(text);
        checkCount(text);
    }

    for (const QString& name : {QString::fromLatin1(bytes), QString::fromUtf8(bytes)})
        if (const auto set = Charset::fromName(name))
            FUZZ_CHECK(Charset::fromName(Charset::name(*set)) == set);
    return 0;
}
