// Turning modem answers into values, with answers as real modems give them.
#include "modem/AtParse.h"

#include <QtTest>

namespace {

SIMMessage msg(const char* index, const char* status, const char* number, const QString& text)
{
    SIMMessage m;
    m.Index = QString::fromLatin1(index);
    m.Status = QString::fromLatin1(status);
    m.Number = QString::fromLatin1(number);
    m.Text = text;
    return m;
}

} // namespace

struct Listing {
    std::vector<SIMMessage> records;
    bool complete;
};

class AtParseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listing_data();
    void listing();
    void pduListing();
    void unicodeListing_data();
    void unicodeListing();
    void listingText_data();
    void listingText();
    void serviceCentreTime_data();
    void serviceCentreTime();
    void listingReadInPieces_data();
    void listingReadInPieces();
    void listingHeader_data();
    void listingHeader();
    void resultCodesAndUnsolicitedLines();
    void answerValues_data();
    void answerValues();
    void parts();
};

Q_DECLARE_METATYPE(Listing)
Q_DECLARE_METATYPE(Charset::Set)

void AtParseTest::listing_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<Listing>("expected");
    const auto hdr = [](const char* fields, int length = -1) {
        QByteArray h = QByteArray("+CMGL: ") + fields;
        if (length >= 0)
            h += ",145," + QByteArray::number(length);
        return h + "\r\n";
    };

    QTest::newRow("empty SIM") << QByteArray("\r\nOK\r\n") << Listing{{}, true};
    QTest::newRow("one record: the text ends before the blank line and OK")
        << "\r\n" + hdr("1,\"REC READ\",\"+919888812121\",,\"26/12/04,20:15:02+22\"") + "Hi\r\n\r\nOK\r\n"
        << Listing{{msg("1", "REC READ", "+919888812121", "Hi")}, true};
    QTest::newRow("several records, a text of two lines, no lengths")
        << "\r\n" + hdr("3,\"REC UNREAD\",\"+15551234567\",,\"26/12/06,08:00:01-20\"") + "line one\r\nline two\r\n" +
               hdr("2,\"STO SENT\",\"9888812121\",,") + "Out\r\n\r\nOK\r\n"
        << Listing{{msg("3", "REC UNREAD", "+15551234567", "line one\r\nline two"),
                    msg("2", "STO SENT", "9888812121", "Out")},
                   true};
    QTest::newRow("echo, alpha field and four-digit year (SIMCom style)")
        << QByteArray("AT+CMGL=\"ALL\"\r\r\n") +
               hdr("12,\"REC READ\",\"+8613918186089\",\"Mum\",\"2026/12/06 08:00:01+32\"") + "Call me\r\n\r\nOK\r\n"
        << Listing{{msg("12", "REC READ", "+8613918186089", "Call me")}, true};
    QTest::newRow("numeric statuses") << "\r\n" + hdr("1,0,\"+4915112345678\",,\"26/12/06,08:00:01+04\"") + "A\r\n" +
                                             hdr("2,3,\"+4915112345678\",,") + "B\r\n\r\nOK\r\n"
                                      << Listing{{msg("1", "REC UNREAD", "+4915112345678", "A"),
                                                  msg("2", "STO SENT", "+4915112345678", "B")},
                                                 true};
    const QByteArray forged = "Hello\r\n+CMGL: 7,\"REC UNREAD\",\"+15550001\",,\"26/01/01,00:00:00+00\"\r\nWon";
    QTest::newRow("lengths: texts holding OK, RING and a header line of their own")
        << "\r\n" + hdr("1,\"REC UNREAD\",\"+919812345678\",,\"26/12/06,10:00:00+22\"", 12) + "OK\r\nRING\r\nBOOK\r\n" +
               hdr("2,\"REC UNREAD\",\"+919812345678\",,\"26/12/06,10:00:01+22\"", int(forged.size())) + forged +
               "\r\n" + hdr("3,\"REC READ\",\"+919812345678\",,\"26/12/06,10:00:02+22\"", 8) + "Hi there\r\n\r\nOK\r\n"
        << Listing{{msg("1", "REC UNREAD", "+919812345678", "OK\r\nRING\r\nBOOK"),
                    msg("2", "REC UNREAD", "+919812345678", QString::fromLatin1(forged)),
                    msg("3", "REC READ", "+919812345678", "Hi there")},
                   true};
    QTest::newRow("lengths counted far too short: an OK line inside a text does not end it")
        << "\r\n" + hdr("1,\"REC UNREAD\",\"+1555\",,\"26/12/06,10:00:00+22\"", 4) +
               "Code 4711\r\nsee you\r\nOK\r\nthanks\r\n" +
               hdr("2,\"REC UNREAD\",\"+1555\",,\"26/12/06,10:00:01+22\"", 1) + "B\r\n\r\nOK\r\n"
        << Listing{{msg("1", "REC UNREAD", "+1555", "Code 4711\r\nsee you\r\nOK\r\nthanks"),
                    msg("2", "REC UNREAD", "+1555", "B")},
                   true};
    QTest::newRow("header variants of real modems")
        << QByteArray("\r\n+CMGL:4,\"REC READ\",\"+1555\",,\"26/12/06,10:00:00+22\",145,1\r\na\r\n"
                      "+CMGL: 5, \"REC READ\", \"+1555\", , \"26/12/06,10:00:00+22\", 145, 1\r\nb\r\n"
                      "+CMGL: 6,\"REC READ\",\"+1555\",\"26/12/06,10:00:00+22\",145,1\r\nc\r\n\r\nOK\r\n")
        << Listing{{msg("4", "REC READ", "+1555", "a"), msg("5", "REC READ", "+1555", "b"),
                    msg("6", "REC READ", "+1555", "c")},
                   true};
    QTest::newRow("an unsolicited line between records")
        << "\r\n" + hdr("1,\"REC READ\",\"+1555\",,\"26/12/06,10:00:00+22\"", 1) + "a\r\n\r\nRING\r\n\r\nOK\r\n"
        << Listing{{msg("1", "REC READ", "+1555", "a")}, true};
    QTest::newRow("cut short: the record whose end has not come is not given")
        << "\r\n" + hdr("1,\"REC READ\",\"+1555\",,\"26/12/06,10:00:00+22\"", 2) + "ab\r\n" +
               hdr("2,\"REC READ\",\"+1555\",,\"26/12/06,10:00:00+22\"", 20) + "OK\r\nRING\r\n"
        << Listing{{msg("1", "REC READ", "+1555", "ab")}, false};
    QTest::newRow("cut short, no lengths")
        << "\r\n" + hdr("1,\"REC READ\",\"+1555\",,") + "half a te" << Listing{{}, false};
    QTest::newRow("cut short after a NO CARRIER line inside a text: not yet given")
        << "\r\n" + hdr("1,\"REC READ\",\"+1555\",,") + "line one\r\nNO CARRIER\r\n"
        << Listing{{}, false};
    QTest::newRow("no lengths (AT+CSDH refused): a text with a line OK and more lines after it")
        << "\r\n" + hdr("1,\"REC UNREAD\",\"+1555\",,\"26/12/06,10:00:00+22\"") + "TOKEN 7\r\nOK\r\nthanks\r\nbye\r\n" +
               hdr("2,\"REC UNREAD\",\"+1555\",,\"26/12/06,10:00:01+22\"") + "B\r\n\r\nOK\r\n"
        << Listing{{msg("1", "REC UNREAD", "+1555", "TOKEN 7\r\nOK\r\nthanks\r\nbye"),
                    msg("2", "REC UNREAD", "+1555", "B")},
                   true};
    QTest::newRow("refused") << QByteArray("\r\n+CMS ERROR: 321\r\n") << Listing{{}, true};
}

