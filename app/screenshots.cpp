// Takes the screenshots of the documentation: the real windows of the program on a prepared temporary data
// folder, connected to the modem simulator, drawn on a 1024 x 768 screen (the main window filling it, any
// other window centred on top with a plain title bar, as a window manager would show it).
//
// Usage: broadtext-screenshots OUTPUT_FOLDER WIZARD_FIXTURES_FOLDER (scripts/screenshots.sh runs it).
#include "Doubles.h"
#include "app/Broadtext.h"
#include "app/MDI_Frmmanage.h"
#include "common/AppState.h"
#include "compose/BroadtextWizard.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/Frm_Broadtext_Step3.h"
#include "compose/Frm_Broadtext_Step4.h"
#include "compose/Frm_Broadtext_Step5.h"
#include "compose/frm_ComposeSMS.h"
#include "settings/frm_Settings.h"
#include "store/SettingsRows.h"
#include "tools/ModemSimulator.h"
#include "views/Frm_MessageBox.h"
#include "views/MessageTextEdit.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

const QSize Screen(1024, 768);
constexpr int TitleBar = 24;

// A clock that starts on a fixed morning and runs, so that the pictures show the same dates on every run
// while the delivery estimate still sees time pass.
class ShowClock : public Clock {
public:
    QDateTime now() const override { return start.addMSecs(running.elapsed()); }

private:
    QDateTime start{QDate(2026, 3, 2), QTime(10, 15)};
    QElapsedTimer running = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

struct Shots {
    QString folder;
    MDI_Frmmanage* main = nullptr;
    bool ok = true;

    void take(const QString& name, QWidget* window = nullptr)
    {
        QCoreApplication::processEvents();
        QImage screen(Screen, QImage::Format_RGB32);
        screen.fill(QColor(64, 72, 80));
        QPainter p(&screen);
        p.drawPixmap(0, 0, main->grab());
        if (window) {
            const QPixmap picture = window->grab();
            const QPoint at((Screen.width() - picture.width()) / 2,
                            std::max(TitleBar, (Screen.height() - picture.height() + TitleBar) / 2));
            const QRect bar(at.x(), at.y() - TitleBar, picture.width(), TitleBar);
            p.fillRect(bar, QColor(52, 64, 84));
            p.setPen(Qt::white);
            p.drawText(bar.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
            p.drawPixmap(at, picture);
            p.setPen(QColor(40, 40, 40));
            p.drawRect(
                QRect(bar.topLeft(), QSize(picture.width(), picture.height() + TitleBar)).adjusted(-1, -1, 0, 0));
        }
        p.end();
        const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!screen.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ok = false;
        }
        std::printf("%s\n", qPrintable(file));
    }
};

template <class T> T* child(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s in %s", name, qPrintable(w->objectName()));
    return c;
}

bool waitFor(const std::function<bool()>& condition, const char* what)
{
    if (QTest::qWaitFor(condition, 20000))
        return true;
    std::fprintf(stderr, "gave up waiting for %s\n", what);
    return false;
}

// Messages as people write them, and numbers as the network gives them.
const char* const Texts[] = {
    "Meeting moved to Tuesday at ten, please confirm.",
    "Your parcel is waiting at the depot, bring ID.",
    "OK see you later then",
    "Reminder: the invoice 4471 is due on Friday.",
    "Happy birthday! Dinner at eight?",
    "Running late, traffic on the bridge.",
    "Balance low: top up soon to keep sending messages.",
    "Can you call me when you land?",
    "The parcel was delivered to your neighbour at number 12.",
    "Thanks, got it.",
};

QString number(int i)
{
    return QStringLiteral("+4477009%1").arg(10000 + (i * 7919) % 90000);
}

void prepare(Database& db, const QDateTime& now)
{
    db.beginTransaction();
    for (int i = 0; i < 236; ++i)
        db.execute(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, IsRead)"
                                  " VALUES (?, 0, ?, ?, ?)"),
                   {number(i % 40), QString::fromLatin1(Texts[i % 10]),
                    Database::DbTime(now.addSecs(-2400 * (236 - i))), Database::DbBool(i < 231)});
    for (int i = 0; i < 180; ++i)
        db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                                  "DeliveryStatus, DeliveryDatetime) VALUES (0, ?, ?, ?, 'SENT', ?)"),
                   {number(i % 25), QString::fromLatin1(Texts[(i + 3) % 10]),
                    Database::DbTime(now.addSecs(-3000 * (180 - i))),
                    Database::DbTime(now.addSecs(-3000 * (180 - i) + 4))});
    for (int i = 0; i < 3; ++i)
        db.execute(QStringLiteral("INSERT INTO MissedCallStatistics (callerNumber, callDateTime, IsMissCall) "
                                  "VALUES (?, ?, -1)"),
                   {number(i), Database::DbTime(now.addSecs(-900 * (i + 1)))});
    db.commit();
}

