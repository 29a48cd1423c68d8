// The settings window against a real database: what it shows, what Save stores and refuses, the running
// values it changes, and when it ends the program for a restart.
#include "EngineRig.h"
#include "modem/ComPorts.h"
#include "settings/frm_Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QWindow>

namespace {

const QString Saved = QStringLiteral("Settings Saved Successfully!!!");
const QString Restart =
    QStringLiteral("You have changed the default modem settings, this needs to restart(OFF & ON) your modem as well as "
                   "restart this application.\r\n\r\nThis software will now close. Please restart the application.");
const QString Locked =
    QStringLiteral("You can not change the modem settings. Because computer is already connected with modem.");
const QStringList ModemLists = {QStringLiteral("Combo_comportNo"), QStringLiteral("Combo_BitsPerSec"),
                                QStringLiteral("Combo_DataBits"),  QStringLiteral("Combo_Parity"),
                                QStringLiteral("Combo_stopBit"),   QStringLiteral("Cmb_FlowControl"),
                                QStringLiteral("cmb_CharSet"),     QStringLiteral("cmbDelay")};

// The settings window of one test, shown and active (focus is only reported in the active window).
struct Window {
    QPointer<frm_Settings> w;
    explicit Window(EngineRig& rig)
    {
        w = new frm_Settings(rig.engine);
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w))
            qWarning("settings window not active");
    }
    ~Window() { delete w.data(); }
    template <class T> T* get(const QString& name) const
    {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    QComboBox* list(const QString& name) const { return get<QComboBox>(name); }
    QLineEdit* box(const QString& name) const { return get<QLineEdit>(name); }
    QCheckBox* check(const QString& name) const { return get<QCheckBox>(name); }
    int tab() const { return get<QTabBar>(QStringLiteral("TabStrip1"))->currentIndex(); }
    void pick(const QString& list, const QString& item) const
    {
        QComboBox* c = this->list(list);
        const int i = c->findText(item);
        if (i < 0)
            qFatal("no item %s in %s", qPrintable(item), qPrintable(list));
        c->setCurrentIndex(i);
    }
    void save() const { QTest::mouseClick(get<QPushButton>(QStringLiteral("cmdSave1")), Qt::LeftButton); }
    // Replaces the text of a time box as a paste would (one change).
    void paste(const QString& name, const QString& text) const
    {
        QLineEdit* b = box(name);
        b->clear();
        b->insert(text);
    }
};

ModemSettingRow storedModem(EngineRig& rig)
{
    auto row = ReadModemSetting(rig.db);
    if (!row)
        qFatal("no ModemSetting row");
    return *row;
}

TimerSettingRow storedTimers(EngineRig& rig)
{
    auto row = ReadTimerSetting(rig.db);
    if (!row)
        qFatal("no Timer_setting row");
    return *row;
}

