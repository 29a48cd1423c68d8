// Modem auto-detection from the settings window, through the program's serial port, against simulated modems
// linked as COM ports (every other COM number has no device in the test rig).
#include "EngineRig.h"
#include "ShownWindow.h"
#include "modem/ComPorts.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "settings/frm_ChekModemProgress.h"
#include "settings/frm_Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

template <class T> T* named(QWidget* owner, const QString& name)
{
    T* c = owner->findChild<T*>(name);
    return c ? c : throw std::logic_error("no control " + name.toStdString());
}

// The settings window of one test and the detection started from it.
struct Settings : ShownWindow<frm_Settings> {
    explicit Settings(EngineRig& rig) : ShownWindow(new frm_Settings(rig.engine)) {}
    QStringList selected() const
    {
        QStringList out;
        for (const char* name : {"Combo_comportNo", "Combo_BitsPerSec", "cmbDelay"})
            out << get<QComboBox>(QLatin1String(name))->currentText();
        return out;
    }
    void detect() const { QTest::mouseClick(get<QPushButton>(u"cmdChkModem"_s), Qt::LeftButton); }
    // The list of found modems once the scan has ended.
    Frm_FoundModemPortNumbers* foundList() const
    {
        const bool ended = QTest::qWaitFor([this] { return !w->findChild<frm_ChekModemProgress*>(); }, 20000);
        return ended ? w->findChild<Frm_FoundModemPortNumbers*>() : nullptr;
    }
};

// The visible rows of the list: port, manufacturer and model, one string per row.
QStringList rows(QTableWidget* grid)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList cells;
        for (int c = 1; c <= 3; ++c)
            cells << (grid->item(r, c) ? grid->item(r, c)->text().trimmed() : QString());
        out << cells.join('|');
    }
    return out;
}

void clickCell(QTableWidget* grid, int row, int column)
{
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->model()->index(row, column)).center());
}

} // namespace

class SettingsDetectTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modemsOnThreeAndFiveAreListedAndOneIsPicked();
    void cancelDuringTheScanShowsNoList();
    void noModemSaysSoOnceAndShowsNoListThenOneOnTheLastPort();
    void noScanOnceTheModemIsConnected();
    void pickedModemKeepsItsNumberWhenItsDeviceNameMoves();
};

