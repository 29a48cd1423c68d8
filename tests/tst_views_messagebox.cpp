// The message box on a real database: folders and counts, paging, ordering, reading, deleting, the
// toolbar, and an open box kept current by reception.
#include "EngineRig.h"
#include "TestRig.h"
#include "common/FunctionsLibrary.h"
#include "delivery/Engine.h"
#include "views/Frm_MessageBox.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>

namespace {

const QDateTime Base(QDate(2026, 3, 2), QTime(9, 0));

struct BoxRig : TestRig {
    Engine engine{state, db, log};
    BoxRig() { engine.timerRefreshHomePage.setEnabled(false); }
};

// Stored rows, as reception, the composer and the delivery run write them.
qint64 addInbox(Database& db, const QString& number, const QString& message, const QDateTime& at, bool read = false)
{
    return db.insert(
        QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, IsRead)"
                       " VALUES (?, 0, ?, ?, ?)"),
        {number, message, Database::DbTime(at), Database::DbBool(read)});
}

qint64 addOutbox(Database& db, const QString& number, const QString& message, const QDateTime& queued,
                 const QDateTime& delivered = {})
{
    return db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime,"
                                    " DeliveryStatus, DeliveryDatetime) VALUES (0, ?, ?, ?, ?, ?)"),
                     {number, message, Database::DbTime(queued),
                      delivered.isValid() ? QVariant(QStringLiteral("SENT")) : QVariant(QString()),
                      delivered.isValid() ? QVariant(Database::DbTime(delivered)) : QVariant(QString())});
}

void addManyInbox(Database& db, int n, bool sameTime = false)
{
    db.beginTransaction();
    for (int i = 0; i < n; ++i)
        addInbox(db, QStringLiteral("+4470000%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("message %1").arg(i),
                 sameTime ? Base : Base.addSecs(i), true);
    db.commit();
}

// The window as the program opens it, deleted at the end of the test if the test did not close it.
struct OpenBox {
    QPointer<Frm_MessageBox> box;
    OpenBox(Engine& engine, const QString& msgType)
    {
        engine.state.msgType = msgType;
        box = new Frm_MessageBox(engine);
        box->show();
        QCoreApplication::processEvents();
    }
    ~OpenBox() { delete box.data(); }
    Frm_MessageBox* operator->() const { return box; }
    template <class T> T* child(const char* name) const { return box->findChild<T*>(QLatin1String(name)); }
    QTreeWidget* list() const { return child<QTreeWidget>("ListMessage"); }
    QTreeWidgetItem* node(int n) const
    {
        QTreeWidgetItem* root = child<QTreeWidget>("TreeView1")->topLevelItem(0);
        return n == 1 ? root : root->child(n - 2);
    }
    QString pagesText() const { return child<QLabel>("lblPages")->text(); }
    bool nextEnabled() const { return child<QPushButton>("cmdNext")->isEnabled(); }
    bool previousEnabled() const { return child<QPushButton>("cmdPrevious")->isEnabled(); }
    QStringList column(int c) const
    {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(c);
        return out;
    }
    void clickRow(int row) const
    {
        QTreeWidget* l = list();
        const QRect r = l->visualItemRect(l->topLevelItem(row));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
    }
    void clickNode(int n) const
    {
        auto* tree = child<QTreeWidget>("TreeView1");
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node(n)).center());
    }
    void clickHeader(int column) const
    {
        QHeaderView* h = list()->header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(column) + 5, h->height() / 2));
    }
    void typePage(const QString& text) const
    {
        auto* e = child<QLineEdit>("txtPages");
        e->clear();
        QTest::keyClicks(e, text);
    }
    void toolbar(int button) const
    {
        child<QToolBar>("Toolbar1")->findChild<QAction*>(QStringLiteral("Button%1").arg(button))->trigger();
    }
};

bool storedRead(Database& db, qint64 id)
{
    return IsTrue(db.scalar(QStringLiteral("SELECT IsRead FROM Message_InBox WHERE InBox_Id = ?"), {id}));
}