QStringList items(QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

void setStored(EngineRig& rig, const QString& column, const QVariant& value)
{
    rig.db.execute(QStringLiteral("UPDATE ModemSetting SET %1 = ?").arg(column), {value});
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshDatabaseOpensWithoutSelections();
    void firstSaveInsertsTheRowAndDemandsARestart();
    void storedValuesComeBackSelected_data();
    void storedValuesComeBackSelected();
    void changingOneFieldSavesWithoutRestart_data();
    void changingOneFieldSavesWithoutRestart();
    void changingTheDelayFactorDemandsARestart();
    void connectedModemTabIsReadOnly();
    void emptyListsAreRefusedInOrder();
    void storedValuesOutsideTheListsAreRefused_data();
    void storedValuesOutsideTheListsAreRefused();
    void timeBoxIsCheckedAtEveryChange_data();
    void timeBoxIsCheckedAtEveryChange();
    void timeBoxRefusalsAtSave_data();
    void timeBoxRefusalsAtSave();
    void fractionalTimeIsStoredAndRoundedForTheTimer();
    void untickingReceptionStopsTheTimerAtOnce();
    void sendTimeWhileConnectedSetsTheSendTimer();
    void timerValuesRunEvenWhenTheModemTabRefuses();
    void deliveryMethodIsStored();
    void missingTimerRowIsInserted();
    void lockedDatabaseRefusesTheSaveAndTheProgramGoesOn();
    void comPortDeviceFollowsTheSelection();
    void windowStaysOnTopAndTracksChildWindowOpen();
};

void SettingsWindowTest::freshDatabaseOpensWithoutSelections()
{
    EngineRig rig;
    Window w(rig);
    QCOMPARE(w.w->windowTitle(), QStringLiteral("Settings"));
    QTabBar* tabs = w.get<QTabBar>(QStringLiteral("TabStrip1"));
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Modem Settings"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("SMS Timer Settings"));
    QCOMPARE(w.tab(), 0);
    QVERIFY(w.get<QFrame>(QStringLiteral("Frame1"))->isVisible());
    QVERIFY(!w.get<QFrame>(QStringLiteral("Frame2"))->isVisible());
    for (const QString& name : ModemLists) {
        QCOMPARE(w.list(name)->currentIndex(), -1);
        QVERIFY(w.list(name)->isEnabled());
    }
    QVERIFY(!w.check(QStringLiteral("chkEnbCallID"))->isChecked());
    QVERIFY(!w.get<QLabel>(QStringLiteral("lblAlertMsg"))->isVisible());
    QVERIFY(w.get<QPushButton>(QStringLiteral("cmdChkModem"))->isEnabled());

    QStringList ports;
    for (int i = 1; i <= 20; ++i)
        ports << QString::number(i);
    QCOMPARE(items(w.list(QStringLiteral("Combo_comportNo"))), ports);
    QCOMPARE(items(w.list(QStringLiteral("Combo_BitsPerSec"))),
             QStringLiteral("110 300 1200 2400 4800 9600 19200 38400 57600 115200 230400 460800 921600").split(' '));
    QCOMPARE(items(w.list(QStringLiteral("Combo_DataBits"))), QStringLiteral("5 6 7 8").split(' '));
    QCOMPARE(items(w.list(QStringLiteral("Combo_Parity"))), QStringLiteral("Even Odd None Mark Space").split(' '));
    QCOMPARE(items(w.list(QStringLiteral("Combo_stopBit"))), QStringLiteral("1 1.5 2").split(' '));
    QCOMPARE(items(w.list(QStringLiteral("Cmb_FlowControl"))), QStringLiteral("None Xon/Xoff Hardware").split(' '));
    QCOMPARE(items(w.list(QStringLiteral("cmb_CharSet"))), QStringLiteral("ANSI ASCII GSM CDMA").split(' '));
    QCOMPARE(items(w.list(QStringLiteral("cmbDelay"))),
             QStringLiteral("1 1.25 1.5 1.75 2 2.25 2.5 2.75 3 3.25 3.5 3.75 4 4.25 4.5 4.75 5 5.25 5.5 5.75 6 6.25 "
                            "6.5 6.75 7")
                 .split(' '));
    for (const QString& name : ModemLists)
        QVERIFY(!w.list(name)->isEditable());

    // The new database's timer row: both activities every 10 seconds, direct delivery.
    QCOMPARE(w.box(QStringLiteral("txttime"))->text(), QStringLiteral("10"));
    QCOMPARE(w.box(QStringLiteral("txtSendmsgtime"))->text(), QStringLiteral("10"));
    QVERIFY(w.check(QStringLiteral("chkEnableReceive"))->isChecked());
    QVERIFY(w.check(QStringLiteral("chkEnableSend"))->isChecked());
    QVERIFY(w.get<QRadioButton>(QStringLiteral("OptDirctDelevary"))->isChecked());
    QVERIFY(rig.dialogs.shown.empty());

    tabs->setCurrentIndex(1);
    QVERIFY(!w.get<QFrame>(QStringLiteral("Frame1"))->isVisible());
    QVERIFY(w.get<QFrame>(QStringLiteral("Frame2"))->isVisible());
}

void SettingsWindowTest::firstSaveInsertsTheRowAndDemandsARestart()
{
    EngineRig rig;
    Window w(rig);
    w.pick(QStringLiteral("Combo_comportNo"), QStringLiteral("3"));
    w.pick(QStringLiteral("Combo_BitsPerSec"), QStringLiteral("9600"));
    w.pick(QStringLiteral("Combo_DataBits"), QStringLiteral("8"));
    w.pick(QStringLiteral("Combo_Parity"), QStringLiteral("None"));
    w.pick(QStringLiteral("Combo_stopBit"), QStringLiteral("1"));
    w.pick(QStringLiteral("Cmb_FlowControl"), QStringLiteral("Hardware"));
    w.pick(QStringLiteral("cmb_CharSet"), QStringLiteral("GSM"));
    w.pick(QStringLiteral("cmbDelay"), QStringLiteral("1.25"));
    w.check(QStringLiteral("chkEnbCallID"))->setChecked(true);
    w.save();

    QCOMPARE(rig.dialogs.messages(), QStringList{Restart});
    QCOMPARE(rig.endApplicationCalls, 1);
    QCOMPARE(rig.state.ModemDelayFactor, 1.25);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM ModemSetting")), 1);
    const ModemSettingRow row = storedModem(rig);
    QCOMPARE(row.CommPortNo.toInt(), 3);
    QCOMPARE(row.BitsPerSecond.toString(), QStringLiteral("9600"));
    QCOMPARE(row.DataBits.toString(), QStringLiteral("8"));
    QCOMPARE(row.Parity.toString(), QStringLiteral("n"));
    QCOMPARE(row.StopBits.toString(), QStringLiteral("1"));
    QCOMPARE(row.FlowControl.toString(), QStringLiteral("2"));
    QCOMPARE(row.CharacterSet.toString(), QStringLiteral("GSM"));
    QCOMPARE(row.EnabledCallerId.toInt(), -1);
    QCOMPARE(row.ModemDelayFactor.toString(), QStringLiteral("1.25"));

    // Connect reads back what the port needs.
    Window again(rig);
    QCOMPARE(again.list(QStringLiteral("Cmb_FlowControl"))->currentText(), QStringLiteral("Hardware"));
    QCOMPARE(again.list(QStringLiteral("cmbDelay"))->currentText(), QStringLiteral("1.25"));
}

void SettingsWindowTest::storedValuesComeBackSelected_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("stored");
    QTest::newRow("parity even") << "Combo_Parity"
                                 << "Even"
                                 << "Parity"
                                 << "e";
    QTest::newRow("parity odd") << "Combo_Parity"
                                << "Odd"
                                << "Parity"
                                << "o";
    QTest::newRow("parity none") << "Combo_Parity"
                                 << "None"
                                 << "Parity"
                                 << "n";
    QTest::newRow("parity mark") << "Combo_Parity"
                                 << "Mark"
                                 << "Parity"
                                 << "m";
    QTest::newRow("parity space") << "Combo_Parity"
                                  << "Space"
                                  << "Parity"
                                  << "s";
    QTest::newRow("flow none") << "Cmb_FlowControl"
                               << "None"
                               << "FlowControl"
                               << "0";
    QTest::newRow("flow xon/xoff") << "Cmb_FlowControl"
                                   << "Xon/Xoff"
                                   << "FlowControl"
                                   << "1";
    QTest::newRow("flow hardware") << "Cmb_FlowControl"
                                   << "Hardware"
                                   << "FlowControl"
                                   << "2";
    QTest::newRow("stop bits 1.5") << "Combo_stopBit"
                                   << "1.5"
                                   << "StopBits"
                                   << "1.5";
    QTest::newRow("speed 921600") << "Combo_BitsPerSec"
                                  << "921600"
                                  << "BitsPerSecond"
                                  << "921600";
    QTest::newRow("character set CDMA") << "cmb_CharSet"
                                        << "CDMA"
                                        << "CharacterSet"
                                        << "CDMA";
    QTest::newRow("port 20") << "Combo_comportNo"
                             << "20"
                             << "CommPortNo"
                             << "20";
}

