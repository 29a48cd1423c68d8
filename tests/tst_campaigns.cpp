// Campaigns and mail merge: fields filled from a row's columns, what is refused before anything is queued, a
// run queued as a campaign with each number once, and a paused or cancelled campaign's rows left alone by the
// modems while the rest of the Outbox goes on.
#include "TestRig.h"
#include "common/LengthCounter.h"
#include "compose/MailMerge.h"
#include "compose/OutboxQueueing.h"
#include "store/CampaignRepository.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"
#include "tst_compose_wizard_rig.h"
#include "views/Frm_Campaigns.h"

#include <QTreeWidget>

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

class CampaignsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void merge_data();
    void merge();
    void mergeRefusesUnknownFields_data();
    void mergeRefusesUnknownFields();
    void longestResultAndRowsTooLong();
    void campaignQueuesEachNumberOnce();
    void pausedAndCancelledAreNotClaimed();
    void countsPerCampaign();
    void wizardQueuesMergedCampaign_data();
    void wizardQueuesMergedCampaign();
    void windowPausesResumesAndCancels();
    void olderFileGetsCampaigns();
};

namespace {
const QStringList Headers{u"Name"_s, u"Amount"_s, u"Due Date"_s};
}

void CampaignsTest::merge_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two fields") << u"Dear {Name}, you owe {Amount}."_s << QStringList{u"Ann"_s, u"12.50"_s, u"x"_s}
                                << u"Dear Ann, you owe 12.50."_s;
    QTest::newRow("case and blanks in the field")
        << u"{ due date }/{NAME}"_s << QStringList{u"Ann"_s, u"1"_s, u"May 3"_s} << u"May 3/Ann"_s;
    QTest::newRow("missing cells at the end")
        << u"[{Name}|{Amount}|{Due Date}]"_s << QStringList{u"Ann"_s} << u"[Ann||]"_s;
    QTest::newRow("empty cell") << u"Hi {Name}!"_s << QStringList{QString(), u"3"_s} << u"Hi !"_s;
    QTest::newRow("quotes kept as in the cell")
        << u"\"{Name}\" owes '{Amount}'"_s << QStringList{u"O'Brien \"Jr\""_s, u"5"_s}
        << u"\"O'Brien \"Jr\"\" owes '5'"_s;
    QTest::newRow("doubled braces are braces")
        << u"{{Name}} is {Name} }}{{"_s << QStringList{u"Ann"_s} << u"{Name} is Ann }{"_s;
    QTest::newRow("lone closing brace") << u"a } b {Name}"_s << QStringList{u"Ann"_s} << u"a } b Ann"_s;
    QTest::newRow("a cell with braces is not read again")
        << u"{Name}"_s << QStringList{u"{Amount}"_s, u"9"_s} << u"{Amount}"_s;
    QTest::newRow("unicode") << u"Cher {Name}, total {Amount}"_s << QStringList{u"Zoë Ñúñez 李"_s, u"€ 7"_s}
                             << u"Cher Zoë Ñúñez 李, total € 7"_s;
    QTest::newRow("emoji") << u"{Name} 🎉{Amount}"_s << QStringList{u"👩‍👩‍👧"_s, u"🍰"_s}
                           << u"👩‍👩‍👧 🎉🍰"_s;
    QTest::newRow("no field") << u"Same for all"_s << QStringList{u"Ann"_s} << u"Same for all"_s;
}

void CampaignsTest::merge()
{
    QFETCH(QString, message);
    QFETCH(QStringList, cells);
    QFETCH(QString, expected);
    const MailMerge m = MailMerge::Parse(message, Headers);
    QCOMPARE(m.error(), QString());
    QCOMPARE(m.fill(cells), expected);
}

