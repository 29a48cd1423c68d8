// Scheduled rows in the message box: the Outbox's "Send at" column (only once a row is scheduled, in local
// time), rescheduling and cancelling the selected rows, and a campaign's results written to CSV. The process
// runs at +05:30 so that a stored UTC time and the local time shown can never agree by chance.
#include "TestRig.h"
#include "TreeTexts.h"
#include "common/FunctionsLibrary.h"
#include "delivery/Engine.h"
#include "store/CampaignRepository.h"
#include "views/Frm_Campaigns.h"
#include "views/Frm_MessageBox.h"

#include <QAction>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

namespace {

[[maybe_unused]] const bool IndianTime = qputenv("TZ", "Asia/Kolkata"); // set before anything reads the local time

const QDateTime Base(QDate(2026, 3, 2), QTime(9, 0)); // local: 03:30 UTC

struct Rig : TestRig {
    Engine engine{state, db, log};
    Rig()
    {
        engine.timerRefreshHomePage.setEnabled(false);
        clock.set(Base);
    }
    // An Outbox row as the store leaves it: queued, claimed by modem 1, failed, opted out, cancelled, or sent
    // (by "Modem 1" at Base, reported delivered); sendAt as stored (UTC), or empty for none.
    qint64 add(const QString& kind, const QString& sendAt = {}, const QString& text = QStringLiteral("hello"),
               const QString& number = QStringLiteral("+4411"), qint64 campaign = 0)
    {
        const bool sent = kind == QLatin1String("sent");
        const bool claimed = kind == QLatin1String("claimed");
        const QString status = sent || claimed || kind == QLatin1String("queued") ? QString() : kind.toUpper();
        const auto nullable = [](bool set, const QVariant& v) { return set ? v : QVariant(QString()); };
        return db.insert(
            QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, SendAt, "
                           "CampaignId, DeliveryStatus, DeliveryDatetime, ClaimedBy, ClaimUntil, ModemName, "
                           "ReportStatus) VALUES (0, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            {number, text, Database::DbTime(Base.addSecs(-3600)), nullable(!sendAt.isEmpty(), sendAt),
             nullable(campaign > 0, campaign), sent ? QStringLiteral("SENT") : status,
             nullable(sent, Database::DbTime(Base)), nullable(claimed, 1),
             nullable(claimed, Database::DbTime(Base.addSecs(600))), nullable(sent, QStringLiteral("Modem 1")),
             nullable(sent, QStringLiteral("Delivered"))});
    }
};

struct OpenOutbox {
    QPointer<Frm_MessageBox> box;
    explicit OpenOutbox(Engine& engine, int node = 3) : box(new Frm_MessageBox(engine))
    {
        box->show();
        box->TreeView1_NodeClick(node);
    }
    ~OpenOutbox() { delete box.data(); }
    Frm_MessageBox* operator->() const { return box; }
    QTreeWidget* list() const { return box->findChild<QTreeWidget*>(QStringLiteral("ListMessage")); }
    QAction* action(const char* name) const { return box->findChild<QAction*>(QLatin1String(name)); }
    QStringList headers() const { return HeaderTexts(list()); }
    QStringList column(int c) const { return ColumnTexts(list(), c); }
};

const QStringList OutboxHeaders{"Mobile Number", "Message", "Outbox Date", "Id", "Status", "Attempts", "Reason"};

QString local(const QString& minute) // "yyyy-MM-dd HH:mm" local, as a list cell shows it
{
    return minute.isEmpty() ? QString() : GeneralDateTime(QDateTime::fromString(minute, "yyyy-MM-dd HH:mm"));
}

} // namespace

class ScheduleViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sendAtColumnOnlyWithAScheduledRow_data();
    void sendAtColumnOnlyWithAScheduledRow();
    void actionsOnlyForQueuedOutboxRows_data();
    void actionsOnlyForQueuedOutboxRows();
    void rescheduleAndCancel_data();
    void rescheduleAndCancel();
    void campaignExport_data();
    void campaignExport();
};