void SettingsWindowTest::storedValuesComeBackSelected()
{
    QFETCH(QString, list);
    QFETCH(QString, item);
    QFETCH(QString, column);
    QFETCH(QString, stored);
    EngineRig rig;
    rig.saveModemSetting();
    {
        Window w(rig);
        w.pick(list, item);
        w.save();
        QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    }
    QCOMPARE(rig.db.scalar(QStringLiteral("SELECT %1 FROM ModemSetting").arg(column)).toString(), stored);
    Window w(rig);
    QCOMPARE(w.list(list)->currentText(), item);
}

void SettingsWindowTest::changingOneFieldSavesWithoutRestart_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("item");
    QTest::newRow("speed") << "Combo_BitsPerSec"
                           << "9600";
    QTest::newRow("data bits") << "Combo_DataBits"
                               << "7";
    QTest::newRow("parity") << "Combo_Parity"
                            << "Even";
    QTest::newRow("stop bits") << "Combo_stopBit"
                               << "2";
    QTest::newRow("flow control") << "Cmb_FlowControl"
                                  << "Xon/Xoff";
    QTest::newRow("character set") << "cmb_CharSet"
                                   << "ASCII";
    QTest::newRow("port") << "Combo_comportNo"
                          << "7";
    QTest::newRow("caller id") << ""
                               << "";
}

