// The settings window against a real database: what it shows, what Save stores and refuses, the running
// values it changes, and when it restarts the program.
#include "EngineRig.h"
#include "ShownWindow.h"
#include "modem/ComPorts.h"
#include "settings/frm_Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabBar>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

const QString Saved = u"Settings Saved Successfully!!!"_s;
const QString Restart = u"You have changed the default modem settings, this needs to restart(OFF & ON) your modem as "
                        u"well as restart this application.\r\n\r\nThis software will now close. Please restart the "
                        u"application."_s;
const QString FirstSetup = u"Settings Saved Successfully!!!\r\n\r\nBroadtext now restarts to apply them."_s;
const QStringList ModemLists =
    u"Combo_comportNo Combo_BitsPerSec Combo_DataBits Combo_Parity Combo_stopBit Cmb_FlowControl cmb_CharSet cmbDelay"_s
        .split(' ');
// What Save says when the list of the same place in ModemLists has no selection.
const QStringList Refusals = [] {
    QStringList out;
    for (const QString& what : u"Comm port Number|Bits Per Second|Data Bits|Parity|Stop bits|Flow Control|Character "
                               u"set|Modem Delay Factor"_s.split('|'))
        out << u"Please select "_s + what + u"."_s;
    return out;
}();
// The columns behind ModemLists, in the same order, and the caller id.
const QStringList ModemColumns = u"CommPortNo BitsPerSecond DataBits Parity StopBits FlowControl CharacterSet "
                                 u"ModemDelayFactor EnabledCallerId"_s.split(' ');
const QStringList TimerColumns =
    u"EnableReceiveTimer ReceiveAllMessagesTime EnableSendTimer SendAllMessagesTime SMSDelevaryMode"_s.split(' ');

// The settings window of one test, shown and active (focus is only reported in the active window).
struct Window : ShownWindow<frm_Settings> {
    explicit Window(EngineRig& rig) : ShownWindow(new frm_Settings(rig.engine)) {}
    QComboBox* list(const QString& name) const { return get<QComboBox>(name); }
    QLineEdit* box(const QString& name) const { return get<QLineEdit>(name); }
    QCheckBox* check(const QString& name) const { return get<QCheckBox>(name); }
    bool visible(const QString& name) const { return get<QWidget>(name)->isVisible(); }
    int tab() const { return get<QTabBar>(u"TabStrip1"_s)->currentIndex(); }
    void setTab(int i) const { get<QTabBar>(u"TabStrip1"_s)->setCurrentIndex(i); }
    QStringList selected() const
    {
        QStringList out;
        for (const QString& name : ModemLists)
            out << list(name)->currentText();
        return out;
    }
    void pick(const QString& name, const QString& item) const { list(name)->setCurrentText(item); }
    void save() const { QTest::mouseClick(get<QPushButton>(u"cmdSave1"_s), Qt::LeftButton); }
    // Replaces the text of a time box as a paste would (one change).
    void paste(const QString& name, const QString& text) const { box(name)->setText(text); }
};

// The one row of ModemSetting or Timer_setting, as text, in the order of the column list.
QStringList stored(EngineRig& rig, const QStringList& columns)
{
    const QString table = columns == TimerColumns ? u"Timer_setting"_s : u"ModemSetting"_s;
    QStringList out;
    for (const QString& column : columns)
        out << rig.db.scalar(u"SELECT %1 FROM %2"_s.arg(column, table)).toString();
    return out;
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshDatabaseRefusesEmptyListsInOrderThenInserts();
    void oneChangedFieldIsStoredAndReadBack_data();
    void oneChangedFieldIsStoredAndReadBack();
    void connectedModemTabIsReadOnlyAndTimersRunAtOnce();
    void storedValuesOutsideTheListsAreRefused_data();
    void storedValuesOutsideTheListsAreRefused();
    void timeBoxIsCheckedAtEveryChange_data();
    void timeBoxIsCheckedAtEveryChange();
    void timeBoxesAreCheckedAndAppliedAtSave();
    void lockedDatabaseStoresNothingAndTheProgramGoesOn();
    void comPortDeviceOnTopAndChildWindowOpen();
    void messageFormatAndReportsNeedNoRestart();
};

