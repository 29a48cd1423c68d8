#include "compose/Frm_Broadtext_Step2.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "compose/BroadtextWizard.h"
#include "compose/NumberSources.h"
#include "delivery/Engine.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QRadioButton* option(const QString& name, const QString& caption, QWidget* parent)
{
    auto* o = new QRadioButton(caption, parent);
    o->setObjectName(name);
    return o;
}

} // namespace

Frm_Broadtext_Step2::Frm_Broadtext_Step2(Engine& engine, BroadtextWizard& wizard, QWidget* parent)
    : WizardStep(engine, wizard, 2, parent)
{
    setObjectName(QStringLiteral("Frm_Broadtext_Step2"));

    OptTxt = option(QStringLiteral("OptTxt"), QStringLiteral("From Text File"), this);
    OptAccess = option(QStringLiteral("OptAccess"), QStringLiteral("From MS Access File"), this);
    OptExcel = option(QStringLiteral("OptExcel"), QStringLiteral("From MS Excel File"), this);
    OptCsv = option(QStringLiteral("OptCsv"), QStringLiteral("From CSV File"), this);
    OptNoOnNewLine = option(QStringLiteral("OptNoOnNewLine"), QStringLiteral("Each number is on new line"), this);
    OptNoSeperatedBy = option(QStringLiteral("OptNoSeperatedBy"), QStringLiteral("Numbers are seperated by:"), this);
    auto* sources = new QButtonGroup(this);
    sources->addButton(OptTxt);
    sources->addButton(OptAccess);
    sources->addButton(OptExcel);
    sources->addButton(OptCsv);
    auto* layouts = new QButtonGroup(this);
    layouts->addButton(OptNoOnNewLine);
    layouts->addButton(OptNoSeperatedBy);
    OptTxt->setChecked(true);
    OptNoSeperatedBy->setChecked(true);

    cmbNoSeperatedBy = new QComboBox(this);
    cmbNoSeperatedBy->setObjectName(QStringLiteral("cmbNoSeperatedBy"));
    cmbNoSeperatedBy->addItems(TextSeparators());
    cmbNoSeperatedBy->setCurrentIndex(-1);

    txtFileName = new QLineEdit(this);
    txtFileName->setObjectName(QStringLiteral("txtFileName"));
    cmdBrowse = new QPushButton(QStringLiteral("Browse"), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setAutoDefault(false);

    content()->addWidget(NamedLabel(QStringLiteral("Label1"), QStringLiteral("Select Source File"), this, true));
    content()->addSpacing(12);
    content()->addWidget(OptTxt);
    auto* textLayout = new QGridLayout;
    textLayout->setContentsMargins(24, 0, 0, 0);
    textLayout->addWidget(OptNoOnNewLine, 0, 0, 1, 2);
    textLayout->addWidget(OptNoSeperatedBy, 1, 0);
    textLayout->addWidget(cmbNoSeperatedBy, 1, 1, Qt::AlignLeft);
    content()->addLayout(textLayout);
    content()->addWidget(OptAccess);
    content()->addWidget(OptExcel);
    content()->addWidget(OptCsv);
    content()->addSpacing(16);
    auto* fileLayout = new QHBoxLayout;
    fileLayout->addWidget(NamedLabel(QStringLiteral("Label2"), QStringLiteral("File :"), this));
    fileLayout->addWidget(txtFileName, 1);
    fileLayout->addWidget(cmdBrowse);
    content()->addLayout(fileLayout);
    content()->addStretch();

    cmdNext = addButton(QStringLiteral("cmdNext"), QStringLiteral("&Next >>"));
    cmdClose = addButton(QStringLiteral("cmdClose"), QStringLiteral("&Close"));

    connect(OptTxt, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            OptTxt_Click();
    });
    connect(OptAccess, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            OptAccessOrExcel_Click();
    });
    for (QRadioButton* table : {OptExcel, OptCsv})
        connect(table, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                OptAccessOrExcel_Click();
        });
    connect(OptNoOnNewLine, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            cmbNoSeperatedBy->setEnabled(false);
    });
    connect(OptNoSeperatedBy, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            cmbNoSeperatedBy->setEnabled(true);
    });
    connect(cmdBrowse, &QPushButton::clicked, this, &Frm_Broadtext_Step2::cmdBrowse_Click);
    connect(cmdNext, &QPushButton::clicked, this, &Frm_Broadtext_Step2::cmdNext_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

void Frm_Broadtext_Step2::OptTxt_Click()
{
    txtFileName->clear();
    OptNoOnNewLine->setEnabled(true);
    OptNoSeperatedBy->setEnabled(true);
    cmbNoSeperatedBy->setEnabled(OptNoSeperatedBy->isChecked());
}

void Frm_Broadtext_Step2::OptAccessOrExcel_Click()
{
    txtFileName->clear();
    OptNoOnNewLine->setEnabled(false);
    OptNoSeperatedBy->setEnabled(false);
    cmbNoSeperatedBy->setEnabled(false);
}

void Frm_Broadtext_Step2::cmdBrowse_Click()
{
    QString filter = QStringLiteral("TXT Files (*.txt)|*.txt");
    if (OptAccess->isChecked())
        filter = QStringLiteral("MDB Files (*.mdb)|*.mdb");
    else if (OptExcel->isChecked())
        filter = QStringLiteral(
            "Excel Files (*.xls *.xlsx)|*.xls;*.xlsx|XLS Files (*.xls)|*.xls|XLSX Files (*.xlsx)|*.xlsx");
    else if (OptCsv->isChecked())
        filter = QStringLiteral("CSV Files (*.csv)|*.csv");
    const QString chosen = engine.dialogs().openFileName(QDir::homePath(), filter);
    // A cancelled dialog leaves the field as it was.
    if (chosen.isEmpty())
        return;
    wizard.choices().Frm_Broadtext_Step2.SelectedfileName = chosen;
    txtFileName->setText(Trim(chosen));
}

void Frm_Broadtext_Step2::cmdNext_Click()
{
    auto& fields = wizard.choices().Frm_Broadtext_Step2;
    auto& dialogs = engine.dialogs();
    const QString file = Trim(txtFileName->text());
    if (file.isEmpty()) {
        dialogs.message(QStringLiteral("Please select file."));
        cmdBrowse->setFocus();
        return;
    }
    fields.NoSeperatedBy.clear();
    if (OptTxt->isChecked() && OptNoSeperatedBy->isChecked()) {
        // "Numbers are seperated by:" is chosen at start: a file of one number per line needs no separator,
        // whatever this option says.
        if (cmbNoSeperatedBy->currentIndex() >= 0) {
            fields.NoSeperatedBy = cmbNoSeperatedBy->currentText();
        } else if (!HoldsOneNumberPerLine(file)) {
            dialogs.message(QStringLiteral("Plese select 'Numbers are seperated by' from combo box."));
            return;
        }
    }
    if (!QFileInfo(file).isFile()) {
        dialogs.message(QStringLiteral("This file does not exist!!!"));
        txtFileName->setFocus();
        return;
    }
    fields.SelectedfileName = file;

    // The kind is told by a fragment anywhere in the path, whatever its case: the file dialog offers
    // NUMBERS.TXT as readily as numbers.txt.
    struct Kind {
        QRadioButton* option;
        QStringList fragments;
        const char* refusal;
        int step;
    };
    const Kind kinds[] = {
        {OptTxt, {QStringLiteral(".txt")}, "Please enter or select Text file only.", 5},
        {OptAccess, {QStringLiteral(".mdb")}, "Please enter or select Access file only.", 3},
        {OptExcel, {QStringLiteral(".xls")}, "Please enter or select Excel file only.", 4},
        {OptCsv, {QStringLiteral(".csv")}, "Please enter or select CSV file only.", 4},
    };
    for (const Kind& k : kinds) {
        if (!k.option->isChecked())
            continue;
        const bool fits = std::any_of(k.fragments.begin(), k.fragments.end(),
                                      [&](const QString& f) { return file.contains(f, Qt::CaseInsensitive); });
        if (!fits) {
            dialogs.message(QString::fromLatin1(k.refusal));
            txtFileName->setFocus();
            return;
        }
        // This step stays loaded underneath; the next one always starts fresh.
        hide();
        wizard.showFresh(k.step);
        return;
    }
}
