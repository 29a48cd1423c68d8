// The SIM message manager against the simulated modem: listing by the ticked statuses, Select All, deleting
// ticked rows one by one, deleting whole statuses, and the refusal while the modem is not connected.
#include "EngineRig.h"
#include "views/Frm_ManageSIMMsg.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QString NotConnected = QStringLiteral("Computer is not communicating with the modem. Please select the option "
                                            "'Listen To Modem' before executing any modem commands.");

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
        if (window)
            window->close();
    }

    template <typename T> T* child(const char* name) const { return window->findChild<T*>(QString::fromLatin1(name)); }
    QTreeWidget* list() const { return child<QTreeWidget>("ListMessage"); }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    void tickBoxes(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            child<QCheckBox>(n)->setChecked(true);
    }
    // Each row as "message | status | number | index".
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* r = list()->topLevelItem(i);
            out << r->text(0) + QStringLiteral(" | ") + r->text(1) + QStringLiteral(" | ") + r->text(2) +
                       QStringLiteral(" | ") + r->text(3);
        }
        return out;
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

QStringList commandsStartingWith(const ModemSimulator& sim, const QString& prefix)
{
    QStringList out;
    for (const QString& c : sim.commands())
        if (c.startsWith(prefix))
            out << c;
    return out;
}

QList<int> simIndexes(const ModemSimulator& sim)
{
    QList<int> out;
    for (const auto& m : sim.simMessages())
        out << m.index;
    return out;
}

} // namespace

class ViewsSimManagerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showListsEachTickedStatusInOrder_data();
    void showListsEachTickedStatusInOrder();
    void showWithNothingTickedSendsNothing();
    void selectAllTicksEveryRow();
    void deletingTickedRowsSendsOneDeletionEachAndReloads();
    void deletingWithNothingTickedReloadsEmpty();
    void deletingByStatusListsOnceAndDeletesEachListed();
    void answeringNoSendsNothing();
    void notConnectedRefusesEveryCommand();
    void aClickDuringAnotherExchangeWaitsForItsAnswer();
};

void ViewsSimManagerTest::showListsEachTickedStatusInOrder_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("listings");
    QTest::addColumn<QStringList>("rows");
    const QString read = QStringLiteral("Hello there | %1 | +919812345678 | 1");
    const QString sent = QStringLiteral("Draft reply | %1 | +447700900123 | 2");
    const QString unsent = QStringLiteral("Not yet | %1 | +447700900999 | 3");
    QTest::newRow("All and Read") << QStringList{QStringLiteral("Chkshowread"), QStringLiteral("Chkshowall")}
                                  << QStringList{QStringLiteral("AT+CMGL=\"ALL\""),
                                                 QStringLiteral("AT+CMGL=\"REC READ\"")}
                                  << QStringList{read.arg(QStringLiteral("ALL")), sent.arg(QStringLiteral("ALL")),
                                                 unsent.arg(QStringLiteral("ALL")), read.arg(QStringLiteral("READ"))};
    QTest::newRow("Sent and Un Sent") << QStringList{QStringLiteral("Chkshowunsent"), QStringLiteral("Chkshowsent")}
                                      << QStringList{QStringLiteral("AT+CMGL=\"STO SENT\""),
                                                     QStringLiteral("AT+CMGL=\"STO UNSENT\"")}
                                      << QStringList{sent.arg(QStringLiteral("SENT")),
                                                     unsent.arg(QStringLiteral("UNSENT"))};
    QTest::newRow("Un Read, none on the SIM") << QStringList{QStringLiteral("Chkshowunread")}
                                              << QStringList{QStringLiteral("AT+CMGL=\"REC UNREAD\"")} << QStringList{};
}

void ViewsSimManagerTest::showListsEachTickedStatusInOrder()
{
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, listings);
    QFETCH(QStringList, rows);
    EngineRig rig;
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("Hello there"));
    rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("+447700900123"), QStringLiteral("Draft reply"));
    rig.sim.storeMessage(QStringLiteral("STO UNSENT"), QStringLiteral("+447700900999"), QStringLiteral("Not yet"));
    QVERIFY(rig.connectModem());
    rig.sim.clearRecords();

    Manager m(rig.engine);
    QCOMPARE(m.window->windowTitle(), QStringLiteral("Manage Messages"));
    for (const QString& b : boxes)
        m.child<QCheckBox>(b.toLatin1().constData())->setChecked(true);
    m.click("CmdShow");

    QCOMPARE(commandsStartingWith(rig.sim, QStringLiteral("AT+CMGL")), listings);
    QCOMPARE(commandsStartingWith(rig.sim, QStringLiteral("AT+CLCC")).size(), listings.size());
    QCOMPARE(m.rows(), rows);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(simIndexes(rig.sim) == (QList<int>{1, 2, 3})); // listing deletes nothing
}

