// A desktop on the shared server base follows what the other computers write: their received messages, the
// rows they sent and the calls they missed show in its open windows and counters within a second, told by the
// server rather than found by the program's own refresh timer; the rows they queue go out from here at once; and a
// burst of their writes is told at most every ServerNews::EveryMs.
#include "EngineRig.h"
#include "TestRig.h"
#include "TreeTexts.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "app/Owner.h"
#include "store/CallsRepository.h"
#include "views/Frm_MessageBox.h"
#include "views/Frm_MissedCallsList.h"
#include "views/ServerNews.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

const QDateTime Today(QDate(2026, 12, 7), QTime(10, 0));

// The row another computer writes, as it writes it.
using Change = void (*)(Database&);

void receive(Database& db)
{
    db.insert(u"INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, IsRead)"
              " VALUES ('+447700900111', 0, 'received at the shop', ?, 0)"_s,
              {Database::DbTime(Today)});
}

void send(Database& db)
{
    db.execute(u"UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ? WHERE Message = ?"_s,
               {Database::DbTime(Today), u"queued at the desk"_s});
}

void missCall(Database& db)
{
    CallsRepository(db).recordMissedCall(u"+447700900222"_s, Today, 0, {});
}

// The server base a rig's program works on.
QString baseOf(const TestRig& rig)
{
    return QSettings(rig.state.dataDir + u"/broadtext.conf"_s, QSettings::IniFormat).value(u"database"_s).toString();
}

} // namespace

Q_DECLARE_METATYPE(Change)

class LiveViewsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rowsOfAnotherComputerShow_data();
    void rowsOfAnotherComputerShow();
    void rowsQueuedElsewhereGoOutAtOnce();
    void burstIsToldAtMostEveryTurn();
};

void LiveViewsTest::initTestCase()
{
    if (!TestCluster().isReady())
        QSKIP(qPrintable(u"no PostgreSQL test server: "_s + TestCluster().error()));
    // Every rig of this test is a desktop on a server base of its own.
    qputenv("BROADTEXT_TEST_STORE", "pg");
}

void LiveViewsTest::rowsOfAnotherComputerShow_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("window"); // the message box on a folder's node, or the missed calls list
    QTest::addColumn<QString>("shown");  // the text the window's list gains
    QTest::addColumn<QString>("link");   // the home page counter that follows
    QTest::addColumn<QString>("counted");

    QTest::newRow("received") << Change(receive) << u"box 2"_s << u"received at the shop"_s << u"lblInBox"_s
                              << u"Inbox (1)"_s;
    QTest::newRow("sent") << Change(send) << u"box 4"_s << u"queued at the desk"_s << u"lblOutBox"_s << u"Outbox (0)"_s;
    QTest::newRow("call missed") << Change(missCall) << u"calls"_s << u"+447700900222"_s << u"LblMissCall"_s
                                 << u"Missed Calls (1)"_s;
}

void LiveViewsTest::rowsOfAnotherComputerShow()
{
    QFETCH(Change, change);
    QFETCH(QString, window);
    QFETCH(QString, shown);
    QFETCH(QString, link);
    QFETCH(QString, counted);

    TestRig rig(false);
    rig.clock.set(Today);
    Broadtext program{rig.state};
    // Nothing of the program's own refreshes: what shows comes from the server's news.
    program.engine.timerRefreshHomePage.setEnabled(false);
    QVERIFY(program.Main(QSize(1280, 800)));
    QVERIFY(program.db.isServer());
    program.db.insert(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime)"
                      " VALUES (0, '+447700900333', 'queued at the desk', ?)"_s,
                      {Database::DbTime(Today)});
    program.showMainWindow();
    MDI_Frmmanage* main = program.mainWindow.get();
    auto* counter = main->findChild<QLabel*>(link);
    QVERIFY(counter);
    QCOMPARE_NE(counter->text(), counted);

    QTreeWidget* list = nullptr;
    if (window == "calls"_L1) {
        main->openMissedCalls();
        list = main->findChild<Frm_MissedCallsList*>()->findChild<QTreeWidget*>(u"ListLogs"_s);
    } else {
        main->openMessageBox();
        auto* box = main->findChild<Frm_MessageBox*>();
        box->TreeView1_NodeClick(window.back().digitValue());
        list = box->findChild<QTreeWidget*>(u"ListMessage"_s);
    }
    QVERIFY(list);
    const int column = 1; // the message, or the caller's number
    QVERIFY(!ColumnTexts(list, column).contains(shown));

    // Another computer on the same base.
    Database elsewhere;
    elsewhere.open(baseOf(rig));
    change(elsewhere);

    QTRY_VERIFY_WITH_TIMEOUT(ColumnTexts(list, column).contains(shown), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(counter->text(), counted, 1000);
}

