// The wizard's last step: the numbers list with its counts and Select All, the common message, and
// queueing into the Outbox (what is stored, what is refused, the message box refresh, a failure part way,
// more rows than a 16-bit count holds, the event loop turning meanwhile, a cancel).
#include "tst_compose_wizard_rig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString Sent = u"Message has been sent successfully to Out box."_s;
const QString RepeatedOnce = u"\r\n\r\n1 of the selected numbers were repeated and were queued once."_s;

QString writeNumbers(const QTemporaryDir& dir, const QStringList& numbers)
{
    const QString path = dir.path() + u"/numbers.txt"_s;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(numbers.join(QLatin1Char('\n')).toUtf8());
    return path;
}

} // namespace

class WizardQueueTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commonMessageIsQueuedTrimmedForEveryRow();
    void sendRefuses_data();
    void sendRefuses();
    void rowMarksDecideWhatIsQueued();
    void duplicatesGoWithOneButton();
    void invalidNumbersAreListedUntickedAndCounted();
    void failurePartWayKeepsWhatWasQueued();
    void manyRowsAreQueuedWhileTheEventLoopTurns();
    void queueingCanBeCancelled();

private:
    static Frm_Broadtext_Step5* longList(WizardRig& rig, const QTemporaryDir& dir, QStringList& numbers);
};

void WizardQueueTest::commonMessageIsQueuedTrimmedForEveryRow()
{
    WizardRig rig;
    OutboxNews view(rig.engine);
    const QDateTime at(QDate(2024, 2, 29), QTime(13, 45, 7));
    rig.clock.set(at);
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(u"duplicates.txt"_s));
    QVERIFY(s);
    QTest::keyClicks(s->txtMessage, u"  Don't miss the sale  "_s);
    WizardRig::send(s);
    // A run is a campaign, which sends a repeated number once.
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent + RepeatedOnce});
    QCOMPARE(rig.outboxNumbers(), (QStringList{"9888812121", "+442123234455"}));
    QCOMPARE(rig.outboxMessages(), QStringList(2, u"Don't miss the sale"_s));
    QCOMPARE(rig.outbox("RecepId"), QStringList(2, u"0"_s));
    QCOMPARE(rig.outbox("DeliveryDatetime IS NULL"), QStringList(2, u"1"_s));
    for (const QString& queued : rig.outbox("OutBoxDateTime"))
        QCOMPARE(Database::FromDbTime(queued), at);
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.state.ChildWindowOpen);
    QCOMPARE(WizardRig::visibleWindows(), 0);
    QCOMPARE(view.treeFills, 1); // the queued rows are news for a message box, open or not
}

void WizardQueueTest::sendRefuses_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("uncheckAll");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("refusal");
    const QString noMessage = u"Please enter message."_s;
    const QString noNumber = u"Please select mobile number from list."_s;
    QTest::newRow("blanks-only message, nothing checked") << "three-lines.txt" << true << "    " << noMessage;
    QTest::newRow("nothing checked") << "three-lines.txt" << true << "Hello" << noNumber;
    QTest::newRow("empty file, no message") << "empty.txt" << false << "" << noMessage;
    QTest::newRow("empty file") << "empty.txt" << false << "Hello" << noNumber;
}

void WizardQueueTest::sendRefuses()
{
    QFETCH(QString, file);
    QFETCH(bool, uncheckAll);
    QFETCH(QString, message);
    QFETCH(QString, refusal);
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(file));
    QVERIFY(s);
    if (uncheckAll)
        for (int r = 0; r < s->ListNumbers->model()->rowCount(); ++r)
            WizardRig::setRowChecked(s, r, false);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"0"_s);
    s->txtMessage->setText(message);
    WizardRig::send(s);
    QCOMPARE(rig.dialogs.messages(), QStringList{refusal});
    QVERIFY(rig.outboxNumbers().isEmpty());
    QVERIFY(rig.wizard.step5() == s && s->isVisible());
}

void WizardQueueTest::rowMarksDecideWhatIsQueued()
{
    WizardRig rig;
    OutboxNews view(rig.engine);
    rig.state.MessageBoxOpen = true;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(u"duplicates.txt"_s));
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"3"_s);
    QTest::mouseClick(s->Check1, Qt::LeftButton, {}, QPoint(5, s->Check1->height() / 2));
    QVERIFY(!s->Check1->isChecked());
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"0"_s);
    QCOMPARE(WizardRig::text(s, "lblNoItems"), u"3"_s);
    QCOMPARE(s->ListNumbers->model()->index(2, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    WizardRig::setRowChecked(s, 2, true);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"1"_s);
    s->Check1->click();
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"3"_s);
    WizardRig::setRowChecked(s, 1, false);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"2"_s);

    // The length counter follows the common message, outer blanks left out.
    s->txtMessage->setText(u"  "_s + QString(161, QLatin1Char('a')) + u" "_s);
    QCOMPARE(s->Label3->text(), u"Typed: 161/480 characters."_s);
    QCOMPARE(s->Label5->text(), u"** This message is longer than 160 characters. Message will be sent "
                                u"as 2 SMS messages."_s);
    WizardRig::send(s);
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent + RepeatedOnce});
    QCOMPARE(rig.outboxNumbers(), QStringList{"9888812121"});
    QCOMPARE(view.treeFills, 1); // the open message box shows the new Outbox count
}

