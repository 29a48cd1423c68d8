// The message box on a real database: folders and counts, paging, ordering, searching, reading, deleting,
// the toolbar, and an open box kept current by reception.
#include "EngineRig.h"
#include "TestRig.h"
#include "TreeTexts.h"
#include "common/FunctionsLibrary.h"
#include "delivery/Engine.h"
#include "views/Frm_MessageBox.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
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
    const bool sent = delivered.isValid();
    return db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime,"
                                    " DeliveryStatus, DeliveryDatetime) VALUES (0, ?, ?, ?, ?, ?)"),
                     {number, message, Database::DbTime(queued), sent ? QStringLiteral("SENT") : QString(),
                      sent ? Database::DbTime(delivered) : QString()});
}

// n messages in one folder, each with its own number, a second apart unless at the same time.
void addMany(Database& db, MessageFolder folder, int n, bool sameTime = false)
{
    db.beginTransaction();
    for (int i = 0; i < n; ++i) {
        const QString number = QStringLiteral("+44%1").arg(i);
        if (folder == MessageFolder::Inbox)
            addInbox(db, number, QStringLiteral("message %1").arg(i), sameTime ? Base : Base.addSecs(i), true);
        else
            addOutbox(db, number, QStringLiteral("message %1").arg(i), Base.addSecs(i),
                      folder == MessageFolder::SentItems ? Base.addSecs(i + 60) : QDateTime());
    }
    db.commit();
}

bool storedRead(Database& db, qint64 id)
{
    return IsTrue(db.scalar(QStringLiteral("SELECT IsRead FROM Message_InBox WHERE InBox_Id = ?"), {id}));
}

// The window as the program opens it, deleted at the end of the test if the test did not close it.
struct OpenBox {
    QPointer<Frm_MessageBox> box;
    OpenBox(Engine& engine, const QString& msgType)
    {
        engine.appState().msgType = msgType;
        box = new Frm_MessageBox(engine);
        box->show();
        QCoreApplication::processEvents();
    }
    ~OpenBox() { delete box.data(); }
    Frm_MessageBox* operator->() const { return box; }
    template <class T> T* child(const char* name) const { return box->findChild<T*>(QLatin1String(name)); }
    QTreeWidget* list() const { return child<QTreeWidget>("ListMessage"); }
    QTreeWidget* tree() const { return child<QTreeWidget>("TreeView1"); }
    QTreeWidgetItem* node(int n) const
    {
        return n == 1 ? tree()->topLevelItem(0) : tree()->topLevelItem(0)->child(n - 2);
    }
    // The four nodes as shown, "*" marking bold.
    QStringList nodes() const
    {
        QStringList out;
        for (int n = 1; n <= 4; ++n)
            out << node(n)->text(0) + (node(n)->font(0).bold() ? QStringLiteral("*") : QString());
        return out;
    }
    QStringList headers() const { return HeaderTexts(list()); }
    QString pagesText() const { return child<QLabel>("lblPages")->text(); }
    QString pageBox() const { return child<QLineEdit>("txtPages")->text(); }
    void search(const QString& text) const
    {
        auto* box = child<QLineEdit>("txtSearch");
        box->setText(text); // as pasted: the key simulation knows no accented letters
        QTest::keyClick(box, Qt::Key_Return);
    }
    bool nextEnabled() const { return child<QPushButton>("cmdNext")->isEnabled(); }
    bool previousEnabled() const { return child<QPushButton>("cmdPrevious")->isEnabled(); }
    QStringList column(int c) const { return ColumnTexts(list(), c); }
    bool rowBold(int row) const { return list()->topLevelItem(row)->font(0).bold(); }
    // The reading pane: number and whole text.
    QString pane() const
    {
        return child<QLabel>("LblNo")->text() + QStringLiteral(" | ") +
               child<QPlainTextEdit>("txtMessage")->toPlainText();
    }
    void clickRow(int row, Qt::KeyboardModifiers mod = {}) const
    {
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, mod,
                          list()->visualItemRect(list()->topLevelItem(row)).center());
    }
    void clickNode(int n) const
    {
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(node(n)).center());
    }
    void clickHeader(int column) const
    {
        QHeaderView* h = list()->header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(column) + 5, h->height() / 2));
    }
    void toolbar(int button) const
    {
        QAction* action = child<QToolBar>("Toolbar1")->findChild<QAction*>(QStringLiteral("Button%1").arg(button));
        QVERIFY(action);
        action->trigger();
    }
};

} // namespace

class MessageBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openingOnTheOutboxAndSwitchingFolders();
    void pagesOfHundred_data();
    void pagesOfHundred();
    void pageBox();
    void searchByNumberOrWords_data();
    void searchByNumberOrWords();
    void searchPagesEachFolderAndFollowsChanges();
    void outboxColumnsFitWithAttemptsAndReason();
    void columnClickOrders_data();
    void columnClickOrders();
    void readingShowsAndMarksMessages();
    void deletingAsksAndRemovesOnlySelectedRowsOfTheShownFolder();
    void deletingAllInAFolderAsksWithTheNumber_data();
    void deletingAllInAFolderAsksWithTheNumber();
    void deletingAllWhileSearchingDeletesWhatWasFound();
    void selectionIsKeptAcrossPagesAndDeletedWhole();
    void aMessageBeingSentIsNotDeleted();
    void receptionWhileOpen();
    void toolbarNeedsAFreeModemAndRefreshesTheTree();
    void databaseErrorsAreShownAndTheWindowStays();
    void escapeClosesAndUnhooksTheWindow();
};

void MessageBoxTest::openingOnTheOutboxAndSwitchingFolders()
{
    BoxRig rig;
    addInbox(rig.db, "+111", "unread one", Base);
    addInbox(rig.db, "+112", "unread two", Base.addSecs(1));
    addInbox(rig.db, "+113", "read", Base.addSecs(2), true);
    addOutbox(rig.db, "+221", "waiting", Base);
    addOutbox(rig.db, "+222", "sent", Base, Base.addSecs(60));

    // From the home page's Outbox link: the Outbox at once, waiting rows only.
    OpenBox box(rig.engine, "O");
    QCOMPARE(box->windowTitle(), "Message Box");
    QCOMPARE(box.nodes(), (QStringList{"Message*", "Inbox(2)*", "Outbox(1)*", "Sent Items"}));
    QVERIFY(box->isOutBoxSelected());
    QCOMPARE(box.tree()->currentItem(), box.node(3));
    QCOMPARE(box.headers(),
             (QStringList{"Mobile Number", "Message", "Outbox Date", "Id", "Status", "Attempts", "Reason"}));
    QCOMPARE(box.column(0), QStringList{"+221"});
    QVERIFY(box.list()->isColumnHidden(3));

    box.clickNode(2);
    QVERIFY(box->isInBoxSelected());
    QCOMPARE(box.headers(), (QStringList{"Mobile Number", "Message", "Received On", "Id"}));
    QCOMPARE(box.column(0), (QStringList{"+113", "+112", "+111"}));
    box.clickNode(4);
    QVERIFY(box->isSentItemsSelected());
    QCOMPARE(box.headers()[2], "Delivered On");
    QCOMPARE(box.column(0), QStringList{"+222"});

    // From the menu, with no folder asked for: the Inbox, not an empty list.
    OpenBox plain(rig.engine, "");
    QVERIFY(plain->isInBoxSelected());
    QCOMPARE(plain.tree()->currentItem(), plain.node(2));
    QCOMPARE(plain.column(0), (QStringList{"+113", "+112", "+111"}));
}

void MessageBoxTest::pagesOfHundred_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<bool>("sameTime");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("lastPageRows");
    QTest::newRow("250") << 250 << false << "of 3 Pages. Total records: 250" << 50;
    QTest::newRow("200") << 200 << false << "of 2 Total records: 200" << 100;
    QTest::newRow("1") << 1 << false << "of 1 Pages. Total records: 1" << 1;
    QTest::newRow("250 received at the same time") << 250 << true << "of 3 Pages. Total records: 250" << 50;
}

void MessageBoxTest::pagesOfHundred()
{
    QFETCH(int, messages);
    QFETCH(bool, sameTime);
    QFETCH(QString, label);
    QFETCH(int, lastPageRows);
    BoxRig rig;
    addMany(rig.db, MessageFolder::Inbox, messages, sameTime);
    OpenBox box(rig.engine, "I");
    const qint64 pages = (messages + 99) / 100;
    QCOMPARE(box.pagesText(), label);
    QCOMPARE(box.pageBox(), "1");
    QVERIFY(!box.previousEnabled());

    // Walking to the end shows every row once, even when dates are equal.
    QSet<QString> seen;
    for (;;) {
        for (const QString& id : box.column(3))
            seen.insert(id);
        if (!box.nextEnabled())
            break;
        QTest::mouseClick(box.child<QPushButton>("cmdNext"), Qt::LeftButton);
        QCOMPARE(box.pageBox(), QString::number(box->currentPage()));
    }
    QCOMPARE(seen.size(), messages);
    QCOMPARE(box->currentPage(), pages);
    QCOMPARE(box.list()->topLevelItemCount(), lastPageRows);
    QCOMPARE(box.previousEnabled(), pages > 1);
    if (pages > 1) {
        QTest::mouseClick(box.child<QPushButton>("cmdPrevious"), Qt::LeftButton);
        QCOMPARE(box->currentPage(), pages - 1);
        QCOMPARE(box.list()->topLevelItemCount(), 100);
    }

    // An empty folder shown afterwards leaves no page figures or buttons behind.
    box.clickNode(3);
    QCOMPARE(box.list()->topLevelItemCount(), 0);
    QCOMPARE(box.pagesText(), QString());
    QCOMPARE(box.pageBox(), QString());
    QVERIFY(!box.nextEnabled());
    QVERIFY(!box.previousEnabled());
}

