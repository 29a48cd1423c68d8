// The auto-reply settings window: what Save stores, what the window shows when opened again, the length
// counter under the text, and that a saved change reaches the running call handling at once.
#include "EngineRig.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/MessageTextEdit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

namespace {

const QString Caller = QStringLiteral("+919812345678");

QPointer<Frm_AutoReplyOnMissedCall> openWindow(Engine& engine)
{
    auto* w = new Frm_AutoReplyOnMissedCall(engine);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

void typeAndSave(Frm_AutoReplyOnMissedCall* w, const QString& text, bool active)
{
    auto* edit = w->findChild<MessageTextEdit*>(QStringLiteral("Text_Message"));
    edit->clear();
    QTest::keyClicks(edit, text);
    w->findChild<QCheckBox*>(QStringLiteral("chkSetMsg"))->setChecked(active);
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Cmdsend")), Qt::LeftButton);
}

struct StoredReply {
    qint64 rows = 0;
    QString message;
    int active = 0;
};

StoredReply stored(Database& db)
{
    StoredReply r;
    r.rows = db.count(QStringLiteral("SELECT count(*) FROM AutoReply_OnMissedCall"));
    Query q(db, QStringLiteral("SELECT Message, IsActive FROM AutoReply_OnMissedCall ORDER BY rowid LIMIT 1"));
    if (q.next()) {
        r.message = q.value(0).toString();
        r.active = q.value(1).toInt();
    }
    return r;
}

QStringList outboxReplies(Database& db)
{
    QStringList out;
    Query q(db, QStringLiteral("SELECT RecipientMobileNo, Message FROM Message_OutBox ORDER BY Outbox_Id"));
    while (q.next())
        out << q.value(0).toString() + QStringLiteral(": ") + q.value(1).toString();
    return out;
}

// One call from `number` that rings twice and is given up, then the refresh tick that notices it ended.
void missedCall(EngineRig& rig, const QString& number)
{
    const qint64 before = rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics"));
    rig.sim.incomingCall(number, 2, 300, true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), before + 1,
                              5000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.sim.callRinging(), 5000);
    QTest::qWait(300); // the NO CARRIER line reaches the receive event
    rig.engine.timerRefreshHomePage_Timer();
}

} // namespace

class ViewsAutoReplyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstSaveInsertsTheRowTrimmed();
    void reopeningShowsTheStoredReply();
    void exitStoresNothing();
    void lengthCounterUnderTheText_data();
    void lengthCounterUnderTheText();
    void untickingStopsRepliesAtOnce();
    void tickingWithANewTextRepliesWithoutRestart();
};

void ViewsAutoReplyTest::firstSaveInsertsTheRowTrimmed()
{
    EngineRig rig;
    rig.db.execute(QStringLiteral("DELETE FROM AutoReply_OnMissedCall"));
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    QVERIFY(w->findChild<MessageTextEdit*>(QStringLiteral("Text_Message"))->text().isEmpty());
    QVERIFY(!w->findChild<QCheckBox*>(QStringLiteral("chkSetMsg"))->isChecked());

    typeAndSave(w, QStringLiteral("   Sorry, I missed your call.  "), true);

    const StoredReply r = stored(rig.db);
    QCOMPARE(r.rows, 1);
    QCOMPARE(r.message, QStringLiteral("Sorry, I missed your call."));
    QCOMPARE(r.active, -1);
    QVERIFY(rig.state.AutoReplyActive);
    QCOMPARE(rig.state.AutoReplyText, QStringLiteral("Sorry, I missed your call."));
    QTRY_VERIFY(w.isNull()); // Save closes the window
    QVERIFY(rig.dialogs.shown.empty());
}

void ViewsAutoReplyTest::reopeningShowsTheStoredReply()
{
    EngineRig rig;
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    // Fresh database: the row exists, empty and off; the labels stay blank until the text changes.
    QVERIFY(w->findChild<QLabel*>(QStringLiteral("Label3"))->text().isEmpty());
    typeAndSave(w, QStringLiteral("  Call you back soon "), true);
    QCOMPARE(stored(rig.db).rows, 1);

    QPointer<Frm_AutoReplyOnMissedCall> again = openWindow(rig.engine);
    QCOMPARE(again->findChild<MessageTextEdit*>(QStringLiteral("Text_Message"))->text(),
             QStringLiteral("Call you back soon"));
    QVERIFY(again->findChild<QCheckBox*>(QStringLiteral("chkSetMsg"))->isChecked());
    QCOMPARE(again->findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("Typed: 18/480 characters."));
    QVERIFY(again->findChild<QLabel*>(QStringLiteral("Label4"))->text().isEmpty());
    again->close();
}

