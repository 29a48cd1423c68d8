#include "views/Frm_MessageBox.h"

#include "common/AppState.h"
#include "common/Csv.h"
#include "common/FunctionsLibrary.h"
#include "common/Seams.h"
#include "delivery/Engine.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/InboxRepository.h"
#include "store/OutboxRepository.h"
#include "views/CsvExport.h"
#include "views/ServerNews.h"
#include "views/WindowPlace.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// List columns: the number, the message, the date, the hidden id; the Outbox adds the status, the sending
// attempts and the reason the last attempt failed; Sent Items the delivery report. The Inbox and Sent Items end
// with the modem (ModemColumn), shown only while the folder holds the rows of more than one; the Outbox with the
// time a row is to be sent at (SendAtColumn), shown only while a waiting row has one.
constexpr int IdColumn = 3;
constexpr int StatusColumn = 4;
constexpr int AttemptsColumn = 5;
constexpr int ReasonColumn = 6;
constexpr int OutboxColumns = 7;

// What a modem column needs: a modem's name with its SIM's IMSI.
const QString ModemSample = QStringLiteral("Modem 10 (SIM 234150123456789)");

const QString NothingSelected = QStringLiteral("Please select message which you want to delete.");

QString folderName(MessageFolder folder)
{
    switch (folder) {
    case MessageFolder::Inbox:
        return QStringLiteral("Inbox");
    case MessageFolder::Outbox:
        return QStringLiteral("Outbox");
    case MessageFolder::SentItems:
        break;
    }
    return QStringLiteral("Sent Items");
}

void setRowBold(QTreeWidgetItem* row, bool bold)
{
    for (int c = 0; c < row->columnCount(); ++c) {
        if (bold) {
            QFont f = row->font(c);
            f.setBold(true);
            row->setFont(c, f);
        } else {
            row->setData(c, Qt::FontRole, QVariant());
        }
    }
}

void setNodeBold(QTreeWidgetItem* node, bool bold)
{
    QFont f = node->font(0);
    f.setBold(bold);
    node->setFont(0, f);
}

} // namespace

