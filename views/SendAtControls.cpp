#include "views/SendAtControls.h"

#include <QCheckBox>
#include <QDateTimeEdit>

SendAtControls MakeSendAtControls(const QDateTime& now, QWidget* parent)
{
    auto* check = new QCheckBox(QStringLiteral("Send at"), parent);
    check->setObjectName(QStringLiteral("chkSendAt"));
    auto* when = new QDateTimeEdit(now.toLocalTime().addSecs(3600), parent);
    when->setObjectName(QStringLiteral("dtpSendAt"));
    when->setCalendarPopup(true);
    when->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    when->setEnabled(false);
    QObject::connect(check, &QCheckBox::toggled, when, &QWidget::setEnabled);
    return {check, when};
}
