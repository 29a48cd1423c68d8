// The activity log: entry format, newest on top, trimming at 12000 characters, the recording switch.
#include "TestRig.h"
#include "common/FunctionsLibrary.h"

class ActivityLogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entriesGoOnTopInTheirFormat();
    void stopLeavesTheLogUnchangedUntilStart();
    void trimsOnlyAbove12000Characters();
    void clearEmptiesIt();
};

void ActivityLogTest::entriesGoOnTopInTheirFormat()
{
    TestRig rig(false);
    rig.clock.set(QDateTime(QDate(2026, 12, 4), QTime(20, 15, 2)));
    const QString stamp = QLatin1Char('[') + GeneralDateTime(rig.clock.now()) + QStringLiteral("] : ");
    QVERIFY(stamp.contains(QLatin1String("2026")));
    rig.log.WriteActivityLog(QStringLiteral("Checking if there are any SMS to be sent."));
    rig.log.WriteActivityLog(QString());
    QCOMPARE(rig.log.text(),
             stamp + QStringLiteral("\r\n") + stamp + QStringLiteral("Checking if there are any SMS to be sent.\r\n"));
}

void ActivityLogTest::stopLeavesTheLogUnchangedUntilStart()
{
    TestRig rig(false);
    rig.log.WriteActivityLog(QStringLiteral("one"));
    const QString before = rig.log.text();
    rig.state.ActivityLogOn = false;
    rig.log.WriteActivityLog(QStringLiteral("two"));
    QCOMPARE(rig.log.text(), before);
    rig.state.ActivityLogOn = true;
    rig.log.WriteActivityLog(QStringLiteral("three"));
    QVERIFY(rig.log.text().endsWith(before));
    QVERIFY(rig.log.text().contains(QLatin1String("] : three\r\n")));
}

void ActivityLogTest::trimsOnlyAbove12000Characters()
{
    for (int total : {12000, 12001}) {
        TestRig rig(false);
        const QString stamp = QLatin1Char('[') + GeneralDateTime(rig.clock.now()) + QStringLiteral("] : ");
        const QString message = QString(total - int(stamp.size()) - 2, 'x');
        rig.log.WriteActivityLog(message);
        const QString whole = stamp + message + QStringLiteral("\r\n");
        QCOMPARE(whole.size(), total);
        if (total == 12000) {
            QCOMPARE(rig.log.text(), whole);
        } else {
            QCOMPARE(rig.log.text(), stamp +
                                         QStringLiteral("**NOTICE** Removing old entries from the activity log.\r\n") +
                                         whole.left(2000));
        }
    }
}

void ActivityLogTest::clearEmptiesIt()
{
    TestRig rig(false);
    rig.log.WriteActivityLog(QStringLiteral("one"));
    rig.state.ActivityLogOn = false;
    rig.log.clear();
    QVERIFY(rig.log.text().isEmpty());
}

QTEST_GUILESS_MAIN(ActivityLogTest)
#include "tst_activitylog.moc"
