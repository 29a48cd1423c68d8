// Incoming calls: the ring and caller-id lines, the call record, the caller's country and mobile number,
// the call watch pausing the timers, and the reply to a missed call from a mobile.
#include "EngineRig.h"

namespace {

// Lets the call ring out while the refresh tick runs as the main window's timer would (every ~250 ms here).
void ringOut(EngineRig& rig, bool* pausedDuringCall = nullptr)
{
    QElapsedTimer t;
    t.start();
    bool sawRinging = false;
    while (t.elapsed() < 8000) {
        QTest::qWait(250);
        rig.engine.timerRefreshHomePage_Timer();
        const bool ringing = rig.sim.callRinging();
        if (ringing && rig.engine.callState().RingDetected && pausedDuringCall && !sawRinging) {
            // Once the watch has seen the call, delivery and reception are paused.
            if (!rig.engine.Timer1.isEnabled() && !rig.engine.Timer2.isEnabled())
                *pausedDuringCall = sawRinging = true;
        }
        if (!ringing && !rig.engine.callState().RingDetected && rig.engine.Timer1.isEnabled())
            break;
    }
    // Two more ticks: the one that finds the ringing over queues the reply.
    for (int i = 0; i < 2; ++i) {
        QTest::qWait(100);
        rig.engine.timerRefreshHomePage_Timer();
    }
}

QStringList outboxRecipients(Database& db)
{
    QStringList out;
    Query q(db, QStringLiteral("SELECT RecipientMobileNo, Message, RecepId FROM Message_OutBox ORDER BY Outbox_Id"));
    while (q.next())
        out << q.value(0).toString() + QLatin1Char('|') + q.value(1).toString() + QLatin1Char('|') +
                   q.value(2).toString();
    return out;
}

} // namespace

class CallsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missedCallFromAMobileGetsOneReply_data();
    void missedCallFromAMobileGetsOneReply();
    void callerWithNonMobileNumberGetsNoReply();
    void ringWithoutCallerIdRecordsNothing();
    void openWindowDefersTheCallDisplay();
    void identifyCallerNumber_data();
    void identifyCallerNumber();
};

void CallsTest::missedCallFromAMobileGetsOneReply_data()
{
    QTest::addColumn<bool>("noCarrier");
    QTest::newRow("caller leaves with NO CARRIER") << true;
    QTest::newRow("modem says nothing when the caller leaves") << false;
}

void CallsTest::missedCallFromAMobileGetsOneReply()
{
    QFETCH(bool, noCarrier);
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.ReceiveIntervalSeconds = 10;
    rig.state.SendIntervalSeconds = 10;
    rig.engine.applyTimerPeriods();
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = QStringLiteral("Sorry I missed you, I'll call back");

    rig.sim.incomingCall(QStringLiteral("+919812345678"), 3, 700, noCarrier);
    bool paused = false;
    ringOut(rig, &paused);

    QVERIFY(paused);
    QVERIFY(rig.engine.Timer1.isEnabled() && rig.engine.Timer2.isEnabled());
    QCOMPARE(rig.engine.Timer1.interval(), 10000);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics WHERE IsMissCall <> 0 AND "
                                         "callerNumber = '+919812345678'")),
             1);
    QCOMPARE(rig.engine.callState().identifications, 3);
    QCOMPARE(rig.sound.played.size(), 3);
    QVERIFY(rig.sound.played.first().endsWith(QLatin1String("ringing.wav")));
    QCOMPARE(rig.engine.callState().CountryCode, QStringLiteral("91"));
    QCOMPARE(rig.engine.callState().MobileNumber, QStringLiteral("9812345678"));
    QCOMPARE(outboxRecipients(rig.db),
             QStringList{QStringLiteral("+919812345678|Sorry I missed you, I'll call back|0")});
    QVERIFY(
        rig.log.text().contains(QStringLiteral("] : ALERT : Incoming call detected from the number '+919812345678'")));
    QVERIFY(!rig.engine.callState().callInProgress());

    // One reply per call, and it is delivered like any Outbox row.
    rig.engine.timerRefreshHomePage_Timer();
    QTest::qWait(300);
    QCOMPARE(outboxRecipients(rig.db).size(), 1);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(rig.sim.sent().first().number, QStringLiteral("+919812345678"));
    QCOMPARE(rig.sim.sent().first().text, QStringLiteral("Sorry I missed you, I'll call back"));
}

void CallsTest::callerWithNonMobileNumberGetsNoReply()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = QStringLiteral("reply");
    rig.sim.incomingCall(QStringLiteral("00911234567890"), 2, 700, true);
    ringOut(rig);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), 1);
    QVERIFY(!rig.engine.callState().IsLastCallerNumberMobile);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox")), 0);
}

void CallsTest::ringWithoutCallerIdRecordsNothing()
{
    EngineRig rig;
    QVERIFY(rig.connectModem(false));
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = QStringLiteral("reply");
    rig.sim.incomingCall(QStringLiteral("+919812345678"), 2, 700, true);
    ringOut(rig);
    QCOMPARE(rig.sound.played.size(), 2);
    QCOMPARE(rig.engine.callState().identifications, 0);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), 0);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox")), 0);
}

void CallsTest::openWindowDefersTheCallDisplay()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.ChildWindowOpen = true;
    rig.sim.incomingCall(QStringLiteral("+919812345678"), 2, 700, true);
    ringOut(rig);
    QCOMPARE(rig.engine.callState().identifications, 0);
    QCOMPARE(rig.dialogs.messages(),
             QStringList(2, QStringLiteral("Please close all opened forms in application to disply Incomming Call.")));
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), 1);
}

void CallsTest::identifyCallerNumber_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("countryCode");
    QTest::addColumn<bool>("mobile");
    QTest::addColumn<QString>("mobileNumber");
    QTest::newRow("+91 mobile") << "+919812345678"
                                << "91" << true << "9812345678";
    QTest::newRow("00 91, national part 1") << "00911234567890"
                                            << "91" << false << "0";
    QTest::newRow("Bahamas before 1") << "+12425551234"
                                      << "1242" << false << "0";
    QTest::newRow("no prefix, leading 0 dropped") << "09812345678"
                                                  << "0" << true << "9812345678";
    QTest::newRow("UK with trunk 0") << "+4407911123456"
                                     << "44" << false << "0";
    QTest::newRow("UAE 971 not 97") << "+971912345678"
                                    << "971" << true << "912345678";
}

void CallsTest::identifyCallerNumber()
{
    QFETCH(QString, number);
    QFETCH(QString, countryCode);
    QFETCH(bool, mobile);
    QFETCH(QString, mobileNumber);
    EngineRig rig;
    rig.engine.IdentifyCallerNumber(number);
    QCOMPARE(rig.engine.callState().CountryCode, countryCode);
    QCOMPARE(rig.engine.callState().IsLastCallerNumberMobile, mobile);
    QCOMPARE(rig.engine.callState().MobileNumber, mobileNumber);
    QCOMPARE(rig.engine.callState().userId, QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(CallsTest)
#include "tst_calls.moc"