void ScheduleViewTest::sendAtColumnOnlyWithAScheduledRow_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("sendAt"); // stored, UTC
    QTest::addColumn<QStringList>("cells");  // local; none: no column
    QTest::newRow("nothing scheduled") << QStringList{"queued", "failed"} << QStringList{"", ""} << QStringList{};
    QTest::newRow("the scheduled row was sent")
        << QStringList{"queued", "sent"} << QStringList{"", "2026-03-02T08:00:00.000Z"} << QStringList{};
    QTest::newRow("one scheduled") << QStringList{"queued", "queued"} << QStringList{"", "2026-03-02T08:00:00.000Z"}
                                   << QStringList{"", "2026-03-02 13:30"};
    QTest::newRow("past local midnight, cancelled, unordered")
        << QStringList{"cancelled", "queued", "queued"}
        << QStringList{"2026-03-02T20:00:00.000Z", "", "2026-03-02T08:00:00.000Z"}
        << QStringList{"2026-03-03 01:30", "", "2026-03-02 13:30"};
}

void ScheduleViewTest::sendAtColumnOnlyWithAScheduledRow()
{
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, sendAt);
    QFETCH(QStringList, cells);
    Rig rig;
    for (int i = 0; i < kinds.size(); ++i)
        rig.add(kinds[i], sendAt[i]);
    OpenOutbox box(rig.engine);
    if (cells.isEmpty()) {
        QCOMPARE(box.headers(), OutboxHeaders); // exactly the list a user who never schedules knew
    } else {
        QCOMPARE(box.headers(), QStringList(OutboxHeaders) << QStringLiteral("Send at"));
        const auto shown = [&] {
            QStringList out;
            for (const QString& c : cells)
                out << local(c);
            return out;
        };
        QCOMPARE(box.column(OutboxHeaders.size()), shown());
        QVERIFY(box.list()->columnWidth(OutboxHeaders.size()) > 0);
        // A click on its header orders by it: the rows without a time first, then the soonest.
        box->ListMessage_ColumnClick(OutboxHeaders.size());
        std::sort(cells.begin(), cells.end()); // written as they are, text order is time order
        QCOMPARE(box.column(OutboxHeaders.size()), shown());
    }
    box->TreeView1_NodeClick(4);
    QVERIFY(!box.headers().contains(QStringLiteral("Send at")));
}

void ScheduleViewTest::actionsOnlyForQueuedOutboxRows_data()
{
    QTest::addColumn<int>("node"); // 2 Inbox, 3 Outbox
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("nothing selected") << 3 << QStringList{} << false;
    QTest::newRow("a queued row") << 3 << QStringList{"queued"} << true;
    QTest::newRow("a failed row") << 3 << QStringList{"failed"} << false;
    QTest::newRow("a cancelled row") << 3 << QStringList{"cancelled"} << false;
    QTest::newRow("failed and queued") << 3 << QStringList{"failed", "queued"} << true;
    QTest::newRow("the Inbox") << 2 << QStringList{"queued"} << false;
}

void ScheduleViewTest::actionsOnlyForQueuedOutboxRows()
{
    QFETCH(int, node);
    QFETCH(QStringList, kinds);
    QFETCH(bool, enabled);
    Rig rig;
    for (const QString& kind : kinds)
        rig.add(kind, QStringLiteral("2026-03-02T08:00:00.000Z"));
    rig.db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, "
                                  "IsRead) VALUES ('+4412', 0, 'hi', ?, 1)"),
                   {Database::DbTime(Base)});
    OpenOutbox box(rig.engine, node);
    box.list()->selectAll();
    for (const char* name : {"cmdReschedule", "cmdCancelSend"}) {
        QVERIFY2(box.action(name), name);
        QCOMPARE(box.action(name)->isEnabled(), enabled);
    }
}

void ScheduleViewTest::rescheduleAndCancel_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("after"); // status|SendAt of each row
    QTest::addColumn<QStringList>("messages");
    const QString beingSent = "One message is being sent right now and was not changed.";
    const QString gone = "One message is no longer waiting to be sent and was not changed.";
    QTest::newRow("reschedule") << "cmdReschedule"
                                << QStringList{"|2026-03-03T04:30:00.000Z", "|2026-03-03T04:30:00.000Z", "|", "SENT|"}
                                << QStringList{"Please choose a time in the future.", beingSent, gone};
    QTest::newRow("cancel") << "cmdCancelSend"
                            << QStringList{"CANCELLED|2026-03-02T08:00:00.000Z", "CANCELLED|", "|", "SENT|"}
                            << QStringList{beingSent, gone};
}

