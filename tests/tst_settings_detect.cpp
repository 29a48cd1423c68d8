// Modem auto-detection from the settings window, through the program's serial port, against simulated modems
// linked as COM ports (every other COM number has no device in the test rig).
#include "EngineRig.h"
#include "modem/ComPorts.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "settings/frm_ChekModemProgress.h"
#include "settings/frm_Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

namespace {

const QString NothingFound = QStringLiteral("Searched COM ports from 1 - 20 but did not find a modem.");

template <class T> T* shown(QWidget* owner)
{
    for (T* w : owner->findChildren<T*>())
        if (w->isVisible())
            return w;
    return nullptr;
}

template <class T> T* named(QWidget* owner, const QString& name)
{
    T* c = owner->findChild<T*>(name);
    if (!c)
        qFatal("no control %s", qPrintable(name));
    return c;
}

void clickCell(QTableWidget* grid, int row, int column)
{
    const QRect r = grid->visualRect(grid->model()->index(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, r.center());
}

QString cell(QTableWidget* grid, int row, int column)
{
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

struct Settings {
    QPointer<frm_Settings> w;
    explicit Settings(EngineRig& rig)
    {
        w = new frm_Settings(rig.engine);
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w))
            qWarning("settings window not active");
    }
    ~Settings() { delete w.data(); }
    QComboBox* list(const QString& name) const { return named<QComboBox>(w, name); }
    void detect() const { QTest::mouseClick(named<QPushButton>(w, QStringLiteral("cmdChkModem")), Qt::LeftButton); }
};

} // namespace

class SettingsDetectTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modemsOnThreeAndFiveAreListedAndOneIsPicked();
    void cancelDuringTheScanShowsNoList();
    void noModemAtAllSaysSoOnceAndShowsAnEmptyList();
    void modemOnTheLastPortOnly();
    void noScanOnceTheModemIsConnected();
};