void CampaignsTest::mergeRefusesUnknownFields_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("unknown");
    QTest::addColumn<bool>("unclosed");
    QTest::newRow("unknown field") << u"Hi {Nmae}, {Amount}"_s << QStringList{u"{Nmae}"_s} << false;
    QTest::newRow("each unknown once") << u"{X}{Y}{X}"_s << QStringList{u"{X}"_s, u"{Y}"_s} << false;
    QTest::newRow("empty field") << u"Hi {}"_s << QStringList{u"{}"_s} << false;
    QTest::newRow("not closed") << u"Hi {Name"_s << QStringList{} << true;
    QTest::newRow("opened twice") << u"Hi {Na{Name}"_s << QStringList{} << true;
}

void CampaignsTest::mergeRefusesUnknownFields()
{
    QFETCH(QString, message);
    QFETCH(QStringList, unknown);
    QFETCH(bool, unclosed);
    const MailMerge m = MailMerge::Parse(message, Headers);
    QVERIFY(!m.error().isEmpty());
    QCOMPARE(m.unknownFields(), unknown);
    for (const QString& f : unknown)
        QVERIFY2(m.error().contains(f), qPrintable(m.error()));
    QCOMPARE(m.error().contains(u"not closed"_s), unclosed);
}

void CampaignsTest::longestResultAndRowsTooLong()
{
    const MailMerge m = MailMerge::Parse(u"Hello {Name}: {Amount}"_s, Headers);
    // GSM text: 480 characters at most; a Unicode cell makes its row's message a Unicode one (210).
    const QString fits = QString(459, u'a');
    const std::vector<QStringList> rows{
        {u"Ann"_s, u"1"_s},
        {u"Bob"_s, fits},               // 470 GSM characters: longest, still fits
        {u"Zoé"_s, QString(100, u'é')}, // GSM carries é: fits
        {u"李"_s, QString(202, u'x')},  // Unicode, 211 units: too long
        {u"Cy"_s, QString(480, u'b')},  // too long in any encoding
    };
    const MergedLengths r = CheckMergedLengths(m, rows);
    QCOMPARE(r.tooLong, (std::vector<qint64>{3, 4}));
    QCOMPARE(r.longestRow, 4);
    QCOMPARE(r.longest, u"Hello Cy: "_s + QString(480, u'b'));
    QVERIFY(!FitsMessageField(r.longest));
    // The rows are named from 1, as the list shows them.
    const QString text = TooLongRowsText(r.tooLong);
    QVERIFY2(text.contains(u"2 of the rows (rows 4, 5)"_s), qPrintable(text));

    const MergedLengths ok = CheckMergedLengths(m, {rows[0], rows[1], rows[2]});
    QVERIFY(ok.tooLong.empty());
    QCOMPARE(ok.longestRow, 1);
    QCOMPARE(LengthCounter(ok.longest).count, u"Typed: 470/480 characters."_s);
}

void CampaignsTest::campaignQueuesEachNumberOnce()
{
    TestRig rig;
    const qint64 campaign = CampaignRepository(rig.db).create(u"Spring sale"_s, rig.clock.now());
    std::vector<OutboxQueueing::Row> rows{{0, u"+44 7700 900123"_s, u"a"_s},   {1, u"07700900123"_s, u"b"_s},
                                          {2, u"0044 7700 900 124"_s, u"c"_s}, {3, u"not a number"_s, u"d"_s},
                                          {4, u"not a number"_s, u"e"_s},      {5, u"7700900124"_s, u"f"_s}};
    OutboxQueueing q(rig.db, rig.clock, rows, campaign);
    QSignalSpy done(&q, &OutboxQueueing::finished);
    q.start();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(q.duplicates(), 2);
    QCOMPARE(q.committed(), (std::vector<qint64>{0, 1, 2, 3, 4, 5}));
    QStringList queued;
    Query r(rig.db, u"SELECT Message, CampaignId FROM Message_OutBox ORDER BY Outbox_Id"_s);
    while (r.next()) {
        queued << r.value(0).toString();
        QCOMPARE(r.value(1).toLongLong(), campaign);
    }
    // The first spelling of a number is the one queued; numbers without digits are left to fail as invalid.
    QCOMPARE(queued, (QStringList{u"a"_s, u"c"_s, u"d"_s, u"e"_s}));

    // Without a campaign, the rows go as given.
    TestRig plain;
    OutboxQueueing p(plain.db, plain.clock, rows);
    QSignalSpy plainDone(&p, &OutboxQueueing::finished);
    p.start();
    QTRY_COMPARE(plainDone.count(), 1);
    QCOMPARE(p.duplicates(), 0);
    QCOMPARE(plain.db.count(u"SELECT count(*) FROM Message_OutBox WHERE CampaignId IS NULL"_s), 6);
}

