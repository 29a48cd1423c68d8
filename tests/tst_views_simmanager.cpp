// The SIM message manager against the simulated modem: listing by the ticked statuses, Select All, deleting
// ticked rows one by one, deleting whole statuses, and the refusal while the modem is not connected.
// Each listing of this window waits 1.5 s for the modem, so the scenarios share as few listings as they can.
#include "EngineRig.h"
#include "views/Frm_ManageSIMMsg.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

const QString NotConnected = u"Computer is not communicating with the modem. Please select the option "
                             u"'Listen To Modem' before executing any modem commands."_s;
const QString Number = u"+919812345678"_s;

struct Manager {
    QWidget main; // stands for the main window
    QPointer<Frm_ManageSIMMsg> window;

    explicit Manager(Engine& engine) : window(new Frm_ManageSIMMsg(engine, &main))
    {
        window->setWindowModality(Qt::ApplicationModal);
        window->show();
    }
    ~Manager()
    {
        for (Frm_ManageSIMMsg* w : main.findChildren<Frm_ManageSIMMsg*>())
            w->close();
    }

    template <typename T> T* child(const char* name) const { return window->findChild<T*>(QString::fromLatin1(name)); }
    QTreeWidget* list() const { return child<QTreeWidget>("ListMessage"); }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    void tick(std::initializer_list<const char*> names, bool on = true)
    {
        for (const char* n : names)
            child<QCheckBox>(n)->setChecked(on);
    }
    // Each row as "message | status | number | index".
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* r = list()->topLevelItem(i);
            out << QStringList{r->text(0), r->text(1), r->text(2), r->text(3)}.join(" | ");
        }
        return out;
    }
    int tickedRows() const
    {
        int n = 0;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            n += list()->topLevelItem(i)->checkState(0) == Qt::Checked;
        return n;
    }
    QList<Frm_ManageSIMMsg*> openWindows() const
    {
        QList<Frm_ManageSIMMsg*> out;
        for (Frm_ManageSIMMsg* w : main.findChildren<Frm_ManageSIMMsg*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                out << w;
        return out;
    }
};

QList<int> simIndexes(const ModemSimulator& sim)
{
    QList<int> out;
    for (const auto& m : sim.simMessages())
        out << m.index;
    return out;
}

QString deletion(int index)
{
    return u"AT+CMGD=%1"_s.arg(index);
}

} // namespace

class ViewsSimManagerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listingTickingAndDeletingTickedRows();
    void showWaitsForTheRunningWorkAndNothingTickedSendsNothing();
    void deletingByStatusListsOnceAndDeletesEachListed();
    void notConnectedRefusesEveryCommand();
};

void ViewsSimManagerTest::listingTickingAndDeletingTickedRows()
{
    EngineRig rig;
    const int a = rig.sim.storeMessage("REC READ", Number, "Hello there");
    const int b = rig.sim.storeMessage("STO SENT", "+447700900123", "Draft");
    QVERIFY(rig.connectModem());
    rig.sim.clearRecords();
    Manager m(rig.engine);

    // Ticked in the other order: listed in the window's fixed order, read messages twice.
    m.tick({"Chkshowread", "Chkshowall"});
    m.click("CmdShow");
    QTRY_COMPARE_WITH_TIMEOUT(m.rows().size(), 3, 10000);
    QCOMPARE(rig.sim.commands(), (QStringList{"AT+CLCC", "AT+CMGL=\"ALL\"", "AT+CLCC", "AT+CMGL=\"REC READ\""}));
    QCOMPARE(m.rows(), (QStringList{u"Hello there | ALL | +919812345678 | %1"_s.arg(a),
                                    u"Draft | ALL | +447700900123 | %1"_s.arg(b),
                                    u"Hello there | READ | +919812345678 | %1"_s.arg(a)}));
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(simIndexes(rig.sim), (QList<int>{a, b})); // listing deletes nothing

    // Select All ticks and unticks every row.
    QTest::mouseClick(m.child<QCheckBox>("chkItem"), Qt::LeftButton);
    QCOMPARE(m.tickedRows(), 3);
    QTest::mouseClick(m.child<QCheckBox>("chkItem"), Qt::LeftButton);
    QCOMPARE(m.tickedRows(), 0);

    // One deletion per ticked row, after the question; No sends nothing.
    m.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    m.list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
    QPointer<Frm_ManageSIMMsg> first = m.window;
    Frm_ManageSIMMsg* fresh = nullptr;
    connect(first, &Frm_ManageSIMMsg::reloaded, this, [&](Frm_ManageSIMMsg* w) { fresh = w; });
    rig.sim.clearRecords();
    rig.dialogs.answers = {false, true};
    m.click("CmdDelFromList");
    QVERIFY(rig.sim.commands().isEmpty());
    QCOMPARE(m.openWindows(), QList<Frm_ManageSIMMsg*>{first.data()});
    m.click("CmdDelFromList");
    QCOMPARE(rig.dialogs.questions(), QStringList(2, "Are you sure to delete the selected messages?"));
    QTRY_COMPARE(rig.sim.commands(), (QStringList{deletion(a), deletion(b)}));
    QVERIFY(rig.sim.simMessages().isEmpty());
    QVERIFY(rig.dialogs.messages().isEmpty());

    // The window is replaced by a fresh, empty, modeless one under the same parent.
    QTRY_VERIFY(first.isNull());
    QVERIFY(fresh);
    QCOMPARE(m.openWindows(), QList<Frm_ManageSIMMsg*>{fresh});
    QCOMPARE(fresh->windowModality(), Qt::NonModal);
    QCOMPARE(fresh->findChild<QTreeWidget*>("ListMessage")->topLevelItemCount(), 0);

    // With nothing ticked, Delete sends nothing and still starts afresh.
    m.window = fresh;
    rig.sim.clearRecords();
    rig.dialogs.answers = {true};
    m.click("CmdDelFromList");
    QVERIFY(rig.sim.commands().isEmpty());
    QTRY_VERIFY(!m.openWindows().contains(fresh));
    QCOMPARE(m.openWindows().size(), 1);
}

