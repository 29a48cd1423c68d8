// The auto-reply settings window: the text sent to callers whose call went unanswered, and the switch
// that turns the reply on or off. Both live in the one AutoReply_OnMissedCall row; Save also hands them to
// the running call handling, so the change counts from the next missed call on.
#pragma once

#include <QDialog>

class Engine;
class MessageTextEdit;
class QCheckBox;
class QLabel;
class QPushButton;

class Frm_AutoReplyOnMissedCall : public QDialog {
    Q_OBJECT
public:
    explicit Frm_AutoReplyOnMissedCall(Engine& engine, QWidget* parent = nullptr);

    void Form_Load();
    void Cmdsend_Click();
    void CmdExit_Click();

private:
    void Text_Message_Change(const QString& text);

    Engine& engine;
    QCheckBox* chkSetMsg;
    MessageTextEdit* Text_Message;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* Cmdsend;
    QPushButton* CmdExit;
};