void SettingsWindowTest::changingOneFieldSavesWithoutRestart()
{
    QFETCH(QString, list);
    QFETCH(QString, item);
    EngineRig rig;
    rig.saveModemSetting(); // COM3, 115200, n, 8, 1, flow 0, GSM, caller id on, delay 1
    rig.state.ModemDelayFactor = 1;
    const ModemSettingRow before = storedModem(rig);
    Window w(rig);
    if (list.isEmpty())
        w.check(QStringLiteral("chkEnbCallID"))->setChecked(false);
    else
        w.pick(list, item);
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(rig.endApplicationCalls, 0);
    QVERIFY(w.w);
    const ModemSettingRow after = storedModem(rig);
    if (list.isEmpty())
        QCOMPARE(after.EnabledCallerId.toInt(), 0);
    QVERIFY(after.CommPortNo != before.CommPortNo || after.BitsPerSecond != before.BitsPerSecond ||
            after.DataBits != before.DataBits || after.Parity != before.Parity || after.StopBits != before.StopBits ||
            after.FlowControl != before.FlowControl || after.CharacterSet != before.CharacterSet ||
            after.EnabledCallerId != before.EnabledCallerId);
    QCOMPARE(after.ModemDelayFactor.toDouble(), 1.0);
}

void SettingsWindowTest::changingTheDelayFactorDemandsARestart()
{
    EngineRig rig;
    rig.saveModemSetting();
    Window w(rig);
    w.pick(QStringLiteral("cmbDelay"), QStringLiteral("6.75"));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Restart});
    QCOMPARE(rig.endApplicationCalls, 1);
    QCOMPARE(rig.state.ModemDelayFactor, 6.75);
    QCOMPARE(storedModem(rig).ModemDelayFactor.toString(), QStringLiteral("6.75"));
}

void SettingsWindowTest::connectedModemTabIsReadOnly()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    const ModemSettingRow before = storedModem(rig);
    Window w(rig);
    QVERIFY(!w.get<QFrame>(QStringLiteral("Frame1"))->isEnabled());
    for (const QString& name : ModemLists)
        QVERIFY2(!w.list(name)->isEnabled(), qPrintable(name));
    QVERIFY(!w.check(QStringLiteral("chkEnbCallID"))->isEnabled());
    QVERIFY(!w.get<QPushButton>(QStringLiteral("cmdChkModem"))->isEnabled());
    auto* alert = w.get<QLabel>(QStringLiteral("lblAlertMsg"));
    QVERIFY(alert->isVisible());
    QCOMPARE(alert->text(), Locked);
    QVERIFY(w.get<QPushButton>(QStringLiteral("cmdSave1"))->isEnabled());
    QVERIFY(w.get<QPushButton>(QStringLiteral("cmdExit3"))->isEnabled());
    QVERIFY(w.get<QFrame>(QStringLiteral("Frame2"))->isEnabled());
    QCOMPARE(w.list(QStringLiteral("Combo_comportNo"))->currentText(), QStringLiteral("3"));
    QCOMPARE(w.list(QStringLiteral("Combo_Parity"))->currentText(), QStringLiteral("None"));

    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    const ModemSettingRow after = storedModem(rig);
    QCOMPARE(after.CommPortNo, before.CommPortNo);
    QCOMPARE(after.BitsPerSecond, before.BitsPerSecond);
    QCOMPARE(after.Parity, before.Parity);
    QCOMPARE(after.DataBits, before.DataBits);
    QCOMPARE(after.StopBits, before.StopBits);
    QCOMPARE(after.FlowControl, before.FlowControl);
    QCOMPARE(after.CharacterSet, before.CharacterSet);
    QCOMPARE(after.EnabledCallerId.toInt(), before.EnabledCallerId.toInt());
    QCOMPARE(after.ModemDelayFactor.toDouble(), before.ModemDelayFactor.toDouble());
    QVERIFY(rig.state.IsConnected);

    // The lock was decided at load: a disconnect while the window is open does not lift it.
    rig.engine.Disconnect();
    QVERIFY(!w.list(QStringLiteral("cmbDelay"))->isEnabled());
}

