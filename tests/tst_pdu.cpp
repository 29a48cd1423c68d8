// How texts become bytes. The modem character sets both ways, what they refuse, and how many parts a message
// takes in each mode. SMS PDUs: published examples decode to their documented fields and encode back byte for
// byte, long texts survive the round trip part by part, and malformed, cut or corrupted hex gives an error
// instead of a crash.
#include "common/Charset.h"
#include "modem/Pdu.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;
using Charset::Encoding;
using Charset::Mode;
using Charset::Set;
using Pdu::Alphabet;

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s, int offsetMinutes)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::OffsetFromUTC, offsetMinutes * 60);
}

// User data written the way TS 23.040 draws it, bit by bit: header octets, fill bits up to a septet boundary,
// then the septets from their least significant bit. Starts with TP-UDL.
QString gsmUserData(const QByteArray& header, const QByteArray& septets)
{
    QList<bool> bits;
    for (const char o : header)
        for (int b = 0; b < 8; ++b)
            bits.append(o >> b & 1);
    while (bits.size() % 7)
        bits.append(false);
    for (const char s : septets)
        for (int b = 0; b < 7; ++b)
            bits.append(s >> b & 1);
    QByteArray ud(1, char(bits.size() / 7));
    for (qsizetype i = 0; i < bits.size(); i += 8) {
        int o = 0;
        for (qsizetype b = 0; b < 8 && i + b < bits.size(); ++b)
            o |= bits[i + b] << b;
        ud.append(char(o));
    }
    return QString::fromLatin1(ud.toHex().toUpper());
}

// Every field of these PDUs is needed, so every shorter cut must be refused; corrupted octets either decode or
// say why, and none may crash or read past the end.
void expectCutsAndCorruptionRefused(const QString& hex)
{
    for (qsizetype cut = 0; cut < hex.size(); cut += 2) {
        const QString part = hex.left(cut);
        QVERIFY2(!Pdu::decodeDeliver(part).ok() && !Pdu::decodeSubmit(part).ok() && !Pdu::decodeStatusReport(part).ok(),
                 qPrintable(part));
    }
    QRandomGenerator random(qHash(hex));
    for (int round = 0; round < 500; ++round) {
        QString bad = hex;
        for (int k = 0; k < 3; ++k)
            bad.replace(random.bounded(int(bad.size() / 2)) * 2, 2,
                        u"%1"_s.arg(random.bounded(256), 2, 16, QLatin1Char('0')));
        const Pdu::Deliver d = Pdu::decodeDeliver(bad);
        const Pdu::Submit s = Pdu::decodeSubmit(bad);
        QVERIFY(d.text.size() <= 160 && s.text.size() <= 160);
        QVERIFY(!d.ok() || !s.ok() || !Pdu::decodeStatusReport(bad).ok());
    }
}

// The Python library suite's concatenation example, typos and all; its three SUBMIT parts are in tests/data/pdu.
const QString Lorem =
    u"Lorem ipsum dolor sit amet, consectetur adipisicing elit, sed do eiusmod tempor incididunt ut labore et "
    "dolore magna aliqua.Ut enim ad minim veniam, quinostrud exercitation ullamco laboris nisi ut aliquip ex ea "
    "commodo consequat.Duis aute irure dolor in reprehenderit in voluptate velit esse cillum doloe eu fugiat nulla "
    "pariatur.Excepteur sint occaecat cupidatat non proident, sunt in culpa qui officia deserunt mollit anim id est "
    "laborum"_s;

} // namespace

class PduTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void names();
    void bothWays_data();
    void bothWays();
    void unencodable_data();
    void unencodable();
    void decoding_data();
    void decoding();
    void counting_data();
    void counting();
    void deliver_data();
    void deliver();
    void submit_data();
    void submit();
    void statusReport();
    void statusWords();
    void validity();
    void dataCoding();
    void roundTrip_data();
    void roundTrip();
    void refusedFields();
    void malformed_data();
    void malformed();
};

void PduTest::names()
{
    const struct {
        const char* name;
        std::optional<Set> set;
    } rows[] = {{"GSM", Set::Gsm},     {"gsm", Set::Gsm},       {"Ira", Set::Ira}, {"8859-1", Set::Latin1},
                {" ucs2 ", Set::Ucs2}, {"UTF-8", std::nullopt}, {"", std::nullopt}};
    for (const auto& r : rows) {
        QCOMPARE(Charset::fromName(QString::fromLatin1(r.name)), r.set);
        if (r.set)
            QCOMPARE(Charset::fromName(Charset::name(*r.set)), r.set);
    }
}