qint64 rows(Database& db, const QString& table)
{
    return db.count(QStringLiteral("SELECT count(*) FROM ") + table);
}

} // namespace

class MessageBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openingFolder_data();
    void openingFolder();
    void pagesOfHundred_data();
    void pagesOfHundred();
    void pagingWithEqualDatesNeverRepeatsOrLosesARow();
    void pageBox_data();
    void pageBox();
    void emptyFolderShowsNoPageFigures();
    void columnClickOrders_data();
    void columnClickOrders();
    void rowsShowTrimmedOneLineTextAndLocalDates();
    void readingMarksUnreadMessagesRead();
    void readingAnOutboxMessageShowsItAndSelectsItsNode();
    void deleteAsksAndNeedsASelection_data();
    void deleteAsksAndNeedsASelection();
    void deleteRemovesExactlyTheSelectedRows();
    void deleteKeepsRowsThatChangedFolder_data();
    void deleteKeepsRowsThatChangedFolder();
    void receptionWhileOpen_data();
    void receptionWhileOpen();
    void toolbarNeedsAFreeModem();
    void sendButtonDeliversAndRefreshesTheTree();
    void databaseErrorsAreShownAndTheWindowStays();
    void closingUnhooksTheWindow();
};

void MessageBoxTest::openingFolder_data()
{
    QTest::addColumn<QString>("msgType");
    QTest::addColumn<int>("node");
    QTest::addColumn<QStringList>("headers");
    QTest::newRow("home page Inbox link") << "I" << 2 << QStringList{"Mobile Number", "Message", "Received On", "Id"};
    QTest::newRow("home page Outbox link")
        << "O" << 3 << QStringList{"Mobile Number", "Message", "Outbox Date", "Id", "Status"};
    QTest::newRow("menu") << "" << 0 << QStringList{};
}

void MessageBoxTest::openingFolder()
{
    QFETCH(QString, msgType);
    QFETCH(int, node);
    QFETCH(QStringList, headers);
    BoxRig rig;
    addInbox(rig.db, "+111", "unread one", Base);
    addInbox(rig.db, "+112", "unread two", Base.addSecs(1));
    addInbox(rig.db, "+113", "read", Base.addSecs(2), true);
    addOutbox(rig.db, "+221", "waiting", Base);
    addOutbox(rig.db, "+222", "sent", Base, Base.addSecs(60));

    OpenBox box(rig.engine, msgType);
    QCOMPARE(box->windowTitle(), QStringLiteral("Message Box"));
    QVERIFY(rig.state.MessageBoxOpen);
    QVERIFY(rig.state.msgType.isEmpty());
    // The tree: root, Inbox, Outbox, Sent Items, with counts in bold where something waits.
    QStringList texts;
    QList<bool> bold;
    for (int n = 1; n <= 4; ++n) {
        texts << box.node(n)->text(0);
        bold << box.node(n)->font(0).bold();
    }
    QCOMPARE(texts, (QStringList{"Message", "Inbox(2)", "Outbox(1)", "Sent Items"}));
    QCOMPARE(bold, (QList<bool>{true, true, true, false}));

    QCOMPARE(box->isInBoxSelected(), node == 2);
    QCOMPARE(box->isOutBoxSelected(), node == 3);
    QVERIFY(!box->isSentItemsSelected());
    QCOMPARE(box.list()->topLevelItemCount(), node == 2 ? 3 : node == 3 ? 1 : 0);
    QStringList shown;
    for (int c = 0; c < box.list()->columnCount() && node; ++c)
        shown << box.list()->headerItem()->text(c);
    QCOMPARE(shown, headers);
    if (node) {
        QCOMPARE(box.child<QTreeWidget>("TreeView1")->currentItem(), box.node(node));
        QVERIFY(box.list()->isColumnHidden(3));
        QVERIFY(box.list()->selectedItems().isEmpty());
    }
    if (node == 3) // the Outbox lists waiting rows only
        QCOMPARE(box.column(0), QStringList{"+221"});

    // A click on Sent Items shows it; a click on the root changes nothing.
    box.clickNode(4);
    QVERIFY(box->isSentItemsSelected());
    QCOMPARE(box.column(0), QStringList{"+222"});
    QCOMPARE(box.list()->headerItem()->text(2), QStringLiteral("Delivered On"));
    box.clickNode(1);
    QVERIFY(box->isSentItemsSelected());
    QCOMPARE(box.list()->topLevelItemCount(), 1);
}