void SettingsWindowTest::freshDatabaseRefusesEmptyListsInOrderThenInserts()
{
    EngineRig rig;
    Window w(rig);
    QVERIFY(w.tab() == 0 && w.visible(u"Frame1"_s) && !w.visible(u"Frame2"_s));
    // Nothing stored yet: every list but the port holds what nearly every GSM modem works with.
    QCOMPARE(w.selected(), u"|115200|8|None|1|None|GSM|1"_s.split('|'));
    QVERIFY(!w.check(u"chkEnbCallID"_s)->isChecked());
    QVERIFY(w.check(u"chkNotifications"_s)->isChecked());
    QVERIFY(!w.visible(u"lblAlertMsg"_s));
    QVERIFY(w.get<QPushButton>(u"cmdChkModem"_s)->isEnabled());

    // The choices a user has, in their order; none of the lists takes typed text.
    const QStringList choices =
        u"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20|110 300 1200 2400 4800 9600 19200 "
        u"38400 57600 115200 230400 460800 921600|5 6 7 8|Even Odd None Mark Space|1 1.5 2|None "
        u"Xon/Xoff Hardware|ANSI ASCII GSM CDMA|1 1.25 1.5 1.75 2 2.25 2.5 2.75 3 3.25 3.5 3.75 "
        u"4 4.25 4.5 4.75 5 5.25 5.5 5.75 6 6.25 6.5 6.75 7"_s.split('|');
    for (int i = 0; i < ModemLists.size(); ++i) {
        QComboBox* c = w.list(ModemLists[i]);
        QStringList got;
        for (int j = 0; j < c->count(); ++j)
            got << c->itemText(j);
        QCOMPARE(got.join(' '), choices[i]);
        QVERIFY(!c->isEditable());
    }
    QVERIFY(rig.dialogs.shown.empty());
    for (const QString& name : ModemLists)
        w.list(name)->setCurrentIndex(-1);

    // Each Save names the first empty list, from the timer tab too; the new intervals already run.
    w.setTab(1);
    QVERIFY(!w.visible(u"Frame1"_s) && w.visible(u"Frame2"_s));
    w.paste(u"txtSendmsgtime"_s, u"30"_s);
    const QStringList picks = u"3 9600 8 None 1 Hardware GSM 1.25"_s.split(' ');
    for (int i = 0; i < ModemLists.size(); ++i) {
        w.setTab(1);
        rig.dialogs.clear();
        w.save();
        QCOMPARE(rig.dialogs.messages(), QStringList{Refusals[i]});
        QCOMPARE(w.tab(), 0);
        QCOMPARE(QApplication::focusWidget(), w.list(ModemLists[i]));
        QCOMPARE(rig.db.count(u"SELECT count(*) FROM ModemSetting"_s), 0);
        QCOMPARE(stored(rig, TimerColumns).at(3), u"10"_s);
        w.pick(ModemLists[i], picks[i]);
    }
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(30));

    // The stored factor of an empty table counts as 0: the first Save always restarts (here without a way to
    // start again: the program only ends). A first setup has no modem to switch off and on.
    w.check(u"chkEnbCallID"_s)->setChecked(true);
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{FirstSetup});
    QCOMPARE(rig.endApplicationCalls, 1);
    QCOMPARE(rig.engine.status().delayFactor, 1.25);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM ModemSetting"_s), 1);
    QCOMPARE(stored(rig, ModemColumns), u"3 9600 8 n 1 2 GSM 1.25 -1"_s.split(' '));
    QCOMPARE(stored(rig, TimerColumns).at(3), u"30"_s);
}

