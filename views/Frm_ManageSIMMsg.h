// Low-level access to the messages stored on the SIM card: lists them by status, deletes the ticked ones
// by storage index, or deletes every message of the chosen statuses. Works on the main serial port and
// never touches the message database.
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
    // Runs modem work once no other exchange is waiting for its answer: a click handled inside another
    // exchange's response wait would otherwise take that exchange's answer away.
    void whenModemIdle(std::function<void()> work);
    void showCategories(const QList<Category>& selected);
    void deleteTickedRows(const QList<int>& indexes);
    void reload();
    void fitColumns();

    Engine& engine;
    QList<Category> categories;
    QTreeWidget* ListMessage;
    QCheckBox* chkItem;
};