void SettingsDetectTest::modemsOnThreeAndFiveAreListedAndOneIsPicked()
{
    EngineRig rig(EngineRig::Line::Terminal);
    ModemSimulator sim5;
    QString error;
    QVERIFY2(sim5.start(&error) && sim5.linkAs(rig.state.dataDir, 5, &error), qPrintable(error));
    rig.sim.setIdentity(u"Maker Three"_s, u"M-3"_s);
    sim5.setIdentity(u"Maker, Five"_s, u"M-5"_s); // a comma of its own must not shift the list
    rig.saveModemSetting(3);
    rig.db.execute(u"UPDATE ModemSetting SET ModemDelayFactor = '3'"_s);
    QSignalSpy connection(&rig.engine, &Engine::connectionChanged);

    Settings s(rig);
    s.detect();
    auto* progress = s.w->findChild<frm_ChekModemProgress*>();
    QVERIFY(progress && progress->isVisible());
    QSignalSpy bar(named<QProgressBar>(progress, u"ProgBar"_s), &QProgressBar::valueChanged);
    const bool progressModal = progress->windowModality() == Qt::ApplicationModal;

    Frm_FoundModemPortNumbers* list = s.foundList();
    QVERIFY(list && list->isVisible());
    QCOMPARE(bar.size(), 20); // five per port, 100 after COM20
    QCOMPARE(bar.last().first().toInt(), 100);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(!rig.engine.portInUse() && !rig.engine.status().connected);
    QCOMPARE(connection.size(), 0); // the main window's menus stay as they are
    const QStringList probe = {u"AT"_s, u"AT+CGMI"_s, u"AT+CGMM"_s};
    QCOMPARE(rig.sim.commands(), probe);
    QCOMPARE(sim5.commands(), probe);

    auto* grid = named<QTableWidget>(list, u"MshNumbers"_s);
    QVERIFY(progressModal && list->windowModality() == Qt::ApplicationModal);
    QVERIFY(grid->isColumnHidden(0));
    for (int c = 1; c <= 3; ++c) // headings readable in this desktop's font
        QVERIFY(grid->columnWidth(c) >= grid->horizontalHeader()->sectionSizeHint(c));
    QCOMPARE(rows(grid), QStringList({u"3|Maker Three|M-3"_s, u"5|Maker; Five|M-5"_s, u"||"_s}));
    QCOMPARE(grid->item(1, 2)->foreground().color(), QColor(0, 0, 255)); // the place to click
    QVERIFY(grid->item(1, 2)->font().bold());

    // Only the manufacturer of a listed modem picks.
    clickCell(grid, 1, 1);
    clickCell(grid, 1, 3);
    clickCell(grid, 2, 2);
    QVERIFY(list->isVisible() && !rig.state.selectPortFromList);

    QPointer<Frm_FoundModemPortNumbers> closing = list;
    clickCell(grid, 1, 2);
    QTRY_VERIFY(!closing);
    QVERIFY(rig.state.selectPortFromList);
    QCOMPARE(s.selected(), QStringList({u"5"_s, u"115200"_s, u"3"_s}));
    QTRY_COMPARE(QApplication::focusWidget(), s.get<QComboBox>(u"Combo_comportNo"_s));
    QVERIFY(rig.state.ManufacturerId.isEmpty() && rig.state.ModelId.isEmpty());
    QVERIFY(rig.state.ChildWindowOpen); // the settings window is still open

    // Same delay factor as stored, but a port from the list at a speed other than 9600: restart.
    QTest::mouseClick(s.get<QPushButton>(u"cmdSave1"_s), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY(rig.dialogs.messages().first().startsWith("You have changed the default modem settings"_L1));
    QCOMPARE(rig.endApplicationCalls, 1);
    QCOMPARE(ReadModemSetting(rig.db)->CommPortNo.toInt(), 5);
}

void SettingsDetectTest::cancelDuringTheScanShowsNoList()
{
    EngineRig rig(EngineRig::Line::Terminal);
    ModemSimulator silent; // COM1 opens but never answers: its probe takes a while
    QString error;
    QVERIFY2(silent.start(&error) && silent.linkAs(rig.state.dataDir, 1, &error), qPrintable(error));
    silent.setSilent(true);
    rig.saveModemSetting(3);
    Settings s(rig);
    const QStringList before = s.selected();

    s.detect();
    QPointer<frm_ChekModemProgress> progress = s.w->findChild<frm_ChekModemProgress*>();
    QVERIFY(progress);
    // Cancel while the scan waits for COM1's answer: the window is free the whole time.
    QTRY_VERIFY(silent.commands().contains(u"AT"_s));
    QTRY_COMPARE(named<QLabel>(progress, u"Label1"_s)->text(), u"5%"_s);
    QTest::mouseClick(named<QPushButton>(progress, u"Command1"_s), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!progress, 10000);
    QTRY_VERIFY(!rig.engine.portInUse());
    QTest::qWait(100);
    QVERIFY(s.w->findChildren<Frm_FoundModemPortNumbers*>().isEmpty());
    QVERIFY(!rig.engine.portInUse() && !rig.engine.status().connected);
    QCOMPARE(silent.commands(), QStringList{u"AT"_s});
    QVERIFY(rig.sim.commands().isEmpty()); // COM3 was never reached
    QVERIFY(rig.dialogs.shown.empty() && !rig.state.selectPortFromList);
    QCOMPARE(s.selected(), before);
    QVERIFY(rig.state.ChildWindowOpen); // given back as the scan found it
}

void SettingsDetectTest::noModemSaysSoOnceAndShowsNoListThenOneOnTheLastPort()
{
    EngineRig rig(EngineRig::Line::Terminal);
    QVERIFY(QFile::remove(ComPortLink(rig.state.dataDir, EngineRig::Com)));
    // What an earlier scan found is not this scan's result.
    rig.state.ComPorts = u"3, "_s;
    rig.state.ManufacturerId = u"Old,"_s;
    rig.state.ModelId = u"Old, "_s;
    Settings s(rig);
    const QStringList before = s.selected();
    s.detect();
    // The message says it all: no empty list to pick from.
    Frm_FoundModemPortNumbers* list = s.foundList();
    QVERIFY(!list);
    QCOMPARE(rig.dialogs.messages(), QStringList{u"Searched COM ports from 1 - 20 but did not find a modem."_s});
    QVERIFY(rig.state.ComPorts.isEmpty());
    QVERIFY(!rig.state.selectPortFromList && !rig.engine.status().connected);
    QCOMPARE(s.selected(), before);
    QVERIFY(rig.state.ChildWindowOpen);
    QTest::qWait(50);
    QCOMPARE(rig.dialogs.messages().size(), 1); // once

    // A modem on the last port only is found without the message.
    QString error;
    QVERIFY2(rig.sim.linkAs(rig.state.dataDir, 20, &error), qPrintable(error));
    rig.dialogs.clear();
    s.detect();
    QVERIFY((list = s.foundList()));
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(rows(named<QTableWidget>(list, u"MshNumbers"_s)).first().section('|', 0, 0), u"20"_s);
    list->close();
}

void SettingsDetectTest::noScanOnceTheModemIsConnected()
{
    EngineRig rig;   // no scan starts: the in-memory line will do
    Settings s(rig); // opened while disconnected: the button is enabled
    QVERIFY(s.get<QPushButton>(u"cmdChkModem"_s)->isEnabled());
    QVERIFY(rig.connectModem());
    rig.sim.clearRecords();
    s.detect();
    QCOMPARE(
        rig.dialogs.messages(),
        QStringList{u"You can not change the modem settings. Because computer is already connected with modem."_s});
    QVERIFY(!s.w->findChild<frm_ChekModemProgress*>());
    QVERIFY(rig.engine.status().ready && rig.engine.portInUse());
    QVERIFY(rig.sim.commands().isEmpty());
}

void SettingsDetectTest::pickedModemKeepsItsNumberWhenItsDeviceNameMoves()
{
    EngineRig rig(EngineRig::Line::Terminal);
    QVERIFY(QFile::remove(ComPortLink(rig.state.dataDir, EngineRig::Com)));
    // A USB modem as the kernel shows it: /dev/ttyUSB0, and its stable name in /dev/serial/by-id.
    const QString usb0 = rig.state.devDir + u"/ttyUSB0"_s;
    const QString stable = rig.state.serialByIdDir + u"/usb-Maker_Modem_0001-if00-port0"_s;
    QVERIFY(QDir().mkpath(rig.state.serialByIdDir));
    QVERIFY(QFile::link(rig.sim.devicePath(), usb0) && QFile::link(usb0, stable));
    QCOMPARE(ResolveComPort(rig.state, 1), usb0);

    Settings s(rig);
    s.detect();
    Frm_FoundModemPortNumbers* list = s.foundList();
    QVERIFY(list);
    auto* grid = named<QTableWidget>(list, u"MshNumbers"_s);
    QCOMPARE(rows(grid).first().section('|', 0, 0), u"1"_s);
    clickCell(grid, 0, 2);
    QTRY_VERIFY(rig.state.selectPortFromList);
    QCOMPARE(ResolveComPort(rig.state, 1), stable);

    // The modem is unplugged and another device gets ttyUSB0: COM1 is not that device.
    ModemSimulator other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(QFile::remove(stable) && QFile::remove(usb0) && QFile::link(other.devicePath(), usb0));
    QVERIFY(!QFileInfo::exists(ResolveComPort(rig.state, 1)));
    QVERIFY(DescribeComPort(rig.state, 1).endsWith(u", not present"_s));
}

QTEST_MAIN(SettingsDetectTest)
#include "tst_settings_detect.moc"
