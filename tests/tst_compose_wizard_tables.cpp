// The wizard with an Access database file (step 3) or an Excel workbook or CSV file (step 4): the table or
// sheet and column choices, the worksheet preview, what step 5 lists and queues from them, and files that
// cannot be read, at once or part way.
#include "tst_compose_wizard_rig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString Sent = u"Message has been sent successfully to Out box."_s;

// The names of the controls that differ between the two steps.
struct Names {
    QString tables, numbers, smsLabel;
};

Names namesFor(const QString& file)
{
    if (WizardRig::isAccess(file))
        return {u"cmbTableName"_s, u"CmbFieldName"_s, u"Label5"_s};
    return {u"CmbSheetName"_s, u"cmbColumnName"_s, u"Label6"_s};
}

QStringList gridColumn(QTableWidget* grid, int column)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << (grid->item(r, column) ? grid->item(r, column)->text() : QString());
    return out;
}

} // namespace

class WizardTablesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void choicesOfferTablesAndTheirColumns_data();
    void choicesOfferTablesAndTheirColumns();
    void nextRefusesMissingChoices_data();
    void nextRefusesMissingChoices();
    void rowsAreListedAndQueued_data();
    void rowsAreListedAndQueued();
    void sheetPreviewShowsTheFirstFourRecords_data();
    void sheetPreviewShowsTheFirstFourRecords();
    void aLoneSheetIsChosenAndThePreviewShowsWholeValues_data();
    void aLoneSheetIsChosenAndThePreviewShowsWholeValues();
    void unreadableFilesGiveTheStepsMessage_data();
    void unreadableFilesGiveTheStepsMessage();
    void filesDamagedPastTheirListsAreReported_data();
    void filesDamagedPastTheirListsAreReported();
    void aLargeSheetIsReadWhileTheEventLoopTurns_data();
    void aLargeSheetIsReadWhileTheEventLoopTurns();
};

void WizardTablesTest::choicesOfferTablesAndTheirColumns_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("tables");
    QTest::addColumn<QStringList>("columns"); // of Contacts
    QTest::addColumn<QString>("other");
    QTest::addColumn<QStringList>("otherColumns");
    QTest::newRow("Access: user tables only")
        << "wizard.mdb" << QStringList{"Contacts", "My Contacts", u"Kunden \u00dcbersicht"_s, "Bulk"}
        << QStringList{"Mobile", "SMS", "Id", "Num"} << "Bulk" << QStringList{"Phone", "Note"};
    for (const char* file : {"wizard.xls", "wizard.xlsx"})
        QTest::newRow(file) << file << QStringList{"Contacts", "Second"} << QStringList{"Mobile", "SMS", "Name"}
                            << "Second" << QStringList{"Phone", "Text"};
}

void WizardTablesTest::choicesOfferTablesAndTheirColumns()
{
    QFETCH(QString, file);
    QFETCH(QStringList, tables);
    QFETCH(QStringList, columns);
    QFETCH(QString, other);
    QFETCH(QStringList, otherColumns);
    const Names n = namesFor(file);
    WizardRig rig;
    WizardStep* s = rig.tableStep(file);
    auto* tableList = WizardRig::child<QComboBox>(s, n.tables);
    auto* numbers = WizardRig::child<QComboBox>(s, n.numbers);
    auto* sms = WizardRig::child<QComboBox>(s, u"cmbSMSField"_s);
    auto* smsLabel = WizardRig::child<QLabel>(s, n.smsLabel);
    QCOMPARE(WizardRig::items(tableList), tables);
    QCOMPARE(tableList->currentIndex(), -1);
    QVERIFY(numbers->count() == 0 && sms->count() == 0);
    QVERIFY(WizardRig::child<QRadioButton>(s, u"optCommonSMS"_s)->isChecked());
    QVERIFY(smsLabel->isHidden() && sms->isHidden());

    // Both column lists follow the table; another table replaces them with nothing chosen.
    WizardRig::choose(s, n.tables, u"Contacts"_s);
    QCOMPARE(WizardRig::items(numbers), columns);
    QCOMPARE(WizardRig::items(sms), columns);
    WizardRig::choose(s, n.numbers, u"Mobile"_s);
    WizardRig::choose(s, n.tables, other);
    QCOMPARE(WizardRig::items(numbers), otherColumns);
    QCOMPARE(numbers->currentIndex(), -1);

    // The message column is offered for separate messages only; picked and then given up, it is not used.
    WizardRig::choose(s, n.tables, u"Contacts"_s);
    WizardRig::choose(s, n.numbers, u"Mobile"_s);
    WizardRig::click(s, u"optSeparateSMS"_s);
    QVERIFY(!smsLabel->isHidden() && !sms->isHidden());
    WizardRig::choose(s, u"cmbSMSField"_s, u"SMS"_s);
    WizardRig::click(s, u"optCommonSMS"_s);
    QVERIFY(smsLabel->isHidden() && sms->isHidden());
    WizardRig::click(s, u"cmdNext"_s);
    QVERIFY(rig.dialogs.messages().isEmpty());
    Frm_Broadtext_Step5* s5 = rig.wizard.step5();
    QVERIFY(s5 && s5->isVisible() && !s->isVisible());
    QVERIFY(!s5->separateMessages() && s5->Frame2->isVisible());
}

