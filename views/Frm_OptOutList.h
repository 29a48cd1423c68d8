// The opt-out list as the user sees it: the numbers that asked not to be sent to (when, through which modem,
// with which word), adding one by hand (which holds back what is already queued to it), taking numbers off
// after asking, exporting the list to CSV, and the settings that govern it (the stop words, the
// confirmation answer, whether START takes a number off).
#pragma once

#include <QDialog>

class Engine;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

class Frm_OptOutList : public QDialog {
    Q_OBJECT
public:
    explicit Frm_OptOutList(Engine& engine, QWidget* parent = nullptr);

    // Rebuilds the list from the database.
    void FillList();

    void cmdAddOptOut_Click();
    void cmdRemoveOptOut_Click();
    void cmdExportOptOut_Click();
    void cmdSaveOptOut_Click();

private:
    void loadSettings();
    void updateButtons();

    Engine& engine;
    QLineEdit* txtOptOutNumber;
    QPushButton* cmdAddOptOut;
    QTreeWidget* lstOptOut;
    QLabel* lblOptOutCount;
    QPushButton* cmdRemoveOptOut;
    QPushButton* cmdExportOptOut;
    QPlainTextEdit* txtStopWords;
    QCheckBox* chkOptOutConfirm;
    QLineEdit* txtOptOutConfirmText;
    QCheckBox* chkOptOutStartRemoves;
    QPushButton* cmdSaveOptOut;
    QPushButton* CmdExit;
};
