// A modem session's own initiative: the health poll that fills its status, the modem's announcement of a new
// message starting reception, and messages queued by the user going out without waiting for a timer.
#include "Conversation.h"
#include "EngineRig.h"

#include "store/OutboxRepository.h"

using namespace Qt::StringLiterals;

class ModemSessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void healthIsPolledAtConnect();
    void announcedMessageStartsReception();
    void queuedMessagesGoWithoutATimerTick();
};

void ModemSessionTest::healthIsPolledAtConnect()
{
    EngineRig rig;
    rig.sim.setSignal(17, 0);
    rig.engine.setHealthPollMs(60000);
    QVERIFY(rig.connectModem());
    QTRY_VERIFY(rig.engine.status().health.checked.isValid());
    const ModemHealth& health = rig.engine.status().health;
    QCOMPARE(health.rssi, 17);
    QCOMPARE(health.dbm(), -79);
    QVERIFY(health.registered());
    QVERIFY(!health.operatorName.isEmpty());
    QCOMPARE(health.imsi, rig.sim.serials().imsi);
    // Received messages are kept with the modem they came through and its SIM.
    rig.engine.Timer1.setEnabled(false);
    rig.sim.receiveSms(u"+447700900123"_s, u"signal test"_s);
    rig.engine.ReceiveNow();
    QTRY_COMPARE(inboxCount(rig.db), 1);
    QCOMPARE(queryTexts(rig.db, u"SELECT ModemId || '|' || ModemName FROM Message_InBox"_s),
             QStringList{u"1|Modem 1 (SIM %1)"_s.arg(health.imsi)});
}

void ModemSessionTest::announcedMessageStartsReception()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    // No timer lists the SIM: only the modem's +CMTI can start reception.
    rig.engine.Timer1.setEnabled(false);
    rig.engine.Timer2.setEnabled(false);
    rig.sim.receiveSms(u"+447700900124"_s, u"announced"_s);
    QTRY_COMPARE(inboxCount(rig.db), 1);
    QCOMPARE(inboxTexts(rig.db), QStringList{u"announced"_s});
}

void ModemSessionTest::queuedMessagesGoWithoutATimerTick()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.engine.Timer1.setEnabled(false);
    rig.engine.Timer2.setEnabled(false);
    OutboxRepository(rig.db).queueMessage(u"9888812121"_s, u"right away"_s, rig.state.clock->now());
    rig.engine.deliverNow();
    QTRY_COMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(rig.sim.sent().first().text, u"right away"_s);
    QTRY_VERIFY(!rig.engine.sending());
    QCOMPARE(queryTexts(rig.db, u"SELECT ModemId FROM Message_OutBox WHERE DeliveryDatetime IS NOT NULL"_s),
             QStringList{u"1"_s});
}

QTEST_MAIN(ModemSessionTest)
#include "tst_modem_session.moc"