void MessageBoxTest::pagesOfHundred_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("lastPageRows");
    QTest::newRow("250") << 250 << "of 3 Pages. Total records: 250" << 50;
    QTest::newRow("200") << 200 << "of 2 Total records: 200" << 100;
    QTest::newRow("1") << 1 << "of 1 Pages. Total records: 1" << 1;
}

void MessageBoxTest::pagesOfHundred()
{
    QFETCH(int, messages);
    QFETCH(QString, label);
    QFETCH(int, lastPageRows);
    BoxRig rig;
    addManyInbox(rig.db, messages);
    OpenBox box(rig.engine, "I");
    const qint64 pages = (messages + 99) / 100;
    QCOMPARE(box.pagesText(), label);
    QCOMPARE(box->totalPages(), pages);
    QVERIFY(!box.previousEnabled());
    QCOMPARE(box.nextEnabled(), pages > 1);
    // Newest first.
    QCOMPARE(box.list()->topLevelItem(0)->text(1), QStringLiteral("message %1").arg(messages - 1));
    while (box.nextEnabled())
        QTest::mouseClick(box.child<QPushButton>("cmdNext"), Qt::LeftButton);
    QCOMPARE(box->currentPage(), pages);
    QCOMPARE(box.list()->topLevelItemCount(), lastPageRows);
    QCOMPARE(box.list()->topLevelItem(lastPageRows - 1)->text(1), QStringLiteral("message 0"));
    QVERIFY(!box.nextEnabled());
    QCOMPARE(box.previousEnabled(), pages > 1);
    if (pages > 1) {
        QTest::mouseClick(box.child<QPushButton>("cmdPrevious"), Qt::LeftButton);
        QCOMPARE(box->currentPage(), pages - 1);
        QCOMPARE(box.list()->topLevelItemCount(), 100);
        QVERIFY(box.nextEnabled());
    }
}

void MessageBoxTest::pagingWithEqualDatesNeverRepeatsOrLosesARow()
{
    BoxRig rig;
    addManyInbox(rig.db, 250, true);
    OpenBox box(rig.engine, "I");
    QSet<QString> seen;
    for (;;) {
        for (const QString& id : box.column(3))
            seen.insert(id);
        if (!box.nextEnabled())
            break;
        box->cmdNext_Click();
    }
    QCOMPARE(seen.size(), 250);
}

void MessageBoxTest::pageBox_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("pressEnter");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<qint64>("page");
    QTest::newRow("0") << "0" << true << QStringList{"This page does not exist."} << qint64(2);
    QTest::newRow("4") << "4" << true << QStringList{"This page does not exist."} << qint64(2);
    QTest::newRow("empty") << "" << true << QStringList{"This page does not exist."} << qint64(2);
    QTest::newRow("3") << "3" << true << QStringList{} << qint64(3);
    QTest::newRow("1 with blanks") << " 1 " << true << QStringList{} << qint64(1);
    QTest::newRow("letters") << "x" << false << QStringList{"Please enter numeric value."} << qint64(2);
    QTest::newRow("minus") << "-" << false << QStringList{"Please enter numeric value."} << qint64(2);
    QTest::newRow("point") << "2." << false << QStringList{"Please enter numeric value."} << qint64(2);
    QTest::newRow("dollar") << "$" << false << QStringList{"Please enter numeric value."} << qint64(2);
}

