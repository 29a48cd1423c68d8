// One owner of the modems per message base, within one test process: the lock beside the database (a live
// holder keeps it, a dead one loses it), the owner's news on the local bus (at most every ChangedEveryMs, none
// lost) and the program that only shows the data (no port, the owner's new Inbox rows told as its own).
#include "TestRig.h"
#include "app/Owner.h"
#include "common/LocalBus.h"
#include "delivery/Engine.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>

using namespace Qt::StringLiterals;

class OwnerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockOfAnotherProcess_data();
    void lockOfAnotherProcess();
    void changedIsCoalesced_data();
    void changedIsCoalesced();
    void secondProgramOnlyShows();
};

void OwnerTest::lockOfAnotherProcess_data()
{
    QTest::addColumn<bool>("alive");
    QTest::newRow("a killed program's lock is taken over") << false;
    QTest::newRow("a running program keeps it") << true;
}

void OwnerTest::lockOfAnotherProcess()
{
    QFETCH(bool, alive);
    TestRig rig;
    QProcess holder;
    qint64 pid = 0;
    if (alive) {
        holder.start(u"sleep"_s, {u"30"_s});
        QVERIFY(holder.waitForStarted());
        pid = holder.processId();
    } else {
        QVERIFY(QProcess::startDetached(u"true"_s, {}, {}, &pid));
        QTRY_VERIFY(!QFile::exists(u"/proc/%1"_s.arg(pid)));
    }
    // As QLockFile writes it: process, program name, host.
    QFile lockFile(OwnerLock::FilePath(DatabaseFilePath(rig.state)));
    QVERIFY(lockFile.open(QIODevice::WriteOnly));
    lockFile.write(QByteArray::number(pid) + (alive ? "\nsleep\n" : "\ntrue\n") + QSysInfo::machineHostName().toUtf8() +
                   '\n');
    lockFile.close();
    // Left an hour ago: age alone makes no lock stale.
    QVERIFY(lockFile.open(QIODevice::ReadWrite));
    QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    lockFile.close();

    Engine engine(rig.state, rig.db, rig.log);
    OwnerLock lock;
    ModemOwner owner(rig.state, rig.db, rig.log, engine, lock);
    QCOMPARE(owner.take(), !alive);
    QCOMPARE(owner.ownerPid(), alive ? pid : QCoreApplication::applicationPid());
    QCOMPARE(engine.modemsRunElsewhere().isEmpty(), !alive);
    if (alive)
        holder.kill();
}

void OwnerTest::changedIsCoalesced_data()
{
    QTest::addColumn<int>("news"); // what happens over and over
    QTest::newRow("outbox rows") << 0;
    QTest::newRow("inbox rows") << 1;
    QTest::newRow("calls") << 2;
    QTest::newRow("another program queued rows") << 3;
}

void OwnerTest::changedIsCoalesced()
{
    QFETCH(int, news);
    TestRig rig;
    Engine engine(rig.state, rig.db, rig.log);
    engine.timerRefreshHomePage.setEnabled(false);
    OwnerLock lock;
    ModemOwner owner(rig.state, rig.db, rig.log, engine, lock);
    QVERIFY(owner.take());

    LocalBus viewer;
    QElapsedTimer clock;
    QList<qint64> heard;
    connect(&viewer, &LocalBus::received, this, [&](const QByteArray& word) {
        if (word == "changed")
            heard << clock.elapsed();
    });
    viewer.subscribe(DatabaseFilePath(rig.state));
    QTRY_VERIFY(viewer.isConnected());
    QTest::qWait(50); // accepted on the owner's side too

    clock.start();
    constexpr int Burst = 400;
    while (clock.elapsed() < Burst) {
        switch (news) {
        case 0:
            Q_EMIT engine.outboxChanged();
            break;
        case 1:
            Q_EMIT engine.inboxChanged();
            break;
        case 2:
            Q_EMIT engine.callRecorded(u"+919812345678"_s);
            break;
        default:
            QVERIFY(LocalBus::Send(DatabaseFilePath(rig.state), "outbox"));
        }
        QTest::qWait(10);
    }
    QTest::qWait(2 * ModemOwner::ChangedEveryMs);

    QVERIFY2(heard.size() >= 2 && heard.size() <= Burst / ModemOwner::ChangedEveryMs + 2,
             qPrintable(u"heard %1 times"_s.arg(heard.size())));
    QVERIFY2(heard.first() < ModemOwner::ChangedEveryMs, qPrintable(u"first after %1 ms"_s.arg(heard.first())));
    for (qsizetype i = 1; i < heard.size(); ++i)
        QVERIFY2(heard[i] - heard[i - 1] >= ModemOwner::ChangedEveryMs - 20,
                 qPrintable(u"%1 ms apart"_s.arg(heard[i] - heard[i - 1])));
    // The last change of the burst is told too.
    QVERIFY2(heard.last() >= Burst - 20, qPrintable(u"last after %1 ms"_s.arg(heard.last())));
}

void OwnerTest::secondProgramOnlyShows()
{
    TestRig rig;
    Engine running(rig.state, rig.db, rig.log);
    running.timerRefreshHomePage.setEnabled(false);
    OwnerLock runningLock;
    ModemOwner owner(rig.state, rig.db, rig.log, running, runningLock);
    QVERIFY(owner.take());

    Engine showing(rig.state, rig.db, rig.log);
    showing.timerRefreshHomePage.setEnabled(false);
    OwnerLock showingLock;
    ModemOwner viewer(rig.state, rig.db, rig.log, showing, showingLock);
    QVERIFY(!viewer.take());
    QCOMPARE(viewer.ownerPid(), QCoreApplication::applicationPid());
    const QString line = u"The modems are run by another Broadtext window (process %1) on this computer; this window "
                         "shows its messages"_s.arg(QCoreApplication::applicationPid());
    QCOMPARE(viewer.viewerLine(), line);
    QVERIFY(showing.portInUse());
    showing.Connect();
    // Not even a try: without settings it would have asked for them.
    QVERIFY(!showing.status().connected && rig.dialogs.messages().isEmpty());
    QVERIFY(rig.logFile().contains(line));
    QTest::qWait(1200); // subscribed (it tries every second)

    rig.db.execute(u"INSERT INTO Message_InBox (SenderMobileNo, Message, InboxDateTime) VALUES (?, ?, ?)"_s,
                   {u"+919812345678"_s, u"Two lines\r\nof news"_s, Database::DbTime(rig.clock.now())});
    const qint64 id = rig.db.scalar(u"SELECT max(InBox_Id) FROM Message_InBox"_s).toLongLong();
    QSignalSpy stored(&showing, &Engine::inboxMessageStored);
    Q_EMIT running.inboxChanged();
    QTRY_COMPARE(stored.size(), 1);
    QCOMPARE(stored[0][0].toString(), u"+919812345678"_s);
    QCOMPARE(stored[0][1].toString(), u"Two lines of news"_s);
    QCOMPARE(stored[0][3].toLongLong(), id);
    // Told once: the next news has no new row.
    Q_EMIT running.outboxChanged();
    QTest::qWait(2 * ModemOwner::ChangedEveryMs + 100);
    QCOMPARE(stored.size(), 1);
}

QTEST_MAIN(OwnerTest)
#include "tst_app_owner.moc"
