// The missed calls report: which calls a day range lists and how, the refused range, the check boxes that
// drive the Delete button, and deleting exactly the ticked calls.
#include "EngineRig.h"
#include "views/Frm_MissedCallsList.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

const QDate Today(2024, 3, 15);

void addCall(TestRig& rig, const QString& number, const QDate& day, const char* time, bool missed = true)
{
    const QDateTime when(day, QTime::fromString(QString::fromLatin1(time), u"HH:mm:ss"_s));
    rig.db.insert("INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) VALUES (?, ?, ?)",
                  {number, Database::DbTime(when), Database::DbBool(missed)});
}

struct Report {
    QPointer<Frm_MissedCallsList> window;
    QTreeWidget* list;
    QDateEdit* from;
    QCheckBox* all;
    QPushButton* search;
    QPushButton* remove;

    explicit Report(Engine& engine) : window(new Frm_MissedCallsList(engine))
    {
        window->show();
        list = window->findChild<QTreeWidget*>("ListLogs");
        from = window->findChild<QDateEdit*>("DtpFrom");
        all = window->findChild<QCheckBox*>("chkAll");
        search = window->findChild<QPushButton*>("cmdSearch");
        remove = window->findChild<QPushButton*>("cmdDelete");
    }
    ~Report() { delete window.data(); }

    // Each row as "date | number | time".
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* r = list->topLevelItem(i);
            out << QStringList{r->text(0), r->text(1), r->text(2)}.join(" | ");
        }
        return out;
    }
    void tick(int row, bool on) { list->topLevelItem(row)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked); }
    // The row boxes, "x" for ticked: "x.x".
    QString ticks() const
    {
        QString out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out += list->topLevelItem(i)->checkState(0) == Qt::Checked ? 'x' : '.';
        return out;
    }
    void range(const QDate& first, const QDate& last)
    {
        from->setDate(first);
        window->findChild<QDateEdit*>("DtpTo")->setDate(last);
        QTest::mouseClick(search, Qt::LeftButton);
    }
};

QStringList storedNumbers(Database& db)
{
    return queryTexts(db, "SELECT callerNumber FROM MissedCallStatistics ORDER BY id");
}

} // namespace

class ViewsMissedCallsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void listsMissedCallsOfTheChosenDaysOldestFirst();
    void checkBoxesDriveDeleteWhichRemovesExactlyTheTickedCalls();
};

void ViewsMissedCallsTest::initTestCase()
{
    // Calls are stored in UTC; a zone away from UTC shows whether days and times are the local ones.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    QVERIFY(QDateTime(Today, QTime(0, 0)).offsetFromUtc() != 0);
}

void ViewsMissedCallsTest::listsMissedCallsOfTheChosenDaysOldestFirst()
{
    EngineRig rig;
    rig.clock.set(QDateTime(Today, QTime(12, 0)));
    addCall(rig, "+919812345678", Today, "09:05:40");
    addCall(rig, "+447700900123", Today, "08:30:10");
    addCall(rig, "+919800000001", Today, "10:00:00", false); // answered: never listed
    addCall(rig, "", Today, "11:15:00");
    addCall(rig, "+2", Today, "23:59:30");
    addCall(rig, "+1", Today, "00:00:00");
    addCall(rig, "+0", Today.addDays(-1), "23:59:59");
    addCall(rig, "+3", Today.addDays(1), "00:00:00");

    // Opening lists today's calls, from midnight to the next midnight.
    Report report(rig.engine);
    report.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(report.window));
    QCOMPARE(report.from->date(), Today);
    QVERIFY(report.list->isColumnHidden(3));
    const QStringList today{"15/03/2024 | +1 | 00:00", "15/03/2024 | +447700900123 | 08:30",
                            "15/03/2024 | +919812345678 | 09:05", "15/03/2024 |  | 11:15", "15/03/2024 | +2 | 23:59"};
    QCOMPARE(report.rows(), today);

    // Search lists the chosen days, not today's; equal dates are a valid range.
    report.range(Today.addDays(1), Today.addDays(1));
    QCOMPARE(report.rows(), QStringList{"16/03/2024 | +3 | 00:00"});
    report.range(Today.addDays(-1), Today.addDays(1));
    QCOMPARE(report.rows(), QStringList{"14/03/2024 | +0 | 23:59"} + today + QStringList{"16/03/2024 | +3 | 00:00"});
    QVERIFY(rig.dialogs.shown.empty());

    // From later than To is refused, the list kept, and From gets the focus back.
    const QStringList before = report.rows();
    report.search->setFocus();
    report.range(Today.addDays(1), Today);
    QCOMPARE(rig.dialogs.messages(), QStringList{"'From Date' should be less than 'To Date'."});
    QCOMPARE(report.rows(), before);
    QVERIFY(report.from->hasFocus());
}