void PduTest::bothWays_data()
{
    QTest::addColumn<Set>("set");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("GSM: $ @ é _ in the basic table")
        << Set::Gsm << u"Price $5 @ café_1 ok"_s << QByteArray::fromHex("5072696365200235200020636166051131206f6b");
    QTest::newRow("GSM: ¡ ü CR LF ß Δ") << Set::Gsm << u"¡Hü\r\nßΔ"_s << QByteArray::fromHex("40487e0d0a1e10");
    QTest::newRow("GSM: the whole extension table escaped")
        << Set::Gsm << u"\f^{}\\[~]|€"_s << QByteArray::fromHex("1b0a1b141b281b291b2f1b3c1b3d1b3e1b401b65");
    QTest::newRow("IRA") << Set::Ira << u"Price $5 @ cafe_1 {ok}"_s << QByteArray("Price $5 @ cafe_1 {ok}");
    QTest::newRow("8859-1") << Set::Latin1 << u"Grüße, café ¿ÿ"_s
                            << QByteArray::fromHex("4772fcdf652c20636166e920bfff");
    QTest::newRow("UCS2 with an emoji as its surrogate pair")
        << Set::Ucs2 << u"Grüße ✓ 😀 €"_s << QByteArray("0047007200FC00DF0065002027130020D83DDE00002020AC");
}

void PduTest::bothWays()
{
    QFETCH(Set, set);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const Charset::Encoded encoded = Charset::encode(text, set);
    QVERIFY(encoded.ok());
    QCOMPARE(encoded.bytes, bytes);
    const Charset::Decoded decoded = Charset::decode(bytes, set);
    QCOMPARE(decoded.error, QString());
    QCOMPARE(decoded.text, text);
}

void PduTest::unencodable_data()
{
    QTest::addColumn<Set>("set");
    QTest::addColumn<bool>("allowExtension");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<qsizetype>>("positions");
    QTest::newRow("GSM: check mark and emoji") << Set::Gsm << true << u"Grüße ✓ 😀 €"_s << QList<qsizetype>{6, 8};
    QTest::newRow("GSM text entry: no escapes, no Ctrl-Z (Ξ)")
        << Set::Gsm << false << u"Price {5} € Ξ ok"_s << QList<qsizetype>{6, 8, 10, 12};
    QTest::newRow("GSM: only the capital C cedilla") << Set::Gsm << true << u"Ça ç"_s << QList<qsizetype>{3};
    QTest::newRow("GSM: Cyrillic") << Set::Gsm << true << u"Да"_s << QList<qsizetype>{0, 1};
    QTest::newRow("IRA: accents") << Set::Ira << true << u"café £"_s << QList<qsizetype>{3, 5};
    QTest::newRow("8859-1: euro and emoji") << Set::Latin1 << true << u"Grüße € 😀"_s << QList<qsizetype>{6, 8};
    QTest::newRow("UCS2 carries all") << Set::Ucs2 << true << u"€ 😀 Да"_s << QList<qsizetype>{};
}

void PduTest::unencodable()
{
    QFETCH(Set, set);
    QFETCH(bool, allowExtension);
    QFETCH(QString, text);
    QFETCH(QList<qsizetype>, positions);
    const Charset::Encoded encoded = Charset::encode(text, set, allowExtension);
    QCOMPARE(encoded.unencodable, positions);
    QCOMPARE(Charset::canEncode(text, set, allowExtension), positions.isEmpty());
    if (!positions.isEmpty())
        QVERIFY(encoded.bytes.isEmpty());
}

void PduTest::decoding_data()
{
    QTest::addColumn<Set>("set");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("errorAt"); // -1: decodes cleanly
    QTest::newRow("GSM: escape before a code the extension lacks gives the basic character")
        << Set::Gsm << QByteArray::fromHex("1b411b05") << u"Aé"_s << -1;
    QTest::newRow("GSM: escape escape shows a space") << Set::Gsm << QByteArray::fromHex("411b1b42") << u"A B"_s << -1;
    QTest::newRow("GSM: lone escape at the end") << Set::Gsm << QByteArray::fromHex("41421b") << u"AB"_s << 2;
    QTest::newRow("GSM: eighth bit set") << Set::Gsm << QByteArray::fromHex("4180") << u"A"_s << 1;
    QTest::newRow("IRA: eighth bit set") << Set::Ira << QByteArray::fromHex("4142e9") << u"AB"_s << 2;
    QTest::newRow("UCS2: lower-case hex") << Set::Ucs2 << QByteArray("00e9006cd83dde00") << u"él😀"_s << -1;
    QTest::newRow("UCS2: odd length") << Set::Ucs2 << QByteArray("004100420") << u"AB"_s << 8;
    QTest::newRow("UCS2: half a unit") << Set::Ucs2 << QByteArray("004100") << u"A"_s << 4;
    QTest::newRow("UCS2: not hex") << Set::Ucs2 << QByteArray("00410G42") << u"A"_s << 5;
}

