// SMS PDUs: published examples decode to their documented fields and encode back byte for byte, long texts
// survive the round trip part by part, and malformed hex gives an error instead of a crash.
#include "modem/Charset.h"
#include "modem/Pdu.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;
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
    void deliver_data();
    void deliver();
    void submitEncoding_data();
    void submitEncoding();
    void submitDecoding_data();
    void submitDecoding();
    void statusReport();
    void statusText_data();
    void statusText();
    void validity_data();
    void validity();
    void dataCoding_data();
    void dataCoding();
    void roundTrip_data();
    void roundTrip();
    void refusedFields_data();
    void refusedFields();
    void malformed_data();
    void malformed();
    void cutAndCorrupted();
};

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
    // The classic "hellohello" of the widely copied PDU-mode tutorial (sender type 0xC8: national subscriber).
    QTest::newRow("tutorial hellohello") << "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"
                                         << "+27381000015"
                                         << "27838890001" << 0xC8 << at(1999, 3, 29, 15, 16, 59, 120) << "hellohello"
                                         << QList<int>{} << false;
    // The next four are the worked DELIVER examples of a public Python modem library's test suite.
    QTest::newRow("Test2, UTC+2") << "06917228195339040B917228214365F700003130805120618005D4F29C2E03"
                                  << "+2782913593"
                                  << "+27821234567" << 0x91 << at(2013, 3, 8, 15, 2, 16, 120) << "Test2" << QList<int>{}
                                  << true;
    QTest::newRow("AT commands sentence, UTC+8")
        << "07915892000000F0040B915892214365F700007040213252242331493A283D0795C3F33C88FE06C9CB6132885EC6D341EDF27C1E"
           "3E97E7207B3A0C0A5241E377BB1D7693E72E"
        << "+85290000000"
        << "+85291234567" << 0x91 << at(2007, 4, 12, 23, 25, 42, 480)
        << "It is easy to read text messages via AT commands." << QList<int>{} << true;
    QTest::newRow("escapes and é") << "06917228195339040B917228214365F70000313062315352800A800D8A5E98D337A910"
                                   << "+2782913593"
                                   << "+27821234567" << 0x91 << at(2013, 3, 26, 13, 35, 25, 120) << u"@{tést}!"_s
                                   << QList<int>{} << true;
    QTest::newRow("operator notice, one-part concatenation, national sender")
        << "0591721891F1400781721881F800003160526104848059050003C30101916536FB1DCABEEB2074D85E064941B19CAB060319A5C5"
           "22289C96D3D3ED32286C0FA7D96131BBEC024941B19CAB0603DDD36C36A88C87A7E565D0DB0D82C55EB0DB4B068BCD5C20"
        << "+2781191"
        << "2781188" << 0x81 << at(2013, 6, 25, 16, 40, 48, 120)
        << "Hello!You have R 19.50 FREE airtime available. R 19.50 will expire on 01/07/2013. "
        << QList<int>{0xC3, 1, 1} << false;
    // Alphanumeric senders: the address fields and time stamps are the same suite's published encodings.
    QTest::newRow("alphanumeric FRANCOIS, UTC-8")
        << "00040ED04669D0397C26A700007040213252242B0AE8329BFD4697D9EC37"
        << ""
        << "FRANCOIS" << 0xD0 << at(2007, 4, 12, 23, 25, 42, -480) << "hellohello" << QList<int>{} << true;
    QTest::newRow("alphanumeric with escapes")
        << "000414D0E10D6FE3DBA036A94D19000051117200000080"
           "05D4F29C2E03"
        << "" << u"a[]{}€"_s << 0xD0 << at(2015, 11, 27, 0, 0, 0, 120) << "Test2" << QList<int>{} << true;
    // Headers built here bit by bit: port addressing (IEI 05) before the concatenation element leaves two fill
    // bits; the 16-bit reference form (IEI 08) leaves none.
    const QString head = u"00400C91198988181212000062216080001022"_s;
    QTest::newRow("port addressing and concatenation, fill bits")
        << head + gsmUserData(QByteArray::fromHex("0B05040B8423F000032A0201"), "Meet at 5") << ""
        << "+919888812121" << 0x91 << at(2026, 12, 6, 8, 0, 1, 330) << "Meet at 5" << QList<int>{0x2A, 2, 1} << false;
    QTest::newRow("16-bit concatenation reference")
        << head + gsmUserData(QByteArray::fromHex("06080401800302"), "part two") << ""
        << "+919888812121" << 0x91 << at(2026, 12, 6, 8, 0, 1, 330) << "part two" << QList<int>{384, 3, 2} << false;
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

