// Several modems sharing one Outbox, through the serial code and one simulator per modem on in-memory lines:
// every message goes out once and only once, spread over the modems, a long message's parts on one modem; a
// modem unplugged mid-run leaves its message to the others and rejoins when it is back; messages arriving on
// several modems at once are stored once each with the modem that received them; a missed call is answered
// from the modem that was called; a modem the network refuses pauses and the others send its share.
#include "PoolRig.h"

#include <QHash>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

QString numberOf(int i)
{
    return u"+91988%1"_s.arg(i, 7, 10, QLatin1Char('0'));
}

// A text of n characters.
QString textOf(int i, int n)
{
    QString s = u"Message %1: "_s.arg(i);
    while (s.size() < n)
        s += u"the quarterly meeting moves to Friday, bring the forms. "_s;
    return s.left(n);
}

// Where each recipient's message went on the network: the modem of each part, and its part numbers.
struct Delivered {
    QSet<int> modems;
    QList<int> parts; // 0 for a message that went whole
};

QHash<QString, Delivered> networkRecords(PoolRig& rig)
{
    QHash<QString, Delivered> out;
    for (int id : rig.ids())
        for (const ModemSimulator::SentMessage& m : rig.simOf(id).sent()) {
            out[m.number].modems.insert(id);
            out[m.number].parts.append(m.partNumber);
        }
    for (Delivered& d : out)
        std::sort(d.parts.begin(), d.parts.end());
    return out;
}

// Each Sent Items row: recipient -> the modem recorded with it (and its name).
QHash<QString, QList<std::pair<int, QString>>> sentItems(PoolRig& rig)
{
    QHash<QString, QList<std::pair<int, QString>>> out;
    for (Query q(rig.db, u"SELECT RecipientMobileNo, ModemId, ModemName FROM Message_OutBox WHERE DeliveryStatus = "
                         u"'SENT'"_s);
         q.next();)
        out[q.value(0).toString()].append({q.value(1).isNull() ? 0 : q.value(1).toInt(), q.value(2).toString()});
    return out;
}

// Every one of count messages (numbered from first) went out exactly once, whole, on one modem, and its Sent
// Items row names that modem. Returns how many each modem sent.
QHash<int, int> verifyEachSentOnce(PoolRig& rig, int first, int count, const QList<int>& partsOf)
{
    QHash<int, int> perModem;
    const auto network = networkRecords(rig);
    const auto items = sentItems(rig);
    for (int i = first; i < first + count; ++i) {
        const QString number = numberOf(i);
        const Delivered d = network.value(number);
        if (d.modems.size() != 1)
            qWarning("%s went out on %d modems", qPrintable(number), int(d.modems.size()));
        QList<int> expected;
        for (int p = 1; p <= partsOf[i - first]; ++p)
            expected << (partsOf[i - first] == 1 ? 0 : p);
        if (d.modems.size() != 1 || d.parts != expected)
            return {};
        const int modem = *d.modems.begin();
        const auto rows = items.value(number);
        if (rows.size() != 1 || rows[0].first != modem || !rows[0].second.startsWith(rig.engine.status(modem).name))
            return {};
        ++perModem[modem];
    }
    return perModem;
}

// Delivers until count rows are sent: what is queued starts at once, and a row a modem gave back (unplugged,
// or refused by its network) is taken by the others without waiting for the delivery timer.
bool sendAll(PoolRig& rig, qint64 count)
{
    rig.engine.Timer2.setEnabled(false);
    rig.engine.deliverNow();
    return QTest::qWaitFor([&] { return rig.sentRows() == count; }, 60000);
}

} // namespace

class ModemPoolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fourModemsSendEveryMessageOnce();
    void anUnpluggedModemsMessageGoesOnAnotherAndItRejoins();
    void messagesArrivingOnThreeModemsAreStoredOnceEach();
    void aMissedCallIsAnsweredFromTheModemCalled();
    void aModemTheNetworkRefusesLeavesItsShareToTheOthers();
    void rowsQueuedDuringARunGoWhenItEnds();
};