void SettingsWindowTest::oneChangedFieldIsStoredAndReadBack_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("code");
    // Stored before: COM3, 115200, 8, n, 1, flow 0, GSM, caller id on, delay factor 1.
    auto row = [](const char* control, const char* item, const char* code) {
        QTest::addRow("%s %s", control, item) << QString(control) << QString(item) << QString(code);
    };
    row("Combo_comportNo", "20", "20");
    row("Combo_BitsPerSec", "9600", "9600");
    row("Combo_DataBits", "7", "7");
    row("Combo_Parity", "Even", "e");
    row("Combo_Parity", "Odd", "o");
    row("Combo_Parity", "Mark", "m");
    row("Combo_Parity", "Space", "s");
    row("Combo_stopBit", "1.5", "1.5");
    row("Cmb_FlowControl", "Xon/Xoff", "1");
    row("Cmb_FlowControl", "Hardware", "2");
    row("cmb_CharSet", "ASCII", "ASCII");
    row("chkEnbCallID", "", "0");
    row("cmbDelay", "6.75", "6.75"); // the only change that restarts
}

void SettingsWindowTest::oneChangedFieldIsStoredAndReadBack()
{
    QFETCH(QString, control);
    QFETCH(QString, item);
    QFETCH(QString, code);
    EngineRig rig;
    rig.saveModemSetting();
    rig.engine.setDelayFactor(1);
    QStringList expected = stored(rig, ModemColumns);
    const bool callerId = item.isEmpty();
    expected[callerId ? ModemLists.size() : ModemLists.indexOf(control)] = code;
    const bool restart = control == u"cmbDelay"_s;
    {
        Window w(rig);
        if (callerId)
            w.check(control)->setChecked(false);
        else
            w.pick(control, item);
        w.save();
        QCOMPARE(rig.dialogs.messages(), QStringList{restart ? Restart : Saved});
        QCOMPARE(rig.endApplicationCalls, restart ? 1 : 0);
    }
    QCOMPARE(stored(rig, ModemColumns), expected);
    QCOMPARE(rig.engine.status().delayFactor, restart ? 6.75 : 1.0);
    Window w(rig);
    if (callerId)
        QVERIFY(!w.check(control)->isChecked());
    else
        QCOMPARE(w.list(control)->currentText(), item);
}

void SettingsWindowTest::connectedModemTabIsReadOnlyAndTimersRunAtOnce()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    const QStringList before = stored(rig, ModemColumns);
    Window w(rig);
    QVERIFY(!w.get<QWidget>(u"Frame1"_s)->isEnabled());
    for (const QString& name : ModemLists + QStringList{u"chkEnbCallID"_s, u"cmdChkModem"_s})
        QVERIFY2(!w.get<QWidget>(name)->isEnabled(), qPrintable(name));
    QVERIFY(w.visible(u"lblAlertMsg"_s));
    QCOMPARE(w.get<QLabel>(u"lblAlertMsg"_s)->text(),
             u"You can not change the modem settings. Because computer is already connected with modem."_s);
    // The stored codes come back as the items they stand for.
    QCOMPARE(w.selected(), u"3 115200 8 None 1 None GSM 1"_s.split(' '));

    w.paste(u"txtSendmsgtime"_s, u"40"_s);
    w.paste(u"txttime"_s, u"65"_s);
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(stored(rig, ModemColumns), before);
    QCOMPARE(rig.engine.Timer2.interval(), 40000);
    QCOMPARE(rig.engine.Timer1.interval(), 65000);
    QCOMPARE(stored(rig, TimerColumns).at(3), u"40"_s);
    QVERIFY(rig.engine.status().connected);

    // The lock was decided at load: a disconnect while the window is open does not lift it.
    rig.engine.Disconnect();
    QVERIFY(!w.list(u"cmbDelay"_s)->isEnabled());
}