void PduTest::decoding()
{
    QFETCH(Set, set);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, errorAt);
    const Charset::Decoded d = Charset::decode(bytes, set);
    QCOMPARE(d.text, text);
    QCOMPARE(d.errorAt, errorAt);
    QCOMPARE(d.ok(), errorAt < 0);
}

void PduTest::counting_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<int>("units");
    QTest::addColumn<QList<int>>("partSizes"); // UTF-16 units of each part split() gives
    QTest::addColumn<int>("perPart");
    const QString a159(159, u'a');
    const QString cyr70(70, u'й');
    QTest::newRow("empty: one empty message") << Mode::Pdu << QString() << Encoding::Gsm7 << 0 << QList<int>{0} << 160;
    QTest::newRow("text 160") << Mode::Text << a159 + u'b' << Encoding::Gsm7 << 160 << QList<int>{160} << 160;
    QTest::newRow("text 161: separate SMS of 160")
        << Mode::Text << a159 + u"bc"_s << Encoding::Gsm7 << 161 << QList<int>{160, 1} << 160;
    QTest::newRow("text 159 + euro: UCS2, 3 parts of 70")
        << Mode::Text << a159 + u'€' << Encoding::Ucs2 << 160 << QList<int>{70, 70, 20} << 70;
    QTest::newRow("PDU 159 + euro: escaped, 161 septets")
        << Mode::Pdu << a159 + u'€' << Encoding::Gsm7 << 161 << QList<int>{153, 7} << 153;
    QTest::newRow("PDU 160") << Mode::Pdu << a159 + u'b' << Encoding::Gsm7 << 160 << QList<int>{160} << 160;
    QTest::newRow("PDU 307: three parts")
        << Mode::Pdu << QString(307, u'x') << Encoding::Gsm7 << 307 << QList<int>{153, 153, 1} << 153;
    QTest::newRow("PDU escape pair never cut") << Mode::Pdu << QString(152, u'a') + u"€"_s + QString(10, u'a')
                                               << Encoding::Gsm7 << 164 << QList<int>{152, 11} << 153;
    QTest::newRow("70 Unicode") << Mode::Pdu << cyr70 << Encoding::Ucs2 << 70 << QList<int>{70} << 70;
    QTest::newRow("PDU 71 Unicode") << Mode::Pdu << cyr70 + u'й' << Encoding::Ucs2 << 71 << QList<int>{67, 4} << 67;
    QTest::newRow("text 71 Unicode") << Mode::Text << cyr70 + u'й' << Encoding::Ucs2 << 71 << QList<int>{70, 1} << 70;
    QTest::newRow("PDU 135 Unicode: three parts")
        << Mode::Pdu << QString(135, u'ж') << Encoding::Ucs2 << 135 << QList<int>{67, 67, 1} << 67;
    QTest::newRow("PDU surrogate pair never cut") << Mode::Pdu << QString(66, u'й') + u"😀"_s + QString(5, u'й')
                                                  << Encoding::Ucs2 << 73 << QList<int>{66, 7} << 67;
    QTest::newRow("text mode: Ξ is Ctrl-Z, so UCS2")
        << Mode::Text << u"ΞΔ"_s << Encoding::Ucs2 << 2 << QList<int>{2} << 70;
}

void PduTest::counting()
{
    QFETCH(Mode, mode);
    QFETCH(QString, text);
    QFETCH(Encoding, encoding);
    QFETCH(int, units);
    QFETCH(QList<int>, partSizes);
    QFETCH(int, perPart);
    const Charset::Count c = Charset::count(text, mode);
    QCOMPARE(c.encoding, encoding);
    QCOMPARE(c.units, units);
    QCOMPARE(c.parts, partSizes.size());
    QCOMPARE(c.perPart, perPart);
    const QStringList parts = Charset::split(text, mode);
    QList<int> sizes;
    for (const QString& p : parts)
        sizes.append(int(p.size()));
    QCOMPARE(sizes, partSizes);
    QCOMPARE(parts.join(QString()), text);
}

