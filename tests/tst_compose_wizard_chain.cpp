// The wizard's windows and the chain between them: each step modal, what step 2 offers and refuses,
// text files read into step 5, Next, Back and Close on every step, and ChildWindowOpen while any step is
// loaded.
#include "tst_compose_wizard_rig.h"

#include <QDir>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

class WizardChainTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyStepIsModalAndCloseEndsTheWizard_data();
    void everyStepIsModalAndCloseEndsTheWizard();
    void sourceOptionsSetTheLayoutAndWhatBrowseOffers();
    void nextRefusesWhatItCannotUse_data();
    void nextRefusesWhatItCannotUse();
    void extensionsCountWhateverTheirCase_data();
    void extensionsCountWhateverTheirCase();
    void textFilesAreListedOnTheLastStep_data();
    void textFilesAreListedOnTheLastStep();
    void backFollowsTheChain_data();
    void backFollowsTheChain();
};

void WizardChainTest::everyStepIsModalAndCloseEndsTheWizard_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("source") << 2;
    QTest::newRow("table") << 3;
    QTest::newRow("sheet") << 4;
    QTest::newRow("numbers") << 5;
}

void WizardChainTest::everyStepIsModalAndCloseEndsTheWizard()
{
    QFETCH(int, step);
    WizardRig rig;
    WizardStep* s = rig.openStep(step);
    QVERIFY(s && s->isVisible());
    QCOMPARE(s->windowModality(), Qt::ApplicationModal);
    QVERIFY(rig.state.ChildWindowOpen);
    QVERIFY(rig.dialogs.messages().isEmpty());
    QVERIFY(!WizardRig::child<QLabel>(s, u"Image1"_s)->pixmap().isNull());
    QCOMPARE(bool(s->findChild<QAbstractButton*>(u"cmdBack"_s)), step > 2);
    WizardRig::click(s, u"cmdClose"_s);
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.state.ChildWindowOpen);
    QCOMPARE(WizardRig::visibleWindows(), 0);
}

void WizardChainTest::sourceOptionsSetTheLayoutAndWhatBrowseOffers()
{
    WizardRig rig;
    rig.wizard.show();
    Frm_Broadtext_Step2* s = rig.wizard.step2();
    QVERIFY(s->OptTxt->isChecked() && s->OptNoSeperatedBy->isChecked() && !s->cmbNoSeperatedBy->isEditable());
    QCOMPARE(WizardRig::items(s->cmbNoSeperatedBy), (QStringList{",", ";", "~", "^", ":"}));
    QCOMPARE(s->cmbNoSeperatedBy->currentIndex(), -1);

    const std::pair<QRadioButton*, const char*> options[] = {
        {s->OptAccess, "MDB Files (*.mdb)|*.mdb"},
        {s->OptExcel, "Excel Files (*.xls *.xlsx)|*.xls;*.xlsx|XLS Files (*.xls)|*.xls|XLSX Files (*.xlsx)|*.xlsx"},
        {WizardRig::child<QRadioButton>(s, u"OptCsv"_s), "CSV Files (*.csv)|*.csv"},
        {s->OptTxt, "TXT Files (*.txt)|*.txt"}};
    for (const auto& [option, filter] : options) {
        // A source option clears the path; the text layout is offered for text files only and stays chosen.
        s->txtFileName->setText(u"/some/where"_s);
        option->click();
        QVERIFY(s->txtFileName->text().isEmpty());
        const bool text = option == s->OptTxt;
        QVERIFY(s->OptNoOnNewLine->isEnabled() == text && s->OptNoSeperatedBy->isEnabled() == text);
        QCOMPARE(s->cmbNoSeperatedBy->isEnabled(), text);
        QVERIFY(s->OptNoSeperatedBy->isChecked());
        // Browse offers the source's files from the home folder; the chosen name is shown trimmed.
        rig.dialogs.fileNames.push_back(u"/home/user/list file "_s);
        QTest::mouseClick(s->cmdBrowse, Qt::LeftButton);
        QCOMPARE(rig.dialogs.lastFilter, QString::fromLatin1(filter));
        QCOMPARE(rig.dialogs.lastFolder, QDir::homePath());
        QCOMPARE(rig.wizard.choices().Frm_Broadtext_Step2.SelectedfileName, u"/home/user/list file "_s);
        QCOMPARE(s->txtFileName->text(), u"/home/user/list file"_s);
    }
    QTest::mouseClick(s->cmdBrowse, Qt::LeftButton); // cancelled: the path stays
    QCOMPARE(s->txtFileName->text(), u"/home/user/list file"_s);

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
    const auto row = [](const char* name, const char* option, const QString& file, const char* separator,
                        const char* message,
                        const char* focus) { QTest::newRow(name) << option << file << separator << message << focus; };
    row("blank path", "OptTxt", "   ", ",", "Please select file.", "cmdBrowse");
    row("separator before the file check", "OptTxt", "/no/such/file.txt", "?",
        "Plese select 'Numbers are seperated by' from combo box.", "");
    row("missing file", "OptTxt", "/no/such/file.txt", ",", "This file does not exist!!!", "txtFileName");
    row("several numbers a line, no separator chosen", "OptTxt", WizardRig::fixture("separated.txt"), "?",
        "Plese select 'Numbers are seperated by' from combo box.", "");
    row("workbook as Access", "OptAccess", WizardRig::fixture("wizard.xls"), "",
        "Please enter or select Access file only.", "txtFileName");
    row("database as Excel", "OptExcel", WizardRig::fixture("wizard.mdb"), "",
        "Please enter or select Excel file only.", "txtFileName");
    row("CSV as Excel", "OptExcel", WizardRig::fixture("Contacts.csv"), "", "Please enter or select Excel file only.",
        "txtFileName");
    row("workbook as CSV", "OptCsv", WizardRig::fixture("wizard.xls"), "", "Please enter or select CSV file only.",
        "txtFileName");
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
    else if (separator != "?"_L1)
        WizardRig::choose(s, u"cmbNoSeperatedBy"_s, separator);
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QVERIFY(s->isVisible());
    QVERIFY(!rig.wizard.step3() && !rig.wizard.step4() && !rig.wizard.step5());
    QCOMPARE(s->txtFileName->text(), file);
    if (!focus.isEmpty())
        QCOMPARE(WizardRig::focused(s), focus);
}

