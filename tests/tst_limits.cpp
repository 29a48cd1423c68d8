// Each SIM's sending limits: the decision for every window, the month's recipients, no limit at 0 and rows of
// several parts at a window's edge; the limits kept with each modem and the history kept with each sent row; and
// two simulated modems of 10 parts a minute each that never send more, each message going out once.
#include "PoolRig.h"
#include "store/OutboxRepository.h"
#include "store/SendingLimits.h"
#include "views/ModemPanelModel.h"

#include <QHash>
#include <QSet>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ModemLimits)

namespace {

const QDateTime Now(QDate(2026, 3, 15), QTime(12, 0));

// n parts, the newest `newest` seconds ago and one more second apart each going back.
QList<int> spread(int n, int newest)
{
    QList<int> ago;
    for (int i = n - 1; i >= 0; --i)
        ago << newest + i;
    return ago;
}

QString numberOf(int i)
{
    return u"+91977%1"_s.arg(i, 7, 10, QLatin1Char('0'));
}

// Every modem's sent rows as SentParts holds them, newest last: the largest count of parts any minute held.
QHash<int, int> busiestMinute(Database& db)
{
    QHash<int, QList<std::pair<QDateTime, int>>> sent;
    for (Query q(db, u"SELECT ModemId, SentAt, Parts FROM SentParts ORDER BY SentAt"_s); q.next();)
        sent[q.value(0).toInt()].append({Database::FromDbTime(q.value(1)), q.value(2).toInt()});
    QHash<int, int> most;
    for (auto it = sent.begin(); it != sent.end(); ++it)
        for (const auto& [end, parts] : it.value()) {
            int inside = 0;
            for (const auto& [t, n] : it.value())
                if (t > end.addSecs(-60) && t <= end)
                    inside += n;
            most[it.key()] = std::max(most[it.key()], inside);
        }
    return most;
}

} // namespace

class LimitsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sendingLimits_data();
    void sendingLimits();
    void limitsAreKeptWithEachModem();
    void aSentRowIsCountedOnceAndThePanelShowsIt();
    void aRunsHistoryWeighsAsTheWholeHistory_data();
    void aRunsHistoryWeighsAsTheWholeHistory();
    void twoModemsNeverExceedTheirMinute_data();
    void twoModemsNeverExceedTheirMinute();
    void aRandomGapSeparatesTheMessages_data();
    void aRandomGapSeparatesTheMessages();
};

void LimitsTest::sendingLimits_data()
{
    QTest::addColumn<ModemLimits>("limits");
    QTest::addColumn<QList<int>>("secondsAgo"); // one entry per part sent
    QTest::addColumn<int>("monthRecipients");
    QTest::addColumn<bool>("knownRecipient");
    QTest::addColumn<int>("parts");
    QTest::addColumn<QDateTime>("notBefore"); // invalid: allowed now

    const QList<int> tenInMinute = spread(10, 5); // 5..14 seconds ago
    QTest::newRow("no limits") << ModemLimits{} << spread(5000, 0) << 900 << false << 1 << QDateTime();
    QTest::newRow("minute: one left") << ModemLimits{10} << spread(9, 5) << 0 << false << 1 << QDateTime();
    QTest::newRow("minute: full") << ModemLimits{10} << tenInMinute << 0 << false << 1 << Now.addSecs(-14 + 60);
    QTest::newRow("minute: full a minute ago") << ModemLimits{10} << spread(10, 60) << 0 << false << 1 << QDateTime();
    QTest::newRow("minute: 8 used, 2 parts fit") << ModemLimits{10} << spread(8, 5) << 0 << false << 2 << QDateTime();
    QTest::newRow("minute: 8 used, 3 parts wait for the oldest")
        << ModemLimits{10} << spread(8, 5) << 0 << false << 3 << Now.addSecs(-12 + 60);
    QTest::newRow("minute: 8 used, 4 parts wait for the two oldest")
        << ModemLimits{10} << spread(8, 5) << 0 << false << 4 << Now.addSecs(-11 + 60);
    QTest::newRow("minute: more parts than the limit wait for an empty window")
        << ModemLimits{10} << spread(1, 20) << 0 << false << 12 << Now.addSecs(-20 + 60);
    QTest::newRow("minute: more parts than the limit go alone")
        << ModemLimits{10} << QList<int>{} << 0 << false << 12 << QDateTime();
    QTest::newRow("hour: full") << ModemLimits{0, 100} << spread(100, 600) << 0 << false << 1
                                << Now.addSecs(-699 + 3600);
    QTest::newRow("hour: the minute's limit is not the hour's")
        << ModemLimits{0, 100} << tenInMinute << 0 << false << 1 << QDateTime();
    QTest::newRow("day: full") << ModemLimits{0, 0, 50} << spread(50, 7200) << 0 << false << 1
                               << Now.addSecs(-7249 + 86400);
    QTest::newRow("day: yesterday's parts do not count")
        << ModemLimits{0, 0, 50} << spread(50, 86400) << 0 << false << 1 << QDateTime();
    QTest::newRow("minute and hour: the later wins")
        << ModemLimits{10, 10} << tenInMinute << 0 << false << 1 << Now.addSecs(-14 + 3600);
    QTest::newRow("month: room for one more")
        << ModemLimits{0, 0, 0, 5} << QList<int>{} << 4 << false << 1 << QDateTime();
    QTest::newRow("month: a new recipient waits for next month")
        << ModemLimits{0, 0, 0, 5} << QList<int>{} << 5 << false << 1 << QDateTime(QDate(2026, 4, 1), QTime(0, 0));
    QTest::newRow("month: a known recipient goes")
        << ModemLimits{0, 0, 0, 5} << QList<int>{} << 5 << true << 1 << QDateTime();
    QTest::newRow("month: zero is no limit")
        << ModemLimits{10, 0, 0, 0} << QList<int>{} << 100000 << false << 1 << QDateTime();
}

