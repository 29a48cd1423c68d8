// The wizard's readers without windows: the text rules the window tests do not reach, Access number
// columns in general number form, column and source-kind rules, and the reader process that keeps what a
// crashing, silent or looping reader sent before it failed. Files through the windows: the other wizard tests.
#include "compose/Frm_Broadtext_Step5.h"
#include "compose/NumberSources.h"
#include "compose/ReaderProcess.h"

#include <QTemporaryDir>
#include <QtTest>

class WizardSourcesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textContentGivesEntries_data();
    void textContentGivesEntries();
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

void WizardSourcesTest::accessValuesAndUnknownNames()
{
    const QString mdb = QStringLiteral(BROADTEXT_TEST_DATA "/wizard/wizard.mdb");
    NumberRows r = ReadAccessTable(mdb, QStringLiteral("Contacts"), QStringLiteral("Num"), QString());
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.rows.size(), size_t(2)); // a number column, in general number form
    QCOMPARE(r.rows[0].number, QStringLiteral("9888812121"));
    QCOMPARE(r.rows[1].number, QStringLiteral("12.75"));
    QCOMPARE(GeneralNumber(1e20), QStringLiteral("1E+20"));

    r = ReadAccessTable(mdb, QStringLiteral("Nowhere"), QStringLiteral("Mobile"), QString());
    QVERIFY(r.rows.empty() && r.error.contains(QLatin1String("Nowhere")));
    r = ReadAccessTable(mdb, QStringLiteral("Contacts"), QStringLiteral("Mobile"), QStringLiteral("Nothing"));
    QVERIFY(r.rows.empty() && r.error.contains(QLatin1String("Nothing")));
    const NameList c = AccessColumns(mdb, QStringLiteral("MSysObjects"));
    QVERIFY2(c.names.isEmpty() && !c.error.isEmpty(), "system tables are not readable through the wizard");
}

void WizardSourcesTest::columnNamesAndSourceKinds()
{
    // A column is found by its exact name first, then by the name without outer blanks.
    const QStringList cols{"Mobile ", "Mobile", "SMS"};
    QCOMPARE(FindColumn(cols, QStringLiteral("Mobile")), 1);
    QCOMPARE(FindColumn(cols, QStringLiteral("Mobile ")), 0);
    QCOMPARE(FindColumn(cols, QStringLiteral(" SMS ")), 2);
    QCOMPARE(FindColumn(cols, QStringLiteral("sms")), -1);

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
    const QString records = dir.filePath(QStringLiteral("records"));
    {
        QFile f(records);
        QVERIFY(f.open(QIODevice::WriteOnly));
        ReaderSink sink(f.handle());
        sink.name(QStringLiteral("first"));
        sink.row({QStringLiteral("1"), std::nullopt});
        sink.row({QStringLiteral("2"), QString()});
        sink.flush();
    }
    const auto replay = [&](const char* script, const QString& failure, const ReaderLimits& limits = {}) {
        return RunReaderProgram(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QLatin1String(script), records},
                                failure, limits);
    };
    ReaderOutput r = replay("cat \"$0\"; kill -SEGV $$", QStringLiteral("it broke"));
    QCOMPARE(r.error, QStringLiteral("it broke"));
    QCOMPARE(r.names, QStringList{"first"});
    QCOMPARE(r.rows.size(), size_t(2));
    QCOMPARE(r.rows[1][0], SourceValue(QStringLiteral("2")));
    QVERIFY(!r.rows[0][1].has_value());
    QVERIFY(r.rows[1][1].has_value() && r.rows[1][1]->isEmpty());

    // A reader that hangs is ended after its silence; one that loops is stopped at the row limit.
    ReaderLimits limits;
    limits.idleSeconds = 1;
    QElapsedTimer t;
    t.start();
    r = replay("cat \"$0\"; exec sleep 60", QStringLiteral("no answer"), limits);
    QCOMPARE(r.error, QStringLiteral("no answer"));
    QCOMPARE(r.rows.size(), size_t(2));
    QVERIFY(t.elapsed() < 10000);
    limits = {};
    limits.maxRows = 1000;
    r = replay("while cat \"$0\"; do :; done", QStringLiteral("looping"), limits);
    QCOMPARE(r.error, QStringLiteral("looping"));
    QCOMPARE(r.rows.size(), size_t(1000));

    r = RunReaderProgram(dir.filePath(QStringLiteral("missing")), {}, QStringLiteral("unused"));
    QVERIFY2(r.error.contains(QLatin1String("could not be started")), qPrintable(r.error));
}

QTEST_GUILESS_MAIN(WizardSourcesTest)
#include "tst_compose_wizard_sources.moc"
