// The compose window: the length counter under the message, the checks, the numbers and the Outbox rows.
#include "TestRig.h"
#include "compose/frm_ComposeSMS.h"
#include "delivery/Engine.h"
#include "views/MessageTextEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

struct ComposeRig : TestRig {
    Engine engine{state, db, log};
    QPointer<frm_ComposeSMS> window = new frm_ComposeSMS(engine);
    ComposeRig() { window->show(); }
    ~ComposeRig() { delete window.data(); }
    QLineEdit* numbers() { return window->findChild<QLineEdit*>(QStringLiteral("MobileNumbers")); }
    MessageTextEdit* message() { return window->findChild<MessageTextEdit*>(QStringLiteral("Message")); }
    QString label(const char* name) { return window->findChild<QLabel*>(QLatin1String(name))->text(); }
    void send() { QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton); }
    QStringList rows()
    {
        QStringList out;
        Query q(db, QStringLiteral("SELECT RecipientMobileNo, Message, RecepId, DeliveryDatetime IS NULL FROM "
                                   "Message_OutBox ORDER BY Outbox_Id"));
        while (q.next())
            out << q.value(0).toString() + QLatin1Char('|') + q.value(1).toString() + QLatin1Char('|') +
                       q.value(2).toString() + QLatin1Char('|') + q.value(3).toString();
        return out;
    }
};

} // namespace

class ComposeWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void counterFollowsTheText_data();
    void counterFollowsTheText();
    void textIsCutWhereThreePartsAreFull();
    void blanksAreRefused_data();
    void blanksAreRefused();
    void numbersAreSplitAndCleaned();
    void messageIsStoredAsTyped();
    void failedInsertKeepsTheWindowOpen();
};

void ComposeWindowTest::counterFollowsTheText_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("parts");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("160") << 160 << 0;
    QTest::newRow("161") << 161 << 2;
    QTest::newRow("320") << 320 << 2;
    QTest::newRow("321") << 321 << 3;
    QTest::newRow("480") << 480 << 3;
}

void ComposeWindowTest::counterFollowsTheText()
{
    QFETCH(int, length);
    QFETCH(int, parts);
    ComposeRig rig;
    QVERIFY(rig.label("Label5").isEmpty()); // blank until the first change
    rig.message()->setText(QStringLiteral("x"));
    rig.message()->setText(QString(length, 'm'));
    QCOMPARE(rig.label("Label5"), QStringLiteral("Typed: %1/480 characters.").arg(length));
    QCOMPARE(rig.label("Label6"), parts
                                      ? QStringLiteral("** This message is longer than 160 characters. Message will be "
                                                       "sent as %1 SMS messages.")
                                            .arg(parts)
                                      : QString());
}

void ComposeWindowTest::textIsCutWhereThreePartsAreFull()
{
    ComposeRig rig;
    rig.message()->setText(QString(479, 'a'));
    rig.message()->moveCursor(QTextCursor::End);
    QTest::keyClicks(rig.message(), QStringLiteral("bcd"));
    QCOMPARE(rig.message()->text(), QString(479, 'a') + QLatin1Char('b'));
    // Typing in the middle of a full text changes nothing; pasting keeps what fits.
    rig.message()->moveCursor(QTextCursor::Start);
    QTest::keyClicks(rig.message(), QStringLiteral("x"));
    QCOMPARE(rig.message()->text(), QString(479, 'a') + QLatin1Char('b'));
    rig.message()->setText(QString(470, 'a'));
    rig.message()->moveCursor(QTextCursor::Start);
    rig.message()->insertPlainText(QStringLiteral("0123456789abcdef"));
    QCOMPARE(rig.message()->text(), QStringLiteral("0123456789") + QString(470, 'a'));
    QCOMPARE(rig.label("Label5"), QStringLiteral("Typed: 480/480 characters."));
    // A line break takes two of the 480.
    rig.message()->setText(QString(478, 'a') + QStringLiteral("\r\nzz"));
    QCOMPARE(rig.message()->text(), QString(478, 'a') + QStringLiteral("\r\n"));
    // One character outside the GSM alphabet makes the message Unicode: its three parts hold 210.
    rig.message()->setText(QString(300, 'a'));
    rig.message()->moveCursor(QTextCursor::End);
    rig.message()->insertPlainText(QStringLiteral("€"));
    QCOMPARE(rig.message()->text(), QString(300, 'a'));
    rig.message()->setText(QString(200, 'a'));
    rig.message()->moveCursor(QTextCursor::End);
    rig.message()->insertPlainText(QStringLiteral("€bcdefghijklm"));
    QCOMPARE(rig.message()->text(), QString(200, 'a') + QStringLiteral("€bcdefghij"));
    QCOMPARE(rig.label("Label5"), QStringLiteral("Typed: 210/210 characters (Unicode)."));
}

void ComposeWindowTest::blanksAreRefused_data()
{
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QString>("message");
    QTest::newRow("blank message") << "9888812121"
                                   << "     ";
    QTest::newRow("blank numbers") << "   "
                                   << "hello";
    QTest::newRow("both empty") << ""
                                << "";
}

void ComposeWindowTest::blanksAreRefused()
{
    QFETCH(QString, numbers);
    QFETCH(QString, message);
    ComposeRig rig;
    rig.numbers()->setText(numbers);
    rig.message()->setText(message);
    rig.send();
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("You must enter the mobile number and the message.")});
    QVERIFY(rig.window && rig.window->isVisible());
    QVERIFY(rig.rows().isEmpty());
    QCOMPARE(rig.numbers()->text(), numbers);
}

void ComposeWindowTest::numbersAreSplitAndCleaned()
{
    ComposeRig rig;
    QTest::keyClicks(rig.numbers(), QStringLiteral(" 98 888.12121; +44 2123 234455 "));
    rig.message()->setText(QStringLiteral("Hi"));
    rig.send();
    QCOMPARE(rig.rows(), (QStringList{"9888812121|Hi|0|1", "+442123234455|Hi|0|1"}));
    QCOMPARE(rig.numbers()->text(), QStringLiteral("98 888.12121, +44 2123 234455"));
    QTRY_VERIFY(!rig.window); // closed (and gone) after queueing

    ComposeRig trailing;
    trailing.numbers()->setText(QStringLiteral("9888812121,"));
    trailing.message()->setText(QStringLiteral("Hi"));
    trailing.send();
    QCOMPARE(trailing.rows(), (QStringList{"9888812121|Hi|0|1", "|Hi|0|1"}));
}

void ComposeWindowTest::messageIsStoredAsTyped()
{
    ComposeRig rig;
    rig.numbers()->setText(QStringLiteral("O'Brien"));
    rig.message()->setText(QStringLiteral("  It's \"two\"\r\nlines  "));
    rig.send();
    QCOMPARE(rig.rows(), QStringList{QStringLiteral("O'Brien|  It's \"two\"\r\nlines  |0|1")});
}

void ComposeWindowTest::failedInsertKeepsTheWindowOpen()
{
    ComposeRig rig;
    rig.db.execute(
        QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Message_OutBox WHEN NEW.RecipientMobileNo = '2' "
                       "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END"));
    rig.numbers()->setText(QStringLiteral("1, 2, 3"));
    rig.message()->setText(QStringLiteral("x"));
    rig.send();
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("disk I/O error")});
    QCOMPARE(rig.rows(), QStringList{QStringLiteral("1|x|0|1")});
    QVERIFY(rig.window && rig.window->isVisible());
}

QTEST_MAIN(ComposeWindowTest)
#include "tst_compose_compose.moc"
