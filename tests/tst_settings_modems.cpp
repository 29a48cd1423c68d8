// The modem list of the settings window: Add, Remove and Detect, the fields following the selected modem, and
// Save storing every modem (the first one still as the ModemSetting row) and giving the engine a session each.
#include "EngineRig.h"
#include "SettingsWindow.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "settings/frm_ChekModemProgress.h"
#include "settings/frm_Settings.h"
#include "store/ModemsRepository.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

using namespace Qt::StringLiterals;

namespace {

const QString Saved = u"Settings Saved Successfully!!!"_s;
const QStringList ModemSettingColumns = u"CommPortNo BitsPerSecond DataBits Parity StopBits FlowControl CharacterSet "
                                        u"ModemDelayFactor EnabledCallerId MessageFormat"_s.split(' ');

struct Window : SettingsWindow {
    using SettingsWindow::SettingsWindow;
    // Sets a field as the user would: an item of a list, a name, or a check box ("on"/"off").
    void set(const QString& control, const QString& value) const
    {
        QWidget* c = get<QWidget>(control);
        if (auto* box = qobject_cast<QComboBox*>(c))
            box->setCurrentText(value);
        else if (auto* line = qobject_cast<QLineEdit*>(c))
            line->setText(value);
        else
            qobject_cast<QCheckBox*>(c)->setChecked(value == u"on"_s);
    }
    QString shown(const QString& control) const
    {
        QWidget* c = get<QWidget>(control);
        if (auto* box = qobject_cast<QComboBox*>(c))
            return box->currentText();
        if (auto* line = qobject_cast<QLineEdit*>(c))
            return line->text();
        return qobject_cast<QCheckBox*>(c)->isChecked() ? u"on"_s : u"off"_s;
    }
    QStringList row(int r) const
    {
        QStringList cells;
        for (int c = 0; c < list()->columnCount(); ++c)
            cells << (list()->item(r, c) ? list()->item(r, c)->text() : QString());
        return cells;
    }
    // Adds a modem on this port.
    void add(int port) const
    {
        click(u"cmdAddModem"_s);
        set(u"Combo_comportNo"_s, QString::number(port));
    }
    void save() const { click(u"cmdSave1"_s); }
};

// The first modem as stored (with the message format a Save writes).
void storeFirstModem(EngineRig& rig)
{
    rig.saveModemSetting();
    WriteMessageFormat(rig.db, u"Text"_s);
    rig.engine.setDelayFactor(1);
}

QStringList modemSetting(EngineRig& rig)
{
    QStringList out;
    for (const QString& column : ModemSettingColumns)
        out << rig.db.scalar(u"SELECT %1 FROM ModemSetting"_s.arg(column)).toString();
    return out;
}

QList<int> ids(const QList<ModemConfig>& modems)
{
    QList<int> out;
    for (const ModemConfig& m : modems)
        out << m.id;
    return out;
}

} // namespace

class SettingsModemsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneFieldOfAModemIsSavedAndShownAgain_data();
    void oneFieldOfAModemIsSavedAndShownAgain();
    void twoModemsAddedEditedSavedThenOneRemoved();
    void firstModemIsNotRemoved();
    void saveRefusesAnIncompleteOrDoubledModem_data();
    void saveRefusesAnIncompleteOrDoubledModem();
    void detectAddsTheModemsNotInTheList();
};

void SettingsModemsTest::oneFieldOfAModemIsSavedAndShownAgain_data()
{
    QTest::addColumn<int>("row"); // 0 the first modem, 1 a modem added
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("column"); // of the Modems table
    QTest::addColumn<QString>("stored");
    auto row = [](int r, const char* control, const char* value, const char* column, const char* stored) {
        QTest::addRow("%s %s %s", r ? "added" : "first", control, value)
            << r << QString(control) << QString(value) << QString(column) << QString(stored);
    };
    row(1, "txtModemName", "Counter 2", "Name", "Counter 2");
    row(1, "Combo_comportNo", "7", "CommPortNo", "7");
    row(1, "Combo_BitsPerSec", "9600", "BitsPerSecond", "9600");
    row(1, "Combo_Parity", "Even", "Parity", "e");
    row(1, "Combo_DataBits", "7", "DataBits", "7");
    row(1, "Combo_stopBit", "2", "StopBits", "2");
    row(1, "Cmb_FlowControl", "Hardware", "FlowControl", "2");
    row(1, "cmbMessageFormat", "PDU", "MessageFormat", "PDU");
    row(1, "cmb_CharSet", "ASCII", "CharacterSet", "ASCII");
    row(1, "chkEnbCallID", "on", "EnabledCallerId", "-1");
    row(1, "cmbDelay", "2.5", "ModemDelayFactor", "2.5");
    row(1, "cmbModemRole", "Send only", "Role", "Send");
    row(1, "cmbModemRole", "Receive only", "Role", "Receive");
    row(1, "chkModemOn", "off", "Enabled", "0");
    // The first modem keeps its settings in ModemSetting; the Modems table adds its name, role and switch.
    row(0, "txtModemName", "Front desk", "Name", "Front desk");
    row(0, "cmbModemRole", "Receive only", "Role", "Receive");
    row(0, "chkModemOn", "off", "Enabled", "0");
}