void SettingsWindowTest::storedValuesOutsideTheListsAreRefused_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("value");
    auto row = [](const char* column, const QVariant& value) {
        QTest::addRow("%s %s", column, qPrintable(value.toString())) << QString(column) << value;
    };
    row("Parity", "N"); // the letters are lower case
    row("FlowControl", "7");
    row("CharacterSet", "gsm"); // items match exactly
    row("ModemDelayFactor", QVariant());
    row("ModemDelayFactor", "8");
}

void SettingsWindowTest::storedValuesOutsideTheListsAreRefused()
{
    QFETCH(QString, column);
    QFETCH(QVariant, value);
    EngineRig rig;
    rig.saveModemSetting();
    rig.db.execute(u"UPDATE ModemSetting SET %1 = ?"_s.arg(column), {value});
    const qsizetype i = ModemColumns.indexOf(column);
    Window w(rig);
    for (const QString& other : ModemLists)
        QVERIFY2((w.list(other)->currentIndex() < 0) == (other == ModemLists[i]), qPrintable(other));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Refusals[i]});
    QCOMPARE(w.tab(), 0);
    QCOMPARE(QApplication::focusWidget(), w.list(ModemLists[i]));
    QCOMPARE(rig.db.scalar(u"SELECT %1 FROM ModemSetting"_s.arg(column)).toString(), value.toString());
}

void SettingsWindowTest::timeBoxIsCheckedAtEveryChange_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("message");
    auto row = [](const char* box, const char* input, bool pasted, const QString& message) {
        QTest::addRow("%s %s %s", box, input, pasted ? "pasted" : "typed")
            << QString(box) << QString(input) << pasted << message;
    };
    const QString numeric = u"Please enter numeric value."_s;
    const QString dollar = u"Doller sign is not allowed in time."_s;
    const QString plus = u"Pluse sign is not allowed in time."_s;
    const QString minus = u"Minus sign is not allowed in time."_s;
    // Typing 70 is refused at the 0; a refusal empties the box.
    row("txttime", "70", false, u"Receive message time should be less than or equal to 65 seconds."_s);
    row("txtSendmsgtime", "70", false, u"Send Message time should be less than or equal to 65 seconds."_s);
    row("txttime", "65", false, QString());
    row("txttime", "3.5", false, QString());
    row("txttime", "-", false, numeric);
    row("txttime", "5-", false, minus);
    row("txtSendmsgtime", "5+", false, plus);
    row("txttime", "1,", false, u"Quama is not allowed in time."_s);
    row("txttime", "$5", true, dollar);
    row("txtSendmsgtime", "a", false, numeric);
    // Several refused characters at once: one message, dollar before plus before minus before comma.
    row("txttime", "$-5", true, dollar);
    row("txttime", "+1,5", true, plus);
    row("txttime", "1,5-", true, minus);
}