// Outbox rows a delivery tried before: the attempts and the last error, in the columns the delivery run keeps
// them in (added here when this database has none yet).
void queueRetries(Database& db, const QDateTime& now)
{
    bool attempts = false;
    for (Query q(db, QStringLiteral("PRAGMA table_info(Message_OutBox)")); q.next();)
        attempts = attempts || q.value(1).toString() == QLatin1String("Attempts");
    if (!attempts) {
        db.execute(QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN Attempts INTEGER NOT NULL DEFAULT 0"));
        db.execute(QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN LastError TEXT"));
    }
    const struct {
        const char* number;
        const char* text;
        int attempts;
        const char* error;
    } rows[] = {
        {"+447700900123", "Your parcel is waiting at the depot, bring ID.", 2, "+CMS ERROR: 38 network out of order"},
        {"+919888812121", "Meeting moved to Tuesday at ten, please confirm.", 1, "no answer from the network"},
        {"07700 900 555", "Balance low: top up soon to keep sending messages.", 0, ""},
        {"+447700900777", "Happy birthday! Dinner at eight?", 3, "+CMS ERROR: 330 SMSC address unknown"},
        {"0033 612345678", "Thanks, got it.", 0, ""},
    };
    int i = 0;
    for (const auto& r : rows)
        db.execute(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                                  "Attempts, LastError) VALUES (0, ?, ?, ?, ?, ?)"),
                   {QString::fromLatin1(r.number), QString::fromLatin1(r.text),
                    Database::DbTime(now.addSecs(-60 * ++i)), r.attempts,
                    *r.error ? QString::fromLatin1(r.error) : QString()});
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER WIZARD_FIXTURES_FOLDER\n", argv[0]);
        return 2;
    }
    QApplication::setApplicationDisplayName(QStringLiteral("Broadtext"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QString fixtures = QString::fromLocal8Bit(argv[2]);

    QTemporaryDir data;
    AppState state;
    ScriptedDialogs dialogs;
    dialogs.defaultAnswer = false;
    ShowClock clock;
    RecordingSoundPlayer sound;
    state.dialogs = &dialogs;
    state.clock = &clock;
    state.sound = &sound;
    state.dataDir = data.path() + QStringLiteral("/broadtext");
    state.endApplication = [] {};

    Broadtext program(state);
    if (!program.Main(Screen))
        return 1;
    Shots shots{QString::fromLocal8Bit(argv[1]), program.mainWindow.get()};
    MDI_Frmmanage& main = *shots.main;
    main.restartApplication = [] {};
    main.setGeometry(QRect(QPoint(0, 0), Screen));
    prepare(program.db, clock.now());
    ModemSimulator sim;
    QString error;
    if (!sim.start(&error) || !sim.linkAs(state.dataDir, 3, &error)) {
        std::fprintf(stderr, "modem simulator: %s\n", qPrintable(error));
        return 1;
    }

    // First start: no modem settings, so Connect opens the settings, which need only the port.
    program.showMainWindow();
    auto* settings = main.findChild<frm_Settings*>();
    if (!waitFor([&] { return settings && settings->isVisible(); }, "the settings window"))
        return 1;
    shots.take(QStringLiteral("settings-modem"), settings);
    child<QTabBar>(settings, "TabStrip1")->setCurrentIndex(1);
    shots.take(QStringLiteral("settings-timers"), settings);
    child<QTabBar>(settings, "TabStrip1")->setCurrentIndex(0);
    child<QComboBox>(settings, "Combo_comportNo")->setCurrentText(QStringLiteral("3"));
    child<QPushButton>(settings, "cmdSave1")->click();
    settings->close();

    // Connected, a message received (no tray here: the status bar tells) and a delivery under way.
    main.start_Click();
    if (!waitFor([&] { return program.engine.status().ready; }, "the connection"))
        return 1;
    sim.setNetworkDelayMs(700);
    sim.receiveSms(QStringLiteral("447700900123"), QStringLiteral("Parcel delivered, thank you!"));
    program.engine.ReceiveNow();
    waitFor([&] { return !program.engine.receiving(); }, "the reception");
    program.log.clear(); // the modem's listing carries the real date, which would change the picture each time
    for (int i = 0; i < 40; ++i)
        program.db.execute(
            QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, "
                           "OutBoxDateTime) VALUES (0, ?, ?, ?)"),
            {number(100 + i), QStringLiteral("Our shop opens at nine tomorrow."), Database::DbTime(clock.now())});
    program.engine.SendNow();
    waitFor([&] { return sim.sent().size() >= 12; }, "twelve messages sent");
    program.engine.timerRefreshHomePage_Timer();
    shots.take(QStringLiteral("main-window"));
    program.engine.Disconnect();
    waitFor([&] { return !program.engine.sending(); }, "the end of the delivery");
    program.db.execute(QStringLiteral("DELETE FROM Message_OutBox WHERE DeliveryDatetime IS NULL"));
    queueRetries(program.db, clock.now());
    program.engine.timerRefreshHomePage_Timer();

    main.openCompose();
    auto* compose = main.findChild<frm_ComposeSMS*>();
    child<QLineEdit>(compose, "MobileNumbers")->setText(QStringLiteral("+447700900123, +919888812121"));
    child<MessageTextEdit>(compose, "Message")
        ->setText(QStringLiteral("Dear customer, your order 4471 has been packed and leaves our warehouse today. "
                                 "The courier will call you before delivery; please keep your phone at hand. "
                                 "Reply STOP to receive no more messages from us."));
    shots.take(QStringLiteral("compose"), compose);
    compose->close();

    main.openMessageBox();
    auto* box = main.findChild<Frm_MessageBox*>();
    box->TreeView1_NodeClick(2);
    child<QLineEdit>(box, "txtSearch")->setText(QStringLiteral("parcel"));
    box->txtSearch_Search();
    shots.take(QStringLiteral("message-box-search"), box);
    child<QLineEdit>(box, "txtSearch")->clear();
    box->TreeView1_NodeClick(3);
    shots.take(QStringLiteral("message-box-outbox"), box);
    box->close();

    // The wizard: each step reached as a user reaches it.
    BroadtextWizard& wizard = main.wizard();
    const auto step2 = [&](const char* option, const QString& file) {
        wizard.show();
        Frm_Broadtext_Step2* s = wizard.step2();
        child<QAbstractButton>(s, option)->click();
        s->txtFileName->setText(file);
        return s;
    };
    QFile numbers(data.path() + QStringLiteral("/customers.txt"));
    if (!numbers.open(QIODevice::WriteOnly) ||
        numbers.write("+447700900123\n+447700900456\n+919888812121\n07700 900555\n+447700900123\n+33612345678\n"
                      "+447700900789\n") < 0)
        return 1;
    numbers.close();
    Frm_Broadtext_Step2* s2 = step2("OptTxt", numbers.fileName());
    s2->OptNoOnNewLine->click();
    shots.take(QStringLiteral("wizard-step2"), s2);
    s2->cmdNext->click();
    Frm_Broadtext_Step5* s5 = wizard.step5();
    if (!waitFor([&] { return s5 && s5->isVisible(); }, "wizard step 5"))
        return 1;
    s5->txtMessage->setText(QStringLiteral("Our shop opens at nine tomorrow. See you there!"));
    shots.take(QStringLiteral("wizard-step5"), s5);
    s5->cmdClose->click();

    step2("OptAccess", fixtures + QStringLiteral("/wizard.mdb"))->cmdNext->click();
    Frm_Broadtext_Step3* s3 = wizard.step3();
    if (!waitFor([&] { return s3 && s3->cmbTableName->count() > 0; }, "wizard step 3"))
        return 1;
    s3->cmbTableName->setCurrentText(QStringLiteral("Contacts"));
    s3->CmbFieldName->setCurrentText(QStringLiteral("Mobile"));
    s3->optSeparateSMS->click();
    s3->cmbSMSField->setCurrentText(QStringLiteral("SMS"));
    shots.take(QStringLiteral("wizard-step3"), s3);
    s3->cmdClose->click();

    step2("OptExcel", fixtures + QStringLiteral("/wizard.xls"))->cmdNext->click();
    Frm_Broadtext_Step4* s4 = wizard.step4();
    if (!waitFor([&] { return s4 && s4->CmbSheetName->count() > 0; }, "wizard step 4"))
        return 1;
    s4->CmbSheetName->setCurrentIndex(0);
    if (!waitFor([&] { return s4->cmbColumnName->count() > 0; }, "the columns of the sheet"))
        return 1;
    s4->cmbColumnName->setCurrentIndex(0);
    shots.take(QStringLiteral("wizard-step4"), s4);
    s4->cmdClose->click();

    for (const QString& m : dialogs.messages())
        std::printf("(message box: %s)\n", qPrintable(QString(m).replace(QStringLiteral("\r\n"), QStringLiteral(" "))));
    return shots.ok ? 0 : 1;
}