void AtParseTest::pduListing()
{
    // Each record is its header and one line of hex; what follows a header and is not hex is no record.
    const QByteArray deliver = "07919730071111F1040B919189888121F200006221601231950002C834";
    const QByteArray answer = "\r\n+CMGL: 1,0,,24\r\n" + deliver + "\r\n+CMGL: 2,1,\"Mum\",24\r\n" + deliver +
                              "\r\n+CMGL: 3,1,,24\r\nOK\r\n+CMGL: 4,3,,18\r\n" + deliver.left(30);
    const ListingParse got = ParseListing(answer, true);
    QCOMPARE(got.records.size(), size_t(2));
    QCOMPARE(got.records[0].Status, QStringLiteral("REC UNREAD"));
    QCOMPARE(got.records[1].Index, QStringLiteral("2"));
    QCOMPARE(got.records[1].Pdu, QString::fromLatin1(deliver));
    QVERIFY(got.complete); // the OK after the third header closes the answer
    QVERIFY(!ParseListing(answer.left(answer.indexOf(deliver) + 10), true).complete);
}

void AtParseTest::listingReadInPieces_data()
{
    QTest::addColumn<int>("piece");
    for (const int piece : {1, 2, 3, 5, 7, 16, 64, 1000})
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes a read").arg(piece))) << piece;
}

