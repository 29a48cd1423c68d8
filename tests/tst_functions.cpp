// Shared routines: rounding, blank trimming, the number notation, the message length rule and the sender
// numbers of received messages; and stored settings whose numbers cannot be rounded, which must fall back to
// their defaults.
#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"
#include "delivery/Delivery.h"
#include "store/SettingsRows.h"

#include "TestRig.h"

#include <QtTest>
#include <limits>

using namespace Qt::StringLiterals;

class FunctionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundUp_data();
    void roundUp();
    void roundHalfEven_data();
    void roundHalfEven();
    void trimRemovesSpacesOnly();
    void isNumeric_data();
    void isNumeric();
    void lengthCounter_data();
    void lengthCounter();
    void senderNumbers_data();
    void senderNumbers();
    void scaledDelay_data();
    void scaledDelay();
    void storedSettingsBeyondRange_data();
    void storedSettingsBeyondRange();
};

// An empty "expected" means the helper must give nothing: the value has no whole number in the result type.
void FunctionsTest::roundUp_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("1.00625") << 1.00625 << QVariant(2);
    QTest::newRow("2.0") << 2.0 << QVariant(2);
    QTest::newRow("3 parts") << 321.0 / 160.0 << QVariant(3);
    QTest::newRow("zero") << 0.0 << QVariant(0);
    QTest::newRow("negative") << -1.5 << QVariant(-1);
    QTest::newRow("up to the largest") << 2147483646.5 << QVariant(2147483647);
    QTest::newRow("up past the largest") << 2147483647.5 << QVariant();
    QTest::newRow("smallest") << -2147483648.0 << QVariant(-2147483647 - 1);
    QTest::newRow("below the smallest") << -2147483649.0 << QVariant();
    QTest::newRow("1e300") << 1e300 << QVariant();
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << QVariant();
}

void FunctionsTest::roundUp()
{
    QFETCH(double, x);
    QFETCH(QVariant, expected);
    const std::optional<qint32> r = RoundUp(x);
    QCOMPARE(r.has_value(), expected.isValid());
    if (r)
        QCOMPARE(*r, expected.toInt());
}

void FunctionsTest::roundHalfEven_data()
{
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<double>("x");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("2.5 to even below") << 2.5 << QVariant(qint64(2));
    QTest::newRow("3.5 to even above") << 3.5 << QVariant(qint64(4));
    QTest::newRow("-2.5") << -2.5 << QVariant(qint64(-2));
    QTest::newRow("2.51") << 2.51 << QVariant(qint64(3));
    QTest::newRow("largest below 2^63") << 9223372036854774784.0 << QVariant(qint64(9223372036854774784));
    QTest::newRow("2^63") << 9223372036854775808.0 << QVariant();
    QTest::newRow("-2^63") << -9223372036854775808.0 << QVariant(std::numeric_limits<qint64>::min());
    QTest::newRow("below -2^63") << -9223372036854777856.0 << QVariant();
    QTest::newRow("1e300") << 1e300 << QVariant();
    QTest::newRow("-1e300") << -1e300 << QVariant();
    QTest::newRow("infinity") << inf << QVariant();
    QTest::newRow("-infinity") << -inf << QVariant();
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << QVariant();
}

void FunctionsTest::roundHalfEven()
{
    QFETCH(double, x);
    QFETCH(QVariant, expected);
    const std::optional<qint64> r = RoundHalfEven(x);
    QCOMPARE(r.has_value(), expected.isValid());
    if (r)
        QCOMPARE(*r, expected.toLongLong());
}