void WizardTablesTest::nextRefusesMissingChoices_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    const auto row = [](const char* name, const char* file, const char* table, const char* numbers, const char* message,
                        const char* focus) { QTest::newRow(name) << file << table << numbers << message << focus; };
    row("Access, no table", "wizard.mdb", "", "", "Please select Table Name.", "cmbTableName");
    row("Access, no numbers column", "wizard.mdb", "Contacts", "", "Please select Field Name.", "CmbFieldName");
    row("Access, no message column", "wizard.mdb", "Contacts", "Mobile", "Please select SMS Field Name.",
        "cmbSMSField");
    row("Excel, no sheet", "wizard.xls", "", "", "Please select Sheet Name.", "CmbSheetName");
    row("Excel, no numbers column", "wizard.xls", "Contacts", "", "Please select Column Name.", "cmbColumnName");
    row("Excel, no message column", "wizard.xls", "Contacts", "Mobile", "Please select SMS Column Name.",
        "cmbSMSField");
}

void WizardTablesTest::nextRefusesMissingChoices()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, numbers);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    const Names n = namesFor(file);
    WizardRig rig;
    WizardStep* s = rig.tableStep(file);
    if (!table.isEmpty())
        WizardRig::choose(s, n.tables, table);
    if (!numbers.isEmpty()) {
        WizardRig::choose(s, n.numbers, numbers);
        WizardRig::click(s, u"optSeparateSMS"_s);
    }
    QTest::mouseClick(WizardRig::child<QPushButton>(s, u"cmdNext"_s), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QVERIFY(s->isVisible() && !rig.wizard.step5());
    QCOMPARE(WizardRig::focused(s), focus);
}

void WizardTablesTest::rowsAreListedAndQueued_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("numbersColumn");
    QTest::addColumn<QString>("messagesColumn"); // empty: one common message
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("messages");
    // Not queued, by place in the list: no number (silently), an empty message, or a number the run already has
    // (by its last nine digits).
    QTest::addColumn<QList<int>>("leftOut");
    QTest::addColumn<int>("emptyMessages");
    QTest::addColumn<int>("repeated");
    const auto row = [](const QString& name, const char* file, const QString& table, const char* numbersColumn,
                        const char* messagesColumn, const QStringList& numbers, const QStringList& messages,
                        const QList<int>& leftOut = {}, int emptyMessages = 0, int repeated = 0) {
        QTest::newRow(qPrintable(name)) << file << table << numbersColumn << messagesColumn << numbers << messages
                                        << leftOut << emptyMessages << repeated;
    };
    const QStringList accessNumbers{"9888812121", "+442123234455", "09812345678", "9888812121"};
    const QStringList excelNumbers{"9888812121", "09812345678", "", "+442123234455", "7777777777"};
    QStringList bulk;
    for (int i = 0; i < 320; ++i)
        bulk << u"98888%1"_s.arg(i, 5, 10, QLatin1Char('0'));
    row("Access: null, empty and blank numbers skipped", "wizard.mdb", "Contacts", "Mobile", "", accessNumbers, {}, {3},
        0, 1);
    row("Access: empty and null messages are not queued", "wizard.mdb", "Contacts", "Mobile", "SMS", accessNumbers,
        {"Hello Asha", "Hi there", "", ""}, {2, 3}, 2);
    row("Access: names with blanks", "wizard.mdb", "My Contacts", "Mobile No", "Message Text",
        {"+91 98123 45678", "9888812121"}, {"Hi", "Second"});
    row("Access: non-ASCII names", "wizard.mdb", u"Kunden \u00dcbersicht"_s, "Telefon", "", {"+4915112345678"}, {});
    row("Access: 320 rows", "wizard.mdb", "Bulk", "Phone", "", bulk, {});
    // The same sheets in each format. 9888812121 is a number cell; the cell of blanks gives a row with an
    // empty number, the empty cell none.
    for (const char* file : {"wizard.xls", "wizard.xlsx", "Contacts.csv"}) {
        const QString kind = QString::fromLatin1(file) + u": "_s;
        row(kind + "number cell as written, blank cell gives a row", file, "Contacts", "Mobile", "", excelNumbers, {},
            {2});
        row(kind + "separate messages", file, "Contacts", "Mobile", "SMS", excelNumbers,
            {"Hello Asha", "Hi", "blank number", "", "late one"}, {2, 3}, 1);
        if (!QByteArray(file).endsWith(".csv"))
            row(kind + "number cells in general form", file, "Second", "Phone", "Text", {"111", "12.5"},
                {"first", "second"});
    }
}

