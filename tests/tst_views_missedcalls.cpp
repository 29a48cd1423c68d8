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

namespace {

const QDate Today(2024, 3, 15);

QDateTime at(const QDate& day, const QString& time)
{
    return QDateTime(day, QTime::fromString(time, QStringLiteral("HH:mm:ss")));
}

qint64 addCall(TestRig& rig, const QString& number, const QDateTime& when, bool missed = true)
{
    return rig.db.insert(QStringLiteral("INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) "
                                        "VALUES (?, ?, ?)"),
                         {number, Database::DbTime(when), Database::DbBool(missed)});
}

struct Report {
    QPointer<Frm_MissedCallsList> window;
    QTreeWidget* list;
    QDateEdit* from;
    QDateEdit* to;
    QCheckBox* all;
    QPushButton* search;
    QPushButton* remove;

    explicit Report(Engine& engine) : window(new Frm_MissedCallsList(engine))
    {
        window->show();
        list = window->findChild<QTreeWidget*>(QStringLiteral("ListLogs"));
        from = window->findChild<QDateEdit*>(QStringLiteral("DtpFrom"));
        to = window->findChild<QDateEdit*>(QStringLiteral("DtpTo"));
        all = window->findChild<QCheckBox*>(QStringLiteral("chkAll"));
        search = window->findChild<QPushButton*>(QStringLiteral("cmdSearch"));
        remove = window->findChild<QPushButton*>(QStringLiteral("cmdDelete"));
    }
    ~Report()
    {
        if (window)
            window->close();
    }

    // Each row as "date | number | time".
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* r = list->topLevelItem(i);
            out << r->text(0) + QStringLiteral(" | ") + r->text(1) + QStringLiteral(" | ") + r->text(2);
        }
        return out;
    }
    void tick(int row, bool on) { list->topLevelItem(row)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked); }
    bool ticked(int row) const { return list->topLevelItem(row)->checkState(0) == Qt::Checked; }
    void range(const QDate& first, const QDate& last)
    {
        from->setDate(first);
        to->setDate(last);
        QTest::mouseClick(search, Qt::LeftButton);
    }
};

QStringList storedNumbers(Database& db)
{
    QStringList out;
    Query q(db, QStringLiteral("SELECT callerNumber FROM MissedCallStatistics ORDER BY id"));
    while (q.next())
        out << q.value(0).toString();
    return out;
}

} // namespace

class ViewsMissedCallsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void openingListsTodaysMissedCallsOldestFirst();
    void dayRangeRunsToTheNextMidnight_data();
    void dayRangeRunsToTheNextMidnight();
    void fromLaterThanToIsRefused();
    void selectAllAndRowBoxesDriveDelete();
    void deletingTwoTickedRowsRemovesExactlyThose();
    void answeringNoDeletesNothing();
    void rebuildingTheListLeavesNothingToDelete();
};

void ViewsMissedCallsTest::initTestCase()
{
    // Calls are stored in UTC; a zone away from UTC shows whether days and times are the local ones.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    QVERIFY(QDateTime(Today, QTime(0, 0)).offsetFromUtc() != 0);
}