void WizardChainTest::extensionsCountWhateverTheirCase_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("name"); // the fixture's copy
    QTest::addColumn<int>("step");
    const auto row = [](const char* option, const char* fixture, const char* name, int step) {
        QTest::newRow(name) << option << fixture << name << step;
    };
    row("OptTxt", "NUMBERS.TXT", "NUMBERS.TXT", 5);
    row("OptAccess", "wizard.mdb", "WIZARD.MDB", 3);
    row("OptExcel", "wizard.xls", "Wizard.Xls", 4);
    row("OptExcel", "wizard.xlsx", "WIZARD.XLSX", 4);
    row("OptCsv", "Contacts.csv", "CONTACTS.CSV", 4);
}

void WizardChainTest::extensionsCountWhateverTheirCase()
{
    QFETCH(QString, option);
    QFETCH(QString, fixture);
    QFETCH(QString, name);
    QFETCH(int, step);
    QTemporaryDir dir;
    const QString file = dir.filePath(name);
    QVERIFY(QFile::copy(WizardRig::fixture(fixture), file));
    WizardRig rig;
    Frm_Broadtext_Step2* s = rig.step2With(option.toLatin1().constData(), file);
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{});
    WizardStep* next = rig.step(step);
    QVERIFY(next && next->isVisible());
    if (step == 5)
        QCOMPARE(WizardRig::listed(rig.wizard.step5()), QStringList{"9888812121"});
    else
        QVERIFY(WizardRig::child<QComboBox>(next, step == 3 ? "cmbTableName" : "CmbSheetName")->count() > 0);
}

void WizardChainTest::textFilesAreListedOnTheLastStep_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("ticked"); // rows whose number can be sent to
    const auto row = [](const char* name, const char* file, const char* separator, const QStringList& expected,
                        int ticked) { QTest::newRow(name) << file << separator << expected << ticked; };
    row("three lines, one blank", "three-lines.txt", "", {"123", "456"}, 2);
    row("one number a line, no separator chosen", "three-lines.txt", "?", {"123", "456"}, 2);
    row("separated by commas", "separated.txt", ",", {"111", "222", "333"}, 3);
    row("semicolons read per line", "semicolon-line.txt", "", {"111;222"}, 0);
    row("empty file", "empty.txt", "", {}, 0);
}

