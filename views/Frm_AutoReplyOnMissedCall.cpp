#include "views/Frm_AutoReplyOnMissedCall.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/Database.h"
#include "store/SettingsRows.h"
#include "views/MessageTextEdit.h"
#include "views/NamedLabel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

void makeRed(QLabel* l, bool bold)
{
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    l->setPalette(p);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
}

QString LimitCaption(int limit)
{
    return QStringLiteral("Message (Max.Length %1 Characters) :").arg(limit);
}

} // namespace

Frm_AutoReplyOnMissedCall::Frm_AutoReplyOnMissedCall(Engine& engine, QWidget* parent) : QDialog(parent), engine(engine)
{
    setObjectName(QStringLiteral("Frm_AutoReplyOnMissedCall"));
    setWindowTitle(QStringLiteral("AutoReply SMS on Missed Call"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* Label1 =
        NamedLabel(QStringLiteral("Label1"),
                   QStringLiteral("If some one calls you on your SIM card mobile number connected with this "
                                  "software, it can automatically send the caller following SMS if this option "
                                  "is enabled."),
                   this);
    Label1->setWordWrap(true);
    chkSetMsg = new QCheckBox(QStringLiteral("Enable Autoreply SMS on Missed Calls"), this);
    chkSetMsg->setObjectName(QStringLiteral("chkSetMsg"));
    // The limit of the message format in use (PDU parts carry less), and of Unicode once the text needs it.
    Label2 = NamedLabel(QStringLiteral("Label2"), LimitCaption(LengthCounter({}, engine.status().messageMode()).limit),
                        this);
    auto* Label5 = NamedLabel(QStringLiteral("Label5"), QStringLiteral("*"), this);
    makeRed(Label5, false);
    Text_Message = new MessageTextEdit(QStringLiteral("Text_Message"), this);
    Text_Message->setMode(engine.status().messageMode());
    Label3 = NamedLabel(QStringLiteral("Label3"), QString(), this);
    Label4 = NamedLabel(QStringLiteral("Label4"), QString(), this);
    Label4->setWordWrap(true);
    makeRed(Label4, true);
    Cmdsend = new QPushButton(QStringLiteral("&Save"), this);
    Cmdsend->setObjectName(QStringLiteral("Cmdsend"));
    CmdExit = new QPushButton(QStringLiteral("E&xit"), this);
    CmdExit->setObjectName(QStringLiteral("CmdExit"));
    Cmdsend->setAutoDefault(false);
    CmdExit->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0, 1, 2);
    grid->addWidget(chkSetMsg, 1, 0, 1, 2);
    auto* caption = new QHBoxLayout;
    caption->addWidget(Label2);
    caption->addWidget(Label5);
    caption->addStretch();
    grid->addLayout(caption, 2, 0, 1, 2);
    grid->addWidget(Text_Message, 3, 0, 1, 2);
    grid->addWidget(Label3, 4, 0, 1, 2);
    grid->addWidget(Label4, 5, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Cmdsend);
    buttons->addWidget(CmdExit);
    grid->addLayout(buttons, 6, 0, 1, 2);
    grid->setRowStretch(3, 1);
    resize(7200 / 15, 5400 / 15);

    connect(Text_Message, &MessageTextEdit::changed, this, &Frm_AutoReplyOnMissedCall::Text_Message_Change);
    connect(Cmdsend, &QPushButton::clicked, this, &Frm_AutoReplyOnMissedCall::Cmdsend_Click);
    connect(CmdExit, &QPushButton::clicked, this, &Frm_AutoReplyOnMissedCall::CmdExit_Click);

    Form_Load();
}

void Frm_AutoReplyOnMissedCall::Form_Load()
{
    try {
        if (const auto row = ReadAutoReply(engine.database(), false)) {
            const QString message = row->Message.isNull() ? QString() : row->Message.toString();
            if (!message.isEmpty())
                Text_Message->setText(Trim(message));
            if (IsTrue(row->IsActive))
                chkSetMsg->setChecked(true);
        }
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

void Frm_AutoReplyOnMissedCall::Text_Message_Change(const QString& text)
{
    const LengthCounterCaptions c = LengthCounter(text, engine.status().messageMode());
    Label2->setText(LimitCaption(c.limit));
    Label3->setText(c.count);
    Label4->setText(c.warning);
}

void Frm_AutoReplyOnMissedCall::Cmdsend_Click()
{
    const QString message = Trim(Text_Message->text());
    const bool active = chkSetMsg->isChecked();
    if (active && message.isEmpty()) {
        // A reply switched on with no text would answer missed calls with empty messages.
        engine.dialogs().message(QStringLiteral("Please enter the reply message."));
        Text_Message->setFocus();
        return;
    }
    try {
        WriteAutoReply(engine.database(), {message, Database::DbBool(active)});
    } catch (const DbError& e) {
        // Nothing was stored: the running reply stays as it was and the window stays open.
        engine.dialogs().message(e.description());
        return;
    }
    // The running call handling takes the text as well as the switch, so a reply switched on here is sent
    // from the next missed call on, not only after a restart.
    engine.appState().AutoReplyActive = active;
    engine.appState().AutoReplyText = message;
    close();
}

void Frm_AutoReplyOnMissedCall::CmdExit_Click()
{
    close();
}
