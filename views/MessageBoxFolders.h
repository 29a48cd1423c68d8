// The three folders of the message box as the database gives them: folder counts and one page of a folder
// in a chosen order, the whole folder or the messages a search finds in it. A page is fetched as a page
// (count, then LIMIT/OFFSET from whichever end is nearer), so a folder of a million messages is never read
// whole.
#pragma once

#include "store/Search.h"

#include <QString>
#include <vector>

class Database;

enum class MessageFolder { Inbox, Outbox, SentItems };

// The list column a folder is ordered by. Ties are broken by the message id in the same direction, so
// every order is total and pages never overlap or miss a row.
enum class FolderSortColumn { Number, Message, Date };

struct FolderOrder {
    FolderSortColumn column = FolderSortColumn::Date;
    bool descending = false;
};

// One list row as shown: values trimmed, CR LF in the message made one blank, dates in local time.
struct FolderRow {
    QString number;
    QString message;
    QString date;
    QString status;   // Outbox: the delivery status when there is one; Sent Items: the delivery report
    QString attempts; // Outbox only: sending attempts so far, once the table records them
    QString reason;   // Outbox only: why the last attempt failed, once the table records it
    qint64 id = 0;
    bool unread = false; // Inbox only
};

// The first order of each folder when the window opens: Inbox newest first, Outbox oldest first, Sent
// Items by delivery, newest first.
FolderOrder InitialFolderOrder(MessageFolder folder);

// The order a click on a column header asks for; nothing for columns that only refill. Clicked orders are
// ascending, except Sent Items by delivery date, which is always newest first.
bool ClickedFolderOrder(MessageFolder folder, int column, FolderOrder* order);

// A search of one folder, made once from the typed text and used for its count and all its pages. Blank
// text (or text with nothing to search for) leaves the search inactive: the whole folder. Throws DbError.
struct FolderSearch {
    SearchSql sql;
    bool active = false;
};
FolderSearch PrepareFolderSearch(Database& db, MessageFolder folder, const QString& typed);

// Number of messages in a folder, or of those the search finds there. Throws DbError.
qint64 CountFolder(Database& db, MessageFolder folder, const FolderSearch& search = {});
qint64 CountUnreadInbox(Database& db);
qint64 CountWaitingOutbox(Database& db);

// Rows [first, first + rows) of a folder of `total` messages (as CountFolder gave for the same search) in the
// given order. Throws DbError.
std::vector<FolderRow> ReadFolderPage(Database& db, MessageFolder folder, FolderOrder order, qint64 first, int rows,
                                      qint64 total, const FolderSearch& search = {});

// What a delete did: messages deleted, and messages spared because the modem has them right now.
struct FolderDeletion {
    qint64 deleted = 0;
    qint64 spared = 0;
};
// Deletes in one statement the folder's messages with these ids (those that moved to another folder meanwhile
// stay), sparing an Outbox message marked SENDING when spareSending. Throws DbError.
FolderDeletion DeleteFolderMessages(Database& db, MessageFolder folder, const QList<qint64>& ids, bool spareSending);
// The same for every message of the folder, or every one the search finds there. Throws DbError.
FolderDeletion DeleteAllFolderMessages(Database& db, MessageFolder folder, const FolderSearch& search,
                                       bool spareSending);

// How a stored value is shown in a list cell.
QString FolderCellText(const QString& stored);
QString FolderMessageText(const QString& stored);
