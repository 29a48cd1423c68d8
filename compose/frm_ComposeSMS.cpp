#include "compose/frm_ComposeSMS.h"

#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "delivery/RecipientNumbers.h"
#include "store/Database.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"
#include "views/MessageTextEdit.h"
#include "views/NamedLabel.h"
#include "views/SendAtControls.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

QString ComposeNumbersText(const QString& typed)
{
    QString text = Trim(typed);
    text.replace(QLatin1Char(';'), QLatin1Char(','));
    return text;
}

QStringList ComposeRecipients(const QString& numbersText)
{
    QStringList numbers;
    for (QString n : numbersText.split(QLatin1Char(','))) {
        n = Trim(n);
        n.remove(QLatin1Char('.'));
        n.remove(QLatin1Char(' '));
        numbers << n;
    }
    return numbers;
}

namespace {

QString LimitCaption(int limit)
{
    return QStringLiteral("(Max. %1 characters)").arg(limit);
}

} // namespace

frm_ComposeSMS::frm_ComposeSMS(Engine& engine, QWidget* parent) : QDialog(parent), engine(engine)
{
    setObjectName(QStringLiteral("frm_ComposeSMS"));
    setWindowTitle(QStringLiteral("Compose & Send SMS"));
    setAttribute(Qt::WA_DeleteOnClose);

    MobileNumbers = new QLineEdit(this);
    MobileNumbers->setObjectName(QStringLiteral("MobileNumbers"));
    Message = new MessageTextEdit(QStringLiteral("Message"), this);
    Message->setMode(engine.status().messageMode());
    Label5 = NamedLabel(QStringLiteral("Label5"), QString(), this);
    Label6 = NamedLabel(QStringLiteral("Label6"), QString(), this);
    QPalette red = Label6->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label6->setPalette(red);
    QFont bold = Label6->font();
    bold.setBold(true);
    Label6->setFont(bold);
    Label6->setWordWrap(true);
    // Unticked, the rows go as soon as a modem is free, as they always did.
    const SendAtControls sendAtControls = MakeSendAtControls(engine.clock().now(), this);
    chkSendAt = sendAtControls.check;
    dtpSendAt = sendAtControls.when;
    Command1 = new QPushButton(QStringLiteral("Send SMS"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(NamedLabel(QStringLiteral("Label1"), QStringLiteral("Enter Mobile Numbers :"), this), 0, 0, 1, 2);
    grid->addWidget(MobileNumbers, 1, 0, 1, 2);
    auto* hint = NamedLabel(QStringLiteral("Label2"),
                            QStringLiteral("(Separate multiple numbers either by comma OR semi-colon. e.g. 9888812121, "
                                           "+442123234455, ...)"),
                            this);
    hint->setWordWrap(true);
    grid->addWidget(hint, 2, 0, 1, 2);
    grid->addWidget(NamedLabel(QStringLiteral("Label3"), QStringLiteral("Enter Your Message Here :"), this), 3, 0);
    // The limit of the message format in use (PDU parts carry less), and of Unicode once the text needs it.
    Label4 = NamedLabel(QStringLiteral("Label4"), LimitCaption(LengthCounter({}, engine.status().messageMode()).limit),
                        this);
    grid->addWidget(Label4, 3, 1, Qt::AlignRight);
    grid->addWidget(Message, 4, 0, 1, 2);
    grid->addWidget(Label5, 5, 0, 1, 2);
    grid->addWidget(Label6, 6, 0, 1, 2);
    auto* sendAt = new QHBoxLayout;
    sendAt->addWidget(chkSendAt);
    sendAt->addWidget(dtpSendAt);
    sendAt->addStretch();
    grid->addLayout(sendAt, 7, 0);
    grid->addWidget(Command1, 7, 1, Qt::AlignRight);
    resize(480, 400);

    connect(Message, &MessageTextEdit::changed, this, &frm_ComposeSMS::Message_Change);
    connect(Command1, &QPushButton::clicked, this, &frm_ComposeSMS::Command1_Click);
}

void frm_ComposeSMS::Message_Change(const QString& text)
{
    const LengthCounterCaptions c = LengthCounter(text, engine.status().messageMode());
    Label4->setText(LimitCaption(c.limit));
    Label5->setText(c.count);
    Label6->setText(c.warning);
}

void frm_ComposeSMS::Command1_Click()
{
    const QString message = Message->text();
    if (Trim(MobileNumbers->text()).isEmpty() || Trim(message).isEmpty()) {
        engine.dialogs().message(QStringLiteral("You must enter the mobile number and the message."));
        return;
    }
    const QString numbers = ComposeNumbersText(MobileNumbers->text());
    MobileNumbers->setText(numbers); // the user sees semicolons turned into commas

    // Every number is checked before any is queued: one refusal names them all, and nothing half-done stays.
    // An empty element (a comma too many) is no number and is passed over.
    QStringList recipients;
    QStringList bad;
    const QStringList typed = numbers.split(QLatin1Char(','));
    const QStringList cleaned = ComposeRecipients(numbers);
    for (qsizetype i = 0; i < cleaned.size(); ++i) {
        if (cleaned[i].isEmpty())
            continue;
        if (RecipientNumberProblem(cleaned[i]).isEmpty())
            recipients << cleaned[i];
        else
            bad << Trim(typed[i]);
    }
    if (!bad.isEmpty()) {
        engine.dialogs().message(BadNumbersText(bad));
        MobileNumbers->setFocus();
        return;
    }
    if (recipients.isEmpty()) {
        engine.dialogs().message(QStringLiteral("You must enter the mobile number and the message."));
        return;
    }

    // Numbers on the opt-out list are passed over, and the user is told how many.
    qsizetype optedOut = 0;
    try {
        const QSet<QString> listed = OptOutRepository(engine.database()).keys();
        optedOut = recipients.removeIf([&](const QString& n) { return listed.contains(OptOutKey(n)); });
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
        return;
    }
    if (recipients.isEmpty()) {
        engine.dialogs().message(OptedOutText(optedOut));
        return;
    }

    // A time already past simply means now.
    const QueueOptions options = chkSendAt->isChecked() ? QueueOptions::SendAt(dtpSendAt->dateTime()) : QueueOptions{};
    OutboxRepository outbox(engine.database());
    for (const QString& number : std::as_const(recipients)) {
        try {
            // Each row on its own: rows already queued stay when a later one fails.
            outbox.queueMessage(number, message, engine.clock().now(), 0, options);
        } catch (const DbError& e) {
            engine.deliverNow(); // what was queued goes
            engine.dialogs().message(e.description());
            return;
        }
    }
    // Sent at once by a free modem rather than at the delivery timer's next tick.
    engine.deliverNow();
    if (optedOut > 0)
        engine.dialogs().message(OptedOutText(optedOut));
    close();
}
