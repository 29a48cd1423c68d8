#include "store/FoldersRepository.h"

#include "common/FunctionsLibrary.h"
#include "store/Database.h"
#include "store/SettingsRows.h"

#include <algorithm>
#include <cstdlib>

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
    case FolderSortColumn::Modem:
        key = QStringLiteral("ModemName COLLATE NOCASE");
        break;
    case FolderSortColumn::SendAt:
        key = QStringLiteral("SendAt");
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

// How a page of a search reaches its rows:
//  - Lookup: every match is looked up by its id and the lot sorted; cheap while the matches are few;
//  - Probe: the folder's index is walked in the shown order and the search index asked about each row (from
//    ten to a hundred microseconds each, as the index's segments lie); cheap when matches are common, since
//    the page fills after a few rows;
//  - Walk: the same walk against the set of all matches, built once (about 50 ms for 200 000); the rest.
enum class Plan { Lookup, Probe, Walk };
constexpr qint64 MaxProbes = 1000;
constexpr qint64 MaxLookups = 2000;

// The search as a condition on the folder's rows, with its values appended. The unary "+" of Walk keeps the
// id condition from being used to look rows up, so that the index of the order is walked instead.
QString searchCondition(const FolderTable& t, const SearchSql& s, Plan plan, QVariantList* values)
{
    QStringList parts;
    if (!s.index.isEmpty()) {
        const QString id = QString::fromLatin1(t.table) + QLatin1Char('.') + QString::fromLatin1(t.id);
        if (plan == Plan::Probe)
            parts << QStringLiteral("EXISTS (SELECT 1 FROM %1 WHERE %1 MATCH ? AND rowid = %2)").arg(s.index, id);
        else
            parts << QStringLiteral("%1%2 IN (SELECT rowid FROM %3 WHERE %3 MATCH ?)")
                         .arg(plan == Plan::Walk ? QStringLiteral("+") : QString(), id, s.index);
        *values << s.match;
    }
    if (!s.check.isEmpty()) {
        parts << QLatin1Char('(') + s.check + QLatin1Char(')');
        *values << s.checkValues;
    }
    return parts.join(QStringLiteral(" AND "));
}

QString whereClause(const FolderTable& t, const QString& condition)
{
    QString where = QString::fromLatin1(t.where);
    if (!condition.isEmpty())
        where += (where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) + condition;
    return where;
}

} // namespace

// Deletes the rows a condition on the folder chooses (values bound, one statement), first counting those
// spared because they are being sent.
FolderDeletion FoldersRepository::deleteWhere(MessageFolder folder, const QString& condition,
                                              const QVariantList& values, bool spareSending)
{
    const FolderTable& t = tableOf(folder);
    const QString table = QString::fromLatin1(t.table);
    FolderDeletion result;
    QString where = whereClause(t, condition);
    QVariantList bound = values;
    if (spareSending && folder == MessageFolder::Outbox) {
        const QString sending = QStringLiteral("SENDING");
        result.spared = db.count(QStringLiteral("SELECT count(*) FROM ") + table + where +
                                     QStringLiteral(" AND DeliveryStatus = ?"),
                                 bound + QVariantList{sending});
        where += QStringLiteral(" AND coalesce(DeliveryStatus, '') <> ?");
        bound << sending;
    }
    result.deleted = db.execute(QStringLiteral("DELETE FROM ") + table + where, bound);
    return result;
}

// How many rows a folder holds, roughly but at once (the ids of deleted rows count too): enough to choose a
// plan.
qint64 FoldersRepository::folderSizeEstimate(MessageFolder folder)
{
    if (folder == MessageFolder::Outbox)
        return countWaitingOutbox();
    const FolderTable& t = tableOf(folder);
    const qint64 top =
        db.count(QStringLiteral("SELECT max(%1) FROM %2").arg(QLatin1String(t.id), QLatin1String(t.table)));
    return folder == MessageFolder::SentItems ? top - countWaitingOutbox() : top;
}

FolderSearch FoldersRepository::prepareSearch(MessageFolder folder, const QString& typed)
{
    FolderSearch search;
    const SearchTerms terms = ParseSearchText(typed);
    if (terms.isEmpty()) {
        // Signs alone ("%", "*") are neither words nor digits: such a search finds nothing rather than the whole
        // folder, which "Delete all" would then take.
        if (!typed.trimmed().isEmpty()) {
            search.sql.check = QStringLiteral("1 = 0");
            search.active = true;
        }
        return search;
    }
    search.sql = BuildSearchSql(db, folder == MessageFolder::Inbox ? SearchTable::Inbox : SearchTable::Outbox, terms);
    search.active = true;
    return search;
}

