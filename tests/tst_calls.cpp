// Incoming calls: the ring and caller-id lines, the call record, the caller's country and mobile number,
// the call watch pausing the timers, and the reply to a missed call from a mobile.
#include "EngineRig.h"

using namespace Qt::StringLiterals;

namespace {

// Lets the call ring out while the refresh tick runs as the main window's timer would (every ~50 ms here: the
// rings come on the modem's virtual clock, which runs four times faster than real time between exchanges).
void ringOut(EngineRig& rig, bool* pausedDuringCall = nullptr)
{
    rig.simLine->setIdlePace(4);
    QElapsedTimer t;
    t.start();
    bool sawRinging = false;
    while (t.elapsed() < 8000) {
        QTest::qWait(50);
        rig.engine.timerRefreshHomePage_Timer();
        const bool ringing = rig.sim.callRinging();
        if (ringing && rig.engine.callState().ringDetected() && pausedDuringCall && !sawRinging) {
            // Once the watch has seen the call, delivery and reception are paused.
            if (!rig.engine.Timer1.isEnabled() && !rig.engine.Timer2.isEnabled())
                *pausedDuringCall = sawRinging = true;
        }
        if (!ringing && !rig.engine.callState().ringDetected() && rig.engine.Timer1.isEnabled())
            break;
    }
    // Two more ticks: the one that finds the ringing over queues the reply.
    for (int i = 0; i < 2; ++i) {
        QTest::qWait(50);
        rig.engine.timerRefreshHomePage_Timer();
    }
}

QStringList outboxRecipients(Database& db)
{
    return queryTexts(db, u"SELECT RecipientMobileNo || '|' || Message || '|' || RecepId FROM "
                          u"Message_OutBox ORDER BY Outbox_Id"_s);
}

} // namespace

class CallsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missedCallFromAMobileGetsOneReply_data();
    void missedCallFromAMobileGetsOneReply();
    void twoMissedCallsInARowGetTwoRowsAndTwoReplies_data();
    void twoMissedCallsInARowGetTwoRowsAndTwoReplies();
    void replyNeedsAMobileNumberOfTenCharacters_data();
    void replyNeedsAMobileNumberOfTenCharacters();
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
    rig.state.AutoReplyText = u"Sorry I missed you, I'll call back"_s;

    rig.sim.incomingCall(u"+919812345678"_s, 3, 700, noCarrier);
    bool paused = false;
    ringOut(rig, &paused);

    QVERIFY(paused);
    QVERIFY(rig.engine.Timer1.isEnabled() && rig.engine.Timer2.isEnabled());
    QCOMPARE(rig.engine.Timer1.interval(), 10000);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM MissedCallStatistics WHERE IsMissCall <> 0 AND "
                          u"callerNumber = '+919812345678'"_s),
             1);
    QCOMPARE(rig.engine.callState().identifications(), 3);
    QCOMPARE(rig.sound.played.size(), 3);
    QVERIFY(rig.sound.played.first().endsWith("ringing.wav"_L1));
    QCOMPARE(rig.engine.callState().countryCode(), u"91"_s);
    QCOMPARE(rig.engine.callState().mobileNumber(), u"9812345678"_s);
    QCOMPARE(outboxRecipients(rig.db), QStringList{u"+919812345678|Sorry I missed you, I'll call back|0"_s});
    QVERIFY(rig.log.text().contains(u"] : ALERT : Incoming call detected from the number '+919812345678'"_s));
    QVERIFY(!rig.engine.callState().callInProgress());

    // One reply per call, and it is delivered like any Outbox row.
    rig.engine.timerRefreshHomePage_Timer();
    QTest::qWait(300);
    QCOMPARE(outboxRecipients(rig.db).size(), 1);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(rig.sim.sent().first().number, u"+919812345678"_s);
    QCOMPARE(rig.sim.sent().first().text, u"Sorry I missed you, I'll call back"_s);
}

void CallsTest::twoMissedCallsInARowGetTwoRowsAndTwoReplies_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("noCarrier");
    QTest::newRow("the same caller again, NO CARRIER") << u"+919812345678"_s << true;
    QTest::newRow("another caller, the modem says nothing") << u"+919811111111"_s << false;
}