void LiveViewsTest::rowsQueuedElsewhereGoOutAtOnce()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    // No send timer: only the server's news can start the delivery.
    rig.engine.Timer1.setEnabled(false);
    rig.engine.Timer2.setEnabled(false);
    QTRY_VERIFY(!rig.engine.sending());
    OwnerLock lock;
    ModemOwner owner(rig.state, rig.db, rig.log, rig.engine, lock);
    QVERIFY(owner.take());

    Database elsewhere;
    elsewhere.open(baseOf(rig));
    const qint64 id =
        elsewhere.insert(u"INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime)"
                         " VALUES (0, '+447700900444', 'queued by the other computer', ?)"_s,
                         {Database::DbTime(Today)});

    const auto status = [&] {
        return rig.db.scalar(u"SELECT DeliveryStatus FROM Message_OutBox WHERE Outbox_Id = ?"_s, {id}).toString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(status(), u"SENT"_s, 1000);
}

void LiveViewsTest::burstIsToldAtMostEveryTurn()
{
    TestRig rig;
    ServerNews* news = ServerNews::Of(rig.db);
    QVERIFY(news);
    QCOMPARE(ServerNews::Of(rig.db), news); // one per connection, subscribed once
    QElapsedTimer clock;
    QList<qint64> heard;
    ServerNews::Tables told;
    connect(news, &ServerNews::rowsChanged, news, [&](ServerNews::Tables tables) {
        heard << clock.elapsed();
        told |= tables;
    });
    // What this connection writes itself its window already shows.
    receive(rig.db);
    QTest::qWait(2 * ServerNews::EveryMs);
    QCOMPARE(heard.size(), 0);

    Database elsewhere;
    elsewhere.open(baseOf(rig));
    constexpr int Burst = 1000;
    clock.start();
    for (int i = 0; clock.elapsed() < Burst; ++i) {
        i % 2 ? receive(elsewhere) : missCall(elsewhere);
        QTest::qWait(10);
    }
    QTest::qWait(2 * ServerNews::EveryMs);

    QCOMPARE(told, ServerNews::Inbox | ServerNews::Calls);
    QVERIFY2(heard.size() >= 2 && heard.size() <= Burst / ServerNews::EveryMs + 2,
             qPrintable(u"heard %1 times"_s.arg(heard.size())));
    QVERIFY2(heard.first() < ServerNews::EveryMs, qPrintable(u"first after %1 ms"_s.arg(heard.first())));
    for (qsizetype i = 1; i < heard.size(); ++i)
        QVERIFY2(heard[i] - heard[i - 1] >= ServerNews::EveryMs - 20,
                 qPrintable(u"%1 ms apart"_s.arg(heard[i] - heard[i - 1])));
    // The last change of the burst is told too.
    QVERIFY2(heard.last() >= Burst - 20, qPrintable(u"last after %1 ms"_s.arg(heard.last())));
}

QTEST_MAIN(LiveViewsTest)
#include "tst_live_views.moc"
