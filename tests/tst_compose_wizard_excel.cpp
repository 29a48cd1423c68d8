// The wizard with an Excel workbook: the worksheet and column choices of step 4 with their four-record
// preview, what step 5 lists and queues from them, and workbooks that cannot be read.
#include "tst_compose_wizard_rig.h"

namespace {

const QString Xls = QStringLiteral("wizard.xls");
const QString VersionMessage = QStringLiteral(
    "Version of MS Excel on your computer is not match with this software. Please install Excel of version 8.0");

QStringList items(QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

Frm_Broadtext_Step4* openStep4(WizardRig& rig, const QString& file = WizardRig::fixture(Xls))
{
    QTest::mouseClick(rig.step2With("OptExcel", file)->cmdNext, Qt::LeftButton);
    return rig.wizard.step4();
}

QStringList gridColumn(QTableWidget* grid, int column)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << (grid->item(r, column) ? grid->item(r, column)->text() : QString());
    return out;
}

QString heading(QTableWidget* grid, int column)
{
    return grid->horizontalHeaderItem(column) ? grid->horizontalHeaderItem(column)->text() : QString();
}

} // namespace

class WizardExcelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stepOffersTheWorksheets();
    void choosingASheetListsItsHeaderRowTwice();
    void previewShowsNonEmptyValuesOfTheFirstFourRecords();
    void messageColumnPreviewStandsBesideTheNumbers();
    void messageColumnBeforeNumbersColumnIsRefused();
    void nextRefusesMissingChoices_data();
    void nextRefusesMissingChoices();
    void commonMessageListsNumbersKeepingBlankCells();
    void numericPhoneNumberIsQueuedAsWritten();
    void separateMessagesAreListedAndQueued();
    void unreadableWorkbooksShowTheVersionMessage_data();
    void unreadableWorkbooksShowTheVersionMessage();
    void backOnSheetStepShowsFirstStepAsLeft();
    void backOnLastStepOpensAFreshSheetStep();
};

void WizardExcelTest::stepOffersTheWorksheets()
{
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    QVERIFY(s && s->isVisible());
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(s->windowTitle(), QStringLiteral("Broadtext Wizard"));
    QCOMPARE(s->size(), QSize(615, 532));
    QCOMPARE(WizardRig::text(s, "Label1"), QStringLiteral("Select sheet and column's names"));
    QCOMPARE(WizardRig::text(s, "Label3"), QStringLiteral("Sheet Name :"));
    QCOMPARE(WizardRig::text(s, "Label2"), QStringLiteral("Mobile Numbers Columns Name :"));
    QCOMPARE(WizardRig::text(s, "Label4"), QStringLiteral("First four records of selected sheet and column :"));
    QCOMPARE(WizardRig::text(s, "Label5"), QStringLiteral("SMS Delivery :"));
    QCOMPARE(s->Label6->text(), QStringLiteral("Select the field where SMS is stored for each number:"));
    QCOMPARE(items(s->CmbSheetName), (QStringList{"Contacts", "Second"}));
    QCOMPARE(s->CmbSheetName->currentIndex(), -1);
    QCOMPARE(heading(s->MshRecords, 0), QStringLiteral("Records found"));
    QCOMPARE(s->MshRecords->columnWidth(0), 2000 / 15);
    QVERIFY(s->MshRecords->editTriggers() == QAbstractItemView::NoEditTriggers);
    QVERIFY(s->optCommonSMS->isChecked());
    QVERIFY(s->Label6->isHidden() && s->cmbSMSField->isHidden());
    s->optSeparateSMS->click();
    QVERIFY(!s->Label6->isHidden() && !s->cmbSMSField->isHidden());
}

void WizardExcelTest::choosingASheetListsItsHeaderRowTwice()
{
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    WizardRig::choose(s, "CmbSheetName", QStringLiteral("Contacts"));
    QCOMPARE(items(s->cmbColumnName), (QStringList{"Mobile", "SMS", "Name"}));
    QCOMPARE(items(s->cmbSMSField), (QStringList{"Mobile", "SMS", "Name"}));
    WizardRig::choose(s, "CmbSheetName", QStringLiteral("Second"));
    QCOMPARE(items(s->cmbColumnName), (QStringList{"Phone", "Text"}));
    QCOMPARE(s->cmbColumnName->currentIndex(), -1);
    QVERIFY(rig.dialogs.messages().isEmpty());
}

