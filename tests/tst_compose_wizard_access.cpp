// The wizard with an Access database file: the table and column choices of step 3, what step 5 lists and
// queues from them, and files that cannot be read.
#include "tst_compose_wizard_rig.h"

namespace {

const QString Mdb = QStringLiteral("wizard.mdb");

QStringList items(QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

Frm_Broadtext_Step3* openStep3(WizardRig& rig, const QString& file = WizardRig::fixture(Mdb))
{
    QTest::mouseClick(rig.step2With("OptAccess", file)->cmdNext, Qt::LeftButton);
    return rig.wizard.step3();
}

} // namespace

class WizardAccessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stepOffersOnlyUserTables();
    void choosingATableListsItsColumnsTwice();
    void messageColumnListFollowsTheDeliveryOption();
    void nextRefusesMissingChoices_data();
    void nextRefusesMissingChoices();
    void commonMessageListsNumbersSkippingEmptyOnes();
    void separateMessagesAreListedAndQueued();
    void namesWithBlanksAndAccentsWork_data();
    void namesWithBlanksAndAccentsWork();
    void messageColumnPickedThenCommonChosenIsNotUsed();
    void largeTableIsListedAndQueuedWhole();
    void unreadableFilesAreReportedOnTheTableStep_data();
    void unreadableFilesAreReportedOnTheTableStep();
    void fileThatCrashesTheReaderWhileReadingRowsIsReported();
    void backOnLastStepOpensAFreshTableStep();
};

void WizardAccessTest::stepOffersOnlyUserTables()
{
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig);
    QVERIFY(s && s->isVisible());
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(s->windowTitle(), QStringLiteral("Broadtext Wizard"));
    QCOMPARE(s->size(), QSize(615, 532));
    QCOMPARE(WizardRig::text(s, "Label1"), QStringLiteral("Select Table And Field Name"));
    QCOMPARE(WizardRig::text(s, "Label2"), QStringLiteral("Table Name:"));
    QCOMPARE(WizardRig::text(s, "Label3"), QStringLiteral("Mobile Numbers Field Name :"));
    QCOMPARE(WizardRig::text(s, "Label4"), QStringLiteral("SMS Delivery :"));
    QCOMPARE(s->Label5->text(), QStringLiteral("Select the field where SMS is stored for each number:"));
    QCOMPARE(s->optCommonSMS->text(), QStringLiteral("Common SMS To All Numbers"));
    QCOMPARE(s->optSeparateSMS->text(), QStringLiteral("Separate SMS To Each Number"));
    QCOMPARE(s->cmdBack->text(), QStringLiteral("<< &Back"));
    QCOMPARE(s->cmdNext->text(), QStringLiteral("&Next >>"));
    QCOMPARE(s->cmdClose->text(), QStringLiteral("&Close"));
    QCOMPARE(items(s->cmbTableName),
             (QStringList{"Contacts", "My Contacts", QStringLiteral("Kunden \u00dcbersicht"), "Bulk"}));
    QCOMPARE(s->cmbTableName->currentIndex(), -1);
    QCOMPARE(s->CmbFieldName->count(), 0);
    QCOMPARE(s->cmbSMSField->count(), 0);
    QVERIFY(s->optCommonSMS->isChecked());
    QVERIFY(s->Label5->isHidden());
    QVERIFY(s->cmbSMSField->isHidden());
}

void WizardAccessTest::choosingATableListsItsColumnsTwice()
{
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig);
    WizardRig::choose(s, "cmbTableName", QStringLiteral("Contacts"));
    QCOMPARE(items(s->CmbFieldName), (QStringList{"Mobile", "SMS", "Id", "Num"}));
    QCOMPARE(items(s->cmbSMSField), (QStringList{"Mobile", "SMS", "Id", "Num"}));
    WizardRig::choose(s, "CmbFieldName", QStringLiteral("Mobile"));
    WizardRig::choose(s, "cmbTableName", QStringLiteral("Bulk"));
    QCOMPARE(items(s->CmbFieldName), (QStringList{"Phone", "Note"}));
    QCOMPARE(s->CmbFieldName->currentIndex(), -1);
    QVERIFY(rig.dialogs.messages().isEmpty());
}

