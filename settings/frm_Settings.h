// The settings window: how the modem is attached (COM port, line settings, character set, caller id, delay
// factor) and the two periodic activities (automatic reception and delivery, their intervals, the delivery
// method, notifications). One Save stores both tabs, applies the running values at once and, when the change
// needs it, closes the port and starts the program afresh so that modem and program start anew. A database
// without modem settings gets the values nearly every GSM modem works with: only the port is left to choose.
//
// The modem tab lists every modem the program drives. The fields below the list edit the selected one (the
// first, today's ModemSetting row, when the window opens); Add, Remove and Detect change the list, and Save
// stores the whole list and hands it to the running sessions. The first modem cannot be removed, only switched
// off: its row is the one older versions read.
//
// Below the fields sit the selected modem's sending limits (0 = no limit) and the random gap between its
// messages; the timer tab holds the quiet hours, when nothing but (if allowed) replies to missed calls is sent.
// The sessions read both from the database at each run, so Save is all it takes for them to apply.
//
// Opened modeless; it deletes itself when closed. Its values are read when it is created.
#pragma once

#include "store/ModemsRepository.h"

#include <QWidget>
#include <array>
#include <functional>

struct AppState;
class Engine;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabBar;
class QTableWidget;
class QTimeEdit;
struct ProbeResult;

class frm_Settings : public QWidget {
    Q_OBJECT
public:
    frm_Settings(Engine& engine, QWidget* parent = nullptr);

    void cmdSave1_Click();
    void cmdExit3_Click();
    void cmdChkModem_Click();
    void cmdAddModem_Click();
    void cmdRemoveModem_Click();
    void cmdDetectModems_Click();
    // The end of a scan started by Detect: every modem found on a port no modem of the list uses is added.
    void addDetectedModems(const ProbeResult& result);

    // A modem picked from the detection list: its port, 115200 bits per second and delay factor 3.
    void selectDetectedModem(const QString& port);

    // Starts the program afresh after a modem settings change; when unset the program only ends, as
    // state.endApplication does (the main window sets the real one, tests record the call).
    std::function<void()> restartApplication;

    // The refusal of an empty delay factor.
    static QString delayFactorRefusal() { return QStringLiteral("Please select Modem Delay Factor."); }
    // The refusal of Remove for the first modem.
    static QString firstModemRefusal()
    {
        return QStringLiteral("The first modem can be switched off but not removed.");
    }
    // The refusals of the sending policy: quiet hours of no length, a limit that is no count, a gap backwards.
    static QString quietHoursRefusal()
    {
        return QStringLiteral("Quiet hours start and end at the same time. Please set two different times or switch "
                              "quiet hours off.");
    }
    static QString limitRefusal()
    {
        return QStringLiteral("Sending limits and gaps must be whole numbers of 0 or more (0 = no limit).");
    }
    static QString gapRefusal()
    {
        return QStringLiteral("The shortest gap between messages must not be longer than the longest.");
    }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void loadModemTab();
    void loadTimerTab();
    void loadNotifications();
    void loadQuietHours();
    // Refuses quiet hours of no length; false when refused.
    bool validateQuietHours();
    void TabStrip1_Click();
    void showComPortDevice();
    // The check of a time box after every change of its text; false when it refused (and emptied) the text.
    bool checkTimeBox(QLineEdit* box, const QString& rangeMessage);
    // Refuses a Save: the message, the tab, the focus.
    void refuse(const QString& message, int tab, QWidget* focus);
    // Timer tab part of Save: validates both boxes and applies the running intervals. False when refused.
    bool applyTimerTab();
    bool validateModemTab();
    void listModems(const QList<ModemConfig>& stored);
    // The fields of the selected modem into its entry of the list, and an entry into the fields.
    void storeShownModem();
    void showModem(int row);
    void selectModem(int row); // in the list too
    void appendModem(const ModemConfig& modem);
    // The checks of the fields the controls show now.
    bool validateShownModem();
    void modemSelected();
    void fieldsChanged();
    void fillModemRow(int row);
    // The limit boxes in the order of LimitFields (frm_Settings.cpp).
    std::array<QLineEdit*, 6> limitBoxes() const;
    // Writes the list: further modems added or changed, removed ones taken out. False when the database failed.
    bool saveModemList();

    Engine& engine;
    AppState& state;
    bool onTopSet = false;

    QTabBar* TabStrip1;
    QFrame* Frame1;
    QFrame* Frame2;
    QComboBox* Combo_comportNo;
    QLabel* lblComPortDevice;
    QComboBox* Combo_BitsPerSec;
    QComboBox* Combo_DataBits;
    QComboBox* Combo_Parity;
    QComboBox* Combo_stopBit;
    QComboBox* Cmb_FlowControl;
    QComboBox* cmb_CharSet;
    QCheckBox* chkEnbCallID;
    QComboBox* cmbMessageFormat;
    QCheckBox* chkDeliveryReports;
    QComboBox* cmbDelay;
    QPushButton* cmdChkModem;
    QLabel* lblAlertMsg;

    QTableWidget* lstModems;
    QPushButton* cmdAddModem;
    QPushButton* cmdRemoveModem;
    QPushButton* cmdDetectModems;
    QLabel* lblDetectResult;
    QLineEdit* txtModemName;
    QComboBox* cmbModemRole;
    QCheckBox* chkModemOn;
    QLineEdit* txtLimitMinute;
    QLineEdit* txtLimitHour;
    QLineEdit* txtLimitDay;
    QLineEdit* txtLimitRecipientsMonth;
    QLineEdit* txtGapMin;
    QLineEdit* txtGapMax;
    // The modems as the window holds them until Save (added ones with id 0), the one whose values the fields
    // show, and the ids removed since the last Save.
    QList<ModemConfig> modems;
    int shownModem = 0;
    QList<int> removedModems;
    bool showingModem = false; // the fields are being filled: their changes are not edits

    QCheckBox* chkEnableReceive;
    QLineEdit* txttime;
    QCheckBox* chkEnableSend;
    QLineEdit* txtSendmsgtime;
    QRadioButton* OptDirctDelevary;
    QRadioButton* OptStoreOnSIM;
    QCheckBox* chkNotifications;
    QCheckBox* chkQuietHours;
    QTimeEdit* dtpQuietFrom;
    QTimeEdit* dtpQuietTo;
    QCheckBox* chkQuietRepliesExempt;

    QPushButton* cmdSave1;
    QPushButton* cmdExit3;
};