void WizardExcelTest::previewShowsNonEmptyValuesOfTheFirstFourRecords()
{
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    WizardRig::choose(s, "CmbSheetName", QStringLiteral("Contacts"));
    WizardRig::choose(s, "cmbColumnName", QStringLiteral("Mobile"));
    // Records 3 and 4 are empty and blank; records 5 and 6 are not looked at.
    QCOMPARE(gridColumn(s->MshRecords, 0), (QStringList{"9888812121", "09812345678", "", ""}));
    QCOMPARE(heading(s->MshRecords, 0), QStringLiteral("Records found"));
    QCOMPARE(s->MshRecords->columnWidth(0), 1500 / 15);
    QVERIFY(rig.dialogs.messages().isEmpty());
}

void WizardExcelTest::messageColumnPreviewStandsBesideTheNumbers()
{
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    WizardRig::choose(s, "CmbSheetName", QStringLiteral("Contacts"));
    WizardRig::choose(s, "cmbColumnName", QStringLiteral("Mobile"));
    s->optSeparateSMS->click();
    WizardRig::choose(s, "cmbSMSField", QStringLiteral("SMS"));
    QCOMPARE(heading(s->MshRecords, 1), QStringLiteral("Messages"));
    QCOMPARE(gridColumn(s->MshRecords, 1), (QStringList{"Hello Asha", "Hi", "no number", "blank number"}));
    QCOMPARE(gridColumn(s->MshRecords, 0), (QStringList{"9888812121", "09812345678", "", ""}));
    QCOMPARE(s->MshRecords->columnWidth(1), 3500 / 15);

    // Choosing the numbers column again starts the preview over.
    WizardRig::choose(s, "cmbColumnName", QStringLiteral("Name"));
    QCOMPARE(gridColumn(s->MshRecords, 0), (QStringList{"Asha", "Ravi", "Nobody", ""}));
    QCOMPARE(gridColumn(s->MshRecords, 1), (QStringList{"", "", "", ""}));
}

void WizardExcelTest::messageColumnBeforeNumbersColumnIsRefused()
{
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    WizardRig::choose(s, "CmbSheetName", QStringLiteral("Contacts"));
    s->optSeparateSMS->click();
    WizardRig::choose(s, "cmbSMSField", QStringLiteral("SMS"));
    QCOMPARE(rig.dialogs.messages(), QStringList{"First select the mobile numbers column"});
    QCOMPARE(s->cmbSMSField->currentIndex(), -1);
    QCOMPARE(gridColumn(s->MshRecords, 1), (QStringList{"", "", "", ""}));
}

void WizardExcelTest::nextRefusesMissingChoices_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("column");
    QTest::addColumn<bool>("separate");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("no sheet") << ""
                              << "" << false << "Please select Sheet Name."
                              << "CmbSheetName";
    QTest::newRow("no numbers column") << "Contacts"
                                       << "" << false << "Please select Column Name."
                                       << "cmbColumnName";
    QTest::newRow("no message column") << "Contacts"
                                       << "Mobile" << true << "Please select SMS Column Name."
                                       << "cmbSMSField";
}

void WizardExcelTest::nextRefusesMissingChoices()
{
    QFETCH(QString, sheet);
    QFETCH(QString, column);
    QFETCH(bool, separate);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    if (!sheet.isEmpty())
        WizardRig::choose(s, "CmbSheetName", sheet);
    if (!column.isEmpty())
        WizardRig::choose(s, "cmbColumnName", column);
    if (separate)
        s->optSeparateSMS->click();
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QVERIFY(s->isVisible());
    QVERIFY(!rig.wizard.step5());
    QCOMPARE(s->focusWidget() ? s->focusWidget()->objectName() : QString(), focus);
}