void LimitsTest::sendingLimits()
{
    QFETCH(ModemLimits, limits);
    QFETCH(QList<int>, secondsAgo);
    QFETCH(int, monthRecipients);
    QFETCH(bool, knownRecipient);
    QFETCH(int, parts);
    QFETCH(QDateTime, notBefore);
    SendingHistory history;
    for (int s : secondsAgo)
        history.partTimes << Now.addSecs(-s);
    history.monthRecipients = monthRecipients;
    history.knownRecipient = knownRecipient;
    const LimitVerdict v = SendingLimits(limits, history, parts, Now);
    QCOMPARE(v.allowed, !notBefore.isValid());
    QCOMPARE(v.notBefore, notBefore);
    QCOMPARE(v.recipientLimit, !v.allowed && !v.partsLimit);
    if (v.partsLimit) // and at that moment, with nothing more sent, the row goes
        QVERIFY(SendingLimits(limits, history, parts, notBefore).allowed);
}

void LimitsTest::limitsAreKeptWithEachModem()
{
    PoolRig rig(2);
    ModemsRepository modems(rig.db);
    for (int id : rig.ids()) {
        ModemConfig m = *modems.find(id);
        m.limits = {id * 10, id * 100, id * 1000, id * 7, id, id * 3};
        modems.save(m);
    }
    for (int id : rig.ids()) {
        const ModemLimits expected{id * 10, id * 100, id * 1000, id * 7, id, id * 3};
        QCOMPARE(modems.find(id)->limits, expected);
        QCOMPARE(modems.all().at(id - 1).limits, expected);
    }
}