void FunctionsTest::trimRemovesSpacesOnly()
{
    QCOMPARE(Trim(u"  98 888  "_s), u"98 888"_s);
    QCOMPARE(Trim(u"\r\nOK\r\n "_s), u"\r\nOK\r\n"_s);
    QCOMPARE(Trim(u"\tx\t"_s), u"\tx\t"_s);
    QCOMPARE(Trim(u"    "_s), QString());
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
    const QString two = u"** This message is longer than 160 characters. Message will be sent as 2 SMS messages."_s;
    const QString three = u"** This message is longer than 160 characters. Message will be sent as 3 SMS messages."_s;
    QTest::newRow("0") << QString() << "Typed: 0/480 characters." << QString();
    QTest::newRow("blanks only") << u"     "_s << "Typed: 0/480 characters." << QString();
    QTest::newRow("160") << QString(160, 'a') << "Typed: 160/480 characters." << QString();
    QTest::newRow("161") << QString(161, 'a') << "Typed: 161/480 characters." << two;
    QTest::newRow("320") << QString(320, 'a') << "Typed: 320/480 characters." << two;
    QTest::newRow("321") << QString(321, 'a') << "Typed: 321/480 characters." << three;
    QTest::newRow("480") << QString(480, 'a') << "Typed: 480/480 characters." << three;
    QTest::newRow("outer blanks not counted") << u"  ab c  "_s << "Typed: 4/480 characters." << QString();
    QTest::newRow("line break counts two") << u"a\r\nb"_s << "Typed: 4/480 characters." << QString();
    // Any character outside the basic GSM alphabet makes the whole message Unicode, 70 characters a part.
    const auto unicode = [](int parts) {
        return u"** This message is longer than 70 characters. Message will be sent as %1 SMS messages."_s.arg(parts);
    };
    QTest::newRow("159 and a euro sign") << QString(159, 'a') + u"€"_s << "Typed: 160/210 characters (Unicode)."
                                         << unicode(3);
    QTest::newRow("70 Unicode characters")
        << QString(69, 'a') + u"✓"_s << "Typed: 70/210 characters (Unicode)." << QString();
    QTest::newRow("71 Unicode characters")
        << QString(70, 'a') + u"✓"_s << "Typed: 71/210 characters (Unicode)." << unicode(2);
    QTest::newRow("an emoji counts two") << u"😀"_s << "Typed: 2/210 characters (Unicode)." << QString();
    QTest::newRow("GSM's own accents stay GSM") << u"café ü Ñ @$_"_s << "Typed: 12/480 characters." << QString();
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

void FunctionsTest::senderNumbers_data()
{
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("stored");
    // Up to 10 characters a number is taken as international and gets its plus unless it has one; longer ones
    // keep a leading plus or trunk 0 as listed.
    const auto row = [](const char* name, const char* listed, const char* stored) {
        QTest::newRow(name) << QString(listed) << QString(stored);
    };
    row("9 characters", "098123456", "+098123456");
    row("10 characters", "0981234567", "+0981234567");
    row("11 characters, trunk 0", "09812345678", "09812345678");
    row("11 characters, plus", "+9198123456", "+9198123456");
    // A short number listed with its plus already has it: a second one would make it a number nobody has.
    row("9 characters, plus", "+15559999", "+15559999");
    row("10 characters, plus", "+155599990", "+155599990");
    row("11 digits", "91981234567", "+91981234567");
    row("blanks around", " 919812345678 ", "+919812345678");
}

void FunctionsTest::senderNumbers()
{
    QFETCH(QString, listed);
    QFETCH(QString, stored);
    QCOMPARE(NormaliseSenderNumber(listed), stored);
}

void FunctionsTest::scaledDelay_data()
{
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("delayMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("fastest listing") << 1.0 << 400.0 << 400;
    QTest::newRow("slowest listing") << 7.0 << 400.0 << 2800;
    QTest::newRow("half to even down") << 1.25 << 50.0 << 62;
    QTest::newRow("half to even up") << 1.75 << 50.0 << 88;
    QTest::newRow("1e300: factor 1") << 1e300 << 75.0 << 75;
    QTest::newRow("past int: factor 1") << 3e7 << 75.0 << 75;
    QTest::newRow("-1e300: factor 1") << -1e300 << 100.0 << 100;
    QTest::newRow("infinity: factor 1") << inf << 50.0 << 50;
    QTest::newRow("NaN: factor 1") << std::numeric_limits<double>::quiet_NaN() << 120.0 << 120;
}

void FunctionsTest::scaledDelay()
{
    QFETCH(double, factor);
    QFETCH(double, delayMs);
    QFETCH(int, expected);
    QCOMPARE(ScaledDelay(factor, delayMs), expected);
}

void FunctionsTest::storedSettingsBeyondRange_data()
{
    QTest::addColumn<QString>("delayFactor");
    QTest::addColumn<QString>("receiveTime");
    QTest::addColumn<int>("listingWaitMs");
    QTest::addColumn<int>("receiveSeconds");
    const auto row = [](const char* name, const char* factor, const char* receive, int waitMs, int seconds) {
        QTest::newRow(name) << factor << receive << waitMs << seconds;
    };
    row("in range", "2.5", "12.5", 1000, 12);
    row("1e300", "1e300", "1e300", 400, 0);
    row("-1e300", "-1e300", "-1e300", 400, 0);
    row("just past 2^63", "2.5", "9223372036854775808", 1000, 0);
    row("large but whole", "2.5", "9e18", 1000, 32767);
}

// A stored interval that cannot be rounded is "off" (0), as a text that is not numeric; a delay factor that
// cannot scale a wait leaves the wait as the default factor 1.0 has it.
void FunctionsTest::storedSettingsBeyondRange()
{
    QFETCH(QString, delayFactor);
    QFETCH(QString, receiveTime);
    QFETCH(int, listingWaitMs);
    QFETCH(int, receiveSeconds);
    TestRig rig;
    WriteModemSetting(rig.db, {1, u"9600"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, 0, delayFactor});
    WriteTimerSetting(rig.db, {-1, receiveTime, -1, u"10"_s, u"DIRECT DELIVER"_s});
    LoadRunningSettings(rig.state, rig.db, rig.log);
    QCOMPARE(ScaledDelay(ReadDelayFactor(rig.db), 400), listingWaitMs);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(receiveSeconds));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(10));
}

QTEST_GUILESS_MAIN(FunctionsTest)
#include "tst_functions.moc"