void AtParseTest::listingReadInPieces()
{
    // A listing read piece by piece, each read resuming from the last, gives at every point what parsing
    // everything read so far from its start gives: with lengths, without (where an "OK" line may turn out
    // to be part of a text), with unsolicited lines between records, in PDU mode.
    QFETCH(int, piece);
    const QByteArray pdu = "07919730071111F1040B919189888121F200006221601231950002C834";
    const struct {
        QByteArray answer;
        bool pduMode;
    } answers[] = {
        {"AT+CMGL=\"ALL\"\r\r\n+CMGL: 1,\"REC READ\",\"+1555\",,\"26/12/04,20:15:02+22\",145,9\r\nOK\r\nfine?\r\n"
         "\r\nRING\r\n+CMGL: 2,\"STO SENT\",\"9888\",,,129,3\r\nOut\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",5\r\n",
         false},
        {"\r\n+CMGL: 3,\"REC UNREAD\",\"+1555\",,\r\nTOKEN\r\nOK\r\nthanks\r\n+CMGL: 4,\"REC READ\",\"+1666\",,\r\n"
         "OK\r\n\r\nOK\r\n",
         false},
        {"\r\n+CMGL: 2,\"REC UNREAD\",\"+919876543202\",,\"26/12/07,13:31:14+00\",145,19\r\nTOKEN 2\r\nOK\r\n"
         "thanks\r\n+CMGL: 3,\"REC UNREAD\",\"+919876543203\",,\"26/12/07,13:31:14+00\",145,15\r\nOK see you at 3"
         "\r\n\r\nOK\r\n",
         false},
        {"\r\n+CMGL: 1,0,,24\r\n" + pdu + "\r\n+CLIP: \"+1555\",145\r\n+CMGL: 2,1,\"Mum\",24\r\n" + pdu +
             "\r\n\r\nOK\r\n",
         true},
    };
    for (const auto& [answer, pduMode] : answers) {
        ListingParse resumed;
        for (qsizetype read = 0; read < answer.size();) {
            read = std::min(answer.size(), read + piece);
            resumed = ParseListing(answer.left(read), pduMode, std::move(resumed));
            const ListingParse whole = ParseListing(answer.left(read), pduMode);
            const QByteArray at =
                "after " + QByteArray::number(read) + " bytes of " + answer.left(24).toPercentEncoding();
            QVERIFY2(resumed.bodies == whole.bodies, at.constData());
            QVERIFY2(resumed.records.size() == whole.records.size(), at.constData());
            for (size_t i = 0; i < whole.records.size(); ++i) {
                QCOMPARE(resumed.records[i].Index, whole.records[i].Index);
                QCOMPARE(resumed.records[i].Text, whole.records[i].Text);
                QCOMPARE(resumed.records[i].Pdu, whole.records[i].Pdu);
            }
            QVERIFY2(resumed.unsolicited == whole.unsolicited, at.constData());
            QVERIFY2(resumed.complete == whole.complete && resumed.final == whole.final && resumed.end == whole.end &&
                         resumed.lengthsKnown == whole.lengthsKnown &&
                         resumed.announcedBytesOutstanding == whole.announcedBytesOutstanding,
                     at.constData());
        }
        QVERIFY(resumed.complete);
    }
}