void SettingsModemsTest::oneFieldOfAModemIsSavedAndShownAgain()
{
    QFETCH(int, row);
    QFETCH(QString, control);
    QFETCH(QString, value);
    QFETCH(QString, column);
    QFETCH(QString, stored);
    EngineRig rig;
    storeFirstModem(rig);
    const QStringList first = modemSetting(rig);
    {
        Window w(rig);
        if (row == 1)
            w.add(5);
        w.select(row);
        w.set(control, value);
        w.save();
        QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    }
    const QList<ModemConfig> modems = ModemsRepository(rig.db).all();
    QCOMPARE(modems.size(), row + 1);
    QCOMPARE(rig.db.scalar(u"SELECT %1 FROM Modems WHERE ModemId = ?"_s.arg(column), {modems.last().id}).toString(),
             stored);
    QCOMPARE(modemSetting(rig), first);
    QCOMPARE(rig.engine.modemIds(), ids(modems));
    QCOMPARE(rig.endApplicationCalls, 0);

    Window again(rig);
    again.select(row);
    QCOMPARE(again.shown(control), value);
}

void SettingsModemsTest::twoModemsAddedEditedSavedThenOneRemoved()
{
    EngineRig rig;
    storeFirstModem(rig);
    const QStringList first = modemSetting(rig);
    Window w(rig);
    QCOMPARE(w.list()->rowCount(), 1);
    QCOMPARE(w.list()->currentRow(), 0);
    QCOMPARE(w.row(0), u"Modem 1|COM3|115200|Text|Send and receive|On"_s.split('|'));

    w.add(5);
    w.set(u"txtModemName"_s, u"Sender"_s);
    w.set(u"cmbMessageFormat"_s, u"PDU"_s);
    w.set(u"cmbModemRole"_s, u"Send only"_s);
    w.add(6);
    w.set(u"Combo_BitsPerSec"_s, u"9600"_s);
    w.set(u"chkModemOn"_s, u"off"_s);
    // The fields follow the selection, and each row shows what its modem is set to.
    w.select(1);
    QCOMPARE(w.shown(u"Combo_comportNo"_s), u"5"_s);
    QCOMPARE(w.shown(u"txtModemName"_s), u"Sender"_s);
    w.set(u"Combo_BitsPerSec"_s, u"57600"_s);
    w.select(0);
    QCOMPARE(w.shown(u"Combo_comportNo"_s), u"3"_s);
    QCOMPARE(w.row(1), u"Sender|COM5|57600|PDU|Send only|On"_s.split('|'));
    QCOMPARE(w.row(2), u"New modem|COM6|9600|Text|Send and receive|Off"_s.split('|'));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});

    const QList<ModemConfig> modems = ModemsRepository(rig.db).all();
    QCOMPARE(modems.size(), 3);
    QCOMPARE(modemSetting(rig), first);
    ModemConfig sender = modems.at(1), off = modems.at(2);
    QVERIFY(sender.id >= 2 && off.id > sender.id);
    QCOMPARE(QList<int>({sender.port, off.port}), QList<int>({5, 6}));
    QCOMPARE(QStringList({sender.name, sender.bitsPerSecond, off.bitsPerSecond}),
             QStringList({u"Sender"_s, u"57600"_s, u"9600"_s}));
    QVERIFY(sender.pdu && !off.pdu);
    QVERIFY(sender.role == ModemConfig::Role::Send && off.role == ModemConfig::Role::Both);
    QVERIFY(sender.enabled && !off.enabled);
    QCOMPARE(rig.engine.modemIds(), QList<int>({1, sender.id, off.id}));
    QCOMPARE(w.row(2).first(), u"Modem %1"_s.arg(off.id)); // saved: it has its id now

    // Remove takes a further modem out at the next Save; its session goes with it.
    w.select(1);
    w.click(u"cmdRemoveModem"_s);
    QCOMPARE(w.list()->rowCount(), 2);
    QCOMPARE(w.list()->currentRow(), 0);
    QCOMPARE(w.shown(u"Combo_comportNo"_s), u"3"_s);
    QCOMPARE(ids(ModemsRepository(rig.db).all()).size(), 3);
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(ids(ModemsRepository(rig.db).all()), QList<int>({1, off.id}));
    QCOMPARE(rig.engine.modemIds(), QList<int>({1, off.id}));
    QCOMPARE(modemSetting(rig), first);
}