void SettingsWindowTest::emptyListsAreRefusedInOrder()
{
    EngineRig rig;
    Window w(rig);
    const QList<std::pair<QString, QString>> steps = {
        {QStringLiteral("Please select Comm port Number."), QStringLiteral("3")},
        {QStringLiteral("Please select Bits Per Second."), QStringLiteral("115200")},
        {QStringLiteral("Please select Data Bits."), QStringLiteral("8")},
        {QStringLiteral("Please select Parity."), QStringLiteral("None")},
        {QStringLiteral("Please select Stop bits."), QStringLiteral("1")},
        {QStringLiteral("Please select Flow Control."), QStringLiteral("None")},
        {QStringLiteral("Please select Character set."), QStringLiteral("GSM")},
        {frm_Settings::delayFactorRefusal(), QStringLiteral("1")},
    };
    QVERIFY(frm_Settings::delayFactorRefusal().contains(QLatin1String("Delay Factor"), Qt::CaseInsensitive));
    for (int i = 0; i < steps.size(); ++i) {
        w.get<QTabBar>(QStringLiteral("TabStrip1"))->setCurrentIndex(1);
        rig.dialogs.clear();
        w.save();
        QCOMPARE(rig.dialogs.messages(), QStringList{steps[i].first});
        QCOMPARE(w.tab(), 0);
        QCOMPARE(QApplication::focusWidget(), w.list(ModemLists[i]));
        QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM ModemSetting")), 0);
        w.pick(ModemLists[i], steps[i].second);
    }
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Restart}); // the stored factor of an empty table counts as 0
}

void SettingsWindowTest::storedValuesOutsideTheListsAreRefused_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("message");
    QTest::newRow("parity upper case") << "Parity" << QVariant("N") << "Combo_Parity"
                                       << "Please select Parity.";
    QTest::newRow("parity unknown") << "Parity" << QVariant("x") << "Combo_Parity"
                                    << "Please select Parity.";
    QTest::newRow("flow control 7") << "FlowControl" << QVariant("7") << "Cmb_FlowControl"
                                    << "Please select Flow Control.";
    QTest::newRow("port 0") << "CommPortNo" << QVariant(0) << "Combo_comportNo"
                            << "Please select Comm port Number.";
    QTest::newRow("port 21") << "CommPortNo" << QVariant(21) << "Combo_comportNo"
                             << "Please select Comm port Number.";
    QTest::newRow("speed unknown") << "BitsPerSecond" << QVariant("12345") << "Combo_BitsPerSec"
                                   << "Please select Bits Per Second.";
    QTest::newRow("data bits 9") << "DataBits" << QVariant("9") << "Combo_DataBits"
                                 << "Please select Data Bits.";
    QTest::newRow("stop bits 3") << "StopBits" << QVariant("3") << "Combo_stopBit"
                                 << "Please select Stop bits.";
    QTest::newRow("character set lower case") << "CharacterSet" << QVariant("gsm") << "cmb_CharSet"
                                              << "Please select Character set.";
    QTest::newRow("delay factor empty") << "ModemDelayFactor" << QVariant() << "cmbDelay"
                                        << frm_Settings::delayFactorRefusal();
    QTest::newRow("delay factor 8") << "ModemDelayFactor" << QVariant("8") << "cmbDelay"
                                    << frm_Settings::delayFactorRefusal();
}

void SettingsWindowTest::storedValuesOutsideTheListsAreRefused()
{
    QFETCH(QString, column);
    QFETCH(QVariant, stored);
    QFETCH(QString, list);
    QFETCH(QString, message);
    EngineRig rig;
    rig.saveModemSetting();
    setStored(rig, column, stored);
    Window w(rig);
    QCOMPARE(w.list(list)->currentIndex(), -1);
    for (const QString& other : ModemLists)
        if (other != list)
            QVERIFY2(w.list(other)->currentIndex() >= 0, qPrintable(other));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QCOMPARE(w.tab(), 0);
    QCOMPARE(QApplication::focusWidget(), w.list(list));
    const QVariant kept = rig.db.scalar(QStringLiteral("SELECT %1 FROM ModemSetting").arg(column));
    if (stored.isNull())
        QVERIFY(kept.isNull());
    else
        QCOMPARE(kept.toString(), stored.toString());
}

