// The wizard's readers without windows: text files, Access tables and Excel worksheets from the fixture
// files in tests/data/wizard, and damaged or mislabelled files that must give a description, never a crash.
#include "compose/Frm_Broadtext_Step5.h"
#include "compose/NumberSources.h"
#include "compose/ReaderProcess.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <unistd.h>

namespace {

QString fixture(const QString& name)
{
    return QStringLiteral(BROADTEXT_TEST_DATA "/wizard/") + name;
}

QStringList numbers(const NumberRows& r)
{
    QStringList out;
    for (const NumberRow& row : r.rows)
        out << row.number;
    return out;
}

QStringList messages(const NumberRows& r)
{
    QStringList out;
    for (const NumberRow& row : r.rows)
        out << row.message;
    return out;
}

} // namespace

class WizardSourcesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textContentGivesEntries_data();
    void textContentGivesEntries();
    void missingTextFileIsReported();
    void nonUtf8TextIsReadAsWindowsText();

    void accessDoubleColumnReadsAsWholeNumber();
    void accessUnknownTableOrColumnIsReported();
    void damagedAccessFilesGiveADescription_data();
    void damagedAccessFilesGiveADescription();
    void accessCrashWhileReadingKeepsTheProgramAlive();

    void excelColumnsAreTheHeaderRow();
    void excelPreviewLooksAtFirstFourRecords();
    void excelNumericCellsReadAsWholeNumbers();
    void unreadableWorkbooksGiveADescription_data();
    void unreadableWorkbooksGiveADescription();

    void generalNumberForm_data();
    void generalNumberForm();
    void columnsAreFoundByExactThenTrimmedName();
    void sourceKindIsTheLastFragmentOfTheName_data();
    void sourceKindIsTheLastFragmentOfTheName();

    void readerCrashKeepsRowsSentBefore();
    void silentReaderIsEnded();
    void loopingReaderIsStoppedAtTheRowLimit();
};

void WizardSourcesTest::textContentGivesEntries_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("lines with a blank one") << QByteArray("123\n\n  456  \n") << QString() << QStringList{"123", "456"};
    QTest::newRow("comma separated") << QByteArray("111, 222,,333 ,") << QStringLiteral(",")
                                     << QStringList{"111", "222", "333"};
    QTest::newRow("separator with blanks")
        << QByteArray("111 ; 222") << QStringLiteral(" ; ") << QStringList{"111", "222"};
    QTest::newRow("other separator on lines") << QByteArray("111;222") << QString() << QStringList{"111;222"};
    QTest::newRow("empty") << QByteArray() << QString() << QStringList{};
    QTest::newRow("CR LF line ends, no last line end")
        << QByteArray("9888812121\r\n+44 21\r\n77") << QString() << QStringList{"9888812121", "+44 21", "77"};
    QTest::newRow("separated over several lines")
        << QByteArray("1~2\r\n3~~4\n") << QStringLiteral("~") << QStringList{"1", "2", "3", "4"};
    QTest::newRow("tabs stay") << QByteArray("\t123 \n") << QString() << QStringList{"\t123"};
    QTest::newRow("duplicates stay") << QByteArray("5\n5\n") << QString() << QStringList{"5", "5"};
    QTest::newRow("no check that entries are numbers")
        << QByteArray("abc:+1-2") << QStringLiteral(":") << QStringList{"abc", "+1-2"};
}

void WizardSourcesTest::textContentGivesEntries()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, separator);
    QFETCH(QStringList, expected);
    QCOMPARE(ExtractNumbers(content, separator), expected);
}

void WizardSourcesTest::missingTextFileIsReported()
{
    const NumberRows r = ReadTextFileNumbers(fixture(QStringLiteral("no-such.txt")), QString());
    QVERIFY(r.rows.empty());
    QVERIFY(r.error.contains(QLatin1String("no-such.txt")));
}

void WizardSourcesTest::nonUtf8TextIsReadAsWindowsText()
{
    QCOMPARE(ExtractNumbers(QByteArray("M\xfcller 123\n"), QString()), QStringList{QStringLiteral("M\u00fcller 123")});
    QCOMPARE(ExtractNumbers(QByteArray("M\xc3\xbcller\n"), QString()), QStringList{QStringLiteral("M\u00fcller")});
}

void WizardSourcesTest::accessDoubleColumnReadsAsWholeNumber()
{
    const NumberRows r = ReadAccessTable(fixture(QStringLiteral("wizard.mdb")), QStringLiteral("Contacts"),
                                         QStringLiteral("Num"), QString());
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(numbers(r), (QStringList{"9888812121", "12.75"}));
}