void AtParseTest::listing()
{
    QFETCH(QByteArray, answer);
    QFETCH(Listing, expected);
    const ListingParse got = ParseListing(answer);
    QCOMPARE(got.complete, expected.complete);
    QCOMPARE(got.records.size(), expected.records.size());
    for (size_t i = 0; i < got.records.size(); ++i) {
        QCOMPARE(got.records[i].Index, expected.records[i].Index);
        QCOMPARE(got.records[i].Status, expected.records[i].Status);
        QCOMPARE(got.records[i].Number, expected.records[i].Number);
        QCOMPARE(got.records[i].Text, expected.records[i].Text);
    }
}

namespace {

const QString Namaste = QStringLiteral("नमस्ते, कैसे हो? 👍");

QString longText()
{
    QString s;
    while (s.size() < 350)
        s += QStringLiteral("Meeting moved to Friday at 10, bring the signed forms and the receipts. ");
    return s.left(350);
}

QByteArray header(int index, int length)
{
    return "+CMGL: " + QByteArray::number(index) + ",\"REC UNREAD\",\"+919000000001\",,\"26/12/07,10:00:0" +
           QByteArray::number(index) + "+22\",145," + QByteArray::number(length) + "\r\n";
}

QByteArray hex(const QString& text)
{
    return Charset::encode(text, Charset::Set::Ucs2).bytes;
}

// A listing as modems write it: each record a header and its body, then a blank line and OK.
QByteArray listingOf(const QList<std::pair<QByteArray, int>>& records)
{
    QByteArray out = "\r\n";
    for (qsizetype i = 0; i < records.size(); ++i)
        out += header(int(i) + 3, records[i].second) + records[i].first + "\r\n";
    return out + "\r\nOK\r\n";
}

} // namespace

void AtParseTest::unicodeListing_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<Charset::Set>("set");
    QTest::addColumn<QStringList>("texts");
    const QString other = longText();
    const QByteArray written = "??????, ???? ??? ?"; // in IRA, with the length counted in UCS2 characters
    const int units = int(Namaste.size());
    const int codePoints = int(Namaste.toUcs4().size());
    QTest::newRow("written with ? for each character IRA lacks, counted in UCS2 characters")
        << listingOf({{written, units}, {other.toLatin1(), 350}}) << Charset::Set::Ira
        << QStringList{QString::fromLatin1(written), other};
    QTest::newRow("written with ?, counted in hex digits: the announced end within the next header")
        << listingOf({{written, 4 * units}, {other.toLatin1(), 350}}) << Charset::Set::Ira
        << QStringList{QString::fromLatin1(written), other};
    QTest::newRow("the same, last in the listing")
        << listingOf({{other.toLatin1(), 350}, {written, units}}) << Charset::Set::Ira
        << QStringList{other, QString::fromLatin1(written)};
    QTest::newRow("the same, last, counted in UTF-8 octets: more than the listing holds")
        << listingOf({{other.toLatin1(), 350}, {written, int(Namaste.toUtf8().size())}}) << Charset::Set::Ira
        << QStringList{other, QString::fromLatin1(written)};
    for (const auto& [unit, length] :
         {std::pair{"UCS2 characters (the emoji counts two)", units}, std::pair{"octets", 2 * units},
          std::pair{"hex digits", 4 * units}, std::pair{"code points (the emoji counts one)", codePoints}}) {
        QTest::newRow(qPrintable(QStringLiteral("hex, length in %1").arg(QLatin1String(unit))))
            << listingOf({{hex(Namaste), length}, {other.toLatin1(), 350}}) << Charset::Set::Gsm
            << QStringList{Namaste, other};
        QTest::newRow(qPrintable(QStringLiteral("hex, length in %1, last").arg(QLatin1String(unit))))
            << listingOf({{other.toLatin1(), 350}, {hex(Namaste), length}}) << Charset::Set::Gsm
            << QStringList{other, Namaste};
    }
    QTest::newRow("character set UCS2: every body hex, lengths in hex digits")
        << listingOf({{hex(Namaste), 4 * units}, {hex(other), 4 * 350}}) << Charset::Set::Ucs2
        << QStringList{Namaste, other};
}

