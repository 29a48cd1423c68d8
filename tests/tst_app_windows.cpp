// Every window opens from its menu item, toolbar button or home page link, as one instance, modal or not.
#include "TestRig.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "compose/BroadtextWizard.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/frm_ComposeSMS.h"
#include "settings/frm_Settings.h"
#include "store/SettingsRows.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/Frm_ManageSIMMsg.h"
#include "views/Frm_MessageBox.h"
#include "views/Frm_MissedCallsList.h"
#include "views/frm_HomePage.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {

struct AppRig : TestRig {
    Broadtext program{state};
    AppRig() : TestRig(false)
    {
        program.engine.timerRefreshHomePage.setEnabled(false);
        program.Main(QSize(1280, 800));
    }
    MDI_Frmmanage* main() { return program.mainWindow.get(); }
    template <class W> W* visible()
    {
        W* found = nullptr;
        for (W* w : main()->findChildren<W*>())
            if (w->isVisible()) {
                if (found)
                    return nullptr; // more than one
                found = w;
            }
        return found;
    }
    void click(const char* homeLink)
    {
        QTest::mouseClick(main()->homePage()->findChild<QLabel*>(QLatin1String(homeLink)), Qt::LeftButton);
    }
};

} // namespace

class WindowsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsOpenModelessFromMenuAndConnect();
    void messageBoxFromMenuToolbarAndHomeLinks();
    void composeAndAutoReplyOpenModal();
    void wizardIsReusedFromSendBroadtextAndReloadedFromBroadtext();
    void simManagerIsFreshEachTime();
    void missedCallsReportOpensModeless();
};

void WindowsTest::settingsOpenModelessFromMenuAndConnect()
{
    AppRig rig;
    rig.program.showMainWindow(); // no modem settings yet: Connect asks for them
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral("Please set all the settings before connecting with modem.")});
    auto* settings = rig.visible<frm_Settings>();
    QVERIFY(settings);
    QCOMPARE(settings->windowModality(), Qt::NonModal);
    rig.main()->menuItem(QStringLiteral("modemsetting"))->trigger();
    QCOMPARE(rig.visible<frm_Settings>(), settings); // the same one
    settings->close();
    QTRY_VERIFY(!rig.visible<frm_Settings>());

    // A COM number with no device: the question's Yes opens the settings.
    WriteModemSetting(rig.program.db,
                      {20, QStringLiteral("115200"), QStringLiteral("n"), QStringLiteral("8"), QStringLiteral("1"),
                       QStringLiteral("0"), QStringLiteral("GSM"), 0, QStringLiteral("1")});
    rig.dialogs.answers = {true};
    rig.main()->start_Click();
    QTRY_COMPARE(rig.dialogs.questions().size(), 1);
    settings = rig.visible<frm_Settings>();
    QVERIFY(settings);

    // A modem settings change that needs a restart starts the program afresh instead of only ending it.
    int restarts = 0;
    rig.main()->restartApplication = [&] { ++restarts; };
    settings->close();
    QTRY_VERIFY(!rig.visible<frm_Settings>());
    rig.main()->menuItem(QStringLiteral("modemsetting"))->trigger();
    settings = rig.visible<frm_Settings>();
    settings->findChild<QComboBox*>(QStringLiteral("cmbDelay"))->setCurrentText(QStringLiteral("2"));
    QTest::mouseClick(settings->findChild<QPushButton*>(QStringLiteral("cmdSave1")), Qt::LeftButton);
    QCOMPARE(restarts, 1);
    QCOMPARE(rig.endApplicationCalls, 0);
}

