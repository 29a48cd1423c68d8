// The wizard's last step: the numbers list with its counts and Select All, the common message with its
// length counter, and queueing into the Outbox (what is stored, what is refused, a failure part way, many
// rows, the message box refresh).
#include "tst_compose_wizard_rig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString Sent = QStringLiteral("Message has been sent successfully to Out box.");

QString writeNumbers(const QTemporaryDir& dir, const QStringList& numbers)
{
    const QString path = dir.path() + QStringLiteral("/numbers.txt");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(numbers.join(QLatin1Char('\n')).toUtf8());
    return path;
}

} // namespace

class WizardQueueTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lastStepShowsItsControls();
    void lengthCounterFollowsTheCommonMessage_data();
    void lengthCounterFollowsTheCommonMessage();
    void commonMessageIsQueuedTrimmedForEveryRow();
    void blanksOnlyMessageIsRefusedEvenWithNothingChecked();
    void nothingCheckedIsRefused();
    void selectAllAndRowMarksKeepTheCount();
    void emptySourceShowsZeroOfZero();
    void uncheckedRowsAreNotQueued();
    void messageBoxTreeIsRefreshedWhenOpen_data();
    void messageBoxTreeIsRefreshedWhenOpen();
    void failurePartWayKeepsWhatWasQueued();
    void manyRowsAreQueuedWithTheWindowResponsive();
};

void WizardQueueTest::lastStepShowsItsControls()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    QVERIFY(s);
    QCOMPARE(WizardRig::text(s, "Label1"), QStringLiteral("Found Numbers"));
    QVERIFY(WizardRig::child<QLabel>(s, "Label1")->font().bold());
    QCOMPARE(s->Check1->text(), QStringLiteral("Select All"));
    QCOMPARE(WizardRig::text(s, "Label4"), QStringLiteral("Selected"));
    QCOMPARE(WizardRig::text(s, "Label6"), QStringLiteral("of"));
    QCOMPARE(s->Frame2->title(), QStringLiteral("Compose Common SMS"));
    QCOMPARE(WizardRig::text(s, "Label2"), QStringLiteral("Max 480 Characters :"));
    QCOMPARE(s->txtMessage->maxLength(), 480);
    QVERIFY(s->Label3->text().isEmpty());
    QVERIFY(s->Label5->text().isEmpty());
    QCOMPARE(s->cmdBack->text(), QStringLiteral("<< &Back"));
    QCOMPARE(s->cmdNext->text(), QStringLiteral("&Send"));
    QCOMPARE(s->cmdClose->text(), QStringLiteral("&Close"));
    QCOMPARE(s->ListNumbers->columnWidth(0), 2500 / 15);
    QVERIFY(!s->progressSend->isVisible());
}

void WizardQueueTest::lengthCounterFollowsTheCommonMessage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("warning");
    QTest::newRow("blanks only") << "   "
                                 << "Typed: 0/480 characters."
                                 << "";
    QTest::newRow("160") << QString(160, QLatin1Char('a')) << "Typed: 160/480 characters."
                         << "";
    QTest::newRow("161 with outer blanks")
        << QStringLiteral("  ") + QString(161, QLatin1Char('a')) + QStringLiteral(" ") << "Typed: 161/480 characters."
        << "** This message is longer than 160 characters. Message will be sent "
           "as 2 SMS messages.";
    QTest::newRow("321") << QString(321, QLatin1Char('a')) << "Typed: 321/480 characters."
                         << "** This message is longer than 160 characters. Message will be sent as 3 SMS messages.";
}

void WizardQueueTest::lengthCounterFollowsTheCommonMessage()
{
    QFETCH(QString, text);
    QFETCH(QString, count);
    QFETCH(QString, warning);
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    s->txtMessage->setText(text);
    QCOMPARE(s->Label3->text(), count);
    QCOMPARE(s->Label5->text(), warning);
    QVERIFY(s->Label5->font().bold());
}

void WizardQueueTest::commonMessageIsQueuedTrimmedForEveryRow()
{
    WizardRig rig;
    const QDateTime at(QDate(2024, 2, 29), QTime(13, 45, 7));
    rig.clock.set(at);
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("duplicates.txt")));
    QVERIFY(s);
    QTest::keyClicks(s->txtMessage, QStringLiteral("  Don't miss the sale  "));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent});
    const std::vector<OutboxRow> rows = rig.outbox();
    QCOMPARE(rows.size(), size_t(3));
    QCOMPARE(rig.outboxNumbers(), (QStringList{"9888812121", "+442123234455", "9888812121"}));
    for (const OutboxRow& r : rows) {
        QCOMPARE(r.message, QStringLiteral("Don't miss the sale"));
        QCOMPARE(r.recepId.toInt(), 0);
        QVERIFY(r.delivered.isNull());
        QCOMPARE(Database::FromDbTime(r.queuedAt), at);
    }
    QVERIFY(!rig.wizard.anyStepLoaded());
    QVERIFY(!rig.state.ChildWindowOpen);
}

void WizardQueueTest::blanksOnlyMessageIsRefusedEvenWithNothingChecked()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    s->Check1->click();
    s->txtMessage->setText(QStringLiteral("    "));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{"Please enter message."});
    QVERIFY(rig.outbox().empty());
    QVERIFY(rig.wizard.step5() && s->isVisible());
}

void WizardQueueTest::nothingCheckedIsRefused()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    WizardRig::setRowChecked(s, 0, false);
    WizardRig::setRowChecked(s, 1, false);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("0"));
    s->txtMessage->setText(QStringLiteral("Hello"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{"Please select mobile number from list."});
    QVERIFY(rig.outbox().empty());
    QVERIFY(rig.wizard.step5() && s->isVisible());
}