void CampaignsTest::pausedAndCancelledAreNotClaimed()
{
    TestRig rig;
    CampaignRepository campaigns(rig.db);
    OutboxRepository outbox(rig.db);
    const QDateTime now = rig.clock.now();
    const qint64 c = campaigns.create(u"C"_s, now);
    {
        OutboxRepository::Batch b(rig.db, c);
        b.add(u"111111111"_s, u"campaign 1"_s, now);
        b.add(u"222222222"_s, u"campaign 2"_s, now);
    }
    const qint64 single = outbox.queueMessage(u"333333333"_s, u"by itself"_s, now);

    QVERIFY(campaigns.pause(c));
    QVERIFY(!campaigns.pause(c));
    QCOMPARE(outbox.countDue(now), 1);
    QCOMPARE(outbox.countDue(now, 2), 1);
    QCOMPARE(outbox.lastDue(now), single);
    auto taken = outbox.claim(2, now, std::chrono::seconds(60));
    QVERIFY(taken);
    QCOMPARE(taken->id, single);
    QVERIFY(!outbox.claimNext(3, now, std::chrono::seconds(60), 0, std::numeric_limits<qint64>::max()));
    QVERIFY(!outbox.claimNextRow(now, 0, std::numeric_limits<qint64>::max()));

    QVERIFY(campaigns.resume(c));
    QVERIFY(!campaigns.resume(c));
    QCOMPARE(outbox.countDue(now), 3);
    taken = outbox.claimNext(2, now, std::chrono::seconds(60), 0, std::numeric_limits<qint64>::max());
    QVERIFY(taken);
    QCOMPARE(taken->message, u"campaign 1"_s);
    outbox.markSending(taken->id, now);

    // The row under submission is left to its outcome; the waiting one is cancelled.
    QCOMPARE(campaigns.cancel(c), 1);
    QCOMPARE(campaigns.campaign(c)->state, CampaignState::Cancelled);
    QVERIFY(!campaigns.resume(c));
    QCOMPARE(rig.db.scalar(u"SELECT DeliveryStatus FROM Message_OutBox WHERE Message = 'campaign 2'"_s).toString(),
             u"CANCELLED"_s);
    // Given back (the modem went away), it waits no more: the next cancel sweeps it up.
    outbox.putBack(taken->id, false);
    QVERIFY(!outbox.claimNext(1, now, std::chrono::seconds(60), 0, std::numeric_limits<qint64>::max()));
    QCOMPARE(campaigns.cancel(c), 1);
    QCOMPARE(campaigns.cancel(12345), -1);
}

