// The wizard's first step and the chain between its windows: what step 2 offers and refuses, the text-file
// source read into step 5, Back and Close on every step, and ChildWindowOpen while any step is loaded.
#include "tst_compose_wizard_rig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void processDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class WizardChainTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStepStartsWithTextSourceAndSeparator();
    void sourceOptionsClearThePathAndSetTheTextLayout();
    void nextRefusesWhatItCannotUse_data();
    void nextRefusesWhatItCannotUse();
    void browseOffersTheSourcesFilesFromTheHomeFolder_data();
    void browseOffersTheSourcesFilesFromTheHomeFolder();
    void cancelledBrowseLeavesThePath();
    void textFilesAreListedOnTheLastStep_data();
    void textFilesAreListedOnTheLastStep();
    void folderNamedLikeATextFilePassesForAnyFile();
    void textNextHidesFirstStepAndShowsLastFresh();
    void backOnLastStepOfTextSourceEndsWizardAndOpensFreshFirstStep();
    void backOnAccessStepShowsFirstStepAsLeft();
    void closingAnyStepEndsTheWholeWizard_data();
    void closingAnyStepEndsTheWholeWizard();
    void showReusesLoadedFirstStepAndReloadStartsAfresh();
};

void WizardChainTest::firstStepStartsWithTextSourceAndSeparator()
{
    WizardRig rig;
    QVERIFY(!rig.state.ChildWindowOpen);
    rig.wizard.show();
    Frm_Broadtext_Step2* s = rig.wizard.step2();
    QVERIFY(s);
    QVERIFY(s->isVisible());
    QCOMPARE(s->windowModality(), Qt::ApplicationModal);
    QCOMPARE(s->windowTitle(), QStringLiteral("Broadtext Wizard"));
    QCOMPARE(s->size(), QSize(615, 532));
    QVERIFY(rig.state.ChildWindowOpen);
    QVERIFY(rig.wizard.anyStepLoaded());
    QCOMPARE(WizardRig::text(s, "Label1"), QStringLiteral("Select Source File"));
    QVERIFY(WizardRig::child<QLabel>(s, "Label1")->font().bold());
    QCOMPARE(s->OptTxt->text(), QStringLiteral("From Text File"));
    QCOMPARE(s->OptAccess->text(), QStringLiteral("From MS Access File"));
    QCOMPARE(s->OptExcel->text(), QStringLiteral("From MS Excel File"));
    QCOMPARE(s->OptNoOnNewLine->text(), QStringLiteral("Each number is on new line"));
    QCOMPARE(s->OptNoSeperatedBy->text(), QStringLiteral("Numbers are seperated by:"));
    QCOMPARE(s->cmdNext->text(), QStringLiteral("&Next >>"));
    QCOMPARE(s->cmdClose->text(), QStringLiteral("&Close"));
    QCOMPARE(s->cmdBrowse->text(), QStringLiteral("Browse"));
    QCOMPARE(WizardRig::text(s, "Label2"), QStringLiteral("File :"));
    QVERIFY(s->OptTxt->isChecked());
    QVERIFY(s->OptNoSeperatedBy->isChecked());
    QVERIFY(s->cmbNoSeperatedBy->isEnabled());
    QCOMPARE(s->cmbNoSeperatedBy->currentIndex(), -1);
    QStringList items;
    for (int i = 0; i < s->cmbNoSeperatedBy->count(); ++i)
        items << s->cmbNoSeperatedBy->itemText(i);
    QCOMPARE(items, (QStringList{",", ";", "~", "^", ":"}));
    QVERIFY(!s->cmbNoSeperatedBy->isEditable());
    QVERIFY(s->txtFileName->text().isEmpty());
    QVERIFY(!WizardRig::child<QLabel>(s, "Image1")->pixmap().isNull());
}

