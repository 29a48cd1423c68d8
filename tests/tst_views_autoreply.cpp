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

template <class T> T* in(QWidget* window, const char* name)
{
    return window->findChild<T*>(QLatin1String(name));
}

QPointer<Frm_AutoReplyOnMissedCall> openWindow(Engine& engine)
{
    auto* w = new Frm_AutoReplyOnMissedCall(engine);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

void typeAndPress(Frm_AutoReplyOnMissedCall* w, const QString& text, bool active, const char* button = "Cmdsend")
{
    auto* edit = in<MessageTextEdit>(w, "Text_Message");
    edit->clear();
    QTest::keyClicks(edit, text);
    in<QCheckBox>(w, "chkSetMsg")->setChecked(active);
    QTest::mouseClick(in<QPushButton>(w, button), Qt::LeftButton);
}

// The stored rows as "message/IsActive".
QStringList stored(Database& db)
{
    QStringList out;
    for (Query q(db, "SELECT Message, IsActive FROM AutoReply_OnMissedCall ORDER BY rowid"); q.next();)
        out << q.value(0).toString() + "/" + q.value(1).toString();
    return out;
}

QStringList outboxReplies(Database& db)
{
    QStringList out;
    for (Query q(db, "SELECT RecipientMobileNo, Message FROM Message_OutBox ORDER BY Outbox_Id"); q.next();)
        out << q.value(0).toString() + ": " + q.value(1).toString();
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
    QTest::qWait(300); // the NO CARRIER line reaches the call handling
    rig.engine.timerRefreshHomePage_Timer();
    QTest::qWait(400); // the call watch's answer comes back
}

} // namespace

class ViewsAutoReplyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void saveStoresTheTrimmedReplyAndReopeningShowsIt();
    void lengthCounterCountsTheTrimmedText_data();
    void lengthCounterCountsTheTrimmedText();
    void savedChangesReachCallHandlingAtOnce();
};

void ViewsAutoReplyTest::saveStoresTheTrimmedReplyAndReopeningShowsIt()
{
    EngineRig rig;
    rig.db.execute(QStringLiteral("DELETE FROM AutoReply_OnMissedCall"));
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    QVERIFY(in<MessageTextEdit>(w, "Text_Message")->text().isEmpty());
    QVERIFY(!in<QCheckBox>(w, "chkSetMsg")->isChecked());
    QVERIFY(in<QLabel>(w, "Label3")->text().isEmpty());

    // The first Save inserts the row, trimmed, and closes the window.
    typeAndPress(w, QStringLiteral("   Call you back soon  "), true);
    QCOMPARE(stored(rig.db), QStringList{"Call you back soon/-1"});
    QVERIFY(rig.state.AutoReplyActive);
    QCOMPARE(rig.state.AutoReplyText, QStringLiteral("Call you back soon"));
    QTRY_VERIFY(w.isNull());
    QVERIFY(rig.dialogs.shown.empty());

    // Opened again it shows what was stored, with its count.
    w = openWindow(rig.engine);
    QCOMPARE(in<MessageTextEdit>(w, "Text_Message")->text(), QStringLiteral("Call you back soon"));
    QVERIFY(in<QCheckBox>(w, "chkSetMsg")->isChecked());
    QCOMPARE(in<QLabel>(w, "Label3")->text(), QStringLiteral("Typed: 18/480 characters."));
    QVERIFY(in<QLabel>(w, "Label4")->text().isEmpty());

    // Exit stores nothing of what was changed.
    typeAndPress(w, QStringLiteral("Changed"), false, "CmdExit");
    QTRY_VERIFY(w.isNull());
    QCOMPARE(stored(rig.db), QStringList{"Call you back soon/-1"});
    QVERIFY(rig.state.AutoReplyActive);

    // A later Save updates the one row.
    w = openWindow(rig.engine);
    typeAndPress(w, QStringLiteral("Later"), false);
    QCOMPARE(stored(rig.db), QStringList{"Later/0"});
}

void ViewsAutoReplyTest::lengthCounterCountsTheTrimmedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("warning");
    QTest::newRow("161") << QString(161, QLatin1Char('a')) << QStringLiteral("Typed: 161/480 characters.")
                         << QStringLiteral("** This message is longer than 160 characters. Message will be sent as 2 "
                                           "SMS messages.");
    QTest::newRow("blanks around 160") << QStringLiteral("  ") + QString(160, QLatin1Char('b')) + QStringLiteral(" ")
                                       << QStringLiteral("Typed: 160/480 characters.") << QString();
}

void ViewsAutoReplyTest::lengthCounterCountsTheTrimmedText()
{
    QFETCH(QString, text);
    QFETCH(QString, count);
    QFETCH(QString, warning);
    EngineRig rig;
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    in<MessageTextEdit>(w, "Text_Message")->setText(text);
    QCOMPARE(in<QLabel>(w, "Label3")->text(), count);
    QCOMPARE(in<QLabel>(w, "Label4")->text(), warning);
    w->close();
}

void ViewsAutoReplyTest::savedChangesReachCallHandlingAtOnce()
{
    EngineRig rig;
    // Start-up found the reply switched off and no text.
    QVERIFY(!rig.state.AutoReplyActive);
    QVERIFY(rig.connectModem());

    // Ticking with a new text: the next missed call gets that text, without a restart.
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    typeAndPress(w, QStringLiteral(" I'll ring you back "), true);
    QTRY_VERIFY(w.isNull());
    missedCall(rig, Caller);
    QCOMPARE(outboxReplies(rig.db), QStringList{Caller + QStringLiteral(": I'll ring you back")});

    // Unticking stops the replies at once.
    w = openWindow(rig.engine);
    typeAndPress(w, QStringLiteral("I'll ring you back"), false);
    QVERIFY(!rig.state.AutoReplyActive);
    QCOMPARE(stored(rig.db), QStringList{"I'll ring you back/0"});
    missedCall(rig, Caller); // recorded, but not answered
    QCOMPARE(outboxReplies(rig.db).size(), 1);
}

QTEST_MAIN(ViewsAutoReplyTest)
#include "tst_views_autoreply.moc"