void MessageBoxTest::pageBox()
{
    const QString missing = "This page does not exist.";
    const QString numeric = "Please enter numeric value.";
    struct Case {
        QString typed;
        bool enter;
        QString message;
        qint64 page;
    };
    const QList<Case> cases{{"0", true, missing, 2},  {"4", true, missing, 2},  {"", true, missing, 2},
                            {"3", true, {}, 3},       {" 1 ", true, {}, 1},     {"x", false, numeric, 2},
                            {"-", false, numeric, 2}, {"2.", false, numeric, 2}};
    BoxRig rig;
    addMany(rig.db, MessageFolder::Inbox, 250);
    OpenBox box(rig.engine, "I");
    auto* edit = box.child<QLineEdit>("txtPages");
    for (const Case& c : cases) {
        box->cmdNext_Click();
        if (box->currentPage() == 3)
            box->cmdPrevious_Click();
        rig.dialogs.clear();
        edit->clear();
        QTest::keyClicks(edit, c.typed);
        if (c.enter)
            QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(rig.dialogs.messages(), c.message.isEmpty() ? QStringList{} : QStringList{c.message});
        QCOMPARE(box->currentPage(), c.page);
        QCOMPARE(box.list()->topLevelItemCount(), c.page == 3 ? 50 : 100);
        QCOMPARE(edit->text(), QString::number(c.page)); // the page shown, whatever was typed
    }

    // A sort keeps the page and shows it; a folder of one page shows 1, not what was typed before.
    edit->clear();
    QTest::keyClicks(edit, "3");
    QTest::keyClick(edit, Qt::Key_Return);
    box.clickHeader(1);
    QCOMPARE(box->currentPage(), 3);
    QCOMPARE(edit->text(), "3");
    edit->clear();
    QTest::keyClicks(edit, "4");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), "3");
    addOutbox(rig.db, "+1", "sent", Base, Base.addSecs(1));
    box.clickNode(4);
    QCOMPARE(edit->text(), "1");
}

void MessageBoxTest::searchByNumberOrWords_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("numbers");
    // Stored oldest first, shown newest first (see the rows in searchByNumberOrWords).
    auto row = [](const char* typed, const QStringList& numbers) { QTest::newRow(typed) << QString(typed) << numbers; };
    row("", {"+441210002120", "VM-HDFCBK", "+447700900555", "+44 7700-900.123", "+919888812121"});
    row("98888", {"+919888812121"});
    row("7700900", {"+447700900555", "+44 7700-900.123"}); // digits, whatever stands between them
    row("+44 7700-900", {"+447700900555", "+44 7700-900.123"});
    row("12121", {"+919888812121"}); // "+441210002120" has 121 and 212, but not in one run
    row("55", {"+447700900555"});    // too short for the index: still found
    row("parc", {"+447700900555", "+44 7700-900.123"});
    row("PARCEL dep", {"+44 7700-900.123"});
    row("cafe", {"+447700900555"});
    row("café", {"+447700900555"});
    row("arcel", {});
    row("top up", {"VM-HDFCBK"});
    row("invoice 4471", {"+441210002120"});
}

void MessageBoxTest::searchByNumberOrWords()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, numbers);
    BoxRig rig;
    // An older file: its rows were stored before the search indexes existed. (A server's indexes are the
    // table's own and were always there.)
    const bool olderFile = !rig.db.isServer();
    if (olderFile)
        for (const char* sql : {"DROP TABLE Message_InBox_words", "DROP TABLE Message_InBox_digits",
                                "DROP TRIGGER Message_InBox_search_insert"})
            rig.db.execute(sql);
    const char* rows[][2] = {{"+919888812121", "Meeting moved to Tuesday at ten"},
                             {"+44 7700-900.123", "Your parcel is waiting at the depot"},
                             {"+447700900555", "Parcel delivered, café Nero"},
                             {"VM-HDFCBK", "Balance low: top up soon"},
                             {"+441210002120", "Invoice 4471 due Friday"}};
    for (int i = 0; i < 5; ++i)
        addInbox(rig.db, rows[i][0], rows[i][1], Base.addSecs(i));
    if (olderFile)
        rig.db.open(rig.db.filePath());

    OpenBox box(rig.engine, "I");
    box.search(typed);
    QCOMPARE(box.column(0), numbers);
    QCOMPARE(box.pagesText(), numbers.isEmpty() ? "No message found."
                                                : QStringLiteral("of 1 Pages. Total records: %1").arg(numbers.size()));
    QCOMPARE(box.nodes()[1], "Inbox(5)*"); // the tree counts the folder, not the search
}