void PduTest::deliver_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("smsc");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<int>("senderType");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("concatenation"); // reference, total, sequence
    QTest::addColumn<bool>("reencodes");           // encodeDeliver gives the same hex back
    const auto row = [](const char* name, const QString& hex, const char* smsc, const QString& sender, int type,
                        const QDateTime& time, const QString& text, const QList<int>& concatenation, bool reencodes) {
        QTest::newRow(name) << hex << smsc << sender << type << time << text << concatenation << reencodes;
    };
    // The classic "hellohello" of the widely copied PDU-mode tutorial (sender type 0xC8: national subscriber).
    row("tutorial hellohello", u"07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"_s,
        "+27381000015", u"27838890001"_s, 0xC8, at(1999, 3, 29, 15, 16, 59, 120), u"hellohello"_s, {}, false);
    // The next three are worked DELIVER examples of a public Python modem library's test suite.
    row("Test2, UTC+2", u"06917228195339040B917228214365F700003130805120618005D4F29C2E03"_s, "+2782913593",
        u"+27821234567"_s, 0x91, at(2013, 3, 8, 15, 2, 16, 120), u"Test2"_s, {}, true);
    row("escapes and é", u"06917228195339040B917228214365F70000313062315352800A800D8A5E98D337A910"_s, "+2782913593",
        u"+27821234567"_s, 0x91, at(2013, 3, 26, 13, 35, 25, 120), u"@{tést}!"_s, {}, true);
    row("operator notice, one-part concatenation, national sender",
        u"0591721891F1400781721881F800003160526104848059050003C30101916536FB1DCABEEB2074D85E064941B19CAB060319A5C5"
        u"22289C96D3D3ED32286C0FA7D96131BBEC024941B19CAB0603DDD36C36A88C87A7E565D0DB0D82C55EB0DB4B068BCD5C20"_s,
        "+2781191", u"2781188"_s, 0x81, at(2013, 6, 25, 16, 40, 48, 120),
        u"Hello!You have R 19.50 FREE airtime available. R 19.50 will expire on 01/07/2013. "_s, {0xC3, 1, 1}, false);
    // Alphanumeric senders: the address fields and time stamps are the same suite's published encodings.
    row("alphanumeric FRANCOIS, UTC-8", u"00040ED04669D0397C26A700007040213252242B0AE8329BFD4697D9EC37"_s, "",
        u"FRANCOIS"_s, 0xD0, at(2007, 4, 12, 23, 25, 42, -480), u"hellohello"_s, {}, true);
    row("alphanumeric with escapes", u"000414D0E10D6FE3DBA036A94D1900005111720000008005D4F29C2E03"_s, "", u"a[]{}€"_s,
        0xD0, at(2015, 11, 27, 0, 0, 0, 120), u"Test2"_s, {}, true);
    // Headers built here bit by bit: port addressing (IEI 05) before the concatenation element leaves two fill
    // bits; the 16-bit reference form (IEI 08) leaves none.
    const QString head = u"00400C91198988181212000062216080001022"_s;
    row("port addressing and concatenation, fill bits",
        head + gsmUserData(QByteArray::fromHex("0B05040B8423F000032A0201"), "Meet at 5"), "", u"+919888812121"_s, 0x91,
        at(2026, 12, 6, 8, 0, 1, 330), u"Meet at 5"_s, {0x2A, 2, 1}, false);
    row("16-bit concatenation reference", head + gsmUserData(QByteArray::fromHex("06080401800302"), "part two"), "",
        u"+919888812121"_s, 0x91, at(2026, 12, 6, 8, 0, 1, 330), u"part two"_s, {384, 3, 2}, false);
}

void PduTest::deliver()
{
    QFETCH(QString, hex);
    QFETCH(QString, smsc);
    QFETCH(QString, sender);
    QFETCH(int, senderType);
    QFETCH(QDateTime, time);
    QFETCH(QString, text);
    QFETCH(QList<int>, concatenation);
    QFETCH(bool, reencodes);
    QCOMPARE(Pdu::typeOf(hex), Pdu::Type::Deliver);
    expectCutsAndCorruptionRefused(hex);
    const Pdu::Deliver d = Pdu::decodeDeliver(hex);
    QCOMPARE(d.error, QString());
    QCOMPARE(d.smsc, smsc);
    QCOMPARE(d.sender, sender);
    QCOMPARE(d.senderType, senderType);
    QCOMPARE(d.serviceCentreTime, time);
    QCOMPARE(d.serviceCentreTime.offsetFromUtc(), time.offsetFromUtc());
    QCOMPARE(d.text, text);
    const Pdu::Concatenation& c = d.concatenation;
    const QList<int> got = c.isPart() ? QList<int>{c.reference, c.total, c.sequence} : QList<int>{};
    QCOMPARE(got, concatenation);
    if (reencodes) {
        const Pdu::EncodeResult again = Pdu::encodeDeliver(sender, text, {smsc, time, false, 0, {}});
        QCOMPARE(again.error, QString());
        QCOMPARE(again.parts.value(0).hex, hex);
    }
}