void CampaignsTest::countsPerCampaign()
{
    TestRig rig;
    CampaignRepository campaigns(rig.db);
    OutboxRepository outbox(rig.db);
    const QDateTime now = rig.clock.now();
    const qint64 c = campaigns.create(u"Counted"_s, now);
    const qint64 other = campaigns.create(u"Other"_s, now);
    std::vector<qint64> ids;
    {
        OutboxRepository::Batch b(rig.db, c);
        for (int i = 0; i < 7; ++i)
            b.add(u"4477009001%1"_s.arg(i, 2, 10, QChar(u'0')), u"m"_s, now);
        OutboxRepository::Batch o(rig.db, other);
        o.add(u"447700900999"_s, u"other"_s, now);
    }
    Query q(rig.db, u"SELECT Outbox_Id FROM Message_OutBox WHERE CampaignId = ? ORDER BY Outbox_Id"_s, {c});
    while (q.next())
        ids.push_back(q.value(0).toLongLong());
    outbox.markSent(ids[0], now, 1, u"M1"_s);
    outbox.markSent(ids[1], now, 1, u"M1"_s);
    outbox.recordReport(ids[1], u"Delivered"_s, now, 1);
    outbox.markFailed(ids[2], u"no network"_s);
    outbox.markInvalidNumber(ids[3]);
    OptOutRepository(rig.db).markOptedOut(ids[4]);
    outbox.markSending(ids[5], now);
    // ids[6] waits.
    CampaignCounts n = campaigns.counts(c);
    QCOMPARE(n.queued, 2);
    QCOMPARE(n.sent, 2);
    QCOMPARE(n.delivered, 1);
    QCOMPARE(n.failed, 2);
    QCOMPARE(n.optedOut, 1);
    QCOMPARE(n.cancelled, 0);
    campaigns.cancel(c);
    n = campaigns.counts(c);
    QCOMPARE(n.queued, 1); // the one under submission
    QCOMPARE(n.cancelled, 1);
    QCOMPARE(campaigns.counts(other).queued, 1);
    QCOMPARE(campaigns.list().size(), 2);
    QCOMPARE(campaigns.list().first().name, u"Other"_s);
}

void CampaignsTest::wizardQueuesMergedCampaign_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("refusal"); // empty: queued
    QTest::newRow("merged") << u"Hi {mobile}!"_s << QString();
    QTest::newRow("unknown field") << u"Hi {Name}!"_s << u"{Name}"_s;
    // Unicode (210 at most): the template fits, the first number's message (212) does not.
    QTest::newRow("too long") << u"李"_s + QString(200, u'a') + u"{Mobile}"_s << u"(rows 1"_s;
}