void ViewsMissedCallsTest::checkBoxesDriveDeleteWhichRemovesExactlyTheTickedCalls()
{
    EngineRig rig;
    rig.clock.set(QDateTime(Today, QTime(12, 0)));
    addCall(rig, "111", Today, "08:00:00");
    addCall(rig, "222", Today, "09:00:00");
    addCall(rig, "333", Today, "10:00:00");
    addCall(rig, "444", Today.addDays(-1), "10:00:00"); // not listed
    Report report(rig.engine);
    QCOMPARE(report.ticks(), u"..."_s);
    QVERIFY(!report.remove->isEnabled());

    // Select All ticks and unticks every row; Delete is enabled while any row is ticked.
    QTest::mouseClick(report.all, Qt::LeftButton);
    QCOMPARE(report.ticks(), u"xxx"_s);
    QVERIFY(report.remove->isEnabled());
    QTest::mouseClick(report.all, Qt::LeftButton);
    QCOMPARE(report.ticks(), u"..."_s);
    QVERIFY(!report.remove->isEnabled());
    report.tick(1, true);
    QVERIFY(report.remove->isEnabled());
    report.tick(2, true);
    report.tick(1, false);
    QVERIFY(report.remove->isEnabled());
    report.tick(2, false);
    QVERIFY(!report.remove->isEnabled());

    // Two ticked rows: No keeps everything, Yes deletes exactly those.
    report.tick(0, true);
    report.tick(2, true);
    rig.dialogs.answers = {false, true};
    QTest::mouseClick(report.remove, Qt::LeftButton);
    QCOMPARE(storedNumbers(rig.db).size(), 4);
    QCOMPARE(report.ticks(), u"x.x"_s);
    QTest::mouseClick(report.remove, Qt::LeftButton);
    QCOMPARE(rig.dialogs.questions(), QStringList(2, "Are u sure to delete the logs?"));
    QCOMPARE(rig.dialogs.messages(), QStringList{"Records Deleted Successfully!!!"});
    QCOMPARE(storedNumbers(rig.db), (QStringList{"222", "444"}));
    QCOMPARE(report.rows(), QStringList{"15/03/2024 | 222 | 09:00"});
    QCOMPARE(report.ticks(), u"."_s);
    QVERIFY(!report.remove->isEnabled());

    // A search rebuilds the list unticked, so nothing is left to delete, even when Delete is asked directly.
    QTest::mouseClick(report.all, Qt::LeftButton);
    addCall(rig, "555", Today, "11:00:00");
    QTest::mouseClick(report.search, Qt::LeftButton);
    QCOMPARE(report.ticks(), u".."_s);
    QVERIFY(!report.all->isChecked());
    QVERIFY(!report.remove->isEnabled());
    rig.dialogs.clear();
    report.window->cmdDelete_Click();
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(storedNumbers(rig.db).size(), 3);
}

QTEST_MAIN(ViewsMissedCallsTest)
#include "tst_views_missedcalls.moc"
