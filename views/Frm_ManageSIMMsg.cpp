#include "views/Frm_ManageSIMMsg.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "views/NamedLabel.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { MessageText, Status, MobileNumber, StorageIndex };

// The pacing of a listing for this window.
constexpr int ListingPollMs = 1500;

QCheckBox* box(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QCheckBox(caption, parent);
    b->setObjectName(name);
    return b;
}

QLabel* label(const QString& name, const QString& caption, QWidget* parent)
{
    QLabel* l = NamedLabel(name, caption, parent);
    l->setWordWrap(true);
    return l;
}

} // namespace

Frm_ManageSIMMsg::Frm_ManageSIMMsg(Engine& engine, QWidget* parent) : QDialog(parent), engine(engine)
{
    setObjectName(QStringLiteral("Frm_ManageSIMMsg"));
    setWindowTitle(QStringLiteral("Manage Messages"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* readFrame = new QGroupBox(QStringLiteral("Read Messages"), this);
    readFrame->setObjectName(QStringLiteral("FrameRead"));
    auto* Label2 = label(QStringLiteral("Label2"),
                         QStringLiteral("Please select the type of messages you wanted to read"), readFrame);
    auto* Chkshowall = box(QStringLiteral("Chkshowall"), QStringLiteral("All"), readFrame);
    auto* Chkshowread = box(QStringLiteral("Chkshowread"), QStringLiteral("Read"), readFrame);
    auto* Chkshowunread = box(QStringLiteral("Chkshowunread"), QStringLiteral("Un Read"), readFrame);
    auto* Chkshowsent = box(QStringLiteral("Chkshowsent"), QStringLiteral("Sent"), readFrame);
    auto* Chkshowunsent = box(QStringLiteral("Chkshowunsent"), QStringLiteral("Un Sent"), readFrame);
    auto* CmdShow = NamedButton(QStringLiteral("CmdShow"), QStringLiteral("&Show"), readFrame);
    ListMessage = new QTreeWidget(readFrame);
    ListMessage->setObjectName(QStringLiteral("ListMessage"));
    ListMessage->viewport()->installEventFilter(this);
    ListMessage->setRootIsDecorated(false);
    ListMessage->setColumnCount(4);
    ListMessage->setHeaderLabels(
        {QStringLiteral("Message"), QStringLiteral("Status"), QStringLiteral("Mobile Number"), QString()});
    ListMessage->header()->setStretchLastSection(false);
    chkItem = box(QStringLiteral("chkItem"), QStringLiteral("Select All"), readFrame);
    auto* CmdDelFromList = NamedButton(QStringLiteral("CmdDelFromList"), QStringLiteral("Dele&te"), readFrame);
    auto* Cmdend = NamedButton(QStringLiteral("Cmdend"), QStringLiteral("&Exit"), readFrame);

    auto* deleteFrame = new QGroupBox(QStringLiteral("Manage Messages"), this);
    deleteFrame->setObjectName(QStringLiteral("FrameDelete"));
    auto* Label1 = label(QStringLiteral("Label1"),
                         QStringLiteral("Please select which type of messages you want to delete.All the messages of "
                                        "selected type will be deleted from the SIM card."),
                         deleteFrame);
    auto* chkAll = box(QStringLiteral("chkAll"), QStringLiteral("All"), deleteFrame);
    auto* ChkRead = box(QStringLiteral("ChkRead"), QStringLiteral("Read"), deleteFrame);
    auto* ChkUnread = box(QStringLiteral("ChkUnread"), QStringLiteral("Un Read"), deleteFrame);
    auto* ChkSent = box(QStringLiteral("ChkSent"), QStringLiteral("Sent"), deleteFrame);
    auto* ChkUnsent = box(QStringLiteral("ChkUnsent"), QStringLiteral("Un Sent"), deleteFrame);
    auto* cmdDelete = NamedButton(QStringLiteral("cmdDelete"), QStringLiteral("&Delete"), deleteFrame);
    auto* CmdExit = NamedButton(QStringLiteral("CmdExit"), QStringLiteral("E&xit"), deleteFrame);

    // The order in which the statuses are listed and deleted.
    categories = {
        {Chkshowall, chkAll, QStringLiteral("ALL"), QStringLiteral("ALL")},
        {Chkshowread, ChkRead, QStringLiteral("REC READ"), QStringLiteral("READ")},
        {Chkshowunread, ChkUnread, QStringLiteral("REC UNREAD"), QStringLiteral("UNREAD")},
        {Chkshowsent, ChkSent, QStringLiteral("STO SENT"), QStringLiteral("SENT")},
        {Chkshowunsent, ChkUnsent, QStringLiteral("STO UNSENT"), QStringLiteral("UNSENT")},
    };

    auto* read = new QGridLayout(readFrame);
    read->addWidget(Label2, 0, 0, 1, 7);
    for (int i = 0; i < categories.size(); ++i)
        read->addWidget(categories[i].read, 1, i);
    read->addWidget(CmdShow, 1, 6);
    read->setColumnStretch(5, 1);
    read->addWidget(ListMessage, 2, 0, 1, 7);
    auto* readActions = new QHBoxLayout;
    readActions->addWidget(chkItem);
    readActions->addStretch();
    readActions->addWidget(CmdDelFromList);
    readActions->addWidget(Cmdend);
    read->addLayout(readActions, 3, 0, 1, 7);
    read->setRowStretch(2, 1);

    auto* remove = new QGridLayout(deleteFrame);
    remove->addWidget(Label1, 0, 0, 1, 7);
    for (int i = 0; i < categories.size(); ++i)
        remove->addWidget(categories[i].remove, 1, i);
    remove->setColumnStretch(5, 1);
    remove->addWidget(cmdDelete, 1, 6);
    auto* removeActions = new QHBoxLayout;
    removeActions->addStretch();
    removeActions->addWidget(CmdExit);
    remove->addLayout(removeActions, 2, 0, 1, 7);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(readFrame, 1);
    layout->addWidget(deleteFrame);
    resize(9600 / 15, 7800 / 15);

    connect(CmdShow, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdShow_Click);
    connect(chkItem, &QCheckBox::clicked, this, &Frm_ManageSIMMsg::chkItem_Click);
    connect(CmdDelFromList, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdDelFromList_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &Frm_ManageSIMMsg::cmdDelete_Click);
    connect(Cmdend, &QPushButton::clicked, this, &Frm_ManageSIMMsg::Cmdend_Click);
    connect(CmdExit, &QPushButton::clicked, this, &Frm_ManageSIMMsg::CmdExit_Click);
    fitColumns();
}

bool Frm_ManageSIMMsg::eventFilter(QObject* watched, QEvent* event)
{
    // The list's own size, once its layout has given it one, sets the column widths.
    if (watched == ListMessage->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QDialog::eventFilter(watched, event);
}

void Frm_ManageSIMMsg::fitColumns()
{
    const int width = ListMessage->viewport()->width();
    ListMessage->setColumnWidth(MessageText, width / 3);
    ListMessage->setColumnWidth(Status, width / 3);
    ListMessage->setColumnWidth(MobileNumber, width / 3);
    ListMessage->setColumnWidth(StorageIndex, width / 40);
}

bool Frm_ManageSIMMsg::connected()
{
    if (engine.status().connected)
        return true;
    engine.dialogs().message(QStringLiteral("Computer is not communicating with the modem. Please select the option "
                                            "'Listen To Modem' before executing any modem commands."));
    return false;
}

void Frm_ManageSIMMsg::workStarted()
{
    if (workWaiting++ == 0)
        setCursor(Qt::WaitCursor);
}

void Frm_ManageSIMMsg::workEnded()
{
    if (--workWaiting == 0)
        unsetCursor();
}

void Frm_ManageSIMMsg::CmdShow_Click()
{
    if (!connected())
        return;
    ListMessage->clear();
    const int round = ++showRound;
    for (const Category& c : categories) {
        if (!c.read->isChecked())
            continue;
        workStarted();
        engine.ListSIMMessages(c.status, ListingPollMs, this, [this, c, round](const ListResult& listed) {
            workEnded();
            if (round == showRound)
                addRows(c, listed);
        });
    }
}

void Frm_ManageSIMMsg::addRows(const Category& c, const ListResult& listed)
{
    for (const SIMMessage& m : listed.records) {
        auto* row = new QTreeWidgetItem;
        row->setText(MessageText, m.Text);
        row->setText(Status, c.shown);
        row->setText(MobileNumber, m.Number);
        row->setText(StorageIndex, m.Index);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(MessageText, Qt::Unchecked);
        ListMessage->addTopLevelItem(row);
    }
}

void Frm_ManageSIMMsg::chkItem_Click()
{
    const Qt::CheckState state = chkItem->isChecked() ? Qt::Checked : Qt::Unchecked;
    for (int i = 0; i < ListMessage->topLevelItemCount(); ++i)
        ListMessage->topLevelItem(i)->setCheckState(MessageText, state);
}

void Frm_ManageSIMMsg::CmdDelFromList_Click()
{
    if (!connected())
        return;
    if (!engine.dialogs().question(QStringLiteral("Are you sure to delete the selected messages?")))
        return;
    QList<int> indexes;
    for (int i = 0; i < ListMessage->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListMessage->topLevelItem(i);
        bool number = false;
        const int index = row->text(StorageIndex).trimmed().toInt(&number);
        // A row without a readable index is left alone rather than deleting whatever sits at 0.
        if (row->checkState(MessageText) == Qt::Checked && number)
            indexes << index;
    }
    if (indexes.isEmpty()) {
        reload();
        return;
    }
    auto left = std::make_shared<int>(int(indexes.size()));
    workStarted();
    for (int index : indexes)
        engine.DeleteSIMMessage(index, this, [this, left] {
            if (--*left == 0) {
                workEnded();
                reload();
            }
        });
}

void Frm_ManageSIMMsg::reload()
{
    // The list no longer matches the SIM: a fresh window starts empty.
    auto* fresh = new Frm_ManageSIMMsg(engine, parentWidget());
    close();
    fresh->show();
    Q_EMIT reloaded(fresh);
}

void Frm_ManageSIMMsg::cmdDelete_Click()
{
    if (!connected())
        return;
    QList<Category> selected;
    for (const Category& c : categories)
        if (c.remove->isChecked())
            selected << c;
    if (!engine.dialogs().question(QStringLiteral("Are you sure to delete the Messages?")))
        return;
    for (const Category& c : selected) {
        workStarted();
        engine.DeleteSIMMessagesByStatus(c.status, this, [this] { workEnded(); });
    }
}

void Frm_ManageSIMMsg::Cmdend_Click()
{
    close();
}

void Frm_ManageSIMMsg::CmdExit_Click()
{
    close();
}
