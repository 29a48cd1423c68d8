// The message box's modem column: the Inbox and Sent Items name the modem (and SIM) that received or sent each
// row once the folder holds the rows of more than one, and have no such column otherwise; ordering by it;
// widths kept before it existed.
#include "TestRig.h"
#include "TreeTexts.h"
#include "common/Paths.h"
#include "delivery/Engine.h"
#include "views/Frm_MessageBox.h"
#include "views/MessageBoxFolders.h"

#include <QHeaderView>
#include <QPointer>
#include <QSettings>
#include <QTreeWidget>

namespace {

const QDateTime Base(QDate(2026, 3, 2), QTime(9, 0));

struct BoxRig : TestRig {
    Engine engine{state, db, log};
    BoxRig() { engine.timerRefreshHomePage.setEnabled(false); }

    // Rows as reception and the delivery run store them: number i, a minute apart, named after the modem
    // given (none when empty).
    void add(MessageFolder folder, const QStringList& modems)
    {
        for (int i = 0; i < modems.size(); ++i) {
            const QVariant modem = modems[i].isEmpty() ? QVariant() : QVariant(modems[i]);
            const QString at = Database::DbTime(Base.addSecs(60 * i));
            if (folder == MessageFolder::Inbox)
                db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime,"
                                         " IsRead, ModemName) VALUES (?, 0, 'hello', ?, ?, ?)"),
                          {QStringLiteral("+44%1").arg(i), at, Database::DbBool(true), modem});
            else
                db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message,"
                                         " OutBoxDateTime, DeliveryStatus, DeliveryDatetime, ModemName)"
                                         " VALUES (0, ?, 'hello', ?, 'SENT', ?, ?)"),
                          {QStringLiteral("+44%1").arg(i), at, at, modem});
        }
    }
};

struct OpenBox {
    QPointer<Frm_MessageBox> box;
    OpenBox(Engine& engine, MessageFolder folder)
    {
        box = new Frm_MessageBox(engine);
        box->show();
        QCoreApplication::processEvents();
        if (folder != MessageFolder::Inbox)
            box->TreeView1_NodeClick(folder == MessageFolder::Outbox ? 3 : 4);
    }
    ~OpenBox() { delete box.data(); }
    Frm_MessageBox* operator->() const { return box; }
    QTreeWidget* list() const { return box->findChild<QTreeWidget*>(QStringLiteral("ListMessage")); }
    QStringList headers() const { return HeaderTexts(list()); }
    QStringList shownHeaders() const { return HeaderTexts(list(), true); } // the hidden id left out
    QStringList column(int c) const { return ColumnTexts(list(), c); }
    void clickHeader(int column) const
    {
        QHeaderView* h = list()->header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(column) + 5, h->height() / 2));
    }
};

// The folder's headers before there was a modem column, in their order.
QStringList headersBefore(MessageFolder folder)
{
    QStringList h{QStringLiteral("Mobile Number"), QStringLiteral("Message")};
    if (folder == MessageFolder::Inbox)
        return h << QStringLiteral("Received On") << QStringLiteral("Id");
    return h << QStringLiteral("Delivered On") << QStringLiteral("Id") << QStringLiteral("Delivery Report");
}

// What the list shows of each stored name, newest row first.
QStringList newestFirst(const QStringList& modems)
{
    QStringList out;
    for (auto it = modems.crbegin(); it != modems.crend(); ++it)
        out << it->trimmed();
    return out;
}

} // namespace

class ModemColumnTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theColumnComesOutForSeveralModems_data();
    void theColumnComesOutForSeveralModems();
    void orderingByModem_data();
    void orderingByModem();
    void widthsKeptBeforeTheColumnStillHold_data();
    void widthsKeptBeforeTheColumnStillHold();
    void aMessageFromAnotherModemBringsTheColumnOut();
};

void ModemColumnTest::theColumnComesOutForSeveralModems_data()
{
    QTest::addColumn<MessageFolder>("folder");
    QTest::addColumn<QStringList>("modems"); // the stored rows' names, oldest first; empty: none recorded
    QTest::addColumn<bool>("shown");
    const QStringList none{"", "", ""};
    const QStringList one{"", "Modem 1 (SIM 234150000000001)", "Modem 1 (SIM 234150000000001)"};
    const QStringList sameButCase{"Modem 1", "MODEM 1"};
    const QStringList two{"", "Modem 1 (SIM 234150000000001)", "Shop  ", "Modem 1 (SIM 234150000000001)"};
    const QStringList swappedSim{"Modem 1 (SIM 234150000000001)", "Modem 1 (SIM 234150000000002)"};
    for (MessageFolder folder : {MessageFolder::Inbox, MessageFolder::SentItems}) {
        const char* name = folder == MessageFolder::Inbox ? "Inbox" : "Sent Items";
        QTest::addRow("%s: no modem recorded", name) << folder << none << false;
        QTest::addRow("%s: one modem, and rows from before", name) << folder << one << false;
        QTest::addRow("%s: one modem, names differing in case", name) << folder << sameButCase << false;
        QTest::addRow("%s: two modems, and rows from before", name) << folder << two << true;
        QTest::addRow("%s: one modem, SIM changed", name) << folder << swappedSim << true;
    }
}

