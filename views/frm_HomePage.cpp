#include "views/frm_HomePage.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/SettingsRows.h"
#include "views/LinkLabel.h"
#include "views/NamedLabel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>

frm_HomePage::frm_HomePage(AppState& state, ActivityLog& log, Database& db, QWidget* parent)
    : QWidget(parent), state(state), log(log), db(db)
{
    setObjectName(QStringLiteral("frm_HomePage"));
    setWindowTitle(QStringLiteral("Home"));

    auto* image = NamedLabel(QStringLiteral("Image1"), QString(), this);
    image->setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(64, 64));

    lblToday = NamedLabel(QStringLiteral("lblToday"), QString(), this, true);
    lblInBox = new LinkLabel(QStringLiteral("lblInBox"), QStringLiteral("Inbox"), true, this);
    lblOutBox = new LinkLabel(QStringLiteral("lblOutBox"), QStringLiteral("Outbox"), true, this);
    LblMissCall = new LinkLabel(QStringLiteral("LblMissCall"), QStringLiteral("Missed Calls"), true, this);
    lblStart = new LinkLabel(QStringLiteral("lblStart"), QStringLiteral("Start"), false, this);
    lblStop = new LinkLabel(QStringLiteral("lblStop"), QStringLiteral("Stop"), false, this);
    lblClear = new LinkLabel(QStringLiteral("lblClear"), QStringLiteral("Clear"), false, this);
    lblClear->setUnderlined(true);
    txtActivityLog = new QPlainTextEdit(this);
    txtActivityLog->setObjectName(QStringLiteral("txtActivityLog"));
    txtActivityLog->setReadOnly(true);
    txtActivityLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    auto* grid = new QGridLayout(this);
    grid->addWidget(image, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(NamedLabel(QStringLiteral("Label3"), QStringLiteral("Today:"), this, true), 0, 1);
    grid->addWidget(lblToday, 0, 2);
    grid->addWidget(NamedLabel(QStringLiteral("Label2"), QStringLiteral("Message Box :"), this, true), 1, 1);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(lblInBox);
    boxes->addSpacing(24);
    boxes->addWidget(lblOutBox);
    boxes->addStretch();
    grid->addLayout(boxes, 1, 2);
    grid->addWidget(NamedLabel(QStringLiteral("Label1"), QStringLiteral("Today's Call Report :"), this, true), 2, 1);
    grid->addWidget(LblMissCall, 2, 2);
    auto* logHeader = new QHBoxLayout;
    logHeader->addWidget(NamedLabel(QStringLiteral("Label5"), QStringLiteral("Activity Log:"), this, true));
    logHeader->addStretch();
    auto* bracket = NamedLabel(QStringLiteral("Label6"), QStringLiteral("(                             )"), this);
    logHeader->addWidget(bracket);
    // The three links stand inside the decorative bracket.
    auto* links = new QHBoxLayout(bracket);
    links->setContentsMargins(8, 0, 8, 0);
    links->addWidget(lblStart);
    links->addWidget(lblStop);
    links->addWidget(lblClear);
    grid->addLayout(logHeader, 3, 0, 1, 3);
    grid->addWidget(txtActivityLog, 4, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(4, 1);

    connect(lblInBox, &LinkLabel::clicked, this, &frm_HomePage::lblInBox_Click);
    connect(lblOutBox, &LinkLabel::clicked, this, &frm_HomePage::lblOutBox_Click);
    connect(LblMissCall, &LinkLabel::clicked, this, [this] {
        if (openMissedCalls)
            openMissedCalls();
    });
    connect(lblStart, &LinkLabel::clicked, this, &frm_HomePage::lblStart_Click);
    connect(lblStop, &LinkLabel::clicked, this, &frm_HomePage::lblStop_Click);
    connect(lblClear, &LinkLabel::clicked, this, &frm_HomePage::lblClear_Click);
    connect(&log, &ActivityLog::changed, this, &frm_HomePage::showLog);

    // The log runs from the start: Start is the inactive link.
    lblStart->setUnderlined(false);
    lblStart->setEnabled(false);
    lblStop->setUnderlined(true);
    lblStop->setEnabled(true);
    showLog();
}

void frm_HomePage::Form_Load()
{
    state.msgType.clear();
    lblToday->setText(QLocale::system().toString(state.clock->now().date(), QStringLiteral("dd-MMMM-yyyy")));
    const HomeCounters c = CountHomePage(db, state.clock->now().date());
    lblInBox->setText(lblInBox->text() + QStringLiteral(" (%1)").arg(c.unreadInbox));
    lblOutBox->setText(lblOutBox->text() + QStringLiteral(" (%1)").arg(c.waitingOutbox));
}

void frm_HomePage::showCounters(const HomeCounters& c)
{
    LblMissCall->setText(QStringLiteral("Missed Calls (%1)").arg(c.missedCallsToday));
    lblInBox->setText(QStringLiteral("Inbox (%1)").arg(c.unreadInbox));
    lblOutBox->setText(QStringLiteral("Outbox (%1)").arg(c.waitingOutbox));
}

void frm_HomePage::lblInBox_Click()
{
    state.msgType = QStringLiteral("I");
    if (openMessageBox)
        openMessageBox();
}

void frm_HomePage::lblOutBox_Click()
{
    state.msgType = QStringLiteral("O");
    if (openMessageBox)
        openMessageBox();
}

void frm_HomePage::lblStop_Click()
{
    state.ActivityLogOn = false;
    lblStop->setUnderlined(false);
    lblStop->setEnabled(false);
    lblStart->setUnderlined(true);
    lblStart->setEnabled(true);
}

void frm_HomePage::lblStart_Click()
{
    state.ActivityLogOn = true;
    lblStop->setUnderlined(true);
    lblStop->setEnabled(true);
    lblStart->setUnderlined(false);
    lblStart->setEnabled(false);
}

void frm_HomePage::lblClear_Click()
{
    log.clear();
}

void frm_HomePage::showLog()
{
    // The log keeps CR LF line ends; the text box shows plain lines, newest on top.
    QString text = log.text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    txtActivityLog->setPlainText(text);
    txtActivityLog->verticalScrollBar()->setValue(0);
}