void SettingsDetectTest::modemsOnThreeAndFiveAreListedAndOneIsPicked()
{
    EngineRig rig;
    ModemSimulator sim5;
    QString error;
    QVERIFY2(sim5.start(&error) && sim5.linkAs(rig.state.dataDir, 5, &error), qPrintable(error));
    rig.sim.setIdentity(QStringLiteral("Maker Three"), QStringLiteral("M-3"));
    sim5.setIdentity(QStringLiteral("Maker Five"), QStringLiteral("M-5"));
    rig.saveModemSetting(3);
    rig.db.execute(QStringLiteral("UPDATE ModemSetting SET ModemDelayFactor = '3'"));
    QSignalSpy connection(&rig.engine, &Engine::connectionChanged);

    Settings s(rig);
    s.detect();
    QPointer<frm_ChekModemProgress> progress = s.w->findChild<frm_ChekModemProgress*>();
    QVERIFY(progress);
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->windowTitle(), QStringLiteral("Please Wait.........."));
    QCOMPARE(progress->windowModality(), Qt::ApplicationModal);
    QCOMPARE(named<QPushButton>(progress, QStringLiteral("Command1"))->text(), QStringLiteral("&Cancel"));
    QSignalSpy bar(named<QProgressBar>(progress, QStringLiteral("ProgBar")), &QProgressBar::valueChanged);

    Frm_FoundModemPortNumbers* list = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((list = shown<Frm_FoundModemPortNumbers>(s.w)) != nullptr, 20000);
    QTRY_VERIFY(!progress);
    QCOMPARE(bar.size(), 20); // five per port, 100 after COM20
    QCOMPARE(bar.first().first().toInt(), 5);
    QCOMPARE(bar.last().first().toInt(), 100);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(!rig.engine.MSComm1.PortOpen());
    QVERIFY(!rig.state.IsConnected);
    QCOMPARE(connection.size(), 0); // the main window's menus stay as they are
    QCOMPARE(rig.state.ComPorts, QStringLiteral("3, 5, "));
    QCOMPARE(rig.state.ManufacturerId, QStringLiteral("Maker Three,Maker Five,"));
    QCOMPARE(rig.state.ModelId, QStringLiteral("M-3, M-5, "));
    QCOMPARE(rig.sim.commands(),
             QStringList({QStringLiteral("AT"), QStringLiteral("AT+CGMI"), QStringLiteral("AT+CGMM")}));
    QCOMPARE(sim5.commands(),
             QStringList({QStringLiteral("AT"), QStringLiteral("AT+CGMI"), QStringLiteral("AT+CGMM")}));

    QCOMPARE(list->windowTitle(), QStringLiteral("Select Your Modem"));
    QCOMPARE(list->windowModality(), Qt::ApplicationModal);
    QCOMPARE(named<QLabel>(list, QStringLiteral("Label1"))->text(), QStringLiteral("Found Modems :"));
    QCOMPARE(named<QLabel>(list, QStringLiteral("Label2"))->text(),
             QStringLiteral("Please select the modem which you wish for your application ."));
    auto* grid = named<QTableWidget>(list, QStringLiteral("MshNumbers"));
    QCOMPARE(grid->columnCount(), 4);
    QVERIFY(grid->isColumnHidden(0));
    QCOMPARE(grid->horizontalHeaderItem(1)->text().trimmed(), QStringLiteral("Port Number"));
    QCOMPARE(grid->horizontalHeaderItem(2)->text().trimmed(), QStringLiteral("Manufacturer Id"));
    QCOMPARE(grid->horizontalHeaderItem(3)->text().trimmed(), QStringLiteral("Model Number"));
    QVERIFY(grid->columnWidth(1) >= 1000 / 15);
    QCOMPARE(grid->columnWidth(2), 2700 / 15);
    QCOMPARE(grid->columnWidth(3), 2700 / 15);
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(cell(grid, 0, 1), QStringLiteral("3"));
    QCOMPARE(cell(grid, 0, 2), QStringLiteral("Maker Three"));
    QCOMPARE(cell(grid, 0, 3), QStringLiteral("M-3"));
    QCOMPARE(cell(grid, 1, 1).trimmed(), QStringLiteral("5"));
    QCOMPARE(cell(grid, 1, 2), QStringLiteral("Maker Five"));
    QCOMPARE(cell(grid, 1, 3).trimmed(), QStringLiteral("M-5"));
    for (int c = 1; c <= 3; ++c)
        QVERIFY(cell(grid, 2, c).isEmpty());
    for (int r = 0; r < 2; ++r) {
        QCOMPARE(grid->item(r, 2)->foreground().color(), QColor(0, 0, 255));
        QVERIFY(grid->item(r, 2)->font().bold());
        QVERIFY(grid->item(r, 1)->foreground().color() != QColor(0, 0, 255));
    }

    // Only the manufacturer of a listed modem picks.
    clickCell(grid, 1, 1);
    clickCell(grid, 1, 3);
    clickCell(grid, 2, 2);
    QVERIFY(list->isVisible());
    QVERIFY(!rig.state.selectPortFromList);

    QPointer<Frm_FoundModemPortNumbers> closing = list;
    clickCell(grid, 1, 2);
    QTRY_VERIFY(!closing);
    QVERIFY(rig.state.selectPortFromList);
    QCOMPARE(s.list(QStringLiteral("Combo_comportNo"))->currentText(), QStringLiteral("5"));
    QCOMPARE(s.list(QStringLiteral("Combo_BitsPerSec"))->currentText(), QStringLiteral("115200"));
    QCOMPARE(s.list(QStringLiteral("cmbDelay"))->currentText(), QStringLiteral("3"));
    QTRY_COMPARE(QApplication::focusWidget(), s.list(QStringLiteral("Combo_comportNo")));
    QVERIFY(rig.state.ManufacturerId.isEmpty());
    QVERIFY(rig.state.ModelId.isEmpty());
    QVERIFY(rig.state.ChildWindowOpen); // the settings window is still open

    // Same delay factor as stored, but a port from the list at a speed other than 9600: restart.
    QTest::mouseClick(named<QPushButton>(s.w, QStringLiteral("cmdSave1")), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY(rig.dialogs.messages().first().startsWith(QLatin1String("You have changed the default modem settings")));
    QCOMPARE(rig.endApplicationCalls, 1);
    QCOMPARE(ReadModemSetting(rig.db)->CommPortNo.toInt(), 5);
}