void ViewsSimManagerTest::showWaitsForTheRunningWorkAndNothingTickedSendsNothing()
{
    EngineRig rig;
    rig.sim.storeMessage("STO SENT", Number, "Draft reply");
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tick({"Chkshowsent"});
    rig.sim.clearRecords();
    rig.sim.setAnswerDelayMs(150);

    // The click arrives while a reception is under way: the listing waits its turn, the window does not.
    rig.engine.Timer1_Timer();
    m.click("CmdShow");
    QVERIFY(m.rows().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m.rows(), QStringList{"Draft reply | SENT | +919812345678 | 1"}, 10000);
    QCOMPARE(rig.sim.commands(), (QStringList{"AT+CLCC", "AT+CMGL=\"ALL\"", "AT+CLCC", "AT+CMGL=\"STO SENT\""}));

    // Nothing ticked: the list is emptied and the modem is left alone.
    m.tick({"Chkshowsent"}, false);
    rig.sim.clearRecords();
    m.click("CmdShow");
    QVERIFY(m.rows().isEmpty());
    QVERIFY(rig.sim.commands().isEmpty());
}

void ViewsSimManagerTest::deletingByStatusListsOnceAndDeletesEachListed()
{
    EngineRig rig;
    QList<int> all;
    for (const char* status : {"REC READ", "STO SENT", "STO UNSENT"})
        all << rig.sim.storeMessage(status, Number, "text");
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    rig.sim.clearRecords();
    m.tick({"chkAll"});
    rig.dialogs.answers = {false, true};
    m.click("cmdDelete");
    QVERIFY(rig.sim.commands().isEmpty());
    m.click("cmdDelete");

    QCOMPARE(rig.dialogs.questions(), QStringList(2, "Are you sure to delete the Messages?"));
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());
    QCOMPARE(rig.sim.commands().filter("AT+CM"),
             (QStringList{"AT+CMGL=\"ALL\"", deletion(all[0]), deletion(all[1]), deletion(all[2])}));
    QVERIFY(m.window); // the window stays open

    // Two statuses: each listed and deleted in the fixed order, whatever order they were ticked in.
    const int d = rig.sim.storeMessage("STO UNSENT", "+1", "U");
    const int e = rig.sim.storeMessage("REC READ", "+2", "R");
    const int f = rig.sim.storeMessage("STO SENT", "+3", "S");
    m.tick({"chkAll"}, false);
    m.tick({"ChkUnsent", "ChkRead"});
    rig.sim.clearRecords();
    rig.dialogs.answers = {true};
    m.click("cmdDelete");
    QTRY_COMPARE(rig.sim.commands().filter("AT+CM"),
                 (QStringList{"AT+CMGL=\"REC READ\"", deletion(e), "AT+CMGL=\"STO UNSENT\"", deletion(d)}));
    QCOMPARE(simIndexes(rig.sim), QList<int>{f});
}

void ViewsSimManagerTest::notConnectedRefusesEveryCommand()
{
    EngineRig rig;
    rig.sim.storeMessage("REC READ", Number, "One");
    Manager m(rig.engine);
    m.tick({"Chkshowall", "chkAll"});
    m.click("CmdShow");
    m.click("CmdDelFromList");
    m.click("cmdDelete");
    QCOMPARE(rig.dialogs.messages(), QStringList(3, NotConnected));
    QVERIFY(rig.dialogs.questions().isEmpty());
    QVERIFY(rig.sim.commands().isEmpty());
    QVERIFY(m.window);
}

QTEST_MAIN(ViewsSimManagerTest)
#include "tst_views_simmanager.moc"