void PduTest::submitEncoding_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("validityMinutes"); // -1: no validity field
    QTest::addColumn<bool>("rejectDuplicates");
    QTest::addColumn<QStringList>("pdus");
    // The tutorial's SUBMIT, valid for four days.
    QTest::newRow("tutorial hellohello") << "+46708251358"
                                         << "hellohello" << 4 * 24 * 60 << false
                                         << QStringList{"0011000B916407281553F80000AA0AE8329BFD4697D9EC37"};
    // The Python library suite's SUBMIT examples (its SMSC fields replaced by our "00").
    QTest::newRow("Hello World!, no validity")
        << "+27820001111"
        << "Hello World!" << -1 << false << QStringList{"0001000B917228001011F100000CC8329BFD065DDF72363904"};
    QTest::newRow("UCS2, 52 weeks") << "+123456789" << u"世界您好！"_s << 52 * 7 * 24 * 60 << false
                                    << QStringList{"001100099121436587F90008F40A4E16754C60A8597DFF01"};
    QTest::newRow("three joined parts, reference 0")
        << "+15125551234" << Lorem << -1 << true
        << QStringList{
               "0045000B915121551532F40000A0050003000301986F79B90D4AC3E7F53688FC66BFE5A0799A0E0AB7CB741668FC76CFCB637A9"
               "9"
               "5E9783C2E4343C3D4F8FD3EE33A8CC4ED359A079990C22BF41E5747DDE7E9341F4721BFE9683D2EE719A9C26D7DD74509D0E62"
               "87C56F791954A683C86FF65B5E06B5C36777181466A7E3F5B0AB4A0795DDE936284C06B5D3EE741B642FBBD3E1360B14AFA7DD",
               "0045000B915121551532F40000A0050003000302DE73BABC4E0695F165F9384D0FD3D36F37A8CE6687DBE337881D16BFE5E939C"
               "8"
               "9D9EA741753A28CC4EC7EB6938A88C0795C3A0F1BBDD7E93DFA0F1DB3D2FC7EB61BA8B584FCF41E13ABD0C4ACBEBF23288FC66"
               "BFE5A0B41B242FC3E56574D94D2ECBD37450DA0DB2BFD975383D4C2F83EC65769A0E2ACFE765D038CD66D7DB20F29BFD2E83CA",
               "0045000B915121551532F400008C050003000303EA2073FD9C0ED341EE3A9B1D06C1C3F274985E97BB8AF871194E2FD7E5A079D"
               "A"
               "4D07BDC7E370791CA683C675789A1CA687E920F7DB0D82CBDF6972D94D6781E675371D947683C675363C0C8AD7D3A0B7D99C1EA"
               "7C32072795E96D7DD7450FBCD66A7E9A0B03BDD06A5C9A0F29C0E6287C56F79BD0D"};
}