void WizardAccessTest::messageColumnListFollowsTheDeliveryOption()
{
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig);
    s->optSeparateSMS->click();
    QVERIFY(!s->Label5->isHidden());
    QVERIFY(!s->cmbSMSField->isHidden());
    s->optCommonSMS->click();
    QVERIFY(s->Label5->isHidden());
    QVERIFY(s->cmbSMSField->isHidden());
}

void WizardAccessTest::nextRefusesMissingChoices_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("separate");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("no table") << ""
                              << "" << false << "Please select Table Name."
                              << "cmbTableName";
    QTest::newRow("no numbers column") << "Contacts"
                                       << "" << false << "Please select Field Name."
                                       << "CmbFieldName";
    QTest::newRow("no message column") << "Contacts"
                                       << "Mobile" << true << "Please select SMS Field Name."
                                       << "cmbSMSField";
}

void WizardAccessTest::nextRefusesMissingChoices()
{
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(bool, separate);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig);
    if (!table.isEmpty())
        WizardRig::choose(s, "cmbTableName", table);
    if (!field.isEmpty())
        WizardRig::choose(s, "CmbFieldName", field);
    if (separate)
        s->optSeparateSMS->click();
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QVERIFY(s->isVisible());
    QVERIFY(!rig.wizard.step5());
    QCOMPARE(s->focusWidget() ? s->focusWidget()->objectName() : QString(), focus);
}

void WizardAccessTest::commonMessageListsNumbersSkippingEmptyOnes()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.accessStep5(QStringLiteral("Contacts"), QStringLiteral("Mobile"));
    QVERIFY(s5);
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(rig.state.Frm_Broadtext_Step3.tableName, QStringLiteral("Contacts"));
    QCOMPARE(rig.state.Frm_Broadtext_Step3.FieldName, QStringLiteral("Mobile"));
    QCOMPARE(rig.state.Frm_Broadtext_Step3.SMSColumnName, QString());
    QVERIFY(!rig.wizard.step3()->isVisible());
    QVERIFY(s5->Frame2->isVisible());
    QVERIFY(!s5->separateMessages());
    QCOMPARE(s5->numbers()->columnCount(), 1);
    QCOMPARE(WizardRig::listed(s5), (QStringList{"9888812121", "+442123234455", "09812345678", "9888812121"}));
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QStringLiteral("4"));
    QCOMPARE(WizardRig::text(s5, "lblSelectedItems"), QStringLiteral("4"));
}

void WizardAccessTest::separateMessagesAreListedAndQueued()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 =
        rig.accessStep5(QStringLiteral("Contacts"), QStringLiteral("Mobile"), QStringLiteral("SMS"));
    QVERIFY(s5);
    QCOMPARE(rig.state.Frm_Broadtext_Step3.SMSColumnName, QStringLiteral("SMS"));
    QVERIFY(s5->Frame2->isHidden());
    QCOMPARE(s5->numbers()->columnCount(), 2);
    QCOMPARE(s5->numbers()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Message"));
    QCOMPARE(WizardRig::listed(s5, 1), (QStringList{"Hello Asha", "Hi there", "", ""}));

    QTest::mouseClick(s5->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{"Message has been sent successfully to Out box."});
    QCOMPARE(rig.outboxNumbers(), (QStringList{"9888812121", "+442123234455", "09812345678", "9888812121"}));
    QCOMPARE(rig.outboxMessages(), (QStringList{"Hello Asha", "Hi there", "", ""}));
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.state.ChildWindowOpen);
}

void WizardAccessTest::namesWithBlanksAndAccentsWork_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QString>("messages");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("blanks") << "My Contacts"
                            << "Mobile No"
                            << "Message Text" << QStringList{"+91 98123 45678", "9888812121"};
    QTest::newRow("non-ASCII") << QStringLiteral("Kunden \u00dcbersicht") << "Telefon"
                               << "" << QStringList{"+4915112345678"};
}

void WizardAccessTest::namesWithBlanksAndAccentsWork()
{
    QFETCH(QString, table);
    QFETCH(QString, numbers);
    QFETCH(QString, messages);
    QFETCH(QStringList, expected);
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.accessStep5(table, numbers, messages);
    QVERIFY(s5);
    QCOMPARE(rig.dialogs.messages(), QStringList{});
    QCOMPARE(WizardRig::listed(s5), expected);
    if (!messages.isEmpty())
        QCOMPARE(WizardRig::listed(s5, 1), (QStringList{"Hi", "Second"}));
}

