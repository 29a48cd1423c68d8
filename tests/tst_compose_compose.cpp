// The compose window: the length counter under the message, the checks, the numbers and the Outbox rows.
#include "TestRig.h"
#include "compose/frm_ComposeSMS.h"
#include "delivery/Engine.h"
#include "views/MessageTextEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

struct ComposeRig : TestRig {
    Engine engine{state, db, log};
    QPointer<frm_ComposeSMS> window = new frm_ComposeSMS(engine);
    ComposeRig() { window->show(); }
    ~ComposeRig() { delete window.data(); }
    QLineEdit* numbers() { return window->findChild<QLineEdit*>(u"MobileNumbers"_s); }
    MessageTextEdit* message() { return window->findChild<MessageTextEdit*>(u"Message"_s); }
    QString label(const char* name) { return window->findChild<QLabel*>(QLatin1String(name))->text(); }
    void send() { QTest::mouseClick(window->findChild<QPushButton*>(u"Command1"_s), Qt::LeftButton); }
    QStringList rows()
    {
        return queryTexts(db, u"SELECT RecipientMobileNo || '|' || Message || '|' || RecepId || '|' || "
                              u"(DeliveryDatetime IS NULL) FROM Message_OutBox ORDER BY Outbox_Id"_s);
    }
};

} // namespace

class ComposeWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void counterIsBlankUntilTheFirstChange();
    void textIsCutWhereThreePartsAreFull();
    void blanksAreRefused_data();
    void blanksAreRefused();
    void numbersAreSplitAndCleanedAndTheMessageKeptAsTyped();
    void badNumbersAreRefusedWithTheirReasons_data();
    void badNumbersAreRefusedWithTheirReasons();
    void failedInsertKeepsTheWindowOpen();
};

void ComposeWindowTest::counterIsBlankUntilTheFirstChange()
{
    ComposeRig rig;
    QVERIFY(rig.label("Label5").isEmpty() && rig.label("Label6").isEmpty());
    rig.message()->setText(QString(161, 'm'));
    QCOMPARE(rig.label("Label5"), u"Typed: 161/480 characters."_s);
    QCOMPARE(rig.label("Label6"),
             u"** This message is longer than 160 characters. Message will be sent as 2 SMS messages."_s);
}

void ComposeWindowTest::textIsCutWhereThreePartsAreFull()
{
    ComposeRig rig;
    MessageTextEdit* m = rig.message();
    m->setText(QString(479, 'a'));
    m->moveCursor(QTextCursor::End);
    QTest::keyClicks(m, u"bcd"_s);
    QCOMPARE(m->text(), QString(479, 'a') + 'b');
    // Typing in the middle of a full text changes nothing; pasting keeps what fits.
    m->moveCursor(QTextCursor::Start);
    QTest::keyClicks(m, u"x"_s);
    QCOMPARE(m->text(), QString(479, 'a') + 'b');
    m->setText(QString(470, 'a'));
    m->moveCursor(QTextCursor::Start);
    m->insertPlainText(u"0123456789abcdef"_s);
    QCOMPARE(m->text(), u"0123456789"_s + QString(470, 'a'));
    QCOMPARE(rig.label("Label5"), u"Typed: 480/480 characters."_s);
    // A line break takes two of the 480.
    m->setText(QString(478, 'a') + u"\r\nzz"_s);
    QCOMPARE(m->text(), QString(478, 'a') + u"\r\n"_s);
    // One character outside the GSM alphabet makes the message Unicode: its three parts hold 210.
    m->setText(QString(300, 'a'));
    m->moveCursor(QTextCursor::End);
    m->insertPlainText(u"€"_s);
    QCOMPARE(m->text(), QString(300, 'a'));
    m->setText(QString(200, 'a'));
    m->moveCursor(QTextCursor::End);
    m->insertPlainText(u"€bcdefghijklm"_s);
    QCOMPARE(m->text(), QString(200, 'a') + u"€bcdefghij"_s);
    QCOMPARE(rig.label("Label5"), u"Typed: 210/210 characters (Unicode)."_s);
}

void ComposeWindowTest::blanksAreRefused_data()
{
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QString>("message");
    QTest::newRow("blank message") << u"9888812121"_s << u"     "_s;
    QTest::newRow("blank numbers") << u"   "_s << u"hello"_s;
    QTest::newRow("both empty") << QString() << QString();
}