void WizardChainTest::textFilesAreListedOnTheLastStep()
{
    QFETCH(QString, file);
    QFETCH(QString, separator);
    QFETCH(QStringList, expected);
    QFETCH(int, ticked);
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.textStep5(u"  "_s + WizardRig::fixture(file) + u" "_s, separator);
    QVERIFY(s5 && s5->isVisible());
    QVERIFY(!rig.wizard.step2()->isVisible());
    QCOMPARE(rig.dialogs.messages(), QStringList{});
    QCOMPARE(rig.wizard.choices().Frm_Broadtext_Step2.SelectedfileName, WizardRig::fixture(file));
    QCOMPARE(rig.wizard.choices().Frm_Broadtext_Step2.NoSeperatedBy, separator == "?" ? QString() : separator);
    QCOMPARE(WizardRig::listed(s5), expected);
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QString::number(expected.size()));
    QCOMPARE(WizardRig::text(s5, "lblSelectedItems"), QString::number(ticked));
    QVERIFY(s5->Check1->isChecked() && s5->Frame2->isVisible());
    QCOMPARE(s5->ListNumbers->model()->columnCount(), 1);
}

void WizardChainTest::backFollowsTheChain_data()
{
    QTest::addColumn<int>("before"); // the step before step 5
    QTest::newRow("text file") << 2;
    QTest::newRow("Access table") << 3;
    QTest::newRow("Excel sheet") << 4;
}

void WizardChainTest::backFollowsTheChain()
{
    QFETCH(int, before);
    WizardRig rig;
    if (before > 2) {
        // Back on step 3 or 4 shows step 2 as the user left it; Next again loads that step afresh.
        QPointer<WizardStep> s = rig.openStep(before);
        Frm_Broadtext_Step2* s2 = rig.wizard.step2();
        const QString file = s2->txtFileName->text();
        QVERIFY(s && s->isVisible() && !s2->isVisible());
        WizardRig::click(s, u"cmdBack"_s);
        QVERIFY(s2 == rig.wizard.step2() && s2->isVisible() && !s->isVisible());
        QVERIFY((before == 3 ? s2->OptAccess : s2->OptExcel)->isChecked());
        QCOMPARE(s2->txtFileName->text(), file);
        QVERIFY(rig.state.ChildWindowOpen);
        QTest::mouseClick(s2->cmdNext, Qt::LeftButton);
        WizardRig::processDeletes();
        QVERIFY(s.isNull() && rig.step(before) && rig.step(before)->isVisible());
        QCOMPARE(rig.wizard.step2(), s2);
    }
    Frm_Broadtext_Step5* s5 = before == 2 ? rig.textStep5(WizardRig::fixture(u"separated.txt"_s), ",")
                                          : rig.tableStep5(before == 3 ? "wizard.mdb" : "wizard.xls",
                                                           before == 3 ? "Bulk" : "Second", "Phone");
    QVERIFY(s5);
    const QString file = rig.wizard.choices().Frm_Broadtext_Step2.SelectedfileName;

    // Back on step 5 ends the wizard and shows the step before it freshly loaded, with nothing chosen.
    QPointer<WizardStep> old2 = rig.wizard.step2(), oldBefore = rig.step(before);
    QTest::mouseClick(s5->cmdBack, Qt::LeftButton);
    WizardRig::processDeletes();
    QVERIFY(!rig.wizard.step5() && old2.isNull() && oldBefore.isNull());
    WizardStep* fresh = rig.step(before);
    QVERIFY(fresh && fresh->isVisible());
    QVERIFY(rig.state.ChildWindowOpen);
    QCOMPARE(rig.wizard.choices().Frm_Broadtext_Step2.SelectedfileName, file); // what later steps read is kept
    if (before > 2) {
        auto* tables = WizardRig::child<QComboBox>(fresh, before == 3 ? "cmbTableName" : "CmbSheetName");
        QCOMPARE(tables->count(), before == 3 ? 4 : 2);
        QCOMPARE(tables->currentIndex(), -1);
        QCOMPARE(WizardRig::child<QComboBox>(fresh, before == 3 ? "CmbFieldName" : "cmbColumnName")->count(), 0);
        QVERIFY(WizardRig::child<QRadioButton>(fresh, u"optCommonSMS"_s)->isChecked());
        // Back on it finds no step 2 underneath: a new one opens.
        WizardRig::click(fresh, u"cmdBack"_s);
    }
    QVERIFY(rig.wizard.step2() && rig.wizard.step2()->isVisible());
    QVERIFY(rig.wizard.step2()->txtFileName->text().isEmpty());
    QCOMPARE(rig.wizard.step2()->cmbNoSeperatedBy->currentIndex(), -1);
    QVERIFY(rig.dialogs.messages().isEmpty());

    // The close box of the step in front ends the wizard, hidden steps included.
    rig.wizard.step2()->close();
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.state.ChildWindowOpen);
    QCOMPARE(WizardRig::visibleWindows(), 0);
}

QTEST_MAIN(WizardChainTest)
#include "tst_compose_wizard_chain.moc"
