// The window for the ways other programs reach Broadtext: the local HTTP API (on or off, where it listens,
// its token) and what is handed over when a message comes in (a command to run, a URL to post to). Its values
// are the named integration settings; OK stores them all and tells the running API to take them up.
//
// The API's token is made the first time the API is switched on, and again with "New token": it is shown
// once, in a message box, and only its hash is kept, so a lost token is replaced, never shown again.
//
// Opened modeless; it deletes itself when closed. Its values are read when it is created.
#pragma once

#include <QWidget>
#include <functional>

class Engine;
class QCheckBox;
class QLineEdit;
class QSpinBox;

class Frm_Integration : public QWidget {
    Q_OBJECT
public:
    explicit Frm_Integration(Engine& engine, QWidget* parent = nullptr);

    // Stores the values (refused with a message when one is wrong) and closes the window.
    void cmdOK_Click();
    // Replaces the token, after asking, and shows the new one.
    void cmdNewToken_Click();

    // The running API takes up the stored values; gives why it could not listen (empty: it listens or is off).
    // Unset: nothing runs an API in this process, and the values wait for the next start.
    std::function<QString()> applied;

private:
    // Why the values cannot be stored, empty when they can.
    QString problem() const;

    Engine& engine;
    QCheckBox* chkApiEnabled;
    QLineEdit* txtApiAddress;
    QLineEdit* txtApiPort;
    QLineEdit* txtHookCommand;
    QSpinBox* txtHookTimeoutSec;
    QCheckBox* chkHookOnReports;
    QCheckBox* chkHookOnCalls;
    QLineEdit* txtWebhookUrl;
    QCheckBox* chkWebhookOnReports;
    QLineEdit* txtWebhookSecret;
};