void ViewsMissedCallsTest::openingListsTodaysMissedCallsOldestFirst()
{
    EngineRig rig;
    rig.clock.set(at(Today, QStringLiteral("12:00:00")));
    addCall(rig, QStringLiteral("+919812345678"), at(Today, QStringLiteral("09:05:40")));
    addCall(rig, QStringLiteral("+447700900123"), at(Today, QStringLiteral("08:30:10")));
    addCall(rig, QStringLiteral("+919800000001"), at(Today, QStringLiteral("10:00:00")), false); // answered
    addCall(rig, QString(), at(Today, QStringLiteral("11:15:00")));
    addCall(rig, QStringLiteral("+919800000002"), at(Today.addDays(-1), QStringLiteral("23:59:59")));
    addCall(rig, QStringLiteral("+919800000003"), at(Today.addDays(1), QStringLiteral("00:00:00")));

    Report report(rig.engine);
    QCOMPARE(report.window->windowTitle(), QStringLiteral("Missed Calls Report"));
    QCOMPARE(report.from->date(), Today);
    QCOMPARE(report.to->date(), Today);
    QCOMPARE(report.from->displayFormat(), QStringLiteral("dd/MM/yyyy"));
    QCOMPARE(report.rows(), (QStringList{QStringLiteral("15/03/2024 | +447700900123 | 08:30"),
                                         QStringLiteral("15/03/2024 | +919812345678 | 09:05"),
                                         QStringLiteral("15/03/2024 |  | 11:15")}));
    const QTreeWidgetItem* header = report.list->headerItem();
    QCOMPARE(header->text(0), QStringLiteral("Call Date"));
    QCOMPARE(header->text(1), QStringLiteral("Call Number"));
    QCOMPARE(header->text(2), QStringLiteral("Call Timing"));
    QVERIFY(report.list->isColumnHidden(3));
    QVERIFY(!report.ticked(0));
    QVERIFY(!report.remove->isEnabled());
    QVERIFY(rig.dialogs.shown.empty());
}

void ViewsMissedCallsTest::dayRangeRunsToTheNextMidnight_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<bool>("listed");
    QTest::newRow("midnight at the start") << QStringLiteral("00:00:00") << Today << true;
    QTest::newRow("23:58") << QStringLiteral("23:58:00") << Today << true;
    QTest::newRow("23:59:30") << QStringLiteral("23:59:30") << Today << true;
    QTest::newRow("next midnight") << QStringLiteral("00:00:00") << Today.addDays(1) << false;
    QTest::newRow("day before") << QStringLiteral("23:59:59") << Today.addDays(-1) << false;
}

void ViewsMissedCallsTest::dayRangeRunsToTheNextMidnight()
{
    QFETCH(QString, time);
    QFETCH(QDate, day);
    QFETCH(bool, listed);
    EngineRig rig;
    rig.clock.set(at(Today.addDays(5), QStringLiteral("08:00:00")));
    addCall(rig, QStringLiteral("+919812345678"), at(day, time));
    Report report(rig.engine);
    QVERIFY(report.rows().isEmpty());
    report.range(Today, Today);
    const QStringList expected = listed ? QStringList{day.toString(QStringLiteral("dd/MM/yyyy")) +
                                                      QStringLiteral(" | +919812345678 | ") + time.left(5)}
                                        : QStringList{};
    QCOMPARE(report.rows(), expected);
}

void ViewsMissedCallsTest::fromLaterThanToIsRefused()
{
    EngineRig rig;
    rig.clock.set(at(Today, QStringLiteral("12:00:00")));
    addCall(rig, QStringLiteral("+919812345678"), at(Today, QStringLiteral("09:00:00")));
    Report report(rig.engine);
    report.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(report.window));
    report.search->setFocus();
    const QStringList before = report.rows();
    QCOMPARE(before.size(), 1);

    report.range(Today.addDays(1), Today);
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("'From Date' should be less than 'To Date'.")});
    QCOMPARE(report.rows(), before);
    QVERIFY(report.from->hasFocus());

    rig.dialogs.clear();
    report.range(Today, Today); // equal dates are a valid range
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(report.rows(), before);
}

void ViewsMissedCallsTest::selectAllAndRowBoxesDriveDelete()
{
    EngineRig rig;
    rig.clock.set(at(Today, QStringLiteral("12:00:00")));
    for (const char* time : {"08:00:00", "09:00:00", "10:00:00"})
        addCall(rig, QStringLiteral("+919812345678"), at(Today, QString::fromLatin1(time)));
    Report report(rig.engine);
    QCOMPARE(report.list->topLevelItemCount(), 3);
    QVERIFY(!report.remove->isEnabled());

    QTest::mouseClick(report.all, Qt::LeftButton);
    QVERIFY(report.all->isChecked());
    for (int i = 0; i < 3; ++i)
        QVERIFY(report.ticked(i));
    QVERIFY(report.remove->isEnabled());

    QTest::mouseClick(report.all, Qt::LeftButton);
    QVERIFY(!report.all->isChecked());
    for (int i = 0; i < 3; ++i)
        QVERIFY(!report.ticked(i));
    QVERIFY(!report.remove->isEnabled());

    report.tick(1, true);
    QVERIFY(report.remove->isEnabled());
    report.tick(2, true);
    report.tick(1, false);
    QVERIFY(report.remove->isEnabled());
    report.tick(2, false);
    QVERIFY(!report.remove->isEnabled());
}