void ComposeWindowTest::blanksAreRefused()
{
    QFETCH(QString, numbers);
    QFETCH(QString, message);
    ComposeRig rig;
    rig.numbers()->setText(numbers);
    rig.message()->setText(message);
    rig.send();
    QCOMPARE(rig.dialogs.messages(), QStringList{u"You must enter the mobile number and the message."_s});
    QVERIFY(rig.window && rig.window->isVisible());
    QVERIFY(rig.rows().isEmpty());
    QCOMPARE(rig.numbers()->text(), numbers);
}

void ComposeWindowTest::numbersAreSplitAndCleanedAndTheMessageKeptAsTyped()
{
    ComposeRig rig;
    QTest::keyClicks(rig.numbers(), u" 98 888.12121; +44 2123 234455 "_s);
    rig.message()->setText(u"  It's \"two\"\r\nlines  "_s);
    rig.send();
    QCOMPARE(rig.rows(), (QStringList{u"9888812121|  It's \"two\"\r\nlines  |0|1"_s,
                                      u"+442123234455|  It's \"two\"\r\nlines  |0|1"_s}));
    QCOMPARE(rig.numbers()->text(), u"98 888.12121, +44 2123 234455"_s);
    QTRY_VERIFY(!rig.window); // closed (and gone) after queueing

    // A comma too many is no number: nothing is queued for it.
    ComposeRig trailing;
    trailing.numbers()->setText(u"9888812121,,"_s);
    trailing.message()->setText(u"Hi"_s);
    trailing.send();
    QCOMPARE(trailing.rows(), QStringList{"9888812121|Hi|0|1"});
    QVERIFY(trailing.dialogs.shown.empty());
}

void ComposeWindowTest::badNumbersAreRefusedWithTheirReasons_data()
{
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QStringList>("named"); // the lines of the refusal that name a number and its fault
    QTest::newRow("letters and a sign") << u"abc;12#34"_s
                                        << QStringList{u"abc: it holds \"a\", \"b\", \"c\""_s,
                                                       u"12#34: it holds \"#\""_s};
    QTest::newRow("words beside a good number")
        << u"9888812121, hello world, N/A"_s
        << QStringList{u"hello world: it holds \"h\", \"e\", \"l\", \"o\", \"w\", \"r\", \"d\""_s,
                       u"N/A: it holds \"N\", \"/\", \"A\""_s};
    QTest::newRow("signs only") << u"#, +"_s << QStringList{u"#: it holds \"#\""_s, u"+: it has no digits"_s};
    QTest::newRow("two plus signs") << u"++44 2123"_s << QStringList{u"++44 2123: it holds \"+\" after its start"_s};
    QTest::newRow("too short, too long") << u"0, +44, 123456789012345678901"_s
                                         << QStringList{
                                                u"0: it has 1 digit; a number has 3 to 20"_s,
                                                u"+44: it has 2 digits; a number has 3 to 20"_s,
                                                u"123456789012345678901: it has 21 digits; a number has 3 to 20"_s};
}

void ComposeWindowTest::badNumbersAreRefusedWithTheirReasons()
{
    QFETCH(QString, numbers);
    QFETCH(QStringList, named);
    ComposeRig rig;
    rig.numbers()->setText(numbers);
    rig.message()->setText(u"Hello"_s);
    rig.send();
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QStringList lines = rig.dialogs.messages().first().split(u"\r\n"_s);
    QCOMPARE(lines.first(), u"These numbers cannot be sent to, so nothing was queued:"_s);
    for (const QString& line : named)
        QVERIFY2(lines.contains(line), qPrintable(line));
    QVERIFY(!rig.dialogs.messages().first().contains(u"9888812121"_s));
    QVERIFY(rig.rows().isEmpty());
    QVERIFY(rig.window && rig.window->isVisible());
}

void ComposeWindowTest::failedInsertKeepsTheWindowOpen()
{
    ComposeRig rig;
    rig.db.execute(u"CREATE TRIGGER refuse BEFORE INSERT ON Message_OutBox WHEN NEW.RecipientMobileNo = '222' "
                   u"BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END"_s);
    rig.numbers()->setText(u"111, 222, 333"_s);
    rig.message()->setText(u"x"_s);
    rig.send();
    QCOMPARE(rig.dialogs.messages(), QStringList{u"disk I/O error"_s});
    QCOMPARE(rig.rows(), QStringList{u"111|x|0|1"_s});
    QVERIFY(rig.window && rig.window->isVisible());
}

QTEST_MAIN(ComposeWindowTest)
#include "tst_compose_compose.moc"