void MessageBoxTest::pageBox()
{
    QFETCH(QString, typed);
    QFETCH(bool, pressEnter);
    QFETCH(QStringList, messages);
    QFETCH(qint64, page);
    BoxRig rig;
    addManyInbox(rig.db, 250);
    OpenBox box(rig.engine, "I");
    box->cmdNext_Click();
    rig.dialogs.clear();
    box.typePage(typed);
    if (pressEnter)
        QTest::keyClick(box.child<QLineEdit>("txtPages"), Qt::Key_Return);
    QCOMPARE(rig.dialogs.messages(), messages);
    QCOMPARE(box->currentPage(), page);
    if (!messages.isEmpty()) // the page shown is put back into the box
        QCOMPARE(box.child<QLineEdit>("txtPages")->text(), QStringLiteral("2"));
    QCOMPARE(box.list()->topLevelItemCount(), page == 3 ? 50 : 100);
}

void MessageBoxTest::emptyFolderShowsNoPageFigures()
{
    BoxRig rig;
    addManyInbox(rig.db, 250);
    OpenBox box(rig.engine, "I");
    box.clickNode(3);
    QVERIFY(box->isOutBoxSelected());
    QCOMPARE(box.list()->topLevelItemCount(), 0);
    QCOMPARE(box.pagesText(), QString());
    QVERIFY(!box.nextEnabled());
    QVERIFY(!box.previousEnabled());
}

void MessageBoxTest::columnClickOrders_data()
{
    QTest::addColumn<int>("node");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("numbers");
    // Stored: +3 "beta" first, +1 "Alpha" second, +2 "gamma" third (queued and delivered in that order).
    QTest::newRow("Inbox as opened") << 2 << -1 << QStringList{"+2", "+1", "+3"};
    QTest::newRow("Inbox by number") << 2 << 0 << QStringList{"+1", "+2", "+3"};
    QTest::newRow("Inbox by message") << 2 << 1 << QStringList{"+1", "+3", "+2"};
    QTest::newRow("Inbox by date") << 2 << 2 << QStringList{"+3", "+1", "+2"};
    QTest::newRow("Outbox as opened") << 3 << -1 << QStringList{"+3", "+1", "+2"};
    QTest::newRow("Outbox by number") << 3 << 0 << QStringList{"+1", "+2", "+3"};
    QTest::newRow("Sent as opened") << 4 << -1 << QStringList{"+2", "+1", "+3"};
    QTest::newRow("Sent by message") << 4 << 1 << QStringList{"+1", "+3", "+2"};
    QTest::newRow("Sent by date stays newest first") << 4 << 2 << QStringList{"+2", "+1", "+3"};
}

void MessageBoxTest::columnClickOrders()
{
    QFETCH(int, node);
    QFETCH(int, column);
    QFETCH(QStringList, numbers);
    BoxRig rig;
    const QStringList stored{"+3", "+1", "+2"};
    const QStringList texts{"beta", "Alpha", "gamma"};
    for (int i = 0; i < 3; ++i) {
        addInbox(rig.db, stored[i], texts[i], Base.addSecs(i));
        addOutbox(rig.db, stored[i], texts[i], Base.addSecs(i));
        addOutbox(rig.db, stored[i], texts[i], Base.addSecs(i), Base.addSecs(100 + i));
    }
    OpenBox box(rig.engine, "");
    box.clickNode(node);
    if (column >= 0) {
        box.clickHeader(column);
        box.clickHeader(column); // a second click keeps the order
    }
    QCOMPARE(box.column(0), numbers);
}

void MessageBoxTest::rowsShowTrimmedOneLineTextAndLocalDates()
{
    BoxRig rig;
    const QDateTime at(QDate(2026, 7, 14), QTime(23, 30, 5));
    addInbox(rig.db, "  +4470001  ", "  Hello\r\nWorld  ", at);
    addOutbox(rig.db, " 0777 ", " queued ", at);
    rig.db.execute("UPDATE Message_OutBox SET DeliveryStatus = ' SENDING '");
    OpenBox box(rig.engine, "I");
    QCOMPARE(box.column(0), QStringList{"+4470001"});
    QCOMPARE(box.column(1), QStringList{"Hello World"});
    QCOMPARE(box.column(2), QStringList{GeneralDateTime(at)});
    box.clickRow(0);
    QCOMPARE(box.child<QLabel>("LblNo")->text(), QStringLiteral("+4470001"));
    QCOMPARE(box.child<QPlainTextEdit>("txtMessage")->toPlainText(), QStringLiteral("  Hello\nWorld  "));
    box.clickNode(3);
    QCOMPARE(box.column(0), QStringList{"0777"});
    QCOMPARE(box.column(1), QStringList{"queued"});
    QCOMPARE(box.column(4), QStringList{"SENDING"});
}

