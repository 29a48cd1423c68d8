// The wizard's mail merge over every column of a sheet or a table, and its "Send at": a CSV file (and an Access
// table) with columns beyond the numbers read by the reader program, merged into the Outbox rows exactly, a
// merge too long for one row refused before anything is queued, and a chosen local time stored as its UTC
// moment, never one past.
#include "TestRig.h"
#include "common/LengthCounter.h"
#include "compose/MailMerge.h"
#include "tst_compose_wizard_rig.h"

#include <QDateTimeEdit>
#include <QtTest>

#include <ctime>

using namespace Qt::StringLiterals;

class WizardMergeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void mergesEveryColumn_data();
    void mergesEveryColumn();
    void mergesAccessColumns();
    void sendAt_data();
    void sendAt();
};

void WizardMergeTest::initTestCase()
{
    // Local time away from UTC, so that a time stored unconverted shows.
    qputenv("TZ", "Asia/Kolkata");
    ::tzset();
    QCOMPARE(QDateTime(QDate(2026, 3, 10), QTime(12, 0)).offsetFromUtc(), 5 * 3600 + 30 * 60);
}

void WizardMergeTest::mergesEveryColumn_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("queued"); // the Outbox texts, in the file's order
    QTest::addColumn<int>("longest");        // the row whose text the counter shows
    QTest::addColumn<QString>("refusal");    // empty: queued
    // Field names in any case; a quoted cell with a comma and quotes, Unicode, an empty cell, a short row.
    QTest::newRow("every column") << u"Dear {name}, you owe {AMOUNT} ({Note})."_s
                                  << QStringList{u"Dear Smith, Anna, you owe 12.50 (She said \"hi\")."_s,
                                                 u"Dear Zoë 李小龙 Ångström, you owe 7 ()."_s,
                                                 u"Dear Bob, you owe  (x)."_s, u"Dear Eve, you owe  ()."_s}
                                  << 0 << QString();
    QTest::newRow("braces and the number column")
        << u"{{{Mobile}}} {Name}"_s
        << QStringList{u"{9888812121} Smith, Anna"_s, u"{9888812122} Zoë 李小龙 Ångström"_s, u"{9888812123} Bob"_s,
                       u"{9888812124} Eve"_s}
        << 1 << QString();
    // Unicode only in the second row's name: 216 characters there are more than three Unicode parts, while
    // the others' 200 plus a few stay within three plain ones (the field itself takes up to 210, its braces
    // being no plain characters).
    QTest::newRow("one row too long") << QString(200, u'a') + u"{Name}"_s << QStringList() << 0 << TooLongRowsText({1});
    QTest::newRow("unknown column") << u"Hi {Surname}"_s << QStringList() << 0 << u"{Surname}"_s;
}

void WizardMergeTest::mergesEveryColumn()
{
    QFETCH(QString, message);
    QFETCH(QStringList, queued);
    QFETCH(int, longest);
    QFETCH(QString, refusal);
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.tableStep5(u"merge.csv"_s, u"merge"_s, u"Mobile"_s);
    QVERIFY(s);
    QCOMPARE(WizardRig::listed(s).size(), 4);
    s->txtMessage->setText(message);
    if (refusal.isEmpty())
        QCOMPARE(s->Label3->text(), LengthCounter(queued.at(longest)).count);
    WizardRig::send(s);
    if (!refusal.isEmpty()) {
        QVERIFY2(rig.refusedWithNothingQueued(refusal), qPrintable(rig.dialogs.messages().join(u'|')));
        return;
    }
    QCOMPARE(rig.outboxMessages(), queued);
    QCOMPARE(rig.outboxNumbers(), (QStringList{u"9888812121"_s, u"9888812122"_s, u"9888812123"_s, u"9888812124"_s}));
}

void WizardMergeTest::mergesAccessColumns()
{
    WizardRig rig;
    Frm_Broadtext_Step5* s = rig.tableStep5(u"wizard.mdb"_s, u"My Contacts"_s, u"Mobile No"_s);
    QVERIFY(s);
    s->txtMessage->setText(u"{message text} to {Mobile No}"_s);
    WizardRig::send(s);
    QCOMPARE(rig.outboxMessages(), (QStringList{u"Hi to +91 98123 45678"_s, u"Second to 9888812121"_s}));
}

void WizardMergeTest::sendAt_data()
{
    QTest::addColumn<QDateTime>("chosen"); // local
    QTest::addColumn<QString>("stored");   // empty: refused
    // The clock stands at 2026-03-10 12:00 local.
    QTest::newRow("later today") << QDateTime(QDate(2026, 3, 10), QTime(20, 30)) << u"2026-03-10T15:00:00"_s;
    QTest::newRow("after midnight UTC") << QDateTime(QDate(2026, 3, 11), QTime(3, 15)) << u"2026-03-10T21:45:00"_s;
    QTest::newRow("a minute ago") << QDateTime(QDate(2026, 3, 10), QTime(11, 59)) << QString();
    QTest::newRow("now") << QDateTime(QDate(2026, 3, 10), QTime(12, 0)) << QString();
}

void WizardMergeTest::sendAt()
{
    QFETCH(QDateTime, chosen);
    QFETCH(QString, stored);
    WizardRig rig;
    rig.clock.set(QDateTime(QDate(2026, 3, 10), QTime(12, 0)));
    Frm_Broadtext_Step5* s = rig.textStep5(WizardRig::fixture(u"three-lines.txt"_s));
    QVERIFY(s);
    s->txtMessage->setText(u"Hello"_s);
    auto* dtp = WizardRig::child<QDateTimeEdit>(s, u"dtpSendAt"_s);
    QVERIFY(!dtp->isEnabled());
    WizardRig::child<QCheckBox>(s, u"chkSendAt"_s)->click();
    QVERIFY(dtp->isEnabled());
    dtp->setDateTime(chosen);
    const qsizetype listed = WizardRig::listed(s).size();
    WizardRig::send(s);
    if (stored.isEmpty()) {
        QCOMPARE(rig.dialogs.messages().size(), 1);
        QVERIFY2(rig.dialogs.messages().first().contains(u"passed"_s), qPrintable(rig.dialogs.messages().first()));
        QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox"_s), 0);
        return;
    }
    const QStringList times = rig.outbox("SendAt");
    QCOMPARE(times.size(), listed);
    for (const QString& t : times)
        QVERIFY2(t.startsWith(stored) && t.endsWith(u'Z'), qPrintable(t));
}

QTEST_MAIN(WizardMergeTest)
#include "tst_wizard_merge.moc"