Frm_MessageBox::Frm_MessageBox(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window), engine(engine), folders(engine.database())
{
    setObjectName(QStringLiteral("Frm_MessageBox"));
    setWindowTitle(QStringLiteral("Message Box"));
    setAttribute(Qt::WA_DeleteOnClose);

    cmdNext = new QPushButton(QStringLiteral("Next >>"), this);
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    cmdPrevious = new QPushButton(QStringLiteral("<< Previous"), this);
    cmdPrevious->setObjectName(QStringLiteral("cmdPrevious"));
    cmdNext->setEnabled(false);
    cmdPrevious->setEnabled(false);

    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setIconSize(QSize(32, 32));
    struct Button {
        const char* tip;
        QStyle::StandardPixmap icon;
    };
    const Button buttons[] = {{"Receive SMS In InBox", QStyle::SP_ArrowDown},
                              {"Send SMS From OutBox", QStyle::SP_ArrowUp},
                              {"Delete Selected SMS", QStyle::SP_TrashIcon},
                              {"Send Failed SMS Again", QStyle::SP_BrowserReload},
                              {"Delete All In This Folder", QStyle::SP_DialogDiscardButton}};
    for (int i = 0; i < 5; ++i) {
        QAction* a = Toolbar1->addAction(style()->standardIcon(buttons[i].icon), QString::fromLatin1(buttons[i].tip));
        a->setObjectName(QStringLiteral("Button%1").arg(i + 1));
        a->setToolTip(QString::fromLatin1(buttons[i].tip));
        connect(a, &QAction::triggered, this, [this, i] { Toolbar1_ButtonClick(i + 1); });
    }

    cmdExport = new QPushButton(QStringLiteral("Export..."), this);
    cmdExport->setObjectName(QStringLiteral("cmdExport"));
    cmdExport->setToolTip(QStringLiteral("Writes the messages the list shows (the whole folder, or what the search "
                                         "found) to a CSV file."));
    cmdExport->setEnabled(false);

    cmdReschedule = new QAction(QStringLiteral("Reschedule..."), this);
    cmdReschedule->setObjectName(QStringLiteral("cmdReschedule"));
    cmdReschedule->setEnabled(false);
    cmdCancelSend = new QAction(QStringLiteral("Cancel Sending"), this);
    cmdCancelSend->setObjectName(QStringLiteral("cmdCancelSend"));
    cmdCancelSend->setEnabled(false);

    txtPages = new QLineEdit(this);
    txtPages->setObjectName(QStringLiteral("txtPages"));
    txtPages->setFixedWidth(60);

    txtSearch = new QLineEdit(this);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    txtSearch->setClearButtonEnabled(true);
    txtSearch->setPlaceholderText(QStringLiteral("Search by number or words"));
    txtSearch->setToolTip(QStringLiteral("Finds the messages of the shown folder whose number contains the digits "
                                         "typed, or whose text has words beginning with the words typed."));
    txtSearch->setMinimumWidth(260);
    searchPause.setSingleShot(true);
    searchPause.setInterval(300);

    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setFixedWidth(180);
    {
        // The nodes stay; fillTreeView rewrites their texts and weights with the current counts.
        auto* root = new QTreeWidgetItem(TreeView1, {QStringLiteral("Message")});
        root->setData(0, Qt::UserRole, QStringLiteral("parent"));
        setNodeBold(root, true);
        new QTreeWidgetItem(root, {QStringLiteral("Inbox")});
        new QTreeWidgetItem(root, {QStringLiteral("Outbox")});
        new QTreeWidgetItem(root, {QStringLiteral("Sent Items")});
        root->setExpanded(true);
    }

    auto* Label3 = new QLabel(QStringLiteral("Mobile Number :"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    LblNo = new QLabel(this);
    LblNo->setObjectName(QStringLiteral("LblNo"));
    LblNo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    txtMessage = new QPlainTextEdit(this);
    txtMessage->setObjectName(QStringLiteral("txtMessage"));
    txtMessage->setReadOnly(true);
    txtMessage->setFixedHeight(120);
    lblOutboxRecord = new QLabel(this);
    lblOutboxRecord->setObjectName(QStringLiteral("lblOutboxRecord"));
    lblOutboxRecord->setWordWrap(true);
    lblOutboxRecord->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblOutboxRecord->hide();
    lblPages = new QLabel(this);
    lblPages->setObjectName(QStringLiteral("lblPages"));
    lblSelected = new QLabel(this);
    lblSelected->setObjectName(QStringLiteral("lblSelected"));

    ListMessage = new QTreeWidget(this);
    ListMessage->setObjectName(QStringLiteral("ListMessage"));
    ListMessage->setRootIsDecorated(false);
    ListMessage->setUniformRowHeights(true);
    ListMessage->setAllColumnsShowFocus(true);
    ListMessage->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListMessage->setSortingEnabled(false); // the database orders; a header click asks it to
    ListMessage->header()->setSectionsClickable(true);
    ListMessage->header()->setStretchLastSection(false);
    ListMessage->setColumnCount(0);

    auto* outer = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(Toolbar1);
    top->addStretch();
    top->addWidget(cmdExport);
    top->addWidget(txtSearch);
    outer->addLayout(top);
    auto* body = new QHBoxLayout;
    body->addWidget(TreeView1);
    auto* right = new QVBoxLayout;
    right->addWidget(ListMessage, 1);
    auto* paging = new QHBoxLayout;
    paging->addWidget(cmdPrevious);
    paging->addWidget(txtPages);
    paging->addWidget(lblPages);
    paging->addStretch();
    paging->addWidget(lblSelected);
    paging->addWidget(cmdNext);
    right->addLayout(paging);
    auto* number = new QHBoxLayout;
    number->addWidget(Label3);
    number->addWidget(LblNo, 1);
    right->addLayout(number);
    right->addWidget(txtMessage);
    right->addWidget(lblOutboxRecord);
    body->addLayout(right, 1);
    outer->addLayout(body, 1);

    connect(cmdNext, &QPushButton::clicked, this, &Frm_MessageBox::cmdNext_Click);
    connect(cmdPrevious, &QPushButton::clicked, this, &Frm_MessageBox::cmdPrevious_Click);
    connect(cmdExport, &QPushButton::clicked, this, &Frm_MessageBox::cmdExport_Click);
    connect(cmdReschedule, &QAction::triggered, this, &Frm_MessageBox::cmdReschedule_Click);
    connect(cmdCancelSend, &QAction::triggered, this, &Frm_MessageBox::cmdCancelSend_Click);
    // The other folders have nothing to offer on a row.
    ListMessage->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListMessage, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!outBoxSelected)
            return;
        QMenu menu(this);
        menu.addAction(cmdReschedule);
        menu.addAction(cmdCancelSend);
        menu.exec(ListMessage->viewport()->mapToGlobal(at));
    });
    connect(txtPages, &QLineEdit::textChanged, this, &Frm_MessageBox::txtPages_Change);
    connect(txtPages, &QLineEdit::returnPressed, this, &Frm_MessageBox::txtPages_Enter);
    // A cleared box shows the whole folder at once; typed text waits for a pause (or Enter).
    connect(txtSearch, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            txtSearch_Search();
        else
            searchPause.start();
    });
    connect(txtSearch, &QLineEdit::returnPressed, this, &Frm_MessageBox::txtSearch_Search);
    connect(&searchPause, &QTimer::timeout, this, &Frm_MessageBox::txtSearch_Search);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this, [this] {
        txtSearch->setFocus();
        txtSearch->selectAll();
    });
    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, [this] {
        fillTreeView();
        refillCurrentFolder();
    });
    connect(ListMessage->header(), &QHeaderView::sectionClicked, this, &Frm_MessageBox::ListMessage_ColumnClick);
    connect(ListMessage, &QTreeWidget::itemSelectionChanged, this, &Frm_MessageBox::keepSelection);
    // Widths the user gives a folder's columns are kept for the next time.
    connect(ListMessage->header(), &QHeaderView::sectionResized, this, [this] {
        if (!settingColumns && (inBoxSelected || outBoxSelected || sentItemsSelected))
            KeepColumnWidths(this->engine.appState(), ListMessage->header(), columnsKey());
    });
    connect(ListMessage, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* row, int) { ListMessage_RowClick(row); });
    // A node chosen with the mouse or the keys opens its folder; so does a click on the node already chosen.
    connect(TreeView1, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (!selectingNode && current)
            TreeView1_NodeClick(current->parent() ? current->parent()->indexOfChild(current) + 2 : 1);
    });
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        if (item && item == currentNodeBeforePress)
            TreeView1_NodeClick(item->parent() ? item->parent()->indexOfChild(item) + 2 : 1);
    });
    TreeView1->viewport()->installEventFilter(this);
    ListMessage->installEventFilter(this);
    ListMessage->viewport()->installEventFilter(this);

    Form_Load();
}

