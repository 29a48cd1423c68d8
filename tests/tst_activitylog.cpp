// The activity log: entry format, newest on top, trimming at 12000 characters, the recording switch, clearing.
#include "TestRig.h"
#include "common/FunctionsLibrary.h"

using namespace Qt::StringLiterals;

class ActivityLogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entriesGoOnTopInTheirFormat();
    void stopLeavesTheLogUnchangedUntilStartAndClearEmptiesIt();
    void trimsOnlyAbove12000Characters();
};

void ActivityLogTest::entriesGoOnTopInTheirFormat()
{
    TestRig rig(false);
    rig.clock.set(QDateTime(QDate(2026, 12, 4), QTime(20, 15, 2)));
    const QString stamp = QLatin1Char('[') + GeneralDateTime(rig.clock.now()) + u"] : "_s;
    QVERIFY(stamp.contains("2026"_L1));
    rig.log.WriteActivityLog(u"Checking if there are any SMS to be sent."_s);
    rig.log.WriteActivityLog(QString());
    QCOMPARE(rig.log.text(), stamp + u"\r\n"_s + stamp + u"Checking if there are any SMS to be sent.\r\n"_s);
}

void ActivityLogTest::stopLeavesTheLogUnchangedUntilStartAndClearEmptiesIt()
{
    TestRig rig(false);
    rig.log.WriteActivityLog(u"one"_s);
    const QString before = rig.log.text();
    rig.state.ActivityLogOn = false;
    rig.log.WriteActivityLog(u"two"_s);
    QCOMPARE(rig.log.text(), before);
    rig.state.ActivityLogOn = true;
    rig.log.WriteActivityLog(u"three"_s);
    QVERIFY(rig.log.text().endsWith(before));
    QVERIFY(rig.log.text().contains("] : three\r\n"_L1));
    rig.state.ActivityLogOn = false;
    rig.log.clear();
    QVERIFY(rig.log.text().isEmpty());
}

void ActivityLogTest::trimsOnlyAbove12000Characters()
{
    for (int total : {12000, 12001}) {
        TestRig rig(false);
        const QString stamp = QLatin1Char('[') + GeneralDateTime(rig.clock.now()) + u"] : "_s;
        const QString message = QString(total - int(stamp.size()) - 2, 'x');
        rig.log.WriteActivityLog(message);
        const QString whole = stamp + message + u"\r\n"_s;
        QCOMPARE(whole.size(), total);
        if (total == 12000) {
            QCOMPARE(rig.log.text(), whole);
        } else {
            QCOMPARE(rig.log.text(),
                     stamp + u"**NOTICE** Removing old entries from the activity log.\r\n"_s + whole.left(2000));
        }
    }
}

QTEST_GUILESS_MAIN(ActivityLogTest)
#include "tst_activitylog.moc"