qint64 FoldersRepository::count(MessageFolder folder, const FolderSearch& search)
{
    const FolderTable& t = tableOf(folder);
    const QString from = QStringLiteral("SELECT count(*) FROM ") + QString::fromLatin1(t.table);
    if (!search.active)
        return db.count(from + QString::fromLatin1(t.where));
    const SearchSql& s = search.sql;
    QVariantList values;
    if (!s.index.isEmpty() && s.check.isEmpty()) {
        // Every row the index gives is a match: count them there rather than look each one up. Outbox and Sent
        // Items share a table: the Outbox, usually short, is counted row by row, and Sent Items is the rest.
        const QString matches = QStringLiteral("SELECT count(*) FROM %1 WHERE %1 MATCH ?").arg(s.index);
        if (folder == MessageFolder::Inbox)
            return db.count(matches, {s.match});
        const FolderTable& outbox = tableOf(MessageFolder::Outbox);
        const qint64 waiting =
            countWaitingOutbox() <= MaxProbes
                ? db.count(from + whereClause(outbox, searchCondition(outbox, s, Plan::Probe, &values)), values)
                // "+": one pass over the matches; a bare rowid IN would ask the index once per Outbox row.
                : db.count(matches + QStringLiteral(" AND +rowid IN (SELECT Outbox_Id FROM Message_OutBox WHERE "
                                                    "DeliveryDatetime IS NULL)"),
                           {s.match});
        return folder == MessageFolder::Outbox ? waiting : db.count(matches, {s.match}) - waiting;
    }
    return db.count(from + whereClause(t, searchCondition(t, s, Plan::Lookup, &values)), values);
}

qint64 FoldersRepository::countUnreadInbox()
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_InBox WHERE IsRead = 0"));
}

qint64 FoldersRepository::countWaitingOutbox()
{
    return db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL"));
}

bool FoldersRepository::namesSeveralModems(MessageFolder folder)
{
    if (folder == MessageFolder::Outbox)
        return false;
    // The lowest and the highest name, each read off the end of the folder's modem index.
    const FolderTable& t = tableOf(folder);
    const QString end = QStringLiteral("(SELECT %1(ModemName COLLATE NOCASE) FROM ") + QString::fromLatin1(t.table) +
                        QString::fromLatin1(t.where) + QLatin1Char(')');
    return IsTrue(db.scalar(QStringLiteral("SELECT CASE WHEN ") + end.arg(QStringLiteral("min")) +
                            QStringLiteral(" <> ") + end.arg(QStringLiteral("max")) +
                            QStringLiteral(" COLLATE NOCASE THEN 1 ELSE 0 END")));
}

bool FoldersRepository::outboxHoldsScheduled()
{
    return IsTrue(db.scalar(QStringLiteral("SELECT EXISTS (SELECT 1 FROM Message_OutBox WHERE SendAt IS NOT NULL AND "
                                           "DeliveryDatetime IS NULL)")));
}

QString FoldersRepository::modemName(MessageFolder folder, qint64 id)
{
    const FolderTable& t = tableOf(folder);
    return FolderCellText(
        db.scalar(
              QStringLiteral("SELECT ModemName FROM %1 WHERE %2 = ?").arg(QLatin1String(t.table), QLatin1String(t.id)),
              {id})
            .toString());
}