void PduTest::submit_data()
{
    QTest::addColumn<QStringList>("pdus");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Alphabet>("alphabet");
    QTest::addColumn<int>("validityMinutes"); // -1: no relative validity period
    QTest::addColumn<QDateTime>("validUntil");
    QTest::addColumn<bool>("statusReport");
    QTest::addColumn<bool>("rejectDuplicates");
    QTest::addColumn<bool>("reencodes"); // encodeSubmit gives the same hex back
    QFile lorem(QStringLiteral(BROADTEXT_TEST_DATA "/pdu/submit-lorem-ipsum-3-parts.txt"));
    QVERIFY(lorem.open(QIODevice::ReadOnly));
    const auto row = [](const char* name, const QStringList& pdus, const char* destination, const QString& text,
                        Alphabet alphabet, int validity, const QDateTime& until, bool report, bool reject,
                        bool reencodes) {
        QTest::newRow(name) << pdus << QString::fromLatin1(destination) << text << alphabet << validity << until
                            << report << reject << reencodes;
    };
    const int day = 24 * 60;
    // The tutorial's SUBMIT, valid for four days.
    row("tutorial hellohello", {u"0011000B916407281553F80000AA0AE8329BFD4697D9EC37"_s}, "+46708251358", u"hellohello"_s,
        Alphabet::Gsm7, 4 * day, {}, false, false, true);
    // The rest are the Python library suite's SUBMIT examples; where it gave a service centre, ours is "00".
    row("no validity", {u"0001000B917228001011F100000CC8329BFD065DDF72363904"_s}, "+27820001111", u"Hello World!"_s,
        Alphabet::Gsm7, -1, {}, false, false, true);
    row("UCS2, 52 weeks", {u"001100099121436587F90008F40A4E16754C60A8597DFF01"_s}, "+123456789", u"世界您好！"_s,
        Alphabet::Ucs2, 52 * 7 * day, {}, false, false, true);
    row("three joined parts, reference 0, duplicates rejected",
        QString::fromLatin1(lorem.readAll()).split(u'\n', Qt::SkipEmptyParts), "+15125551234", Lorem, Alphabet::Gsm7,
        -1, {}, false, true, true);
    row("status report asked, 3 days", {u"07911326040000F0310D0B911326880736F40000A90FF7FBDD454E87CDE1B0DB357EB701"_s},
        "+31628870634", u"www.diafaan.com"_s, Alphabet::Gsm7, 3 * day, {}, true, false, false);
    row("national numbers (type 0xA1)",
        {u"04A12143F5310D0AA110624521430000A91BD4F29C0E6A97E7F3F0B9AC03B1DFE3301BE4AEB7C565F91C"_s}, "0126541234",
        u"Test message: local numbers"_s, Alphabet::Gsm7, 3 * day, {}, true, false, false);
    row("8-bit data", {u"0591721891F101000B917228214365F700040C48656C6C6F20776F726C6421"_s}, "+27821234567",
        u"Hello world!"_s, Alphabet::EightBit, -1, {}, false, false, false);
    row("absolute validity",
        {u"0019000B917228001011F100003170013193008017D474BB3CA787DB70903DCC4E93D3F43C885E9ED301"_s}, "+27820001111",
        u"Timestamp validity test"_s, Alphabet::Gsm7, -1, at(2013, 7, 10, 13, 39, 0, 120), false, false, false);
}

void PduTest::submit()
{
    QFETCH(QStringList, pdus);
    QFETCH(QString, destination);
    QFETCH(QString, text);
    QFETCH(Alphabet, alphabet);
    QFETCH(int, validityMinutes);
    QFETCH(QDateTime, validUntil);
    QFETCH(bool, statusReport);
    QFETCH(bool, rejectDuplicates);
    QFETCH(bool, reencodes);
    QString joined;
    for (qsizetype k = 0; k < pdus.size(); ++k) {
        QCOMPARE(Pdu::typeOf(pdus[k]), Pdu::Type::Submit);
        const Pdu::Submit s = Pdu::decodeSubmit(pdus[k]);
        QCOMPARE(s.error, QString());
        QCOMPARE(s.destination, destination);
        QCOMPARE(s.coding.alphabet, alphabet);
        QCOMPARE(s.validityMinutes.value_or(-1), validityMinutes);
        QCOMPARE(s.validUntil, validUntil);
        QCOMPARE(s.statusReport, statusReport);
        QCOMPARE(s.rejectDuplicates, rejectDuplicates);
        QCOMPARE(s.concatenation.sequence, pdus.size() > 1 ? k + 1 : 0);
        joined += s.text;
        expectCutsAndCorruptionRefused(pdus[k]);
    }
    QCOMPARE(joined, text);
    if (!reencodes)
        return;
    Pdu::SubmitOptions options;
    if (validityMinutes >= 0)
        options.validityMinutes = validityMinutes;
    options.rejectDuplicates = rejectDuplicates;
    const Pdu::EncodeResult r = Pdu::encodeSubmit(destination, text, options);
    QCOMPARE(r.error, QString());
    QStringList again;
    for (const Pdu::Encoded& e : r.parts) {
        again.append(e.hex);
        QCOMPARE(e.tpduLength, e.hex.size() / 2 - 1);
    }
    QCOMPARE(again, pdus);
}

