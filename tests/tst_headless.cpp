// The headless service as it runs under systemd: the real `broadtext --headless`, with no display, on a data
// folder of its own, driving the simulator program through a pseudo-terminal. It sends what is queued,
// receives into the Inbox, keeps the modems to itself (a second service ends, a desktop program only shows
// the data and hears of new rows within a second) and ends cleanly on SIGTERM. Labelled slow: real time.
#include "Conversation.h"
#include "TestRig.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "app/Owner.h"
#include "common/LocalBus.h"
#include "store/SettingsRows.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

// A program of ours, with what it printed so far.
struct Program {
    QProcess process;
    QByteArray out, err;

    const QByteArray& readOut()
    {
        out += process.readAllStandardOutput();
        return out;
    }
    const QByteArray& readErr()
    {
        err += process.readAllStandardError();
        return err;
    }
    ~Program()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(5000);
    }
};

// The service's environment: its data folder under XDG_DATA_HOME, and no display of any kind.
QProcessEnvironment serviceEnvironment(const QString& dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        env.remove(name);
    env.insert(u"XDG_DATA_HOME"_s, dataHome);
    return env;
}

void startService(Program& service, const QString& dataHome)
{
    service.process.setProcessEnvironment(serviceEnvironment(dataHome));
    service.process.start(QStringLiteral(BROADTEXT_PROGRAM), {u"--headless"_s});
}

} // namespace

class HeadlessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void queuedRowIsSent();
    void secondServiceEnds();
    void desktopFollowsTheService();
    void killedServiceIsReplaced();
    void sigtermEndsCleanly();

private:
    TestRig rig{false};
    SystemClock clock;
    Program sim;
    Program service;
    QString databasePath;
};