void WizardSourcesTest::accessUnknownTableOrColumnIsReported()
{
    NumberRows r = ReadAccessTable(fixture(QStringLiteral("wizard.mdb")), QStringLiteral("Nowhere"),
                                   QStringLiteral("Mobile"), QString());
    QVERIFY(r.rows.empty());
    QVERIFY(r.error.contains(QLatin1String("Nowhere")));
    r = ReadAccessTable(fixture(QStringLiteral("wizard.mdb")), QStringLiteral("Contacts"), QStringLiteral("Mobile"),
                        QStringLiteral("Nothing"));
    QVERIFY(r.rows.empty());
    QVERIFY(r.error.contains(QLatin1String("Nothing")));
    const NameList c = AccessColumns(fixture(QStringLiteral("wizard.mdb")), QStringLiteral("MSysObjects"));
    QVERIFY2(c.names.isEmpty() && !c.error.isEmpty(), "system tables are not readable through the wizard");
}

void WizardSourcesTest::damagedAccessFilesGiveADescription_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f : {"garbage.mdb", "empty.mdb", "text.mdb", "truncated.mdb", "broken-catalog.mdb",
                          "broken-pages.mdb", "workbook.mdb", "crash-on-read.mdb", "no-such-file.mdb"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void WizardSourcesTest::damagedAccessFilesGiveADescription()
{
    QFETCH(QString, file);
    const QString path = fixture(file);
    const NameList t = AccessTables(path);
    // A damaged file may still show a table list; whatever it shows, reading a table either works or
    // says why not.
    if (t.names.isEmpty())
        QVERIFY2(!t.error.isEmpty(), "an unreadable file must be reported");
    for (const QString& table : t.names) {
        const NameList c = AccessColumns(path, table);
        if (c.names.isEmpty())
            QVERIFY(!c.error.isEmpty());
        else
            ReadAccessTable(path, table, c.names.first(), QString());
    }
    const NumberRows r = ReadAccessTable(path, QStringLiteral("Contacts"), QStringLiteral("Mobile"), QString());
    if (file != QLatin1String("broken-pages.mdb"))
        QVERIFY2(!r.error.isEmpty(), qPrintable(file));
}

void WizardSourcesTest::accessCrashWhileReadingKeepsTheProgramAlive()
{
    const QString path = fixture(QStringLiteral("crash-on-read.mdb"));
    QVERIFY(AccessTables(path).names.contains(QStringLiteral("Contacts")));
    const NumberRows r = ReadAccessTable(path, QStringLiteral("Contacts"), QStringLiteral("Mobile"), QString());
    QVERIFY(!r.error.isEmpty());
    QVERIFY(r.error.contains(QLatin1String("crash-on-read.mdb")));
}

void WizardSourcesTest::excelColumnsAreTheHeaderRow()
{
    NameList c = ExcelColumns(fixture(QStringLiteral("wizard.xls")), QStringLiteral("Contacts"));
    QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
    QCOMPARE(c.names, (QStringList{"Mobile", "SMS", "Name"}));
    c = ExcelColumns(fixture(QStringLiteral("wizard.xls")), QStringLiteral("Second"));
    QCOMPARE(c.names, (QStringList{"Phone", "Text"}));
    c = ExcelColumns(fixture(QStringLiteral("wizard.xls")), QStringLiteral("Third"));
    QVERIFY(c.names.isEmpty());
    QVERIFY(c.error.contains(QLatin1String("Third")));
}

void WizardSourcesTest::excelPreviewLooksAtFirstFourRecords()
{
    const SheetRecords r = ExcelRecords(fixture(QStringLiteral("wizard.xls")), QStringLiteral("Contacts"),
                                        {QStringLiteral("Mobile"), QStringLiteral("SMS")}, 4);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.records.size(), size_t(4));
    QCOMPARE(r.records[0][0], SourceValue(QStringLiteral("9888812121")));
    QCOMPARE(r.records[1][0], SourceValue(QStringLiteral("09812345678")));
    QCOMPARE(r.records[2][0], SourceValue());
    QCOMPARE(r.records[3][0], SourceValue(QStringLiteral("   ")));
    QCOMPARE(r.records[1][1], SourceValue(QStringLiteral(" Hi ")));
}

void WizardSourcesTest::excelNumericCellsReadAsWholeNumbers()
{
    const NumberRows r = ReadExcelSheet(fixture(QStringLiteral("wizard.xls")), QStringLiteral("Second"),
                                        QStringLiteral("Phone"), QStringLiteral("Text"));
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(numbers(r), (QStringList{"111", "12.5"}));
    QCOMPARE(messages(r), (QStringList{"first", "second"}));
}