void PduTest::submitEncoding()
{
    QFETCH(QString, destination);
    QFETCH(QString, text);
    QFETCH(int, validityMinutes);
    QFETCH(bool, rejectDuplicates);
    QFETCH(QStringList, pdus);
    Pdu::SubmitOptions options;
    if (validityMinutes >= 0)
        options.validityMinutes = validityMinutes;
    options.rejectDuplicates = rejectDuplicates;
    const Pdu::EncodeResult r = Pdu::encodeSubmit(destination, text, options);
    QCOMPARE(r.error, QString());
    QStringList got;
    for (const Pdu::Encoded& e : r.parts) {
        got.append(e.hex);
        QCOMPARE(e.tpduLength, e.hex.size() / 2 - 1);
    }
    QCOMPARE(got, pdus);
}

void PduTest::submitDecoding_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Alphabet>("alphabet");
    QTest::addColumn<int>("validityMinutes"); // -1: none relative
    QTest::addColumn<QDateTime>("validUntil");
    QTest::addColumn<bool>("statusReport");
    // All from the Python library suite's decoding examples.
    QTest::newRow("status report asked, 3 days")
        << "07911326040000F0310D0B911326880736F40000A90FF7FBDD454E87CDE1B0DB357EB701"
        << "+31628870634"
        << "www.diafaan.com" << Alphabet::Gsm7 << 3 * 24 * 60 << QDateTime() << true;
    QTest::newRow("national numbers (type 0xA1)")
        << "04A12143F5310D0AA110624521430000A91BD4F29C0E6A97E7F3F0B9AC03B1DFE3301BE4AEB7C565F91C"
        << "0126541234"
        << "Test message: local numbers" << Alphabet::Gsm7 << 3 * 24 * 60 << QDateTime() << true;
    QTest::newRow("8-bit data") << "0591721891F101000B917228214365F700040C48656C6C6F20776F726C6421"
                                << "+27821234567"
                                << "Hello world!" << Alphabet::EightBit << -1 << QDateTime() << false;
    QTest::newRow("UCS2") << "07914346466554F601000B914316565811F9000806304253F68449"
                          << "+34616585119" << u"あ叶葉"_s << Alphabet::Ucs2 << -1 << QDateTime() << false;
    QTest::newRow("absolute validity")
        << "0019000B917228001011F100003170013193008017D474BB3CA787DB70903DCC4E93D3F43C885E9ED301"
        << "+27820001111"
        << "Timestamp validity test" << Alphabet::Gsm7 << -1 << at(2013, 7, 10, 13, 39, 0, 120) << false;
}

void PduTest::submitDecoding()
{
    QFETCH(QString, hex);
    QFETCH(QString, destination);
    QFETCH(QString, text);
    QFETCH(Alphabet, alphabet);
    QFETCH(int, validityMinutes);
    QFETCH(QDateTime, validUntil);
    QFETCH(bool, statusReport);
    QCOMPARE(Pdu::typeOf(hex), Pdu::Type::Submit);
    const Pdu::Submit s = Pdu::decodeSubmit(hex);
    QCOMPARE(s.error, QString());
    QCOMPARE(s.destination, destination);
    QCOMPARE(s.text, text);
    QCOMPARE(s.coding.alphabet, alphabet);
    QCOMPARE(s.validityMinutes.value_or(-1), validityMinutes);
    QCOMPARE(s.validUntil, validUntil);
    QCOMPARE(s.statusReport, statusReport);
}