void WizardChainTest::sourceOptionsClearThePathAndSetTheTextLayout()
{
    WizardRig rig;
    Frm_Broadtext_Step2* s = rig.step2With("OptTxt", QStringLiteral("/some/where.txt"));
    s->OptAccess->click();
    QVERIFY(s->txtFileName->text().isEmpty());
    QVERIFY(!s->OptNoOnNewLine->isEnabled());
    QVERIFY(!s->OptNoSeperatedBy->isEnabled());
    QVERIFY(!s->cmbNoSeperatedBy->isEnabled());
    QVERIFY(s->OptNoSeperatedBy->isChecked()); // the selection stays

    s->txtFileName->setText(QStringLiteral("/some/where.mdb"));
    s->OptExcel->click();
    QVERIFY(s->txtFileName->text().isEmpty());

    s->txtFileName->setText(QStringLiteral("/some/where.xls"));
    s->OptTxt->click();
    QVERIFY(s->txtFileName->text().isEmpty());
    QVERIFY(s->OptNoOnNewLine->isEnabled());
    QVERIFY(s->OptNoSeperatedBy->isEnabled());
    QVERIFY(s->cmbNoSeperatedBy->isEnabled());

    s->OptNoOnNewLine->click();
    QVERIFY(!s->cmbNoSeperatedBy->isEnabled());
    s->OptAccess->click();
    s->OptTxt->click();
    QVERIFY(!s->cmbNoSeperatedBy->isEnabled()); // one number per line is still chosen
    s->OptNoSeperatedBy->click();
    QVERIFY(s->cmbNoSeperatedBy->isEnabled());
}

void WizardChainTest::nextRefusesWhatItCannotUse_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("separator"); // "" = one number per line, "?" = separated, none chosen
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("blank path") << "OptTxt"
                                << "   "
                                << ","
                                << "Please select file."
                                << "cmdBrowse";
    QTest::newRow("separator before the file check") << "OptTxt"
                                                     << "/no/such/file.txt"
                                                     << "?"
                                                     << "Plese select 'Numbers are seperated by' from combo box."
                                                     << "";
    QTest::newRow("missing file") << "OptTxt"
                                  << "/no/such/file.txt"
                                  << ","
                                  << "This file does not exist!!!"
                                  << "txtFileName";
    QTest::newRow("upper-case extension") << "OptTxt" << WizardRig::fixture("NUMBERS.TXT") << ""
                                          << "Please enter or select Text file only."
                                          << "txtFileName";
    QTest::newRow("workbook as Access") << "OptAccess" << WizardRig::fixture("wizard.xls") << ""
                                        << "Please enter or select Access file only."
                                        << "txtFileName";
    QTest::newRow("database as Excel") << "OptExcel" << WizardRig::fixture("wizard.mdb") << ""
                                       << "Please enter or select Excel file only."
                                       << "txtFileName";
}

void WizardChainTest::nextRefusesWhatItCannotUse()
{
    QFETCH(QString, option);
    QFETCH(QString, file);
    QFETCH(QString, separator);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    WizardRig rig;
    Frm_Broadtext_Step2* s = rig.step2With(option.toLatin1().constData(), file);
    if (separator.isEmpty())
        s->OptNoOnNewLine->click();
    else if (separator != QLatin1String("?"))
        s->cmbNoSeperatedBy->setCurrentIndex(s->cmbNoSeperatedBy->findText(separator));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QVERIFY(s->isVisible());
    QVERIFY(!rig.wizard.step3() && !rig.wizard.step4() && !rig.wizard.step5());
    QCOMPARE(s->txtFileName->text(), file);
    if (!focus.isEmpty())
        QCOMPARE(s->focusWidget() ? s->focusWidget()->objectName() : QString(), focus);
}

void WizardChainTest::browseOffersTheSourcesFilesFromTheHomeFolder_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("filter");
    QTest::newRow("text") << "OptTxt"
                          << "TXT Files (*.txt)|*.txt";
    QTest::newRow("Access") << "OptAccess"
                            << "MDB Files (*.mdb)|*.mdb";
    QTest::newRow("Excel") << "OptExcel"
                           << "XLS Files (*.xls)|*.xls";
}

void WizardChainTest::browseOffersTheSourcesFilesFromTheHomeFolder()
{
    QFETCH(QString, option);
    QFETCH(QString, filter);
    WizardRig rig;
    Frm_Broadtext_Step2* s = rig.step2With(option.toLatin1().constData(), QString());
    rig.dialogs.fileNames.push_back(QStringLiteral("/home/user/list file "));
    QTest::mouseClick(s->cmdBrowse, Qt::LeftButton);
    QCOMPARE(rig.dialogs.lastFilter, filter);
    QCOMPARE(rig.dialogs.lastFolder, QDir::homePath());
    QCOMPARE(rig.state.Frm_Broadtext_Step2.SelectedfileName, QStringLiteral("/home/user/list file "));
    QCOMPARE(s->txtFileName->text(), QStringLiteral("/home/user/list file"));
}