Frm_MessageBox::~Frm_MessageBox()
{
    Form_Unload();
}

void Frm_MessageBox::Form_Load()
{
    engine.appState().MessageBoxOpen = true;
    connect(&engine, &Engine::inboxChanged, this, &Frm_MessageBox::foldersChanged);
    connect(&engine, &Engine::outboxChanged, this, &Frm_MessageBox::foldersChanged);
    connect(&engine, &Engine::inboxMessageStored, this,
            [this](const QString& number, const QString& text, const QDateTime& received, qint64 id) {
                const QScopedValueRollback quiet(followingChanges, true);
                addInboxRowAtTop(number, text, received, id);
                redraw();
            });
    if (ServerNews* news = ServerNews::Of(engine.database()))
        connect(news, &ServerNews::rowsChanged, this, &Frm_MessageBox::showRowsAnew);
    inBoxSelected = outBoxSelected = sentItemsSelected = false;
    page = 1;
    // Wide enough for the Outbox's six columns, and still inside a 1024 x 768 screen with its frame.
    resize(980, 640);
    inboxOrder = InitialFolderOrder(MessageFolder::Inbox);
    outboxOrder = InitialFolderOrder(MessageFolder::Outbox);
    sentOrder = InitialFolderOrder(MessageFolder::SentItems);
    fillTreeView();
    // Opened from the menu, without a folder asked for, it shows the Inbox rather than an empty list.
    if (engine.appState().msgType == QLatin1String("O")) {
        selectNode(3);
        fillListOutbox();
    } else {
        selectNode(2);
        fillListInbox();
    }
    engine.appState().msgType.clear();
}

void Frm_MessageBox::Form_Unload()
{
    if (unloaded)
        return;
    unloaded = true;
    engine.appState().MessageBoxOpen = false;
    disconnect(&engine, nullptr, this, nullptr);
}

void Frm_MessageBox::databaseFailed(const DbError& e)
{
    if (!followingChanges)
        engine.dialogs().message(e.description());
}

void Frm_MessageBox::foldersChanged()
{
    const QScopedValueRollback quiet(followingChanges, true);
    fillTreeView();
    redraw();
}

void Frm_MessageBox::showRowsAnew(ServerNews::Tables tables)
{
    // A link found lost is tried again by the next statement of the engine's ticks, not by news that cannot come.
    if (!engine.database().linkUp() || !(tables & (ServerNews::Inbox | ServerNews::Outbox)))
        return;
    const QScopedValueRollback quiet(followingChanges, true);
    fillTreeView();
    MessageFolder folder;
    if (!currentFolder(&folder) ||
        !tables.testFlag(folder == MessageFolder::Inbox ? ServerNews::Inbox : ServerNews::Outbox))
        return;
    // The user goes on reading where he was: the same page, scrolled as it was, the same row in the pane.
    const QTreeWidgetItem* current = ListMessage->currentItem();
    const QString currentId = current ? current->text(IdColumn) : QString();
    const QString number = LblNo->text();
    const QString text = txtMessage->toPlainText();
    const QString record = lblOutboxRecord->text();
    const int scrolled = ListMessage->verticalScrollBar()->value();
    fillList(folder);
    ListMessage->verticalScrollBar()->setValue(scrolled);
    if (currentId.isEmpty())
        return;
    for (int i = 0; i < ListMessage->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ListMessage->topLevelItem(i);
        if (row->text(IdColumn) != currentId)
            continue;
        ListMessage->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        LblNo->setText(number);
        txtMessage->setPlainText(text);
        showDelivery(record);
        return;
    }
}

void Frm_MessageBox::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

bool Frm_MessageBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == TreeView1->viewport() && event->type() == QEvent::MouseButtonPress) {
        currentNodeBeforePress = TreeView1->currentItem();
    } else if (watched == ListMessage->viewport() && event->type() == QEvent::MouseButtonPress &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
               !(static_cast<QMouseEvent*>(event)->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier))) {
        // A plain click chooses anew, here and on the other pages alike.
        keptSelection.clear();
        keepSelection();
    } else if (watched == ListMessage && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        DeleteSMS();
        return true;
    } else if (watched == ListMessage->viewport() && event->type() == QEvent::Resize) {
        setColumnWidths(); // the columns share the visible width in thirds
    }
    return QWidget::eventFilter(watched, event);
}