std::vector<FolderRow> FoldersRepository::readPage(MessageFolder folder, FolderOrder order, qint64 first, int rows,
                                                   qint64 total, const FolderSearch& search)
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
    if (folder == MessageFolder::Outbox)
        sql += QStringLiteral(", Attempts, LastError, SendAt");
    else if (folder == MessageFolder::SentItems)
        sql += QStringLiteral(", ReportStatus, ReportedAt");
    if (folder != MessageFolder::Outbox)
        sql += QStringLiteral(", ModemName");
    QVariantList values;
    Plan plan = Plan::Lookup;
    if (search.active && !search.sql.index.isEmpty() && order.column != FolderSortColumn::Message &&
        order.column != FolderSortColumn::SendAt) {
        // The rows a walk in the shown order passes before the page is full, if matches are spread evenly.
        const double walked = double(offset + wanted) * double(folderSizeEstimate(folder)) / double(total);
        if (walked <= MaxProbes)
            plan = Plan::Probe;
        else if (total > MaxLookups)
            plan = Plan::Walk;
    }
    const QString from = QStringLiteral(" FROM ") + QString::fromLatin1(t.table) +
                         whereClause(t, search.active ? searchCondition(t, search.sql, plan, &values) : QString());
    const QString ordered = orderClause(t, order, reversed);
    if (db.isServer() && !search.active && order.column == FolderSortColumn::Date && offset > MaxProbes) {
        // A server skips rows far faster in an index alone than row by row through the table: the page's ids are
        // found in the folder's (date, id) index, then only its rows are read.
        sql += QStringLiteral(" FROM %1 WHERE %2 IN (SELECT %2").arg(QLatin1String(t.table), QLatin1String(t.id)) +
               from + ordered + QStringLiteral(" LIMIT ? OFFSET ?)") + ordered;
    } else {
        sql += from + ordered + QStringLiteral(" LIMIT ? OFFSET ?");
    }
    values << wanted << offset;

    Query q(db, sql, values);
    out.reserve(static_cast<size_t>(wanted));
    while (q.next()) {
        FolderRow r;
        r.number = FolderCellText(q.value(0).toString());
        r.message = FolderMessageText(q.value(1).toString());
        r.date = dateText(q.value(2));
        r.id = q.value(3).toLongLong();
        if (folder != MessageFolder::Outbox)
            r.modem = FolderCellText(q.value(folder == MessageFolder::Inbox ? 5 : 6).toString());
        if (folder == MessageFolder::Inbox)
            r.unread = !IsTrue(q.value(4));
        else if (folder == MessageFolder::Outbox) {
            r.status = FolderCellText(q.value(4).toString());
            r.attempts = FolderCellText(q.value(5).toString());
            r.reason = FolderMessageText(q.value(6).toString());
            r.sendAt = dateText(q.value(7));
        } else if (!q.value(4).isNull()) {
            // What the delivery report said, with when the message reached the phone.
            r.status = FolderCellText(q.value(4).toString());
            if (r.status == QLatin1String("Delivered") && !q.value(5).isNull())
                r.status += QLatin1Char(' ') + dateText(q.value(5));
        }
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

FolderDeletion FoldersRepository::deleteMessages(MessageFolder folder, const QList<qint64>& ids, bool spareSending)
{
    if (ids.isEmpty())
        return {};
    // All the ids as one bound JSON array: one statement whatever their number, below any variable limit.
    QStringList list;
    list.reserve(ids.size());
    for (qint64 id : ids)
        list << QString::number(id);
    const FolderTable& t = tableOf(folder);
    const QString among =
        db.isServer() ? QStringLiteral(" IN (SELECT CAST(jsonb_array_elements_text(CAST(? AS jsonb)) AS bigint))")
                      : QStringLiteral(" IN (SELECT value FROM json_each(?))");
    return deleteWhere(folder, QString::fromLatin1(t.id) + among,
                       {QLatin1Char('[') + list.join(QLatin1Char(',')) + QLatin1Char(']')}, spareSending);
}

FolderDeletion FoldersRepository::deleteAll(MessageFolder folder, const FolderSearch& search, bool spareSending)
{
    QVariantList values;
    const QString condition =
        search.active ? searchCondition(tableOf(folder), search.sql, Plan::Lookup, &values) : QString();
    return deleteWhere(folder, condition, values, spareSending);
}

FolderExport::FolderExport(Database& db, MessageFolder folder, FolderOrder order, const FolderSearch& search)
    : folder(folder)
{
    const FolderTable& t = tableOf(folder);
    const QString columns =
        folder == MessageFolder::Inbox
            ? QStringLiteral("InboxDateTime, SenderMobileNo, Message, IsRead, ModemName")
            : QStringLiteral("OutBoxDateTime, DeliveryDatetime, RecipientMobileNo, Message, DeliveryStatus, "
                             "ReportStatus, ReportedAt, Attempts, ModemName");
    QVariantList values;
    const QString sql =
        QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM ") + QString::fromLatin1(t.table) +
        whereClause(t, search.active ? searchCondition(t, search.sql, Plan::Lookup, &values) : QString()) +
        orderClause(t, order, false);
    query = std::make_unique<Query>(db, sql, values);
}

FolderExport::~FolderExport() = default;

QStringList FolderExport::header(MessageFolder folder)
{
    if (folder == MessageFolder::Inbox)
        return {QStringLiteral("Received"), QStringLiteral("Number"), QStringLiteral("Message"), QStringLiteral("Read"),
                QStringLiteral("Modem")};
    return {QStringLiteral("Queued"),   QStringLiteral("Sent"),     QStringLiteral("Number"),
            QStringLiteral("Message"),  QStringLiteral("Status"),   QStringLiteral("Delivery Report"),
            QStringLiteral("Reported"), QStringLiteral("Attempts"), QStringLiteral("Modem")};
}

bool FolderExport::next(QStringList& row)
{
    if (!query->next())
        return false;
    row.clear();
    const auto text = [this](int column) { return query->value(column).toString(); };
    if (folder == MessageFolder::Inbox) {
        row << ExportDateText(query->value(0)) << text(1) << text(2)
            << (IsTrue(query->value(3)) ? QStringLiteral("Yes") : QStringLiteral("No")) << text(4);
    } else {
        row << ExportDateText(query->value(0)) << ExportDateText(query->value(1)) << text(2) << text(3) << text(4)
            << text(5) << ExportDateText(query->value(6)) << text(7) << text(8);
    }
    return true;
}

QString ExportDateText(const QVariant& stored)
{
    if (stored.isNull() || stored.toString().isEmpty())
        return {};
    const QDateTime t = Database::FromDbTime(stored);
    if (!t.isValid())
        return stored.toString();
    // Written with its offset, so that an hour repeated when the clocks go back stays two different times.
    const int offset = t.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