void PduTest::statusReport()
{
    // The Python library suite's status report: delivered, stamped in UTC+1.
    const QString hex = u"0006D60B911326880736F4111011719551401110117195714000"_s;
    QCOMPARE(Pdu::typeOf(hex), Pdu::Type::StatusReport);
    expectCutsAndCorruptionRefused(hex);
    const Pdu::StatusReport r = Pdu::decodeStatusReport(hex);
    QCOMPARE(r.error, QString());
    QCOMPARE(r.messageReference, 214);
    QCOMPARE(r.recipient, u"+31628870634"_s);
    QCOMPARE(r.serviceCentreTime, at(2011, 1, 11, 17, 59, 15, 60));
    QCOMPARE(r.dischargeTime, at(2011, 1, 11, 17, 59, 17, 60));
    QCOMPARE(r.dischargeTime.offsetFromUtc(), 3600);
    QCOMPARE(Pdu::statusText(r.status), u"Delivered"_s);
    const Pdu::EncodedReport again = Pdu::encodeStatusReport(
        {QString(), r.messageReference, r.recipient, r.serviceCentreTime, r.dischargeTime, r.status});
    QCOMPARE(again.error, QString());
    QCOMPARE(again.pdu.hex, hex);
    QCOMPARE(again.pdu.tpduLength, 25);
}

void PduTest::statusWords()
{
    const struct {
        int status;
        const char* text;
        Pdu::StatusGroup group;
    } rows[] = {
        {0x00, "Delivered", Pdu::StatusGroup::Completed},
        {0x01, "Forwarded, delivery not confirmed", Pdu::StatusGroup::Completed},
        {0x02, "Replaced", Pdu::StatusGroup::Completed},
        {0x21, "Temporary error, still trying: recipient busy", Pdu::StatusGroup::TemporaryStillTrying},
        {0x30, "Temporary error, still trying: service-centre specific status 0x30",
         Pdu::StatusGroup::TemporaryStillTrying},
        {0x46, "Permanent error: validity period expired", Pdu::StatusGroup::Permanent},
        {0x4A, "Permanent error: reserved status 0x4a", Pdu::StatusGroup::Permanent},
        {0x62, "Temporary error, no longer trying: no response from the recipient", Pdu::StatusGroup::TemporaryGaveUp},
        {0x85, "Unknown (reserved status 0x85)", Pdu::StatusGroup::Reserved},
    };
    for (const auto& r : rows) {
        QCOMPARE(Pdu::statusText(r.status), QString::fromLatin1(r.text));
        QCOMPARE(Pdu::statusGroup(r.status), r.group);
    }
}

void PduTest::validity()
{
    // Minutes asked for, TP-VP, and the minutes that TP-VP stands for (rounded up, at most 63 weeks).
    const int rows[][3] = {{5, 0, 5},
                           {7, 1, 10},
                           {720, 143, 720},
                           {730, 144, 750},
                           {1440, 167, 1440},
                           {1441, 168, 2880},
                           {5760, 170, 5760},
                           {43200, 196, 43200},
                           {44640, 197, 50400},
                           {635040, 255, 635040},
                           {10000000, 255, 635040},
                           {2147483647, 255, 635040}}; // the largest an int holds: no overflow on the way
    for (const auto& r : rows) {
        QCOMPARE(Pdu::relativeValidity(r[0]), r[1]);
        QCOMPARE(Pdu::validityMinutes(r[1]), r[2]);
    }
}