void WizardQueueTest::selectAllAndRowMarksKeepTheCount()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("duplicates.txt")));
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("3"));
    QTest::mouseClick(s->Check1, Qt::LeftButton, {}, QPoint(5, s->Check1->height() / 2));
    QVERIFY(!s->Check1->isChecked());
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("0"));
    QCOMPARE(WizardRig::text(s, "lblNoItems"), QStringLiteral("3"));
    QCOMPARE(s->numbers()->data(s->numbers()->index(2, 0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    WizardRig::setRowChecked(s, 2, true);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("1"));
    s->Check1->click();
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("3"));
    WizardRig::setRowChecked(s, 0, false);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("2"));
}

void WizardQueueTest::emptySourceShowsZeroOfZero()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("empty.txt")));
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("0"));
    QCOMPARE(WizardRig::text(s, "lblNoItems"), QStringLiteral("0"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{"Please enter message."});
    s->txtMessage->setText(QStringLiteral("Hello"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages().last(), QStringLiteral("Please select mobile number from list."));
}

void WizardQueueTest::uncheckedRowsAreNotQueued()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("duplicates.txt")));
    WizardRig::setRowChecked(s, 1, false);
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("2"));
    s->txtMessage->setText(QStringLiteral("Hi"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.outboxNumbers(), (QStringList{"9888812121", "9888812121"}));
}

void WizardQueueTest::messageBoxTreeIsRefreshedWhenOpen_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("hooked");
    QTest::addColumn<int>("fills");
    QTest::newRow("open") << true << true << 1;
    QTest::newRow("closed") << false << true << 0;
    QTest::newRow("open flag without a window") << true << false << 0;
}

void WizardQueueTest::messageBoxTreeIsRefreshedWhenOpen()
{
    QFETCH(bool, open);
    QFETCH(bool, hooked);
    QFETCH(int, fills);
    WizardRig rig;
    FakeMessageBoxView view;
    rig.state.MessageBoxOpen = open;
    rig.engine.delivery.messageBox = hooked ? &view : nullptr;
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(QStringLiteral("three-lines.txt")));
    s->txtMessage->setText(QStringLiteral("Hi"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent});
    QCOMPARE(view.treeFills, fills);
    QCOMPARE(rig.outbox().size(), size_t(2));
}

void WizardQueueTest::failurePartWayKeepsWhatWasQueued()
{
    QTemporaryDir dir;
    const QString file = writeNumbers(dir, {"111", "222", "bad", "444"});
    WizardRig rig;
    FakeMessageBoxView view;
    rig.state.MessageBoxOpen = true;
    rig.engine.delivery.messageBox = &view;
    rig.db.execute(
        QStringLiteral("CREATE TRIGGER refuse_bad BEFORE INSERT ON Message_OutBox "
                       "WHEN NEW.RecipientMobileNo = 'bad' BEGIN SELECT RAISE(ABORT, 'number refused'); END"));
    Frm_Broadtext_Step5* s = rig.textStep5(file);
    s->txtMessage->setText(QStringLiteral("Hi"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(), QStringList{"number refused"});
    QCOMPARE(rig.outboxNumbers(), (QStringList{"111", "222"}));
    QVERIFY(rig.wizard.step5() && s->isVisible());
    QVERIFY(s->cmdNext->isEnabled());
    QCOMPARE(view.treeFills, 1);
    // The rows already queued are unmarked: sending again queues only the rest.
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QStringLiteral("2"));
    rig.db.execute(QStringLiteral("DROP TRIGGER refuse_bad"));
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages().last(), Sent);
    QCOMPARE(rig.outboxNumbers(), (QStringList{"111", "222", "bad", "444"}));
}

void WizardQueueTest::manyRowsAreQueuedWithTheWindowResponsive()
{
    // More rows than a 16-bit count holds: Select All and Send take them all.
    const int n = 40000;
    QStringList numbers;
    for (int i = 0; i < n; ++i)
        numbers << QStringLiteral("98%1").arg(i, 8, 10, QLatin1Char('0'));
    QTemporaryDir dir;
    const QString file = writeNumbers(dir, numbers);
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.textStep5(file);
    QCOMPARE(WizardRig::text(s, "lblNoItems"), QString::number(n));
    s->Check1->click();
    s->Check1->click();
    QCOMPARE(WizardRig::text(s, "lblSelectedItems"), QString::number(n));
    s->txtMessage->setText(QStringLiteral("Hello"));

    // While queueing, the window keeps handling events, and refuses to close under the user's hands.
    int ticks = 0;
    bool closeTried = false;
    bool stayedOpen = false;
    bool controlsLocked = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (!closeTried && rig.wizard.step5()) {
            closeTried = true;
            controlsLocked = !s->cmdNext->isEnabled() && !s->cmdClose->isEnabled() && !s->cmdBack->isEnabled();
            s->close();
            stayedOpen = rig.wizard.step5() != nullptr;
        }
    });
    timer.start(1);
    QTest::mouseClick(s->cmdNext, Qt::LeftButton);
    timer.stop();
    QVERIFY(ticks > 0);
    QVERIFY(closeTried && stayedOpen && controlsLocked);
    QCOMPARE(rig.dialogs.messages(), QStringList{Sent});
    const QStringList queued = rig.outboxNumbers();
    QCOMPARE(queued.size(), n);
    QCOMPARE(queued.first(), numbers.first());
    QCOMPARE(queued.last(), numbers.last());
    QVERIFY(!rig.wizard.anyStepLoaded());
}

QTEST_MAIN(WizardQueueTest)
#include "tst_compose_wizard_queue.moc"