void LimitsTest::aSentRowIsCountedOnceAndThePanelShowsIt()
{
    TestRig rig;
    OutboxRepository outbox(rig.db);
    ModemConfig second;
    second.limits = {10, 0, 500};
    QCOMPARE(ModemsRepository(rig.db).save(second), 2);
    rig.db.execute(u"INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, PartsSent) VALUES "
                   u"(' +91 98-76.5 ', 'x', ?, 2)"_s,
                   {Database::DbTime(Now)});
    const qint64 id = rig.db.scalar(u"SELECT max(Outbox_Id) FROM Message_OutBox"_s).toLongLong();
    outbox.markSent(id, Now, 2, u"Pool 2"_s, 3);
    outbox.markSent(id, Now.addSecs(5), 2, u"Pool 2"_s, 3); // an outcome written again after a failure
    const SendingHistory h = ReadSendingHistory(rig.db, 2, u"+9198765"_s, Now.addSecs(10));
    QCOMPARE(h.partTimes, QList<QDateTime>(3, Now));
    QCOMPARE(h.monthRecipients, 1);
    QVERIFY(h.knownRecipient);
    QCOMPARE(ReadSendingHistory(rig.db, 1, u"+9198765"_s, Now.addSecs(10)).partTimes.size(), 0);
    const QString used = u"3/10 min \u00B7 3/500 day"_s;
    QCOMPARE(LimitsUsedText(rig.db, 2, second.limits, Now.addSecs(10)), used);
    QCOMPARE(LimitsUsedText(rig.db, 2, second.limits, Now.addSecs(70)), u"0/10 min \u00B7 3/500 day"_s);

    ModemPanelModel panel([&](int id) { return ModemsRepository(rig.db).counts(id, Now.date(), Now.addSecs(10)); });
    for (int id : {1, 2}) {
        ModemStatus status;
        status.modemId = id;
        panel.setStatus(status);
    }
    QCOMPARE(panel.data(panel.index(1, ModemPanelModel::SentToday), Qt::ToolTipRole).toString(), u"Limits: "_s + used);
    QVERIFY(panel.data(panel.index(0, ModemPanelModel::SentToday), Qt::ToolTipRole).isNull()); // no limits
}

void LimitsTest::aRunsHistoryWeighsAsTheWholeHistory_data()
{
    QTest::addColumn<ModemLimits>("limits");
    QTest::newRow("minute") << ModemLimits{10};
    QTest::newRow("hour") << ModemLimits{0, 20};
    QTest::newRow("day, fewer than the day's parts kept") << ModemLimits{0, 0, 30};
    QTest::newRow("month's recipients") << ModemLimits{0, 0, 0, 6};
    QTest::newRow("all of them") << ModemLimits{10, 30, 60, 7};
    QTest::newRow("a minute of 3 under rows of 3 parts") << ModemLimits{3, 0, 0, 3};
    QTest::newRow("a gap alone") << ModemLimits{0, 0, 0, 0, 1, 2};
}

// A run reads its modem's history once, then weighs each row with what was sent since (by itself or by anyone):
// at every step of a replay of sends of both modems, across a month's end, its verdicts are those of the history
// read whole, and a part sent counts at once.
void LimitsTest::aRunsHistoryWeighsAsTheWholeHistory()
{
    QFETCH(ModemLimits, limits);
    TestRig rig;
    auto send = [&](int modem, const QDateTime& at, int parts, const QString& to) {
        rig.db.execute(u"INSERT INTO SentParts (ModemId, SentAt, Recipient, Parts) VALUES (?, ?, ?, ?)"_s,
                       {rig.db.modemKey(modem), Database::DbTime(at), to, parts});
    };
    const QDateTime monthEnd = QDate(2026, 4, 1).startOfDay();
    for (int i = 0; i < 60; ++i) // the last three days, and the month before
        send(1 + i % 2, (i < 5 ? monthEnd.addMonths(-1) : Now).addSecs(-i * 4000), 1 + i % 3, numberOf(i % 9));
    SendingHistoryCache run(2, limits);
    QSet<bool> newcomer; // the verdicts a new recipient's one-part row met
    QDateTime now = Now;
    for (int step = 0; step < 40; ++step) {
        now = step == 30 ? monthEnd.addSecs(5) : now.addSecs(step % 8 == 0 ? 70 : 7);
        for (const QString& to : {numberOf(1), numberOf(20)})
            for (int parts : {1, 4}) {
                const LimitVerdict kept = SendingLimits(limits, run.read(rig.db, to, now), parts, now);
                const LimitVerdict whole = SendingLimits(limits, ReadSendingHistory(rig.db, 2, to, now), parts, now);
                QCOMPARE(kept.allowed, whole.allowed);
                QCOMPARE(kept.notBefore, whole.notBefore);
                QCOMPARE(kept.partsLimit, whole.partsLimit);
                QCOMPARE(kept.recipientLimit, whole.recipientLimit);
                if (to == numberOf(20) && parts == 1)
                    newcomer << kept.allowed;
            }
        send(step % 5 == 4 ? 1 : 2, now, 1 + step % 3, numberOf(10 + step));
    }
    QCOMPARE(newcomer.size(), limits.any() ? 2 : 1);
}

