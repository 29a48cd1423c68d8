// "Send at" of the compose windows: a check box (chkSendAt) and a local date and time (dtpSendAt), an hour
// after now, that the check box enables. Unticked, rows go as soon as a modem is free.
#pragma once

class QCheckBox;
class QDateTime;
class QDateTimeEdit;
class QWidget;

struct SendAtControls {
    QCheckBox* check;
    QDateTimeEdit* when;
};

SendAtControls MakeSendAtControls(const QDateTime& now, QWidget* parent);
