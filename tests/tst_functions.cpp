// Shared routines: rounding, blank trimming, the number notation and the message length rule.
#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"

#include <QtTest>

class FunctionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundUp_data();
    void roundUp();
    void trimRemovesSpacesOnly();
    void isNumeric_data();
    void isNumeric();
    void lengthCounter_data();
    void lengthCounter();
};

void FunctionsTest::roundUp_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("expected");
    QTest::newRow("1.00625") << 1.00625 << 2;
    QTest::newRow("2.0") << 2.0 << 2;
    QTest::newRow("3 parts") << 321.0 / 160.0 << 3;
    QTest::newRow("zero") << 0.0 << 0;
    QTest::newRow("negative") << -1.5 << -1;
}

void FunctionsTest::roundUp()
{
    QFETCH(double, x);
    QFETCH(int, expected);
    QCOMPARE(RoundUp(x), expected);
}

void FunctionsTest::trimRemovesSpacesOnly()
{
    QCOMPARE(Trim(QStringLiteral("  98 888  ")), QStringLiteral("98 888"));
    QCOMPARE(Trim(QStringLiteral("\r\nOK\r\n ")), QStringLiteral("\r\nOK\r\n"));
    QCOMPARE(Trim(QStringLiteral("\tx\t")), QStringLiteral("\tx\t"));
    QCOMPARE(Trim(QStringLiteral("    ")), QString());
}

void FunctionsTest::isNumeric_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");
    QTest::newRow("whole") << "65" << true << 65.0;
    QTest::newRow("decimal") << "3.5" << true << 3.5;
    QTest::newRow("blanks around") << " 12 " << true << 12.0;
    QTest::newRow("leading minus") << "-5" << true << -5.0;
    QTest::newRow("trailing minus") << "5-" << true << -5.0;
    QTest::newRow("trailing plus") << "5+" << true << 5.0;
    QTest::newRow("group separator") << "1,000" << true << 1000.0;
    QTest::newRow("dollar") << "$5" << true << 5.0;
    QTest::newRow("exponent") << "1e3" << true << 1000.0;
    QTest::newRow("lone minus") << "-" << false << 0.0;
    QTest::newRow("letter") << "a" << false << 0.0;
    QTest::newRow("12AB") << "12AB" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("comma first") << ",5" << false << 0.0;
}

void FunctionsTest::isNumeric()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    QCOMPARE(IsNumeric(text), numeric);
    QCOMPARE(NumericValue(text), value);
}

void FunctionsTest::lengthCounter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("warning");
    const QString two =
        QStringLiteral("** This message is longer than 160 characters. Message will be sent as 2 SMS messages.");
    const QString three =
        QStringLiteral("** This message is longer than 160 characters. Message will be sent as 3 SMS messages.");
    QTest::newRow("0") << QString() << "Typed: 0/480 characters." << QString();
    QTest::newRow("blanks only") << QStringLiteral("     ") << "Typed: 0/480 characters." << QString();
    QTest::newRow("160") << QString(160, 'a') << "Typed: 160/480 characters." << QString();
    QTest::newRow("161") << QString(161, 'a') << "Typed: 161/480 characters." << two;
    QTest::newRow("320") << QString(320, 'a') << "Typed: 320/480 characters." << two;
    QTest::newRow("321") << QString(321, 'a') << "Typed: 321/480 characters." << three;
    QTest::newRow("480") << QString(480, 'a') << "Typed: 480/480 characters." << three;
    QTest::newRow("outer blanks not counted") << QStringLiteral("  ab c  ") << "Typed: 4/480 characters." << QString();
    QTest::newRow("line break counts two") << QStringLiteral("a\r\nb") << "Typed: 4/480 characters." << QString();
}

void FunctionsTest::lengthCounter()
{
    QFETCH(QString, text);
    QFETCH(QString, count);
    QFETCH(QString, warning);
    const LengthCounterCaptions c = LengthCounter(text);
    QCOMPARE(c.count, count);
    QCOMPARE(c.warning, warning);
}

QTEST_GUILESS_MAIN(FunctionsTest)
#include "tst_functions.moc"