void AtParseTest::unicodeListing()
{
    QFETCH(QByteArray, answer);
    QFETCH(Charset::Set, set);
    QFETCH(QStringList, texts);
    const ListingParse got = ParseListing(answer);
    QVERIFY(got.complete);
    QStringList read;
    for (size_t i = 0; i < got.records.size(); ++i)
        read << ListingText(got.bodies[i], got.records[i].Length, set);
    QCOMPARE(read, texts);
}

void AtParseTest::listingText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("text");
    const QString hindi = QStringLiteral("नमस्ते 👍");
    QTest::newRow("UCS2 hex, length in characters") << hex(hindi) << int(hindi.size()) << hindi;
    QTest::newRow("UCS2 hex, length in octets") << hex(hindi) << int(2 * hindi.size()) << hindi;
    QTest::newRow("UCS2 hex, length in hex digits") << hex(hindi) << int(4 * hindi.size()) << hindi;
    QTest::newRow("hex digits of a word, not of a text") << QByteArray("DEAD") << 4 << "DEAD";
    QTest::newRow("a number is a number") << QByteArray("20261234") << 8 << "20261234";
    QTest::newRow("hex without a length") << hex(hindi) << -1 << QString::fromLatin1(hex(hindi));
    QTest::newRow("a length that fits no unit") << hex(hindi) << 5 << QString::fromLatin1(hex(hindi));
    QTest::newRow("plain text") << QByteArray("Hi, 5 pm") << 8 << "Hi, 5 pm";
}

void AtParseTest::listingText()
{
    QFETCH(QByteArray, body);
    QFETCH(int, length);
    QFETCH(QString, text);
    QCOMPARE(ListingText(body, length, Charset::Set::Gsm), text);
}

void AtParseTest::serviceCentreTime_data()
{
    // The zone is counted in quarter hours, east of UTC positive.
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QDateTime>("utc");
    const auto utc = [](int h, int m, int s) { return QDateTime(QDate(2026, 12, 6), QTime(h, m, s), Qt::UTC); };
    QTest::newRow("UTC-5") << "26/12/06,08:00:01-20" << utc(13, 0, 1);
    QTest::newRow("UTC+5:30") << "26/12/06,08:00:01+22" << utc(2, 30, 1);
    QTest::newRow("UTC-2, one-digit zone") << "26/12/06,08:00:01-8" << utc(10, 0, 1);
    QTest::newRow("four-digit year, UTC+8") << "2026/12/06 08:00:01+32" << utc(0, 0, 1);
    QTest::newRow("no time stamp") << "" << QDateTime();
}

void AtParseTest::serviceCentreTime()
{
    QFETCH(QString, timestamp);
    QFETCH(QDateTime, utc);
    const QDateTime got = ParseServiceCentreTime(timestamp);
    QCOMPARE(got.isValid(), utc.isValid());
    if (utc.isValid())
        QCOMPARE(got.toUTC().toString(Qt::ISODate), utc.toString(Qt::ISODate));
}

void AtParseTest::listingHeader_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<int>("length");
    QTest::newRow("standard") << QByteArray("+CMGL: 1,\"REC READ\",\"+1555\",,\"26/12/06,10:00:00+22\"") << true
                              << "26/12/06,10:00:00+22" << -1;
    QTest::newRow("with type and length")
        << QByteArray("+CMGL: 1,\"REC READ\",\"+1555\",\"\",\"26/12/06,10:00:00-08\",145,160") << true
        << "26/12/06,10:00:00-08" << 160;
    QTest::newRow("stored, nothing after the number")
        << QByteArray("+CMGL: 2,\"STO UNSENT\",\"1555\"") << true << "" << -1;
    QTest::newRow("status not one of the four") << QByteArray("+CMGL: 1,\"REC LOST\",\"+1555\",,") << false << "" << -1;
    QTest::newRow("index not a number") << QByteArray("+CMGL: x,\"REC READ\",\"+1555\",,") << false << "" << -1;
    QTest::newRow("quote never closed") << QByteArray("+CMGL: 1,\"REC READ\",\"+1555,,") << false << "" << -1;
    QTest::newRow("words after the fields")
        << QByteArray("+CMGL: 1,\"REC READ\",\"+1555\",,,145,3 call me") << false << "" << -1;
    QTest::newRow("another answer") << QByteArray("+CMGR: \"REC READ\",\"+1555\",,") << false << "" << -1;
}