void WizardChainTest::cancelledBrowseLeavesThePath()
{
    WizardRig rig;
    Frm_Broadtext_Step2* s = rig.step2With("OptTxt", QStringLiteral("/typed/path.txt"));
    QTest::mouseClick(s->cmdBrowse, Qt::LeftButton);
    QCOMPARE(s->txtFileName->text(), QStringLiteral("/typed/path.txt"));
}

void WizardChainTest::textFilesAreListedOnTheLastStep_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("three lines, one blank") << "three-lines.txt"
                                            << "" << QStringList{"123", "456"};
    QTest::newRow("separated by commas") << "separated.txt"
                                         << "," << QStringList{"111", "222", "333"};
    QTest::newRow("semicolons read per line") << "semicolon-line.txt"
                                              << "" << QStringList{"111;222"};
    QTest::newRow("empty file") << "empty.txt"
                                << "" << QStringList{};
    QTest::newRow("duplicates kept") << "duplicates.txt"
                                     << "" << QStringList{"9888812121", "+442123234455", "9888812121"};
}

void WizardChainTest::textFilesAreListedOnTheLastStep()
{
    QFETCH(QString, file);
    QFETCH(QString, separator);
    QFETCH(QStringList, expected);
    WizardRig rig;
    Frm_Broadtext_Step5* s5 =
        rig.textStep5(QStringLiteral("  ") + WizardRig::fixture(file) + QStringLiteral(" "), separator);
    QVERIFY(s5);
    QCOMPARE(rig.dialogs.messages(), QStringList{});
    QCOMPARE(rig.state.Frm_Broadtext_Step2.SelectedfileName, WizardRig::fixture(file));
    QCOMPARE(rig.state.Frm_Broadtext_Step2.NoSeperatedBy, separator);
    QCOMPARE(WizardRig::listed(s5), expected);
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QString::number(expected.size()));
    QCOMPARE(WizardRig::text(s5, "lblSelectedItems"), QString::number(expected.size()));
    QVERIFY(s5->Check1->isChecked());
    QVERIFY(s5->Frame2->isVisible());
    QCOMPARE(s5->numbers()->columnCount(), 1);
    QCOMPARE(s5->numbers()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Mobile Numbers"));
}

void WizardChainTest::folderNamedLikeATextFilePassesForAnyFile()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("lists.txt.d")));
    const QString file = dir.path() + QStringLiteral("/lists.txt.d/numbers.dat");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("555\n666\n");
    f.close();
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.textStep5(file);
    QVERIFY(s5);
    QCOMPARE(WizardRig::listed(s5), (QStringList{"555", "666"}));
}

void WizardChainTest::textNextHidesFirstStepAndShowsLastFresh()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    Frm_Broadtext_Step2* s2 = rig.wizard.step2();
    QVERIFY(s2 && s5);
    QVERIFY(!s2->isVisible());
    QVERIFY(s5->isVisible());
    QCOMPARE(s5->windowModality(), Qt::ApplicationModal);
    QCOMPARE(s5->windowTitle(), QStringLiteral("Broadtext Wizard"));
    QCOMPARE(s5->size(), QSize(615, 532));
    QVERIFY(rig.state.ChildWindowOpen);
}

void WizardChainTest::backOnLastStepOfTextSourceEndsWizardAndOpensFreshFirstStep()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.textStep5(WizardRig::fixture(QStringLiteral("separated.txt")), QStringLiteral(","));
    QPointer<Frm_Broadtext_Step2> oldStep2 = rig.wizard.step2();
    QPointer<Frm_Broadtext_Step5> oldStep5 = s5;
    QTest::mouseClick(s5->cmdBack, Qt::LeftButton);
    processDeletes();
    QVERIFY(oldStep2.isNull());
    QVERIFY(oldStep5.isNull());
    QVERIFY(!rig.wizard.step5());
    Frm_Broadtext_Step2* fresh = rig.wizard.step2();
    QVERIFY(fresh);
    QVERIFY(fresh->isVisible());
    QVERIFY(fresh->txtFileName->text().isEmpty());
    QCOMPARE(fresh->cmbNoSeperatedBy->currentIndex(), -1);
    QCOMPARE(rig.state.Frm_Broadtext_Step2.SelectedfileName, WizardRig::fixture(QStringLiteral("separated.txt")));
    QCOMPARE(rig.state.Frm_Broadtext_Step2.NoSeperatedBy, QStringLiteral(","));
    QVERIFY(rig.state.ChildWindowOpen);
}

