// The three folders of the message box as the database gives them: folder counts and one page of a folder
// in a chosen order, the whole folder or the messages a search finds in it, and deletes from a folder. A page
// is fetched as a page (count, then LIMIT/OFFSET from whichever end is nearer), so a folder of a million
// messages is never read whole. Every statement binds its values; each operation throws DbError when the
// database fails.
#pragma once

#include "store/Search.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class Database;
class Query;

enum class MessageFolder { Inbox, Outbox, SentItems };

// The list column a folder is ordered by. Ties are broken by the message id in the same direction, so
// every order is total and pages never overlap or miss a row. SendAt (the Outbox's chosen sending time) has no
// index, like the message: the Outbox is seldom long.
enum class FolderSortColumn { Number, Message, Date, Modem, SendAt };

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
    QString modem;    // Inbox and Sent Items: the modem (and SIM) that received or sent it, when recorded
    QString sendAt;   // Outbox only: the time chosen for sending, when one was
    qint64 id = 0;
    bool unread = false; // Inbox only
};

// A search of one folder, made once from the typed text and used for its count and all its pages. Blank
// text leaves the search inactive: the whole folder; text with nothing to search for finds nothing.
struct FolderSearch {
    SearchSql sql;
    bool active = false;
};

// What a delete did: messages deleted, and messages spared because the modem has them right now.
struct FolderDeletion {
    qint64 deleted = 0;
    qint64 spared = 0;
};

class FoldersRepository {
public:
    explicit FoldersRepository(Database& db) : db(db) {}

    FolderSearch prepareSearch(MessageFolder folder, const QString& typed);

    // Number of messages in a folder, or of those the search finds there.
    qint64 count(MessageFolder folder, const FolderSearch& search = {});
    qint64 countUnreadInbox();
    qint64 countWaitingOutbox();
    // Whether the folder's rows name more than one modem (or SIM): only then does the modem tell rows apart.
    // Never for the Outbox, whose rows have not met a modem yet.
    bool namesSeveralModems(MessageFolder folder);
    // Whether a row waiting in the Outbox has a time chosen for its sending: only then does the Outbox show
    // when.
    bool outboxHoldsScheduled();
    // The modem a row of the folder names, as its list cell shows it.
    QString modemName(MessageFolder folder, qint64 id);

    // Rows [first, first + rows) of a folder of `total` messages (as count() gave for the same search) in the
    // given order.
    std::vector<FolderRow> readPage(MessageFolder folder, FolderOrder order, qint64 first, int rows, qint64 total,
                                    const FolderSearch& search = {});

    // Deletes in one statement the folder's messages with these ids (those that moved to another folder
    // meanwhile stay), sparing an Outbox message marked SENDING when spareSending.
    FolderDeletion deleteMessages(MessageFolder folder, const QList<qint64>& ids, bool spareSending);
    // The same for every message of the folder, or every one the search finds there.
    FolderDeletion deleteAll(MessageFolder folder, const FolderSearch& search, bool spareSending);

private:
    FolderDeletion deleteWhere(MessageFolder folder, const QString& condition, const QVariantList& values,
                               bool spareSending);
    qint64 folderSizeEstimate(MessageFolder folder);

    Database& db;
};

// How a stored value is shown in a list cell.
QString FolderCellText(const QString& stored);
QString FolderMessageText(const QString& stored);

// A folder's messages (or those a search finds there) for export, in the given order, read in one forward
// pass and given one row at a time, so that no more than one is held whatever the folder's size. Values are
// as stored (the message whole, line breaks included); dates in local time as ISO 8601 with their UTC offset.
// Inbox rows: received, number, message, read, modem; Sent Items (and Outbox) rows: queued, sent, number,
// message, status, delivery report, when reported, attempts, modem.
class FolderExport {
public:
    FolderExport(Database& db, MessageFolder folder, FolderOrder order, const FolderSearch& search = {});
    ~FolderExport();
    static QStringList header(MessageFolder folder);
    // The next row into row; false at the end.
    bool next(QStringList& row);

private:
    MessageFolder folder;
    std::unique_ptr<Query> query;
};

// A stored date as an export writes it: local time, ISO 8601 with the offset ("2026-03-02T09:00:00+01:00").
QString ExportDateText(const QVariant& stored);
