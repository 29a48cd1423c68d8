// First step of the mass-send wizard: the source (a text file, an Access database file, an Excel workbook
// or a CSV file) and the file. Next checks the choice, records the file name and the separator for the later
// steps, and moves on to step 5 (text), 3 (Access) or 4 (Excel and CSV).
#pragma once

#include "compose/WizardStep.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class Frm_Broadtext_Step2 : public WizardStep {
    Q_OBJECT
public:
    Frm_Broadtext_Step2(Engine& engine, BroadtextWizard& wizard, QWidget* parent = nullptr);

    QRadioButton* OptTxt;
    QRadioButton* OptAccess;
    QRadioButton* OptExcel;
    QRadioButton* OptCsv;
    QRadioButton* OptNoOnNewLine;
    QRadioButton* OptNoSeperatedBy;
    QComboBox* cmbNoSeperatedBy;
    QLineEdit* txtFileName;
    QPushButton* cmdBrowse;
    QPushButton* cmdNext;
    QPushButton* cmdClose;

private:
    void OptTxt_Click();
    void OptAccessOrExcel_Click();
    void cmdBrowse_Click();
    void cmdNext_Click();
};