void PduTest::statusReport()
{
    // The Python library suite's status report: delivered, stamped in UTC+1.
    const QString hex = u"0006D60B911326880736F4111011719551401110117195714000"_s;
    QCOMPARE(Pdu::typeOf(hex), Pdu::Type::StatusReport);
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

void PduTest::statusText_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Pdu::StatusGroup>("group");
    QTest::newRow("00") << 0x00 << "Delivered" << Pdu::StatusGroup::Completed;
    QTest::newRow("01") << 0x01 << "Forwarded, delivery not confirmed" << Pdu::StatusGroup::Completed;
    QTest::newRow("02") << 0x02 << "Replaced" << Pdu::StatusGroup::Completed;
    QTest::newRow("21") << 0x21 << "Temporary error, still trying: recipient busy"
                        << Pdu::StatusGroup::TemporaryStillTrying;
    QTest::newRow("30") << 0x30 << "Temporary error, still trying: service-centre specific status 0x30"
                        << Pdu::StatusGroup::TemporaryStillTrying;
    QTest::newRow("46") << 0x46 << "Permanent error: validity period expired" << Pdu::StatusGroup::Permanent;
    QTest::newRow("4A") << 0x4A << "Permanent error: reserved status 0x4a" << Pdu::StatusGroup::Permanent;
    QTest::newRow("62") << 0x62 << "Temporary error, no longer trying: no response from the recipient"
                        << Pdu::StatusGroup::TemporaryGaveUp;
    QTest::newRow("85") << 0x85 << "Unknown (reserved status 0x85)" << Pdu::StatusGroup::Reserved;
}

void PduTest::statusText()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QFETCH(Pdu::StatusGroup, group);
    QCOMPARE(Pdu::statusText(status), text);
    QCOMPARE(Pdu::statusGroup(status), group);
}

void PduTest::validity_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("vp");
    QTest::addColumn<int>("granted"); // the period the field then stands for
    QTest::newRow("5 minutes") << 5 << 0 << 5;
    QTest::newRow("7 minutes round up") << 7 << 1 << 10;
    QTest::newRow("12 hours") << 720 << 143 << 720;
    QTest::newRow("12 h 10 min") << 730 << 144 << 750;
    QTest::newRow("24 hours") << 1440 << 167 << 1440;
    QTest::newRow("a day and a minute") << 1441 << 168 << 2880;
    QTest::newRow("4 days") << 5760 << 170 << 5760;
    QTest::newRow("30 days") << 43200 << 196 << 43200;
    QTest::newRow("31 days") << 44640 << 197 << 50400;
    QTest::newRow("63 weeks") << 635040 << 255 << 635040;
    QTest::newRow("longer: the most there is") << 10000000 << 255 << 635040;
}

void PduTest::validity()
{
    QFETCH(int, minutes);
    QFETCH(int, vp);
    QFETCH(int, granted);
    QCOMPARE(Pdu::relativeValidity(minutes), vp);
    QCOMPARE(Pdu::validityMinutes(vp), granted);
}

void PduTest::dataCoding_data()
{
    QTest::addColumn<int>("dcs");
    QTest::addColumn<Alphabet>("alphabet");
    QTest::addColumn<int>("messageClass");
    QTest::addColumn<bool>("compressed");
    QTest::newRow("00 default") << 0x00 << Alphabet::Gsm7 << -1 << false;
    QTest::newRow("04 8-bit") << 0x04 << Alphabet::EightBit << -1 << false;
    QTest::newRow("08 UCS2") << 0x08 << Alphabet::Ucs2 << -1 << false;
    QTest::newRow("0C reserved alphabet") << 0x0C << Alphabet::Gsm7 << -1 << false;
    QTest::newRow("10 flash") << 0x10 << Alphabet::Gsm7 << 0 << false;
    QTest::newRow("19 UCS2 class 1") << 0x19 << Alphabet::Ucs2 << 1 << false;
    QTest::newRow("28 compressed UCS2") << 0x28 << Alphabet::Ucs2 << -1 << true;
    QTest::newRow("48 auto-deletion UCS2") << 0x48 << Alphabet::Ucs2 << -1 << false;
    QTest::newRow("84 reserved group") << 0x84 << Alphabet::Gsm7 << -1 << false;
    QTest::newRow("C8 waiting, discard") << 0xC8 << Alphabet::Gsm7 << -1 << false;
    QTest::newRow("D8 waiting, store") << 0xD8 << Alphabet::Gsm7 << -1 << false;
    QTest::newRow("E8 waiting, store UCS2") << 0xE8 << Alphabet::Ucs2 << -1 << false;
    QTest::newRow("F1 class 1") << 0xF1 << Alphabet::Gsm7 << 1 << false;
    QTest::newRow("F6 8-bit class 2") << 0xF6 << Alphabet::EightBit << 2 << false;
}