// Every row of the Outbox selected: two queued (one scheduled), one a modem has claimed, and one the modem
// sends while the list still shows it.
void ScheduleViewTest::rescheduleAndCancel()
{
    QFETCH(QString, action);
    QFETCH(QStringList, after);
    QFETCH(QStringList, messages);
    Rig rig;
    rig.add("queued", "2026-03-02T08:00:00.000Z");
    rig.add("queued");
    rig.add("claimed");
    const qint64 sentMeanwhile = rig.add("queued");
    OpenOutbox box(rig.engine);
    box.list()->selectAll();
    rig.db.execute(QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = 'SENT', DeliveryDatetime = ? WHERE "
                                  "Outbox_Id = ?"),
                   {Database::DbTime(Base), sentMeanwhile});

    bool dialogSeen = false;
    QTimer::singleShot(0, box.box, [&] {
        auto* dialog = box->findChild<QDialog*>(QStringLiteral("dlgReschedule"));
        if (!dialog)
            return;
        dialogSeen = true;
        auto* when = dialog->findChild<QDateTimeEdit*>(QStringLiteral("dtpSendAt"));
        QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        when->setDateTime(Base.addSecs(-60)); // refused: the dialog stays
        ok->click();
        when->setDateTime(QDateTime(QDate(2026, 3, 3), QTime(10, 0)));
        ok->click();
    });
    QVERIFY(box.action(qPrintable(action)));
    box.action(qPrintable(action))->trigger();
    QCOMPARE(dialogSeen, action == QLatin1String("cmdReschedule"));
    QCOMPARE(queryTexts(rig.db, QStringLiteral("SELECT coalesce(DeliveryStatus, '') || '|' || coalesce(SendAt, '') "
                                               "FROM Message_OutBox ORDER BY Outbox_Id")),
             after);
    QCOMPARE(rig.dialogs.messages(), messages);
    // The list is read again: the sent row has left it.
    QCOMPARE(box.list()->topLevelItemCount(), 3);
    if (dialogSeen)
        QCOMPARE(box.column(OutboxHeaders.size()).value(0), local("2026-03-03 10:00"));
}

void ScheduleViewTest::campaignExport_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("sent and delivered") << "sent"
                                        << "Hello"
                                        << QByteArray("+4411,Hello,SENT,2026-03-02T09:00:00+05:30,Modem 1,Delivered");
    QTest::newRow("quotes and commas") << "queued"
                                       << "Say \"hi\", Bob" << QByteArray("+4411,\"Say \"\"hi\"\", Bob\",QUEUED,,,");
    QTest::newRow("Unicode") << "opted out"
                             << "Grüße 👋 Ελλάδα" << QByteArray("+4411,Grüße 👋 Ελλάδα,OPTED OUT,,,");
    QTest::newRow("line breaks") << "failed"
                                 << "one\r\ntwo\nthree" << QByteArray("+4411,\"one\r\ntwo\nthree\",FAILED,,,");
}

void ScheduleViewTest::campaignExport()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QByteArray, line);
    Rig rig;
    const qint64 other = CampaignRepository(rig.db).create(QStringLiteral("Other"), Base);
    rig.add("queued", {}, QStringLiteral("not this one"), QStringLiteral("+4499"), other);
    const qint64 campaign = CampaignRepository(rig.db).create(QStringLiteral("Spring sale"), Base);
    rig.add(kind, {}, text, QStringLiteral("+4411"), campaign);
    const QString path = rig.dir.filePath(QStringLiteral("results.csv"));
    rig.dialogs.fileNames = {path};

    {
        Frm_Campaigns window(rig.engine);
        window.ListCampaigns->setCurrentItem(window.ListCampaigns->topLevelItem(0)); // the newest
        auto* export_ = window.findChild<QPushButton*>(QStringLiteral("cmdExport"));
        QVERIFY(export_ && export_->isEnabled());
        export_->click();
    }

    QVERIFY(rig.dialogs.lastFolder.endsWith(QStringLiteral("Spring sale.csv")));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "Number,Message,Status,Sent,Modem,Delivery\r\n" + line + "\r\n");
    QCOMPARE(rig.dialogs.messages().size(), 1); // how many were written, and where
}

QTEST_MAIN(ScheduleViewTest)
#include "tst_views_schedule.moc"