QTreeWidgetItem* Frm_MessageBox::node(int number) const
{
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    return number <= 1 ? root : root->child(number - 2);
}

void Frm_MessageBox::selectNode(int number)
{
    // Choosing the folder's node from the code must not refill the list as a user's click does.
    selectingNode = true;
    TreeView1->setCurrentItem(node(number));
    selectingNode = false;
}

bool Frm_MessageBox::currentFolder(MessageFolder* folder) const
{
    if (inBoxSelected)
        *folder = MessageFolder::Inbox;
    else if (outBoxSelected)
        *folder = MessageFolder::Outbox;
    else if (sentItemsSelected)
        *folder = MessageFolder::SentItems;
    else
        return false;
    return true;
}

void Frm_MessageBox::fillTreeView()
{
    try {
        const qint64 unread = folders.countUnreadInbox();
        const qint64 waiting = folders.countWaitingOutbox();
        QTreeWidgetItem* inbox = node(2);
        inbox->setText(0, unread == 0 ? QStringLiteral("Inbox") : QStringLiteral("Inbox(%1)").arg(unread));
        setNodeBold(inbox, unread != 0);
        QTreeWidgetItem* outbox = node(3);
        outbox->setText(0, waiting == 0 ? QStringLiteral("Outbox") : QStringLiteral("Outbox(%1)").arg(waiting));
        setNodeBold(outbox, waiting != 0);
    } catch (const DbError& e) {
        databaseFailed(e);
    }
}

void Frm_MessageBox::redraw()
{
    ListMessage->viewport()->update();
    update();
}

void Frm_MessageBox::addInboxRowAtTop(const QString& number, const QString& message, const QDateTime& received,
                                      qint64 id)
{
    // A search shows what it found; the new message may not be part of that.
    if (!inBoxSelected || !txtSearch->text().trimmed().isEmpty())
        return;
    QStringList texts{number, message, GeneralDateTime(received), QString::number(id)};
    const int modem = ModemColumn(MessageFolder::Inbox);
    try {
        // The first message from another modem (or SIM) brings the modem column out.
        if (ListMessage->columnCount() <= modem && folders.namesSeveralModems(MessageFolder::Inbox)) {
            fillList(MessageFolder::Inbox);
            return;
        }
        if (ListMessage->columnCount() > modem)
            texts << folders.modemName(MessageFolder::Inbox, id);
    } catch (const DbError& e) {
        databaseFailed(e);
    }
    auto* row = new QTreeWidgetItem(texts);
    setRowBold(row, true);
    ListMessage->insertTopLevelItem(0, row);
}

void Frm_MessageBox::fillListInbox()
{
    fillList(MessageFolder::Inbox);
}

void Frm_MessageBox::fillListOutbox()
{
    fillList(MessageFolder::Outbox);
}

void Frm_MessageBox::fillListSent()
{
    fillList(MessageFolder::SentItems);
}

void Frm_MessageBox::showDelivery(const QString& record)
{
    lblOutboxRecord->setText(record);
    lblOutboxRecord->setVisible(!record.isEmpty());
}

QString Frm_MessageBox::columnsKey() const
{
    return inBoxSelected    ? QStringLiteral("messagebox/inbox")
           : outBoxSelected ? QStringLiteral("messagebox/outbox")
                            : QStringLiteral("messagebox/sent");
}

void Frm_MessageBox::setColumnWidths()
{
    const QScopedValueRollback<bool> setting(settingColumns, true);
    const QFontMetrics metrics(ListMessage->font());
    const auto needs = [&](int column, const QString& sample) {
        return std::max(ListMessage->header()->sectionSizeHint(column), metrics.horizontalAdvance(sample) + 16);
    };
    MessageFolder folder = MessageFolder::Inbox;
    const bool known = currentFolder(&folder);
    const int modem = known ? ModemColumn(folder) : -1;
    const bool modemShown = modem >= 0 && modem < ListMessage->columnCount();
    const int sendAt = known ? SendAtColumn(folder) : -1;
    const bool sendAtShown = sendAt >= 0 && sendAt < ListMessage->columnCount();
    const QString dateSample = GeneralDateTime(QDateTime(QDate(2000, 12, 28), QTime(23, 59, 59)));
    if (const QList<int> kept = RestoreColumnWidths(engine.appState(), ListMessage->header(), columnsKey());
        !kept.isEmpty()) {
        // Widths kept before the modem or sending time column came out (or before there was one) leave it to us.
        if (modemShown && kept.value(modem) <= 0)
            ListMessage->setColumnWidth(modem, needs(modem, ModemSample));
        if (sendAtShown && kept.value(sendAt) <= 0)
            ListMessage->setColumnWidth(sendAt, needs(sendAt, dateSample));
        return;
    }
    const int width = ListMessage->viewport()->width();
    if (ListMessage->columnCount() < OutboxColumns) {
        // The columns shown share the width; the last (the delivery report, the modem) takes what is left.
        QList<int> shown;
        for (int c = 0; c < ListMessage->columnCount(); ++c)
            if (c != IdColumn && !ListMessage->isColumnHidden(c))
                shown << c;
        if (shown.isEmpty())
            return;
        const int share = width / static_cast<int>(shown.size());
        for (int c : shown)
            ListMessage->setColumnWidth(c, share);
        if (shown.size() > 3)
            ListMessage->setColumnWidth(shown.back(), width - share * static_cast<int>(shown.size() - 1));
        return;
    }
    // The Outbox has more to show in the same width: number, date, status and attempts get what their texts
    // need (the sending time too, when shown), the message and the reason share the rest, and nothing is left for
    // a scroll bar to reach.
    const int number = needs(0, QStringLiteral("+000000000000"));
    const int date = needs(2, dateSample);
    const int status = needs(StatusColumn, QStringLiteral("INVALID NUMBER"));
    const int attempts = needs(AttemptsColumn, QStringLiteral("00"));
    const int scheduled = sendAtShown ? needs(sendAt, dateSample) : 0;
    if (sendAtShown)
        ListMessage->setColumnWidth(sendAt, scheduled);
    const int rest = std::max(width - number - date - status - attempts - scheduled, 160);
    const int message = rest / 2;
    for (auto [column, w] : {std::pair{0, number},
                             {1, message},
                             {2, date},
                             {StatusColumn, status},
                             {AttemptsColumn, attempts},
                             {ReasonColumn, rest - message}})
        ListMessage->setColumnWidth(column, w);
}