void SettingsWindowTest::timeBoxIsCheckedAtEveryChange_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("left");
    const QString receiveRange = QStringLiteral("Receive message time should be less than or equal to 65 seconds.");
    const QString sendRange = QStringLiteral("Send Message time should be less than or equal to 65 seconds.");
    const QString numeric = QStringLiteral("Please enter numeric value.");
    QTest::newRow("70 receive") << "txttime"
                                << "70" << false << QStringList{receiveRange} << "";
    QTest::newRow("70 send") << "txtSendmsgtime"
                             << "70" << false << QStringList{sendRange} << "";
    QTest::newRow("65") << "txttime"
                        << "65" << false << QStringList{} << "65";
    QTest::newRow("3.5") << "txttime"
                         << "3.5" << false << QStringList{} << "3.5";
    QTest::newRow("minus alone") << "txttime"
                                 << "-" << false << QStringList{numeric} << "";
    QTest::newRow("5 minus") << "txttime"
                             << "5-" << false << QStringList{QStringLiteral("Minus sign is not allowed in time.")}
                             << "";
    QTest::newRow("5 plus") << "txtSendmsgtime"
                            << "5+" << false << QStringList{QStringLiteral("Pluse sign is not allowed in time.")} << "";
    QTest::newRow("1 comma") << "txttime"
                             << "1," << false << QStringList{QStringLiteral("Quama is not allowed in time.")} << "";
    QTest::newRow("$5 pasted") << "txttime"
                               << "$5" << true << QStringList{QStringLiteral("Doller sign is not allowed in time.")}
                               << "";
    QTest::newRow("dollar before minus") << "txttime"
                                         << "$-5" << true
                                         << QStringList{QStringLiteral("Doller sign is not allowed in time.")} << "";
    QTest::newRow("plus before comma") << "txttime"
                                       << "+1,5" << true
                                       << QStringList{QStringLiteral("Pluse sign is not allowed in time.")} << "";
    QTest::newRow("minus before comma") << "txttime"
                                        << "1,5-" << true
                                        << QStringList{QStringLiteral("Minus sign is not allowed in time.")} << "";
    QTest::newRow("letter") << "txtSendmsgtime"
                            << "a" << false << QStringList{numeric} << "";
    QTest::newRow("letter after digit") << "txttime"
                                        << "4x" << false << QStringList{numeric} << "";
    QTest::newRow("typing on after a refusal") << "txttime"
                                               << "-12" << false << QStringList{numeric} << "12";
}

void SettingsWindowTest::timeBoxIsCheckedAtEveryChange()
{
    QFETCH(QString, box);
    QFETCH(QString, input);
    QFETCH(bool, pasted);
    QFETCH(QStringList, messages);
    QFETCH(QString, left);
    EngineRig rig;
    Window w(rig);
    w.get<QTabBar>(QStringLiteral("TabStrip1"))->setCurrentIndex(1);
    QLineEdit* b = w.box(box);
    b->clear();
    QVERIFY(rig.dialogs.shown.empty());
    if (pasted)
        w.paste(box, input);
    else
        QTest::keyClicks(b, input);
    QCOMPARE(rig.dialogs.messages(), messages);
    QCOMPARE(b->text(), left);
    if (!messages.isEmpty())
        QCOMPARE(QApplication::focusWidget(), b);
}

void SettingsWindowTest::timeBoxRefusalsAtSave_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("left");
    QTest::newRow("receive empty") << "txttime"
                                   << "" << true << "Please enter time in seconds."
                                   << "";
    QTest::newRow("receive empty and switched off") << "txttime"
                                                    << "" << false << "Please enter time in seconds."
                                                    << "";
    QTest::newRow("receive 2.5") << "txttime"
                                 << "2.5" << true
                                 << "Automatically receive all messages time should be greater than or equal to 3."
                                 << "";
    QTest::newRow("receive 2") << "txttime"
                               << "2" << false
                               << "Automatically receive all messages time should be greater than or equal to 3."
                               << "";
    QTest::newRow("send empty") << "txtSendmsgtime"
                                << "" << true << "Please enter time in seconds."
                                << "";
    QTest::newRow("send 0") << "txtSendmsgtime"
                            << "0" << true
                            << "Automatically send all messages time should be greater than or equal to 3."
                            << "";
}

void SettingsWindowTest::timeBoxRefusalsAtSave()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(QString, message);
    QFETCH(QString, left);
    EngineRig rig;
    rig.saveModemSetting();
    rig.state.ReceiveIntervalSeconds = 10;
    rig.state.SendIntervalSeconds = 10;
    const TimerSettingRow before = storedTimers(rig);
    Window w(rig);
    w.check(box == QLatin1String("txttime") ? QStringLiteral("chkEnableReceive") : QStringLiteral("chkEnableSend"))
        ->setChecked(enabled);
    w.paste(box, text);
    w.check(QStringLiteral("chkEnbCallID"))->setFocus();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QCOMPARE(w.tab(), 1);
    QCOMPARE(w.box(box)->text(), left);
    // The focus goes to the box only when the user can type into it.
    QCOMPARE(QApplication::focusWidget() == w.box(box), enabled);
    const TimerSettingRow after = storedTimers(rig);
    QCOMPARE(after.ReceiveAllMessagesTime, before.ReceiveAllMessagesTime);
    QCOMPARE(after.SendAllMessagesTime, before.SendAllMessagesTime);
    QCOMPARE(after.EnableReceiveTimer, before.EnableReceiveTimer);
    QCOMPARE(after.EnableSendTimer, before.EnableSendTimer);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(10));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(10));
}