void PduTest::dataCoding()
{
    QFETCH(int, dcs);
    QFETCH(Alphabet, alphabet);
    QFETCH(int, messageClass);
    QFETCH(bool, compressed);
    const Pdu::DataCoding c = Pdu::interpretDataCoding(dcs);
    QCOMPARE(c.alphabet, alphabet);
    QCOMPARE(c.messageClass, messageClass);
    QCOMPARE(c.compressed, compressed);
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
            QVERIFY2(units <= (n > 1 ? joined : single), qPrintable(QStringLiteral("part of %1 units").arg(units)));
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

void PduTest::refusedFields_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("expected");
    const auto submit = [](const QString& to, const QString& text, std::optional<Alphabet> a = {}) {
        Pdu::SubmitOptions o;
        o.alphabet = a;
        return Pdu::encodeSubmit(to, text, o).error;
    };
    const auto deliver = [](const QString& from, const QDateTime& t) {
        return Pdu::encodeDeliver(from, u"x"_s, {QString(), t, false, 0, {}}).error;
    };
    const QDateTime now = at(2026, 12, 6, 8, 0, 0, 0);
    QTest::newRow("name as destination") << submit(u"Mum"_s, u"x"_s) << "The destination \"Mum\" is not a phone number";
    QTest::newRow("bare plus") << submit(u"+"_s, u"x"_s) << "The destination \"+\" is not a phone number";
    QTest::newRow("21 digits") << submit(u"+123456789012345678901"_s, u"x"_s)
                               << "The destination \"+123456789012345678901\" has more than 20 digits";
    QTest::newRow("GSM forced on a check mark") << submit(u"+447700900123"_s, u"ok ✓"_s, Alphabet::Gsm7)
                                                << "The GSM alphabet has no \"✓\" (character 4 of the text)";
    QTest::newRow("8-bit forced on a euro") << submit(u"+447700900123"_s, u"5 €"_s, Alphabet::EightBit)
                                            << "8-bit data holds only characters up to U+00FF (character 3 is not one)";
    QTest::newRow("sender name of 12")
        << deliver(u"BroadtextLtd"_s, now)
        << "The sender \"BroadtextLtd\" is neither a phone number nor a name of up to 11 GSM characters";
    QTest::newRow("time stamp in 2090") << deliver(u"+447700900123"_s, at(2090, 1, 1, 0, 0, 0, 0))
                                        << "The service-centre time stamp must be a valid time between 1990 and 2089";
}

void PduTest::refusedFields()
{
    QFETCH(QString, error);
    QFETCH(QString, expected);
    QCOMPARE(error, expected);
}

