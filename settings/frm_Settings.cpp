#include "settings/frm_Settings.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "modem/ComPorts.h"
#include "modem/ModemRoutines.h"
#include "settings/Preferences.h"
#include "settings/frm_ChekModemProgress.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/Schedule.h"
#include "store/SettingsRows.h"
#include "views/WindowOnTop.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

namespace {

const QString ConnectedWarning =
    QStringLiteral("You can not change the modem settings. Because computer is already connected with modem.");
const QString RestartMessage =
    QStringLiteral("You have changed the default modem settings, this needs to restart(OFF & ON) your modem as well as "
                   "restart this application.\r\n\r\nThis software will now close. Please restart the application.");
const QString FirstSetupMessage =
    QStringLiteral("Settings Saved Successfully!!!\r\n\r\nBroadtext now restarts to apply them.");
const QString DirectDeliver = QStringLiteral("DIRECT DELIVER");
const QString StoreAndDeliver = QStringLiteral("STORE AND DELIVER");
const QString ReceiveRange = QStringLiteral("Receive message time should be less than or equal to 65 seconds.");
const QString SendRange = QStringLiteral("Send Message time should be less than or equal to 65 seconds.");

// List items and the stored codes that go with them.
const QStringList Speeds = {QStringLiteral("110"),    QStringLiteral("300"),    QStringLiteral("1200"),
                            QStringLiteral("2400"),   QStringLiteral("4800"),   QStringLiteral("9600"),
                            QStringLiteral("19200"),  QStringLiteral("38400"),  QStringLiteral("57600"),
                            QStringLiteral("115200"), QStringLiteral("230400"), QStringLiteral("460800"),
                            QStringLiteral("921600")};
const QStringList ParityNames = {QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None"),
                                 QStringLiteral("Mark"), QStringLiteral("Space")};
const QStringList ParityLetters = {QStringLiteral("e"), QStringLiteral("o"), QStringLiteral("n"), QStringLiteral("m"),
                                   QStringLiteral("s")};
const QStringList FlowNames = {QStringLiteral("None"), QStringLiteral("Xon/Xoff"), QStringLiteral("Hardware")};
const QStringList FlowCodes = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")};
// The roles in the order of ModemConfig::Role.
const QStringList RoleNames = {QStringLiteral("Send and receive"), QStringLiteral("Send only"),
                               QStringLiteral("Receive only")};
// What a modem found by detection is set to: the speed of the probe and the delay factor of a picked modem.
const QString DetectedSpeed = QStringLiteral("115200");
constexpr double DetectedDelay = 3;
// What the quiet-hours boxes show while quiet hours are off: the evening and morning most users choose.
const QTime QuietFromDefault(21, 0);
const QTime QuietToDefault(8, 0);
// The sending limits in the order of frm_Settings::limitBoxes.
constexpr int ModemLimits::*LimitFields[] = {&ModemLimits::perMinute,     &ModemLimits::perHour,
                                             &ModemLimits::perDay,        &ModemLimits::recipientsPerMonth,
                                             &ModemLimits::gapMinSeconds, &ModemLimits::gapMaxSeconds};
enum ModemColumn { NameColumn, PortColumn, SpeedColumn, FormatColumn, RoleColumn, OnColumn, ModemColumns };

// A new modem starts with what nearly every GSM modem works with; only the port is left to choose.
ModemConfig newModem()
{
    ModemConfig m;
    m.bitsPerSecond = QStringLiteral("115200");
    m.parity = QStringLiteral("n");
    m.dataBits = QStringLiteral("8");
    m.stopBits = QStringLiteral("1");
    m.flowControl = QStringLiteral("0");
    m.characterSet = QStringLiteral("GSM");
    m.delayFactor = 1;
    return m;
}

QString text(const QVariant& v)
{
    return v.isNull() ? QString() : v.toString();
}

QComboBox* dropDownList(QWidget* parent, const char* name, const QStringList& items = {})
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(false);
    box->addItems(items);
    box->setCurrentIndex(-1);
    return box;
}

QLabel* label(QWidget* parent, const QString& caption, const char* name = nullptr)
{
    auto* l = new QLabel(caption, parent);
    if (name)
        l->setObjectName(QLatin1String(name));
    return l;
}

// Selects the item showing exactly this text; anything else leaves the list without a selection.
void selectText(QComboBox* box, const QString& value)
{
    box->setCurrentIndex(box->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// A limit box's value: empty is 0 (no limit); anything but a whole number of 0 or more is -1, which Save refuses
// (kept as a number, so that switching modems does not turn a wrong entry into "no limit").
int limitValue(const QLineEdit* box)
{
    const QString t = Trim(box->text());
    if (t.isEmpty())
        return 0;
    bool ok = false;
    const int v = t.toInt(&ok);
    return ok && v >= 0 ? v : -1;
}

QLineEdit* limitBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setFixedWidth(50);
    return box;
}

QTimeEdit* timeBox(QWidget* parent, const char* name)
{
    auto* box = new QTimeEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setDisplayFormat(QStringLiteral("HH:mm"));
    return box;
}

} // namespace

