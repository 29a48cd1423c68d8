// Low-level access to the messages stored on the SIM card: lists them by status, deletes the ticked ones
// by storage index, or deletes every message of the chosen statuses. Its work goes to the modem link like
// any other (it waits its turn there, the window never waits), and it never touches the message database.
#pragma once

#include <QDialog>
#include <functional>

class Engine;
class QCheckBox;
class QPushButton;
class QTreeWidget;

class Frm_ManageSIMMsg : public QDialog {
    Q_OBJECT
public:
    explicit Frm_ManageSIMMsg(Engine& engine, QWidget* parent = nullptr);

    void CmdShow_Click();
    void chkItem_Click();
    void CmdDelFromList_Click();
    void cmdDelete_Click();
    void Cmdend_Click();
    void CmdExit_Click();

Q_SIGNALS:
    // Deleting ticked rows closed this window and opened a fresh one in its place.
    void reloaded(Frm_ManageSIMMsg* fresh);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Category {
        QCheckBox* read;   // box in the "Read Messages" frame
        QCheckBox* remove; // box in the "Manage Messages" frame
        QString status;    // sent to the modem
        QString shown;     // in the Status column
    };

    bool connected();
    void addRows(const Category& c, const struct ListResult& listed);
    void reload();
    void fitColumns();
    // The busy pointer over this window while its modem work waits or runs.
    void workStarted();
    void workEnded();

    Engine& engine;
    int showRound = 0; // a later Show click makes the answers of an earlier one stale
    int workWaiting = 0;
    QList<Category> categories;
    QTreeWidget* ListMessage;
    QCheckBox* chkItem;
};
