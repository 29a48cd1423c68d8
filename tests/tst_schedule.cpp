// When rows go out: the quiet-hours window by itself, a row waiting for its chosen time, quiet hours holding
// rows back but for the replies to missed calls when the user allows it, and moving or cancelling a row.
#include "EngineRig.h"
#include "compose/frm_ComposeSMS.h"
#include "store/OutboxRepository.h"
#include "store/Schedule.h"
#include "views/MessageTextEdit.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class ScheduleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void quietHours_data();
    void quietHours();
    void rowWaitsForItsTime();
    void quietHoursHoldRows_data();
    void quietHoursHoldRows();
    void rescheduleAndCancel();
    void composeQueuesAtTheChosenTime_data();
    void composeQueuesAtTheChosenTime();
};

namespace {

// A winter day, far from any change of the clocks.
const QDate Day(2024, 1, 15);

QStringList sentTexts(const ModemSimulator& sim)
{
    QStringList texts;
    for (const ModemSimulator::SentMessage& m : sim.sent())
        texts << m.text;
    return texts;
}

} // namespace

void ScheduleTest::quietHours_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<QTime>("end");
    QTest::addColumn<QTime>("at");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<int>("endDay"); // the day of nextEnd after Day, when inside

    const QTime nine(21, 0), eight(8, 0);
    QTest::newRow("unset") << QTime() << QTime() << QTime(23, 0) << false << 0;
    QTest::newRow("only a start") << nine << QTime() << QTime(23, 0) << false << 0;
    QTest::newRow("no length") << nine << nine << nine << false << 0;
    QTest::newRow("wrap: at the start") << nine << eight << nine << true << 1;
    QTest::newRow("wrap: evening") << nine << eight << QTime(23, 59, 59) << true << 1;
    QTest::newRow("wrap: midnight") << nine << eight << QTime(0, 0) << true << 0;
    QTest::newRow("wrap: just before the end") << nine << eight << QTime(7, 59, 59) << true << 0;
    QTest::newRow("wrap: at the end") << nine << eight << eight << false << 0;
    QTest::newRow("wrap: day") << nine << eight << QTime(12, 0) << false << 0;
    QTest::newRow("wrap: just before the start") << nine << eight << QTime(20, 59, 59) << false << 0;
    QTest::newRow("plain: inside") << QTime(12, 0) << QTime(14, 0) << QTime(13, 0) << true << 0;
    QTest::newRow("plain: at the end") << QTime(12, 0) << QTime(14, 0) << QTime(14, 0) << false << 0;
    QTest::newRow("plain: night") << QTime(12, 0) << QTime(14, 0) << QTime(23, 0) << false << 0;
}

void ScheduleTest::quietHours()
{
    QFETCH(QTime, start);
    QFETCH(QTime, end);
    QFETCH(QTime, at);
    QFETCH(bool, inside);
    QFETCH(int, endDay);
    const QuietHours quiet{start, end};
    QCOMPARE(quiet.contains(at), inside);
    const QDateTime moment(Day, at);
    QCOMPARE(quiet.contains(moment.toUTC()), inside); // a moment is looked at in local time
    const QDateTime next = quiet.nextEnd(moment);
    QCOMPARE(next, inside ? QDateTime(Day.addDays(endDay), end) : moment);
    QVERIFY(!quiet.contains(next));
}

void ScheduleTest::rowWaitsForItsTime()
{
    EngineRig rig;
    rig.clock.set(QDateTime(Day, QTime(10, 0)));
    QVERIFY(rig.connectModem());
    OutboxRepository outbox(rig.db);
    const QDateTime sendAt = rig.clock.now().addSecs(3600);
    outbox.queueMessage(u"+447700900123"_s, u"later"_s, rig.clock.now(), 0, QueueOptions::SendAt(sendAt));
    rig.queue(u"+447700900124"_s, u"now"_s);

    rig.deliver();
    QCOMPARE(sentTexts(rig.sim), QStringList{u"now"_s});
    rig.clock.set(sendAt.addMSecs(-1));
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim), QStringList{u"now"_s});
    rig.clock.set(sendAt);
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim), (QStringList{u"now"_s, u"later"_s}));
}

void ScheduleTest::quietHoursHoldRows_data()
{
    QTest::addColumn<bool>("repliesExempt");
    QTest::newRow("replies exempt") << true;
    QTest::newRow("replies held too") << false;
}

