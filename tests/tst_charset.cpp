// The modem character sets both ways, what they refuse, and how many parts a message takes in each mode.
#include "common/Charset.h"

#include <QtTest>

using Charset::Encoding;
using Charset::Mode;
using Charset::Set;
using namespace Qt::StringLiterals;

class CharsetTest : public QObject {
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
};

void CharsetTest::names()
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

void CharsetTest::bothWays_data()
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

void CharsetTest::bothWays()
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

void CharsetTest::unencodable_data()
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

void CharsetTest::unencodable()
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

void CharsetTest::decoding_data()
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

void CharsetTest::decoding()
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

void CharsetTest::counting_data()
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

void CharsetTest::counting()
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

QTEST_APPLESS_MAIN(CharsetTest)
#include "tst_charset.moc"
