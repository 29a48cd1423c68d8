// The auto-reply settings window: what Save stores and hands to the running call handling (which reads the
// reply from the program's state), and what the window shows when opened again, with the length counter.
#include "EngineRig.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/MessageTextEdit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

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
    return queryTexts(db, "SELECT Message || '/' || IsActive FROM AutoReply_OnMissedCall ORDER BY rowid");
}

} // namespace

class ViewsAutoReplyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void saveStoresTheTrimmedReplyAndReopeningShowsIt();
};

void ViewsAutoReplyTest::saveStoresTheTrimmedReplyAndReopeningShowsIt()
{
    EngineRig rig;
    rig.db.execute(u"DELETE FROM AutoReply_OnMissedCall"_s);
    QPointer<Frm_AutoReplyOnMissedCall> w = openWindow(rig.engine);
    QVERIFY(in<MessageTextEdit>(w, "Text_Message")->text().isEmpty());
    QVERIFY(!in<QCheckBox>(w, "chkSetMsg")->isChecked());
    QVERIFY(in<QLabel>(w, "Label3")->text().isEmpty());

    // The first Save inserts the row, trimmed, and closes the window.
    typeAndPress(w, u"   Call you back soon  "_s, true);
    QCOMPARE(stored(rig.db), QStringList{"Call you back soon/-1"});
    QVERIFY(rig.state.AutoReplyActive);
    QCOMPARE(rig.state.AutoReplyText, u"Call you back soon"_s);
    QTRY_VERIFY(w.isNull());
    QVERIFY(rig.dialogs.shown.empty());

    // Opened again it shows what was stored, with its count.
    w = openWindow(rig.engine);
    QCOMPARE(in<MessageTextEdit>(w, "Text_Message")->text(), u"Call you back soon"_s);
    QVERIFY(in<QCheckBox>(w, "chkSetMsg")->isChecked());
    QCOMPARE(in<QLabel>(w, "Label3")->text(), u"Typed: 18/480 characters."_s);
    QVERIFY(in<QLabel>(w, "Label4")->text().isEmpty());
    in<MessageTextEdit>(w, "Text_Message")->setText(QString(161, QLatin1Char('a')));
    QCOMPARE(in<QLabel>(w, "Label4")->text(), u"** This message is longer than 160 characters. Message "
                                              u"will be sent as 2 SMS messages."_s);

    // Exit stores nothing of what was changed.
    typeAndPress(w, u"Changed"_s, false, "CmdExit");
    QTRY_VERIFY(w.isNull());
    QCOMPARE(stored(rig.db), QStringList{"Call you back soon/-1"});
    QVERIFY(rig.state.AutoReplyActive);

    // A later Save updates the one row.
    w = openWindow(rig.engine);
    typeAndPress(w, u"Later"_s, false);
    QCOMPARE(stored(rig.db), QStringList{"Later/0"});
    QVERIFY(!rig.state.AutoReplyActive);
}

QTEST_MAIN(ViewsAutoReplyTest)
#include "tst_views_autoreply.moc"