void AtParseTest::listingHeader()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, header);
    QFETCH(QString, timestamp);
    QFETCH(int, length);
    const auto h = ParseListingHeader(line);
    QCOMPARE(h.has_value(), header);
    if (h) {
        QCOMPARE(h->Timestamp, timestamp);
        QCOMPARE(h->Length, length);
    }
}

void AtParseTest::resultCodesAndUnsolicitedLines()
{
    int n = 0;
    QCOMPARE(FinalResultOf("OK\r\n"), FinalCode::Ok);
    QCOMPARE(FinalResultOf("BOOK"), FinalCode::None);
    QCOMPARE(FinalResultOf("OK, see you"), FinalCode::None);
    QCOMPARE(FinalResultOf("+CMS ERROR: 38", &n), FinalCode::CmsError);
    QCOMPARE(n, 38);
    QCOMPARE(FinalResultOf("+CME ERROR: SIM busy", &n), FinalCode::CmeError);
    QCOMPARE(n, -1);
    QCOMPARE(FinalResultOf("NO DIALTONE"), FinalCode::NoDialtone);

    QCOMPARE(ParseUnsolicited("RING").kind, Unsolicited::Ring);
    QCOMPARE(ParseUnsolicited("+CRING: VOICE").kind, Unsolicited::Ring);
    QCOMPARE(ParseUnsolicited("+CRING: REL ASYNC").kind, Unsolicited::OtherRing);
    QCOMPARE(ParseUnsolicited("BRING").kind, Unsolicited::None);
    QCOMPARE(ParseUnsolicited("CALL ME DURING LUNCH").kind, Unsolicited::None);
    QCOMPARE(ParseUnsolicited("+CLIP: \"+919812345678\",145,,,,0").number, QStringLiteral("+919812345678"));
    QCOMPARE(ParseUnsolicited("+CMTI: \"SM\",17").index, 17);
    QCOMPARE(ParseUnsolicited("+CDSI: \"SR\",2").kind, Unsolicited::StatusReportStored);
    for (const char* vendor : {"^RSSI: 17", "+QIND: SMS DONE", "+WIND: 4", "+CGREG: 1", "SMS Ready"})
        QCOMPARE(ParseUnsolicited(vendor).kind, Unsolicited::Other);
    QVERIFY(UnsolicitedHasBody("+CMT: ,24"));
    QVERIFY(UnsolicitedHasBody("+CDS: 25"));
    QVERIFY(!UnsolicitedHasBody("+CDS: 6,17,\"+1555\",145,\"26/12/06,10:00:00+22\",\"26/12/06,10:00:05+22\",0"));
}

// The answers the routines read one value from, by the reader that reads them.
enum Reader { Identity, CallState, StoredIndex, Caller };