void WizardTablesTest::rowsAreListedAndQueued()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, numbersColumn);
    QFETCH(QString, messagesColumn);
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, messages);
    QFETCH(QList<int>, leftOut);
    QFETCH(int, emptyMessages);
    QFETCH(int, repeated);
    WizardRig rig;
    Frm_Broadtext_Step5* s5 = rig.tableStep5(file, table, numbersColumn, messagesColumn);
    QVERIFY(s5 && s5->isVisible());
    QCOMPARE(rig.dialogs.messages(), QStringList{});
    QCOMPARE(WizardRig::listed(s5), numbers);
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QString::number(numbers.size()));
    QAbstractItemModel* list = s5->ListNumbers->model();
    if (messagesColumn.isEmpty()) {
        QVERIFY(s5->Frame2->isVisible());
        QCOMPARE(list->columnCount(), 1);
        s5->txtMessage->setText(u"Sale today"_s);
        for (int i = 0; i < numbers.size(); ++i)
            messages << u"Sale today"_s;
    } else {
        QVERIFY(s5->Frame2->isHidden());
        QCOMPARE(list->columnCount(), 2);
        QCOMPARE(list->headerData(1, Qt::Horizontal).toString(), u"Message"_s);
        QCOMPARE(WizardRig::listed(s5, 1), messages);
    }
    WizardRig::send(s5);
    QStringList queuedNumbers, queuedMessages;
    for (int i = 0; i < numbers.size(); ++i)
        if (!leftOut.contains(i)) {
            queuedNumbers << numbers.at(i);
            queuedMessages << messages.at(i);
        }
    QString done = Sent;
    if (emptyMessages > 0)
        done += u"\r\n\r\n%1 of the selected numbers have an empty message and were not queued."_s.arg(emptyMessages);
    if (repeated > 0)
        done += u"\r\n\r\n%1 of the selected numbers were repeated and were queued once."_s.arg(repeated);
    QCOMPARE(rig.dialogs.messages(), QStringList{done});
    QCOMPARE(rig.outboxNumbers(), queuedNumbers);
    QCOMPARE(rig.outboxMessages(), queuedMessages);
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.state.ChildWindowOpen);
}

void WizardTablesTest::sheetPreviewShowsTheFirstFourRecords_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file : {"wizard.xls", "wizard.xlsx", "Contacts.csv"})
        QTest::newRow(file) << file;
}

