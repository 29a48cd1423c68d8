// The compose window: one typed text queued in the Outbox for one or more typed numbers.
#pragma once

#include <QDialog>

class Engine;
class MessageTextEdit;
class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

class frm_ComposeSMS : public QDialog {
    Q_OBJECT
public:
    explicit frm_ComposeSMS(Engine& engine, QWidget* parent = nullptr);

    void Command1_Click();

private:
    void Message_Change(const QString& text);

    Engine& engine;
    QLineEdit* MobileNumbers;
    MessageTextEdit* Message;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QCheckBox* chkSendAt;
    QDateTimeEdit* dtpSendAt; // local time; the row keeps it in UTC
    QPushButton* Command1;
};

// The numbers field as it is used (and shown back): outer blanks trimmed, every ";" turned into ",".
QString ComposeNumbersText(const QString& typed);
// The numbers of that text: split at every "," (empty elements kept), each with outer blanks, every "." and
// every blank removed.
QStringList ComposeRecipients(const QString& numbersText);
