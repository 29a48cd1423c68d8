#include "compose/Frm_Broadtext_Step4.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "compose/BroadtextWizard.h"
#include "compose/NumberSources.h"
#include "delivery/Engine.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QComboBox* list(const QString& name, QWidget* parent)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setMinimumWidth(220);
    return c;
}

constexpr int Twips = 15;

} // namespace

Frm_Broadtext_Step4::Frm_Broadtext_Step4(Engine& engine, BroadtextWizard& wizard, QWidget* parent)
    : WizardStep(engine, wizard, 4, parent)
{
    setObjectName(QStringLiteral("Frm_Broadtext_Step4"));

    CmbSheetName = list(QStringLiteral("CmbSheetName"), this);
    cmbColumnName = list(QStringLiteral("cmbColumnName"), this);
    cmbSMSField = list(QStringLiteral("cmbSMSField"), this);

    MshRecords = new QTableWidget(PreviewRecords, 2, this);
    MshRecords->setObjectName(QStringLiteral("MshRecords"));
    MshRecords->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MshRecords->setSelectionMode(QAbstractItemView::NoSelection);
    MshRecords->verticalHeader()->setVisible(false);
    MshRecords->setHorizontalHeaderLabels({QStringLiteral("Records found"), QString()});
    MshRecords->setFixedHeight(MshRecords->horizontalHeader()->sizeHint().height() +
                               PreviewRecords * MshRecords->verticalHeader()->defaultSectionSize() + 4);

    content()->addWidget(
        NamedLabel(QStringLiteral("Label1"), QStringLiteral("Select sheet and column's names"), this, true));
    content()->addSpacing(8);
    auto* form = new QFormLayout;
    form->addRow(NamedLabel(QStringLiteral("Label3"), QStringLiteral("Sheet Name :"), this), CmbSheetName);
    form->addRow(NamedLabel(QStringLiteral("Label2"), QStringLiteral("Mobile Numbers Columns Name :"), this),
                 cmbColumnName);
    content()->addLayout(form);
    content()->addWidget(NamedLabel(QStringLiteral("Label4"),
                                    QStringLiteral("First four records of selected sheet and column :"), this));
    content()->addWidget(MshRecords);
    const SmsDeliveryChoice delivery =
        addSmsDeliveryChoice(QStringLiteral("Label5"), QStringLiteral("Label6"), cmbSMSField);
    optCommonSMS = delivery.common;
    optSeparateSMS = delivery.separate;
    Label6 = delivery.fieldLabel;
    content()->addStretch();

    cmdBack = addButton(QStringLiteral("cmdBack"), QStringLiteral("<< &Back"));
    cmdNext = addButton(QStringLiteral("cmdNext"), QStringLiteral("&Next >>"));
    cmdClose = addButton(QStringLiteral("cmdClose"), QStringLiteral("&Close"));

    Form_Load();

    connect(CmbSheetName, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0)
            CmbSheetName_Click();
    });
    connect(cmbColumnName, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0)
            cmbColumnName_Click();
    });
    connect(cmbSMSField, &QComboBox::currentIndexChanged, this, [this](int) { cmbSMSField_Click(); });
    connect(cmdNext, &QPushButton::clicked, this, &Frm_Broadtext_Step4::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_Broadtext_Step4::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

QString Frm_Broadtext_Step4::fileName() const
{
    return Trim(wizard.choices().Frm_Broadtext_Step2.SelectedfileName);
}

void Frm_Broadtext_Step4::setGridWidths(int first, int second)
{
    MshRecords->setColumnWidth(0, first / Twips);
    if (second > 0)
        MshRecords->setColumnWidth(1, second / Twips);
    fitGridColumn(0);
    fitGridColumn(1);
}

void Frm_Broadtext_Step4::fitGridColumn(int column)
{
    // The widths given are the least; a longer value widens its column rather than being cut.
    const QAbstractItemView* view = MshRecords;
    MshRecords->setColumnWidth(column, std::max(MshRecords->columnWidth(column), view->sizeHintForColumn(column)));
}

void Frm_Broadtext_Step4::Form_Load()
{
    setGridWidths(2000, 0);
    const NameList sheets = ExcelSheets(fileName());
    CmbSheetName->addItems(sheets.names);
    CmbSheetName->setCurrentIndex(-1);
    // A file of one sheet (every CSV file) leaves nothing to choose: its columns are offered at once.
    if (sheets.names.size() == 1 && sheets.error.isEmpty()) {
        CmbSheetName->setCurrentIndex(0);
        CmbSheetName_Click();
    }
    // Whatever went wrong, the user is told the one thing that usually explains it.
    if (!sheets.error.isEmpty())
        engine.dialogs().message(QStringLiteral("Version of MS Excel on your computer is not match with this "
                                                "software. Please install Excel of version 8.0"));
}

void Frm_Broadtext_Step4::CmbSheetName_Click()
{
    // Emptying the lists must not run their own choice handlers.
    const QSignalBlocker b1(cmbColumnName), b2(cmbSMSField);
    cmbColumnName->clear();
    cmbSMSField->clear();
    const NameList columns = ExcelColumns(fileName(), Trim(CmbSheetName->currentText()));
    cmbColumnName->addItems(columns.names);
    cmbSMSField->addItems(columns.names);
    cmbColumnName->setCurrentIndex(-1);
    cmbSMSField->setCurrentIndex(-1);
    if (!columns.error.isEmpty())
        engine.dialogs().message(columns.error);
}

void Frm_Broadtext_Step4::preview(const QString& column, int gridColumn)
{
    const SheetRecords r = ExcelRecords(fileName(), Trim(CmbSheetName->currentText()), {column}, PreviewRecords);
    int line = 0;
    for (const auto& record : r.records) {
        const QString value = record.empty() ? QString() : Trim(record[0].value_or(QString()));
        if (value.isEmpty())
            continue;
        MshRecords->setItem(line++, gridColumn, new QTableWidgetItem(value));
    }
    fitGridColumn(gridColumn);
    if (!r.error.isEmpty())
        engine.dialogs().message(r.error);
}

void Frm_Broadtext_Step4::cmbColumnName_Click()
{
    MshRecords->clearContents();
    MshRecords->setHorizontalHeaderLabels({QStringLiteral("Records found"), QString()});
    setGridWidths(1500, 0);
    preview(cmbColumnName->currentText(), 0);
}

void Frm_Broadtext_Step4::cmbSMSField_Click()
{
    if (cmbSMSField->currentText().isEmpty())
        return;
    if (cmbColumnName->currentText().isEmpty()) {
        engine.dialogs().message(QStringLiteral("First select the mobile numbers column"));
        cmbSMSField->setCurrentIndex(-1);
        return;
    }
    MshRecords->setHorizontalHeaderItem(1, new QTableWidgetItem(QStringLiteral("Messages")));
    setGridWidths(1500, 3500);
    preview(cmbSMSField->currentText(), 1);
}

void Frm_Broadtext_Step4::cmdNext_Click()
{
    auto& dialogs = engine.dialogs();
    const QString sheet = Trim(CmbSheetName->currentText());
    const QString column = Trim(cmbColumnName->currentText());
    const QString smsColumn = Trim(cmbSMSField->currentText());
    if (sheet.isEmpty()) {
        dialogs.message(QStringLiteral("Please select Sheet Name."));
        CmbSheetName->setFocus();
        return;
    }
    if (column.isEmpty()) {
        dialogs.message(QStringLiteral("Please select Column Name."));
        cmbColumnName->setFocus();
        return;
    }
    const bool separate = optSeparateSMS->isChecked();
    if (separate && smsColumn.isEmpty()) {
        dialogs.message(QStringLiteral("Please select SMS Column Name."));
        cmbSMSField->setFocus();
        return;
    }
    auto& fields = wizard.choices().Frm_Broadtext_Step4;
    fields.SheetName = sheet;
    fields.ColumnName = column;
    // A message column picked before switching back to a common message is not used.
    fields.SMSColumnName = separate ? smsColumn : QString();
    hide();
    wizard.showFresh(5);
}

void Frm_Broadtext_Step4::cmdBack_Click()
{
    hide();
    wizard.showStep(2);
}
