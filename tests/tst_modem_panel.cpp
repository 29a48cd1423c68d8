// The modem panel: what each modem's row says of its state, radio, SIM and counts, how often the counts are
// asked, the status bar's line for several modems, and the dock in the main window (shown from its menu
// item, and back where the user left it).
#include "TestRig.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "views/ModemPanelModel.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDockWidget>
#include <QMap>

using namespace Qt::StringLiterals;

namespace {

ModemStatus modem(int id, int port, bool connected, bool ready, const QString& lastError = {})
{
    ModemStatus s;
    s.modemId = id;
    s.port = port;
    s.connected = connected;
    s.ready = ready;
    s.lastError = lastError;
    return s;
}

ModemStatus polled(ModemStatus s, int rssi, ModemHealth::Registration registration, const QString& op,
                   const QString& imsi, const QString& iccid = {})
{
    s.health.rssi = rssi;
    s.health.registration = registration;
    s.health.operatorName = op;
    s.health.imsi = imsi;
    s.health.iccid = iccid;
    s.health.checked = QDateTime(QDate(2024, 5, 6), QTime(9, 30));
    return s;
}

QString rowText(const QAbstractItemModel& model, int row, int first, int last)
{
    QStringList cells;
    for (int c = first; c <= last; ++c)
        cells << model.index(row, c).data().toString();
    return cells.join(u'|');
}

QString countsText(const QAbstractItemModel& model, int row)
{
    return rowText(model, row, ModemPanelModel::SentToday, ModemPanelModel::Failed);
}

const QString Unplugged = u"The modem on COM Port 5 was disconnected: waiting for it"_s;

} // namespace

class ModemPanelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowTellsStateRadioAndSim_data();
    void rowTellsStateRadioAndSim();
    void countsAreAskedAtMostOncePerInterval();
    void summaryLineForSeveralModems_data();
    void summaryLineForSeveralModems();
    void dockShowsFromItsMenuItemAndReopensWhereLeft();
};

void ModemPanelTest::rowTellsStateRadioAndSim_data()
{
    using R = ModemHealth::Registration;
    QTest::addColumn<ModemStatus>("status");
    QTest::addColumn<bool>("switchedOn");
    QTest::addColumn<QString>("cells"); // name|port|state|signal|registration|operator|SIM

    ModemStatus office = polled(modem(1, 3, true, true), 13, R::Home, u"Vodafone UK"_s, u"234150123456789"_s);
    office.name = u"Office"_s;
    QTest::newRow("connected, home network")
        << office << true << u"Office|COM 3|Connected|-87 dBm|Home|Vodafone UK|234150123456789"_s;
    QTest::newRow("no signal, searching, SIM by ICCID only")
        << polled(modem(2, 4, true, true), 99, R::Searching, {}, {}, u"8944110068421234567"_s) << true
        << u"Modem 2|COM 4|Connected|no signal|Searching||8944110068421234567"_s;
    QTest::newRow("roaming at full strength")
        << polled(modem(2, 4, true, true), 31, R::Roaming, u"Orange F"_s, u"208011234567890"_s) << true
        << u"Modem 2|COM 4|Connected|-51 dBm|Roaming|Orange F|208011234567890"_s;
    QTest::newRow("denied at the weakest") << polled(modem(2, 4, true, true), 0, R::Denied, {}, {}) << true
                                           << u"Modem 2|COM 4|Connected|-113 dBm|Denied||"_s;
    QTest::newRow("not registered") << polled(modem(2, 4, true, true), 10, R::NotRegistered, {}, {}) << true
                                    << u"Modem 2|COM 4|Connected|-93 dBm|Not registered||"_s;
    QTest::newRow("registration not answered") << polled(modem(2, 4, true, true), 10, R::Unknown, {}, {}) << true
                                               << u"Modem 2|COM 4|Connected|-93 dBm|Unknown||"_s;
    QTest::newRow("connected, not polled yet") << modem(1, 3, true, true) << true << u"Modem 1|COM 3|Connected||||"_s;
    QTest::newRow("port open, not ready yet") << modem(1, 3, true, false) << true << u"Modem 1|COM 3|Connecting||||"_s;
    ModemStatus attempt = modem(1, 3, false, false);
    attempt.connecting = true;
    QTest::newRow("connection under way") << attempt << true << u"Modem 1|COM 3|Connecting||||"_s;
    QTest::newRow("connected with a problem")
        << modem(1, 3, true, true, u"The message database cannot be used just now: Broadtext keeps trying"_s) << true
        << u"Modem 1|COM 3|Connected · The message database cannot be used just now: Broadtext keeps trying||||"_s;
    // The radio as last seen says nothing of an unplugged modem; the SIM that was in it still names it.
    QTest::newRow("unplugged, waiting for it")
        << polled(modem(3, 5, false, false, Unplugged), 20, R::Home, u"EE"_s, u"234301234567890"_s) << true
        << u"Modem 3|COM 5|Waiting to try again · "_s + Unplugged + u"||||234301234567890"_s;
    QTest::newRow("disconnected, never connected")
        << modem(4, 0, false, false) << true << u"Modem 4||Disconnected||||"_s;
    ModemStatus spare = modem(5, 7, false, false);
    spare.name = u"Spare"_s;
    QTest::newRow("switched off") << spare << false << u"Spare|COM 7|Switched off||||"_s;
}

void ModemPanelTest::rowTellsStateRadioAndSim()
{
    QFETCH(ModemStatus, status);
    QFETCH(bool, switchedOn);
    QFETCH(QString, cells);
    ModemPanelModel model({});
    model.setStatus(modem(status.modemId, 1, false, false)); // the row as first seen, then its news
    model.setStatus(status, switchedOn);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(rowText(model, 0, ModemPanelModel::Name, ModemPanelModel::Sim), cells);
    QCOMPARE(model.index(0, ModemPanelModel::State).data(Qt::ToolTipRole).toString(), status.lastError);
}

