// Last step of the mass-send wizard: reads the numbers from the chosen source into a check-box list (all
// checked), can drop repeated numbers from it, takes one common message or uses the messages read from
// the source, and queues one Outbox row for every checked row. Many rows are queued slice by slice from the event
// loop (OutboxQueueing), the window locked but responsive, with a progress bar when it takes more than a moment
// and a Cancel button. A table or a worksheet is read the same way: the step opens at once and fills its list
// when the reader program is done, Cancel keeping what was read. A run is queued as a campaign under the name
// given (txtCampaignName), each number once; a common message for a table or a worksheet may carry any of
// its columns as fields (`{Column}`), checked for every row before anything is queued. "Send at" (chkSendAt,
// dtpSendAt, local time) makes every row of the run wait until then; a time already past is refused.
#pragma once

#include "compose/WizardStep.h"

#include <QElapsedTimer>

class MessageTextEdit;
class NumbersListModel;
class OutboxQueueing;
class NumberRowsReading;
struct NumberRow;
struct NumberRows;
class QCheckBox;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

class Frm_Broadtext_Step5 : public WizardStep {
    Q_OBJECT
public:
    Frm_Broadtext_Step5(Engine& engine, BroadtextWizard& wizard, QWidget* parent = nullptr);

    enum class Source { None, Text, Access, Excel };
    // The source a file name stands for: the kind whose fragment (".txt", ".mdb", or ".xls" and ".csv" for a
    // sheet, in any case) occurs last in the name, so that a folder name holding another fragment does not
    // decide.
    static Source SourceOf(const QString& fileName);

    Source source() const { return kind; }
    bool separateMessages() const { return separate; }
    NumbersListModel* numbers() const { return model; }
    // Send is queueing rows into the Outbox; the step is locked meanwhile.
    bool isQueueing() const { return queueing != nullptr; }
    // The numbers of a table or a worksheet are still being read (by the reader program).
    bool isReading() const { return reading != nullptr; }

    QCheckBox* Check1;
    QPushButton* cmdRemoveDuplicates;
    QLabel* lblSelectedItems;
    QLabel* lblNoItems;
    QLabel* lblSkipped;
    QLabel* lblReading;
    QTreeView* ListNumbers;
    QGroupBox* Frame2;
    MessageTextEdit* txtMessage;
    QLineEdit* txtCampaignName;
    QCheckBox* chkSendAt;
    QDateTimeEdit* dtpSendAt;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label5;
    QProgressBar* progressSend;
    QPushButton* cmdCancel;
    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QPushButton* cmdClose;

protected:
    bool busy() const override { return queueing != nullptr; }

private:
    void Form_Load();
    void Check1_Click();
    void cmdRemoveDuplicates_Click();
    void cmdNext_Click();
    void cmdBack_Click();
    void setSending(bool on);
    void setReading(bool on);
    void showRead(const NumberRows& read);
    void showCounts();
    void showLength(const QString& text);
    // The columns a common message may name as fields, in the order of a row's cells; empty for a text file.
    const QStringList& mergeHeaders() const { return headers; }
    void queueingProgress(qint64 done, qint64 total);
    void queueingFinished(const QString& error, bool cancelled);

    NumbersListModel* model;
    QString sourceFile;
    QString separator;
    QStringList headers; // of the table's or the worksheet's columns
    Source kind = Source::None;
    bool separate = false;
    OutboxQueueing* queueing = nullptr;   // while Send is queueing
    NumberRowsReading* reading = nullptr; // while the list is read
    QElapsedTimer queueingTime;
    qint64 skippedEmpty = 0;    // rows of the last queueing left out for an empty message
    qint64 skippedOptedOut = 0; // ... and for a number on the opt-out list
    qint64 duplicatesRemoved = 0;
    qint64 campaignDuplicates = 0; // rows of the last queueing left out as numbers the campaign already had
};
