// The missed calls report: the calls recorded as missed on a range of days, with the day, the caller's
// number and the time of day, and the deletion of the rows the user ticks.
#pragma once

#include <QDialog>

class Engine;
class QCheckBox;
class QDateEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class Frm_MissedCallsList : public QDialog {
    Q_OBJECT
public:
    explicit Frm_MissedCallsList(Engine& engine, QWidget* parent = nullptr);

    // Rebuilds the list for the dates in the pickers.
    void FillLogList();

    void Form_Load();
    void cmdSearch_Click();
    void chkAll_Click();
    void cmdDelete_Click();
    void CmdExit_Click();

private:
    bool followingChanges = false; // refreshing for a change nobody here asked for
    void ListLogs_ItemCheck(QTreeWidgetItem* item, int column);
    bool anyRowChecked() const;
    // Calls another computer recorded (a server base): the list read again, the user's ticks kept.
    void showCallsAnew();

    Engine& engine;
    QDateEdit* DtpFrom;
    QDateEdit* DtpTo;
    QPushButton* cmdSearch;
    QTreeWidget* ListLogs;
    QCheckBox* chkAll;
    QPushButton* cmdDelete;
    QPushButton* CmdExit;
};