void WindowsTest::messageBoxFromMenuToolbarAndHomeLinks()
{
    AppRig rig;
    rig.program.db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message) VALUES ('1', 'm')"));
    rig.program.showMainWindow();
    rig.main()->menuItem(QStringLiteral("mnuViewMessageBox"))->trigger();
    auto* box = rig.visible<Frm_MessageBox>();
    QVERIFY(box);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    QVERIFY(rig.state.MessageBoxOpen);
    QVERIFY(!box->isInBoxSelected());
    box->close();
    QTRY_VERIFY(!rig.state.MessageBoxOpen);

    rig.click("lblOutBox");
    box = rig.visible<Frm_MessageBox>();
    QVERIFY(box);
    QVERIFY(box->isOutBoxSelected());
    QVERIFY(rig.state.msgType.isEmpty());
    box->close();
    QTRY_VERIFY(!rig.state.MessageBoxOpen);

    rig.click("lblInBox");
    QVERIFY(rig.visible<Frm_MessageBox>() && rig.visible<Frm_MessageBox>()->isInBoxSelected());
    rig.visible<Frm_MessageBox>()->close();
    QTRY_VERIFY(!rig.state.MessageBoxOpen);

    rig.main()->toolbarButton(4)->trigger();
    QVERIFY(rig.visible<Frm_MessageBox>());
}

void WindowsTest::composeAndAutoReplyOpenModal()
{
    AppRig rig;
    rig.program.showMainWindow();
    rig.main()->menuItem(QStringLiteral("mnuSendIndividualSMS"))->trigger();
    auto* compose = rig.visible<frm_ComposeSMS>();
    QVERIFY(compose);
    QCOMPARE(compose->windowModality(), Qt::ApplicationModal);
    rig.main()->toolbarButton(3)->trigger();
    QCOMPARE(rig.visible<frm_ComposeSMS>(), compose);
    compose->close();
    QTRY_VERIFY(!rig.visible<frm_ComposeSMS>());

    rig.main()->menuItem(QStringLiteral("mnuAutoreplyOnMissedCall"))->trigger();
    auto* reply = rig.visible<Frm_AutoReplyOnMissedCall>();
    QVERIFY(reply);
    QCOMPARE(reply->windowModality(), Qt::ApplicationModal);
}

void WindowsTest::wizardIsReusedFromSendBroadtextAndReloadedFromBroadtext()
{
    AppRig rig;
    rig.program.showMainWindow();
    rig.main()->toolbarButton(2)->trigger();
    QPointer<Frm_Broadtext_Step2> first = rig.main()->wizard().step2();
    QVERIFY(first && first->isVisible());
    QVERIFY(rig.state.ChildWindowOpen);
    rig.main()->menuItem(QStringLiteral("mnuSendBroadtext"))->trigger();
    QCOMPARE(rig.main()->wizard().step2(), first.data());
    rig.main()->menuItem(QStringLiteral("mnuBroadtext"))->trigger();
    QVERIFY(rig.main()->wizard().step2());
    QVERIFY(rig.main()->wizard().step2() != first.data());
    QTRY_VERIFY(!first);
}

void WindowsTest::simManagerIsFreshEachTime()
{
    AppRig rig;
    rig.program.showMainWindow();
    rig.main()->menuItem(QStringLiteral("manageSim"))->trigger();
    QPointer<Frm_ManageSIMMsg> first = rig.visible<Frm_ManageSIMMsg>();
    QVERIFY(first);
    QCOMPARE(first->windowModality(), Qt::ApplicationModal);
    rig.main()->menuItem(QStringLiteral("manageSim"))->trigger();
    auto* second = rig.visible<Frm_ManageSIMMsg>();
    QVERIFY(second && second != first.data());
    QTRY_VERIFY(!first);
}

void WindowsTest::missedCallsReportOpensModeless()
{
    AppRig rig;
    rig.program.showMainWindow();
    rig.click("LblMissCall");
    auto* report = rig.visible<Frm_MissedCallsList>();
    QVERIFY(report);
    QCOMPARE(report->windowModality(), Qt::NonModal);
    rig.click("LblMissCall");
    QCOMPARE(rig.visible<Frm_MissedCallsList>(), report);
}

QTEST_MAIN(WindowsTest)
#include "tst_app_windows.moc"