void WizardChainTest::backOnAccessStepShowsFirstStepAsLeft()
{
    WizardRig rig;
    const QString file = WizardRig::fixture(QStringLiteral("wizard.mdb"));
    Frm_Broadtext_Step2* s2 = rig.step2With("OptAccess", file);
    QTest::mouseClick(s2->cmdNext, Qt::LeftButton);
    QPointer<Frm_Broadtext_Step3> s3 = rig.wizard.step3();
    QVERIFY(s3 && s3->isVisible() && !s2->isVisible());
    QTest::mouseClick(s3->cmdBack, Qt::LeftButton);
    QCOMPARE(rig.wizard.step2(), s2);
    QVERIFY(s2->isVisible());
    QVERIFY(s2->OptAccess->isChecked());
    QCOMPARE(s2->txtFileName->text(), file);
    QVERIFY(s3 && !s3->isVisible());
    QVERIFY(rig.state.ChildWindowOpen);

    // Next again replaces the hidden step 3 with a fresh one and keeps step 2 underneath.
    QTest::mouseClick(s2->cmdNext, Qt::LeftButton);
    processDeletes();
    QVERIFY(s3.isNull());
    QVERIFY(rig.wizard.step3() && rig.wizard.step3()->isVisible());
    QCOMPARE(rig.wizard.step2(), s2);
    QVERIFY(rig.state.ChildWindowOpen);
    QVERIFY(rig.dialogs.messages().isEmpty());
}

void WizardChainTest::closingAnyStepEndsTheWholeWizard_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("closeBox"); // the window's close box instead of the Close button
    for (int step : {2, 3, 4, 5}) {
        QTest::addRow("step %d, Close", step) << step << false;
        QTest::addRow("step %d, close box", step) << step << true;
    }
}

void WizardChainTest::closingAnyStepEndsTheWholeWizard()
{
    QFETCH(int, step);
    QFETCH(bool, closeBox);
    WizardRig rig;
    WizardStep* current = nullptr;
    if (step == 2) {
        rig.wizard.show();
        current = rig.wizard.step2();
    } else if (step == 3) {
        QTest::mouseClick(rig.step2With("OptAccess", WizardRig::fixture(QStringLiteral("wizard.mdb")))->cmdNext,
                          Qt::LeftButton);
        current = rig.wizard.step3();
    } else if (step == 4) {
        QTest::mouseClick(rig.step2With("OptExcel", WizardRig::fixture(QStringLiteral("wizard.xls")))->cmdNext,
                          Qt::LeftButton);
        current = rig.wizard.step4();
    } else {
        current = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    }
    QVERIFY(current && current->isVisible());
    QVERIFY(rig.state.ChildWindowOpen);
    if (closeBox)
        current->close();
    else
        WizardRig::click(current, "cmdClose");
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.wizard.step2() && !rig.wizard.step3() && !rig.wizard.step4() && !rig.wizard.step5());
    QVERIFY(!rig.state.ChildWindowOpen);
    processDeletes();
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
}

void WizardChainTest::showReusesLoadedFirstStepAndReloadStartsAfresh()
{
    WizardRig rig;
    Frm_Broadtext_Step2* s2 = rig.step2With("OptTxt", QStringLiteral("/typed.txt"));
    rig.wizard.show();
    QCOMPARE(rig.wizard.step2(), s2);
    QCOMPARE(s2->txtFileName->text(), QStringLiteral("/typed.txt"));

    QPointer<Frm_Broadtext_Step2> old = s2;
    rig.wizard.reload();
    processDeletes();
    QVERIFY(old.isNull());
    QVERIFY(rig.wizard.step2());
    QVERIFY(rig.wizard.step2()->isVisible());
    QVERIFY(rig.wizard.step2()->txtFileName->text().isEmpty());
    QVERIFY(rig.state.ChildWindowOpen);
}

QTEST_MAIN(WizardChainTest)
#include "tst_compose_wizard_chain.moc"