void MessageBoxTest::readingMarksUnreadMessagesRead()
{
    BoxRig rig;
    const qint64 older = addInbox(rig.db, "+111", "first", Base);
    const qint64 newer = addInbox(rig.db, "+222", "second", Base.addSecs(1));
    OpenBox box(rig.engine, "I");
    QCOMPARE(box.node(2)->text(0), QStringLiteral("Inbox(2)"));
    QVERIFY(box.list()->topLevelItem(0)->font(0).bold());

    box.clickRow(0);
    QVERIFY(storedRead(rig.db, newer));
    QVERIFY(!storedRead(rig.db, older));
    QVERIFY(!box.list()->topLevelItem(0)->font(0).bold());
    QVERIFY(!box.list()->topLevelItem(0)->font(1).bold());
    QVERIFY(box.list()->topLevelItem(1)->font(0).bold());
    QCOMPARE(box.node(2)->text(0), QStringLiteral("Inbox(1)"));
    QVERIFY(box.node(2)->font(0).bold());
    QCOMPARE(box.child<QPlainTextEdit>("txtMessage")->toPlainText(), QStringLiteral("second"));

    box.clickRow(1);
    QVERIFY(storedRead(rig.db, older));
    QCOMPARE(box.node(2)->text(0), QStringLiteral("Inbox"));
    QVERIFY(!box.node(2)->font(0).bold());
    QCOMPARE(box.child<QTreeWidget>("TreeView1")->currentItem(), box.node(2));
    QVERIFY(box->isInBoxSelected()); // reading does not refill the list
    QCOMPARE(box.list()->topLevelItemCount(), 2);
}

void MessageBoxTest::readingAnOutboxMessageShowsItAndSelectsItsNode()
{
    BoxRig rig;
    addOutbox(rig.db, "+333", "line one\r\nline two", Base, Base.addSecs(5));
    OpenBox box(rig.engine, "");
    box.clickNode(4);
    box.clickNode(1); // the root: the list stays
    box.clickRow(0);
    QCOMPARE(box.child<QPlainTextEdit>("txtMessage")->toPlainText(), QStringLiteral("line one\nline two"));
    QCOMPARE(box.child<QLabel>("LblNo")->text(), QStringLiteral("+333"));
    QCOMPARE(box.child<QTreeWidget>("TreeView1")->currentItem(), box.node(4));
}

void MessageBoxTest::deleteAsksAndNeedsASelection_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("Yes, toolbar") << true << false << QStringList{"Please select message which you want to delete."};
    QTest::newRow("Yes, Delete key") << true << true << QStringList{"Please select message which you want to delete."};
    QTest::newRow("No") << false << false << QStringList{};
}

void MessageBoxTest::deleteAsksAndNeedsASelection()
{
    QFETCH(bool, answer);
    QFETCH(bool, byKey);
    QFETCH(QStringList, messages);
    BoxRig rig;
    addInbox(rig.db, "+111", "keep", Base);
    OpenBox box(rig.engine, "I");
    rig.dialogs.answers = {answer};
    if (byKey)
        QTest::keyClick(box.list(), Qt::Key_Delete);
    else
        box.toolbar(3);
    QCOMPARE(rig.dialogs.questions(), QStringList{"Are you sure to delete the message(s)?"});
    QCOMPARE(rig.dialogs.messages(), messages);
    QCOMPARE(rows(rig.db, "Message_InBox"), qint64(1));
    QCOMPARE(box.list()->topLevelItemCount(), 1);
}

