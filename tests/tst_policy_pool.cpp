// The sending policy over a pool, end to end: a campaign of 2,000 messages on two simulated modems of 10 parts a
// minute each, begun shortly before quiet hours, with a recipient of other messages answering STOP halfway. What the
// two networks logged, with the time each took a message, is the proof: no modem over its minute, nothing inside
// quiet hours, each campaign message once and in Sent Items, nothing to the stopped number after its STOP.
#include "PoolRig.h"
#include "store/CampaignRepository.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"
#include "store/Schedule.h"

#include <QHash>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A winter evening, far from any change of the clocks: ten minutes before quiet hours begin.
const QDateTime Start(QDate(2024, 1, 15), QTime(20, 50));
const QuietHours Quiet{QTime(21, 0), QTime(8, 0)};
constexpr int PerMinute = 10;
constexpr int CampaignSize = 2000;
constexpr int StopperEvery = 40; // a message to the number that answers STOP among every 40 of the campaign
const QString Stopper = u"+447700900555"_s;

QString numberOf(int i)
{
    return u"+44770091%1"_s.arg(i, 4, 10, QLatin1Char('0'));
}

// The most parts a modem's network took in any 60 seconds (a window (t - 60 s, t] ending at each of them).
int busiestMinute(QList<QDateTime> times)
{
    std::sort(times.begin(), times.end());
    int most = 0;
    for (qsizetype end = 0, begin = 0; end < times.size(); ++end) {
        while (times.at(begin) <= times.at(end).addSecs(-60))
            ++begin;
        most = std::max(most, int(end - begin + 1));
    }
    return most;
}

} // namespace

class PolicyPoolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void campaignKeepsLimitsQuietHoursAndStop();
};

void PolicyPoolTest::campaignKeepsLimitsQuietHoursAndStop()
{
    PoolRig rig(2);
    rig.clock.set(Start);
    ModemsRepository modems(rig.db);
    for (int id : rig.ids()) {
        ModemConfig m = *modems.find(id);
        m.limits.perMinute = PerMinute;
        modems.save(m);
    }
    WriteScheduleSettings(rig.db, {Quiet, true});
    rig.stampWithProgramClock();
    rig.commitWithoutSync();
    QVERIFY(rig.connectAll());
    rig.engine.Timer1.setEnabled(false);
    rig.engine.Timer2.setEnabled(false);

    const qint64 campaign = CampaignRepository(rig.db).create(u"January offer"_s, Start);
    rig.db.beginTransaction();
    {
        OutboxRepository::Batch batch(rig.db, campaign);
        for (int i = 0; i < CampaignSize; ++i) {
            batch.add(numberOf(i), u"Dear customer %1, our January offer ends on Friday."_s.arg(i), Start);
            if (i % StopperEvery == 0)
                rig.queue(Stopper, u"Your order %1 is on its way."_s.arg(i));
        }
    }
    rig.db.commit();
    const int toStopper = CampaignSize / StopperEvery;

    // The clock moves 7 seconds a delivery (a step that no minute divides), 10 minutes at a time deep in the night.
    auto sentToStopper = [&] {
        int n = 0;
        for (int id : rig.ids())
            for (const ModemSimulator::SentMessage& m : rig.simOf(id).sent())
                n += m.number == Stopper;
        return n;
    };
    const qint64 all = CampaignSize + toStopper;
    int beforeStop = -1;
    QDateTime stoppedAt;
    int rounds = 0;
    auto settled = [&] {
        return rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus IN ('SENT', 'OPTED OUT')"_s);
    };
    while (settled() < all && rounds < 5000) {
        if (beforeStop < 0 && rig.sentRows() >= all / 2) {
            rig.sim.receiveSms(Stopper, u"STOP"_s);
            rig.receive();
            QTRY_COMPARE(rig.db.count(u"SELECT count(*) FROM Message_InBox"_s), 1);
            QVERIFY(OptOutRepository(rig.db).contains(Stopper));
            beforeStop = sentToStopper();
            stoppedAt = rig.clock.now();
        }
        QVERIFY(rig.deliverAll());
        const bool deepNight = Quiet.contains(rig.clock.now()) && Quiet.contains(rig.clock.now().addSecs(600));
        rig.clock.advance(deepNight ? 600 * 1000 : 7 * 1000);
        ++rounds;
    }
    QCOMPARE(settled(), all);
    QVERIFY2(rig.clock.now() > Start.addSecs(100 * 60), qPrintable(rig.clock.now().toString()));

    // The networks' logs: every campaign number once, within each modem's minute, never in quiet hours.
    QHash<QString, int> times;
    for (int id : rig.ids()) {
        QList<QDateTime> at;
        for (const ModemSimulator::SentMessage& m : rig.simOf(id).sent()) {
            ++times[m.number];
            at << m.at;
            QVERIFY2(!Quiet.contains(m.at), qPrintable(m.at.toString() + u" to "_s + m.number));
            if (m.number == Stopper)
                QVERIFY2(m.at <= stoppedAt, qPrintable(m.at.toString()));
        }
        QVERIFY2(at.size() > 0 && busiestMinute(at) <= PerMinute,
                 qPrintable(u"modem %1: %2 in a minute"_s.arg(id).arg(busiestMinute(at))));
    }
    for (int i = 0; i < CampaignSize; ++i)
        QCOMPARE(times.value(numberOf(i)), 1);
    QCOMPARE(times.size(), CampaignSize + 1);

    // Sent Items holds the whole campaign; the stopped number's later messages stay OPTED OUT, never sent.
    const CampaignCounts counts = CampaignRepository(rig.db).counts(campaign);
    QCOMPARE(counts.sent, qint64(CampaignSize));
    QCOMPARE(counts.queued, qint64(0));
    QVERIFY(beforeStop > 0 && beforeStop < toStopper);
    QCOMPARE(sentToStopper(), beforeStop);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'OPTED OUT'"_s),
             qint64(toStopper - beforeStop));
}

QTEST_MAIN(PolicyPoolTest)
#include "tst_policy_pool.moc"