void ModemPanelTest::countsAreAskedAtMostOncePerInterval()
{
    QMap<int, ModemCounts> stored{{1, {12, 3, 1}}, {2, {40, 0, 0}}};
    int asked = 0;
    bool databaseDown = false;
    ModemPanelModel model([&](int id) {
        ++asked;
        if (databaseDown)
            throw DbError(u"database is locked"_s);
        return stored.value(id);
    });
    model.setCountsInterval(100);
    model.setStatus(modem(1, 3, true, true));
    model.setStatus(modem(2, 4, true, true));
    model.setStatus(modem(1, 3, false, false)); // news of a listed modem asks nothing
    QCOMPARE(asked, 2);
    QCOMPARE(countsText(model, 0), u"12|3|1"_s);
    QCOMPARE(countsText(model, 1), u"40|0|0"_s);

    // The first change is counted at once; the changes within the next interval once at its end.
    stored[1] = {13, 2, 1};
    model.refreshCounts();
    QCOMPARE(asked, 4);
    QCOMPARE(countsText(model, 0), u"13|2|1"_s);
    stored[2] = {41, 5, 0};
    model.refreshCounts();
    model.refreshCounts();
    QCOMPARE(asked, 4);
    QCOMPARE(countsText(model, 1), u"40|0|0"_s);
    QTRY_COMPARE(asked, 6);
    QCOMPARE(countsText(model, 1), u"41|5|0"_s);
    QTest::qWait(250);
    QCOMPARE(asked, 6);

    // A database that fails leaves the last counts.
    databaseDown = true;
    model.refreshCounts();
    QCOMPARE(asked, 8);
    QCOMPARE(countsText(model, 0), u"13|2|1"_s);
}

void ModemPanelTest::summaryLineForSeveralModems_data()
{
    QTest::addColumn<QList<ModemPanelRow>>("modems");
    QTest::addColumn<qint64>("queued");
    QTest::addColumn<QString>("line");
    const ModemPanelRow ready{modem(1, 3, true, true), true, {}};
    const ModemPanelRow retrying{modem(3, 5, false, false, Unplugged), true, {}};
    ModemPanelRow unplugged = retrying;
    unplugged.status.name = u"Front desk"_s;
    const ModemPanelRow disconnected{modem(4, 6, false, false), true, {}};
    const ModemPanelRow off{modem(5, 7, false, false), false, {}};

    QTest::newRow("all ready, nothing queued") << QList{ready, ready} << qint64(0) << u"2 of 2 modems ready"_s;
    QTest::newRow("one disconnected, messages queued")
        << QList{ready, ready, disconnected} << qint64(14) << u"2 of 3 modems ready · 14 queued"_s;
    QTest::newRow("one waiting for its device")
        << QList{ready, retrying, ready} << qint64(14) << u"2 of 3 modems ready · 14 queued · Modem 3: "_s + Unplugged;
    QTest::newRow("the first problem, by the modem's name")
        << QList{unplugged, retrying} << qint64(1) << u"0 of 2 modems ready · 1 queued · Front desk: "_s + Unplugged;
    QTest::newRow("switched off is not counted")
        << QList{ready, off, disconnected} << qint64(0) << u"1 of 2 modems ready"_s;
    QTest::newRow("all switched off") << QList{off, off} << qint64(3) << u"All modems switched off · 3 queued"_s;
}

void ModemPanelTest::summaryLineForSeveralModems()
{
    QFETCH(QList<ModemPanelRow>, modems);
    QFETCH(qint64, queued);
    QFETCH(QString, line);
    QCOMPARE(ModemSummaryLine(modems, queued), line);
}

void ModemPanelTest::dockShowsFromItsMenuItemAndReopensWhereLeft()
{
    TestRig rig(false);
    Broadtext program{rig.state};
    program.engine.timerRefreshHomePage.setEnabled(false);
    QVERIFY(program.Main(QSize(1280, 800)));
    program.showMainWindow();
    MDI_Frmmanage* main = program.mainWindow.get();
    const auto dock = [](QWidget* w) { return w->findChild<QDockWidget*>(u"dockModems"_s); };
    QVERIFY(dock(main) && !dock(main)->isVisible());

    main->menuItem(u"mnuModems"_s)->trigger();
    QVERIFY(dock(main)->isVisible());
    auto* list = dock(main)->findChild<QAbstractItemView*>(u"lstModems"_s);
    QVERIFY(list && list->isVisible());
    QCOMPARE(list->model()->rowCount(), program.engine.modemIds().size());
    QCOMPARE(list->model()->index(0, ModemPanelModel::State).data().toString(), u"Disconnected"_s);

    // Moved to the left by the user, the panel is there and open in the next main window; closed, it stays closed.
    main->addDockWidget(Qt::LeftDockWidgetArea, dock(main));
    main->close();
    MDI_Frmmanage next(rig.state, program.db, program.log, program.engine);
    next.show();
    QVERIFY(dock(&next)->isVisible());
    QCOMPARE(next.dockWidgetArea(dock(&next)), Qt::LeftDockWidgetArea);
    QVERIFY(next.menuItem(u"mnuModems"_s)->isChecked());
    next.menuItem(u"mnuModems"_s)->trigger();
    QVERIFY(!dock(&next)->isVisible());
    next.close();
    MDI_Frmmanage last(rig.state, program.db, program.log, program.engine);
    last.show();
    QVERIFY(!dock(&last)->isVisible());
}

QTEST_MAIN(ModemPanelTest)
#include "tst_modem_panel.moc"