void CampaignsTest::wizardQueuesMergedCampaign()
{
    QFETCH(QString, message);
    QFETCH(QString, refusal);
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.tableStep5(u"duplicates.csv"_s, u"duplicates"_s, u"Mobile"_s);
    QVERIFY(s);
    s->Check1->click();
    if (!s->Check1->isChecked())
        s->Check1->click();
    auto* name = WizardRig::child<QLineEdit>(s, u"txtCampaignName"_s);
    QVERIFY(name->text().startsWith(u"Campaign "_s));
    name->setText(u"Spring"_s);
    s->txtMessage->setText(message);
    if (refusal.isEmpty()) {
        // The counter speaks for the longest message a ticked row will get.
        QString longest;
        const QStringList numbers = WizardRig::listed(s);
        for (int i = 0; i < numbers.size(); ++i) {
            const QString merged = u"Hi "_s + numbers[i] + u"!"_s;
            if (s->ListNumbers->model()->index(i, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked &&
                merged.size() > longest.size())
                longest = merged;
        }
        QCOMPARE(s->Label3->text(), LengthCounter(longest).count);
    }
    WizardRig::send(s);
    if (!refusal.isEmpty()) {
        QVERIFY2(rig.refusedWithNothingQueued(refusal), qPrintable(rig.dialogs.messages().join(u'|')));
        return;
    }
    const QList<Campaign> campaigns = CampaignRepository(rig.db).list();
    QCOMPARE(campaigns.size(), 1);
    QCOMPARE(campaigns.first().name, u"Spring"_s);
    QSet<QString> keys;
    Query q(rig.db, u"SELECT RecipientMobileNo, Message, CampaignId FROM Message_OutBox"_s);
    int rows = 0;
    while (q.next()) {
        ++rows;
        QCOMPARE(q.value(1).toString(), u"Hi "_s + q.value(0).toString() + u"!"_s);
        QCOMPARE(q.value(2).toLongLong(), campaigns.first().id);
        keys.insert(OptOutKey(q.value(0).toString()));
    }
    QVERIFY(rows > 0);
    QCOMPARE(keys.size(), rows); // each number once
}

void CampaignsTest::windowPausesResumesAndCancels()
{
    WizardRig rig;
    const QDateTime now = rig.clock.now();
    const qint64 c = CampaignRepository(rig.db).create(u"Window"_s, now);
    {
        OutboxRepository::Batch b(rig.db, c);
        b.add(u"111111111"_s, u"one"_s, now);
        b.add(u"222222222"_s, u"two"_s, now);
    }
    OutboxRepository(rig.db).markSent(rig.db.scalar(u"SELECT min(Outbox_Id) FROM Message_OutBox"_s).toLongLong(), now);
    auto* w = new Frm_Campaigns(rig.engine);
    QTreeWidget* list = w->ListCampaigns;
    QCOMPARE(list->topLevelItemCount(), 1);
    const auto shown = [list](int column) { return list->topLevelItem(0)->text(column); };
    // Name, created, state, then queued, sent, failed, delivered, opted out, cancelled.
    QCOMPARE(shown(0), u"Window"_s);
    QCOMPARE(shown(2), u"running"_s);
    QCOMPARE(shown(3), u"1"_s);
    QCOMPARE(shown(4), u"1"_s);
    QVERIFY(!w->cmdPause->isEnabled()); // nothing selected
    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(w->cmdPause->isEnabled());
    QVERIFY(!w->cmdResume->isEnabled());
    w->cmdPause->click();
    QCOMPARE(shown(2), u"paused"_s);
    QCOMPARE(CampaignRepository(rig.db).campaign(c)->state, CampaignState::Paused);
    QVERIFY(w->cmdResume->isEnabled());
    w->cmdResume->click();
    QCOMPARE(CampaignRepository(rig.db).campaign(c)->state, CampaignState::Running);
    // Cancel asks first; No leaves it running.
    rig.dialogs.answers = {false, true};
    w->cmdCancelCampaign->click();
    QCOMPARE(CampaignRepository(rig.db).campaign(c)->state, CampaignState::Running);
    w->cmdCancelCampaign->click();
    QCOMPARE(rig.dialogs.questions().size(), 2);
    QCOMPARE(shown(2), u"cancelled"_s);
    QCOMPARE(shown(3), u"0"_s);
    QCOMPARE(shown(8), u"1"_s);
    QVERIFY(!w->cmdCancelCampaign->isEnabled());
    // A refresh the modems cause opens no box when the database fails; the user's own does.
    rig.db.close();
    Q_EMIT rig.engine.outboxChanged();
    QVERIFY(rig.dialogs.messages().isEmpty());
    w->cmdRefresh->click();
    QCOMPARE(rig.dialogs.messages(), QStringList{u"The message database is not open."_s});
    delete w;
}

void CampaignsTest::olderFileGetsCampaigns()
{
    SKIP_ON_SERVER("upgrading a file of an older version");
    TestRig rig;
    const QString file = rig.db.filePath();
    const qint64 before = OutboxRepository(rig.db).queueMessage(u"447700900123"_s, u"queued before"_s, rig.clock.now());
    // The file as the previous version left it: no campaigns, the Outbox without their column.
    for (const QString& sql : {u"DROP INDEX ix_outbox_campaign"_s, u"DROP TABLE Campaigns"_s,
                               u"ALTER TABLE Message_OutBox DROP COLUMN CampaignId"_s, u"PRAGMA user_version = 4"_s})
        rig.db.execute(sql);
    rig.db.close();
    rig.db.open(file);
    QCOMPARE(rig.db.scalar(u"PRAGMA user_version"_s).toInt(), Database::SchemaVersion);
    OutboxRepository outbox(rig.db);
    // A row queued before campaigns existed belongs to none and goes as before.
    QCOMPARE(outbox.countDue(rig.clock.now()), 1);
    const qint64 c = CampaignRepository(rig.db).create(u"After"_s, rig.clock.now());
    QVERIFY(CampaignRepository(rig.db).pause(c));
    const auto taken = outbox.claim(1, rig.clock.now(), std::chrono::seconds(60));
    QVERIFY(taken);
    QCOMPARE(taken->id, before);
}

QTEST_MAIN(CampaignsTest)
#include "tst_campaigns.moc"
