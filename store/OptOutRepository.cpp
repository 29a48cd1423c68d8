#include "store/OptOutRepository.h"

#include "store/Database.h"

namespace {

// The key of an Outbox row's number, in SQL: the separators people type are dropped and the last nine
// characters kept (OptOutKey does the same for one number; letters never reach a queued row's key that
// matters, since a number with letters is marked INVALID NUMBER anyway). Written without a negative substr() start,
// which PostgreSQL counts from before the string.
const QString Cleaned =
    QStringLiteral("replace(replace(replace(replace(replace(replace(RecipientMobileNo, '+', ''), ' ', ''), '-', ''), "
                   "'(', ''), ')', ''), '.', '')");
const QString RowKey =
    QStringLiteral("CASE WHEN length(%1) > 9 THEN substr(%1, length(%1) - 8) ELSE %1 END").arg(Cleaned);

const QString FirstRow = QStringLiteral(" WHERE rowid = (SELECT min(rowid) FROM Timer_setting)");

QString canonicalWords(const QStringList& words)
{
    QStringList kept;
    for (const QString& w : words) {
        const QString t = w.trimmed().toCaseFolded();
        if (!t.isEmpty() && !kept.contains(t))
            kept << t;
    }
    return kept.join(QLatin1Char('\n'));
}

} // namespace

QString OptOutKey(const QString& number)
{
    QString digits;
    for (const QChar c : number)
        if (c.isDigit())
            digits += c;
    return digits.right(9);
}

OptOutRequest ClassifyOptOutText(const QString& text, const QStringList& stopWords)
{
    const QString t = text.trimmed().toCaseFolded();
    if (t.isEmpty())
        return OptOutRequest::None;
    for (const QString& w : stopWords)
        if (w.trimmed().toCaseFolded() == t)
            return OptOutRequest::Stop;
    if (t == QLatin1String("start"))
        return OptOutRequest::Start;
    return OptOutRequest::None;
}

QStringList OptOutSettings::DefaultStopWords()
{
    return {QStringLiteral("STOP"),   QStringLiteral("UNSUBSCRIBE"), QStringLiteral("STOPALL"),
            QStringLiteral("CANCEL"), QStringLiteral("END"),         QStringLiteral("QUIT")};
}

OptOutSettings ReadOptOutSettings(Database& db)
{
    OptOutSettings s;
    Query q(db, QStringLiteral("SELECT OptOutWords, OptOutConfirm, OptOutConfirmText, OptOutStartRemoves FROM "
                               "Timer_setting ORDER BY rowid LIMIT 1"));
    if (!q.next())
        return s;
    // Never set: the default words. Set to nothing: no word stops.
    if (!q.value(0).isNull())
        s.stopWords = q.value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    s.confirm = q.value(1).toInt() != 0;
    s.confirmText = q.value(2).toString();
    s.startRemoves = q.value(3).toInt() != 0;
    return s;
}

void WriteOptOutSettings(Database& db, const OptOutSettings& s)
{
    // Stored upper case as the user sees them; compared case-folded. No words at all is kept as an empty text,
    // not as unset (which means the default words).
    QString words = canonicalWords(s.stopWords).toUpper();
    if (words.isNull())
        words = QStringLiteral("");
    db.execute(QStringLiteral("UPDATE Timer_setting SET OptOutWords = ?, OptOutConfirm = ?, OptOutConfirmText = ?, "
                              "OptOutStartRemoves = ?") +
                   FirstRow,
               {words, Database::DbBool(s.confirm), s.confirmText, Database::DbBool(s.startRemoves)});
}

bool OptOutRepository::add(const QString& number, const QDateTime& at, int modem, const QString& word)
{
    const QString key = OptOutKey(number);
    if (key.isEmpty())
        return false;
    return db.execute(QStringLiteral("INSERT INTO OptOut (NumberKey, MobileNo, AddedOn, ModemId, Word) "
                                     "VALUES (?, ?, ?, ?, ?) ON CONFLICT (NumberKey) DO NOTHING"),
                      {key, number.trimmed(), Database::DbTime(at),
                       modem > 0 ? QVariant(db.modemKey(modem)) : QVariant(),
                       word.isEmpty() ? QVariant(QString()) : QVariant(word)}) > 0;
}

bool OptOutRepository::remove(const QString& number)
{
    return db.execute(QStringLiteral("DELETE FROM OptOut WHERE NumberKey = ?"), {OptOutKey(number)}) > 0;
}

bool OptOutRepository::contains(const QString& number)
{
    const QString key = OptOutKey(number);
    return !key.isEmpty() && db.count(QStringLiteral("SELECT count(*) FROM OptOut WHERE NumberKey = ?"), {key}) > 0;
}

QList<OptOutEntry> OptOutRepository::list()
{
    QList<OptOutEntry> entries;
    Query q(db, QStringLiteral("SELECT NumberKey, MobileNo, AddedOn, ModemId, Word FROM OptOut ORDER BY AddedOn DESC, "
                               "rowid DESC"));
    while (q.next())
        entries.append({q.value(0).toString(), q.value(1).toString(), Database::FromDbTime(q.value(2)),
                        db.modemOfKey(q.value(3).toLongLong()), q.value(4).toString()});
    return entries;
}

qint64 OptOutRepository::count()
{
    return db.count(QStringLiteral("SELECT count(*) FROM OptOut"));
}

QSet<QString> OptOutRepository::keys()
{
    QSet<QString> all;
    Query q(db, QStringLiteral("SELECT NumberKey FROM OptOut"));
    while (q.next())
        all.insert(q.value(0).toString());
    return all;
}

int OptOutRepository::optOutQueuedRows(const QString& number)
{
    const QString key = OptOutKey(number);
    if (key.isEmpty())
        return 0;
    return db.execute(
        QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, ClaimedBy = NULL, "
                       "ClaimUntil = NULL WHERE DeliveryDatetime IS NULL AND (DeliveryStatus IS NULL OR "
                       "DeliveryStatus = '') AND OptOutReply = 0 AND ") +
            RowKey + QStringLiteral(" = ?"),
        {QString::fromLatin1(OptedOutStatus), QStringLiteral("the recipient asked not to receive messages"), key});
}

void OptOutRepository::markOptedOut(qint64 outboxId)
{
    db.execute(
        QStringLiteral("UPDATE Message_OutBox SET DeliveryStatus = ?, LastError = ?, ClaimedBy = NULL, "
                       "ClaimUntil = NULL WHERE Outbox_Id = ?"),
        {QString::fromLatin1(OptedOutStatus), QStringLiteral("the recipient asked not to receive messages"), outboxId});
}

qint64 OptOutRepository::queueConfirmation(const QString& number, const QString& text, const QDateTime& at, int modem)
{
    return db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                                    "ModemId, OptOutReply) VALUES (0, ?, ?, ?, ?, -1)"),
                     {number, text, Database::DbTime(at), modem > 0 ? QVariant(db.modemKey(modem)) : QVariant()});
}
