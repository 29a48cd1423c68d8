// The simulator's own SMS codec against known answers: published PDU examples and PDUs worked out by hand from
// TS 23.038 and TS 23.040, never output of the program's codec. The simulator reads what the program sends
// with it, so a fault here would let a fault in the program pass unseen.
#include "tools/SimCodec.h"

#include <QtTest>

using SimCodec::Alphabet;
using SimCodec::Set;

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s, int offsetMinutes)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(offsetMinutes * 60));
}

} // namespace

Q_DECLARE_METATYPE(Set)
Q_DECLARE_METATYPE(Alphabet)

class SimCodecTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void septetsPack_data();
    void septetsPack();
    void charactersInEachSet_data();
    void charactersInEachSet();
    void bytesASetCannotHoldAreRefused_data();
    void bytesASetCannotHoldAreRefused();
    void submitsDecode_data();
    void submitsDecode();
    void unsoundSubmitsAreRefused_data();
    void unsoundSubmitsAreRefused();
    void deliversEncode_data();
    void deliversEncode();
    void publishedDeliverDecodes();
    void statusReportEncodes();
    void longTextsAreCutWithoutSplittingAPair_data();
    void longTextsAreCutWithoutSplittingAPair();
};

void SimCodecTest::septetsPack_data()
{
    QTest::addColumn<QByteArray>("septets");
    QTest::addColumn<int>("fillBits");
    QTest::addColumn<QByteArray>("packed");
    // The TS 23.038 example; an escape pair across an octet boundary; a septet after the one fill bit an 8-bit
    // concatenation header leaves, and with none (16-bit header).
    QTest::newRow("hellohello") << QByteArray("hellohello") << 0 << QByteArray::fromHex("E8329BFD4697D9EC37");
    QTest::newRow("escape pair") << QByteArray("\x61\x1B\x65") << 0 << QByteArray::fromHex("E14D19");
    QTest::newRow("one fill bit") << QByteArray("Hi") << 1 << QByteArray::fromHex("9069");
    QTest::newRow("no fill bits") << QByteArray("Hi") << 0 << QByteArray::fromHex("C834");
}

void SimCodecTest::septetsPack()
{
    QFETCH(QByteArray, septets);
    QFETCH(int, fillBits);
    QFETCH(QByteArray, packed);
    QCOMPARE(SimCodec::packSeptets(septets, fillBits), packed);
    QCOMPARE(SimCodec::unpackSeptets(packed, int(septets.size()), fillBits), septets);
}

void SimCodecTest::charactersInEachSet_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Set>("set");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("readBack");
    const QString mixed = QStringLiteral("Grüße €");
    QTest::newRow("gsm") << mixed << Set::Gsm
                         << QByteArray("Gr\x7E\x1E"
                                       "e \x1B\x65")
                         << mixed;
    QTest::newRow("gsm greek and controls") << QStringLiteral("ΔΞ@\n|") << Set::Gsm
                                            << QByteArray("\x10\x1A\x00\x0A\x1B\x40", 6) << QStringLiteral("ΔΞ@\n|");
    QTest::newRow("gsm lacks") << QStringLiteral("a✓😀") << Set::Gsm << QByteArray("a??") << QStringLiteral("a??");
    QTest::newRow("ira") << mixed << Set::Ira << QByteArray("Gr??e ?") << QStringLiteral("Gr??e ?");
    QTest::newRow("8859-1") << mixed << Set::Latin1
                            << QByteArray("Gr\xFC\xDF"
                                          "e ?")
                            << QStringLiteral("Grüße ?");
    QTest::newRow("ucs2") << QStringLiteral("ü€😀") << Set::Ucs2 << QByteArray("00FC20ACD83DDE00")
                          << QStringLiteral("ü€😀");
}

void SimCodecTest::charactersInEachSet()
{
    QFETCH(QString, text);
    QFETCH(Set, set);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, readBack);
    QCOMPARE(SimCodec::toSet(text, set), bytes);
    QCOMPARE(SimCodec::fromSet(bytes, set), std::optional(readBack));
}

void SimCodecTest::bytesASetCannotHoldAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Set>("set");
    QTest::newRow("gsm 8-bit byte") << QByteArray("a\xE9") << Set::Gsm;
    QTest::newRow("ira 8-bit byte") << QByteArray("caf\xE9") << Set::Ira;
    QTest::newRow("ucs2 cut") << QByteArray("00E") << Set::Ucs2;
    QTest::newRow("ucs2 not hex") << QByteArray("00G9") << Set::Ucs2;
}

void SimCodecTest::bytesASetCannotHoldAreRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Set, set);
    QCOMPARE(SimCodec::fromSet(bytes, set), std::nullopt);
}