void SettingsWindowTest::timeBoxIsCheckedAtEveryChange()
{
    QFETCH(QString, box);
    QFETCH(QString, input);
    QFETCH(bool, pasted);
    QFETCH(QString, message);
    EngineRig rig;
    Window w(rig);
    w.setTab(1);
    QLineEdit* b = w.box(box);
    b->clear();
    if (pasted)
        w.paste(box, input);
    else
        QTest::keyClicks(b, input);
    QCOMPARE(rig.dialogs.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(b->text(), message.isEmpty() ? input : QString());
    if (!message.isEmpty())
        QCOMPARE(QApplication::focusWidget(), b);
}

void SettingsWindowTest::timeBoxesAreCheckedAndAppliedAtSave()
{
    EngineRig rig;
    rig.saveModemSetting();
    rig.state.ReceiveIntervalSeconds = rig.state.SendIntervalSeconds = 10;
    rig.engine.Timer1.setInterval(10000);
    const QStringList before = stored(rig, TimerColumns);
    Window w(rig);
    // A refusal stores nothing and leaves the running intervals; it shows the timer tab, empties the box and puts
    // the focus there when the user can type into it.
    const QString below3 = u"Automatically %1 all messages time should be greater than or equal to 3."_s;
    const struct {
        QString box, check, text;
        bool ticked;
        QString message;
    } refusals[] = {
        {u"txtSendmsgtime"_s, u"chkEnableSend"_s, u"0"_s, false, below3.arg("send")},
        {u"txttime"_s, u"chkEnableReceive"_s, QString(), true, u"Please enter time in seconds."_s},
        {u"txttime"_s, u"chkEnableReceive"_s, u"2.5"_s, true, below3.arg("receive")}, // rounds to even: 2
    };
    for (const auto& r : refusals) {
        w.check(r.check)->setChecked(r.ticked);
        w.paste(r.box, r.text);
        w.check(u"chkEnbCallID"_s)->setFocus();
        rig.dialogs.clear();
        w.save();
        QCOMPARE(rig.dialogs.messages(), QStringList{r.message});
        QCOMPARE(w.tab(), 1);
        QVERIFY(w.box(r.box)->text().isEmpty());
        QCOMPARE(QApplication::focusWidget() == w.box(r.box), r.ticked);
        QCOMPARE(stored(rig, TimerColumns), before);
        QVERIFY(rig.state.ReceiveIntervalSeconds == 10 && rig.state.SendIntervalSeconds == 10);
    }

    w.check(u"chkEnableSend"_s)->setChecked(true);
    w.paste(u"txttime"_s, u"3.5"_s);
    w.paste(u"txtSendmsgtime"_s, u"4.5"_s);
    w.get<QRadioButton>(u"OptStoreOnSIM"_s)->setChecked(true);
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(stored(rig, TimerColumns), u"-1|3.5|-1|4.5|STORE AND DELIVER"_s.split('|'));
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(4));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(4)); // halves go to the even neighbour
    QCOMPARE(rig.engine.Timer2.interval(), 0);          // not connected: the period waits for Connect

    // Unticking stops the reception timer at Save, connected or not; the disabled box keeps its text.
    w.check(u"chkEnableReceive"_s)->setChecked(false);
    QVERIFY(!w.box(u"txttime"_s)->isEnabled());
    w.save();
    QCOMPARE(rig.engine.Timer1.interval(), 0);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(0));
    QCOMPARE(stored(rig, TimerColumns).mid(0, 2), QStringList({u"0"_s, u"3.5"_s}));

    w.check(u"chkNotifications"_s)->setChecked(false);
    w.save();

    Window again(rig);
    QVERIFY(!again.check(u"chkEnableReceive"_s)->isChecked());
    QVERIFY(again.get<QRadioButton>(u"OptStoreOnSIM"_s)->isChecked());
    QVERIFY(!again.check(u"chkNotifications"_s)->isChecked());
    again.get<QRadioButton>(u"OptDirctDelevary"_s)->setChecked(true);
    again.check(u"chkNotifications"_s)->setChecked(true);
    again.save();
    QCOMPARE(stored(rig, TimerColumns).last(), u"DIRECT DELIVER"_s);
    QVERIFY(Window(rig).check(u"chkNotifications"_s)->isChecked());
}