void ModemPoolTest::fourModemsSendEveryMessageOnce()
{
    PoolRig rig(4, true);
    QVERIFY(rig.connectAll());
    rig.setNetworkDelayMs(3000);
    const int messages = 400;
    QList<int> parts;
    rig.db.beginTransaction();
    for (int i = 0; i < messages; ++i) {
        const int n = i % 10 == 3 ? 3 : i % 10 == 7 ? 2 : 1;
        parts << n;
        rig.queue(numberOf(i), textOf(i, n == 3 ? 400 : n == 2 ? 250 : 100));
    }
    rig.db.commit();
    QVERIFY(sendAll(rig, messages));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 20000);

    const QHash<int, int> perModem = verifyEachSentOnce(rig, 0, messages, parts);
    QCOMPARE(perModem.size(), 4);
    for (int id : rig.ids())
        QVERIFY2(perModem[id] >= messages / 8, qPrintable(u"modem %1 sent %2"_s.arg(id).arg(perModem[id])));
}

void ModemPoolTest::anUnpluggedModemsMessageGoesOnAnotherAndItRejoins()
{
    PoolRig rig(4);
    QVERIFY(rig.connectAll());
    rig.setNetworkDelayMs(3000);
    const int gone = 3;
    // Pulled out as it is asked to send its 20th message: that row is claimed by it and has reached it.
    rig.lineOf(gone).unplugAtCommand(PoolRig::comOf(gone), u"AT+CMGS"_s, 20);
    const int messages = 200;
    rig.db.beginTransaction();
    for (int i = 0; i < messages; ++i)
        rig.queue(numberOf(i), textOf(i, 60));
    rig.db.commit();
    QVERIFY(sendAll(rig, messages));
    QVERIFY(rig.lineOf(gone).unplugged(PoolRig::comOf(gone)));
    QVERIFY(!rig.engine.status(gone).connected);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 20000);
    QCOMPARE(rig.simOf(gone).sent().size(), 19);
    QVERIFY(!verifyEachSentOnce(rig, 0, messages, QList<int>(messages, 1)).isEmpty());

    // Back: it connects again by itself and takes its share of what is queued next.
    rig.lineOf(gone).replug(PoolRig::comOf(gone));
    rig.setDevicePresent(gone, true);
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.status(gone).ready, 20000);
    rig.db.beginTransaction();
    for (int i = messages; i < messages + 80; ++i)
        rig.queue(numberOf(i), textOf(i, 60));
    rig.db.commit();
    QVERIFY(sendAll(rig, messages + 80));
    const QHash<int, int> after = verifyEachSentOnce(rig, messages, 80, QList<int>(80, 1));
    QVERIFY(after.value(gone) > 0);
}

void ModemPoolTest::messagesArrivingOnThreeModemsAreStoredOnceEach()
{
    PoolRig rig(4);
    QVERIFY(rig.connectAll());
    const QList<int> receivers{1, 2, 4};
    const int each = 5;
    for (int k = 0; k < each; ++k)
        for (int id : receivers)
            rig.simOf(id).receiveSms(numberOf(id * 100 + k), u"Hello from %1 to modem %2"_s.arg(k).arg(id));
    const qint64 expected = receivers.size() * each;
    auto stored = [&] { return rig.db.count(u"SELECT count(*) FROM Message_InBox"_s); };
    // Announced by +CMTI; the timer only as the fallback.
    if (!QTest::qWaitFor([&] { return stored() == expected; }, 10000))
        rig.engine.Timer1_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(stored(), expected, 30000);
    QTRY_VERIFY(!rig.engine.receiving());
    rig.receive(); // nothing is stored twice by a later reception
    QCOMPARE(stored(), expected);

    for (int id : receivers) {
        QCOMPARE(queryTexts(rig.db,
                            u"SELECT Message || '|' || ModemId || '|' || ModemName FROM Message_InBox WHERE "
                            u"Message LIKE ? ORDER BY Message"_s,
                            {u"%to modem %1"_s.arg(id)})
                     .size(),
                 each);
        for (const QString& row : queryTexts(rig.db,
                                             u"SELECT ModemId || '|' || ModemName FROM Message_InBox WHERE Message "
                                             u"LIKE ?"_s,
                                             {u"%to modem %1"_s.arg(id)}))
            QVERIFY2(row.startsWith(u"%1|%2"_s.arg(id).arg(rig.engine.status(id).name)), qPrintable(row));
        QVERIFY(rig.simOf(id).simMessages().isEmpty() ||
                QTest::qWaitFor([&] { return rig.simOf(id).simMessages().isEmpty(); }, 10000));
    }
}