frm_Settings::frm_Settings(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Dialog), engine(engine), state(engine.appState())
{
    setObjectName(QStringLiteral("frm_Settings"));
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);

    TabStrip1 = new QTabBar(this);
    TabStrip1->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1->addTab(QStringLiteral("Modem Settings"));
    TabStrip1->addTab(QStringLiteral("SMS Timer Settings"));
    TabStrip1->setExpanding(false);

    // Modem tab.
    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    QStringList ports;
    for (int i = 1; i <= 20; ++i)
        ports << QString::number(i);
    Combo_comportNo = dropDownList(Frame1, "Combo_comportNo", ports);
    lblComPortDevice = label(Frame1, QString(), "lblComPortDevice");
    Combo_BitsPerSec = dropDownList(Frame1, "Combo_BitsPerSec", Speeds);
    Combo_DataBits = dropDownList(Frame1, "Combo_DataBits");
    Combo_Parity = dropDownList(Frame1, "Combo_Parity", ParityNames);
    Combo_stopBit =
        dropDownList(Frame1, "Combo_stopBit", {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    Cmb_FlowControl = dropDownList(Frame1, "Cmb_FlowControl", FlowNames);
    cmb_CharSet =
        dropDownList(Frame1, "cmb_CharSet",
                     {QStringLiteral("ANSI"), QStringLiteral("ASCII"), QStringLiteral("GSM"), QStringLiteral("CDMA")});
    cmbMessageFormat = dropDownList(Frame1, "cmbMessageFormat", {QStringLiteral("Text"), QStringLiteral("PDU")});
    cmbMessageFormat->setToolTip(QStringLiteral("PDU: long messages arrive joined, and delivery reports can be "
                                                "asked for. Text: as every modem understands it."));
    chkEnbCallID = new QCheckBox(QStringLiteral("Do you want to enable caller Id ?"), Frame1);
    chkEnbCallID->setObjectName(QStringLiteral("chkEnbCallID"));
    cmbDelay = dropDownList(Frame1, "cmbDelay");
    cmdChkModem = new QPushButton(
        QStringLiteral("Click here to automatically detect the modem connected to this computer"), Frame1);
    cmdChkModem->setObjectName(QStringLiteral("cmdChkModem"));
    lblAlertMsg = label(Frame1, QString(), "lblAlertMsg");
    lblAlertMsg->setWordWrap(true);
    // The warning must stay readable on the disabled panel.
    QPalette alert = lblAlertMsg->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        alert.setColor(group, QPalette::WindowText, QColor(192, 0, 0));
    lblAlertMsg->setPalette(alert);

    lstModems = new QTableWidget(0, ModemColumns, Frame1);
    lstModems->setObjectName(QStringLiteral("lstModems"));
    lstModems->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("COM port"), QStringLiteral("Speed"),
                                          QStringLiteral("Format"), QStringLiteral("Role"), QStringLiteral("On")});
    lstModems->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstModems->setSelectionMode(QAbstractItemView::SingleSelection);
    lstModems->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstModems->verticalHeader()->hide();
    lstModems->horizontalHeader()->setStretchLastSection(true);
    lstModems->setMinimumHeight(80);
    cmdAddModem = new QPushButton(QStringLiteral("&Add"), Frame1);
    cmdAddModem->setObjectName(QStringLiteral("cmdAddModem"));
    cmdRemoveModem = new QPushButton(QStringLiteral("&Remove"), Frame1);
    cmdRemoveModem->setObjectName(QStringLiteral("cmdRemoveModem"));
    cmdDetectModems = new QPushButton(QStringLiteral("&Detect"), Frame1);
    cmdDetectModems->setObjectName(QStringLiteral("cmdDetectModems"));
    cmdDetectModems->setToolTip(QStringLiteral("Looks for modems on COM1 to COM20 and adds those not in the list"));
    lblDetectResult = label(Frame1, QString(), "lblDetectResult");
    txtModemName = new QLineEdit(Frame1);
    txtModemName->setObjectName(QStringLiteral("txtModemName"));
    cmbModemRole = dropDownList(Frame1, "cmbModemRole", RoleNames);
    chkModemOn = new QCheckBox(QStringLiteral("Switched on"), Frame1);
    chkModemOn->setObjectName(QStringLiteral("chkModemOn"));
    chkModemOn->setToolTip(QStringLiteral("A modem switched off stays in the list and is never connected"));
    auto* limitsGroup = new QGroupBox(QStringLiteral("Sending limits of this SIM (0 = no limit)"), Frame1);
    limitsGroup->setObjectName(QStringLiteral("grpSendingLimits"));
    txtLimitMinute = limitBox(limitsGroup, "txtLimitMinute");
    txtLimitHour = limitBox(limitsGroup, "txtLimitHour");
    txtLimitDay = limitBox(limitsGroup, "txtLimitDay");
    txtLimitRecipientsMonth = limitBox(limitsGroup, "txtLimitRecipientsMonth");
    txtGapMin = limitBox(limitsGroup, "txtGapMin");
    txtGapMax = limitBox(limitsGroup, "txtGapMax");
    txtLimitRecipientsMonth->setToolTip(QStringLiteral("Distinct numbers this SIM may send to in a calendar month"));
    for (QLineEdit* box : {txtGapMin, txtGapMax})
        box->setToolTip(QStringLiteral("The pause before each message is chosen at random between the two"));
    auto* gap = new QHBoxLayout;
    gap->addWidget(txtGapMin);
    gap->addWidget(label(limitsGroup, QStringLiteral("to")));
    gap->addWidget(txtGapMax);
    gap->addStretch(1);
    auto* limitsGrid = new QGridLayout(limitsGroup);
    int limitRow = 0;
    for (const auto& [caption, box] : {std::pair{QStringLiteral("Parts a minute"), txtLimitMinute},
                                       std::pair{QStringLiteral("Parts an hour"), txtLimitHour},
                                       std::pair{QStringLiteral("Parts a day"), txtLimitDay},
                                       std::pair{QStringLiteral("Recipients a month"), txtLimitRecipientsMonth}}) {
        limitsGrid->addWidget(label(limitsGroup, caption), limitRow, 0);
        limitsGrid->addWidget(box, limitRow++, 1);
    }
    limitsGrid->addWidget(label(limitsGroup, QStringLiteral("Random gap, seconds")), limitRow, 0);
    limitsGrid->addLayout(gap, limitRow++, 1);
    limitsGrid->setColumnStretch(1, 1);
    limitsGrid->setRowStretch(limitRow, 1);

    auto* modemGrid = new QGridLayout(Frame1);
    int row = 0;
    modemGrid->addWidget(lstModems, row++, 0, 1, 3);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(cmdAddModem);
    listButtons->addWidget(cmdRemoveModem);
    listButtons->addWidget(cmdDetectModems);
    listButtons->addWidget(lblDetectResult, 1);
    listButtons->addWidget(chkModemOn);
    modemGrid->addLayout(listButtons, row++, 0, 1, 3);
    auto addRow = [&](const QString& caption, QWidget* field, QWidget* extra = nullptr) {
        modemGrid->addWidget(label(Frame1, caption), row, 0);
        modemGrid->addWidget(field, row, 1);
        if (extra)
            modemGrid->addWidget(extra, row, 2);
        ++row;
    };
    auto* role = new QHBoxLayout;
    role->addWidget(label(Frame1, QStringLiteral("Role")));
    role->addWidget(cmbModemRole, 1);
    modemGrid->addWidget(label(Frame1, QStringLiteral("Name")), row, 0);
    modemGrid->addWidget(txtModemName, row, 1);
    modemGrid->addLayout(role, row++, 2);
    addRow(QStringLiteral("Modem plugged-in to which COM port?"), Combo_comportNo, lblComPortDevice);
    // The limits stand beside the line settings, which leave that side empty, so the tab grows no taller.
    modemGrid->addWidget(limitsGroup, row, 2, 7, 1, Qt::AlignTop);
    addRow(QStringLiteral("Bits Per Second"), Combo_BitsPerSec);
    addRow(QStringLiteral("Data Bits"), Combo_DataBits);
    addRow(QStringLiteral("Parity"), Combo_Parity);
    addRow(QStringLiteral("Stop Bit"), Combo_stopBit);
    addRow(QStringLiteral("Flow Control"), Cmb_FlowControl);
    addRow(QStringLiteral("Character Set"), cmb_CharSet);
    addRow(QStringLiteral("Message format"), cmbMessageFormat);
    modemGrid->addWidget(chkEnbCallID, row++, 0, 1, 3);
    addRow(QStringLiteral("Modem Delay Factor :"), cmbDelay,
           label(Frame1, QStringLiteral("(1=Faster Modem, 7=Slower Modem )")));
    modemGrid->addWidget(cmdChkModem, row++, 0, 1, 3);
    modemGrid->addWidget(lblAlertMsg, row++, 0, 1, 3);
    modemGrid->setColumnStretch(2, 1);
    modemGrid->setRowStretch(row, 1);

    // Timer tab.
    Frame2 = new QFrame(this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setFrameShape(QFrame::StyledPanel);
    chkEnableReceive = new QCheckBox(QStringLiteral("Enabled auto receive messages."), Frame2);
    chkEnableReceive->setObjectName(QStringLiteral("chkEnableReceive"));
    txttime = new QLineEdit(Frame2);
    txttime->setObjectName(QStringLiteral("txttime"));
    chkEnableSend = new QCheckBox(QStringLiteral("Enabled auto delivery of messages"), Frame2);
    chkEnableSend->setObjectName(QStringLiteral("chkEnableSend"));
    txtSendmsgtime = new QLineEdit(Frame2);
    txtSendmsgtime->setObjectName(QStringLiteral("txtSendmsgtime"));
    OptDirctDelevary = new QRadioButton(QStringLiteral("Direct delivery without storing to SIM"), Frame2);
    OptDirctDelevary->setObjectName(QStringLiteral("OptDirctDelevary"));
    OptStoreOnSIM = new QRadioButton(QStringLiteral("Store on SIM and deliver"), Frame2);
    OptStoreOnSIM->setObjectName(QStringLiteral("OptStoreOnSIM"));
    chkDeliveryReports = new QCheckBox(
        QStringLiteral("Ask for delivery reports (PDU message format; the network may charge for them)"), Frame2);
    chkDeliveryReports->setObjectName(QStringLiteral("chkDeliveryReports"));
    chkNotifications =
        new QCheckBox(QStringLiteral("Show a notification for each new message and missed call"), Frame2);
    chkNotifications->setObjectName(QStringLiteral("chkNotifications"));
    for (QLineEdit* box : {txttime, txtSendmsgtime}) {
        box->setFixedWidth(60);
        box->setEnabled(false); // follows its check box
    }
    auto* quietGroup = new QGroupBox(QStringLiteral("Quiet hours"), Frame2);
    quietGroup->setObjectName(QStringLiteral("grpQuietHours"));
    chkQuietHours = new QCheckBox(QStringLiteral("Do not send between"), quietGroup);
    chkQuietHours->setObjectName(QStringLiteral("chkQuietHours"));
    dtpQuietFrom = timeBox(quietGroup, "dtpQuietFrom");
    dtpQuietTo = timeBox(quietGroup, "dtpQuietTo");
    chkQuietRepliesExempt =
        new QCheckBox(QStringLiteral("Replies to missed calls are sent in quiet hours too"), quietGroup);
    chkQuietRepliesExempt->setObjectName(QStringLiteral("chkQuietRepliesExempt"));
    for (QWidget* w : std::initializer_list<QWidget*>{dtpQuietFrom, dtpQuietTo, chkQuietRepliesExempt})
        w->setEnabled(false); // follows chkQuietHours
    auto* quietGrid = new QGridLayout(quietGroup);
    quietGrid->addWidget(chkQuietHours, 0, 0);
    quietGrid->addWidget(dtpQuietFrom, 0, 1);
    quietGrid->addWidget(label(quietGroup, QStringLiteral("and")), 0, 2);
    quietGrid->addWidget(dtpQuietTo, 0, 3);
    quietGrid->addWidget(label(quietGroup, QStringLiteral("(local time)")), 0, 4);
    quietGrid->addWidget(chkQuietRepliesExempt, 1, 0, 1, 5);
    quietGrid->setColumnStretch(4, 1);

    auto* timerGrid = new QGridLayout(Frame2);
    timerGrid->addWidget(chkEnableReceive, 0, 0, 1, 4);
    timerGrid->addWidget(label(Frame2, QStringLiteral("Automaticaly receive all messages every")), 1, 0);
    timerGrid->addWidget(txttime, 1, 1);
    timerGrid->addWidget(label(Frame2, QStringLiteral(" Seconds.")), 1, 2);
    timerGrid->addWidget(label(Frame2, QStringLiteral("(Between 3-65)")), 1, 3);
    timerGrid->addWidget(chkEnableSend, 2, 0, 1, 4);
    timerGrid->addWidget(label(Frame2, QStringLiteral("Automaticaly send all messages every")), 3, 0);
    timerGrid->addWidget(txtSendmsgtime, 3, 1);
    timerGrid->addWidget(label(Frame2, QStringLiteral(" Seconds.")), 3, 2);
    timerGrid->addWidget(label(Frame2, QStringLiteral("(Between 3-65)")), 3, 3);
    timerGrid->addWidget(label(Frame2, QStringLiteral("Select SMS Delivery Method :")), 4, 0, 1, 4);
    timerGrid->addWidget(OptDirctDelevary, 5, 0, 1, 4);
    timerGrid->addWidget(OptStoreOnSIM, 6, 0, 1, 4);
    timerGrid->addWidget(chkDeliveryReports, 7, 0, 1, 4);
    timerGrid->addWidget(chkNotifications, 8, 0, 1, 4);
    timerGrid->addWidget(quietGroup, 9, 0, 1, 4);
    timerGrid->setColumnStretch(3, 1);
    timerGrid->setRowStretch(10, 1);

    cmdSave1 = new QPushButton(QStringLiteral("&Save"), this);
    cmdSave1->setObjectName(QStringLiteral("cmdSave1"));
    cmdExit3 = new QPushButton(QStringLiteral("&Exit"), this);
    cmdExit3->setObjectName(QStringLiteral("cmdExit3"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSave1);
    buttons->addWidget(cmdExit3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TabStrip1);
    layout->addWidget(Frame1, 1);
    layout->addWidget(Frame2, 1);
    layout->addLayout(buttons);
    resize(620, 560);

    connect(TabStrip1, &QTabBar::currentChanged, this, &frm_Settings::TabStrip1_Click);
    connect(Combo_comportNo, &QComboBox::currentIndexChanged, this, &frm_Settings::showComPortDevice);
    connect(chkEnableReceive, &QCheckBox::toggled, txttime, &QWidget::setEnabled);
    connect(chkEnableSend, &QCheckBox::toggled, txtSendmsgtime, &QWidget::setEnabled);
    connect(txttime, &QLineEdit::textChanged, this, [this] { checkTimeBox(txttime, ReceiveRange); });
    connect(txtSendmsgtime, &QLineEdit::textChanged, this, [this] { checkTimeBox(txtSendmsgtime, SendRange); });
    connect(cmdSave1, &QPushButton::clicked, this, &frm_Settings::cmdSave1_Click);
    connect(cmdExit3, &QPushButton::clicked, this, &frm_Settings::cmdExit3_Click);
    connect(cmdChkModem, &QPushButton::clicked, this, &frm_Settings::cmdChkModem_Click);
    connect(cmdAddModem, &QPushButton::clicked, this, &frm_Settings::cmdAddModem_Click);
    connect(cmdRemoveModem, &QPushButton::clicked, this, &frm_Settings::cmdRemoveModem_Click);
    connect(cmdDetectModems, &QPushButton::clicked, this, &frm_Settings::cmdDetectModems_Click);
    connect(lstModems, &QTableWidget::itemSelectionChanged, this, &frm_Settings::modemSelected);
    for (QComboBox* box : {Combo_comportNo, Combo_BitsPerSec, Combo_DataBits, Combo_Parity, Combo_stopBit,
                           Cmb_FlowControl, cmb_CharSet, cmbMessageFormat, cmbDelay, cmbModemRole})
        connect(box, &QComboBox::currentIndexChanged, this, &frm_Settings::fieldsChanged);
    connect(chkEnbCallID, &QCheckBox::toggled, this, &frm_Settings::fieldsChanged);
    connect(chkModemOn, &QCheckBox::toggled, this, &frm_Settings::fieldsChanged);
    connect(txtModemName, &QLineEdit::textChanged, this, &frm_Settings::fieldsChanged);
    for (QLineEdit* box : limitBoxes())
        connect(box, &QLineEdit::textChanged, this, &frm_Settings::fieldsChanged);
    for (QWidget* w : std::initializer_list<QWidget*>{dtpQuietFrom, dtpQuietTo, chkQuietRepliesExempt})
        connect(chkQuietHours, &QCheckBox::toggled, w, &QWidget::setEnabled);

    Form_Load();
}

void frm_Settings::Form_Load()
{
    state.ChildWindowOpen = true;
    if (!engine.status().connected) {
        lblAlertMsg->clear();
        lblAlertMsg->hide();
    } else {
        // Decided once: a later connect or disconnect does not change it while the window stays open.
        Frame1->setEnabled(false);
        for (QWidget* w : std::initializer_list<QWidget*>{
                 Combo_comportNo, Combo_BitsPerSec, Combo_DataBits, Combo_Parity, Combo_stopBit, Cmb_FlowControl,
                 cmb_CharSet, cmdChkModem, chkEnbCallID, cmbDelay, lstModems, cmdAddModem, cmdRemoveModem,
                 cmdDetectModems, txtModemName, cmbModemRole, chkModemOn})
            w->setEnabled(false);
        for (QLineEdit* box : limitBoxes())
            box->setEnabled(false);
        lblAlertMsg->setText(ConnectedWarning);
        lblAlertMsg->show();
    }
    QList<ModemConfig> stored;
    try {
        showingModem = true;
        loadModemTab();
        showingModem = false;
        stored = ModemsRepository(engine.database()).all();
        loadTimerTab();
        loadQuietHours();
        loadNotifications();
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
    showingModem = false;
    listModems(stored);
    TabStrip1->setCurrentIndex(0);
    TabStrip1_Click();
}

void frm_Settings::loadModemTab()
{
    QString port, delay, stopBits, parity, dataBits, speed, flow, charSet;
    bool callerId = false;
    if (const auto row = ReadModemSetting(engine.database())) {
        port = Trim(text(row->CommPortNo));
        delay = Trim(text(row->ModemDelayFactor));
        stopBits = Trim(text(row->StopBits));
        parity = Trim(text(row->Parity));
        dataBits = Trim(text(row->DataBits));
        speed = Trim(text(row->BitsPerSecond));
        flow = Trim(text(row->FlowControl));
        charSet = Trim(text(row->CharacterSet));
        callerId = IsTrue(row->EnabledCallerId);
    } else {
        // Nothing stored yet: 115200 bits per second 8N1 without flow control, the GSM character set and the
        // fastest delay, which nearly every GSM modem accepts.
        speed = QStringLiteral("115200");
        dataBits = QStringLiteral("8");
        parity = QStringLiteral("n");
        stopBits = QStringLiteral("1");
        flow = QStringLiteral("0");
        charSet = QStringLiteral("GSM");
        delay = QStringLiteral("1");
    }

    if (!port.isEmpty() && port != QLatin1String("0"))
        selectText(Combo_comportNo, port);
    showComPortDevice();
    if (!stopBits.isEmpty())
        selectText(Combo_stopBit, stopBits);
    if (!parity.isEmpty())
        Combo_Parity->setCurrentIndex(static_cast<int>(ParityLetters.indexOf(parity))); // other letters: none
    Combo_DataBits->clear();
    Combo_DataBits->addItems({QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    Combo_DataBits->setCurrentIndex(-1);
    cmbDelay->clear();
    for (int quarter = 4; quarter <= 28; ++quarter)
        cmbDelay->addItem(QString::number(quarter / 4.0));
    cmbDelay->setCurrentIndex(-1);
    if (!delay.isEmpty()) {
        selectText(cmbDelay, delay);
        // A factor stored in another spelling of the same number ("3.0", "1.50") is still that factor.
        if (cmbDelay->currentIndex() < 0 && IsNumeric(delay)) {
            for (int i = 0; i < cmbDelay->count(); ++i)
                if (cmbDelay->itemText(i).toDouble() == NumericValue(delay))
                    cmbDelay->setCurrentIndex(i);
        }
    }
    if (!dataBits.isEmpty())
        selectText(Combo_DataBits, dataBits);
    if (!speed.isEmpty())
        selectText(Combo_BitsPerSec, speed);
    if (!flow.isEmpty())
        Cmb_FlowControl->setCurrentIndex(static_cast<int>(FlowCodes.indexOf(flow))); // other codes: none
    if (!charSet.isEmpty())
        selectText(cmb_CharSet, charSet);
    chkEnbCallID->setChecked(callerId);
    selectText(cmbMessageFormat, ReadMessageFormat(engine.database()));
}

void frm_Settings::listModems(const QList<ModemConfig>& stored)
{
    modems = stored;
    // A database without modem settings still has its first modem: the one the fields show.
    if (modems.isEmpty() || modems.first().id != Engine::FirstModem) {
        ModemConfig first;
        first.id = Engine::FirstModem;
        modems.prepend(first);
    }
    shownModem = 0;
    showingModem = true;
    txtModemName->setText(modems.first().name);
    cmbModemRole->setCurrentIndex(static_cast<int>(modems.first().role));
    chkModemOn->setChecked(modems.first().enabled);
    const std::array<QLineEdit*, 6> boxes = limitBoxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->setText(QString::number(modems.first().limits.*LimitFields[i]));
    showingModem = false;
    // The first modem's other fields are what loadModemTab put into the controls, read as Save reads them.
    storeShownModem();
    showingModem = true;
    lstModems->setRowCount(static_cast<int>(modems.size()));
    for (int r = 0; r < modems.size(); ++r)
        fillModemRow(r);
    lstModems->selectRow(0);
    showingModem = false;
}

void frm_Settings::storeShownModem()
{
    if (showingModem || shownModem < 0 || shownModem >= modems.size())
        return;
    ModemConfig& m = modems[shownModem];
    m.name = Trim(txtModemName->text());
    m.port = Combo_comportNo->currentIndex() < 0 ? 0 : Trim(Combo_comportNo->currentText()).toInt();
    m.bitsPerSecond = Trim(Combo_BitsPerSec->currentText());
    m.dataBits = Trim(Combo_DataBits->currentText());
    m.parity = ParityLetters.value(ParityNames.indexOf(Trim(Combo_Parity->currentText())));
    m.stopBits = Trim(Combo_stopBit->currentText());
    m.flowControl = FlowCodes.value(FlowNames.indexOf(Trim(Cmb_FlowControl->currentText())));
    m.characterSet = Trim(cmb_CharSet->currentText());
    m.callerId = chkEnbCallID->isChecked();
    m.delayFactor = cmbDelay->currentIndex() < 0 ? 0 : NumericValue(cmbDelay->currentText()); // 0: none chosen
    m.pdu = cmbMessageFormat->currentText() == QLatin1String("PDU");
    m.role = static_cast<ModemConfig::Role>(std::max(0, cmbModemRole->currentIndex()));
    m.enabled = chkModemOn->isChecked();
    const std::array<QLineEdit*, 6> boxes = limitBoxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        m.limits.*LimitFields[i] = limitValue(boxes[i]);
}

std::array<QLineEdit*, 6> frm_Settings::limitBoxes() const
{
    return {txtLimitMinute, txtLimitHour, txtLimitDay, txtLimitRecipientsMonth, txtGapMin, txtGapMax};
}

void frm_Settings::showModem(int row)
{
    const ModemConfig& m = modems.at(row);
    showingModem = true;
    txtModemName->setText(m.name);
    cmbModemRole->setCurrentIndex(static_cast<int>(m.role));
    chkModemOn->setChecked(m.enabled);
    const std::array<QLineEdit*, 6> boxes = limitBoxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->setText(QString::number(m.limits.*LimitFields[i]));
    if (m.port > 0)
        selectText(Combo_comportNo, QString::number(m.port));
    else
        Combo_comportNo->setCurrentIndex(-1);
    selectText(Combo_BitsPerSec, m.bitsPerSecond);
    selectText(Combo_DataBits, m.dataBits);
    Combo_Parity->setCurrentIndex(static_cast<int>(ParityLetters.indexOf(m.parity)));
    selectText(Combo_stopBit, m.stopBits);
    Cmb_FlowControl->setCurrentIndex(static_cast<int>(FlowCodes.indexOf(m.flowControl)));
    selectText(cmb_CharSet, m.characterSet);
    chkEnbCallID->setChecked(m.callerId);
    cmbDelay->setCurrentIndex(-1);
    for (int i = 0; i < cmbDelay->count(); ++i)
        if (cmbDelay->itemText(i).toDouble() == m.delayFactor)
            cmbDelay->setCurrentIndex(i);
    selectText(cmbMessageFormat, m.pdu ? QStringLiteral("PDU") : QStringLiteral("Text"));
    shownModem = row;
    showingModem = false;
    showComPortDevice();
}

void frm_Settings::selectModem(int row)
{
    storeShownModem();
    showingModem = true;
    lstModems->selectRow(row);
    showingModem = false;
    showModem(row);
}

void frm_Settings::modemSelected()
{
    if (showingModem)
        return;
    const int row = lstModems->currentRow();
    if (row < 0 || row >= modems.size() || row == shownModem)
        return;
    storeShownModem();
    showModem(row);
}

void frm_Settings::fieldsChanged()
{
    if (showingModem || modems.isEmpty())
        return;
    storeShownModem();
    fillModemRow(shownModem);
}

void frm_Settings::fillModemRow(int row)
{
    const ModemConfig& m = modems.at(row);
    const QString cells[ModemColumns] = {
        m.id == 0 && m.name.isEmpty() ? QStringLiteral("New modem") : m.displayName(),
        m.port > 0 ? QStringLiteral("COM%1").arg(m.port) : QString(),
        m.bitsPerSecond,
        m.pdu ? QStringLiteral("PDU") : QStringLiteral("Text"),
        RoleNames.value(static_cast<int>(m.role)),
        m.enabled ? QStringLiteral("On") : QStringLiteral("Off"),
    };
    for (int c = 0; c < ModemColumns; ++c) {
        if (QTableWidgetItem* item = lstModems->item(row, c))
            item->setText(cells[c]);
        else
            lstModems->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
}

void frm_Settings::appendModem(const ModemConfig& modem)
{
    modems << modem;
    const int row = static_cast<int>(modems.size()) - 1;
    showingModem = true;
    lstModems->setRowCount(row + 1);
    showingModem = false;
    fillModemRow(row);
}

void frm_Settings::cmdAddModem_Click()
{
    storeShownModem();
    appendModem(newModem());
    selectModem(static_cast<int>(modems.size()) - 1);
    Combo_comportNo->setFocus();
}

void frm_Settings::cmdRemoveModem_Click()
{
    storeShownModem();
    const int row = shownModem;
    if (modems.at(row).id == Engine::FirstModem) {
        engine.dialogs().message(firstModemRefusal());
        return;
    }
    // Nothing is stored before Save: Exit keeps the modem.
    if (modems.at(row).id > 0)
        removedModems << modems.at(row).id;
    showingModem = true;
    modems.removeAt(row);
    lstModems->removeRow(row);
    showingModem = false;
    shownModem = -1; // its fields belong to nobody now
    selectModem(row - 1);
}

void frm_Settings::cmdDetectModems_Click()
{
    // A scan opens every port in turn: not while a modem of the list uses one.
    if (engine.connected() || engine.portInUse()) {
        engine.dialogs().message(ConnectedWarning);
        return;
    }
    storeShownModem();
    lblDetectResult->clear();
    auto* detection = new frm_ChekModemProgress(engine, this);
    QPointer<frm_Settings> self(this);
    detection->onScanned = [self](const ProbeResult& result) {
        if (self)
            self->addDetectedModems(result);
    };
    detection->setWindowModality(Qt::ApplicationModal);
    detection->show();
}

void frm_Settings::addDetectedModems(const ProbeResult& result)
{
    storeShownModem();
    int firstAdded = -1;
    for (const ProbeResult::Found& found : result.found) {
        const bool listed =
            std::any_of(modems.begin(), modems.end(), [&](const ModemConfig& m) { return m.port == found.port; });
        if (listed)
            continue;
        ModemConfig m = newModem();
        m.port = found.port;
        m.bitsPerSecond = DetectedSpeed;
        m.delayFactor = DetectedDelay;
        m.name = Trim(Trim(found.manufacturer) + QLatin1Char(' ') + Trim(found.model));
        // From now on the number means this modem, as for a modem picked from the detection list.
        PinComPort(PortPathsOf(state), found.port);
        appendModem(m);
        if (firstAdded < 0)
            firstAdded = static_cast<int>(modems.size()) - 1;
    }
    const int added = firstAdded < 0 ? 0 : static_cast<int>(modems.size()) - firstAdded;
    if (result.found.empty())
        lblDetectResult->setText(QStringLiteral("No modem found on COM1 - COM20."));
    else if (added == 0)
        lblDetectResult->setText(QStringLiteral("The modems found are in the list already."));
    else
        lblDetectResult->setText(QStringLiteral("Modems added: %1. Save keeps them.").arg(added));
    if (firstAdded >= 0)
        selectModem(firstAdded);
    TabStrip1->setCurrentIndex(0);
    TabStrip1_Click();
    activateWindow();
}

void frm_Settings::loadTimerTab()
{
    const auto row = ReadTimerSetting(engine.database());
    if (!row)
        return;
    // Setting the texts runs the check of each box, as typing would.
    txttime->setText(Trim(text(row->ReceiveAllMessagesTime)));
    txtSendmsgtime->setText(Trim(text(row->SendAllMessagesTime)));
    chkEnableReceive->setChecked(IsTrue(row->EnableReceiveTimer));
    txttime->setEnabled(chkEnableReceive->isChecked());
    chkEnableSend->setChecked(IsTrue(row->EnableSendTimer));
    txtSendmsgtime->setEnabled(chkEnableSend->isChecked());
    const QString mode = text(row->SMSDelevaryMode);
    if (mode == DirectDeliver)
        OptDirctDelevary->setChecked(true);
    else if (mode == StoreAndDeliver)
        OptStoreOnSIM->setChecked(true);
    chkDeliveryReports->setChecked(ReadDeliveryReports(engine.database()));
}

void frm_Settings::loadQuietHours()
{
    const ScheduleSettings s = ReadScheduleSettings(engine.database());
    const bool on = s.quiet.enabled();
    chkQuietHours->setChecked(on);
    dtpQuietFrom->setTime(on ? s.quiet.start : QuietFromDefault);
    dtpQuietTo->setTime(on ? s.quiet.end : QuietToDefault);
    chkQuietRepliesExempt->setChecked(s.repliesExempt);
}

bool frm_Settings::validateQuietHours()
{
    if (chkQuietHours->isChecked() && dtpQuietFrom->time() == dtpQuietTo->time()) {
        refuse(quietHoursRefusal(), 1, dtpQuietTo);
        return false;
    }
    return true;
}

void frm_Settings::loadNotifications()
{
    chkNotifications->setChecked(NotificationsEnabled(state));
}

void frm_Settings::TabStrip1_Click()
{
    const bool modemTab = TabStrip1->currentIndex() == 0;
    Frame1->setVisible(modemTab);
    Frame2->setVisible(!modemTab);
}

void frm_Settings::showComPortDevice()
{
    const int index = Combo_comportNo->currentIndex();
    lblComPortDevice->setText(index < 0 ? QString() : DescribeComPort(state, Combo_comportNo->currentText().toInt()));
}

bool frm_Settings::checkTimeBox(QLineEdit* box, const QString& rangeMessage)
{
    const QString t = Trim(box->text());
    if (t.isEmpty())
        return true;
    QString refusal;
    if (!IsNumeric(t))
        refusal = QStringLiteral("Please enter numeric value.");
    else if (t.contains(QLatin1Char('$')))
        refusal = QStringLiteral("Doller sign is not allowed in time.");
    else if (t.contains(QLatin1Char('+')))
        refusal = QStringLiteral("Pluse sign is not allowed in time.");
    else if (t.contains(QLatin1Char('-')))
        refusal = QStringLiteral("Minus sign is not allowed in time.");
    else if (t.contains(QLatin1Char(',')))
        refusal = QStringLiteral("Quama is not allowed in time.");
    else if (NumericValue(t) > 65)
        refusal = rangeMessage;
    if (refusal.isEmpty())
        return true;
    engine.dialogs().message(refusal);
    box->clear();
    box->setFocus();
    return false;
}

void frm_Settings::refuse(const QString& message, int tab, QWidget* focus)
{
    engine.dialogs().message(message);
    TabStrip1->setCurrentIndex(tab);
    TabStrip1_Click();
    if (focus && focus->isEnabled())
        focus->setFocus();
}

void frm_Settings::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!onTopSet && windowHandle()) {
        onTopSet = true;
        SetWindowOnTop(windowHandle(), true);
    }
}

void frm_Settings::closeEvent(QCloseEvent* event)
{
    state.ChildWindowOpen = false;
    event->accept();
}

void frm_Settings::cmdExit3_Click()
{
    close();
}

void frm_Settings::cmdChkModem_Click()
{
    // The lock of the modem tab is decided at load; a connect made since then must not lose its port to a scan.
    if (engine.status().connected || engine.portInUse()) {
        engine.dialogs().message(ConnectedWarning);
        return;
    }
    auto* detection = new frm_ChekModemProgress(engine, this);
    QPointer<frm_Settings> self(this);
    detection->onPick = [self](const QString& port) {
        if (self)
            self->selectDetectedModem(port);
    };
    detection->setWindowModality(Qt::ApplicationModal);
    detection->show();
}

void frm_Settings::selectDetectedModem(const QString& port)
{
    selectText(Combo_comportNo, Trim(port));
    selectText(Combo_BitsPerSec, QStringLiteral("115200"));
    selectText(cmbDelay, QStringLiteral("3"));
    TabStrip1->setCurrentIndex(0);
    TabStrip1_Click();
    activateWindow();
    Combo_comportNo->setFocus();
}

namespace {

struct TimerValues {
    int enableReceive = 0;
    QString receiveTime;
    int enableSend = 0;
    QString sendTime;
    std::optional<QString> mode; // none selected: the stored value stays
};

} // namespace

bool frm_Settings::applyTimerTab()
{
    struct {
        QLineEdit* box;
        QString belowThree;
        qint64 seconds = 0;
    } boxes[] = {
        {txttime, QStringLiteral("Automatically receive all messages time should be greater than or equal to 3.")},
        {txtSendmsgtime, QStringLiteral("Automatically send all messages time should be greater than or equal to 3.")},
    };
    for (auto& b : boxes) {
        const QString t = Trim(b.box->text());
        if (t.isEmpty()) {
            refuse(QStringLiteral("Please enter time in seconds."), 1, b.box);
            return false;
        }
        // A number with no whole value ("1e300") is no more usable than a word.
        const auto whole = IsNumeric(t) ? RoundHalfEven(NumericValue(t)) : std::nullopt;
        if (!whole) {
            refuse(QStringLiteral("Please enter numeric value."), 1, b.box);
            return false;
        }
        if (*whole < 3) {
            refuse(b.belowThree, 1, b.box);
            b.box->clear();
            return false;
        }
        b.seconds = *whole;
    }

    auto seconds = [](qint64 whole) { return static_cast<qint16>(std::clamp<qint64>(whole, 0, 32767)); };
    state.ReceiveIntervalSeconds = seconds(boxes[0].seconds);
    state.SendIntervalSeconds = seconds(boxes[1].seconds);
    if (chkEnableReceive->isChecked()) {
        if (engine.status().connected)
            engine.Timer1.setInterval(state.ReceiveIntervalSeconds * 1000);
    } else {
        state.ReceiveIntervalSeconds = 0;
        engine.Timer1.setInterval(0);
    }
    if (chkEnableSend->isChecked()) {
        if (engine.status().connected)
            engine.Timer2.setInterval(state.SendIntervalSeconds * 1000);
    } else {
        state.SendIntervalSeconds = 0;
        engine.Timer2.setInterval(0);
    }
    return true;
}

bool frm_Settings::validateModemTab()
{
    // The modem on view first, as with one modem; then every other one, shown when it is refused.
    if (!validateShownModem())
        return false;
    const int shown = shownModem;
    for (int row = 0; row < modems.size(); ++row) {
        if (row == shown)
            continue;
        selectModem(row);
        if (!validateShownModem())
            return false;
    }
    if (shownModem != shown)
        selectModem(shown);
    // Two modems switched on with one port would take it from each other at every connect.
    for (int row = 1; row < modems.size(); ++row) {
        const ModemConfig& m = modems.at(row);
        const bool shared = m.enabled && std::any_of(modems.begin(), modems.begin() + row, [&](const ModemConfig& o) {
                                return o.enabled && o.port == m.port;
                            });
        if (shared) {
            selectModem(row);
            refuse(QStringLiteral("COM%1 is set for another modem already. Please select another Comm port Number.")
                       .arg(m.port),
                   0, Combo_comportNo);
            return false;
        }
    }
    return true;
}

bool frm_Settings::validateShownModem()
{
    const struct {
        QComboBox* list;
        QString message;
    } lists[] = {
        {Combo_comportNo, QStringLiteral("Please select Comm port Number.")},
        {Combo_BitsPerSec, QStringLiteral("Please select Bits Per Second.")},
        {Combo_DataBits, QStringLiteral("Please select Data Bits.")},
        {Combo_Parity, QStringLiteral("Please select Parity.")},
        {Combo_stopBit, QStringLiteral("Please select Stop bits.")},
        {Cmb_FlowControl, QStringLiteral("Please select Flow Control.")},
        {cmb_CharSet, QStringLiteral("Please select Character set.")},
        {cmbDelay, delayFactorRefusal()},
    };
    for (const auto& l : lists) {
        if (Trim(l.list->currentText()).isEmpty()) {
            refuse(l.message, 0, l.list);
            return false;
        }
    }
    for (QLineEdit* box : limitBoxes()) {
        if (limitValue(box) < 0) {
            refuse(limitRefusal(), 0, box);
            return false;
        }
    }
    if (limitValue(txtGapMin) > limitValue(txtGapMax)) {
        refuse(gapRefusal(), 0, txtGapMin);
        return false;
    }
    return true;
}

bool frm_Settings::saveModemList()
{
    storeShownModem();
    // Each modem is a write of its own (the repository keeps each one whole); the first one's row holds again
    // what was written above, now with its name, role and switch.
    ModemsRepository repository(engine.database());
    try {
        while (!removedModems.isEmpty()) {
            repository.remove(removedModems.first());
            removedModems.removeFirst();
        }
        for (ModemConfig& m : modems)
            m.id = repository.save(m);
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
        return false;
    }
    for (int row = 0; row < modems.size(); ++row)
        fillModemRow(row);
    // The sessions follow the list: new modems get one, removed ones lose theirs, the others take their settings.
    engine.loadModemSettings();
    return true;
}

void frm_Settings::cmdSave1_Click()
{
    // The running intervals change here already; the rows are stored below, together, or not at all.
    if (!applyTimerTab())
        return;
    if (!validateQuietHours())
        return;
    if (!validateModemTab())
        return;

    TimerValues timers;
    timers.enableReceive = Database::DbBool(chkEnableReceive->isChecked());
    timers.receiveTime = Trim(txttime->text());
    timers.enableSend = Database::DbBool(chkEnableSend->isChecked());
    timers.sendTime = Trim(txtSendmsgtime->text());
    if (OptDirctDelevary->isChecked())
        timers.mode = DirectDeliver;
    else if (OptStoreOnSIM->isChecked())
        timers.mode = StoreAndDeliver;

    // The first modem's row, whichever modem the fields show now (its delay factor as the list shows it).
    storeShownModem();
    const ModemConfig first = modems.first();
    const QString delay = QString::number(first.delayFactor);
    const QString format = first.pdu ? QStringLiteral("PDU") : QStringLiteral("Text");
    ModemSettingRow modem;
    modem.CommPortNo = first.port;
    modem.BitsPerSecond = first.bitsPerSecond;
    modem.DataBits = first.dataBits;
    modem.Parity = first.parity;
    modem.StopBits = first.stopBits;
    modem.FlowControl = first.flowControl;
    modem.CharacterSet = first.characterSet;
    modem.EnabledCallerId = Database::DbBool(first.callerId);
    modem.ModemDelayFactor = delay;

    Database& db = engine.database();
    double previousDelay = 0;
    bool firstSetup = true; // no modem settings were stored before
    QString previousFormat;
    bool previousReports = false;
    try {
        db.beginTransaction();
        try {
            if (const auto old = ReadModemSetting(db)) {
                previousDelay = NumericValue(Trim(text(old->ModemDelayFactor)));
                firstSetup = false;
            }
            previousFormat = ReadMessageFormat(db);
            previousReports = ReadDeliveryReports(db);
            WriteModemSetting(db, modem);
            WriteMessageFormat(db, format);

            TimerSettingRow row;
            row.EnableReceiveTimer = timers.enableReceive;
            row.ReceiveAllMessagesTime = timers.receiveTime;
            row.EnableSendTimer = timers.enableSend;
            row.SendAllMessagesTime = timers.sendTime;
            if (timers.mode) {
                row.SMSDelevaryMode = *timers.mode;
            } else if (const auto old = ReadTimerSetting(db)) {
                row.SMSDelevaryMode = old->SMSDelevaryMode;
            }
            WriteTimerSetting(db, row);
            WriteDeliveryReports(db, chkDeliveryReports->isChecked());
            ScheduleSettings schedule;
            if (chkQuietHours->isChecked())
                schedule.quiet = {dtpQuietFrom->time(), dtpQuietTo->time()};
            schedule.repliesExempt = chkQuietRepliesExempt->isChecked();
            WriteScheduleSettings(db, schedule);
            db.commit();
        } catch (const DbError&) {
            db.rollback();
            throw;
        }
    } catch (const DbError& e) {
        // Nothing was stored; the running delay factor stays what the stored row says.
        engine.dialogs().message(e.description());
        return;
    }
    if (!saveModemList())
        return;
    const double chosenDelay = NumericValue(delay);
    engine.setDelayFactor(chosenDelay);
    engine.setPduMessages(first.pdu);
    SetNotificationsEnabled(state, chkNotifications->isChecked());

    const bool delayChanged = chosenDelay != previousDelay;
    if ((delayChanged || state.selectPortFromList) && (delayChanged || first.bitsPerSecond != QLatin1String("9600"))) {
        // A first setup changed no modem that would need switching off and on: it only takes effect.
        engine.dialogs().message(firstSetup ? FirstSetupMessage : RestartMessage);
        engine.Disconnect();
        if (restartApplication)
            restartApplication();
        else
            state.endApplication();
        return;
    }
    state.selectPortFromList = false;
    engine.dialogs().message(QStringLiteral("Settings Saved Successfully!!!"));
    // The message format and the reports are set up when the modem is initialised: a reconnect applies them.
    if ((previousFormat != format || previousReports != chkDeliveryReports->isChecked()) && engine.status().connected) {
        engine.activityLog().WriteActivityLog(
            QStringLiteral("The message format has changed: reconnecting to the modem."));
        engine.Disconnect();
        engine.Connect();
    }
}