void ViewsMissedCallsTest::deletingTwoTickedRowsRemovesExactlyThose()
{
    EngineRig rig;
    rig.clock.set(at(Today, QStringLiteral("12:00:00")));
    addCall(rig, QStringLiteral("111"), at(Today, QStringLiteral("08:00:00")));
    addCall(rig, QStringLiteral("222"), at(Today, QStringLiteral("09:00:00")));
    addCall(rig, QStringLiteral("333"), at(Today, QStringLiteral("10:00:00")));
    addCall(rig, QStringLiteral("444"), at(Today.addDays(-1), QStringLiteral("10:00:00"))); // not listed
    Report report(rig.engine);
    report.tick(0, true);
    report.tick(2, true);

    rig.dialogs.answers = {true};
    QTest::mouseClick(report.remove, Qt::LeftButton);

    QCOMPARE(rig.dialogs.questions(), QStringList{QStringLiteral("Are u sure to delete the logs?")});
    QCOMPARE(rig.dialogs.messages(), QStringList{QStringLiteral("Records Deleted Successfully!!!")});
    QCOMPARE(storedNumbers(rig.db), (QStringList{QStringLiteral("222"), QStringLiteral("444")}));
    QCOMPARE(report.rows(), QStringList{QStringLiteral("15/03/2024 | 222 | 09:00")});
    QVERIFY(!report.ticked(0));
    QVERIFY(!report.remove->isEnabled());
}

void ViewsMissedCallsTest::answeringNoDeletesNothing()
{
    EngineRig rig;
    rig.clock.set(at(Today, QStringLiteral("12:00:00")));
    addCall(rig, QStringLiteral("111"), at(Today, QStringLiteral("08:00:00")));
    Report report(rig.engine);
    report.tick(0, true);
    rig.dialogs.answers = {false};
    QTest::mouseClick(report.remove, Qt::LeftButton);
    QCOMPARE(rig.dialogs.questions().size(), 1);
    QVERIFY(rig.dialogs.messages().isEmpty());
    QCOMPARE(storedNumbers(rig.db), QStringList{QStringLiteral("111")});
    QVERIFY(report.ticked(0));
    QVERIFY(report.remove->isEnabled());
}

void ViewsMissedCallsTest::rebuildingTheListLeavesNothingToDelete()
{
    EngineRig rig;
    rig.clock.set(at(Today, QStringLiteral("12:00:00")));
    addCall(rig, QStringLiteral("111"), at(Today, QStringLiteral("08:00:00")));
    addCall(rig, QStringLiteral("222"), at(Today, QStringLiteral("09:00:00")));
    Report report(rig.engine);
    QTest::mouseClick(report.all, Qt::LeftButton);
    QVERIFY(report.remove->isEnabled());

    // A call arriving while the window is open shows up at the next search; the rows come back unticked.
    addCall(rig, QStringLiteral("333"), at(Today, QStringLiteral("11:00:00")));
    QTest::mouseClick(report.search, Qt::LeftButton);
    QCOMPARE(report.list->topLevelItemCount(), 3);
    QVERIFY(!report.ticked(0));
    QVERIFY(!report.all->isChecked());
    QVERIFY(!report.remove->isEnabled());

    // Even when asked directly, Delete with nothing ticked neither deletes nor claims success.
    report.window->cmdDelete_Click();
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(storedNumbers(rig.db).size(), 3);
}

QTEST_MAIN(ViewsMissedCallsTest)
#include "tst_views_missedcalls.moc"