void MessageBoxTest::searchPagesEachFolderAndFollowsChanges()
{
    BoxRig rig;
    // Sent Items: every fifth a parcel (2030), one in 400 an invoice; delivered in the order of the numbers.
    rig.db.beginTransaction();
    for (int i = 0; i < 10150; ++i)
        addOutbox(rig.db, QStringLiteral("+44%1").arg(i),
                  i % 5 == 0 ? "your parcel" : (i % 400 == 7 ? "invoice due" : "see you"), Base.addSecs(i),
                  Base.addSecs(20000 + i));
    rig.db.commit();
    for (int i = 0; i < 3; ++i)
        addOutbox(rig.db, QStringLiteral("+33%1").arg(i), i ? "parcel waiting" : "other", Base.addSecs(i));
    OpenBox box(rig.engine, "O");
    box.search("parcel");
    QCOMPARE(box.column(0), (QStringList{"+331", "+332"}));

    // The search stays as the folder changes; common, rarer and rare matches are each found once, in order.
    box.clickNode(4);
    QCOMPARE(box.pagesText(), "of 21 Pages. Total records: 2030");
    QCOMPARE(box.column(0).first(), "+4410145");
    auto* pageBox = box.child<QLineEdit>("txtPages");
    for (auto [page, first, last] : {std::tuple{11, "+445145", "+444650"}, {21, "+44145", "+440"}}) {
        pageBox->setText(QString::number(page));
        box->txtPages_Enter();
        QCOMPARE(box.column(0).first(), first);
        QCOMPARE(box.column(0).last(), last);
    }
    box.clickHeader(0);
    QCOMPARE(box.column(0).last(), "+449995");
    box.search("invoice");
    QCOMPARE(box.pagesText(), "of 1 Pages. Total records: 26");
    QCOMPARE(box.column(0).mid(0, 2), (QStringList{"+4410007", "+441207"}));

    // Stored changes are found at once: an edited text, a deleted row, a new row.
    rig.db.execute("UPDATE Message_OutBox SET Message = 'your letter' WHERE RecipientMobileNo = '+331'");
    rig.db.execute("DELETE FROM Message_OutBox WHERE RecipientMobileNo = '+332'");
    addOutbox(rig.db, "+334", "Parcels galore", Base);
    box.clickNode(3);
    box.search("parcel");
    QCOMPARE(box.column(0), QStringList{"+334"});
    box.search("letter");
    QCOMPARE(box.column(0), QStringList{"+331"});

    // Typing searches once it pauses; clearing shows the whole folder at once.
    auto* edit = box.child<QLineEdit>("txtSearch");
    edit->clear();
    QTest::keyClicks(edit, "othe");
    QTRY_COMPARE(box.column(0), QStringList{"+330"});
    edit->clear();
    QCOMPARE(box.column(0), (QStringList{"+330", "+334", "+331"}));
}

