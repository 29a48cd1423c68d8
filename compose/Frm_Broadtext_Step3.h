// Wizard step for an Access database file: the table, the column that holds the mobile numbers and,
// for a separate message per number, the column that holds the messages. Next records the choices for
// step 5, which reads the table.
#pragma once

#include "compose/WizardStep.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

class Frm_Broadtext_Step3 : public WizardStep {
    Q_OBJECT
public:
    Frm_Broadtext_Step3(Engine& engine, BroadtextWizard& wizard, QWidget* parent = nullptr);

    QComboBox* cmbTableName;
    QComboBox* CmbFieldName;
    QRadioButton* optCommonSMS;
    QRadioButton* optSeparateSMS;
    QLabel* Label5;
    QComboBox* cmbSMSField;
    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QPushButton* cmdClose;

private:
    void Form_Load();
    void cmbTableName_Click();
    void cmdNext_Click();
    void cmdBack_Click();
    QString fileName() const;
};
