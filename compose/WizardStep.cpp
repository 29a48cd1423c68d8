#include "compose/WizardStep.h"

#include "common/AppState.h"
#include "compose/BroadtextWizard.h"
#include "delivery/Engine.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// Window size: 9225 by 7980 twips at 15 twips a pixel.
constexpr int WindowWidth = 615;
constexpr int WindowHeight = 532;

// The wizard's side picture: the same on every step.
QPixmap sidePicture()
{
    QPixmap p(140, 440);
    QPainter painter(&p);
    QLinearGradient g(0, 0, 0, p.height());
    g.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
    g.setColorAt(1, QColor(0x7f, 0xb2, 0xe5));
    painter.fillRect(p.rect(), g);
    painter.setPen(Qt::white);
    QFont f = painter.font();
    f.setBold(true);
    f.setPointSize(16);
    painter.setFont(f);
    painter.translate(p.width() / 2 + 8, p.height() - 24);
    painter.rotate(-90);
    painter.drawText(0, 0, QStringLiteral("Broadtext"));
    painter.end();
    return p;
}

} // namespace

WizardStep::WizardStep(Engine& engine, BroadtextWizard& wizard, int step, QWidget* parent)
    : QWidget(parent, Qt::Dialog), engine(engine), wizard(wizard), step(step)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Broadtext Wizard"));
    setFixedSize(WindowWidth, WindowHeight);
    engine.appState().ChildWindowOpen = true;

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(sidePicture());
    image->setAlignment(Qt::AlignTop);

    contentLayout = new QVBoxLayout;
    auto* upper = new QHBoxLayout;
    upper->addWidget(image);
    upper->addSpacing(12);
    upper->addLayout(contentLayout, 1);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    buttonLayout = new QHBoxLayout;
    buttonLayout->addStretch();

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(upper, 1);
    outer->addWidget(line);
    outer->addLayout(buttonLayout);
}

WizardStep::SmsDeliveryChoice WizardStep::addSmsDeliveryChoice(const QString& headingName,
                                                               const QString& fieldLabelName, QComboBox* smsField)
{
    SmsDeliveryChoice c;
    c.common = new QRadioButton(QStringLiteral("Common SMS To All Numbers"), this);
    c.common->setObjectName(QStringLiteral("optCommonSMS"));
    c.separate = new QRadioButton(QStringLiteral("Separate SMS To Each Number"), this);
    c.separate->setObjectName(QStringLiteral("optSeparateSMS"));
    auto* group = new QButtonGroup(this);
    group->addButton(c.common);
    group->addButton(c.separate);
    c.common->setChecked(true);
    c.fieldLabel =
        NamedLabel(fieldLabelName, QStringLiteral("Select the field where SMS is stored for each number:"), this);
    c.fieldLabel->setVisible(false);
    smsField->setVisible(false);

    content()->addWidget(NamedLabel(headingName, QStringLiteral("SMS Delivery :"), this));
    content()->addWidget(c.common);
    content()->addWidget(c.separate);
    content()->addWidget(c.fieldLabel);
    content()->addWidget(smsField, 0, Qt::AlignLeft);
    connect(c.common, &QRadioButton::toggled, this, [label = c.fieldLabel, smsField](bool common) {
        label->setVisible(!common); // the hidden choice keeps its selection
        smsField->setVisible(!common);
    });
    return c;
}

QPushButton* WizardStep::addButton(const QString& name, const QString& caption)
{
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttonLayout->addWidget(b);
    return b;
}

void WizardStep::closeEvent(QCloseEvent* event)
{
    if (busy()) {
        event->ignore();
        return;
    }
    event->accept();
    wizard.stepUnloaded(this);
}