void PduTest::dataCoding()
{
    const struct {
        int dcs;
        Alphabet alphabet;
        int messageClass;
        bool compressed;
    } rows[] = {
        // General groups (with class, compression, automatic deletion), a reserved group, message waiting
        // (discard, store, store UCS2) and the class group.
        {0x00, Alphabet::Gsm7, -1, false}, {0x04, Alphabet::EightBit, -1, false}, {0x08, Alphabet::Ucs2, -1, false},
        {0x0C, Alphabet::Gsm7, -1, false}, {0x10, Alphabet::Gsm7, 0, false},      {0x19, Alphabet::Ucs2, 1, false},
        {0x28, Alphabet::Ucs2, -1, true},  {0x48, Alphabet::Ucs2, -1, false},     {0x84, Alphabet::Gsm7, -1, false},
        {0xC8, Alphabet::Gsm7, -1, false}, {0xD8, Alphabet::Gsm7, -1, false},     {0xE8, Alphabet::Ucs2, -1, false},
        {0xF1, Alphabet::Gsm7, 1, false},  {0xF6, Alphabet::EightBit, 2, false},
    };
    for (const auto& r : rows) {
        const Pdu::DataCoding c = Pdu::interpretDataCoding(r.dcs);
        QVERIFY2(c.alphabet == r.alphabet && c.messageClass == r.messageClass && c.compressed == r.compressed,
                 qPrintable(u"DCS 0x%1"_s.arg(r.dcs, 2, 16, QLatin1Char('0'))));
    }
}

void PduTest::roundTrip_data()
{
    QTest::addColumn<QStringList>("pool");
    QTest::addColumn<std::optional<Alphabet>>("alphabet");
    QTest::addColumn<Alphabet>("expected");
    const QStringList gsm = u"a b c x y z 0 1 9 . , ? @ £ $ ¥ è é _ Δ Φ Ä ß \n { } [ ] ~ | € ^ \\"_s.split(u' ')
                            << u" "_s;
    QTest::newRow("GSM with extension") << gsm << std::optional<Alphabet>{} << Alphabet::Gsm7;
    QTest::newRow("mixed scripts") << gsm + u"Д ж 中 文 ع ש ç"_s.split(u' ') << std::optional<Alphabet>{}
                                   << Alphabet::Ucs2;
    QTest::newRow("emoji") << gsm + u"😀 👍🏽 ✓ 🇮🇳"_s.split(u' ') << std::optional<Alphabet>{}
                           << Alphabet::Ucs2;
    QTest::newRow("8-bit") << u"a Z 0 ÿ é \x01 \t"_s.split(u' ') << std::optional<Alphabet>{Alphabet::EightBit}
                           << Alphabet::EightBit;
}

void PduTest::roundTrip()
{
    QFETCH(QStringList, pool);
    QFETCH(std::optional<Alphabet>, alphabet);
    QFETCH(Alphabet, expected);
    QRandomGenerator random(qHash(QString::fromLatin1(QTest::currentDataTag())));
    const bool gsm = expected == Alphabet::Gsm7;
    const int single = gsm ? 160 : expected == Alphabet::Ucs2 ? 70 : 140;
    const int joined = gsm ? 153 : expected == Alphabet::Ucs2 ? 67 : 134;
    const auto partsOf = [&](const QString& t) {
        return alphabet ? std::max<int>(1, t.size() <= 140 ? 1 : int((t.size() + 133) / 134))
                        : Charset::count(t, Charset::Mode::Pdu).parts;
    };
    const QDateTime time = at(2026, 12, 6, 8, 15, 2, -210);
    for (int n = 1; n <= 10; ++n) {
        // The last entry of a pool decides the alphabet, so every text starts with it.
        QString text = pool.last();
        // Grow the text past the previous part count, then stop anywhere before the next one.
        while (true) {
            const QString longer = text + pool.at(random.bounded(int(pool.size())));
            if (partsOf(longer) > n || (partsOf(text) == n && text.size() > 1 && random.bounded(40) == 0))
                break;
            text = longer;
        }
        const int reference = random.bounded(256);
        Pdu::SubmitOptions submit;
        submit.alphabet = alphabet;
        submit.concatenationReference = reference;
        const Pdu::EncodeResult sent = Pdu::encodeSubmit(u"+919888812121"_s, text, submit);
        const Pdu::EncodeResult delivered =
            Pdu::encodeDeliver(u"Broadtext"_s, text, {u"+919800000000"_s, time, false, reference, alphabet});
        QCOMPARE(sent.error, QString());
        QCOMPARE(delivered.error, QString());
        QCOMPARE(sent.parts.size(), n);
        QCOMPARE(delivered.parts.size(), n);
        QString viaSubmit, viaDeliver;
        for (int k = 0; k < n; ++k) {
            const Pdu::Submit s = Pdu::decodeSubmit(sent.parts[k].hex);
            const Pdu::Deliver d = Pdu::decodeDeliver(delivered.parts[k].hex);
            QCOMPARE(s.error, QString());
            QCOMPARE(d.error, QString());
            QCOMPARE(s.tpduLength, sent.parts[k].tpduLength);
            QCOMPARE(s.coding.alphabet, expected);
            QCOMPARE(d.sender, u"Broadtext"_s);
            QCOMPARE(d.serviceCentreTime.offsetFromUtc(), -210 * 60);
            const int units = gsm                          ? int(s.data.size())
                              : expected == Alphabet::Ucs2 ? int(s.data.size() / 2)
                                                           : int(s.data.size());
            QVERIFY2(units <= (n > 1 ? joined : single), qPrintable(u"part of %1 units"_s.arg(units)));
            for (const Pdu::Concatenation& c : {s.concatenation, d.concatenation})
                QCOMPARE(QList<int>({c.reference, c.total, c.sequence}),
                         n > 1 ? QList<int>({reference, n, k + 1}) : QList<int>({0, 0, 0}));
            viaSubmit += s.text;
            viaDeliver += d.text;
        }
        QCOMPARE(viaSubmit, text);
        QCOMPARE(viaDeliver, text);
    }
}