void SimCodecTest::submitsDecode_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<int>("tpduLength");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Alphabet>("alphabet");
    QTest::addColumn<bool>("report");
    QTest::addColumn<int>("validity");    // -1: none
    QTest::addColumn<QList<int>>("part"); // reference, number, count

    // The published example: relative validity, no header.
    QTest::newRow("published") << "0011000B916407281553F80000AA0AE8329BFD4697D9EC37" << 23 << "+46708251358"
                               << "hellohello" << Alphabet::Gsm7 << false << 0xAA << QList<int>{0, 0, 0};
    // By hand: report asked, relative validity, 8-bit concatenation header (one fill bit) before "Hi".
    QTest::newRow("8-bit part, report") << "0071000C911989214365870000A709050003CC02019069" << 22 << "+919812345678"
                                        << "Hi" << Alphabet::Gsm7 << true << 0xA7 << QList<int>{0xCC, 1, 2};
    // 16-bit reference header (seven octets, no fill bits) before "Hi".
    QTest::newRow("16-bit part, gsm") << "0041000B916407281553F800000A06080400010202C834" << 22 << "+46708251358"
                                      << "Hi" << Alphabet::Gsm7 << false << -1 << QList<int>{1, 2, 2};
    // UCS2 after a 16-bit reference header, national number.
    QTest::newRow("16-bit part, ucs2") << "004105048110320008090608041234030200E9" << 18 << "0123"
                                       << "é" << Alphabet::Ucs2 << false << -1 << QList<int>{0x1234, 2, 3};
    // A service-centre field given, and a text with an extension-table character ("a€").
    QTest::newRow("smsc, escape") << "07919471060040F3010005812143F5000003E14D19" << 13 << "12345"
                                  << "a€" << Alphabet::Gsm7 << false << -1 << QList<int>{0, 0, 0};
    // 8-bit data: each octet a Latin-1 character.
    QTest::newRow("8-bit data") << "0001000481103200040348FF0A" << 12 << "0123"
                                << "H\u00FF\n"
                                << Alphabet::EightBit << false << -1 << QList<int>{0, 0, 0};
}

void SimCodecTest::submitsDecode()
{
    QFETCH(QString, hex);
    QFETCH(int, tpduLength);
    QFETCH(QString, destination);
    QFETCH(QString, text);
    QFETCH(Alphabet, alphabet);
    QFETCH(bool, report);
    QFETCH(int, validity);
    QFETCH(QList<int>, part);
    const std::optional<SimCodec::Submit> s = SimCodec::decodeSubmit(hex);
    QVERIFY(s);
    QCOMPARE(s->tpduLength, tpduLength);
    QCOMPARE(s->destination, destination);
    QCOMPARE(s->text, text);
    QCOMPARE(s->alphabet, alphabet);
    QCOMPARE(s->statusReport, report);
    QCOMPARE(s->relativeValidity.value_or(-1), validity);
    QCOMPARE((QList<int>{s->partReference, s->partNumber, s->partCount}), part);
}

void SimCodecTest::unsoundSubmitsAreRefused_data()
{
    QTest::addColumn<QString>("hex");
    const QString sound = QStringLiteral("0011000B916407281553F80000AA0AE8329BFD4697D9EC37");
    QTest::newRow("a deliver") << "000400039121F30000425071900350400161";
    QTest::newRow("one octet short") << sound.chopped(2);
    QTest::newRow("one octet more") << sound + "00";
    QTest::newRow("odd digit count") << sound.chopped(1);
    QTest::newRow("not hex") << QString(sound).replace(20, 1, QLatin1Char('G'));
    QTest::newRow("compressed") << QString(sound).replace(24, 2, QStringLiteral("20"));
    QTest::newRow("header longer than the data") << "004100038121F30000020500";
    QTest::newRow("empty") << "";
    QTest::newRow("161 septets") << "00010000810000A1" + QString(282, QLatin1Char('0'));
    QTest::newRow("141 octets of 8-bit data") << "000100008100048D" + QString(282, QLatin1Char('0'));
}

void SimCodecTest::unsoundSubmitsAreRefused()
{
    QFETCH(QString, hex);
    QVERIFY(!SimCodec::decodeSubmit(hex));
}

void SimCodecTest::deliversEncode_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("sentOn");
    QTest::addColumn<bool>("ucs2");
    QTest::addColumn<QString>("hex");
    const QDateTime sentOn = at(2024, 5, 17, 9, 30, 5, 60); // "42507190035040": the zone is 4 quarter hours
    QTest::newRow("gsm") << "+447700900123"
                         << "hellohello" << sentOn << false
                         << "00040C91447700091032"
                            "0000"
                            "42507190035040"
                            "0AE8329BFD4697D9EC37";
    QTest::newRow("ucs2 needed") << "+447700900123"
                                 << "ok ✓" << sentOn << false
                                 << "00040C91447700091032"
                                    "0008"
                                    "42507190035040"
                                    "08006F006B00202713";
    QTest::newRow("ucs2 asked") << "0123"
                                << "a" << sentOn << true
                                << "000404811032"
                                   "0008"
                                   "42507190035040"
                                   "020061";
    QTest::newRow("west of utc, name") << "Bank"
                                       << "a€" << at(2024, 5, 17, 9, 30, 5, -300) << false
                                       << "000407D0C2B07B0D"
                                          "0000"
                                          "4250719003500A"
                                          "03E14D19";
}