void PduTest::malformed_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("error");
    const QString oa = u"040B917228214365F7000031308051206180"_s; // a DELIVER up to TP-UDL, after SMSC "00"
    QTest::newRow("empty") << ""
                           << "The PDU ends inside the service-centre address";
    QTest::newRow("odd") << "0"
                         << "The PDU has an odd number of hex digits";
    QTest::newRow("not hex") << "00x4"
                             << "The PDU holds a character that is not a hex digit at position 3";
    QTest::newRow("SMSC only") << "07917283010010F5"
                               << "The PDU ends inside the first octet of the message";
    QTest::newRow("SMSC past the end") << "0A9172830100"
                                       << "The PDU ends inside the service-centre address";
    QTest::newRow("SMSC too long") << "0C" + QString(24, u'1')
                                   << "The service-centre address is 12 octets long, "
                                      "more than an address can be";
    QTest::newRow("a SUBMIT") << "0001000B917228001011F100000CC8329BFD065DDF72363904"
                              << "The PDU is not an SMS-DELIVER";
    QTest::newRow("sender of 21 digits") << "000415917228214365F7" + QString(10, u'1')
                                         << "The originating address claims 21 digits, more than an address can hold";
    QTest::newRow("month 13") << "00040B917228214365F700003131805120618005D4F29C2E03"
                              << "The service-centre time stamp is not a valid date and time";
    QTest::newRow("not BCD") << "00040B917228214365F70000313080512A618005D4F29C2E03"
                             << "The service-centre time stamp is not a valid date and time";
    QTest::newRow("161 septets") << "00" + oa + "A1" + QString(282, u'0')
                                 << "The user data length 161 is more than a message can hold";
    QTest::newRow("length past the data") << "00" + oa + "06D4F29C2E03"
                                          << "The PDU ends inside the user data";
    QTest::newRow("header past the data") << "00440B917228214365F700003130805120618005"
                                             "0900030101"
                                          << "The user data header is longer than the user data";
    QTest::newRow("element past the header") << "00440B917228214365F700003130805120618007"
                                                "0400040101414141"
                                             << "An element of the user data header runs past the header";
    QTest::newRow("UCS2 odd octets") << "00040B917228214365F700083130805120618003004100"
                                     << "The UCS2 text has an odd number of octets";
    QTest::newRow("lone escape in the text") << "00040B917228214365F7000031308051206180"
                                                "02C10D"
                                             << "The message text is not sound: The text ends with an escape that "
                                                "has no character after it";
}

void PduTest::malformed()
{
    QFETCH(QString, hex);
    QFETCH(QString, error);
    QCOMPARE(Pdu::decodeDeliver(hex).error, error);
}

void PduTest::cutAndCorrupted()
{
    const QStringList valid = {
        u"07915892000000F0040B915892214365F700007040213252242331493A283D0795C3F33C88FE06C9CB6132885EC6D341EDF27C1E3E97E"
        "7207B3A0C0A5241E377BB1D7693E72E"_s,
        u"0591721891F1400781721881F800003160526104848059050003C30101916536FB1DCABEEB2074D85E064941B19CAB060319A5C52228"
        "9C96D3D3ED32286C0FA7D96131BBEC024941B19CAB0603DDD36C36A88C87A7E565D0DB0D82C55EB0DB4B068BCD5C20"_s,
        u"07914346466554F601000B914316565811F9000806304253F68449"_s,
        u"0006D60B911326880736F4111011719551401110117195714000"_s};
    QRandomGenerator random(2026);
    for (const QString& hex : valid) {
        const Pdu::Type type = Pdu::typeOf(hex);
        const auto errorOf = [type](const QString& h) {
            return type == Pdu::Type::Deliver  ? Pdu::decodeDeliver(h).error
                   : type == Pdu::Type::Submit ? Pdu::decodeSubmit(h).error
                                               : Pdu::decodeStatusReport(h).error;
        };
        // Every field is needed, so every shorter cut must be refused.
        for (qsizetype cut = 0; cut < hex.size(); cut += 2)
            QVERIFY2(!errorOf(hex.left(cut)).isEmpty(), qPrintable(hex.left(cut)));
        // Corrupted octets either decode or say why; none may crash or read past the end.
        for (int round = 0; round < 2000; ++round) {
            QString bad = hex;
            for (int k = 0; k < 3; ++k)
                bad.replace(random.bounded(int(bad.size() / 2)) * 2, 2,
                            QStringLiteral("%1").arg(random.bounded(256), 2, 16, QLatin1Char('0')));
            const Pdu::Deliver d = Pdu::decodeDeliver(bad);
            const Pdu::Submit s = Pdu::decodeSubmit(bad);
            const Pdu::StatusReport r = Pdu::decodeStatusReport(bad);
            QVERIFY(d.text.size() <= 160 && s.text.size() <= 160);
            QVERIFY(!d.ok() || !s.ok() || !r.ok());
        }
    }
}

QTEST_APPLESS_MAIN(PduTest)
#include "tst_pdu.moc"