void WizardTablesTest::sheetPreviewShowsTheFirstFourRecords()
{
    QFETCH(QString, file);
    WizardRig rig;
    auto* s = static_cast<Frm_Broadtext_Step4*>(rig.tableStep(file));
    QTableWidget* grid = s->MshRecords;
    QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    WizardRig::choose(s, u"CmbSheetName"_s, u"Contacts"_s);
    s->optSeparateSMS->click();
    WizardRig::choose(s, u"cmbSMSField"_s, u"SMS"_s);
    QCOMPARE(rig.dialogs.messages(), QStringList{"First select the mobile numbers column"});
    QCOMPARE(s->cmbSMSField->currentIndex(), -1);
    QCOMPARE(gridColumn(grid, 1), (QStringList{"", "", "", ""}));

    // Records 3 and 4 are empty and blank; records 5 and 6 are not looked at.
    WizardRig::choose(s, u"cmbColumnName"_s, u"Mobile"_s);
    QCOMPARE(gridColumn(grid, 0), (QStringList{"9888812121", "09812345678", "", ""}));
    WizardRig::choose(s, u"cmbSMSField"_s, u"SMS"_s);
    QCOMPARE(gridColumn(grid, 1), (QStringList{"Hello Asha", "Hi", "no number", "blank number"}));
    QCOMPARE(gridColumn(grid, 0), (QStringList{"9888812121", "09812345678", "", ""}));

    // Choosing the numbers column again starts the preview over.
    WizardRig::choose(s, u"cmbColumnName"_s, u"Name"_s);
    QCOMPARE(gridColumn(grid, 0), (QStringList{"Asha", "Ravi", "Nobody", ""}));
    QCOMPARE(gridColumn(grid, 1), (QStringList{"", "", "", ""}));
    QCOMPARE(rig.dialogs.messages().size(), 1);
}

void WizardTablesTest::aLoneSheetIsChosenAndThePreviewShowsWholeValues_data()
{
    QTest::addColumn<QString>("file"); // empty: a CSV file of long numbers written by the test
    QTest::addColumn<QString>("chosen");
    QTest::newRow("CSV file") << QString() << u"numbers"_s;
    QTest::newRow("workbook of two sheets") << u"wizard.xls"_s << QString();
}

void WizardTablesTest::aLoneSheetIsChosenAndThePreviewShowsWholeValues()
{
    QFETCH(QString, file);
    QFETCH(QString, chosen);
    QTemporaryDir dir;
    WizardRig rig;
    if (file.isEmpty()) {
        file = dir.filePath(u"numbers.csv"_s);
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("Mobile,SMS\n+44 2123 234 455 0000,A message of some length\n0091 98888 12121 00,Hi\n");
        csv.close();
        rig.step2With("OptCsv", file)->cmdNext->click();
    } else {
        rig.tableStep(file);
    }
    auto* s = rig.wizard.step4();
    QVERIFY(s && s->isVisible());
    QCOMPARE(s->CmbSheetName->currentText(), chosen);
    QCOMPARE(s->cmbColumnName->count() > 0, !chosen.isEmpty());
    if (chosen.isEmpty())
        return;
    WizardRig::choose(s, u"cmbColumnName"_s, u"Mobile"_s);
    s->optSeparateSMS->click();
    WizardRig::choose(s, u"cmbSMSField"_s, u"SMS"_s);
    QCOMPARE(gridColumn(s->MshRecords, 0).first(), u"+44 2123 234 455 0000"_s);
    const QAbstractItemView* view = s->MshRecords; // where the width its contents need is public
    for (int c : {0, 1})
        QVERIFY2(s->MshRecords->columnWidth(c) >= view->sizeHintForColumn(c), qPrintable(QString::number(c)));
    QVERIFY(rig.dialogs.messages().isEmpty());
}

void WizardTablesTest::unreadableFilesGiveTheStepsMessage_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f : {"garbage.mdb", "empty.mdb", "text.mdb", "truncated.mdb", "broken-catalog.mdb",
                          "broken-pages.mdb", "workbook.mdb", "random.xls", "truncated.xls", "text.xls",
                          "truncated.xlsx", "no-sheets.xlsx", "bad-workbook.xlsx", "binary.csv"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void WizardTablesTest::unreadableFilesGiveTheStepsMessage()
{
    QFETCH(QString, file);
    const bool access = WizardRig::isAccess(file);
    WizardRig rig;
    WizardStep* s = rig.tableStep(file);
    QVERIFY(s && s->isVisible());
    const QStringList shown = rig.dialogs.messages();
    QCOMPARE(shown.size(), 1);
    if (access)
        QVERIFY2(shown.first().contains(file), qPrintable(shown.first()));
    else
        QCOMPARE(shown.first(), u"Version of MS Excel on your computer is not match with this "
                                u"software. Please install Excel of version 8.0"_s);
    QCOMPARE(WizardRig::child<QComboBox>(s, namesFor(file).tables)->count(), 0);
    WizardRig::click(s, u"cmdNext"_s);
    QCOMPARE(rig.dialogs.messages().last(), access ? u"Please select Table Name."_s : u"Please select Sheet Name."_s);
}

void WizardTablesTest::filesDamagedPastTheirListsAreReported_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("column"); // empty: the table's columns cannot be read
    QTest::addColumn<QStringList>("numbers");
    QTest::newRow("Access file that crashes the reading library") << "crash-on-read.mdb"
                                                                  << "Mobile" << QStringList{};
    QTest::newRow("sheet broken off in its last row")
        << "bad-sheet.xlsx"
        << "Mobile" << QStringList{"9888812121", "09812345678", "", "+442123234455"};
    QTest::newRow("sheet that inflates like a zip bomb") << "bomb.xlsx"
                                                         << "" << QStringList{};
}