void ViewsAutoReplyTest::exitStoresNothing()
{
    EngineRig rig;
    rig.db.execute(QStringLiteral("UPDATE AutoReply_OnMissedCall SET Message = ?, IsActive = ?"),
                   {QStringLiteral("Kept"), -1});
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    auto* edit = w->findChild<MessageTextEdit*>(QStringLiteral("Text_Message"));
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("Changed"));
    w->findChild<QCheckBox*>(QStringLiteral("chkSetMsg"))->setChecked(false);
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("CmdExit")), Qt::LeftButton);
    QTRY_VERIFY(w.isNull());
    const StoredReply r = stored(rig.db);
    QCOMPARE(r.message, QStringLiteral("Kept"));
    QCOMPARE(r.active, -1);
}

void ViewsAutoReplyTest::lengthCounterUnderTheText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("warning");
    const QString warning =
        QStringLiteral("** This message is longer than 160 characters. Message will be sent as %1 SMS "
                       "messages.");
    QTest::newRow("160") << QString(160, QLatin1Char('a')) << QStringLiteral("Typed: 160/480 characters.") << QString();
    QTest::newRow("161") << QString(161, QLatin1Char('a')) << QStringLiteral("Typed: 161/480 characters.")
                         << warning.arg(2);
    QTest::newRow("blanks around 161") << QStringLiteral("  ") + QString(161, QLatin1Char('b')) + QStringLiteral(" ")
                                       << QStringLiteral("Typed: 161/480 characters.") << warning.arg(2);
    QTest::newRow("beyond the limit") << QString(500, QLatin1Char('c')) << QStringLiteral("Typed: 480/480 characters.")
                                      << warning.arg(3);
}

void ViewsAutoReplyTest::lengthCounterUnderTheText()
{
    QFETCH(QString, text);
    QFETCH(QString, count);
    QFETCH(QString, warning);
    EngineRig rig;
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    auto* edit = w->findChild<MessageTextEdit*>(QStringLiteral("Text_Message"));
    edit->setText(text);
    QCOMPARE(w->findChild<QLabel*>(QStringLiteral("Label3"))->text(), count);
    QCOMPARE(w->findChild<QLabel*>(QStringLiteral("Label4"))->text(), warning);
    w->close();
}

void ViewsAutoReplyTest::untickingStopsRepliesAtOnce()
{
    EngineRig rig;
    // As start-up leaves it with an active reply.
    rig.db.execute(QStringLiteral("UPDATE AutoReply_OnMissedCall SET Message = ?, IsActive = ?"),
                   {QStringLiteral("Busy now"), -1});
    rig.state.AutoReplyActive = true;
    rig.state.AutoReplyText = QStringLiteral("Busy now");
    QVERIFY(rig.connectModem());

    missedCall(rig, Caller);
    QCOMPARE(outboxReplies(rig.db), QStringList{Caller + QStringLiteral(": Busy now")});

    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    QVERIFY(w->findChild<QCheckBox*>(QStringLiteral("chkSetMsg"))->isChecked());
    w->findChild<QCheckBox*>(QStringLiteral("chkSetMsg"))->setChecked(false);
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Cmdsend")), Qt::LeftButton);
    QVERIFY(!rig.state.AutoReplyActive);
    QCOMPARE(stored(rig.db).active, 0);

    missedCall(rig, Caller);
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM MissedCallStatistics")), 2);
    QCOMPARE(outboxReplies(rig.db).size(), 1);
}

void ViewsAutoReplyTest::tickingWithANewTextRepliesWithoutRestart()
{
    EngineRig rig;
    // Start-up found the reply switched off and no text.
    QVERIFY(!rig.state.AutoReplyActive);
    QVERIFY(rig.state.AutoReplyText.isEmpty());
    QVERIFY(rig.connectModem());

    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    typeAndSave(w, QStringLiteral(" I'll ring you back "), true);
    QTRY_VERIFY(w.isNull());

    missedCall(rig, Caller);
    QCOMPARE(outboxReplies(rig.db), QStringList{Caller + QStringLiteral(": I'll ring you back")});
}

QTEST_MAIN(ViewsAutoReplyTest)
#include "tst_views_autoreply.moc"