void MessageBoxTest::outboxColumnsFitWithAttemptsAndReason()
{
    BoxRig rig;
    addOutbox(rig.db, "+919888812121", "A long message that needs more room than its column has", Base);
    OpenBox box(rig.engine, "O");
    QVERIFY(box->frameGeometry().width() <= 1024 && box->frameGeometry().height() <= 768);
    // Every column shown has a heading and its share of the width; no scroll bar is needed to reach any.
    QStringList shown;
    for (int c = 0; c < box.list()->columnCount(); ++c) {
        if (box.list()->isColumnHidden(c))
            continue;
        shown << box.headers()[c];
        QVERIFY2(box.list()->columnWidth(c) >= 50, qPrintable(box.headers()[c]));
    }
    QCOMPARE(shown, (QStringList{"Mobile Number", "Message", "Outbox Date", "Status", "Attempts", "Reason"}));
    QCOMPARE(box.list()->horizontalScrollBar()->maximum(), 0);
    QVERIFY(box.list()->header()->length() >= box.list()->viewport()->width() - 3);
    QCOMPARE(box.column(5), QStringList{"0"}); // not tried yet
    // The longest status is read whole.
    QVERIFY(box.list()->columnWidth(4) > box.list()->fontMetrics().horizontalAdvance("INVALID NUMBER"));

    // The attempts and the last failure's reason, on one line.
    rig.db.execute("UPDATE Message_OutBox SET Attempts = 2, LastError = '+CMS ERROR: 38\r\nnetwork out of order'");
    box.clickNode(3);
    QCOMPARE(box.column(5), QStringList{"2"});
    QCOMPARE(box.column(6), QStringList{"+CMS ERROR: 38 network out of order"});

    // A reason too long for its column, after a network failure that gave the attempt back: the row read shows
    // the whole record under the message.
    const QString reason =
        QStringLiteral("+CMS ERROR: 38 (network out of order) while the network was gone for all messages");
    rig.db.execute("UPDATE Message_OutBox SET Attempts = 0, LastError = ?", {reason});
    box.clickNode(3);
    auto* record = box.child<QLabel>("lblOutboxRecord");
    QVERIFY(record);
    QVERIFY(record->text().isEmpty());
    box.clickRow(0);
    QCOMPARE(record->text(), QStringLiteral("Status: waiting to be sent\nAttempts: 0\nLast failure: ") + reason);
    rig.db.execute("UPDATE Message_OutBox SET Attempts = 2, NextAttempt = ?", {Database::DbTime(Base.addSecs(120))});
    box.clickNode(3);
    QVERIFY(record->text().isEmpty());
    box.clickRow(0);
    QCOMPARE(record->text(), QStringLiteral("Status: waiting to be sent\nAttempts: 2\nNext attempt: ") +
                                 GeneralDateTime(Base.addSecs(120)) + QStringLiteral("\nLast failure: ") + reason);

    // Given up after the fifth attempt; the user sends it again.
    rig.db.execute("UPDATE Message_OutBox SET Attempts = 5, DeliveryStatus = 'FAILED'");
    box.clickNode(3);
    QCOMPARE(box.column(4), QStringList{"FAILED"});
    box.toolbar(4);
    QCOMPARE(rig.dialogs.messages().last(), "Please select the failed messages in the Outbox.");
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(4);
    QCOMPARE(box.column(4), QStringList{""});
    QCOMPARE(box.column(5), QStringList{"0"});
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(4);
    QCOMPARE(rig.dialogs.messages().last(), "None of the selected messages has failed.");
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

void MessageBoxTest::readingShowsAndMarksMessages()
{
    BoxRig rig;
    const QDateTime at(QDate(2026, 7, 14), QTime(23, 30, 5));
    const qint64 older = addInbox(rig.db, "+111", "first", Base);
    const qint64 newer = addInbox(rig.db, "  +4470001  ", "  Hello\r\nWorld  ", at);
    addOutbox(rig.db, " 0777 ", " queued ", at);
    rig.db.execute("UPDATE Message_OutBox SET DeliveryStatus = ' SENDING '");
    addOutbox(rig.db, "+333", "line one\r\nline two", Base, Base.addSecs(5));
    OpenBox box(rig.engine, "I");
    // The list shows trimmed one-line texts and local dates; the pane shows the whole message.
    QCOMPARE(box.column(0), (QStringList{"+4470001", "+111"}));
    QCOMPARE(box.column(1), (QStringList{"Hello World", "first"}));
    QCOMPARE(box.column(2).first(), GeneralDateTime(at));
    QCOMPARE(box.nodes()[1], "Inbox(2)*");
    QVERIFY(box.rowBold(0));

    box.clickRow(0);
    QCOMPARE(box.pane(), "+4470001 |   Hello\nWorld  ");
    QVERIFY(storedRead(rig.db, newer));
    QVERIFY(!storedRead(rig.db, older));
    QVERIFY(!box.rowBold(0));
    QVERIFY(!box.list()->topLevelItem(0)->font(1).bold());
    QVERIFY(box.rowBold(1));
    QCOMPARE(box.nodes()[1], "Inbox(1)*");

    // The last unread one: the node loses its count and weight; the list is not refilled.
    box.clickRow(1);
    QVERIFY(storedRead(rig.db, older));
    QCOMPARE(box.nodes()[1], "Inbox");
    QCOMPARE(box.tree()->currentItem(), box.node(2));
    QCOMPARE(box.list()->topLevelItemCount(), 2);

    box.clickNode(3);
    QCOMPARE(box.column(0), QStringList{"0777"});
    QCOMPARE(box.column(1), QStringList{"queued"});
    QCOMPARE(box.column(4), QStringList{"SENDING"});
    // Reading a Sent Items row after a click on the root selects its folder again.
    box.clickNode(4);
    box.clickNode(1);
    box.clickRow(0);
    QCOMPARE(box.pane(), "+333 | line one\nline two");
    QCOMPARE(box.tree()->currentItem(), box.node(4));
}

void MessageBoxTest::deletingAsksAndRemovesOnlySelectedRowsOfTheShownFolder()
{
    BoxRig rig;
    QList<qint64> ids;
    for (int i = 0; i < 4; ++i)
        ids << addOutbox(rig.db, QStringLiteral("+50%1").arg(i), "waiting", Base.addSecs(i));
    const qint64 sent = addOutbox(rig.db, "+599", "sent", Base, Base.addSecs(9));
    const auto left = [&] {
        QList<qint64> out;
        for (Query q(rig.db, "SELECT Outbox_Id FROM Message_OutBox ORDER BY Outbox_Id"); q.next();)
            out << q.value(0).toLongLong();
        return out;
    };
    OpenBox box(rig.engine, "O");
    QCOMPARE(box.nodes()[2], "Outbox(4)*");

    // Nothing selected: nothing to ask about.
    box.toolbar(3);
    QVERIFY(rig.dialogs.questions().isEmpty());
    QCOMPARE(rig.dialogs.messages(), QStringList{"Please select message which you want to delete."});
    QCOMPARE(left().size(), 5);

    // Two selected rows, by the Delete key: asked with their number; No keeps them, Yes deletes exactly those.
    rig.dialogs.clear();
    box.clickRow(1);
    box.clickRow(3, Qt::ControlModifier);
    QCOMPARE(box.list()->selectedItems().size(), 2);
    rig.dialogs.answers = {false, true};
    QTest::keyClick(box.list(), Qt::Key_Delete);
    QCOMPARE(left().size(), 5);
    QTest::keyClick(box.list(), Qt::Key_Delete);
    QCOMPARE(rig.dialogs.questions(), QStringList(2, "Delete 2 messages from the Outbox?"));
    QCOMPARE(rig.dialogs.messages(), QStringList());
    QCOMPARE(left(), (QList<qint64>{ids[0], ids[2], sent}));
    QCOMPARE(box.column(0), (QStringList{"+500", "+502"}));
    QCOMPARE(box.nodes()[2], "Outbox(2)*");
    QCOMPARE(box.pane(), " | ");

    // Rows that changed folder while shown are left alone: one delivered meanwhile...
    rig.db.execute("UPDATE Message_OutBox SET DeliveryDatetime = ? WHERE Outbox_Id = ?",
                   {Database::DbTime(Base.addSecs(2)), ids[0]});
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(3);
    QCOMPARE(left().size(), 3);
    // ...and one queued again while Sent Items shows it: a Sent Items delete never removes an Outbox row.
    box.clickNode(4);
    QCOMPARE(box.column(0), (QStringList{"+599", "+500"}));
    rig.db.execute("UPDATE Message_OutBox SET DeliveryDatetime = ? WHERE Outbox_Id = ?", {QString(), sent});
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(3);
    QCOMPARE(left(), (QList<qint64>{ids[0], ids[2], sent}));
}

void MessageBoxTest::deletingAllInAFolderAsksWithTheNumber_data()
{
    QTest::addColumn<MessageFolder>("folder");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("nodesAfter");
    QTest::newRow("Inbox") << MessageFolder::Inbox << "Delete 843 messages from the Inbox?"
                           << QStringList{"Message*", "Inbox", "Outbox(2)*", "Sent Items"};
    QTest::newRow("Outbox") << MessageFolder::Outbox << "Delete 843 messages from the Outbox?"
                            << QStringList{"Message*", "Inbox(2)*", "Outbox", "Sent Items"};
    QTest::newRow("Sent Items") << MessageFolder::SentItems << "Delete 843 messages from the Sent Items?"
                                << QStringList{"Message*", "Inbox(2)*", "Outbox(2)*", "Sent Items"};
}

void MessageBoxTest::deletingAllInAFolderAsksWithTheNumber()
{
    QFETCH(MessageFolder, folder);
    BoxRig rig;
    addMany(rig.db, folder, 843);
    // Two messages in each of the other folders, which stay.
    for (int i = 0; i < 2; ++i) {
        if (folder != MessageFolder::Inbox)
            addInbox(rig.db, "+111", "other", Base);
        if (folder != MessageFolder::Outbox)
            addOutbox(rig.db, "+222", "other", Base);
        if (folder != MessageFolder::SentItems)
            addOutbox(rig.db, "+333", "other", Base, Base.addSecs(1));
    }
    const auto counts = [&] {
        return QList<qint64>{FoldersRepository(rig.db).count(MessageFolder::Inbox),
                             FoldersRepository(rig.db).count(MessageFolder::Outbox),
                             FoldersRepository(rig.db).count(MessageFolder::SentItems)};
    };
    OpenBox box(rig.engine, "");
    box.clickNode(int(folder) + 2);
    QCOMPARE(box.pagesText(), "of 9 Pages. Total records: 843");

    rig.dialogs.answers = {false};
    box.toolbar(5);
    QCOMPARE(FoldersRepository(rig.db).count(folder), 843);
    box.toolbar(5);
    QTEST(rig.dialogs.questions().value(0), "question");
    QCOMPARE(rig.dialogs.questions().size(), 2);
    QVERIFY(rig.dialogs.messages().isEmpty());
    QList<qint64> expected(3, 2);
    expected[int(folder)] = 0;
    QCOMPARE(counts(), expected);
    // The page shows what is left: nothing, with no figures of the folder as it was.
    QCOMPARE(box.list()->topLevelItemCount(), 0);
    QCOMPARE(box.pagesText(), QString());
    QVERIFY(!box.nextEnabled());
    QTEST(box.nodes(), "nodesAfter");

    box.toolbar(5);
    QCOMPARE(rig.dialogs.questions().size(), 2);
    QCOMPARE(rig.dialogs.messages().size(), 1);
}

void MessageBoxTest::deletingAllWhileSearchingDeletesWhatWasFound()
{
    BoxRig rig;
    addMany(rig.db, MessageFolder::Outbox, 843);
    for (int i = 0; i < 3; ++i)
        addOutbox(rig.db, "+555", "lottery win", Base.addSecs(i));
    addOutbox(rig.db, "+555", "lottery win", Base, Base.addSecs(5));
    OpenBox box(rig.engine, "O");
    box.search("lottery");
    QCOMPARE(box.list()->topLevelItemCount(), 3);
    box.toolbar(5);
    QCOMPARE(rig.dialogs.questions(), QStringList{"Delete 3 messages from the Outbox?"});
    QCOMPARE(FoldersRepository(rig.db).count(MessageFolder::Outbox), 843);
    QCOMPARE(FoldersRepository(rig.db).count(MessageFolder::SentItems), 1);
    QCOMPARE(box.pagesText(), "No message found.");
}

void MessageBoxTest::selectionIsKeptAcrossPagesAndDeletedWhole()
{
    BoxRig rig;
    addMany(rig.db, MessageFolder::Outbox, 843);
    OpenBox box(rig.engine, "O");
    const auto selected = [&] {
        auto* label = box.child<QLabel>("lblSelected");
        return label ? label->text() : QStringLiteral("no lblSelected");
    };
    const auto goTo = [&](int page) {
        auto* pages = box.child<QLineEdit>("txtPages");
        pages->setText(QString::number(page));
        QTest::keyClick(pages, Qt::Key_Return);
    };

    // A plain click on another page chooses anew.
    box.clickRow(0);
    box.child<QPushButton>("cmdNext")->click();
    box.clickRow(5);
    QCOMPARE(selected(), "1 selected");

    // Two on the first page and the whole last page, chosen one page after the other.
    goTo(1);
    QVERIFY(box.list()->selectedItems().isEmpty());
    box.clickRow(0);
    box.clickRow(1, Qt::ControlModifier);
    goTo(9);
    QCOMPARE(box.list()->topLevelItemCount(), 43);
    box.list()->setFocus();
    QTest::keyClick(box.list(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(selected(), "45 selected");
    goTo(1);
    QCOMPARE(box.list()->selectedItems().size(), 2);
    QCOMPARE(box.list()->selectedItems().first()->text(0), "+440");

    goTo(9);
    QTest::keyClick(box.list(), Qt::Key_Delete);
    QCOMPARE(rig.dialogs.questions(), QStringList{"Delete 45 messages from the Outbox?"});
    QCOMPARE(FoldersRepository(rig.db).count(MessageFolder::Outbox), 798);
    QCOMPARE(rig.db.count("SELECT count(*) FROM Message_OutBox WHERE RecipientMobileNo IN ('+440', '+441', '+442')"),
             1);
    // The page count and total as they are now, on the last page there is.
    QCOMPARE(box.pagesText(), "of 8 Pages. Total records: 798");
    QCOMPARE(box.pageBox(), "8");
    QCOMPARE(box->currentPage(), 8);
    QCOMPARE(selected(), QString());
    QCOMPARE(box.nodes()[2], "Outbox(798)*");
}

void MessageBoxTest::aMessageBeingSentIsNotDeleted()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.sim.setNetworkDelayMs(800);
    for (int i = 0; i < 3; ++i)
        rig.queue(QStringLiteral("+4477009001%1").arg(i), QStringLiteral("text %1").arg(i));
    CommandGate submission(rig.sim, QStringLiteral("AT+CMGS="));
    rig.engine.Timer2_Timer();
    QVERIFY(submission.held());
    OpenBox box(rig.engine, "O");
    box.toolbar(5);
    QCOMPARE(rig.dialogs.questions(), QStringList{"Delete 3 messages from the Outbox?"});
    QCOMPARE(rig.dialogs.messages(),
             QStringList{"One message is being sent right now and was not deleted: it stays in the Outbox until the "
                         "modem has finished with it."});
    QCOMPARE(box.column(0), QStringList{"+44770090010"});
    QCOMPARE(box.column(4), QStringList{"SENDING"});
    submission.open();
    // The run records what the network said about it and sends nothing more.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.sending(), 10000);
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(FoldersRepository(rig.db).count(MessageFolder::SentItems), 1);
    QCOMPARE(FoldersRepository(rig.db).count(MessageFolder::Outbox), 0);

    // Paused, the Send button says why nothing starts.
    rig.queue("+447700900555", "later");
    rig.engine.setDeliveryPaused(true);
    box.toolbar(2);
    QVERIFY(!rig.engine.sending());
    QCOMPARE(rig.dialogs.messages().last(), "Delivery is paused. Close this window and choose Resume Delivery in the "
                                            "main window to send the Outbox.");
}

void MessageBoxTest::receptionWhileOpen()
{
    EngineRig rig;
    addInbox(rig.db, "+111", "old", Base);
    addOutbox(rig.db, "+222", "sent", Base, Base.addSecs(1));
    QVERIFY(rig.connectModem());
    // Sent a minute and a half before it is picked up: the list shows when it was sent.
    const auto receive = [&](const QString& text) {
        rig.sim.storeMessage("REC UNREAD", "447700900123", text, false, rig.clock.now().addSecs(-90));
        rig.receive();
    };
    OpenBox box(rig.engine, "I");
    QCOMPARE(box.nodes()[1], "Inbox(1)*");

    // The Inbox shown: the message appears at the top in bold, and it is the stored one.
    receive("  New\r\nmessage  ");
    QCOMPARE(box.nodes()[1], "Inbox(2)*");
    QCOMPARE(box.column(0), (QStringList{"+447700900123", "+111"}));
    QVERIFY(box.column(1).first().startsWith("New message"));
    QCOMPARE(box.column(2).first(), GeneralDateTime(rig.clock.now().addSecs(-90)));
    QVERIFY(box.rowBold(0));
    box.clickRow(0);
    QCOMPARE(box.nodes()[1], "Inbox(1)*");
    QVERIFY(box.pane().startsWith("+447700900123 |   New\nmessage  "));

    // Sent Items shown: only the count moves.
    box.clickNode(4);
    receive("Another");
    QCOMPARE(box.nodes()[1], "Inbox(2)*");
    QCOMPARE(box.column(0), QStringList{"+222"});
}

void MessageBoxTest::toolbarNeedsAFreeModemAndRefreshesTheTree()
{
    EngineRig rig;
    rig.queue("+447700900555", "hello");
    OpenBox box(rig.engine, "O");
    const auto started = [&] { return rig.log.text().contains("Checking"); };
    // Not connected neither button starts anything; a reception already under way holds back button 1.
    box.toolbar(1);
    box.toolbar(2);
    QVERIFY(!started());
    QVERIFY(rig.connectModem());
    rig.log.clear();
    const qsizetype logged = rig.logFile().size();
    const auto checks = [&](const char* line) { return rig.logFile().mid(logged).count(QLatin1String(line)); };
    rig.engine.Timer1_Timer();
    box.toolbar(1);
    QCOMPARE(checks("Checking for new SMS on SIM card."), 1);
    QVERIFY(rig.dialogs.shown.empty());
    QTRY_VERIFY(!rig.engine.receiving());

    box.toolbar(1);
    QCOMPARE(checks("Checking for new SMS on SIM card."), 2);
    QTRY_COMPARE(checks("No new SMS found on SIM card."), 2);
    QCOMPARE(rig.log.text().count("No new SMS found on SIM card."), 1); // the timer's check found nothing
    QCOMPARE(rig.sim.sent().size(), 0);
    box.toolbar(2);
    QVERIFY(rig.log.text().contains("Checking if there are any SMS to be sent."));
    QTRY_COMPARE(rig.sim.sent().size(), 1);
    QTRY_COMPARE(box.nodes()[2], "Outbox");
    box.clickNode(4);
    QCOMPARE(box.column(0), QStringList{"+447700900555"});
}

void MessageBoxTest::databaseErrorsAreShownAndTheWindowStays()
{
    BoxRig rig;
    addInbox(rig.db, "+111", "shown before the failure", Base);
    OpenBox box(rig.engine, "I");
    rig.db.close();
    box.clickRow(0);
    box.list()->topLevelItem(0)->setSelected(true);
    box.toolbar(3); // the failure is shown, not "Please select message ..."
    box.clickNode(4);
    QCOMPARE(rig.dialogs.messages(), QStringList(3, "The message database is not open."));
    QVERIFY(box->isVisible());
    // What a modem's run or another computer changed is followed without a box: nobody here asked for it, and
    // the database watch tells the user once.
    Q_EMIT rig.engine.outboxChanged();
    Q_EMIT rig.engine.inboxMessageStored("+112", "stored by a modem", Base, 2);
    QCOMPARE(rig.dialogs.messages().size(), 3);
}

void MessageBoxTest::escapeClosesAndUnhooksTheWindow()
{
    BoxRig rig;
    OpenBox box(rig.engine, "");
    QVERIFY(rig.state.MessageBoxOpen);
    box->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(box.box));
    QTest::keyClick(box.list(), Qt::Key_Escape);
    QVERIFY(!rig.state.MessageBoxOpen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(box.box.isNull());
    Q_EMIT rig.engine.inboxChanged(); // reception after closing finds no window to update
}

QTEST_MAIN(MessageBoxTest)
#include "tst_views_messagebox.moc"