void ViewsSimManagerTest::showWithNothingTickedSendsNothing()
{
    EngineRig rig;
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("Hello"));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall"});
    m.click("CmdShow");
    QCOMPARE(m.rows().size(), 1);

    m.child<QCheckBox>("Chkshowall")->setChecked(false);
    rig.sim.clearRecords();
    m.click("CmdShow");
    QVERIFY(m.rows().isEmpty());
    QVERIFY(rig.sim.commands().isEmpty());
}

void ViewsSimManagerTest::selectAllTicksEveryRow()
{
    EngineRig rig;
    for (int i = 0; i < 3; ++i)
        rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"),
                             QStringLiteral("Text %1").arg(i));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall"});
    m.click("CmdShow");
    QCOMPARE(m.list()->topLevelItemCount(), 3);

    auto tickedRows = [&] {
        int n = 0;
        for (int i = 0; i < m.list()->topLevelItemCount(); ++i)
            n += m.list()->topLevelItem(i)->checkState(0) == Qt::Checked;
        return n;
    };
    QCOMPARE(tickedRows(), 0);
    QTest::mouseClick(m.child<QCheckBox>("chkItem"), Qt::LeftButton);
    QCOMPARE(tickedRows(), 3);
    QTest::mouseClick(m.child<QCheckBox>("chkItem"), Qt::LeftButton);
    QCOMPARE(tickedRows(), 0);
}

void ViewsSimManagerTest::deletingTickedRowsSendsOneDeletionEachAndReloads()
{
    EngineRig rig;
    const int a =
        rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("One"));
    const int b =
        rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("Two"));
    const int c =
        rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("+919812345678"), QStringLiteral("Three"));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall"});
    m.click("CmdShow");
    QCOMPARE(m.list()->topLevelItemCount(), 3);
    m.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    m.list()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    QPointer<Frm_ManageSIMMsg> first = m.window;
    Frm_ManageSIMMsg* fresh = nullptr;
    connect(first, &Frm_ManageSIMMsg::reloaded, this, [&](Frm_ManageSIMMsg* w) { fresh = w; });

    rig.sim.clearRecords();
    rig.dialogs.answers = {true};
    m.click("CmdDelFromList");

    QCOMPARE(rig.dialogs.questions(), QStringList{QStringLiteral("Are you sure to delete the selected messages?")});
    QCOMPARE(rig.sim.commands(),
             (QStringList{QStringLiteral("AT+CMGD=%1").arg(a), QStringLiteral("AT+CMGD=%1").arg(c)}));
    QVERIFY(simIndexes(rig.sim) == QList<int>{b});
    QVERIFY(rig.dialogs.messages().isEmpty());

    // The window was replaced by a fresh, empty, modeless one under the same parent.
    QTRY_VERIFY(first.isNull());
    QVERIFY(fresh);
    QCOMPARE(m.openWindows(), QList<Frm_ManageSIMMsg*>{fresh});
    QCOMPARE(fresh->parentWidget(), &m.main);
    QCOMPARE(fresh->windowModality(), Qt::NonModal);
    QCOMPARE(fresh->findChild<QTreeWidget*>(QStringLiteral("ListMessage"))->topLevelItemCount(), 0);
    fresh->close();
}

void ViewsSimManagerTest::deletingWithNothingTickedReloadsEmpty()
{
    EngineRig rig;
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("One"));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall"});
    m.click("CmdShow");
    QCOMPARE(m.rows().size(), 1);
    QPointer<Frm_ManageSIMMsg> first = m.window;

    rig.sim.clearRecords();
    rig.dialogs.answers = {true};
    m.click("CmdDelFromList");
    QVERIFY(rig.sim.commands().isEmpty());
    QTRY_VERIFY(first.isNull());
    const QList<Frm_ManageSIMMsg*> open = m.openWindows();
    QCOMPARE(open.size(), 1);
    QCOMPARE(open[0]->findChild<QTreeWidget*>(QStringLiteral("ListMessage"))->topLevelItemCount(), 0);
    open[0]->close();
}

