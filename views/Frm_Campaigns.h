// The campaigns window: every campaign with what became of its messages (queued, sent, failed, delivered
// according to the delivery reports, opted out), pausing, resuming or cancelling the one selected, and writing
// its results to a CSV file.
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
    QPushButton* cmdExport;
    QPushButton* cmdRefresh;
    QPushButton* cmdClose;

private:
    qint64 selectedId() const;
    void updateButtons();
    void cmdPause_Click();
    void cmdResume_Click();
    void cmdCancelCampaign_Click();
    // One line per message of the selected campaign, to a file the user names; says how many or why not.
    void cmdExport_Click();
    void followChanges();

    Engine& engine;
    bool followingChanges = false; // refreshing for a change nobody here asked for
};