void ScheduleTest::quietHoursHoldRows()
{
    QFETCH(bool, repliesExempt);
    EngineRig rig;
    rig.clock.set(QDateTime(Day, QTime(22, 30)));
    QVERIFY(rig.connectModem());
    QCOMPARE(ReadScheduleSettings(rig.db).quiet.enabled(), false); // none until the user sets them
    QCOMPARE(ReadScheduleSettings(rig.db).repliesExempt, true);
    WriteScheduleSettings(rig.db, {{QTime(21, 0), QTime(8, 0)}, repliesExempt});
    const ScheduleSettings settings = ReadScheduleSettings(rig.db);
    QCOMPARE(settings.quiet.start, QTime(21, 0));
    QCOMPARE(settings.repliesExempt, repliesExempt);

    OutboxRepository outbox(rig.db);
    rig.queue(u"+447700900124"_s, u"news"_s);
    outbox.queueMessage(u"+447700900123"_s, u"missed you"_s, rig.clock.now(), 0, QueueOptions::AutoReply());
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim), repliesExempt ? QStringList{u"missed you"_s} : QStringList{});

    rig.clock.set(QDateTime(Day.addDays(1), QTime(7, 59)));
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim).size(), repliesExempt ? 1 : 0);
    rig.clock.set(settings.quiet.nextEnd(rig.clock.now()));
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim).size(), 2);
}

void ScheduleTest::rescheduleAndCancel()
{
    EngineRig rig;
    rig.clock.set(QDateTime(Day, QTime(10, 0)));
    QVERIFY(rig.connectModem());
    OutboxRepository outbox(rig.db);
    const QDateTime tomorrow = rig.clock.now().addDays(1);
    const qint64 moved =
        outbox.queueMessage(u"+447700900123"_s, u"moved"_s, rig.clock.now(), 0, QueueOptions::SendAt(tomorrow));
    const qint64 cancelled =
        outbox.queueMessage(u"+447700900124"_s, u"cancelled"_s, rig.clock.now(), 0, QueueOptions::SendAt(tomorrow));
    const qint64 dropped = outbox.queueMessage(u"+447700900125"_s, u"dropped"_s, rig.clock.now());

    QVERIFY(outbox.reschedule(moved, rig.clock.now().addSecs(60)));
    QVERIFY(outbox.cancel(cancelled));
    QVERIFY(outbox.cancel(dropped));
    QCOMPARE(outbox.record(cancelled)->status, QString::fromLatin1(OutboxRepository::CancelledStatus));
    rig.clock.advance(60 * 1000);
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim), QStringList{u"moved"_s});

    // Only waiting rows move or go: not a sent one, not a cancelled one, not one a modem holds.
    QVERIFY(!outbox.reschedule(moved, tomorrow));
    QVERIFY(!outbox.cancel(moved));
    QVERIFY(!outbox.reschedule(cancelled, rig.clock.now()));
    const qint64 held = outbox.queueMessage(u"+447700900126"_s, u"held"_s, rig.clock.now());
    QVERIFY(outbox.claim(2, rig.clock.now(), std::chrono::seconds(60)));
    QVERIFY(!outbox.cancel(held));
    rig.clock.advance(24LL * 3600 * 1000);
    rig.deliver();
    QCOMPARE(sentTexts(rig.sim), (QStringList{u"moved"_s, u"held"_s}));
}

void ScheduleTest::composeQueuesAtTheChosenTime_data()
{
    QTest::addColumn<bool>("chosen");
    QTest::newRow("send at") << true;
    QTest::newRow("as soon as it can") << false;
}

void ScheduleTest::composeQueuesAtTheChosenTime()
{
    QFETCH(bool, chosen);
    TestRig rig;
    rig.clock.set(QDateTime(Day, QTime(10, 0)));
    Engine engine{rig.state, rig.db, rig.log};
    QPointer<frm_ComposeSMS> window = new frm_ComposeSMS(engine);
    window->show();
    window->findChild<QLineEdit*>(u"MobileNumbers"_s)->setText(u"9888812121,9888812122"_s);
    window->findChild<MessageTextEdit*>(u"Message"_s)->setText(u"hello"_s);
    const QDateTime at(Day, QTime(18, 30)); // local, as the user types it
    window->findChild<QCheckBox*>(u"chkSendAt"_s)->setChecked(chosen);
    window->findChild<QDateTimeEdit*>(u"dtpSendAt"_s)->setDateTime(at);
    QTest::mouseClick(window->findChild<QPushButton*>(u"Command1"_s), Qt::LeftButton);
    Query q(rig.db, u"SELECT SendAt FROM Message_OutBox"_s);
    int rows = 0;
    for (; q.next(); ++rows)
        QCOMPARE(q.value(0).isNull() ? QDateTime() : Database::FromDbTime(q.value(0)), chosen ? at : QDateTime());
    QCOMPARE(rows, 2);
    delete window.data();
}

QTEST_MAIN(ScheduleTest)
#include "tst_schedule.moc"
