// Wizard step for an Excel workbook (.xls or .xlsx) or a CSV file: the worksheet, the column that holds the
// mobile numbers and, for a separate message per number, the column that holds the messages, with a
// preview of the chosen columns in the first four records. Next records the choices for step 5, which
// reads the worksheet.
#pragma once

#include "compose/WizardStep.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

class Frm_Broadtext_Step4 : public WizardStep {
    Q_OBJECT
public:
    Frm_Broadtext_Step4(Engine& engine, BroadtextWizard& wizard, QWidget* parent = nullptr);

    // Records the preview looks at.
    static constexpr int PreviewRecords = 4;

    QComboBox* CmbSheetName;
    QComboBox* cmbColumnName;
    QTableWidget* MshRecords;
    QRadioButton* optCommonSMS;
    QRadioButton* optSeparateSMS;
    QLabel* Label6;
    QComboBox* cmbSMSField;
    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QPushButton* cmdClose;

private:
    void Form_Load();
    void CmbSheetName_Click();
    void cmbColumnName_Click();
    void cmbSMSField_Click();
    void cmdNext_Click();
    void cmdBack_Click();
    // Writes the non-empty values of one column of the first records into a column of the grid, from the
    // first line on.
    void preview(const QString& column, int gridColumn);
    void setGridWidths(int first, int second);
    void fitGridColumn(int column);
    QString fileName() const;
};