void MessageBoxTest::deleteRemovesExactlyTheSelectedRows()
{
    BoxRig rig;
    QList<qint64> ids;
    for (int i = 0; i < 4; ++i)
        ids << addOutbox(rig.db, QStringLiteral("+50%1").arg(i), "waiting", Base.addSecs(i));
    const qint64 sent = addOutbox(rig.db, "+599", "sent", Base, Base.addSecs(9));
    OpenBox box(rig.engine, "O");
    QCOMPARE(box.node(3)->text(0), QStringLiteral("Outbox(4)"));
    box.clickRow(1);
    QTest::mouseClick(box.list()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      box.list()->visualItemRect(box.list()->topLevelItem(3)).center());
    QCOMPARE(box.list()->selectedItems().size(), 2);
    QTest::keyClick(box.list(), Qt::Key_Delete);
    QVERIFY(rig.dialogs.messages().isEmpty());
    QList<qint64> left;
    for (Query q(rig.db, "SELECT Outbox_Id FROM Message_OutBox ORDER BY Outbox_Id"); q.next();)
        left << q.value(0).toLongLong();
    QCOMPARE(left, (QList<qint64>{ids[0], ids[2], sent}));
    QCOMPARE(box.column(0), (QStringList{"+500", "+502"}));
    QCOMPARE(box.node(3)->text(0), QStringLiteral("Outbox(2)"));
    QVERIFY(box.child<QLabel>("LblNo")->text().isEmpty());
    QVERIFY(box.child<QPlainTextEdit>("txtMessage")->toPlainText().isEmpty());
}

void MessageBoxTest::deleteKeepsRowsThatChangedFolder_data()
{
    QTest::addColumn<int>("node");
    QTest::newRow("Outbox row delivered meanwhile") << 3;
    QTest::newRow("Sent row queued again meanwhile") << 4;
}

void MessageBoxTest::deleteKeepsRowsThatChangedFolder()
{
    QFETCH(int, node);
    BoxRig rig;
    const qint64 id = node == 3 ? addOutbox(rig.db, "+600", "moving", Base)
                                : addOutbox(rig.db, "+600", "moving", Base, Base.addSecs(1));
    OpenBox box(rig.engine, "");
    box.clickNode(node);
    QCOMPARE(box.list()->topLevelItemCount(), 1);
    // The row changes folder while the list still shows it.
    rig.db.execute("UPDATE Message_OutBox SET DeliveryDatetime = ? WHERE Outbox_Id = ?",
                   {node == 3 ? QVariant(Database::DbTime(Base.addSecs(2))) : QVariant(QString()), id});
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(3);
    QCOMPARE(rows(rig.db, "Message_OutBox"), qint64(1));
}

void MessageBoxTest::receptionWhileOpen_data()
{
    QTest::addColumn<int>("node");
    QTest::newRow("Inbox shown") << 2;
    QTest::newRow("Sent Items shown") << 4;
}

void MessageBoxTest::receptionWhileOpen()
{
    QFETCH(int, node);
    EngineRig rig;
    addInbox(rig.db, "+111", "old", Base);
    addOutbox(rig.db, "+222", "sent", Base, Base.addSecs(1));
    OpenBox box(rig.engine, "");
    box.clickNode(node);
    const int before = box.list()->topLevelItemCount();
    QCOMPARE(box.node(2)->text(0), QStringLiteral("Inbox(1)"));

    rig.sim.receiveSms("447700900123", "  New\r\nmessage  ");
    QVERIFY(rig.connectModem());
    rig.engine.delivery.ReceiveAllSIMMessages(qint16(ScaledDelay(rig.state.ModemDelayFactor, 400)));

    QCOMPARE(rows(rig.db, "Message_InBox"), qint64(2));
    QCOMPARE(box.node(2)->text(0), QStringLiteral("Inbox(2)"));
    QVERIFY(box.node(2)->font(0).bold());
    if (node == 2) {
        QCOMPARE(box.list()->topLevelItemCount(), before + 1);
        QTreeWidgetItem* top = box.list()->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("+447700900123"));
        QVERIFY(top->text(1).startsWith(QStringLiteral("New message")));
        QCOMPARE(top->text(2), GeneralDateTime(rig.clock.now()));
        QVERIFY(top->font(0).bold());
        // The new row reads as the same message does once the list is filled again.
        const QStringList added{top->text(0), top->text(1), top->text(2), top->text(3)};
        box->fillListInbox();
        top = box.list()->topLevelItem(0);
        QCOMPARE((QStringList{top->text(0), top->text(1), top->text(2), top->text(3)}), added);
        QVERIFY(top->font(0).bold());
        // It is a real message: reading it marks it read.
        box.clickRow(0);
        QCOMPARE(box.node(2)->text(0), QStringLiteral("Inbox(1)"));
        QVERIFY(box.child<QPlainTextEdit>("txtMessage")->toPlainText().startsWith(QStringLiteral("  New\nmessage  ")));
    } else {
        QCOMPARE(box.list()->topLevelItemCount(), before);
        QCOMPARE(box.column(0), QStringList{"+222"});
    }
}

