#include "views/MessageBoxFolders.h"

#include "common/FunctionsLibrary.h"
#include "store/Database.h"
#include "store/SettingsRows.h"

#include <algorithm>

namespace {

struct FolderTable {
    const char* table;
    const char* id;
    const char* number;
    const char* date;
    const char* where; // empty, or " WHERE ..." selecting the folder's rows
    const char* extra; // the folder's own further column, or nullptr
};

const FolderTable& tableOf(MessageFolder folder)
{
    static const FolderTable inbox{"Message_InBox", "InBox_Id", "SenderMobileNo", "InboxDateTime", "", "IsRead"};
    static const FolderTable outbox{
        "Message_OutBox", "Outbox_Id", "RecipientMobileNo", "OutBoxDateTime", " WHERE DeliveryDatetime IS NULL",
        "DeliveryStatus"};
    static const FolderTable sent{
        "Message_OutBox", "Outbox_Id", "RecipientMobileNo", "DeliveryDatetime", " WHERE DeliveryDatetime IS NOT NULL",
        nullptr};
    switch (folder) {
    case MessageFolder::Inbox:
        return inbox;
    case MessageFolder::Outbox:
        return outbox;
    case MessageFolder::SentItems:
        break;
    }
    return sent;
}

// Texts are ordered without regard to case, as a user reading the list expects ("apple" beside "Apple");
// the indexes on the text columns are declared with the same collation so that they serve the order.
QString orderClause(const FolderTable& t, FolderOrder order, bool reversed)
{
    const bool descending = order.descending != reversed;
    const QString direction = descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    QString key;
    switch (order.column) {
    case FolderSortColumn::Number:
        key = QString::fromLatin1(t.number) + QStringLiteral(" COLLATE NOCASE");
        break;
    case FolderSortColumn::Message:
        key = QStringLiteral("Message COLLATE NOCASE");
        break;
    case FolderSortColumn::Date:
        key = QString::fromLatin1(t.date);
        break;
    }
    return QStringLiteral(" ORDER BY ") + key + direction + QStringLiteral(", ") + QString::fromLatin1(t.id) +
           direction;
}

QString dateText(const QVariant& stored)
{
    if (stored.isNull())
        return {};
    const QDateTime t = Database::FromDbTime(stored);
    return t.isValid() ? GeneralDateTime(t) : Trim(stored.toString());
}

} // namespace

FolderOrder InitialFolderOrder(MessageFolder folder)
{
    return {FolderSortColumn::Date, folder != MessageFolder::Outbox};
}

bool ClickedFolderOrder(MessageFolder folder, int column, FolderOrder* order)
{
    switch (column) {
    case 0:
        *order = {FolderSortColumn::Number, false};
        return true;
    case 1:
        *order = {FolderSortColumn::Message, false};
        return true;
    case 2:
        *order = {FolderSortColumn::Date, folder == MessageFolder::SentItems};
        return true;
    default:
        return false;
    }
}

qint64 CountFolder(Database& db, MessageFolder folder)
{
    const FolderTable& t = tableOf(folder);
    return db.count(QStringLiteral("SELECT count(*) FROM ") + QString::fromLatin1(t.table) +
                    QString::fromLatin1(t.where));
}

qint64 CountUnreadInbox(Database& db)
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE IsRead = 0"));
}

qint64 CountWaitingOutbox(Database& db)
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL"));
}

std::vector<FolderRow> ReadFolderPage(Database& db, MessageFolder folder, FolderOrder order, qint64 first, int rows,
                                      qint64 total)
{
    std::vector<FolderRow> out;
    first = std::max<qint64>(first, 0);
    const qint64 wanted = std::min<qint64>(rows, total - first);
    if (wanted <= 0)
        return out;
    // Skipping rows still walks them: a page in the back half is read in the reverse order from the end
    // and turned round, so the last page costs what the first does.
    const qint64 fromEnd = total - first - wanted;
    const bool reversed = fromEnd < first;
    const qint64 offset = reversed ? fromEnd : first;

    const FolderTable& t = tableOf(folder);
    QString sql = QStringLiteral("SELECT ") + QString::fromLatin1(t.number) + QStringLiteral(", Message, ") +
                  QString::fromLatin1(t.date) + QStringLiteral(", ") + QString::fromLatin1(t.id);
    if (t.extra)
        sql += QStringLiteral(", ") + QString::fromLatin1(t.extra);
    sql += QStringLiteral(" FROM ") + QString::fromLatin1(t.table) + QString::fromLatin1(t.where) +
           orderClause(t, order, reversed) + QStringLiteral(" LIMIT ? OFFSET ?");

    Query q(db, sql, {wanted, offset});
    out.reserve(static_cast<size_t>(wanted));
    while (q.next()) {
        FolderRow r;
        r.number = FolderCellText(q.value(0).toString());
        r.message = FolderMessageText(q.value(1).toString());
        r.date = dateText(q.value(2));
        r.id = q.value(3).toLongLong();
        if (folder == MessageFolder::Inbox)
            r.unread = !IsTrue(q.value(4));
        else if (folder == MessageFolder::Outbox)
            r.status = FolderCellText(q.value(4).toString());
        out.push_back(std::move(r));
    }
    if (reversed)
        std::reverse(out.begin(), out.end());
    return out;
}

QString FolderCellText(const QString& stored)
{
    return Trim(stored);
}

QString FolderMessageText(const QString& stored)
{
    QString s = Trim(stored);
    s.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return s;
}