void SettingsWindowTest::fractionalTimeIsStoredAndRoundedForTheTimer()
{
    EngineRig rig;
    rig.saveModemSetting();
    Window w(rig);
    w.paste(QStringLiteral("txttime"), QStringLiteral("3.5"));
    w.paste(QStringLiteral("txtSendmsgtime"), QStringLiteral("4.5"));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(4));
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(4)); // halves go to the even neighbour
    const TimerSettingRow row = storedTimers(rig);
    QCOMPARE(row.ReceiveAllMessagesTime.toDouble(), 3.5);
    QCOMPARE(row.SendAllMessagesTime.toDouble(), 4.5);
    // Not connected: the timers get their periods at the next connect.
    QCOMPARE(rig.engine.Timer1.interval(), 0);
    QCOMPARE(rig.engine.Timer2.interval(), 0);
}

void SettingsWindowTest::untickingReceptionStopsTheTimerAtOnce()
{
    EngineRig rig;
    rig.saveModemSetting();
    rig.engine.Timer1.setInterval(10000);
    rig.state.ReceiveIntervalSeconds = 10;
    Window w(rig);
    w.check(QStringLiteral("chkEnableReceive"))->setChecked(false);
    QVERIFY(!w.box(QStringLiteral("txttime"))->isEnabled());
    QCOMPARE(w.box(QStringLiteral("txttime"))->text(), QStringLiteral("10")); // a disabled box keeps its text
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(rig.engine.Timer1.interval(), 0);
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(0));
    const TimerSettingRow row = storedTimers(rig);
    QCOMPARE(row.EnableReceiveTimer.toInt(), 0);
    QCOMPARE(row.ReceiveAllMessagesTime.toInt(), 10);

    // Ticking it again while disconnected stores it and sets the interval; the period waits for Connect.
    w.check(QStringLiteral("chkEnableReceive"))->setChecked(true);
    w.save();
    QCOMPARE(rig.state.ReceiveIntervalSeconds, qint16(10));
    QCOMPARE(rig.engine.Timer1.interval(), 0);
    QCOMPARE(storedTimers(rig).EnableReceiveTimer.toInt(), -1);
}

void SettingsWindowTest::sendTimeWhileConnectedSetsTheSendTimer()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    Window w(rig);
    w.paste(QStringLiteral("txtSendmsgtime"), QStringLiteral("40"));
    w.paste(QStringLiteral("txttime"), QStringLiteral("65"));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(rig.engine.Timer2.interval(), 40000);
    QCOMPARE(rig.engine.Timer1.interval(), 65000);
    QCOMPARE(storedTimers(rig).SendAllMessagesTime.toInt(), 40);
    QVERIFY(rig.state.IsConnected);
}

void SettingsWindowTest::timerValuesRunEvenWhenTheModemTabRefuses()
{
    EngineRig rig; // no modem settings yet
    rig.state.SendIntervalSeconds = 10;
    Window w(rig);
    w.paste(QStringLiteral("txtSendmsgtime"), QStringLiteral("30"));
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("Please select Comm port Number.")});
    QCOMPARE(rig.state.SendIntervalSeconds, qint16(30));
    QCOMPARE(storedTimers(rig).SendAllMessagesTime.toInt(), 10);
}

void SettingsWindowTest::deliveryMethodIsStored()
{
    EngineRig rig;
    rig.saveModemSetting();
    {
        Window w(rig);
        w.get<QRadioButton>(QStringLiteral("OptStoreOnSIM"))->setChecked(true);
        w.save();
    }
    QCOMPARE(storedTimers(rig).SMSDelevaryMode.toString(), QStringLiteral("STORE AND DELIVER"));
    {
        Window w(rig);
        QVERIFY(w.get<QRadioButton>(QStringLiteral("OptStoreOnSIM"))->isChecked());
        w.get<QRadioButton>(QStringLiteral("OptDirctDelevary"))->setChecked(true);
        w.save();
    }
    QCOMPARE(storedTimers(rig).SMSDelevaryMode.toString(), QStringLiteral("DIRECT DELIVER"));

    // An unknown stored method selects neither button and is kept by Save.
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = 'DIRECT DELIVERY'"));
    Window w(rig);
    QVERIFY(!w.get<QRadioButton>(QStringLiteral("OptStoreOnSIM"))->isChecked());
    QVERIFY(!w.get<QRadioButton>(QStringLiteral("OptDirctDelevary"))->isChecked());
    w.save();
    QCOMPARE(storedTimers(rig).SMSDelevaryMode.toString(), QStringLiteral("DIRECT DELIVERY"));
}