void MessageBoxTest::toolbarNeedsAFreeModem()
{
    EngineRig rig;
    OpenBox box(rig.engine, "I");
    rig.log.clear();
    box.toolbar(1);
    box.toolbar(2);
    QVERIFY(!rig.log.text().contains("Checking"));
    QVERIFY(rig.dialogs.shown.empty());

    QVERIFY(rig.connectModem());
    rig.state.ReceivingBusy = true;
    rig.log.clear();
    box.toolbar(1);
    QVERIFY(!rig.log.text().contains("Checking for new SMS on SIM card."));
    rig.state.ReceivingBusy = false;
    box.toolbar(1);
    QVERIFY(rig.log.text().contains("Checking for new SMS on SIM card."));
    QVERIFY(rig.log.text().contains("No new SMS found on SIM card."));
}

void MessageBoxTest::sendButtonDeliversAndRefreshesTheTree()
{
    EngineRig rig;
    rig.queue("+447700900555", "hello");
    OpenBox box(rig.engine, "O");
    QCOMPARE(box.node(3)->text(0), QStringLiteral("Outbox(1)"));
    QVERIFY(rig.connectModem());
    rig.log.clear();
    box.toolbar(2);
    QVERIFY(rig.log.text().contains("Checking if there are any SMS to be sent."));
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(box.node(3)->text(0), QStringLiteral("Outbox"));
    QVERIFY(!box.node(3)->font(0).bold());
    box.clickNode(4);
    QCOMPARE(box.column(0), QStringList{"+447700900555"});
}

void MessageBoxTest::databaseErrorsAreShownAndTheWindowStays()
{
    BoxRig rig;
    addInbox(rig.db, "+111", "shown before the failure", Base);
    OpenBox box(rig.engine, "I");
    rig.db.close();
    const QString error = QStringLiteral("The message database is not open.");
    box.clickRow(0);
    QCOMPARE(rig.dialogs.messages(), QStringList{error});
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(3); // the failure is shown, not "Please select message ..."
    QCOMPARE(rig.dialogs.messages(), (QStringList{error, error}));
    rig.dialogs.clear();
    box.clickNode(4);
    QCOMPARE(rig.dialogs.messages(), QStringList{error});
    QVERIFY(box->isVisible());
}

void MessageBoxTest::closingUnhooksTheWindow()
{
    BoxRig rig;
    auto* box = new Frm_MessageBox(rig.engine);
    QPointer<Frm_MessageBox> alive(box);
    QVERIFY(rig.state.MessageBoxOpen);
    QCOMPARE(rig.engine.delivery.messageBox, static_cast<MessageBoxView*>(box));
    box->show();
    box->close();
    QVERIFY(!rig.state.MessageBoxOpen);
    QVERIFY(!rig.engine.delivery.messageBox);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive.isNull());
    // Reception after closing finds no window to update.
    rig.engine.delivery.RefreshMessageBox();
}

QTEST_MAIN(MessageBoxTest)
#include "tst_views_messagebox.moc"
