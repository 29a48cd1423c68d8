// The mass-send wizard as a whole: holds the one instance of each of its four steps and carries out the
// chain between them. Next hides the current step and shows the next one freshly loaded; Back on step 3 or
// 4 shows step 2 again as the user left it; Back on step 5 ends the wizard and shows the step before it
// freshly loaded. Unloading any step (its Close button, its close box, a successful send) ends the whole
// wizard. ChildWindowOpen is true while any step is loaded. The choices the steps pass on live here too.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class Engine;
class QWidget;
class WizardStep;
class Frm_Broadtext_Step2;
class Frm_Broadtext_Step3;
class Frm_Broadtext_Step4;
class Frm_Broadtext_Step5;

// What the steps hand on to the later ones, grouped by the step that makes the choice. The choices outlive
// the steps: a step loaded again (Back on step 5) and step 5 itself read them as they were last set.
struct WizardChoices {
    struct {
        QString SelectedfileName;
        QString NoSeperatedBy;
    } Frm_Broadtext_Step2;
    struct {
        QString tableName;
        QString FieldName;
        QString SMSColumnName;
    } Frm_Broadtext_Step3;
    struct {
        QString SheetName;
        QString ColumnName;
        QString SMSColumnName;
    } Frm_Broadtext_Step4;
};

class BroadtextWizard : public QObject {
    Q_OBJECT
public:
    BroadtextWizard(Engine& engine, QWidget* windowParent);
    ~BroadtextWizard() override;

    // "Send Broadtext" (menu item and toolbar button): shows the loaded step 2, or a new one, modal.
    void show();
    // The top-level "Broadtext" item: unloads any existing step 2 (ending the wizard), then opens a fresh one.
    void reload();

    bool anyStepLoaded() const;
    Frm_Broadtext_Step2* step2() const;
    Frm_Broadtext_Step3* step3() const;
    Frm_Broadtext_Step4* step4() const;
    Frm_Broadtext_Step5* step5() const;

    WizardChoices& choices() { return chosen; }
    const WizardChoices& choices() const { return chosen; }

    // ---- For the steps

    // Shows step n modally: the loaded one as it is, or a newly loaded one.
    void showStep(int n);
    // Unloads a loaded step n without ending the rest of the wizard, then shows a newly loaded one.
    void showFresh(int n);
    // Unloads step n if it is loaded (which ends the wizard).
    void closeStep(int n);
    // Called by a step as it unloads: forgets it and, unless it was replaced on purpose, unloads the others.
    void stepUnloaded(WizardStep* step);

private:
    QPointer<WizardStep>& slot(int n);
    WizardStep* load(int n);
    void updateChildWindowOpen();

    Engine& engine;
    QWidget* windowParent;
    QPointer<WizardStep> steps[4];
    WizardChoices chosen;
    bool replacing = false; // the unloading step is being replaced, not closed by the user
    bool ending = false;    // the wizard is being ended: unloads only forget their step
};