void ModemPoolTest::aMissedCallIsAnsweredFromTheModemCalled()
{
    PoolRig rig(3);
    QVERIFY(rig.connectAll());
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = u"Sorry I missed you"_s;
    const int called = 2;
    rig.lineOf(called).setIdlePace(4);
    rig.simOf(called).incomingCall(u"+919812345678"_s, 2, 700, true);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 &&
           rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE Message = 'Sorry I missed you'"_s) == 0) {
        QTest::qWait(50);
        rig.engine.timerRefreshHomePage_Timer();
    }
    QCOMPARE(queryTexts(rig.db, u"SELECT RecipientMobileNo || '|' || ModemId FROM Message_OutBox"_s),
             QStringList{u"+919812345678|%1"_s.arg(called)});
    // The call is recorded with the modem it rang on.
    QCOMPARE(queryTexts(rig.db, u"SELECT DISTINCT ModemId FROM MissedCallStatistics"_s),
             QStringList{QString::number(called)});
    rig.engine.Timer2_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(rig.sentRows(), 1, 30000);
    for (int id : rig.ids())
        QCOMPARE(rig.simOf(id).sent().size(), id == called ? 1 : 0);
    QCOMPARE(rig.simOf(called).sent().first().number, u"+919812345678"_s);
}

void ModemPoolTest::aModemTheNetworkRefusesLeavesItsShareToTheOthers()
{
    PoolRig rig(4);
    QVERIFY(rig.connectAll());
    rig.setNetworkDelayMs(3000);
    const int refused = 2;
    rig.simOf(refused).failNetworkWide(38); // network out of order
    const int messages = 120;
    rig.db.beginTransaction();
    for (int i = 0; i < messages; ++i)
        rig.queue(numberOf(i), textOf(i, 60));
    rig.db.commit();
    QVERIFY(sendAll(rig, messages));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 20000);
    // Refused twice in a row, it paused (the activity log is too busy here to keep that line): it was asked
    // for nothing more while the others sent everything.
    QCOMPARE(rig.simOf(refused).commands().filter(u"AT+CMGS"_s).size(), 2);
    const QHash<int, int> perModem = verifyEachSentOnce(rig, 0, messages, QList<int>(messages, 1));
    QCOMPARE(perModem.value(refused), 0);
    for (int id : rig.ids())
        if (id != refused)
            QVERIFY(perModem.value(id) >= messages / 6);
    // The messages it tried were not charged an attempt: the network's fault, not theirs.
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE Attempts > 1"_s), 0);
}

// Another program queues rows while every modem is sending and says so (deliverNow): a run takes only the rows
// waiting when it started, so the sessions must start again when their runs end, not wait for the timer.
void ModemPoolTest::rowsQueuedDuringARunGoWhenItEnds()
{
    PoolRig rig(2);
    QVERIFY(rig.connectAll());
    rig.setNetworkDelayMs(2000);
    rig.engine.Timer2.setEnabled(false);
    for (int i = 0; i < 40; ++i)
        rig.queue(numberOf(i), textOf(i, 50));
    rig.engine.deliverNow();
    QTRY_VERIFY(rig.sentRows() >= 1);
    QVERIFY(rig.engine.sending());
    for (int i = 40; i < 44; ++i)
        rig.queue(numberOf(i), textOf(i, 50));
    rig.engine.deliverNow();
    QTRY_COMPARE_WITH_TIMEOUT(rig.sentRows(), 44, 20000);
}

QTEST_MAIN(ModemPoolTest)
#include "tst_modem_pool.moc"