void WizardSourcesTest::unreadableWorkbooksGiveADescription_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f :
         {"newer.xlsx", "random.xls", "truncated.xls", "text.xls", "wizard.mdb", "empty.txt", "no-such-file.xls"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void WizardSourcesTest::unreadableWorkbooksGiveADescription()
{
    QFETCH(QString, file);
    const NameList s = ExcelSheets(fixture(file));
    QVERIFY(s.names.isEmpty());
    QVERIFY(!s.error.isEmpty());
    const NumberRows r = ReadExcelSheet(fixture(file), QStringLiteral("Contacts"), QStringLiteral("Mobile"), {});
    QVERIFY(r.rows.empty());
    QVERIFY(!r.error.isEmpty());
}

void WizardSourcesTest::generalNumberForm_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("phone number") << 9888812121.0 << "9888812121";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative whole") << -42.0 << "-42";
    QTest::newRow("fraction") << 12.75 << "12.75";
    QTest::newRow("fifteen digits") << 123456789012345.0 << "123456789012345";
    QTest::newRow("huge") << 1e20 << "1E+20";
}

void WizardSourcesTest::generalNumberForm()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(GeneralNumber(value), text);
}

void WizardSourcesTest::columnsAreFoundByExactThenTrimmedName()
{
    const QStringList cols{"Mobile ", "Mobile", "SMS"};
    QCOMPARE(FindColumn(cols, QStringLiteral("Mobile")), 1);
    QCOMPARE(FindColumn(cols, QStringLiteral("Mobile ")), 0);
    QCOMPARE(FindColumn(cols, QStringLiteral(" SMS ")), 2);
    QCOMPARE(FindColumn(cols, QStringLiteral("sms")), -1);
}

void WizardSourcesTest::sourceKindIsTheLastFragmentOfTheName_data()
{
    using Source = Frm_Broadtext_Step5::Source;
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");
    QTest::newRow("text") << "/home/u/list.txt" << int(Source::Text);
    QTest::newRow("workbook") << "/home/u/list.xls" << int(Source::Excel);
    QTest::newRow("newer workbook") << "/home/u/list.xlsx" << int(Source::Excel);
    QTest::newRow("database") << "/home/u/list.mdb" << int(Source::Access);
    QTest::newRow("database in a folder named like text") << "/home/u/old.txt.d/list.mdb" << int(Source::Access);
    QTest::newRow("text in a folder named like a workbook") << "/home/u/a.xls/list.txt" << int(Source::Text);
    QTest::newRow("upper case is no kind") << "/home/u/LIST.TXT" << int(Source::None);
    QTest::newRow("empty") << "" << int(Source::None);
}

void WizardSourcesTest::sourceKindIsTheLastFragmentOfTheName()
{
    QFETCH(QString, name);
    QFETCH(int, kind);
    QCOMPARE(int(Frm_Broadtext_Step5::SourceOf(name)), kind);
}

void WizardSourcesTest::readerCrashKeepsRowsSentBefore()
{
    const ReaderOutput r = RunReader(
        [](ReaderSink& sink) {
            sink.name(QStringLiteral("first"));
            sink.row({QStringLiteral("1"), std::nullopt});
            sink.row({QStringLiteral("2"), QString()});
            sink.flush();
            ::raise(SIGSEGV);
        },
        QStringLiteral("it broke"));
    QCOMPARE(r.error, QStringLiteral("it broke"));
    QCOMPARE(r.names, QStringList{"first"});
    QCOMPARE(r.rows.size(), size_t(2));
    QCOMPARE(r.rows[1][0], SourceValue(QStringLiteral("2")));
    QVERIFY(!r.rows[0][1].has_value());
    QVERIFY(r.rows[1][1].has_value() && r.rows[1][1]->isEmpty());
}

void WizardSourcesTest::silentReaderIsEnded()
{
    ReaderLimits limits;
    limits.idleSeconds = 1;
    QElapsedTimer t;
    t.start();
    const ReaderOutput r = RunReader([](ReaderSink&) { ::pause(); }, QStringLiteral("no answer"), limits);
    QCOMPARE(r.error, QStringLiteral("no answer"));
    QVERIFY(t.elapsed() < 10000);
}

void WizardSourcesTest::loopingReaderIsStoppedAtTheRowLimit()
{
    ReaderLimits limits;
    limits.maxRows = 1000;
    const ReaderOutput r = RunReader(
        [](ReaderSink& sink) {
            for (;;)
                sink.row({QStringLiteral("again")});
        },
        QStringLiteral("looping"), limits);
    QCOMPARE(r.error, QStringLiteral("looping"));
    QCOMPARE(r.rows.size(), size_t(1000));
}

QTEST_GUILESS_MAIN(WizardSourcesTest)
#include "tst_compose_wizard_sources.moc"