void WizardQueueTest::duplicatesGoWithOneButton()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.tableStep5(u"duplicates.csv"_s, u"duplicates"_s, u"Mobile"_s, u"SMS"_s);
    QVERIFY(s);
    QCOMPARE(WizardRig::text(s, "lblNoItems"), u"6"_s);
    WizardRig::setRowChecked(s, 1, false);
    // Numbers are compared without blanks, "-" and "."; the first of each keeps its message and mark.
    QTest::mouseClick(WizardRig::child<QPushButton>(s, u"cmdRemoveDuplicates"_s), Qt::LeftButton);
    QCOMPARE(WizardRig::listed(s), (QStringList{"98888 12121", "+44 21 23"}));
    QCOMPARE(WizardRig::listed(s, 1), (QStringList{"first", "kept"}));
    QCOMPARE(WizardRig::text(s, "lblNoItems"), u"2"_s);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"1"_s);
    WizardRig::send(s);
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent});
    QCOMPARE(rig.outboxNumbers(), QStringList{"98888 12121"});
    QCOMPARE(rig.outboxMessages(), QStringList{"first"});
}

void WizardQueueTest::invalidNumbersAreListedUntickedAndCounted()
{
    QTemporaryDir dir;
    const QString file =
        writeNumbers(dir, {"9888812121", "hello world", "N/A", "#", "++44", "+442123234455", "98888-12121", "0"});
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(file);
    QVERIFY(s);
    const auto checks = [&] {
        QString marks;
        for (int r = 0; r < s->ListNumbers->model()->rowCount(); ++r)
            marks += s->ListNumbers->model()->index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked ? '1' : '0';
        return marks;
    };
    QCOMPARE(checks(), u"10000110"_s);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"3"_s);
    QCOMPARE(WizardRig::text(s, "lblNoItems"), u"8"_s);
    QCOMPARE(WizardRig::text(s, "lblSkipped"), u"5 invalid numbers are left unticked."_s);
    QCOMPARE(s->ListNumbers->model()->index(3, 0).data(Qt::ToolTipRole).toString(), u"it holds \"#\""_s);
    // Neither a click on the row nor Select All ticks a number that cannot be sent to.
    WizardRig::setRowChecked(s, 1, true);
    s->Check1->click();
    s->Check1->click();
    QCOMPARE(checks(), u"10000110"_s);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"3"_s);

    QTest::mouseClick(WizardRig::child<QPushButton>(s, u"cmdRemoveDuplicates"_s), Qt::LeftButton);
    QCOMPARE(WizardRig::text(s, "lblNoItems"), u"7"_s);
    QCOMPARE(WizardRig::text(s, "lblSkipped"),
             u"5 invalid numbers are left unticked. Remove Duplicates removed 1 repeated number."_s);
    s->txtMessage->setText(u"Hi"_s);
    WizardRig::send(s);
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent});
    QCOMPARE(rig.outboxNumbers(), (QStringList{"9888812121", "+442123234455"}));
}

void WizardQueueTest::failurePartWayKeepsWhatWasQueued()
{
    QTemporaryDir dir;
    const QString file = writeNumbers(dir, {"111", "222", "333", "444"});
    WizardRig rig;
    OutboxNews view(rig.engine);
    rig.state.MessageBoxOpen = true;
    rig.db.execute(u"CREATE TRIGGER refuse_bad BEFORE INSERT ON Message_OutBox "
                   u"WHEN NEW.RecipientMobileNo = '333' BEGIN SELECT RAISE(ABORT, 'number refused'); END"_s);
    Frm_Broadtext_Step5* s = rig.textStep5(file);
    s->txtMessage->setText(u"Hi"_s);
    WizardRig::send(s);
    QCOMPARE(rig.dialogs.messages(), QStringList{"number refused"});
    QCOMPARE(rig.outboxNumbers(), (QStringList{"111", "222"}));
    QVERIFY(rig.wizard.step5() && s->isVisible() && s->cmdNext->isEnabled());
    QCOMPARE(view.treeFills, 1);
    // The rows already queued are unmarked: sending again queues only the rest.
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), u"2"_s);
    rig.db.execute(u"DROP TRIGGER refuse_bad"_s);
    WizardRig::send(s);
    QCOMPARE(rig.dialogs.messages().last(), Sent);
    QCOMPARE(rig.outboxNumbers(), (QStringList{"111", "222", "333", "444"}));
}