void HeadlessTest::initTestCase()
{
    rig.state.clock = &clock;
    rig.state.dataDir = rig.dir.path() + u"/broadtext"_s; // $XDG_DATA_HOME/broadtext
    ConnectDatabase(rig.state, rig.db);
    QVERIFY(rig.state.DatabaseConnected);
    databasePath = DatabaseFilePath(rig.state);
    WriteModemSetting(rig.db,
                      {1, u"115200"_s, u"n"_s, u"8"_s, u"1"_s, u"0"_s, u"GSM"_s, Database::DbBool(true), u"1"_s});
    WriteTimerSetting(rig.db, {-1, u"2"_s, -1, u"2"_s, u"DIRECT DELIVER"_s});

    sim.process.start(QStringLiteral(BROADTEXT_MODEMSIM),
                      {u"--data-dir"_s, rig.state.dataDir, u"--com"_s, u"1"_s, u"--delay"_s, u"50"_s});
    QVERIFY(sim.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(sim.readOut().contains("Type \"help\""), 10000);

    startService(service, rig.dir.path());
    QVERIFY(service.process.waitForStarted());
    QTRY_VERIFY2_WITH_TIMEOUT(service.readErr().contains("<6>The Broadtext service runs the modems"),
                              service.err.constData(), 10000);
}

void HeadlessTest::queuedRowIsSent()
{
    rig.db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                   "VALUES (0, '9888820001', 'Sent by the service', ?)"_s,
                   {Database::DbTime(clock.now())});
    // Told at once, as the command line tells it; had nobody listened, the send timer would still find the row.
    QVERIFY(LocalBus::Send(databasePath, "outbox"));
    QTRY_VERIFY2_WITH_TIMEOUT(sim.readOut().contains("sent to 9888820001: Sent by the service"),
                              (sim.out + service.readErr()).constData(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(sentItems(rig.db), qint64(1), 5000);
}

void HeadlessTest::secondServiceEnds()
{
    Program second;
    startService(second, rig.dir.path());
    QVERIFY(second.process.waitForFinished(10000));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 1);
    const QByteArray said = second.readErr();
    QVERIFY2(said.startsWith("<3>Broadtext does not start as a service") &&
                 said.contains("(process " + QByteArray::number(service.process.processId()) + ')'),
             said.constData());
    QVERIFY(service.process.state() == QProcess::Running);
}

void HeadlessTest::desktopFollowsTheService()
{
    Broadtext program(rig.state);
    QVERIFY(program.Main(QSize(1280, 800)));
    program.showMainWindow();
    QVERIFY(!program.owner->owns());
    auto* line = program.mainWindow->findChild<QLabel*>(u"lblModemOwner"_s);
    QVERIFY(line);
    QCOMPARE(line->text(), u"The modems are run by the Broadtext service (process %1) on this computer; this window "
                           "shows its messages"_s.arg(service.process.processId()));
    // It opens no port, not even when asked to.
    program.mainWindow->start_Click();
    QVERIFY(!program.engine.connected() && !program.engine.status().connected);
    program.mainWindow->openMessageBox();
    auto* list = program.mainWindow->findChild<QTreeWidget*>(u"ListMessage"_s);
    QVERIFY(list);
    QSignalSpy told(program.owner.get(), &ModemOwner::ownerChangedRows);
    QTest::qWait(1500); // subscribed (it tries every second)
    told.clear();

    sim.process.write("sms +919812345678 Received by the service\n");
    const auto shown = [&] {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            for (int c = 0; c < list->columnCount(); ++c)
                if (list->topLevelItem(i)->text(c).contains(u"Received by the service"_s))
                    return true;
        return false;
    };
    QElapsedTimer sinceStored;
    QElapsedTimer waited;
    waited.start();
    while (!(sinceStored.isValid() && shown()) && waited.elapsed() < 15000) {
        QTest::qWait(10);
        if (!sinceStored.isValid() &&
            rig.db.count(u"SELECT count(*) FROM Message_InBox WHERE Message = 'Received by the service'"_s) == 1)
            sinceStored.start();
    }
    QVERIFY2(sinceStored.isValid(), (sim.readOut() + service.readErr()).constData());
    QVERIFY2(shown(), "the message box did not show the new message");
    QVERIFY2(sinceStored.elapsed() < 1000, qPrintable(u"shown %1 ms after it was stored"_s.arg(sinceStored.elapsed())));
    QVERIFY(!told.isEmpty());
}

void HeadlessTest::killedServiceIsReplaced()
{
    service.process.kill();
    QVERIFY(service.process.waitForFinished(5000));
    QVERIFY(QFile::exists(OwnerLock::FilePath(databasePath))); // left behind
    service.err.clear();
    startService(service, rig.dir.path());
    QVERIFY(service.process.waitForStarted());
    QTRY_VERIFY2_WITH_TIMEOUT(service.readErr().contains("<6>The Broadtext service runs the modems"),
                              service.err.constData(), 10000);
}

void HeadlessTest::sigtermEndsCleanly()
{
    // Stopped while a slow network takes a message: the rows it held are given back.
    sim.process.write("delay 1500\n");
    rig.db.beginTransaction();
    for (int i = 0; i < 3; ++i)
        rig.db.execute(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                       "VALUES (0, ?, 'Stopped on its way', ?)"_s,
                       {u"98888300%1"_s.arg(i), Database::DbTime(clock.now())});
    rig.db.commit();
    QVERIFY(LocalBus::Send(databasePath, "outbox"));
    QTRY_VERIFY2_WITH_TIMEOUT(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE ClaimedBy IS NOT NULL"_s) > 0,
                              service.readErr().constData(), 15000);
    service.process.terminate();
    QVERIFY(service.process.waitForFinished(10000));
    QCOMPARE(service.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.process.exitCode(), 0);
    QVERIFY(service.readErr().contains("<6>The Broadtext service stops (SIGTERM)."));
    QVERIFY(!QFile::exists(OwnerLock::FilePath(databasePath)));
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE ClaimedBy IS NOT NULL"_s), qint64(0));
}

QTEST_MAIN(HeadlessTest)
#include "tst_headless.moc"
