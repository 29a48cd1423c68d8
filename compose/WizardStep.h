// What the four windows of the mass-send wizard share: the caption, the fixed size, the side picture, the
// layout of content above a row of buttons, and the unload rule (unloading a step tells the coordinator,
// which ends the rest of the wizard).
#pragma once

#include "views/NamedLabel.h"

#include <QWidget>

class BroadtextWizard;
class QComboBox;
class QLabel;
class QRadioButton;
class Engine;
class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

class WizardStep : public QWidget {
    Q_OBJECT
public:
    WizardStep(Engine& engine, BroadtextWizard& wizard, int step, QWidget* parent);

    int stepNumber() const { return step; }

protected:
    // Content goes above the buttons, right of the picture.
    QVBoxLayout* content() const { return contentLayout; }
    QHBoxLayout* buttons() const { return buttonLayout; }
    QPushButton* addButton(const QString& name, const QString& caption);

    // The "SMS Delivery :" choice of the table and sheet steps, added to the content: one common message, or
    // one per number from a column; the column list and its label show only for the second.
    struct SmsDeliveryChoice {
        QRadioButton* common;
        QRadioButton* separate;
        QLabel* fieldLabel;
    };
    SmsDeliveryChoice addSmsDeliveryChoice(const QString& headingName, const QString& fieldLabelName,
                                           QComboBox* smsField);
    // A step that is busy (queueing) refuses to be closed.
    virtual bool busy() const { return false; }

    void closeEvent(QCloseEvent* event) override;

    Engine& engine;
    BroadtextWizard& wizard;

private:
    int step;
    QVBoxLayout* contentLayout = nullptr;
    QHBoxLayout* buttonLayout = nullptr;
};

// A label named and captioned, optionally bold.
