// Turning modem answers into values, with answers as real modems give them.
#include "modem/AtParse.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::vector<SIMMessage>)

namespace {

SIMMessage msg(const char* index, const char* status, const char* number, const QString& text)
{
    return {QString::fromLatin1(index), QString::fromLatin1(status), QString::fromLatin1(number), text};
}

} // namespace

class AtParseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listing_data();
    void listing();
    void identityLine_data();
    void identityLine();
    void callStatus_data();
    void callStatus();
    void cmgwIndex_data();
    void cmgwIndex();
    void callerNumber_data();
    void callerNumber();
    void parts();
};

void AtParseTest::listing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<std::vector<SIMMessage>>("expected");

    QTest::newRow("empty SIM") << QStringLiteral("\r\nOK\r\n") << std::vector<SIMMessage>{};
    QTest::newRow("one record, keeps the CR LF before the blank line")
        << QStringLiteral("\r\n+CMGL: 1,\"REC READ\",\"+919888812121\",,\"26/12/04,20:15:02+22\"\r\nHi\r\n\r\nOK\r\n")
        << std::vector<SIMMessage>{msg("1", "REC READ", "+919888812121", QStringLiteral("Hi\r\n"))};
    QTest::newRow("several records")
        << QStringLiteral("\r\n+CMGL: 1,\"REC UNREAD\",\"+447700900123\",,\"26/12/06,08:00:01+00\"\r\nHello\r\n"
                          "+CMGL: 2,\"STO SENT\",\"9888812121\",,\r\nOut\r\n"
                          "+CMGL: 5,\"REC READ\",\"+919812345678\",,\"26/12/06,08:01:00+22\"\r\nLast one\r\n\r\nOK\r\n")
        << std::vector<SIMMessage>{msg("1", "REC UNREAD", "+447700900123", QStringLiteral("Hello")),
                                   msg("2", "STO SENT", "9888812121", QStringLiteral("Out")),
                                   msg("5", "REC READ", "+919812345678", QStringLiteral("Last one\r\n"))};
    QTest::newRow("body with a line break")
        << QStringLiteral(
               "\r\n+CMGL: 3,\"REC UNREAD\",\"+15551234567\",,\"26/12/06,08:00:01-20\"\r\nline one\r\nline two\r\n"
               "+CMGL: 4,\"REC UNREAD\",\"+15551234567\",,\"26/12/06,08:00:02-20\"\r\nx\r\n\r\nOK\r\n")
        << std::vector<SIMMessage>{msg("3", "REC UNREAD", "+15551234567", QStringLiteral("line one\r\nline two")),
                                   msg("4", "REC UNREAD", "+15551234567", QStringLiteral("x\r\n"))};
    QTest::newRow("alpha field and four-digit year (SIMCom style)")
        << QStringLiteral(
               "AT+CMGL=\"ALL\"\r\r\n+CMGL: 12,\"REC READ\",\"+8613918186089\",\"Mum\",\"2026/12/06 08:00:01+32\"\r\n"
               "Call me\r\n\r\nOK\r\n")
        << std::vector<SIMMessage>{msg("12", "REC READ", "+8613918186089", QStringLiteral("Call me\r\n"))};
    QTest::newRow("numeric statuses") << QStringLiteral(
                                             "\r\n+CMGL: 1,0,\"+4915112345678\",,\"26/12/06,08:00:01+04\"\r\nA\r\n"
                                             "+CMGL: 2,3,\"+4915112345678\",,\r\nB\r\n\r\nOK\r\n")
                                      << std::vector<SIMMessage>{
                                             msg("1", "REC UNREAD", "+4915112345678", QStringLiteral("A")),
                                             msg("2", "STO SENT", "+4915112345678", QStringLiteral("B\r\n"))};
    QTest::newRow("apostrophes and quotes in the text")
        << QStringLiteral("\r\n+CMGL: 7,\"REC UNREAD\",\"+919000000001\",,\"26/12/06,08:00:01+22\"\r\n"
                          "It's \"fine\" -- ok\r\n\r\nOK\r\n")
        << std::vector<SIMMessage>{msg("7", "REC UNREAD", "+919000000001", QStringLiteral("It's \"fine\" -- ok\r\n"))};
}