void LimitsTest::twoModemsNeverExceedTheirMinute_data()
{
    QTest::addColumn<int>("secondLimit");
    QTest::newRow("10 a minute each") << 10;
    QTest::newRow("the second without limit goes on") << 0;
}

void LimitsTest::twoModemsNeverExceedTheirMinute()
{
    QFETCH(int, secondLimit);
    PoolRig rig(2);
    ModemsRepository modems(rig.db);
    for (int id : rig.ids()) {
        ModemConfig m = *modems.find(id);
        m.limits.perMinute = id == 1 ? 10 : secondLimit;
        modems.save(m);
    }
    QVERIFY(rig.connectAll());
    rig.engine.Timer2.setEnabled(false);
    const int messages = 45;
    for (int i = 0; i < messages; ++i)
        rig.queue(numberOf(i), u"Message %1: the meeting moves to Friday."_s.arg(i));

    // Each round delivers what the limits allow; the clock then moves on by 20 seconds.
    int rounds = 0;
    while (rig.sentRows() < messages && rounds < 20) {
        rig.engine.deliverNow();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 30000);
        const auto most = busiestMinute(rig.db);
        QVERIFY2(most.value(1) <= 10, qPrintable(u"modem 1 sent %1 in a minute"_s.arg(most.value(1))));
        if (secondLimit > 0)
            QVERIFY2(most.value(2) <= secondLimit, qPrintable(u"modem 2 sent %1 in a minute"_s.arg(most.value(2))));
        rig.clock.advance(20000);
        ++rounds;
    }
    QCOMPARE(rig.sentRows(), qint64(messages));

    // Every message went out once, on the modem SentParts names.
    QHash<QString, int> wentOut;
    QHash<int, int> perModem;
    for (int id : rig.ids())
        for (const ModemSimulator::SentMessage& m : rig.simOf(id).sent()) {
            ++wentOut[m.number];
            ++perModem[id];
        }
    for (int i = 0; i < messages; ++i)
        QCOMPARE(wentOut.value(numberOf(i)), 1);
    for (int id : rig.ids())
        QCOMPARE(
            rig.db.count(u"SELECT coalesce(sum(Parts), 0) FROM SentParts WHERE ModemId = ?"_s, {rig.db.modemKey(id)}),
            qint64(perModem.value(id)));
    if (secondLimit == 0)
        QCOMPARE(rounds, 1); // the limited modem's share went on the other
}

void LimitsTest::aRandomGapSeparatesTheMessages_data()
{
    QTest::addColumn<int>("gapMin");
    QTest::addColumn<int>("gapMax");
    QTest::newRow("no gap") << 0 << 0;
    QTest::newRow("4 to 6 seconds") << 4 << 6;
}

void LimitsTest::aRandomGapSeparatesTheMessages()
{
    QFETCH(int, gapMin);
    QFETCH(int, gapMax);
    PoolRig rig(1);
    ModemConfig m = *ModemsRepository(rig.db).find(1);
    m.limits.gapMinSeconds = gapMin;
    m.limits.gapMaxSeconds = gapMax;
    ModemsRepository(rig.db).save(m);
    QVERIFY(rig.connectAll());
    rig.engine.Timer2.setEnabled(false);
    const int messages = 3;
    for (int i = 0; i < messages; ++i)
        rig.queue(numberOf(i), u"Message %1"_s.arg(i));
    const qint64 before = rig.engine.pacedMs();
    rig.engine.deliverNow();
    QTRY_COMPARE_WITH_TIMEOUT(rig.sentRows(), qint64(messages), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 30000);
    // The modem waited the gap before each message but the first (the usual pause between messages is far less).
    const qint64 waited = rig.engine.pacedMs() - before;
    const qint64 gaps = (messages - 1) * 1000LL;
    QVERIFY2(waited >= gaps * gapMin && (gapMax > 0 || waited < gaps * 4), qPrintable(QString::number(waited)));
}

QTEST_MAIN(LimitsTest)
#include "tst_limits.moc"