void SettingsDetectTest::cancelDuringTheScanShowsNoList()
{
    EngineRig rig;
    ModemSimulator silent; // COM1 opens but never answers: its probe takes a while
    QString error;
    QVERIFY2(silent.start(&error) && silent.linkAs(rig.state.dataDir, 1, &error), qPrintable(error));
    silent.setSilent(true);
    rig.saveModemSetting(3);
    Settings s(rig);
    const QStringList before = {s.list(QStringLiteral("Combo_comportNo"))->currentText(),
                                s.list(QStringLiteral("Combo_BitsPerSec"))->currentText(),
                                s.list(QStringLiteral("cmbDelay"))->currentText()};

    s.detect();
    QPointer<frm_ChekModemProgress> progress = s.w->findChild<frm_ChekModemProgress*>();
    QVERIFY(progress);
    QString labelAtCancel;
    bool portOpenAtCancel = false;
    // Cancel while the scan waits for COM1's answer (the waits let the click through).
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, progress, [&] {
        if (!rig.engine.MSComm1.PortOpen())
            return;
        watch.stop();
        labelAtCancel = named<QLabel>(progress, QStringLiteral("Label1"))->text();
        portOpenAtCancel = rig.state.IsConnected;
        QTest::mouseClick(named<QPushButton>(progress, QStringLiteral("Command1")), Qt::LeftButton);
    });
    watch.start();
    QTRY_VERIFY_WITH_TIMEOUT(!progress, 10000);
    QTest::qWait(100);
    QCOMPARE(labelAtCancel, QStringLiteral("5%"));
    QVERIFY(portOpenAtCancel);
    QVERIFY(!shown<Frm_FoundModemPortNumbers>(s.w));
    QVERIFY(!rig.engine.MSComm1.PortOpen());
    QVERIFY(!rig.state.IsConnected);
    QCOMPARE(silent.commands(), QStringList{QStringLiteral("AT")});
    QVERIFY(rig.sim.commands().isEmpty()); // COM3 was never reached
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(!rig.state.selectPortFromList);
    QCOMPARE(QStringList({s.list(QStringLiteral("Combo_comportNo"))->currentText(),
                          s.list(QStringLiteral("Combo_BitsPerSec"))->currentText(),
                          s.list(QStringLiteral("cmbDelay"))->currentText()}),
             before);
    QVERIFY(rig.state.ChildWindowOpen);
}

void SettingsDetectTest::noModemAtAllSaysSoOnceAndShowsAnEmptyList()
{
    EngineRig rig;
    QVERIFY(QFile::remove(ComPortLink(rig.state.dataDir, EngineRig::Com)));
    Settings s(rig);
    s.detect();
    Frm_FoundModemPortNumbers* list = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((list = shown<Frm_FoundModemPortNumbers>(s.w)) != nullptr, 10000);
    QCOMPARE(rig.dialogs.messages(), QStringList{NothingFound});
    QVERIFY(rig.state.ComPorts.isEmpty());
    auto* grid = named<QTableWidget>(list, QStringLiteral("MshNumbers"));
    QCOMPARE(grid->rowCount(), 1);
    QVERIFY(cell(grid, 0, 1).isEmpty());
    clickCell(grid, 0, 2);
    QVERIFY(list->isVisible());
    QPointer<Frm_FoundModemPortNumbers> closing = list;
    list->close();
    QTRY_VERIFY(!closing);
    QVERIFY(!rig.state.selectPortFromList);
    QCOMPARE(s.list(QStringLiteral("Combo_comportNo"))->currentIndex(), -1);
    QVERIFY(!rig.state.IsConnected);
    QVERIFY(rig.state.ChildWindowOpen);
    QCOMPARE(rig.dialogs.messages().size(), 1);
}

void SettingsDetectTest::modemOnTheLastPortOnly()
{
    EngineRig rig;
    QVERIFY(QFile::remove(ComPortLink(rig.state.dataDir, EngineRig::Com)));
    QString error;
    QVERIFY2(rig.sim.linkAs(rig.state.dataDir, 20, &error), qPrintable(error));
    Settings s(rig);
    s.detect();
    Frm_FoundModemPortNumbers* list = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((list = shown<Frm_FoundModemPortNumbers>(s.w)) != nullptr, 10000);
    QVERIFY(rig.dialogs.shown.empty());
    auto* grid = named<QTableWidget>(list, QStringLiteral("MshNumbers"));
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(cell(grid, 0, 1), QStringLiteral("20"));
    QCOMPARE(cell(grid, 0, 2), QStringLiteral("Broadtext Simulated Modems"));
    list->close();
}

void SettingsDetectTest::noScanOnceTheModemIsConnected()
{
    EngineRig rig;
    Settings s(rig); // opened while disconnected: the button is enabled
    QVERIFY(named<QPushButton>(s.w, QStringLiteral("cmdChkModem"))->isEnabled());
    QVERIFY(rig.connectModem());
    rig.sim.clearRecords();
    s.detect();
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral(
                 "You can not change the modem settings. Because computer is already connected with modem.")});
    QVERIFY(!s.w->findChild<frm_ChekModemProgress*>());
    QVERIFY(rig.state.IsConnected && rig.state.ModemReady);
    QVERIFY(rig.engine.MSComm1.PortOpen());
    QVERIFY(rig.sim.commands().isEmpty());
}

QTEST_MAIN(SettingsDetectTest)
#include "tst_settings_detect.moc"