void CallsTest::twoMissedCallsInARowGetTwoRowsAndTwoReplies()
{
    QFETCH(QString, second);
    QFETCH(bool, noCarrier);
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = u"reply"_s;
    const QString first = u"+919812345678"_s;
    rig.sim.incomingCall(first, 2, 500, noCarrier);
    ringOut(rig);
    rig.sim.incomingCall(second, 2, 500, noCarrier);
    ringOut(rig);
    QCOMPARE(queryTexts(rig.db, u"SELECT callerNumber FROM MissedCallStatistics WHERE IsMissCall <> 0 ORDER BY id"_s),
             (QStringList{first, second}));
    QCOMPARE(outboxRecipients(rig.db), (QStringList{first + u"|reply|0"_s, second + u"|reply|0"_s}));
    QCOMPARE(rig.sound.played.size(), 4);
}

void CallsTest::replyNeedsAMobileNumberOfTenCharacters_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("mobile");
    QTest::addColumn<bool>("replied");
    // Each of the first three is a mobile (91, then a 9); only its length as the modem gave it differs.
    QTest::newRow("9 characters") << "919812345" << true << false;
    QTest::newRow("10 characters") << "9198123456" << true << true;
    QTest::newRow("11 characters") << "91981234567" << true << true;
    QTest::newRow("not a mobile") << "00911234567890" << false << false;
}

void CallsTest::replyNeedsAMobileNumberOfTenCharacters()
{
    QFETCH(QString, number);
    QFETCH(bool, mobile);
    QFETCH(bool, replied);
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = u"reply"_s;
    rig.sim.incomingCall(number, 2, 700, true);
    ringOut(rig);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM MissedCallStatistics"_s), 1);
    QCOMPARE(rig.engine.callState().identifications(), 2);
    QCOMPARE(outboxRecipients(rig.db), replied ? QStringList{number + u"|reply|0"_s} : QStringList());
    if (!replied) // a reply forgets the caller
        QCOMPARE(rig.engine.callState().isLastCallerNumberMobile(), mobile);
}

void CallsTest::ringWithoutCallerIdRecordsNothing()
{
    EngineRig rig;
    QVERIFY(rig.connectModem(false));
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = u"reply"_s;
    rig.sim.incomingCall(u"+919812345678"_s, 2, 700, true);
    ringOut(rig);
    QCOMPARE(rig.sound.played.size(), 2);
    QCOMPARE(rig.engine.callState().identifications(), 0);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM MissedCallStatistics"_s), 0);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox"_s), 0);
}

void CallsTest::openWindowDefersTheCallDisplay()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.state.ChildWindowOpen = true;
    rig.sim.incomingCall(u"+919812345678"_s, 2, 700, true);
    ringOut(rig);
    QCOMPARE(rig.engine.callState().identifications(), 0);
    QCOMPARE(rig.dialogs.notices(),
             QStringList{u"Please close all opened forms in application to disply Incomming Call."_s});
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM MissedCallStatistics"_s), 1);
}

void CallsTest::identifyCallerNumber_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("countryCode");
    QTest::addColumn<bool>("mobile");
    QTest::addColumn<QString>("mobileNumber");
    const auto row = [](const char* name, const char* number, const char* country, bool mobile, const char* national) {
        QTest::newRow(name) << number << country << mobile << national;
    };
    row("+91 mobile", "+919812345678", "91", true, "9812345678");
    row("00 91, national part 1", "00911234567890", "91", false, "0");
    row("Bahamas before 1", "+12425551234", "1242", false, "0");
    row("UK with trunk 0", "+4407911123456", "44", false, "0");
    row("UAE 971 not 97", "+971912345678", "971", true, "912345678");
    // A leading trunk 0 is dropped from a national part of 11 characters or more only.
    row("trunk 0, 9 characters", "098123456", "0", false, "0");
    row("trunk 0, 10 characters", "0981234567", "0", false, "0");
    row("trunk 0, 11 characters", "09812345678", "0", true, "9812345678");
    row("+91 and trunk 0, 11 characters", "+9109812345678", "91", true, "9812345678");
}

void CallsTest::identifyCallerNumber()
{
    QFETCH(QString, number);
    QFETCH(QString, countryCode);
    QFETCH(bool, mobile);
    QFETCH(QString, mobileNumber);
    EngineRig rig;
    rig.engine.IdentifyCallerNumber(number);
    QCOMPARE(rig.engine.callState().countryCode(), countryCode);
    QCOMPARE(rig.engine.callState().isLastCallerNumberMobile(), mobile);
    QCOMPARE(rig.engine.callState().mobileNumber(), mobileNumber);
    QCOMPARE(rig.engine.callState().userId(), u"0"_s);
}

QTEST_GUILESS_MAIN(CallsTest)
#include "tst_calls.moc"
