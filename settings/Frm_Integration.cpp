// The integration settings window: see Frm_Integration.h.
#include "settings/Frm_Integration.h"

#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/ApiRepository.h"
#include "store/Database.h"
#include "store/IntegrationSettings.h"
#include "views/NamedLabel.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int DefaultPort = 8765;

QCheckBox* namedCheck(const QString& name, const QString& caption, QWidget* parent)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QLineEdit* namedEdit(const QString& name, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

QString tokenText(const QString& token)
{
    return QStringLiteral("The API's token is:\r\n\r\n%1\r\n\r\nCopy it now: it is shown only this once. Programs send "
                          "it in the header \"Authorization: Bearer <token>\".")
        .arg(token);
}

} // namespace

Frm_Integration::Frm_Integration(Engine& engine, QWidget* parent) : QWidget(parent, Qt::Window), engine(engine)
{
    setObjectName(QStringLiteral("Frm_Integration"));
    setWindowTitle(QStringLiteral("Integration"));
    setAttribute(Qt::WA_DeleteOnClose);

    chkApiEnabled = namedCheck(QStringLiteral("chkApiEnabled"), QStringLiteral("Local HTTP API on"), this);
    txtApiAddress = namedEdit(QStringLiteral("txtApiAddress"), this);
    txtApiPort = namedEdit(QStringLiteral("txtApiPort"), this);
    QPushButton* cmdNewToken = NamedButton(QStringLiteral("cmdNewToken"), QStringLiteral("New token"), this);
    txtHookCommand = namedEdit(QStringLiteral("txtHookCommand"), this);
    txtHookTimeoutSec = new QSpinBox(this);
    txtHookTimeoutSec->setObjectName(QStringLiteral("txtHookTimeoutSec"));
    txtHookTimeoutSec->setRange(1, 3600);
    chkHookOnReports =
        namedCheck(QStringLiteral("chkHookOnReports"), QStringLiteral("Also for delivery reports"), this);
    chkHookOnCalls = namedCheck(QStringLiteral("chkHookOnCalls"), QStringLiteral("Also for missed calls"), this);
    txtWebhookUrl = namedEdit(QStringLiteral("txtWebhookUrl"), this);
    chkWebhookOnReports =
        namedCheck(QStringLiteral("chkWebhookOnReports"), QStringLiteral("Also for delivery reports"), this);
    txtWebhookSecret = namedEdit(QStringLiteral("txtWebhookSecret"), this);
    txtWebhookSecret->setEchoMode(QLineEdit::Password);

    auto* api = new QGroupBox(QStringLiteral("Local HTTP API"), this);
    auto* apiForm = new QFormLayout(api);
    apiForm->addRow(chkApiEnabled);
    apiForm->addRow(QStringLiteral("Address:"), txtApiAddress);
    apiForm->addRow(QStringLiteral("Port:"), txtApiPort);
    apiForm->addRow(cmdNewToken);
    auto* hook = new QGroupBox(QStringLiteral("Command run for each received message"), this);
    auto* hookForm = new QFormLayout(hook);
    hookForm->addRow(QStringLiteral("Command:"), txtHookCommand);
    hookForm->addRow(QStringLiteral("Time limit (seconds):"), txtHookTimeoutSec);
    hookForm->addRow(chkHookOnReports);
    hookForm->addRow(chkHookOnCalls);
    auto* webhook = new QGroupBox(QStringLiteral("Webhook for each received message"), this);
    auto* webhookForm = new QFormLayout(webhook);
    webhookForm->addRow(QStringLiteral("URL:"), txtWebhookUrl);
    webhookForm->addRow(QStringLiteral("Signing secret:"), txtWebhookSecret);
    webhookForm->addRow(chkWebhookOnReports);

    QPushButton* cmdOK = NamedButton(QStringLiteral("cmdOK"), QStringLiteral("OK"), this);
    QPushButton* cmdCancel = NamedButton(QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(api);
    layout->addWidget(hook);
    layout->addWidget(webhook);
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &Frm_Integration::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdNewToken, &QPushButton::clicked, this, &Frm_Integration::cmdNewToken_Click);

    Database& db = engine.database();
    try {
        chkApiEnabled->setChecked(ReadIntegrationFlag(db, QStringLiteral("ApiEnabled")));
        txtApiAddress->setText(ReadIntegrationValue(db, QStringLiteral("ApiAddress"), QStringLiteral("127.0.0.1")));
        txtApiPort->setText(QString::number(ReadIntegrationNumber(db, QStringLiteral("ApiPort"), DefaultPort)));
        txtHookCommand->setText(ReadIntegrationValue(db, QStringLiteral("HookCommand")));
        txtHookTimeoutSec->setValue(ReadIntegrationNumber(db, QStringLiteral("HookTimeoutSec"), DefaultHookTimeoutSec));
        chkHookOnReports->setChecked(ReadIntegrationFlag(db, QStringLiteral("HookOnReports")));
        chkHookOnCalls->setChecked(ReadIntegrationFlag(db, QStringLiteral("HookOnCalls")));
        txtWebhookUrl->setText(ReadIntegrationValue(db, QStringLiteral("WebhookUrl")));
        chkWebhookOnReports->setChecked(ReadIntegrationFlag(db, QStringLiteral("WebhookOnReports")));
        txtWebhookSecret->setText(ReadIntegrationValue(db, QStringLiteral("WebhookSecret")));
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

QString Frm_Integration::problem() const
{
    QHostAddress address;
    if (!address.setAddress(Trim(txtApiAddress->text())))
        return QStringLiteral("The API's address must be an IP address, such as 127.0.0.1.");
    bool ok = false;
    const int port = Trim(txtApiPort->text()).toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return QStringLiteral("The API's port must be a number from 1 to 65535.");
    const QString url = Trim(txtWebhookUrl->text());
    const QUrl parsed(url, QUrl::StrictMode);
    if (!url.isEmpty() &&
        (!parsed.isValid() || (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https")) ||
         parsed.host().isEmpty()))
        return QStringLiteral("The webhook URL must be an http:// or https:// address.");
    return {};
}

void Frm_Integration::cmdOK_Click()
{
    if (const QString refusal = problem(); !refusal.isEmpty()) {
        engine.dialogs().message(refusal);
        return;
    }
    Database& db = engine.database();
    QString token;
    db.beginTransaction();
    try {
        WriteIntegrationFlag(db, QStringLiteral("ApiEnabled"), chkApiEnabled->isChecked());
        WriteIntegrationValue(db, QStringLiteral("ApiAddress"), Trim(txtApiAddress->text()));
        WriteIntegrationNumber(db, QStringLiteral("ApiPort"), Trim(txtApiPort->text()).toInt());
        WriteIntegrationValue(db, QStringLiteral("HookCommand"), Trim(txtHookCommand->text()));
        WriteIntegrationNumber(db, QStringLiteral("HookTimeoutSec"), txtHookTimeoutSec->value());
        WriteIntegrationFlag(db, QStringLiteral("HookOnReports"), chkHookOnReports->isChecked());
        WriteIntegrationFlag(db, QStringLiteral("HookOnCalls"), chkHookOnCalls->isChecked());
        WriteIntegrationValue(db, QStringLiteral("WebhookUrl"), Trim(txtWebhookUrl->text()));
        WriteIntegrationFlag(db, QStringLiteral("WebhookOnReports"), chkWebhookOnReports->isChecked());
        WriteIntegrationValue(db, QStringLiteral("WebhookSecret"), txtWebhookSecret->text());
        // The first time the API is switched on it gets its token.
        if (chkApiEnabled->isChecked() && ReadIntegrationValue(db, QStringLiteral("ApiTokenHash")).isEmpty())
            token = ReplaceApiToken(db);
        db.commit();
    } catch (const DbError& e) {
        db.rollback();
        engine.dialogs().message(e.description());
        return;
    }
    if (!token.isEmpty())
        engine.dialogs().message(tokenText(token));
    if (applied) {
        if (const QString trouble = applied(); !trouble.isEmpty())
            engine.dialogs().message(trouble);
    }
    close();
}

void Frm_Integration::cmdNewToken_Click()
{
    if (!engine.dialogs().question(QStringLiteral("A new token replaces the old one at once: programs using the old "
                                                  "one are refused until they are given the new one. Go on?")))
        return;
    try {
        engine.dialogs().message(tokenText(ReplaceApiToken(engine.database())));
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}