void SimCodecTest::deliversEncode()
{
    QFETCH(QString, sender);
    QFETCH(QString, text);
    QFETCH(QDateTime, sentOn);
    QFETCH(bool, ucs2);
    QFETCH(QString, hex);
    const QList<SimCodec::Part> parts = SimCodec::encodeDeliver(sender, text, sentOn, 7, ucs2);
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].hex, hex);
    QCOMPARE(parts[0].tpduLength, hex.size() / 2 - 1);
    const std::optional<SimCodec::Deliver> d = SimCodec::decodeDeliver(hex);
    QVERIFY(d);
    QCOMPARE(d->sender, sender);
    QCOMPARE(d->text, text);
    QCOMPARE(d->sentOn, sentOn);
    QCOMPARE(d->sentOn.offsetFromUtc(), sentOn.offsetFromUtc());
}

void SimCodecTest::publishedDeliverDecodes()
{
    // The published SMS-DELIVER: a service centre given, a subscriber-number sender, zone +2 hours.
    const auto d = SimCodec::decodeDeliver(u"07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37");
    QVERIFY(d);
    QCOMPARE(d->sender, QStringLiteral("27838890001"));
    QCOMPARE(d->text, QStringLiteral("hellohello"));
    QCOMPARE(d->sentOn.time(), QTime(15, 16, 59));
    QCOMPARE(d->sentOn.date().month(), 3);
    QCOMPARE(d->sentOn.offsetFromUtc(), 2 * 3600);
}

void SimCodecTest::statusReportEncodes()
{
    const SimCodec::Part r = SimCodec::encodeStatusReport(
        42, QStringLiteral("+447700900123"), at(2024, 5, 17, 9, 30, 5, -300), at(2024, 5, 17, 9, 30, 7, -300), 0x62);
    QCOMPARE(r.hex, QStringLiteral("00062A0C914477000910324250719003500A4250719003700A62"));
    QCOMPARE(r.tpduLength, 25);
}

void SimCodecTest::longTextsAreCutWithoutSplittingAPair_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reference");
    QTest::addColumn<QList<int>>("lengths"); // TP-UDL of each part: septets or octets, header included
    QTest::newRow("fits one") << QString(160, QLatin1Char('a')) << 9 << QList<int>{160};
    QTest::newRow("153 septets a part") << QString(161, QLatin1Char('a')) << 9 << QList<int>{160, 15};
    QTest::newRow("escape kept whole") << QString(152, QLatin1Char('a')) + QStringLiteral("€") +
                                              QString(10, QLatin1Char('b'))
                                       << 9 << QList<int>{159, 19};
    QTest::newRow("16-bit reference") << QString(161, QLatin1Char('a')) << 300 << QList<int>{160, 17};
    QTest::newRow("ucs2 67 a part") << QString(71, QChar(0x2713)) << 9 << QList<int>{140, 14};
    QTest::newRow("surrogates kept whole")
        << QString(66, QChar(0x2713)) + QStringLiteral("😀") + QString(3, QChar(0x2713)) << 9 << QList<int>{138, 16};
}

void SimCodecTest::longTextsAreCutWithoutSplittingAPair()
{
    QFETCH(QString, text);
    QFETCH(int, reference);
    QFETCH(QList<int>, lengths);
    const QList<SimCodec::Part> parts =
        SimCodec::encodeDeliver(QStringLiteral("+4412"), text, at(2024, 1, 1, 0, 0, 0, 0), reference);
    QCOMPARE(parts.size(), lengths.size());
    QString joined;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        // TP-UDL is the 15th TPDU octet: first octet, address (04914421), PID, DCS, 7 of time stamp.
        QCOMPARE(parts[i].hex.mid(2 + 2 * 14, 2).toInt(nullptr, 16), lengths[i]);
        const std::optional<SimCodec::Deliver> d = SimCodec::decodeDeliver(parts[i].hex);
        QVERIFY(d);
        if (parts.size() > 1)
            QCOMPARE((QList<int>{d->partReference, d->partNumber, d->partCount}),
                     (QList<int>{reference, int(i + 1), int(parts.size())}));
        joined += d->text;
    }
    QCOMPARE(joined, text);
}

QTEST_APPLESS_MAIN(SimCodecTest)
#include "tst_simcodec.moc"