void ViewsSimManagerTest::deletingByStatusListsOnceAndDeletesEachListed()
{
    EngineRig rig;
    const int a =
        rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("One"));
    const int b =
        rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("+919812345678"), QStringLiteral("Two"));
    const int c =
        rig.sim.storeMessage(QStringLiteral("STO UNSENT"), QStringLiteral("+919812345678"), QStringLiteral("Three"));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    rig.sim.clearRecords();
    m.tickBoxes({"chkAll"});
    rig.dialogs.answers = {true};
    m.click("cmdDelete");

    QCOMPARE(rig.dialogs.questions(), QStringList{QStringLiteral("Are you sure to delete the Messages?")});
    QCOMPARE(commandsStartingWith(rig.sim, QStringLiteral("AT+CMGL")), QStringList{QStringLiteral("AT+CMGL=\"ALL\"")});
    QCOMPARE(commandsStartingWith(rig.sim, QStringLiteral("AT+CMGD")),
             (QStringList{QStringLiteral("AT+CMGD=%1").arg(a), QStringLiteral("AT+CMGD=%1").arg(b),
                          QStringLiteral("AT+CMGD=%1").arg(c)}));
    QVERIFY(rig.sim.simMessages().isEmpty());
    QVERIFY(m.window); // the window stays open

    // Two statuses: each listed and deleted in the fixed order, whatever order they were ticked in.
    const int d = rig.sim.storeMessage(QStringLiteral("STO UNSENT"), QStringLiteral("+1"), QStringLiteral("U"));
    const int e = rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+2"), QStringLiteral("R"));
    const int f = rig.sim.storeMessage(QStringLiteral("STO SENT"), QStringLiteral("+3"), QStringLiteral("S"));
    m.child<QCheckBox>("chkAll")->setChecked(false);
    m.tickBoxes({"ChkUnsent", "ChkRead"});
    rig.sim.clearRecords();
    m.click("cmdDelete");
    QCOMPARE(commandsStartingWith(rig.sim, QStringLiteral("AT+CM")),
             (QStringList{QStringLiteral("AT+CMGL=\"REC READ\""), QStringLiteral("AT+CMGD=%1").arg(e),
                          QStringLiteral("AT+CMGL=\"STO UNSENT\""), QStringLiteral("AT+CMGD=%1").arg(d)}));
    QVERIFY(simIndexes(rig.sim) == QList<int>{f});
}

void ViewsSimManagerTest::answeringNoSendsNothing()
{
    EngineRig rig;
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("One"));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall", "chkAll"});
    m.click("CmdShow");
    m.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    rig.sim.clearRecords();
    rig.dialogs.answers = {false, false};
    m.click("CmdDelFromList");
    m.click("cmdDelete");
    QCOMPARE(rig.dialogs.questions().size(), 2);
    QVERIFY(rig.sim.commands().isEmpty());
    QCOMPARE(rig.sim.simMessages().size(), 1);
    QCOMPARE(m.rows().size(), 1);
    QCOMPARE(m.openWindows(), QList<Frm_ManageSIMMsg*>{m.window.data()});
}

void ViewsSimManagerTest::notConnectedRefusesEveryCommand()
{
    EngineRig rig;
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("One"));
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall", "chkAll"});
    m.click("CmdShow");
    m.click("CmdDelFromList");
    m.click("cmdDelete");
    QCOMPARE(rig.dialogs.messages(), (QStringList{NotConnected, NotConnected, NotConnected}));
    QVERIFY(rig.dialogs.questions().isEmpty());
    QVERIFY(rig.sim.commands().isEmpty());
    QVERIFY(m.window);
}

void ViewsSimManagerTest::aClickDuringAnotherExchangeWaitsForItsAnswer()
{
    EngineRig rig;
    rig.sim.storeMessage(QStringLiteral("REC READ"), QStringLiteral("+919812345678"), QStringLiteral("One"));
    QVERIFY(rig.connectModem());
    Manager m(rig.engine);
    m.tickBoxes({"Chkshowall"});
    rig.sim.clearRecords();
    rig.sim.setAnswerDelayMs(150);

    // The click arrives while a slow exchange lets events run in its response wait.
    QTimer::singleShot(0, m.window, [&] { m.click("CmdShow"); });
    const QString r =
        rig.engine.modem.ExecuteATCommand(QStringLiteral("AT+CGMI\r"), 100, QStringLiteral("OK"), false, true, 5, {});
    QVERIFY(rig.state.LastCommandOK);
    QVERIFY(r.contains(QLatin1String("Broadtext Simulated Modems")));
    QCOMPARE(rig.sim.commands(), QStringList{QStringLiteral("AT+CGMI")});

    QTRY_COMPARE_WITH_TIMEOUT(m.rows().size(), 1, 10000);
    QCOMPARE(rig.sim.commands(),
             (QStringList{QStringLiteral("AT+CGMI"), QStringLiteral("AT+CLCC"), QStringLiteral("AT+CMGL=\"ALL\"")}));
}

QTEST_MAIN(ViewsSimManagerTest)
#include "tst_views_simmanager.moc"
