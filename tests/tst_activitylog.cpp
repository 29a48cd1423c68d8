// The activity log: entry format, newest on top, trimming at 12000 characters, the recording switch, clearing;
// what the window shows of long entries, and the periodic checks that found nothing new kept out of it.
#include "EngineRig.h"
#include "common/FunctionsLibrary.h"

#include <QDir>

using namespace Qt::StringLiterals;

class ActivityLogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entriesGoOnTopInTheirFormat();
    void stopLeavesTheLogUnchangedUntilStartAndClearEmptiesIt();
    void trimsOnlyAbove12000Characters();
    void longEntriesShowAsOneShortLine_data();
    void longEntriesShowAsOneShortLine();
    void checksThatFindNothingNewStayOutOfTheWindow_data();
    void checksThatFindNothingNewStayOutOfTheWindow();
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
        // Entries of 100 characters, the last one making up the rest.
        QString whole;
        while (whole.size() < total) {
            const qsizetype room = total - whole.size();
            const qsizetype length = room >= 200 ? 100 : room;
            const QString message(length - stamp.size() - 2, QLatin1Char('g' + int(whole.size() / 100) % 20));
            rig.log.WriteActivityLog(message);
            whole = stamp + message + u"\r\n"_s + whole;
        }
        QCOMPARE(whole.size(), total);
        if (total == 12000) {
            QCOMPARE(rig.log.text(), whole);
        } else {
            QCOMPARE(rig.log.text(),
                     stamp + u"**NOTICE** Removing old entries from the activity log.\r\n"_s + whole.left(2000));
        }
    }
}

void ActivityLogTest::longEntriesShowAsOneShortLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    const QString pdu = u"07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07"_s;
    QTest::newRow("one line") << u"Response for ATE0 is 'OK'"_s << u"Response for ATE0 is 'OK'"_s;
    QTest::newRow("a multi-line answer")
        << u"Modem gives non expected response\r\nCommand: AT\r\r\nExpected response: >"_s
        << u"Modem gives non expected response Command: AT Expected response: >"_s;
    QTest::newRow("PDU hex") << u"Response for AT+CMGL=4 is '+CMGL: 1,0,,39 "_s + pdu + u" OK'"_s
                             << u"Response for AT+CMGL=4 is '+CMGL: 1,0,,39 "_s + pdu.left(16) + u"... OK'"_s;
    const QString listing = u"+CMGL: 1,\"REC READ\",\"+919812345678\",,\"26/01/01,00:00:00+00\" Hello there"_s;
    QString many;
    for (int i = 0; i < 10; ++i)
        many += listing;
    QTest::newRow("a long listing") << many
                                    << many.left(ActivityLog::WindowLineLimit) + u"... (in full in activity.log)"_s;
}

void ActivityLogTest::longEntriesShowAsOneShortLine()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    TestRig rig(false);
    QVERIFY(QDir().mkpath(rig.state.dataDir));
    const QString stamp = QLatin1Char('[') + GeneralDateTime(rig.clock.now()) + u"] : "_s;
    rig.log.WriteActivityLog(message);
    QCOMPARE(rig.log.text(), stamp + shown + u"\r\n"_s);
    QString whole = stamp + message;
    whole.replace(u"\r\n"_s, u"\n"_s);
    QCOMPARE(rig.logFile(), whole + u"\n"_s); // the file keeps it whole
}

void ActivityLogTest::checksThatFindNothingNewStayOutOfTheWindow_data()
{
    QTest::addColumn<bool>("onSim");
    QTest::addColumn<bool>("inOutbox");
    QTest::addColumn<bool>("askedByUser");
    QTest::addColumn<QStringList>("shown");
    const QString checkSim = u"Checking for new SMS on SIM card."_s;
    const QString checkOutbox = u"Checking if there are any SMS to be sent."_s;
    QTest::newRow("idle") << false << false << false << QStringList();
    QTest::newRow("a message on the SIM")
        << true << false << false << QStringList{checkSim, u"Response for AT+CMGL"_s, u"Received total 1 new SMS."_s};
    QTest::newRow("a message in the Outbox")
        << false << true << false << QStringList{checkOutbox, u"Total 1 SMS to be sent."_s, u"Sending SMS to"_s};
    QTest::newRow("nothing, asked for by the user")
        << false << false << true
        << QStringList{checkSim, u"No new SMS found on SIM card."_s, checkOutbox, u"Total 0 SMS to be sent."_s};
}

void ActivityLogTest::checksThatFindNothingNewStayOutOfTheWindow()
{
    QFETCH(bool, onSim);
    QFETCH(bool, inOutbox);
    QFETCH(bool, askedByUser);
    QFETCH(QStringList, shown);
    EngineRig rig;
    QVERIFY(rig.connectModem());
    QTRY_VERIFY(rig.engine.modemFree());
    rig.log.clear();
    if (onSim)
        rig.sim.storeMessage(u"REC UNREAD"_s, u"+919812345678"_s, u"hello"_s);
    if (inOutbox)
        rig.queue(u"9888812121"_s, u"out"_s);
    for (int round = 0; round < 2; ++round) {
        if (askedByUser) {
            QVERIFY(rig.engine.ReceiveNow());
            QTRY_VERIFY(!rig.engine.receiving());
            QVERIFY(rig.engine.SendNow());
            QTRY_VERIFY(!rig.engine.sending());
        } else {
            rig.receive();
            rig.deliver();
        }
        rig.engine.timerRefreshHomePage_Timer(); // the call watch
        QTRY_VERIFY(rig.engine.modemFree());
    }
    for (const QString& line : shown)
        QVERIFY2(rig.log.text().contains(line), qPrintable(line));
    if (shown.isEmpty())
        QCOMPARE(rig.log.text(), QString());
    // Every line is in the file all the same.
    const QString file = rig.logFile();
    for (const char* line :
         {"Checking for new SMS on SIM card.", "Response for AT+CMGL", "Checking if there are any SMS", "Total "})
        QVERIFY2(file.count(QLatin1String(line)) >= 2, line);
}

QTEST_GUILESS_MAIN(ActivityLogTest)
#include "tst_activitylog.moc"
