// The campaigns window: every campaign with what became of its messages (queued, sent, failed, delivered
// according to the delivery reports, opted out), and pausing, resuming or cancelling the one selected.
#pragma once

#include <QDialog>

class Engine;
class QPushButton;
class QTreeWidget;

class Frm_Campaigns : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Campaigns(Engine& engine, QWidget* parent = nullptr);

    // Reads every campaign and its counts again, keeping the selection.
    void FillCampaigns();

    QTreeWidget* ListCampaigns;
    QPushButton* cmdPause;
    QPushButton* cmdResume;
    QPushButton* cmdCancelCampaign;
    QPushButton* cmdRefresh;
    QPushButton* cmdClose;

private:
    qint64 selectedId() const;
    void updateButtons();
    void cmdPause_Click();
    void cmdResume_Click();
    void cmdCancelCampaign_Click();

    Engine& engine;
};
