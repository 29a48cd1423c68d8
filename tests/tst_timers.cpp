// The engine's three timers may tick at any moment; a tick must never run an event loop of its own (the work
// it starts is handed to the modem link and reported back later), so that no tick can begin while another is
// still under way and no window or modem result is handled in the middle of one.
#include "EngineRig.h"

#include <QAbstractEventDispatcher>

using namespace Qt::StringLiterals;

namespace {

// Counts the event loop turns taken while it lives: every processEvents, exec() or wait starts with awake().
struct EventLoopProbe {
    int turns = 0;
    QMetaObject::Connection watch;
    EventLoopProbe()
    {
        watch = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                 [this] { ++turns; });
    }
    ~EventLoopProbe() { QObject::disconnect(watch); }
};

} // namespace

class TimersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void probeSeesALoopRunInsideATick();
    void ticksNeverRunAnEventLoop_data();
    void ticksNeverRunAnEventLoop();
};

void TimersTest::probeSeesALoopRunInsideATick()
{
    // The probe itself: a handler that lets events run inside a tick is seen.
    PeriodicTimer timer(u"t"_s);
    QObject::connect(&timer, &PeriodicTimer::Timer, [] { QCoreApplication::processEvents(); });
    EventLoopProbe probe;
    Q_EMIT timer.Timer();
    QVERIFY(probe.turns > 0);
}

void TimersTest::ticksNeverRunAnEventLoop_data()
{
    QTest::addColumn<QString>("timer");
    QTest::newRow("reception") << u"Timer1"_s;
    QTest::newRow("delivery") << u"Timer2"_s;
    QTest::newRow("call watch and counters") << u"timerRefreshHomePage"_s;
}

void TimersTest::ticksNeverRunAnEventLoop()
{
    QFETCH(QString, timer);
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.queue(u"+441234567890"_s, u"Timers do not wait"_s);
    rig.sim.receiveSms(u"+449876543210"_s, u"A message on the SIM"_s);
    PeriodicTimer* t = rig.engine.findChild<PeriodicTimer*>(timer);
    QVERIFY(t);
    {
        EventLoopProbe probe;
        Q_EMIT t->Timer();
        QCOMPARE(probe.turns, 0);
    }
    // The tick only started the work; it ends later, from the application's event loop.
    QVERIFY(!rig.engine.modemFree());
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.modemFree(), 60000);
}

QTEST_GUILESS_MAIN(TimersTest)
#include "tst_timers.moc"