void WizardExcelTest::commonMessageListsNumbersKeepingBlankCells()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.excelStep5(QStringLiteral("Contacts"), QStringLiteral("Mobile"));
    QVERIFY(s5);
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(rig.state.Frm_Broadtext_Step4.SheetName, QStringLiteral("Contacts"));
    QCOMPARE(rig.state.Frm_Broadtext_Step4.ColumnName, QStringLiteral("Mobile"));
    QCOMPARE(rig.state.Frm_Broadtext_Step4.SMSColumnName, QString());
    QVERIFY(s5->Frame2->isVisible());
    // The cell of blanks gives a row with an empty number; the empty cell gives none.
    QCOMPARE(WizardRig::listed(s5), (QStringList{"9888812121", "09812345678", "", "+442123234455", "7777777777"}));
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QStringLiteral("5"));
}

void WizardExcelTest::numericPhoneNumberIsQueuedAsWritten()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.excelStep5(QStringLiteral("Contacts"), QStringLiteral("Mobile"));
    QVERIFY(s5);
    for (int r = 1; r < 5; ++r)
        WizardRig::setRowChecked(s5, r, false);
    QCOMPARE(WizardRig::text(s5, "lblSelectedItems"), QStringLiteral("1"));
    s5->txtMessage->setText(QStringLiteral("Hello"));
    QTest::mouseClick(s5->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.outboxNumbers(), QStringList{"9888812121"});
}

void WizardExcelTest::separateMessagesAreListedAndQueued()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 =
        rig.excelStep5(QStringLiteral("Contacts"), QStringLiteral("Mobile"), QStringLiteral("SMS"));
    QVERIFY(s5);
    QCOMPARE(rig.state.Frm_Broadtext_Step4.SMSColumnName, QStringLiteral("SMS"));
    QVERIFY(s5->Frame2->isHidden());
    QCOMPARE(WizardRig::listed(s5, 1), (QStringList{"Hello Asha", "Hi", "blank number", "", "late one"}));
    QTest::mouseClick(s5->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{"Message has been sent successfully to Out box."});
    QCOMPARE(rig.outboxNumbers(), (QStringList{"9888812121", "09812345678", "", "+442123234455", "7777777777"}));
    QCOMPARE(rig.outboxMessages(), (QStringList{"Hello Asha", "Hi", "blank number", "", "late one"}));
    QVERIFY(!rig.wizard.anyStepLoaded());
}

void WizardExcelTest::unreadableWorkbooksShowTheVersionMessage_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f : {"newer.xlsx", "random.xls", "truncated.xls", "text.xls"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void WizardExcelTest::unreadableWorkbooksShowTheVersionMessage()
{
    QFETCH(QString, file);
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig, WizardRig::fixture(file));
    QVERIFY(s && s->isVisible());
    QCOMPARE(rig.dialogs.messages(), QStringList{VersionMessage});
    QCOMPARE(s->CmbSheetName->count(), 0);
}

void WizardExcelTest::backOnSheetStepShowsFirstStepAsLeft()
{
    WizardRig rig;
    Frm_Broadtext_Step4* s = openStep4(rig);
    Frm_Broadtext_Step2* s2 = rig.wizard.step2();
    QTest::mouseClick(s->cmdBack, Qt::LeftButton);
    QCOMPARE(rig.wizard.step2(), s2);
    QVERIFY(s2->isVisible() && !s->isVisible());
    QVERIFY(s2->OptExcel->isChecked());
    QCOMPARE(s2->txtFileName->text(), WizardRig::fixture(Xls));
}

void WizardExcelTest::backOnLastStepOpensAFreshSheetStep()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.excelStep5(QStringLiteral("Second"), QStringLiteral("Phone"));
    QVERIFY(s5);
    QTest::mouseClick(s5->cmdBack, Qt::LeftButton);
    QVERIFY(!rig.wizard.step2() && !rig.wizard.step5());
    Frm_Broadtext_Step4* fresh = rig.wizard.step4();
    QVERIFY(fresh && fresh->isVisible());
    QCOMPARE(items(fresh->CmbSheetName), (QStringList{"Contacts", "Second"}));
    QCOMPARE(fresh->CmbSheetName->currentIndex(), -1);
    QCOMPARE(fresh->cmbColumnName->count(), 0);
    QVERIFY(fresh->optCommonSMS->isChecked());
}

QTEST_MAIN(WizardExcelTest)
#include "tst_compose_wizard_excel.moc"
