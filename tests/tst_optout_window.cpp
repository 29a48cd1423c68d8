// The opt-out window: adding a number by hand (and what that does to the rows queued to it), what the list
// shows, taking numbers off only when the user says yes, the CSV export read back, the settings saved and
// shown again, and the main window's menu item that opens it.
#include "TestRig.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "common/Csv.h"
#include "delivery/Engine.h"
#include "store/ModemsRepository.h"
#include "store/OptOutRepository.h"
#include "views/Frm_Campaigns.h"
#include "views/Frm_OptOutList.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

const QDateTime Start(QDate(2024, 3, 15), QTime(9, 30));

struct WindowRig : TestRig {
    Engine engine{state, db, log};
    QPointer<Frm_OptOutList> window;

    WindowRig() { clock.set(Start); }
    ~WindowRig() { delete window.data(); }

    Frm_OptOutList* open()
    {
        delete window.data();
        window = new Frm_OptOutList(engine);
        window->show();
        return window;
    }
    template <class W> W* child(const char* name) { return window->findChild<W*>(QLatin1String(name)); }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    QTreeWidget* list() { return child<QTreeWidget>("lstOptOut"); }
    // Each row as "number | when | modem | word".
    QStringList rows()
    {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* r = list()->topLevelItem(i);
            out << QStringList{r->text(0), r->text(1), r->text(2), r->text(3)}.join(" | ");
        }
        return out;
    }
    qint64 queue(const QString& number, bool sent = false)
    {
        return db.insert("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                         "DeliveryDatetime) VALUES (0, ?, 'offer', ?, ?)",
                         {number, Database::DbTime(Start), sent ? QVariant(Database::DbTime(Start)) : QVariant()});
    }
    QStringList statuses() { return queryTexts(db, "SELECT DeliveryStatus FROM Message_OutBox ORDER BY Outbox_Id"); }
};

QString shown(const QDateTime& t)
{
    return t.toString(u"dd/MM/yyyy HH:mm"_s);
}

} // namespace

class OptOutWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addHoldsBackQueuedRows_data();
    void addHoldsBackQueuedRows();
    void listShowsWhenWhereAndWhy();
    void removeAsksFirst_data();
    void removeAsksFirst();
    void exportReadsBack();
    void settingsSaveAndReadBack_data();
    void settingsSaveAndReadBack();
    void menuOpensTheWindow();
};

void OptOutWindowTest::addHoldsBackQueuedRows_data()
{
    QTest::addColumn<QString>("listed"); // already on the list before the window opens
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("numbers"); // the list afterwards
    QTest::addColumn<int>("optedOut");        // waiting rows to +447700900123 marked

    QTest::newRow("another spelling of the queued number")
        << QString() << u" 07700 900123 "_s
        << u"07700 900123 added to the opt-out list. 2 waiting message(s) to it marked OPTED OUT."_s
        << QStringList{u"07700 900123"_s} << 2;
    QTest::newRow("nothing queued to it") << QString() << u"+1 (555) 010-9999"_s
                                          << u"+1 (555) 010-9999 added to the opt-out list. 0 waiting message(s) to "
                                             "it marked OPTED OUT."_s
                                          << QStringList{u"+1 (555) 010-9999"_s} << 0;
    QTest::newRow("not a number") << QString() << u"John"_s << u"Please enter a valid mobile number."_s << QStringList{}
                                  << 0;
    QTest::newRow("already listed") << u"+447700900123"_s << u"0044 7700 900123"_s
                                    << u"0044 7700 900123 is already on the opt-out list."_s
                                    << QStringList{u"+447700900123"_s} << 0;
}

void OptOutWindowTest::addHoldsBackQueuedRows()
{
    QFETCH(QString, listed);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QStringList, numbers);
    QFETCH(int, optedOut);
    WindowRig rig;
    // Two waiting, one already sent (left as it is), one to someone else.
    rig.queue(u"+447700900123"_s);
    rig.queue(u"07700900123"_s);
    rig.queue(u"+447700900123"_s, true);
    rig.queue(u"+447700900555"_s);
    if (!listed.isEmpty())
        QVERIFY(OptOutRepository(rig.db).add(listed, Start.addDays(-1)));
    rig.open();
    rig.child<QLineEdit>("txtOptOutNumber")->setText(typed);
    rig.click("cmdAddOptOut");

    QCOMPARE(rig.dialogs.messages(), QStringList{message});
    QStringList inList;
    for (const OptOutEntry& e : OptOutRepository(rig.db).list())
        inList << e.number;
    QCOMPARE(inList, numbers);
    QCOMPARE(rig.list()->topLevelItemCount(), numbers.size());
    const QString held = QString::fromLatin1(OptOutRepository::OptedOutStatus);
    QCOMPARE(rig.statuses(), (QStringList{optedOut ? held : QString(), optedOut ? held : QString(), {}, {}}));
}