void Frm_MessageBox::showPageNumber()
{
    settingPages = true;
    txtPages->setText(pages > 0 ? QString::number(page) : QString());
    settingPages = false;
}

void Frm_MessageBox::keepSelection()
{
    if (filling)
        return;
    for (int i = 0; i < ListMessage->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ListMessage->topLevelItem(i);
        const qint64 id = Trim(row->text(IdColumn)).toLongLong();
        if (row->isSelected())
            keptSelection.insert(id);
        else
            keptSelection.remove(id);
    }
    showSelectedCount();
}

void Frm_MessageBox::showSelectedCount()
{
    lblSelected->setText(keptSelection.isEmpty() ? QString() : QStringLiteral("%1 selected").arg(keptSelection.size()));
    updateScheduleActions();
}

// Offered while a selected row of this page still waits (no status yet). Whether a modem has taken it in the
// meantime only the change itself finds out.
void Frm_MessageBox::updateScheduleActions()
{
    bool waiting = false;
    if (outBoxSelected) {
        for (int i = 0; i < ListMessage->topLevelItemCount() && !waiting; ++i) {
            const QTreeWidgetItem* row = ListMessage->topLevelItem(i);
            waiting = row->isSelected() && Trim(row->text(StatusColumn)).isEmpty();
        }
    }
    cmdReschedule->setEnabled(waiting);
    cmdCancelSend->setEnabled(waiting);
}