void AtParseTest::answerValues_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    const auto row = [](int reader, const char* name, const QString& answer, const QString& expected) {
        QTest::newRow(name) << reader << answer << expected;
    };
    // Identity (AT+CGMI, AT+CGMM): the line before OK.
    row(Identity, "identity, no echo", "\r\nSIMCOM_Ltd\r\n\r\nOK\r\n", "SIMCOM_Ltd");
    row(Identity, "identity, echo", "AT+CGMM\r\r\nSIMCOM_SIM800L\r\n\r\nOK\r\n", "SIMCOM_SIM800L");
    row(Identity, "identity, blanks trimmed", "\r\n  Quectel  \r\n\r\nOK\r\n", "Quectel");
    row(Identity, "identity, single line", "OK", QString());
    // Call state (AT+CLCC): the state word of the first voice call, else the answer itself.
    row(CallState, "no call", "\r\nOK\r\n", "\r\nOK\r\n");
    row(CallState, "incoming", "\r\n+CLCC: 1,1,4,0,0,\"+919888812121\",145\r\n\r\nOK\r\n", "Incoming");
    row(CallState, "waiting", "\r\n+CLCC: 1,1,5,0,0,\"+919888812121\",145\r\n\r\nOK\r\n", "Waiting");
    row(CallState, "two calls: the first counts",
        QStringLiteral(
            "\r\n+CLCC: 1,0,0,0,0,\"+441234567890\",145\r\n+CLCC: 2,1,5,0,0,\"+919888812121\",145\r\n\r\nOK\r\n"),
        "Active");
    row(CallState, "rejected", "\r\nERROR\r\n", "ERROR");
    row(CallState, "ring lines in the same answer",
        QStringLiteral(
            "\r\nRING\r\n\r\n+CLIP: \"+919888812121\",145,,,,0\r\n\r\n+CLCC: 1,1,4,0,0,\"+919888812121\",145\r\n"
            "\r\nOK\r\n"),
        "Incoming");
    row(CallState, "new-message line, no call", "\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n",
        "\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n");
    row(CallState, "silence", QString(), QString());
    row(CallState, "unknown state", "\r\n+CLCC: 1,1,9,0,0,\"1\",129\r\n\r\nOK\r\n", QString());
    const QString data = "\r\n+CLCC: 1,0,0,1,0,\"\",128\r\n";
    row(CallState, "LTE data connection: no call", data + "\r\nOK\r\n", data + "\r\nOK\r\n");
    row(CallState, "data connection, then a voice call", data + "+CLCC: 2,1,4,0,0,\"+919888812121\",145\r\n\r\nOK\r\n",
        "Incoming");
    // The SIM index AT+CMGW stored at.
    row(StoredIndex, "stored, plain", "\r\n+CMGW: 12\r\n\r\nOK\r\n", "12");
    row(StoredIndex, "stored after the prompt", "\r\n> \r\n+CMGW: 3\r\n\r\nOK\r\n", "3");
    row(StoredIndex, "full SIM", "\r\n> \r\n+CMS ERROR: 322\r\n", QString());
    // The caller's number from a ring.
    row(Caller, "+CLIP", "\r\nRING\r\n\r\n+CLIP: \"+919888812121\",145,,,,0\r\n", "+919888812121");
    row(Caller, "+CLCC", "\r\n+CLCC: 1,1,4,0,0,\"09888812121\",129\r\n", "09888812121");
    row(Caller, "+CLCC with blanks", "+CLCC: 1, 1, 4, 0, 0, \"+4412345678\", 145\r\n", "+4412345678");
    row(Caller, "withheld", "\r\nRING\r\n\r\n+CLIP: \"\",128\r\n", QString());
    row(Caller, "RING alone", "\r\nRING\r\n", QString());
}

void AtParseTest::answerValues()
{
    QFETCH(int, reader);
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    QString (*const readers[])(const QString&) = {IdentityLine, CallStatusFromResponse, ParseCmgwIndex,
                                                  ExtractCallerNumber};
    QCOMPARE(readers[reader](answer), expected);
}

void AtParseTest::parts()
{
    QCOMPARE(SplitIntoParts(QString()).size(), 0);
    QCOMPARE(SplitIntoParts(QString(160, 'a')), QStringList{QString(160, 'a')});
    QCOMPARE(SplitIntoParts(QString(160, 'a') + QLatin1Char('b')),
             (QStringList{QString(160, 'a'), QStringLiteral("b")}));
    QCOMPARE(SplitIntoParts(QString(480, 'a')).size(), 3);
    QCOMPARE(RemoveCrLf(QStringLiteral("\r\nOK\r\n")), QStringLiteral("OK"));
}

QTEST_GUILESS_MAIN(AtParseTest)
#include "tst_atparse.moc"