void OptOutWindowTest::listShowsWhenWhereAndWhy()
{
    WindowRig rig;
    ModemConfig office;
    office.name = u"Office"_s;
    const int officeId = ModemsRepository(rig.db).save(office);
    OptOutRepository list(rig.db);
    QVERIFY(list.add(u"+447700900123"_s, Start.addSecs(-7200), officeId, u"STOP"_s));
    QVERIFY(list.add(u"+447700900456"_s, Start.addSecs(-3600), officeId + 5, u"QUIT"_s)); // a modem since removed
    rig.open();
    rig.child<QLineEdit>("txtOptOutNumber")->setText(u"07700900789"_s);
    rig.click("cmdAddOptOut");

    // The most recent first; one added by hand has neither modem nor word.
    QCOMPARE(rig.rows(),
             (QStringList{
                 u"07700900789 | %1 |  | "_s.arg(shown(Start)),
                 u"+447700900456 | %1 | Modem %2 | QUIT"_s.arg(shown(Start.addSecs(-3600))).arg(officeId + 5),
                 u"+447700900123 | %1 | Office | STOP"_s.arg(shown(Start.addSecs(-7200))),
             }));
}

void OptOutWindowTest::removeAsksFirst_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("left");

    QTest::newRow("one, yes") << QList<int>{1} << true
                              << u"Remove 07700900222 from the opt-out list? Messages to it will be sent again."_s
                              << QStringList{u"07700900333"_s, u"07700900111"_s};
    QTest::newRow("one, no") << QList<int>{1} << false
                             << u"Remove 07700900222 from the opt-out list? Messages to it will be sent again."_s
                             << QStringList{u"07700900333"_s, u"07700900222"_s, u"07700900111"_s};
    QTest::newRow("two, yes") << QList<int>{0, 2} << true
                              << u"Remove the 2 selected numbers from the opt-out list? Messages to them will be "
                                 "sent again."_s
                              << QStringList{u"07700900222"_s};
}

void OptOutWindowTest::removeAsksFirst()
{
    QFETCH(QList<int>, selected);
    QFETCH(bool, answer);
    QFETCH(QString, question);
    QFETCH(QStringList, left);
    WindowRig rig;
    OptOutRepository list(rig.db);
    for (int i = 1; i <= 3; ++i)
        QVERIFY(list.add(u"07700900%1"_s.arg(i * 111), Start.addSecs(i)));
    rig.open();
    for (int row : selected)
        rig.list()->topLevelItem(row)->setSelected(true);
    rig.dialogs.answers = {answer};
    rig.click("cmdRemoveOptOut");

    QCOMPARE(rig.dialogs.questions(), QStringList{question});
    QStringList stored, shownNumbers;
    for (const OptOutEntry& e : list.list())
        stored << e.number;
    for (int i = 0; i < rig.list()->topLevelItemCount(); ++i)
        shownNumbers << rig.list()->topLevelItem(i)->text(0);
    QCOMPARE(stored, left);
    QCOMPARE(shownNumbers, left);
}

void OptOutWindowTest::exportReadsBack()
{
    WindowRig rig;
    OptOutRepository list(rig.db);
    // A word with a comma and a quote is written quoted, and read back whole.
    QVERIFY(list.add(u"+447700900123"_s, Start, 1, u"STOP, \"please\""_s));
    QVERIFY(list.add(u"07700900456"_s, Start.addSecs(60)));
    rig.open();

    rig.click("cmdExportOptOut"); // cancelled: nothing written, nothing said
    QCOMPARE(rig.dialogs.messages(), QStringList{});

    const QString path = rig.dir.filePath(u"out.csv"_s);
    rig.dialogs.fileNames = {path};
    rig.click("cmdExportOptOut");
    QCOMPARE(rig.dialogs.messages(), QStringList{u"2 numbers exported to %1."_s.arg(path)});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray expected = CsvRecord({u"Number"_s, u"Added On"_s, u"Modem"_s, u"Word"_s});
    for (const OptOutEntry& e : list.list())
        expected += CsvRecord({e.number, e.added.toString(Qt::ISODate), e.modem ? u"Modem 1"_s : QString(), e.word});
    QCOMPARE(file.readAll(), expected);
    QCOMPARE(rig.dialogs.lastFilter, u"CSV Files (*.csv)|*.csv"_s);
}