// A list that takes a while to queue, more numbers than a 16-bit count holds, all ticked with Select All.
Frm_Broadtext_Step5* WizardQueueTest::longList(WizardRig& rig, const QTemporaryDir& dir, QStringList& numbers)
{
    const int n = 40000;
    for (int i = 0; i < n; ++i)
        numbers << u"98%1"_s.arg(i, 8, 10, QLatin1Char('0'));
    Frm_Broadtext_Step5* s = rig.textStep5(writeNumbers(dir, numbers));
    if (WizardRig::text(s, "lblNoItems") != QString::number(n))
        qFatal("the list did not load");
    s->Check1->click();
    s->Check1->click();
    s->txtMessage->setText(u"Hello"_s);
    return s;
}

void WizardQueueTest::manyRowsAreQueuedWhileTheEventLoopTurns()
{
    QTemporaryDir dir;
    WizardRig rig;
    rig.state.MessageBoxOpen = true; // the flag without a message box window must not matter
    QStringList numbers;
    Frm_Broadtext_Step5* s = longList(rig, dir, numbers);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QString::number(numbers.size()));

    // A timer stands for everything else the program does meanwhile (the modem's results, the main window):
    // it must keep firing from the application's own event loop, never from a loop run inside Send, and never
    // wait long (a slice takes about 20 ms; the bound leaves room for a machine busy with other work).
    bool inSend = false, firedInsideSend = false;
    bool closeTried = false, stayedOpen = false, controlsLocked = false, progressShown = false;
    QElapsedTimer sinceLast;
    qint64 longestGap = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        firedInsideSend |= inSend;
        if (sinceLast.isValid())
            longestGap = std::max(longestGap, sinceLast.restart());
        if (!rig.wizard.step5())
            return;
        progressShown |= s->progressSend->isVisible() && s->progressSend->value() > 0;
        if (!closeTried) {
            // The window refuses to close under the user's hands.
            closeTried = true;
            controlsLocked = !s->cmdNext->isEnabled() && !s->cmdBack->isEnabled() && !s->ListNumbers->isEnabled();
            s->close();
            stayedOpen = rig.wizard.step5() != nullptr;
        }
    });
    timer.start(10);
    inSend = true;
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    inSend = false;
    sinceLast.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.messages(), QStringList{Sent}, 120000);
    timer.stop();
    QVERIFY(!firedInsideSend);
    QVERIFY2(longestGap < 500, qPrintable(u"the event loop stood still for %1 ms"_s.arg(longestGap)));
    QVERIFY(closeTried && stayedOpen && controlsLocked && progressShown);
    const QStringList queued = rig.outboxNumbers();
    QCOMPARE(queued.size(), numbers.size());
    QCOMPARE(queued.first(), numbers.first());
    QCOMPARE(queued.last(), numbers.last());
    QVERIFY(!rig.wizard.anyStepLoaded());
}

void WizardQueueTest::queueingCanBeCancelled()
{
    QTemporaryDir dir;
    WizardRig rig;
    QSignalSpy outboxChanged(&rig.engine, &Engine::outboxChanged);
    QStringList numbers;
    Frm_Broadtext_Step5* s = longList(rig, dir, numbers);
    auto* cancel = s->findChild<QPushButton*>(u"cmdCancel"_s);
    QVERIFY(cancel);
    QVERIFY(!cancel->isVisible());
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QVERIFY(cancel->isVisible() && cancel->isEnabled());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.messages().size(), qsizetype(1), 60000);

    // What was queued before the cancel stays queued, is unticked and is said; the rest waits for Send.
    const qint64 queued = rig.outboxNumbers().size();
    QVERIFY(queued > 0 && queued < numbers.size());
    QCOMPARE(
        rig.dialogs.messages().first(),
        u"Queueing was cancelled: %1 of the selected numbers were put in the Out box and are no longer ticked."_s.arg(
            queued));
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QString::number(numbers.size() - queued));
    QVERIFY(rig.wizard.step5() && s->isVisible() && s->cmdNext->isEnabled() && !cancel->isVisible());
    QCOMPARE(outboxChanged.size(), 1);
    WizardRig::send(s);
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.messages().last(), Sent, 120000);
    QCOMPARE(rig.outboxNumbers(), numbers);
}

QTEST_MAIN(WizardQueueTest)
#include "tst_compose_wizard_queue.moc"