void SettingsWindowTest::missingTimerRowIsInserted()
{
    EngineRig rig;
    rig.saveModemSetting();
    rig.db.execute(QStringLiteral("DELETE FROM Timer_setting"));
    Window w(rig);
    QVERIFY(w.box(QStringLiteral("txttime"))->text().isEmpty());
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("Please enter time in seconds.")});
    rig.dialogs.clear();
    w.check(QStringLiteral("chkEnableReceive"))->setChecked(true);
    w.paste(QStringLiteral("txttime"), QStringLiteral("20"));
    w.paste(QStringLiteral("txtSendmsgtime"), QStringLiteral("30"));
    w.get<QRadioButton>(QStringLiteral("OptStoreOnSIM"))->setChecked(true);
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Saved});
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Timer_setting")), 1);
    const TimerSettingRow row = storedTimers(rig);
    QCOMPARE(row.EnableReceiveTimer.toInt(), -1);
    QCOMPARE(row.ReceiveAllMessagesTime.toInt(), 20);
    QCOMPARE(row.EnableSendTimer.toInt(), 0);
    QCOMPARE(row.SendAllMessagesTime.toInt(), 30);
    QCOMPARE(row.SMSDelevaryMode.toString(), QStringLiteral("STORE AND DELIVER"));
}

void SettingsWindowTest::lockedDatabaseRefusesTheSaveAndTheProgramGoesOn()
{
    EngineRig rig;
    rig.saveModemSetting();
    rig.state.ModemDelayFactor = 1;
    Window w(rig);
    w.pick(QStringLiteral("cmbDelay"), QStringLiteral("2"));
    w.pick(QStringLiteral("Combo_BitsPerSec"), QStringLiteral("9600"));
    w.paste(QStringLiteral("txttime"), QStringLiteral("33"));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        other.setDatabaseName(rig.db.filePath());
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY2(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")), qPrintable(hold.lastError().text()));
        w.save();
        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
        hold.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY2(rig.dialogs.messages().first().contains(QLatin1String("locked")),
             qPrintable(rig.dialogs.messages().first()));
    QCOMPARE(rig.endApplicationCalls, 0);
    QVERIFY(w.w && w.w->isVisible());
    QCOMPARE(rig.state.ModemDelayFactor, 1.0);
    QCOMPARE(storedModem(rig).ModemDelayFactor.toDouble(), 1.0);
    QCOMPARE(storedModem(rig).BitsPerSecond.toString(), QStringLiteral("115200"));
    QCOMPARE(storedTimers(rig).ReceiveAllMessagesTime.toInt(), 10);

    // Once the database is free again the same Save goes through.
    rig.dialogs.clear();
    w.save();
    QCOMPARE(rig.dialogs.messages(), QStringList{Restart});
    QCOMPARE(storedTimers(rig).ReceiveAllMessagesTime.toInt(), 33);
}

void SettingsWindowTest::comPortDeviceFollowsTheSelection()
{
    EngineRig rig; // the simulator is linked as COM3; nothing else exists
    rig.saveModemSetting(3);
    Window w(rig);
    auto* device = w.get<QLabel>(QStringLiteral("lblComPortDevice"));
    QCOMPARE(device->text(), DescribeComPort(rig.state, 3));
    QVERIFY2(device->text().contains(rig.sim.devicePath()), qPrintable(device->text()));
    w.pick(QStringLiteral("Combo_comportNo"), QStringLiteral("4"));
    QCOMPARE(device->text(), DescribeComPort(rig.state, 4));
    QVERIFY2(device->text().contains(QLatin1String("no serial device")), qPrintable(device->text()));
}

void SettingsWindowTest::windowStaysOnTopAndTracksChildWindowOpen()
{
    EngineRig rig;
    rig.saveModemSetting();
    QVERIFY(!rig.state.ChildWindowOpen);
    Window w(rig);
    QVERIFY(rig.state.ChildWindowOpen);
    QVERIFY(w.w->windowHandle());
    QVERIFY(w.w->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));

    w.pick(QStringLiteral("Combo_BitsPerSec"), QStringLiteral("300"));
    QTest::mouseClick(w.get<QPushButton>(QStringLiteral("cmdExit3")), Qt::LeftButton);
    QVERIFY(!rig.state.ChildWindowOpen);
    QTRY_VERIFY(!w.w); // unloaded
    QCOMPARE(storedModem(rig).BitsPerSecond.toString(), QStringLiteral("115200"));
    QVERIFY(rig.dialogs.shown.empty());
}

QTEST_MAIN(SettingsWindowTest)
#include "tst_settings_window.moc"
