#include "compose/BroadtextWizard.h"

#include "common/AppState.h"
#include "compose/Frm_Broadtext_Step2.h"
#include "compose/Frm_Broadtext_Step3.h"
#include "compose/Frm_Broadtext_Step4.h"
#include "compose/Frm_Broadtext_Step5.h"
#include "delivery/Engine.h"

BroadtextWizard::BroadtextWizard(Engine& engine, QWidget* windowParent)
    : QObject(windowParent), engine(engine), windowParent(windowParent)
{}

BroadtextWizard::~BroadtextWizard()
{
    // The steps refer to this coordinator: they go with it (deleting skips their unload rules).
    if (!anyStepLoaded())
        return;
    for (auto& s : steps)
        delete s.data();
    updateChildWindowOpen();
}

QPointer<WizardStep>& BroadtextWizard::slot(int n)
{
    Q_ASSERT(n >= 2 && n <= 5);
    return steps[n - 2];
}

bool BroadtextWizard::anyStepLoaded() const
{
    for (const auto& s : steps)
        if (s)
            return true;
    return false;
}

Frm_Broadtext_Step2* BroadtextWizard::step2() const
{
    return static_cast<Frm_Broadtext_Step2*>(steps[0].data());
}

Frm_Broadtext_Step3* BroadtextWizard::step3() const
{
    return static_cast<Frm_Broadtext_Step3*>(steps[1].data());
}

Frm_Broadtext_Step4* BroadtextWizard::step4() const
{
    return static_cast<Frm_Broadtext_Step4*>(steps[2].data());
}

Frm_Broadtext_Step5* BroadtextWizard::step5() const
{
    return static_cast<Frm_Broadtext_Step5*>(steps[3].data());
}

void BroadtextWizard::show()
{
    showStep(2);
}

void BroadtextWizard::reload()
{
    closeStep(2);
    showStep(2);
}

WizardStep* BroadtextWizard::load(int n)
{
    WizardStep* step = nullptr;
    switch (n) {
    case 2:
        step = new Frm_Broadtext_Step2(engine, *this, windowParent);
        break;
    case 3:
        step = new Frm_Broadtext_Step3(engine, *this, windowParent);
        break;
    case 4:
        step = new Frm_Broadtext_Step4(engine, *this, windowParent);
        break;
    default:
        step = new Frm_Broadtext_Step5(engine, *this, windowParent);
        break;
    }
    slot(n) = step;
    return step;
}

void BroadtextWizard::showStep(int n)
{
    WizardStep* step = slot(n);
    if (!step)
        step = load(n);
    // The step may have been unloaded while it loaded (a failure that ends it); nothing is left to show.
    if (slot(n) != step)
        return;
    step->setWindowModality(Qt::ApplicationModal);
    step->show();
    step->activateWindow();
}

void BroadtextWizard::showFresh(int n)
{
    if (WizardStep* old = slot(n)) {
        replacing = true;
        old->close();
        replacing = false;
        // A step that refused to close stays as it is.
        if (slot(n))
            return;
    }
    showStep(n);
}

void BroadtextWizard::closeStep(int n)
{
    if (WizardStep* step = slot(n))
        step->close();
}

void BroadtextWizard::stepUnloaded(WizardStep* step)
{
    const int n = step->stepNumber();
    if (slot(n) == step)
        slot(n) = nullptr;
    if (!replacing && !ending) {
        ending = true;
        for (int other = 2; other <= 5; ++other)
            if (WizardStep* s = slot(other)) {
                slot(other) = nullptr;
                s->close();
            }
        ending = false;
    }
    updateChildWindowOpen();
}

void BroadtextWizard::updateChildWindowOpen()
{
    engine.appState().ChildWindowOpen = anyStepLoaded();
}