void WizardAccessTest::messageColumnPickedThenCommonChosenIsNotUsed()
{
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig);
    WizardRig::choose(s, "cmbTableName", QStringLiteral("Contacts"));
    WizardRig::choose(s, "CmbFieldName", QStringLiteral("Mobile"));
    s->optSeparateSMS->click();
    WizardRig::choose(s, "cmbSMSField", QStringLiteral("SMS"));
    s->optCommonSMS->click();
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.state.Frm_Broadtext_Step3.SMSColumnName, QString());
    QVERIFY(rig.wizard.step5());
    QVERIFY(!rig.wizard.step5()->separateMessages());
    QVERIFY(rig.wizard.step5()->Frame2->isVisible());
}

void WizardAccessTest::largeTableIsListedAndQueuedWhole()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.accessStep5(QStringLiteral("Bulk"), QStringLiteral("Phone"));
    QVERIFY(s5);
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QStringLiteral("320"));
    s5->txtMessage->setText(QStringLiteral("Sale today"));
    QTest::mouseClick(s5->cmdNext, Qt::LeftButton);
    const QStringList queued = rig.outboxNumbers();
    QCOMPARE(queued.size(), 320);
    QCOMPARE(queued.first(), QStringLiteral("9888800000"));
    QCOMPARE(queued.last(), QStringLiteral("9888800319"));
    QStringList messages = rig.outboxMessages();
    messages.removeDuplicates();
    QCOMPARE(messages, QStringList{"Sale today"});
}

void WizardAccessTest::unreadableFilesAreReportedOnTheTableStep_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f : {"garbage.mdb", "empty.mdb", "text.mdb", "truncated.mdb", "broken-catalog.mdb",
                          "broken-pages.mdb", "workbook.mdb"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void WizardAccessTest::unreadableFilesAreReportedOnTheTableStep()
{
    QFETCH(QString, file);
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig, WizardRig::fixture(file));
    QVERIFY(s && s->isVisible());
    const QStringList shown = rig.dialogs.messages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().contains(file), qPrintable(shown.first()));
    QCOMPARE(s->cmbTableName->count(), 0);
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages().last(), QStringLiteral("Please select Table Name."));
}

void WizardAccessTest::fileThatCrashesTheReaderWhileReadingRowsIsReported()
{
    WizardRig rig;
    Frm_Broadtext_Step3* s = openStep3(rig, WizardRig::fixture(QStringLiteral("crash-on-read.mdb")));
    WizardRig::choose(s, "cmbTableName", QStringLiteral("Contacts"));
    WizardRig::choose(s, "CmbFieldName", QStringLiteral("Mobile"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    Frm_Broadtext_Step5* s5 = rig.wizard.step5();
    QVERIFY(s5 && s5->isVisible());
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY(rig.dialogs.messages().first().contains(QLatin1String("crash-on-read.mdb")));
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QString::number(s5->numbers()->count()));
}

void WizardAccessTest::backOnLastStepOpensAFreshTableStep()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.accessStep5(QStringLiteral("Bulk"), QStringLiteral("Phone"));
    QPointer<Frm_Broadtext_Step3> old = rig.wizard.step3();
    QTest::mouseClick(s5->cmdBack, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    QVERIFY(!rig.wizard.step2() && !rig.wizard.step5());
    Frm_Broadtext_Step3* fresh = rig.wizard.step3();
    QVERIFY(fresh && fresh->isVisible());
    QCOMPARE(fresh->cmbTableName->count(), 4);
    QCOMPARE(fresh->cmbTableName->currentIndex(), -1);
    QCOMPARE(fresh->CmbFieldName->count(), 0);
    QVERIFY(rig.state.ChildWindowOpen);
    // Back on this fresh step finds no step 2 underneath: a new one opens.
    QTest::mouseClick(fresh->cmdBack, Qt::LeftButton);
    QVERIFY(rig.wizard.step2() && rig.wizard.step2()->isVisible());
    QVERIFY(rig.wizard.step2()->txtFileName->text().isEmpty());
}

QTEST_MAIN(WizardAccessTest)
#include "tst_compose_wizard_access.moc"