void SettingsWindowTest::lockedDatabaseStoresNothingAndTheProgramGoesOn()
{
    EngineRig rig;
    rig.saveModemSetting();
    rig.engine.setDelayFactor(1);
    const QStringList modemBefore = stored(rig, ModemColumns), timersBefore = stored(rig, TimerColumns);
    Window w(rig);
    w.pick(u"cmbDelay"_s, u"2"_s);
    w.pick(u"Combo_BitsPerSec"_s, u"9600"_s);
    w.paste(u"txttime"_s, u"33"_s);
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"holder"_s);
        other.setDatabaseName(rig.db.filePath());
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY(hold.exec(u"BEGIN EXCLUSIVE"_s));
        w.save();
        QVERIFY(hold.exec(u"ROLLBACK"_s));
        hold.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase(u"holder"_s);
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY2(rig.dialogs.messages().first().contains("locked"_L1), qPrintable(rig.dialogs.messages().first()));
    QCOMPARE(rig.endApplicationCalls, 0);
    QVERIFY(w.w && w.w->isVisible());
    QCOMPARE(stored(rig, ModemColumns), modemBefore);
    QCOMPARE(stored(rig, TimerColumns), timersBefore);
    QCOMPARE(rig.engine.status().delayFactor, 1.0);

    // Both rows are stored in one go or not at all: a refused timer row takes back the modem row written before.
    rig.db.execute(u"CREATE TRIGGER refuse BEFORE UPDATE ON Timer_setting BEGIN SELECT RAISE(ABORT, 'refused'); END"_s);
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY2(rig.dialogs.messages().first().contains("refused"_L1), qPrintable(rig.dialogs.messages().first()));
    QCOMPARE(stored(rig, ModemColumns), modemBefore);
    QCOMPARE(rig.engine.status().delayFactor, 1.0);
    rig.db.execute(u"DROP TRIGGER refuse"_s);

    // Once the database is free again the same Save goes through.
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Restart});
    QCOMPARE(stored(rig, TimerColumns).at(1), u"33"_s);
}

void SettingsWindowTest::comPortDeviceOnTopAndChildWindowOpen()
{
    EngineRig rig(EngineRig::Line::Terminal); // the simulator is linked as COM3; nothing else exists
    rig.saveModemSetting(3);
    QVERIFY(!rig.state.ChildWindowOpen);
    Window w(rig);
    QVERIFY(rig.state.ChildWindowOpen);
    QVERIFY(w.w->windowHandle() && w.w->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));

    // Which device a COM number stands for, as the user changes it.
    auto* device = w.get<QLabel>(u"lblComPortDevice"_s);
    QCOMPARE(device->text(), DescribeComPort(rig.state, 3));
    QVERIFY2(device->text().contains(rig.sim.devicePath()), qPrintable(device->text()));
    w.pick(u"Combo_comportNo"_s, u"4"_s);
    QCOMPARE(device->text(), DescribeComPort(rig.state, 4));
    QVERIFY2(device->text().contains("no serial device"_L1), qPrintable(device->text()));

    // Exit forgets unsaved changes and unloads the window.
    QTest::mouseClick(w.get<QPushButton>(u"cmdExit3"_s), Qt::LeftButton);
    QVERIFY(!rig.state.ChildWindowOpen);
    QTRY_VERIFY(!w.w);
    QCOMPARE(stored(rig, ModemColumns).first(), u"3"_s);
    QVERIFY(rig.dialogs.shown.empty());
}

QTEST_MAIN(SettingsWindowTest)
#include "tst_settings_window.moc"

void SettingsWindowTest::messageFormatAndReportsNeedNoRestart()
{
    EngineRig rig;
    rig.saveModemSetting();
    {
        Window w(rig);
        QCOMPARE(w.list(u"cmbMessageFormat"_s)->currentText(), u"Text"_s);
        w.pick(u"cmbMessageFormat"_s, u"PDU"_s);
        w.save();
    }
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(rig.endApplicationCalls, 0);
    QVERIFY(rig.engine.status().pduMessages); // the counters count 153 a part from now on
    QVERIFY(rig.connectAndWait());
    QVERIFY(rig.sim.pduMode());

    // Asking for delivery reports while connected: applied by reconnecting.
    Window w(rig);
    w.setTab(1);
    w.check(u"chkDeliveryReports"_s)->setChecked(true);
    w.save();
    QTRY_VERIFY(rig.sim.commands().contains(u"AT+CNMI=2,1,0,1,0"_s));
    QTRY_VERIFY(rig.engine.status().ready);
}