void PduTest::refusedFields()
{
    const auto submit = [](const QString& to, const QString& text, std::optional<Alphabet> a = {}) {
        Pdu::SubmitOptions o;
        o.alphabet = a;
        return Pdu::encodeSubmit(to, text, o).error;
    };
    const auto deliver = [](const QString& from, const QDateTime& t) {
        return Pdu::encodeDeliver(from, u"x"_s, {QString(), t, false, 0, {}}).error;
    };
    const QString phone = u"+447700900123"_s;
    const QDateTime now = at(2026, 12, 6, 8, 0, 0, 0);
    const std::pair<QString, const char*> rows[] = {
        {submit(u"Mum"_s, u"x"_s), "The destination \"Mum\" is not a phone number"},
        {submit(u"+123456789012345678901"_s, u"x"_s),
         "The destination \"+123456789012345678901\" has more than 20 digits"},
        {submit(phone, u"ok ✓"_s, Alphabet::Gsm7), "The GSM alphabet has no \"✓\" (character 4 of the text)"},
        {submit(phone, u"5 €"_s, Alphabet::EightBit),
         "8-bit data holds only characters up to U+00FF (character 3 is not one)"},
        {deliver(u"BroadtextLtd"_s, now),
         "The sender \"BroadtextLtd\" is neither a phone number nor a name of up to 11 GSM characters"},
        {deliver(phone, at(2090, 1, 1, 0, 0, 0, 0)),
         "The service-centre time stamp must be a valid time between 1990 and 2089"},
    };
    for (const auto& [error, expected] : rows)
        QCOMPARE(error, QString::fromUtf8(expected));
}

void PduTest::malformed_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("error");
    const QString oa = u"040B917228214365F7000031308051206180"_s; // a DELIVER up to TP-UDL, after SMSC "00"
    const auto row = [](const char* name, const QString& hex, const char* error) {
        QTest::newRow(name) << hex << error;
    };
    row("empty", u""_s, "The PDU ends inside the service-centre address");
    row("odd", u"0"_s, "The PDU has an odd number of hex digits");
    row("not hex", u"00x4"_s, "The PDU holds a character that is not a hex digit at position 3");
    row("SMSC too long", "0C" + QString(24, u'1'),
        "The service-centre address is 12 octets long, more than an address can be");
    row("a SUBMIT", u"0001000B917228001011F100000CC8329BFD065DDF72363904"_s, "The PDU is not an SMS-DELIVER");
    row("sender of 21 digits", "000415917228214365F7" + QString(10, u'1'),
        "The originating address claims 21 digits, more than an address can hold");
    row("not BCD", u"00040B917228214365F70000313080512A618005D4F29C2E03"_s,
        "The service-centre time stamp is not a valid date and time");
    row("161 septets", "00" + oa + "A1" + QString(282, u'0'),
        "The user data length 161 is more than a message can hold");
    row("header past the data", u"00440B917228214365F7000031308051206180050900030101"_s,
        "The user data header is longer than the user data");
    row("element past the header", u"00440B917228214365F7000031308051206180070400040101414141"_s,
        "An element of the user data header runs past the header");
    row("UCS2 odd octets", u"00040B917228214365F700083130805120618003004100"_s,
        "The UCS2 text has an odd number of octets");
    row("lone escape in the text", u"00040B917228214365F700003130805120618002C10D"_s,
        "The message text is not sound: The text ends with an escape that has no character after it");
}

void PduTest::malformed()
{
    QFETCH(QString, hex);
    QFETCH(QString, error);
    QCOMPARE(Pdu::decodeDeliver(hex).error, error);
}

QTEST_APPLESS_MAIN(PduTest)
#include "tst_pdu.moc"