void AtParseTest::listing()
{
    QFETCH(QString, answer);
    QFETCH(std::vector<SIMMessage>, expected);
    const std::vector<SIMMessage> got = ParseMessageListing(answer);
    QCOMPARE(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].Index, expected[i].Index);
        QCOMPARE(got[i].Status, expected[i].Status);
        QCOMPARE(got[i].Number, expected[i].Number);
        QCOMPARE(got[i].Text, expected[i].Text);
    }
}

void AtParseTest::identityLine_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no echo") << QStringLiteral("\r\nSIMCOM_Ltd\r\n\r\nOK\r\n") << QStringLiteral("SIMCOM_Ltd");
    QTest::newRow("echo") << QStringLiteral("AT+CGMM\r\r\nSIMCOM_SIM800L\r\n\r\nOK\r\n")
                          << QStringLiteral("SIMCOM_SIM800L");
    QTest::newRow("blanks trimmed") << QStringLiteral("\r\n  Quectel  \r\n\r\nOK\r\n") << QStringLiteral("Quectel");
    QTest::newRow("single line") << QStringLiteral("OK") << QString();
}

void AtParseTest::identityLine()
{
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    QCOMPARE(IdentityLine(answer), expected);
}

void AtParseTest::callStatus_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no call") << QStringLiteral("\r\nOK\r\n") << QStringLiteral("\r\nOK\r\n");
    QTest::newRow("incoming") << QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"+919888812121\",145\r\n\r\nOK\r\n")
                              << QStringLiteral("Incoming");
    QTest::newRow("two calls: the first counts")
        << QStringLiteral(
               "\r\n+CLCC: 1,0,0,0,0,\"+441234567890\",145\r\n+CLCC: 2,1,5,0,0,\"+919888812121\",145\r\n\r\nOK\r\n")
        << QStringLiteral("Active");
    QTest::newRow("rejected") << QStringLiteral("\r\nERROR\r\n") << QStringLiteral("ERROR");
    QTest::newRow("ring lines in the same answer")
        << QStringLiteral(
               "\r\nRING\r\n\r\n+CLIP: \"+919888812121\",145,,,,0\r\n\r\n+CLCC: 1,1,4,0,0,\"+919888812121\",145\r\n"
               "\r\nOK\r\n")
        << QStringLiteral("Incoming");
    QTest::newRow("new-message line, no call")
        << QStringLiteral("\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n") << QStringLiteral("\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n");
    QTest::newRow("silence") << QString() << QString();
    QTest::newRow("unknown state") << QStringLiteral("\r\n+CLCC: 1,1,9,0,0,\"1\",129\r\n\r\nOK\r\n") << QString();
}

void AtParseTest::callStatus()
{
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    QCOMPARE(CallStatusFromResponse(answer), expected);
}

void AtParseTest::cmgwIndex_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("\r\n+CMGW: 12\r\n\r\nOK\r\n") << QStringLiteral("12");
    QTest::newRow("after the prompt") << QStringLiteral("\r\n> \r\n+CMGW: 3\r\n\r\nOK\r\n") << QStringLiteral("3");
    QTest::newRow("full SIM") << QStringLiteral("\r\n> \r\n+CMS ERROR: 322\r\n") << QString();
}

void AtParseTest::cmgwIndex()
{
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    QCOMPARE(ParseCmgwIndex(answer), expected);
}

void AtParseTest::callerNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("+CLIP") << QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"+919888812121\",145,,,,0\r\n")
                           << QStringLiteral("+919888812121");
    QTest::newRow("+CLCC") << QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"09888812121\",129\r\n")
                           << QStringLiteral("09888812121");
    QTest::newRow("+CLCC with blanks") << QStringLiteral("+CLCC: 1, 1, 4, 0, 0, \"+4412345678\", 145\r\n")
                                       << QStringLiteral("+4412345678");
    QTest::newRow("withheld") << QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"\",128\r\n") << QString();
    QTest::newRow("RING alone") << QStringLiteral("\r\nRING\r\n") << QString();
}

void AtParseTest::callerNumber()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ExtractCallerNumber(text), expected);
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
