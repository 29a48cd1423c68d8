// The Outbox lease as one computer chooses it (leaseSeconds in broadtext.conf), and the rows a modem left SENDING
// when it stopped for good: they wait again once their lease has run out, not before.
#include "TestRig.h"
#include "common/Paths.h"
#include "store/OutboxRepository.h"

#include <QSettings>

using namespace Qt::StringLiterals;

class OutboxLeaseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void leaseFromTheConfFile_data();
    void leaseFromTheConfFile();
    void lapsedRowsWaitAgain_data();
    void lapsedRowsWaitAgain();
};

void OutboxLeaseTest::leaseFromTheConfFile_data()
{
    QTest::addColumn<QString>("written"); // empty: not in the file
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("not chosen") << QString() << qint64(OutboxRepository::DefaultLease.count());
    QTest::newRow("chosen") << u"15"_s << qint64(15);
    QTest::newRow("below the minimum") << u"2"_s << qint64(MinimumLease.count());
    QTest::newRow("not a number") << u"soon"_s << qint64(OutboxRepository::DefaultLease.count());
}

void OutboxLeaseTest::leaseFromTheConfFile()
{
    QFETCH(QString, written);
    QFETCH(qint64, seconds);
    TestRig rig(false);
    if (!written.isEmpty())
        QSettings(PreferencesFilePath(rig.state.dataDir), QSettings::IniFormat).setValue(u"leaseSeconds"_s, written);
    QCOMPARE(qint64(OutboxLease(rig.state).count()), seconds);
}

void OutboxLeaseTest::lapsedRowsWaitAgain_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("leaseLeftSeconds"); // of the claim, from now
    QTest::addColumn<bool>("waitsAgain");
    QTest::newRow("being sent, lease run out") << u"SENDING"_s << -1 << true;
    QTest::newRow("being sent, lease running") << u"SENDING"_s << 30 << false;
    QTest::newRow("claimed, not yet being sent") << QString() << -1 << false; // free to claim as it is
    QTest::newRow("failed") << u"FAILED"_s << -1 << false;
}

void OutboxLeaseTest::lapsedRowsWaitAgain()
{
    QFETCH(QString, status);
    QFETCH(int, leaseLeftSeconds);
    QFETCH(bool, waitsAgain);
    TestRig rig;
    const QDateTime now = rig.clock.now();
    rig.db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, DeliveryStatus, "
                   "ClaimedBy, ClaimUntil) VALUES (0, '9888820001', 'Held', ?, ?, 7, ?)"_s,
                   {Database::DbTime(now), status, Database::DbTime(now.addSecs(leaseLeftSeconds))});
    QCOMPARE(TakeBackLapsedRows(rig.db, now), waitsAgain ? QStringList{u"9888820001"_s} : QStringList{});
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = '' AND ClaimedBy IS NULL"_s),
             qint64(waitsAgain ? 1 : 0));
    QVERIFY(TakeBackLapsedRows(rig.db, now).isEmpty()); // once
}

QTEST_GUILESS_MAIN(OutboxLeaseTest)
#include "tst_outbox_lease.moc"