void SettingsModemsTest::firstModemIsNotRemoved()
{
    EngineRig rig;
    rig.saveModemSetting();
    Window w(rig);
    w.add(5);
    w.select(0);
    w.click(u"cmdRemoveModem"_s);
    QCOMPARE(rig.dialogs.messages(), QStringList{frm_Settings::firstModemRefusal()});
    QCOMPARE(w.list()->rowCount(), 2);
    QCOMPARE(w.shown(u"Combo_comportNo"_s), u"3"_s);
}

void SettingsModemsTest::saveRefusesAnIncompleteOrDoubledModem_data()
{
    QTest::addColumn<int>("port"); // of the added modem; 0: none chosen
    QTest::addColumn<QString>("switchedOn");
    QTest::addColumn<QString>("message");
    QTest::addRow("no port") << 0 << u"on"_s << u"Please select Comm port Number."_s;
    QTest::addRow("port of the first")
        << 3 << u"on"_s << u"COM3 is set for another modem already. Please select another Comm port Number."_s;
    QTest::addRow("port of the first, switched off") << 3 << u"off"_s << Saved;
}

void SettingsModemsTest::saveRefusesAnIncompleteOrDoubledModem()
{
    QFETCH(int, port);
    QFETCH(QString, switchedOn);
    QFETCH(QString, message);
    EngineRig rig;
    rig.saveModemSetting();
    rig.engine.setDelayFactor(1);
    Window w(rig);
    w.click(u"cmdAddModem"_s);
    if (port)
        w.set(u"Combo_comportNo"_s, QString::number(port));
    w.set(u"chkModemOn"_s, switchedOn);
    w.select(0);
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    const bool refused = message != Saved;
    // A refusal shows the modem refused.
    QCOMPARE(w.list()->currentRow(), refused ? 1 : 0);
    QCOMPARE(ModemsRepository(rig.db).all().size(), refused ? 1 : 2);
}

void SettingsModemsTest::detectAddsTheModemsNotInTheList()
{
    EngineRig rig(EngineRig::Line::Terminal); // the first modem's simulator is COM3
    ModemSimulator sim5;
    QString error;
    QVERIFY2(sim5.start(&error) && sim5.linkAs(rig.state.dataDir, 5, &error), qPrintable(error));
    rig.sim.setIdentity(u"Maker Three"_s, u"M-3"_s);
    sim5.setIdentity(u"Maker Five"_s, u"M-5"_s);
    rig.saveModemSetting(3);
    rig.engine.setDelayFactor(1);
    Window w(rig);

    for (const QString& outcome :
         {u"Modems added: 1. Save keeps them."_s, u"The modems found are in the list already."_s}) {
        w.click(u"cmdDetectModems"_s);
        QVERIFY(w.w->findChild<frm_ChekModemProgress*>());
        QVERIFY(QTest::qWaitFor([&] { return !w.w->findChild<frm_ChekModemProgress*>(); }, 20000));
        QCOMPARE(w.get<QLabel>(u"lblDetectResult"_s)->text(), outcome);
        QVERIFY(!w.w->findChild<Frm_FoundModemPortNumbers*>());
        QVERIFY(rig.dialogs.shown.empty());
        QCOMPARE(w.list()->rowCount(), 2);
        QCOMPARE(w.row(1), u"Maker Five M-5|COM5|115200|Text|Send and receive|On"_s.split('|'));
    }
    QCOMPARE(w.list()->currentRow(), 1);
    QCOMPARE(w.shown(u"cmbDelay"_s), u"3"_s);
    w.save();
    const QList<ModemConfig> modems = ModemsRepository(rig.db).all();
    QCOMPARE(modems.size(), 2);
    QCOMPARE(modems.last().port, 5);
    QCOMPARE(modems.last().name, u"Maker Five M-5"_s);
    QCOMPARE(rig.engine.modemIds(), ids(modems));
}

QTEST_MAIN(SettingsModemsTest)
#include "tst_settings_modems.moc"
