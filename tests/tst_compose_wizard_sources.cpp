// The wizard's readers without windows: the text and CSV rules and the .xlsx cells the window tests do not
// reach, Access number columns in general number form, column and source-kind rules, and the reader process
// that keeps what a crashing, silent or looping reader sent before it failed. Files through the windows: the
// other wizard tests.
#include "compose/Frm_Broadtext_Step5.h"
#include "compose/NumberSources.h"
#include "compose/ReaderProcess.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class WizardSourcesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textContentGivesEntries_data();
    void textContentGivesEntries();
    void csvTextGivesRecords_data();
    void csvTextGivesRecords();
    void worksheetXmlGivesRows_data();
    void worksheetXmlGivesRows();
    void accessValuesAndUnknownNames();
    void columnNamesAndSourceKinds();
    void failedReadersKeepWhatTheySentBefore();
};

void WizardSourcesTest::textContentGivesEntries_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("separator with blanks") << QByteArray("111 ; 222") << " ; " << QStringList{"111", "222"};
    QTest::newRow("CR LF line ends, no last line end")
        << QByteArray("9888812121\r\n+44 21\r\n77") << QString() << QStringList{"9888812121", "+44 21", "77"};
    QTest::newRow("separated over several lines")
        << QByteArray("1~2\r\n3~~4\n") << "~" << QStringList{"1", "2", "3", "4"};
    QTest::newRow("tabs stay") << QByteArray("\t123 \n") << QString() << QStringList{"\t123"};
    QTest::newRow("no check that entries are numbers") << QByteArray("abc:+1-2") << ":" << QStringList{"abc", "+1-2"};
    QTest::newRow("Windows text") << QByteArray("M\xfcller 123\n") << QString() << QStringList{"M\u00fcller 123"};
    QTest::newRow("UTF-8 text") << QByteArray("M\xc3\xbcller\n") << QString() << QStringList{"M\u00fcller"};
}

void WizardSourcesTest::textContentGivesEntries()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, separator);
    QFETCH(QStringList, expected);
    QCOMPARE(ExtractNumbers(content, separator), expected);
}

namespace {

// Records or rows as one text each: values joined by "|", a null written "~".
QString joined(const std::vector<SourceValue>& values)
{
    QStringList parts;
    for (const SourceValue& v : values)
        parts << v.value_or(u"~"_s);
    return parts.join(QLatin1Char('|'));
}

} // namespace

void WizardSourcesTest::csvTextGivesRecords_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("records");
    QTest::newRow("quoted delimiter, doubled quote, line end inside quotes")
        << QByteArray("Mobile,SMS\r\n9888812121,\"Hi, \"\"Asha\"\"\r\nsee you\"\r\n")
        << QStringList{"Mobile|SMS", "9888812121|Hi, \"Asha\"\r\nsee you"};
    QTest::newRow("semicolons with a byte-order mark; commas in a message stay")
        << QByteArray("\xef\xbb\xbfMobile;SMS\n111;a,b\n222;c,d") << QStringList{"Mobile|SMS", "111|a,b", "222|c,d"};
    QTest::newRow("tabs") << QByteArray("Mobile\tSMS\n111\tHi\n") << QStringList{"Mobile|SMS", "111|Hi"};
    QTest::newRow("bars, CR line ends") << QByteArray("Mobile|SMS\r111|Hi\r") << QStringList{"Mobile|SMS", "111|Hi"};
    QTest::newRow("the heading decides: semicolons only in messages")
        << QByteArray("Mobile,SMS\n111,Hi; there\n222,Fine; thanks\n")
        << QStringList{"Mobile|SMS", "111|Hi; there", "222|Fine; thanks"};
    QTest::newRow("one column") << QByteArray("Mobile\n111\nHello, you") << QStringList{"Mobile", "111", "Hello, you"};
    QTest::newRow("empty fields null, blank line an empty record")
        << QByteArray("a,b\n,x\n\n\"\",\n") << QStringList{"a|b", "~|x", "~", "~|~"};
    QTest::newRow("Windows-1252") << QByteArray("Name;SMS\nM\xfcller;Gr\xfc\xdf\x80\n")
                                  << QStringList{"Name|SMS", u"M\u00fcller|Gr\u00fc\u00df\u20ac"_s};
    QTest::newRow("UTF-16 with a byte-order mark") << QByteArray("\xff\xfeM\0,\0x\0", 8) << QStringList{"M|x"};
}