void OptOutWindowTest::settingsSaveAndReadBack_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("startRemoves");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("storedWords"); // empty with a refusal: what was there stays

    QTest::newRow("words tidied, answer on")
        << u"stop\n  Halt \n\nSTOP\n"_s << true << u"  You are off the list. "_s << true << u"Opt-out settings saved."_s
        << QStringList{u"STOP"_s, u"HALT"_s};
    QTest::newRow("no words at all") << u" \n"_s << false << QString() << false
                                     << u"Please enter at least one stop word."_s << OptOutSettings::DefaultStopWords();
    QTest::newRow("answer without text") << u"STOP"_s << true << u"   "_s << false
                                         << u"Please enter the confirmation text."_s
                                         << OptOutSettings::DefaultStopWords();
}

void OptOutWindowTest::settingsSaveAndReadBack()
{
    QFETCH(QString, words);
    QFETCH(bool, confirm);
    QFETCH(QString, text);
    QFETCH(bool, startRemoves);
    QFETCH(QString, message);
    QFETCH(QStringList, storedWords);
    WindowRig rig;
    rig.open();
    // The window starts from what is stored: the default words.
    QCOMPARE(rig.child<QPlainTextEdit>("txtStopWords")->toPlainText(), OptOutSettings::DefaultStopWords().join('\n'));
    rig.child<QPlainTextEdit>("txtStopWords")->setPlainText(words);
    rig.child<QCheckBox>("chkOptOutConfirm")->setChecked(confirm);
    rig.child<QLineEdit>("txtOptOutConfirmText")->setText(text);
    rig.child<QCheckBox>("chkOptOutStartRemoves")->setChecked(startRemoves);
    rig.click("cmdSaveOptOut");
    QCOMPARE(rig.dialogs.messages(), QStringList{message});

    const bool saved = message == u"Opt-out settings saved."_s;
    const OptOutSettings stored = ReadOptOutSettings(rig.db);
    QCOMPARE(stored.stopWords, storedWords);
    QCOMPARE(stored.confirm, saved && confirm);
    QCOMPARE(stored.confirmText, saved ? text.trimmed() : QString());
    QCOMPARE(stored.startRemoves, saved && startRemoves);

    // A window opened afresh shows what is stored.
    rig.open();
    QCOMPARE(rig.child<QPlainTextEdit>("txtStopWords")->toPlainText(), stored.stopWords.join('\n'));
    QCOMPARE(rig.child<QCheckBox>("chkOptOutConfirm")->isChecked(), stored.confirm);
    QCOMPARE(rig.child<QLineEdit>("txtOptOutConfirmText")->text(), stored.confirmText);
    QCOMPARE(rig.child<QLineEdit>("txtOptOutConfirmText")->isEnabled(), stored.confirm);
    QCOMPARE(rig.child<QCheckBox>("chkOptOutStartRemoves")->isChecked(), stored.startRemoves);
}

void OptOutWindowTest::menuOpensTheWindow()
{
    TestRig rig(false);
    Broadtext program{rig.state};
    program.engine.timerRefreshHomePage.setEnabled(false);
    QVERIFY(program.Main(QSize(1280, 800)));
    program.showMainWindow();
    MDI_Frmmanage* main = program.mainWindow.get();
    QAction* item = main->menuItem(u"mnuOptOut"_s);
    QVERIFY(item);
    QCOMPARE(item->text(), u"Opt-out List"_s);
    QVERIFY(main->findChild<QMenu*>(u"mnuSMSMessages"_s)->actions().contains(item));

    const auto visible = [main] {
        QList<Frm_OptOutList*> open;
        for (Frm_OptOutList* w : main->findChildren<Frm_OptOutList*>())
            if (w->isVisible())
                open << w;
        return open;
    };
    item->trigger();
    const QList<Frm_OptOutList*> first = visible();
    QCOMPARE(first.size(), 1);
    QCOMPARE(first[0]->objectName(), u"Frm_OptOutList"_s);
    item->trigger(); // the open one comes forward, no second one
    QCOMPARE(visible(), first);

    // The campaigns window opens from the same menu, once.
    QAction* campaigns = main->menuItem(u"mnuCampaigns"_s);
    QVERIFY(campaigns && main->findChild<QMenu*>(u"mnuSMSMessages"_s)->actions().contains(campaigns));
    campaigns->trigger();
    campaigns->trigger();
    QCOMPARE(main->findChildren<Frm_Campaigns*>().size(), 1);
    QVERIFY(main->findChild<Frm_Campaigns*>(u"Frm_Campaigns"_s)->isVisible());
}

QTEST_MAIN(OptOutWindowTest)
#include "tst_optout_window.moc"