void Frm_MessageBox::fillList(MessageFolder folder)
{
    const QScopedValueRollback<bool> quiet(filling, true);
    const QScopedValueRollback<bool> setting(settingColumns, true);
    try {
        inBoxSelected = folder == MessageFolder::Inbox;
        outBoxSelected = folder == MessageFolder::Outbox;
        sentItemsSelected = folder == MessageFolder::SentItems;
        cmdExport->setEnabled(folder != MessageFolder::Outbox);
        LblNo->clear();
        txtMessage->clear();
        showDelivery({});
        ListMessage->clear();
        switch (folder) {
        case MessageFolder::Inbox:
            ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                                          QStringLiteral("Received On"), QStringLiteral("Id"),
                                          QStringLiteral("Modem")});
            break;
        case MessageFolder::Outbox:
            ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                                          QStringLiteral("Outbox Date"), QStringLiteral("Id"), QStringLiteral("Status"),
                                          QStringLiteral("Attempts"), QStringLiteral("Reason"),
                                          QStringLiteral("Send at")});
            break;
        case MessageFolder::SentItems:
            ListMessage->setHeaderLabels({QStringLiteral("Mobile Number"), QStringLiteral("Message"),
                                          QStringLiteral("Delivered On"), QStringLiteral("Id"),
                                          QStringLiteral("Delivery Report"), QStringLiteral("Modem")});
            break;
        }
        // One modem (or none recorded) tells no rows apart: then the list has no modem column, as it always was.
        const int modem = ModemColumn(folder) >= 0 && folders.namesSeveralModems(folder) ? ModemColumn(folder) : -1;
        // The same for the sending time: a user who never schedules sees the Outbox as it always was.
        const int sendAt = SendAtColumn(folder) >= 0 && folders.outboxHoldsScheduled() ? SendAtColumn(folder) : -1;
        ListMessage->setColumnCount(sendAt >= 0                       ? sendAt + 1
                                    : folder == MessageFolder::Outbox ? OutboxColumns
                                    : modem >= 0                      ? modem + 1
                                                                      : ModemColumn(folder));
        // A column keeps its hiding across folders: each is set afresh.
        for (int c = 0; c < ListMessage->columnCount(); ++c)
            ListMessage->setColumnHidden(c, c == IdColumn);
        setColumnWidths();
        ListMessage->viewport()->update();

        const qint64 pageSize = engine.appState().MessagePageSize > 0 ? engine.appState().MessagePageSize : 100;
        const FolderSearch search = folders.prepareSearch(folder, txtSearch->text());
        const qint64 total = folders.count(folder, search);
        if (total > 0) {
            pages = (total + pageSize - 1) / pageSize;
            lblPages->setText(total % pageSize != 0
                                  ? QStringLiteral("of %1 Pages. Total records: %2").arg(pages).arg(total)
                                  : QStringLiteral("of %1 Total records: %2").arg(pages).arg(total));
            // Messages deleted meanwhile can leave the page beyond the end: show the last one instead.
            page = std::clamp<qint64>(page, 1, pages);
            const FolderOrder order = folder == MessageFolder::Inbox    ? inboxOrder
                                      : folder == MessageFolder::Outbox ? outboxOrder
                                                                        : sentOrder;
            const auto rows =
                folders.readPage(folder, order, (page - 1) * pageSize, static_cast<int>(pageSize), total, search);
            QList<QTreeWidgetItem*> items;
            items.reserve(static_cast<qsizetype>(rows.size()));
            for (const FolderRow& r : rows) {
                QStringList texts{r.number, r.message, r.date, QString::number(r.id)};
                if (folder == MessageFolder::Outbox)
                    texts << r.status << r.attempts << r.reason;
                else if (folder == MessageFolder::SentItems)
                    texts << r.status;
                if (modem >= 0)
                    texts << r.modem;
                if (sendAt >= 0)
                    texts << r.sendAt;
                auto* row = new QTreeWidgetItem(texts);
                if (!r.reason.isEmpty()) // a reason seldom fits its column and is shown nowhere else
                    row->setToolTip(ReasonColumn, r.reason);
                if (r.unread)
                    setRowBold(row, true);
                items << row;
            }
            ListMessage->addTopLevelItems(items);
        } else {
            // An empty folder says so instead of keeping the figures of the folder shown before.
            pages = 0;
            if (search.active)
                lblPages->setText(QStringLiteral("No message found."));
            else
                lblPages->clear();
        }
        showPageNumber();
        cmdNext->setEnabled(pages > page);
        cmdPrevious->setEnabled(page > 1);
        ListMessage->clearSelection();
        // Rows chosen before a page change are still chosen when their page comes back.
        for (int i = 0; i < ListMessage->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = ListMessage->topLevelItem(i);
            if (keptSelection.contains(Trim(row->text(IdColumn)).toLongLong()))
                row->setSelected(true);
        }
        showSelectedCount();
    } catch (const DbError& e) {
        databaseFailed(e);
    }
}

void Frm_MessageBox::refillCurrentFolder()
{
    MessageFolder folder;
    if (currentFolder(&folder))
        fillList(folder);
}

void Frm_MessageBox::cmdNext_Click()
{
    if (page >= pages)
        return;
    ++page;
    refillCurrentFolder();
}

void Frm_MessageBox::cmdPrevious_Click()
{
    if (page <= 1)
        return;
    --page;
    refillCurrentFolder();
}

void Frm_MessageBox::TreeView1_NodeClick(int number)
{
    page = 1;
    keptSelection.clear();
    switch (number) {
    case 2:
        fillListInbox();
        break;
    case 3:
        fillListOutbox();
        break;
    case 4:
        fillListSent();
        break;
    default:
        break;
    }
}

void Frm_MessageBox::ListMessage_ColumnClick(int column)
{
    MessageFolder folder;
    if (!currentFolder(&folder))
        return;
    FolderOrder order;
    if (ClickedFolderOrder(folder, column, &order)) {
        if (folder == MessageFolder::Inbox)
            inboxOrder = order;
        else if (folder == MessageFolder::Outbox)
            outboxOrder = order;
        else
            sentOrder = order;
    }
    fillList(folder);
}

