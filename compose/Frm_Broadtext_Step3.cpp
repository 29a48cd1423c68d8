#include "compose/Frm_Broadtext_Step3.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "compose/BroadtextWizard.h"
#include "compose/NumberSources.h"
#include "delivery/Engine.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QComboBox* list(const QString& name, QWidget* parent)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setMinimumWidth(220);
    return c;
}

} // namespace

Frm_Broadtext_Step3::Frm_Broadtext_Step3(Engine& engine, BroadtextWizard& wizard, QWidget* parent)
    : WizardStep(engine, wizard, 3, parent)
{
    setObjectName(QStringLiteral("Frm_Broadtext_Step3"));

    cmbTableName = list(QStringLiteral("cmbTableName"), this);
    CmbFieldName = list(QStringLiteral("CmbFieldName"), this);
    cmbSMSField = list(QStringLiteral("cmbSMSField"), this);
    content()->addWidget(
        NamedLabel(QStringLiteral("Label1"), QStringLiteral("Select Table And Field Name"), this, true));
    content()->addSpacing(12);
    auto* form = new QFormLayout;
    form->addRow(NamedLabel(QStringLiteral("Label2"), QStringLiteral("Table Name:"), this), cmbTableName);
    form->addRow(NamedLabel(QStringLiteral("Label3"), QStringLiteral("Mobile Numbers Field Name :"), this),
                 CmbFieldName);
    content()->addLayout(form);
    content()->addSpacing(12);
    const SmsDeliveryChoice delivery =
        addSmsDeliveryChoice(QStringLiteral("Label4"), QStringLiteral("Label5"), cmbSMSField);
    optCommonSMS = delivery.common;
    optSeparateSMS = delivery.separate;
    Label5 = delivery.fieldLabel;
    content()->addStretch();

    cmdBack = addButton(QStringLiteral("cmdBack"), QStringLiteral("<< &Back"));
    cmdNext = addButton(QStringLiteral("cmdNext"), QStringLiteral("&Next >>"));
    cmdClose = addButton(QStringLiteral("cmdClose"), QStringLiteral("&Close"));

    Form_Load();

    connect(cmbTableName, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0)
            cmbTableName_Click();
    });
    connect(cmdNext, &QPushButton::clicked, this, &Frm_Broadtext_Step3::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &Frm_Broadtext_Step3::cmdBack_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

QString Frm_Broadtext_Step3::fileName() const
{
    return Trim(wizard.choices().Frm_Broadtext_Step2.SelectedfileName);
}

void Frm_Broadtext_Step3::Form_Load()
{
    const NameList tables = AccessTables(fileName());
    cmbTableName->addItems(tables.names);
    cmbTableName->setCurrentIndex(-1);
    if (!tables.error.isEmpty())
        engine.dialogs().message(tables.error);
}

void Frm_Broadtext_Step3::cmbTableName_Click()
{
    CmbFieldName->clear();
    cmbSMSField->clear();
    const NameList columns = AccessColumns(fileName(), Trim(cmbTableName->currentText()));
    for (const QString& c : columns.names) {
        CmbFieldName->addItem(Trim(c));
        cmbSMSField->addItem(Trim(c));
    }
    CmbFieldName->setCurrentIndex(-1);
    cmbSMSField->setCurrentIndex(-1);
    if (!columns.error.isEmpty())
        engine.dialogs().message(columns.error);
}

void Frm_Broadtext_Step3::cmdNext_Click()
{
    auto& dialogs = engine.dialogs();
    if (cmbTableName->currentIndex() < 0) {
        dialogs.message(QStringLiteral("Please select Table Name."));
        cmbTableName->setFocus();
        return;
    }
    if (CmbFieldName->currentIndex() < 0) {
        dialogs.message(QStringLiteral("Please select Field Name."));
        CmbFieldName->setFocus();
        return;
    }
    const bool separate = optSeparateSMS->isChecked();
    if (separate && cmbSMSField->currentIndex() < 0) {
        dialogs.message(QStringLiteral("Please select SMS Field Name."));
        cmbSMSField->setFocus();
        return;
    }
    auto& fields = wizard.choices().Frm_Broadtext_Step3;
    fields.tableName = cmbTableName->currentText();
    fields.FieldName = CmbFieldName->currentText();
    // A message column picked before switching back to a common message is not used.
    fields.SMSColumnName = separate ? cmbSMSField->currentText() : QString();
    hide();
    wizard.showFresh(5);
}

void Frm_Broadtext_Step3::cmdBack_Click()
{
    hide();
    wizard.showStep(2);
}