void WizardTablesTest::filesDamagedPastTheirListsAreReported()
{
    QFETCH(QString, file);
    QFETCH(QString, column);
    QFETCH(QStringList, numbers);
    const Names n = namesFor(file);
    WizardRig rig;
    // A lone sheet is chosen as the step opens, so its damage may be told then; either way it is told once.
    WizardStep* s = rig.tableStep(file);
    WizardRig::choose(s, n.tables, u"Contacts"_s);
    if (column.isEmpty()) {
        QCOMPARE(WizardRig::child<QComboBox>(s, n.numbers)->count(), 0);
    } else {
        WizardRig::choose(s, n.numbers, column);
        WizardRig::click(s, u"cmdNext"_s);
        Frm_Broadtext_Step5* s5 = rig.readStep5();
        QVERIFY(s5 && s5->isVisible());
        QCOMPARE(WizardRig::listed(s5), numbers); // what was read before the damage
        QCOMPARE(WizardRig::text(s5, "lblNoItems"), QString::number(numbers.size()));
    }
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY2(rig.dialogs.messages().first().contains(file), qPrintable(rig.dialogs.messages().first()));
}

void WizardTablesTest::aLargeSheetIsReadWhileTheEventLoopTurns_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("read to its end") << false;
    QTest::newRow("cancelled") << true;
}

void WizardTablesTest::aLargeSheetIsReadWhileTheEventLoopTurns()
{
    QFETCH(bool, cancel);
    QTemporaryDir dir;
    const QString file = dir.filePath(u"numbers.csv"_s);
    QStringList numbers;
    for (int i = 0; i < 50000; ++i)
        numbers << u"98%1"_s.arg(i, 8, 10, QLatin1Char('0'));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write((u"Mobile\n"_s + numbers.join(QLatin1Char('\n')) + u"\n"_s).toUtf8());
    f.close();
    WizardRig rig;
    rig.step2With("OptCsv", file)->cmdNext->click();
    WizardStep* s4 = rig.step(4);
    QVERIFY(s4);
    WizardRig::choose(s4, u"cmbColumnName"_s, u"Mobile"_s);

    // Step 5 opens at once and reads its list while everything else goes on, never inside Next.
    bool inNext = false, firedInsideNext = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { firedInsideNext |= inNext; });
    timer.start(10);
    inNext = true;
    WizardRig::click(s4, u"cmdNext"_s);
    inNext = false;
    Frm_Broadtext_Step5* s5 = rig.wizard.step5();
    QVERIFY(s5 && s5->isVisible() && s5->isReading());
    QVERIFY(!s5->cmdNext->isEnabled() && s5->lblReading->isVisible() && s5->cmdCancel->isVisible());
    if (cancel)
        QTest::mouseClick(s5->cmdCancel, Qt::LeftButton);
    QCOMPARE(rig.readStep5(), s5);
    timer.stop();
    QVERIFY(!firedInsideNext);
    QVERIFY(s5->cmdNext->isEnabled() && !s5->lblReading->isVisible() && !s5->cmdCancel->isVisible());
    const QStringList listed = WizardRig::listed(s5);
    QCOMPARE(WizardRig::text(s5, "lblNoItems"), QString::number(listed.size()));
    if (cancel) {
        // What was read before the cancel is kept, and said to be only part of the list.
        QCOMPARE(rig.dialogs.messages(),
                 QStringList{u"Reading was cancelled: the list holds only the numbers read before."_s});
        QVERIFY(listed.size() < numbers.size());
        QCOMPARE(listed, numbers.mid(0, listed.size()));
    } else {
        QCOMPARE(rig.dialogs.messages(), QStringList{});
        QCOMPARE(listed, numbers);
    }
}

QTEST_MAIN(WizardTablesTest)
#include "tst_compose_wizard_tables.moc"