void Frm_MessageBox::ListMessage_RowClick(QTreeWidgetItem* row)
{
    MessageFolder folder;
    if (!row || !currentFolder(&folder))
        return;
    try {
        LblNo->clear();
        txtMessage->clear();
        showDelivery({});
        LblNo->setText(row->text(0));
        const qint64 id = Trim(row->text(IdColumn)).toLongLong();
        const bool inbox = folder == MessageFolder::Inbox;
        InboxRepository inboxRows(engine.database());
        OutboxRepository outboxRows(engine.database());
        std::optional<QString> text;
        std::optional<OutboxRecord> record;
        if (inbox) {
            text = inboxRows.messageText(id);
        } else if ((record = outboxRows.record(id))) {
            text = record->message;
        }
        if (text) {
            QString shown = *text;
            shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            txtMessage->setPlainText(shown);
        }
        if (record && folder == MessageFolder::Outbox) {
            // The record as the delivery run left it, whole: the list's columns cut a long reason.
            const QString status = Trim(record->status);
            QStringList lines{QStringLiteral("Status: ") +
                                  (status.isEmpty() ? QStringLiteral("waiting to be sent") : status),
                              QStringLiteral("Attempts: ") + QString::number(record->attempts)};
            if (record->nextAttempt.isValid())
                lines << QStringLiteral("Next attempt: ") + GeneralDateTime(record->nextAttempt);
            if (const QString reason = FolderMessageText(record->lastError); !reason.isEmpty())
                lines << QStringLiteral("Last failure: ") + reason;
            showDelivery(lines.join(QLatin1Char('\n')));
        }
        if (inbox) {
            if (text) {
                inboxRows.markRead(id);
                setRowBold(row, false);
            }
            fillTreeView();
            selectNode(2);
        } else {
            selectNode(folder == MessageFolder::Outbox ? 3 : 4);
        }
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

// Rows given up after their last failed attempt wait again, from now on, with a fresh count of attempts.
void Frm_MessageBox::SendFailedAgain()
{
    MessageFolder folder = MessageFolder::Inbox;
    QList<qint64> ids;
    if (currentFolder(&folder) && folder == MessageFolder::Outbox) {
        for (int i = 0; i < ListMessage->topLevelItemCount(); ++i)
            if (ListMessage->topLevelItem(i)->isSelected())
                ids << Trim(ListMessage->topLevelItem(i)->text(IdColumn)).toLongLong();
    }
    if (ids.isEmpty()) {
        engine.dialogs().message(QStringLiteral("Please select the failed messages in the Outbox."));
        return;
    }
    const int waiting = engine.RetryFailed(ids);
    if (waiting == 0) {
        engine.dialogs().message(QStringLiteral("None of the selected messages has failed."));
        return;
    }
    if (waiting > 0)
        refillCurrentFolder();
}

// Large folders are deleted in one statement, never row by row through the page. While a run is under way
// the message on the modem is kept: the run still has to record what the network said about it.
template <class Delete> void Frm_MessageBox::deleteMessages(MessageFolder folder, qint64 count, Delete remove)
{
    if (!engine.dialogs().question(QStringLiteral("Delete %1 %2 from the %3?")
                                       .arg(count)
                                       .arg(count == 1 ? QStringLiteral("message") : QStringLiteral("messages"))
                                       .arg(folderName(folder))))
        return;
    FolderDeletion done;
    try {
        done = remove(engine.sending());
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
        return;
    }
    keptSelection.clear();
    LblNo->clear();
    txtMessage->clear();
    showDelivery({});
    fillList(folder); // the page count and total as they are now
    fillTreeView();
    if (done.spared == 1)
        engine.dialogs().message(
            QStringLiteral("One message is being sent right now and was not deleted: it stays in the Outbox until "
                           "the modem has finished with it."));
    else if (done.spared > 1)
        engine.dialogs().message(
            QStringLiteral("%1 messages are being sent right now and were not deleted.").arg(done.spared));
}

void Frm_MessageBox::DeleteSMS()
{
    MessageFolder folder = MessageFolder::Inbox;
    keepSelection();
    if (!currentFolder(&folder) || keptSelection.isEmpty()) {
        engine.dialogs().message(NothingSelected);
        return;
    }
    const QList<qint64> ids = keptSelection.values();
    deleteMessages(folder, ids.size(),
                   [&](bool spareSending) { return folders.deleteMessages(folder, ids, spareSending); });
}

void Frm_MessageBox::DeleteAllInFolder()
{
    MessageFolder folder = MessageFolder::Inbox;
    if (!currentFolder(&folder)) {
        engine.dialogs().message(NothingSelected);
        return;
    }
    try {
        const FolderSearch search = folders.prepareSearch(folder, txtSearch->text());
        const qint64 count = folders.count(folder, search);
        if (count == 0) {
            engine.dialogs().message(
                QStringLiteral("There is no message to delete in the %1.").arg(folderName(folder)));
            return;
        }
        deleteMessages(folder, count,
                       [&](bool spareSending) { return folders.deleteAll(folder, search, spareSending); });
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

void Frm_MessageBox::cmdExport_Click()
{
    MessageFolder folder = MessageFolder::Inbox;
    if (!currentFolder(&folder) || folder == MessageFolder::Outbox)
        return;
    const QString suggested = QDir::home().filePath(
        (folder == MessageFolder::Inbox ? QStringLiteral("Inbox") : QStringLiteral("Sent Items")) +
        QStringLiteral(".csv"));
    const QString path = engine.dialogs().saveFileName(suggested, QStringLiteral("CSV Files (*.csv)|*.csv"));
    if (path.isEmpty())
        return;
    try {
        // What the list shows, in its order: the search's result when one is active.
        const FolderOrder order = folder == MessageFolder::Inbox ? inboxOrder : sentOrder;
        FolderExport rows(engine.database(), folder, order, folders.prepareSearch(folder, txtSearch->text()));
        ExportToCsv(engine.dialogs(), path, FolderExport::header(folder),
                    [&](QStringList& row) { return rows.next(row); });
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
    }
}

template <class Change> void Frm_MessageBox::changeWaitingRows(Change change)
{
    keepSelection();
    const QList<qint64> ids = keptSelection.values();
    qint64 beingSent = 0;
    qint64 gone = 0;
    Database& db = engine.database();
    try {
        OutboxRepository outbox(db);
        db.beginTransaction();
        try {
            for (qint64 id : ids) {
                if (change(outbox, id))
                    continue;
                const std::optional<OutboxRecord> r = outbox.record(id);
                if (r && (r->claimedBy != 0 || Trim(r->status) == QLatin1String("SENDING")))
                    ++beingSent;
                else
                    ++gone;
            }
            db.commit();
        } catch (...) {
            db.rollback();
            throw;
        }
    } catch (const DbError& e) {
        engine.dialogs().message(e.description());
        return;
    }
    refillCurrentFolder();
    Q_EMIT engine.outboxChanged(); // the counts of other windows (campaigns, the modem panel) too
    if (beingSent == 1)
        engine.dialogs().message(QStringLiteral("One message is being sent right now and was not changed."));
    else if (beingSent > 1)
        engine.dialogs().message(
            QStringLiteral("%1 messages are being sent right now and were not changed.").arg(beingSent));
    if (gone == 1)
        engine.dialogs().message(QStringLiteral("One message is no longer waiting to be sent and was not changed."));
    else if (gone > 1)
        engine.dialogs().message(
            QStringLiteral("%1 messages are no longer waiting to be sent and were not changed.").arg(gone));
}

void Frm_MessageBox::cmdReschedule_Click()
{
    if (!cmdReschedule->isEnabled())
        return;
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgReschedule"));
    dialog.setWindowTitle(QStringLiteral("Reschedule"));
    QDateTime suggested = engine.clock().now().toLocalTime().addSecs(3600);
    suggested.setTime(QTime(suggested.time().hour(), suggested.time().minute()));
    auto* dtpSendAt = new QDateTimeEdit(suggested, &dialog);
    dtpSendAt->setObjectName(QStringLiteral("dtpSendAt"));
    dtpSendAt->setCalendarPopup(true);
    dtpSendAt->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* layout = new QFormLayout(&dialog);
    layout->addRow(QStringLiteral("Send at:"), dtpSendAt);
    layout->addRow(buttons);
    // A time already past would send at once: that is what Send SMS From OutBox is for.
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (dtpSendAt->dateTime() <= engine.clock().now())
            engine.dialogs().message(QStringLiteral("Please choose a time in the future."));
        else
            dialog.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QDateTime at = dtpSendAt->dateTime();
    changeWaitingRows([&](OutboxRepository& outbox, qint64 id) { return outbox.reschedule(id, at); });
}

void Frm_MessageBox::cmdCancelSend_Click()
{
    if (!cmdCancelSend->isEnabled())
        return;
    keepSelection();
    const qsizetype count = keptSelection.size();
    if (!engine.dialogs().question(
            count == 1
                ? QStringLiteral("Cancel sending the selected message? It stays in the Outbox, marked CANCELLED.")
                : QStringLiteral("Cancel sending the %1 selected messages? They stay in the Outbox, marked "
                                 "CANCELLED.")
                      .arg(count)))
        return;
    changeWaitingRows([](OutboxRepository& outbox, qint64 id) { return outbox.cancel(id); });
}

void Frm_MessageBox::Toolbar1_ButtonClick(int index)
{
    switch (index) {
    case 1:
        engine.ReceiveNow();
        break;
    case 2:
        if (engine.deliveryPaused())
            engine.dialogs().message(QStringLiteral("Delivery is paused. Close this window and choose "
                                                    "Resume Delivery in the main window to send the Outbox."));
        else
            engine.SendNow();
        break;
    case 3:
        DeleteSMS();
        break;
    case 4:
        SendFailedAgain();
        break;
    case 5:
        DeleteAllInFolder();
        break;
    default:
        break;
    }
}

void Frm_MessageBox::txtPages_Change()
{
    if (settingPages)
        return;
    const QString t = Trim(txtPages->text());
    if (t.isEmpty())
        return;
    const bool sign = t.contains(QLatin1Char('+')) || t.contains(QLatin1Char('-')) || t.contains(QLatin1Char('$')) ||
                      t.contains(QLatin1Char('.'));
    if (!IsNumeric(t) || sign) {
        engine.dialogs().message(QStringLiteral("Please enter numeric value."));
        settingPages = true;
        txtPages->setText(QString::number(page));
        settingPages = false;
    }
}

void Frm_MessageBox::txtSearch_Search()
{
    searchPause.stop();
    page = 1;
    keptSelection.clear();
    refillCurrentFolder();
}

void Frm_MessageBox::txtPages_Enter()
{
    const QString t = Trim(txtPages->text());
    const double value = IsNumeric(t) ? NumericValue(t) : 0;
    if (value < 1 || value > static_cast<double>(pages)) {
        engine.dialogs().message(QStringLiteral("This page does not exist."));
        settingPages = true;
        txtPages->setText(QString::number(page));
        settingPages = false;
        return;
    }
    page = static_cast<qint64>(value);
    refillCurrentFolder();
}