void ModemColumnTest::theColumnComesOutForSeveralModems()
{
    QFETCH(MessageFolder, folder);
    QFETCH(QStringList, modems);
    QFETCH(bool, shown);
    BoxRig rig;
    rig.add(folder, modems);
    // The other folder of the pair names several modems: what it shows is its own business.
    rig.add(folder == MessageFolder::Inbox ? MessageFolder::SentItems : MessageFolder::Inbox, {"A", "B"});
    OpenBox box(rig.engine, folder);

    const int modem = ModemColumn(folder);
    // Without it the list is the one it always was: the same columns in the same order.
    QCOMPARE(box.headers(), shown ? headersBefore(folder) << QStringLiteral("Modem") : headersBefore(folder));
    QVERIFY(box.list()->isColumnHidden(3));
    if (shown) {
        QVERIFY(!box.list()->isColumnHidden(modem));
        QCOMPARE(box.column(modem), newestFirst(modems));
        QVERIFY(box.list()->columnWidth(modem) > 0);
    }

    // The Outbox has no modem column, whatever the folder shown before hid.
    box->TreeView1_NodeClick(3);
    QCOMPARE(box.shownHeaders(),
             (QStringList{"Mobile Number", "Message", "Outbox Date", "Status", "Attempts", "Reason"}));
}

void ModemColumnTest::orderingByModem_data()
{
    QTest::addColumn<MessageFolder>("folder");
    QTest::newRow("Inbox") << MessageFolder::Inbox;
    QTest::newRow("Sent Items") << MessageFolder::SentItems;
}

// Ascending without regard to case, rows without a name first, ties oldest first.
void ModemColumnTest::orderingByModem()
{
    QFETCH(MessageFolder, folder);
    const QStringList modems{"beta", "", "Alpha", "alpha", "Beta", ""};
    BoxRig rig;
    rig.add(folder, modems);
    OpenBox box(rig.engine, folder);

    box.clickHeader(ModemColumn(folder));
    QCOMPARE(box.column(0), (QStringList{"+441", "+445", "+442", "+443", "+440", "+444"}));
    QCOMPARE(box.column(ModemColumn(folder)), (QStringList{"", "", "Alpha", "alpha", "beta", "Beta"}));
    box.clickHeader(0); // another column orders as before
    QCOMPARE(box.column(0), (QStringList{"+440", "+441", "+442", "+443", "+444", "+445"}));
}

void ModemColumnTest::widthsKeptBeforeTheColumnStillHold_data()
{
    QTest::addColumn<MessageFolder>("folder");
    QTest::addColumn<QString>("key");
    QTest::newRow("Inbox") << MessageFolder::Inbox << "columns/messagebox/inbox";
    QTest::newRow("Sent Items") << MessageFolder::SentItems << "columns/messagebox/sent";
}

// Widths a user gave the columns before the modem column existed (one per column then, the hidden id 0).
void ModemColumnTest::widthsKeptBeforeTheColumnStillHold()
{
    QFETCH(MessageFolder, folder);
    QFETCH(QString, key);
    BoxRig rig;
    QStringList kept;
    for (const QString& header : headersBefore(folder))
        kept << (header == QLatin1String("Id") ? QStringLiteral("0") : QString::number(90 + 10 * kept.size()));
    QDir().mkpath(rig.state.dataDir);
    QSettings(PreferencesFilePath(rig.state.dataDir), QSettings::IniFormat).setValue(key, kept);
    rig.add(folder, {"Modem 1", "Modem 2"});
    OpenBox box(rig.engine, folder);

    for (int c = 0; c < kept.size(); ++c)
        if (kept[c] != QLatin1String("0"))
            QCOMPARE(box.list()->columnWidth(c), kept[c].toInt());
    const int modem = ModemColumn(folder);
    QVERIFY(!box.list()->isColumnHidden(modem));
    QVERIFY(box.list()->columnWidth(modem) > box.list()->fontMetrics().horizontalAdvance(QStringLiteral("Modem 2")));
}

void ModemColumnTest::aMessageFromAnotherModemBringsTheColumnOut()
{
    BoxRig rig;
    rig.add(MessageFolder::Inbox, {"Modem 1"});
    OpenBox box(rig.engine, MessageFolder::Inbox);
    const int modem = ModemColumn(MessageFolder::Inbox);
    QCOMPARE(box.list()->columnCount(), modem);

    const QDateTime at = Base.addSecs(3600);
    const qint64 id = rig.db.insert(
        QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, IsRead, "
                       "ModemName) VALUES ('+4499', 0, 'new', ?, 0, 'Modem 2 (SIM 234150000000002)')"),
        {Database::DbTime(at)});
    Q_EMIT rig.engine.inboxMessageStored(QStringLiteral("+4499"), QStringLiteral("new"), at, id);
    QCOMPARE(box.headers().value(modem), "Modem");
    QCOMPARE(box.column(modem), (QStringList{"Modem 2 (SIM 234150000000002)", "Modem 1"}));
    QVERIFY(box.list()->columnWidth(modem) > 0);
}

QTEST_MAIN(ModemColumnTest)
#include "tst_views_modemcolumn.moc"