void WizardSourcesTest::csvTextGivesRecords()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, records);
    const QString text = DecodeText(content);
    QStringList got;
    for (const auto& r : ParseCsv(text, DetectCsvDelimiter(text)))
        got << joined(r);
    QCOMPARE(got, records);
}

void WizardSourcesTest::worksheetXmlGivesRows_data()
{
    QTest::addColumn<QString>("sheetData");
    QTest::addColumn<QStringList>("rows"); // "row: values", or "damaged" last when the part is
    QTest::addColumn<int>("declaredColumns");
    const auto row = [](const char* name, const char* xml, const QStringList& rows, int declared = 0) {
        QTest::newRow(name) << QString::fromUtf8(xml) << rows << declared;
    };
    row("cell kinds",
        "<row r='1'><c r='A1' t='s'><v>1</v></c><c r='B1'><v>9888812121</v></c><c r='C1'><v>12.50</v></c>"
        "<c r='D1'><v>1E+20</v></c><c r='E1' t='b'><v>0</v></c><c r='F1' t='e'><v>#N/A</v></c>"
        "<c r='G1' t='inlineStr'><is><r><t>Ha</t></r><r><t xml:space='preserve'>llo </t></r>"
        "<rPh><t>x</t></rPh></is></c><c r='H1' t='str'><f>A1</f><v>a_x000D_b</v></c><c r='I1'><f>1+1</f></c></row>",
        {"0: Mobile|9888812121|12.5|1E+20|FALSE|~|Hallo |a\rb|~"});
    row("cells by reference, rows and cells without one follow the one before",
        "<row r='2'><c r='C2' t='s'><v>0</v></c><c t='s'><v>1</v></c></row><row><c r='B3'><v>7</v></c></row>",
        {"1: ~|~|Name|Mobile", "2: ~|7"});
    row("width from the dimension", "", {}, 3);
    row("shared string that does not exist", "<row r='1'><c t='s'><v>2</v></c></row>", {"damaged"});
    row("rows going back", "<row r='2'/><row r='1'/>", {"1: ", "damaged"});
    row("broken off", "<row r='1'><c><v>1</v></c></row><row r='2'><c>", {"0: 1", "damaged"});
}

void WizardSourcesTest::worksheetXmlGivesRows()
{
    QFETCH(QString, sheetData);
    QFETCH(QStringList, rows);
    QFETCH(int, declaredColumns);
    QByteArray xml = "<?xml version='1.0'?><worksheet xmlns='http://schemas.openxmlformats.org/spreadsheetml/"
                     "2006/main'><dimension ref='A1:" +
                     QByteArray(declaredColumns ? "C9" : "A1") + "'/><sheetData>" + sheetData.toUtf8();
    if (!sheetData.endsWith("<c>"_L1))
        xml += "</sheetData></worksheet>";
    // The part arrives in pieces of a few bytes, as from the zip, cut anywhere.
    qsizetype at = 0;
    const PartPieces pieces = [&](QByteArray& piece) {
        piece = xml.mid(at, 5);
        at += piece.size();
        return true;
    };
    QStringList got;
    int declared = -1;
    const bool read = ReadXlsxWorksheet(pieces, {"Name", "Mobile"}, &declared, [&](qint64 r, const auto& values) {
        got << QString::number(r) + u": "_s + joined(values);
        return true;
    });
    if (!read)
        got << u"damaged"_s;
    QCOMPARE(got, rows);
    QCOMPARE(declared, declaredColumns ? declaredColumns : 1);
}

void WizardSourcesTest::accessValuesAndUnknownNames()
{
    const QString mdb = QStringLiteral(BROADTEXT_TEST_DATA "/wizard/wizard.mdb");
    NumberRows r = ReadAccessTable(mdb, u"Contacts"_s, u"Num"_s, QString());
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.rows.size(), size_t(2)); // a number column, in general number form
    QCOMPARE(r.rows[0].number, u"9888812121"_s);
    QCOMPARE(r.rows[1].number, u"12.75"_s);
    QCOMPARE(GeneralNumber(1e20), u"1E+20"_s);

    r = ReadAccessTable(mdb, u"Nowhere"_s, u"Mobile"_s, QString());
    QVERIFY(r.rows.empty() && r.error.contains("Nowhere"_L1));
    r = ReadAccessTable(mdb, u"Contacts"_s, u"Mobile"_s, u"Nothing"_s);
    QVERIFY(r.rows.empty() && r.error.contains("Nothing"_L1));
    const NameList c = AccessColumns(mdb, u"MSysObjects"_s);
    QVERIFY2(c.names.isEmpty() && !c.error.isEmpty(), "system tables are not readable through the wizard");
}

