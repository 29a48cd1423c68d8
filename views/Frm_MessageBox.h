// The message box: the Inbox, Outbox and Sent Items folders in a tree with their counts, one page of the
// chosen folder at a time (all of it, or what the search box finds in it), reading and deleting messages
// (those selected on any of its pages, or all it shows), and starting reception and delivery by hand. While
// it is open it follows the engine's news (inboxChanged, outboxChanged, inboxMessageStored) and, on a server
// base, what the other computers write (ServerNews). Rows waiting in the Outbox can be given another sending
// time or cancelled.
#pragma once

#include "views/MessageBoxFolders.h"
#include "views/ServerNews.h"

#include <QSet>
#include <QTimer>
#include <QWidget>

class DbError;
class Engine;
class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

class Frm_MessageBox : public QWidget {
    Q_OBJECT
public:
    // Loads at once: the tree, and the folder the home page asked for (state.msgType, cleared here).
    explicit Frm_MessageBox(Engine& engine, QWidget* parent = nullptr);
    ~Frm_MessageBox() override;

    bool isInBoxSelected() const { return inBoxSelected; }
    // The folder tree's counts read again.
    void fillTreeView();
    void redraw();
    // A newly received message, shown at the top of the Inbox list in bold.
    void addInboxRowAtTop(const QString& number, const QString& message, const QDateTime& received, qint64 id);

    bool isOutBoxSelected() const { return outBoxSelected; }
    bool isSentItemsSelected() const { return sentItemsSelected; }
    qint64 currentPage() const { return page; }
    qint64 totalPages() const { return pages; }

    void fillListInbox();
    void fillListOutbox();
    void fillListSent();
    // Deletes the selected messages of the shown folder, on every page; DeleteAllInFolder every message it
    // shows (all of the folder, or what the search found). Both ask first with the number.
    void DeleteSMS();
    void DeleteAllInFolder();
    // Messages selected in the shown folder, on this page and the others.
    qsizetype selectedCount() const { return keptSelection.size(); }
    void SendFailedAgain();

    void cmdNext_Click();
    void cmdPrevious_Click();
    // Writes what the list shows of the Inbox or Sent Items (the whole folder, or the search's result) to a CSV
    // file the user names, and says how many messages it holds or why it could not be written.
    void cmdExport_Click();
    // The selected Outbox rows, on every page, sent at another local time the user picks (not one already past)
    // / not sent at all (they stay, CANCELLED). Rows being sent right now, or no longer waiting, stay as they
    // are, and the user is told how many.
    void cmdReschedule_Click();
    void cmdCancelSend_Click();
    void Toolbar1_ButtonClick(int index);
    // Node numbers as the tree shows them: 1 the root, 2 Inbox, 3 Outbox, 4 Sent Items.
    void TreeView1_NodeClick(int node);
    void ListMessage_ColumnClick(int column);
    void ListMessage_RowClick(QTreeWidgetItem* row);
    void txtPages_Change();
    void txtPages_Enter();
    // Shows the first page of what the search box finds in the shown folder (all of it when blank).
    void txtSearch_Search();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();
    void foldersChanged();
    // Rows another computer wrote: the counts, and the shown page when its table changed, read again.
    void showRowsAnew(ServerNews::Tables tables);
    void fillList(MessageFolder folder);
    void refillCurrentFolder();
    void selectNode(int node);
    void setColumnWidths();
    QString columnsKey() const;
    void showDelivery(const QString& record);
    void showPageNumber();
    QTreeWidgetItem* node(int number) const;
    bool currentFolder(MessageFolder* folder) const;
    // The kept selection follows the page's; a plain click starts it afresh.
    void keepSelection();
    void showSelectedCount();
    void updateScheduleActions();
    // Applies a change to each selected row that still waits, then says how many of the others were left as they
    // were, and why.
    template <class Change> void changeWaitingRows(Change change);
    template <class Delete> void deleteMessages(MessageFolder folder, qint64 count, Delete remove);

    Engine& engine;
    FoldersRepository folders;

    QPushButton* cmdNext;
    QPushButton* cmdPrevious;
    QPushButton* cmdExport;
    QAction* cmdReschedule; // in the Outbox list's context menu
    QAction* cmdCancelSend;
    QToolBar* Toolbar1;
    QLineEdit* txtPages;
    QLineEdit* txtSearch;
    QLabel* lblOutboxRecord; // an Outbox row's record: status, attempts, next attempt, last failure
    QTimer searchPause;      // a search starts once typing pauses
    QTreeWidget* TreeView1;
    QLabel* LblNo;
    QPlainTextEdit* txtMessage;
    QLabel* lblPages;
    QLabel* lblSelected;
    QTreeWidget* ListMessage;
    QSet<qint64> keptSelection; // ids selected across the pages of the shown folder
    bool filling = false;

    bool inBoxSelected = false;
    bool outBoxSelected = false;
    bool sentItemsSelected = false;
    qint64 page = 1;
    qint64 pages = 0;
    FolderOrder inboxOrder;
    FolderOrder outboxOrder;
    FolderOrder sentOrder;
    bool unloaded = false;
    bool settingPages = false;
    bool selectingNode = false;
    // Set while the window follows changes nobody here asked for (a modem's run, another computer): a database
    // failure then opens no box, since the database watch tells the user once for the whole program.
    bool followingChanges = false;
    void databaseFailed(const DbError& e);
    bool settingColumns = false; // column widths set by the window, not by the user
    QTreeWidgetItem* currentNodeBeforePress = nullptr;
};