void WizardSourcesTest::columnNamesAndSourceKinds()
{
    // A column is found by its exact name first, then by the name without outer blanks.
    const QStringList cols{"Mobile ", "Mobile", "SMS"};
    QCOMPARE(FindColumn(cols, u"Mobile"_s), 1);
    QCOMPARE(FindColumn(cols, u"Mobile "_s), 0);
    QCOMPARE(FindColumn(cols, u" SMS "_s), 2);
    QCOMPARE(FindColumn(cols, u"sms"_s), -1);

    // The source kind is the fragment found last in the name, so a folder's name does not decide.
    using Source = Frm_Broadtext_Step5::Source;
    const std::pair<const char*, Source> kinds[] = {{"/home/u/list.txt", Source::Text},
                                                    {"/home/u/list.xlsx", Source::Excel},
                                                    {"/home/u/old.txt.d/list.mdb", Source::Access},
                                                    {"/home/u/a.xls/list.txt", Source::Text},
                                                    {"/home/u/LIST.TXT", Source::Text},
                                                    {"/home/u/Contacts.CSV", Source::Excel},
                                                    {"/home/u/list", Source::None}};
    for (const auto& [name, kind] : kinds)
        QCOMPARE(int(Frm_Broadtext_Step5::SourceOf(QString::fromLatin1(name))), int(kind));
}

void WizardSourcesTest::failedReadersKeepWhatTheySentBefore()
{
    // Records as a reader sends them, replayed by a shell that then crashes, falls silent or repeats them.
    QTemporaryDir dir;
    const QString records = dir.filePath(u"records"_s);
    {
        QFile f(records);
        QVERIFY(f.open(QIODevice::WriteOnly));
        ReaderSink sink(f.handle());
        sink.name(u"first"_s);
        sink.row({u"1"_s, std::nullopt});
        sink.row({u"2"_s, QString()});
        sink.flush();
    }
    const auto replay = [&](const char* script, const QString& failure, const ReaderLimits& limits = {}) {
        return RunReaderProgram(u"/bin/sh"_s, {u"-c"_s, QLatin1String(script), records}, failure, limits);
    };
    ReaderOutput r = replay("cat \"$0\"; kill -SEGV $$", u"it broke"_s);
    QCOMPARE(r.error, u"it broke"_s);
    QCOMPARE(r.names, QStringList{"first"});
    QCOMPARE(r.rows.size(), size_t(2));
    QCOMPARE(r.rows[1][0], SourceValue(u"2"_s));
    QVERIFY(!r.rows[0][1].has_value());
    QVERIFY(r.rows[1][1].has_value() && r.rows[1][1]->isEmpty());

    // A reader that hangs is ended after its silence; one that loops is stopped at the row limit.
    ReaderLimits limits;
    limits.idleSeconds = 1;
    QElapsedTimer t;
    t.start();
    r = replay("cat \"$0\"; exec sleep 60", u"no answer"_s, limits);
    QCOMPARE(r.error, u"no answer"_s);
    QCOMPARE(r.rows.size(), size_t(2));
    QVERIFY(t.elapsed() < 10000);
    limits = {};
    limits.maxRows = 1000;
    r = replay("while cat \"$0\"; do :; done", u"looping"_s, limits);
    QCOMPARE(r.error, u"looping"_s);
    QCOMPARE(r.rows.size(), size_t(1000));

    // The damaged Access file of the window tests really crashes libmdb in the reader program.
    const QString crashing = QStringLiteral(BROADTEXT_TEST_DATA "/wizard/crash-on-read.mdb");
    r = RunReader({u"access-rows"_s, crashing, u"Contacts"_s, u"Mobile"_s}, u"crashed"_s);
    QCOMPARE(r.error, u"crashed"_s);

    r = RunReaderProgram(dir.filePath(u"missing"_s), {}, u"unused"_s);
    QVERIFY2(r.error.contains("could not be started"_L1), qPrintable(r.error));
}

QTEST_GUILESS_MAIN(WizardSourcesTest)
#include "tst_compose_wizard_sources.moc"
