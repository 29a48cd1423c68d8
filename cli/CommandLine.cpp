#include "cli/CommandLine.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/LocalBus.h"
#include "common/Paths.h"
#include "compose/SourceFormats.h"
#include "delivery/OutboxRun.h"
#include "delivery/RecipientNumbers.h"
#include "store/CampaignRepository.h"
#include "store/Connection.h"
#include "store/Database.h"
#include "store/ModemsRepository.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <optional>
#include <vector>

namespace {

// What ends a command early: its exit code and the one line said about it.
struct Refusal {
    int code;
    QString text;
};

[[noreturn]] void refuse(int code, const QString& text)
{
    throw Refusal{code, text};
}

const QStringList ValueOptions = {QStringLiteral("database"), QStringLiteral("text"),    QStringLiteral("file"),
                                  QStringLiteral("at"),       QStringLiteral("modem"),   QStringLiteral("since"),
                                  QStringLiteral("wait"),     QStringLiteral("campaign")};
const QStringList FlagOptions = {QStringLiteral("json"), QStringLiteral("unread"), QStringLiteral("skip-opted-out")};

struct Arguments {
    QStringList positional;
    QMap<QString, QString> values;
    QStringList flags;

    bool has(const QString& option) const { return values.contains(option) || flags.contains(option); }
    QString value(const QString& option) const { return values.value(option); }
};

Arguments parseArguments(const QStringList& arguments)
{
    Arguments a;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments.at(i);
        if (!word.startsWith(QLatin1String("--")) || word == QLatin1String("--")) {
            a.positional << word;
            continue;
        }
        QString name = word.mid(2);
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        if (FlagOptions.contains(name) && !value) {
            a.flags << name;
        } else if (ValueOptions.contains(name)) {
            if (!value) {
                if (i + 1 >= arguments.size())
                    refuse(CliExit::Usage, QStringLiteral("--%1 needs a value").arg(name));
                value = arguments.at(++i);
            }
            a.values.insert(name, *value);
        } else {
            refuse(CliExit::Usage, QStringLiteral("unknown option %1").arg(word));
        }
    }
    return a;
}

// Options a command does not take are refused rather than ignored: a script that misspells its intent hears.
void allowOnly(const Arguments& a, const QString& command, const QStringList& allowed)
{
    const QStringList common = {QStringLiteral("database"), QStringLiteral("wait")};
    for (const QString& name : a.values.keys() + a.flags)
        if (!allowed.contains(name) && !common.contains(name))
            refuse(CliExit::Usage, QStringLiteral("%1 does not take --%2").arg(command, name));
}

QString utcText(const QVariant& stored)
{
    const QDateTime t = Database::FromDbTime(stored);
    return t.isValid() ? t.toUTC().toString(Qt::ISODate) : QString();
}

QJsonValue jsonText(const QString& s)
{
    return s.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

// A list cell on one line: a script reading tab-separated rows must not meet a line break or a tab inside one.
QString oneLine(QString s)
{
    s.replace(QLatin1String("\r\n"), QLatin1String(" "));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return s;
}

// Waiting rows have no status of their own in the table: the command line names it.
QString statusText(const QVariant& stored, bool sent)
{
    const QString s = stored.toString();
    if (!s.isEmpty())
        return s;
    return sent ? QStringLiteral("SENT") : QStringLiteral("WAITING");
}

bool isBusy(const QSqlError& e)
{
    // SQLITE_BUSY and SQLITE_LOCKED; a server's lock_not_available (its lock_timeout ran out).
    return e.nativeErrorCode() == QLatin1String("5") || e.nativeErrorCode() == QLatin1String("6") ||
           e.nativeErrorCode() == QLatin1String("55P03");
}

bool isBusy(const DbError& e)
{
    return e.description().contains(QLatin1String("database is locked")) ||
           e.description().contains(QLatin1String("database table is locked")) ||
           e.description().contains(QLatin1String("due to lock timeout"));
}

// The message base, opened as the program opens it, with the wait the caller asked for.
class Session {
public:
    explicit Session(const Arguments& a)
    {
        AppState state;
        state.dataDir = DefaultDataDirectory();
        path = a.has(QStringLiteral("database")) ? a.value(QStringLiteral("database")) : DatabaseLocation(state);
        waitSeconds = DefaultWaitSeconds;
        if (a.has(QStringLiteral("wait"))) {
            bool ok = false;
            waitSeconds = a.value(QStringLiteral("wait")).toDouble(&ok);
            if (!ok || waitSeconds < 0 || waitSeconds > 3600)
                refuse(CliExit::Usage, QStringLiteral("--wait takes seconds, from 0 to 3600"));
        }
    }

    // Opens the file; a missing file is refused rather than created, since a mistyped path would otherwise
    // make an empty message base nobody delivers from.
    Database& open()
    {
        if (!Database::IsServerLocation(path) && !QFileInfo::exists(path))
            refuse(CliExit::Failed,
                   QStringLiteral("there is no message database at %1 (Broadtext makes it when it first starts)")
                       .arg(path));
        try {
            db.open(path);
            if (db.isServer())
                db.execute(QStringLiteral("SELECT set_config('lock_timeout', ?, false)"),
                           {QStringLiteral("%1ms").arg(qRound(waitSeconds * 1000))});
            else
                db.execute(QStringLiteral("PRAGMA busy_timeout = %1").arg(qRound(waitSeconds * 1000)));
        } catch (const DbError& e) {
            if (isBusy(e))
                refuse(CliExit::Busy, busyText());
            refuse(CliExit::Failed, e.description());
        }
        return db;
    }

    // Takes the write lock at once, so that a command that cannot write has written nothing and learns it
    // before doing any work.
    void begin()
    {
        QSqlQuery q(db.connection());
        // SQLite: the write lock at once. A server locks rows as they are written; the tables a command writes
        // are taken for writing at once (which other writers share) so that one held against writers is met here.
        const bool begun = db.isServer() ? q.exec(QStringLiteral("BEGIN")) &&
                                               q.exec(QStringLiteral("LOCK TABLE Message_OutBox, OptOut, Campaigns "
                                                                     "IN ROW EXCLUSIVE MODE"))
                                         : q.exec(QStringLiteral("BEGIN IMMEDIATE"));
        if (!begun) {
            if (db.isServer())
                QSqlQuery(db.connection()).exec(QStringLiteral("ROLLBACK"));
            if (isBusy(q.lastError()))
                refuse(CliExit::Busy, busyText());
            refuse(CliExit::Failed, q.lastError().text());
        }
        open_ = true;
    }
    void commit()
    {
        QSqlQuery q(db.connection());
        if (!q.exec(QStringLiteral("COMMIT"))) {
            const QSqlError e = q.lastError();
            rollback();
            if (isBusy(e))
                refuse(CliExit::Busy, busyText());
            refuse(CliExit::Failed, e.text());
        }
        open_ = false;
    }
    void rollback()
    {
        if (open_)
            QSqlQuery(db.connection()).exec(QStringLiteral("ROLLBACK"));
        open_ = false;
    }
    ~Session() { rollback(); }

    // The running program delivers what was queued now rather than at its next tick; with none running, the
    // rows wait for its start.
    void announceQueued() { LocalBus::Send(path, "outbox"); }

    QString busyText() const
    {
        return QStringLiteral("the message database is busy: another program held it for more than %1 s; nothing "
                              "was written (--wait sets how long to wait)")
            .arg(waitSeconds);
    }

private:
    QString path;
    double waitSeconds = DefaultWaitSeconds;
    Database db;
    bool open_ = false;
};

// ---- What a command queues, checked before the database is touched.

struct Queued {
    QString number; // cleaned as the delivery run cleans it
    QString text;
    QDateTime sendAt;
};

// The numbers of rows on the opt-out list: with skip, they are left out and counted on the error stream;
// otherwise the whole command is refused.
std::vector<Queued> withoutOptedOut(Database& db, std::vector<Queued> rows, bool skip, QTextStream& err)
{
    const QSet<QString> listed = OptOutRepository(db).keys();
    const auto kept = std::stable_partition(rows.begin(), rows.end(),
                                            [&](const Queued& r) { return !listed.contains(OptOutKey(r.number)); });
    const qsizetype optedOut = std::distance(kept, rows.end());
    if (optedOut == 0)
        return rows;
    if (!skip)
        refuse(CliExit::Usage,
               QStringLiteral("%1 on the opt-out list: nothing was queued (--skip-opted-out queues the others)")
                   .arg(optedOut == 1 ? QStringLiteral("1 of the numbers is")
                                      : QStringLiteral("%1 of the numbers are").arg(optedOut)));
    rows.erase(kept, rows.end());
    if (rows.empty())
        refuse(CliExit::Usage, QStringLiteral("every number is on the opt-out list: nothing was queued"));
    err << "broadtext-cli: " << OptedOutText(optedOut) << Qt::endl;
    return rows;
}

QString readTextFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        refuse(CliExit::Usage, QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    return DecodeText(f.readAll());
}

int modemNamed(Database& db, const QString& name)
{
    QStringList names;
    for (const ModemConfig& m : ModemsRepository(db).all()) {
        if (m.displayName().compare(name, Qt::CaseInsensitive) == 0) {
            if (!m.sends())
                refuse(CliExit::Usage, QStringLiteral("the modem \"%1\" does not send (switched off or receive only)")
                                           .arg(m.displayName()));
            return m.id;
        }
        names << QLatin1Char('"') + m.displayName() + QLatin1Char('"');
    }
    refuse(CliExit::Usage, names.isEmpty() ? QStringLiteral("no modem is named \"%1\": no modem is set up").arg(name)
                                           : QStringLiteral("no modem is named \"%1\"; the modems are %2")
                                                 .arg(name, names.join(QStringLiteral(", "))));
}

QDateTime timeOption(const Arguments& a, const QString& option)
{
    if (!a.has(option))
        return {};
    const QDateTime t = ParseCliTime(a.value(option));
    if (!t.isValid())
        refuse(CliExit::Usage, QStringLiteral("--%1: \"%2\" is no time; write it as 2026-12-24 09:00 (local time) or "
                                              "2026-12-24T09:00+01:00")
                                   .arg(option, a.value(option)));
    return t;
}

void printIds(QTextStream& out, const QList<qint64>& ids)
{
    for (qint64 id : ids)
        out << id << '\n';
    out.flush();
}

// ---- The commands

int send(const Arguments& a, QTextStream& out, QTextStream& err)
{
    allowOnly(a, QStringLiteral("send"),
              {QStringLiteral("text"), QStringLiteral("file"), QStringLiteral("at"), QStringLiteral("modem"),
               QStringLiteral("skip-opted-out")});
    const QStringList numbers = a.positional.mid(1);
    if (numbers.isEmpty())
        refuse(CliExit::Usage, QStringLiteral("send needs at least one number"));
    if (a.has(QStringLiteral("text")) == a.has(QStringLiteral("file")))
        refuse(CliExit::Usage, QStringLiteral("send needs the message: --text TEXT or --file FILE"));
    QString text =
        a.has(QStringLiteral("text")) ? a.value(QStringLiteral("text")) : readTextFile(a.value(QStringLiteral("file")));
    // The line break an editor or echo puts at the end of a file is not part of the message.
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    // Blanks and line breaks alone are no message either.
    if (text.trimmed().isEmpty())
        refuse(CliExit::Usage, QStringLiteral("the message is empty: nothing was queued"));
    QStringList bad;
    for (const QString& n : numbers)
        if (const QString why = RecipientNumberProblem(n); !why.isEmpty())
            bad << QStringLiteral("\"%1\" (%2)").arg(n, why);
    if (!bad.isEmpty())
        refuse(CliExit::Usage, QStringLiteral("these numbers cannot be sent to, so nothing was queued: %1")
                                   .arg(bad.join(QStringLiteral(", "))));
    const QDateTime at = timeOption(a, QStringLiteral("at"));

    Session session(a);
    Database& db = session.open();
    session.begin();
    const int modem = a.has(QStringLiteral("modem")) ? modemNamed(db, a.value(QStringLiteral("modem"))) : 0;
    std::vector<Queued> rows;
    for (const QString& n : numbers)
        rows.push_back({CleanRecipientNumber(n), text, at});
    rows = withoutOptedOut(db, std::move(rows), a.has(QStringLiteral("skip-opted-out")), err);
    QList<qint64> ids;
    OutboxRepository outbox(db);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // Kept for the named modem as the reply to a missed call is kept for the modem it rang on.
    for (const Queued& r : rows)
        ids << outbox.queueMessage(r.number, r.text, now, modem, QueueOptions::SendAt(r.sendAt));
    session.commit();
    session.announceQueued();
    printIds(out, ids);
    return CliExit::Ok;
}

int findColumn(const QStringList& header, const QString& name)
{
    for (qsizetype i = 0; i < header.size(); ++i)
        if (Trim(header.at(i)).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

int queue(const Arguments& a, QTextStream& out, QTextStream& err)
{
    allowOnly(a, QStringLiteral("queue"), {QStringLiteral("skip-opted-out"), QStringLiteral("campaign")});
    if (a.positional.size() != 2)
        refuse(CliExit::Usage, QStringLiteral("queue needs one CSV file"));
    const QString path = a.positional.at(1);
    const QString name = QFileInfo(path).fileName();
    const QString campaignName = a.has(QStringLiteral("campaign")) ? Trim(a.value(QStringLiteral("campaign"))) : name;
    if (campaignName.isEmpty())
        refuse(CliExit::Usage, QStringLiteral("--campaign needs a name"));
    const auto records = ParseCsv(readTextFile(path), QLatin1Char(','));
    if (records.empty())
        refuse(CliExit::Usage, QStringLiteral("%1 is empty: nothing was queued").arg(name));
    QStringList header;
    for (const SourceValue& v : records.front())
        header << v.value_or(QString());
    const int numberColumn = findColumn(header, QStringLiteral("number"));
    const int textColumn = findColumn(header, QStringLiteral("text"));
    const int sendAtColumn = findColumn(header, QStringLiteral("send_at"));
    if (numberColumn < 0 || textColumn < 0)
        refuse(CliExit::Usage, QStringLiteral("%1: the first line must name the columns number and text (send_at "
                                              "may follow): nothing was queued")
                                   .arg(name));

    // Every row is checked before any is queued; the refusal names the first few faults, by the row a
    // spreadsheet shows (the header is row 1).
    constexpr int Named = 5;
    QStringList faults;
    qsizetype faultCount = 0;
    std::vector<Queued> rows;
    rows.reserve(records.size());
    for (size_t r = 1; r < records.size(); ++r) {
        const auto& record = records[r];
        const auto field = [&](int column) {
            return column >= 0 && size_t(column) < record.size() ? record[column].value_or(QString()) : QString();
        };
        if (std::all_of(record.begin(), record.end(), [](const SourceValue& v) { return !v || v->isEmpty(); }))
            continue; // a blank line
        QString fault;
        const QString number = field(numberColumn);
        const QString text = field(textColumn);
        QDateTime sendAt;
        if (const QString why = RecipientNumberProblem(number); !why.isEmpty())
            fault = QStringLiteral("the number \"%1\" cannot be sent to (%2)").arg(number, why);
        else if (text.trimmed().isEmpty())
            fault = QStringLiteral("the message is empty");
        else if (const QString when = Trim(field(sendAtColumn)); !when.isEmpty()) {
            sendAt = ParseCliTime(when);
            if (!sendAt.isValid())
                fault = QStringLiteral("send_at \"%1\" is no time").arg(when);
        }
        if (!fault.isEmpty()) {
            if (++faultCount <= Named)
                faults << QStringLiteral("row %1: %2").arg(r + 1).arg(fault);
            continue;
        }
        rows.push_back({CleanRecipientNumber(number), text, sendAt});
    }
    if (faultCount > 0)
        refuse(CliExit::Usage,
               QStringLiteral("%1: %2%3; nothing was queued")
                   .arg(name, faults.join(QStringLiteral("; ")),
                        faultCount > Named ? QStringLiteral(" and %1 more faulty rows").arg(faultCount - Named)
                                           : QString()));
    if (rows.empty())
        refuse(CliExit::Usage, QStringLiteral("%1 has no rows: nothing was queued").arg(name));

    Session session(a);
    Database& db = session.open();
    CampaignRepository campaigns(db);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // What an earlier run left when it was killed goes first; when that cannot be done now, the program does
    // it at its start, and nothing ever sends those rows meanwhile.
    try {
        campaigns.dropAbandonedLoads(now);
    } catch (const DbError&) {
    }
    session.begin();
    rows = withoutOptedOut(db, std::move(rows), a.has(QStringLiteral("skip-opted-out")), err);
    QList<qint64> ids;
    ids.reserve(qsizetype(rows.size()));
    const auto addRows = [&](qint64 campaign, size_t from, size_t to) {
        OutboxRepository::Batch batch(db, campaign);
        for (size_t i = from; i < to; ++i)
            ids << batch.add(rows[i].number, rows[i].text, now, rows[i].sendAt);
    };
    if (rows.size() <= QueueSlice) {
        addRows(campaigns.create(campaignName, now), 0, rows.size());
        session.commit();
    } else {
        // One transaction for every row would hold the write lock for seconds, longer than the running program
        // waits to mark a row sent or store a received message. So the rows go in slices under a campaign
        // that is loading, which nothing sends from, and the campaign runs only once all are in.
        const qint64 campaign = campaigns.startLoad(campaignName, CampaignRepository::Loader::ThisProcess(now));
        session.commit();
        try {
            for (size_t from = 0; from < rows.size(); from += QueueSlice) {
                session.begin();
                addRows(campaign, from, std::min(rows.size(), from + QueueSlice));
                session.commit();
                // A writer waiting for the lock sleeps up to 100 ms between its tries and would seldom find
                // it free if the next slice began at once.
                if (from + QueueSlice < rows.size())
                    QThread::msleep(QueueSlicePauseMs);
            }
            session.begin();
            if (!campaigns.finishLoad(campaign))
                refuse(CliExit::Failed, QStringLiteral("the campaign \"%1\" was removed while it was loading: "
                                                       "nothing was queued")
                                            .arg(campaignName));
            session.commit();
        } catch (...) {
            session.rollback();
            try {
                campaigns.dropLoad(campaign);
            } catch (const DbError& e) {
                err << "broadtext-cli: " << e.description()
                    << QStringLiteral("; the rows loaded so far are never sent, and are removed when broadtext-cli "
                                      "or Broadtext next starts")
                    << Qt::endl;
            }
            throw;
        }
    }
    session.announceQueued();
    printIds(out, ids);
    return CliExit::Ok;
}

int status(const Arguments& a, QTextStream& out)
{
    allowOnly(a, QStringLiteral("status"), {QStringLiteral("json")});
    if (a.positional.size() > 2)
        refuse(CliExit::Usage, QStringLiteral("status takes at most one id"));
    const bool json = a.has(QStringLiteral("json"));
    Session session(a);
    Database& db = session.open();
    if (a.positional.size() == 2) {
        bool ok = false;
        const qint64 id = a.positional.at(1).toLongLong(&ok);
        if (!ok || id <= 0)
            refuse(CliExit::Usage, QStringLiteral("\"%1\" is no message id").arg(a.positional.at(1)));
        Query q(db,
                QStringLiteral("SELECT RecipientMobileNo, DeliveryStatus, DeliveryDatetime, OutBoxDateTime, SendAt, "
                               "Attempts, LastError, ReportStatus FROM Message_OutBox WHERE Outbox_Id = ?"),
                {id});
        if (!q.next())
            refuse(CliExit::Failed, QStringLiteral("no message %1 in the Outbox or Sent Items").arg(id));
        const bool sent = !q.value(2).isNull();
        const QString state = statusText(q.value(1), sent);
        if (json) {
            const QJsonObject o{{QStringLiteral("id"), id},
                                {QStringLiteral("number"), q.value(0).toString()},
                                {QStringLiteral("folder"), sent ? QStringLiteral("sent") : QStringLiteral("outbox")},
                                {QStringLiteral("status"), state},
                                {QStringLiteral("queued"), jsonText(utcText(q.value(3)))},
                                {QStringLiteral("send_at"), jsonText(utcText(q.value(4)))},
                                {QStringLiteral("sent"), jsonText(utcText(q.value(2)))},
                                {QStringLiteral("attempts"), q.value(5).toInt()},
                                {QStringLiteral("last_error"), jsonText(q.value(6).toString())},
                                {QStringLiteral("report"), jsonText(q.value(7).toString())}};
            out << QJsonDocument(o).toJson(QJsonDocument::Compact) << '\n';
        } else {
            out << id << '\t' << state << '\t' << q.value(0).toString() << '\t'
                << (sent ? utcText(q.value(2)) : utcText(q.value(3))) << '\n';
        }
        out.flush();
        return CliExit::Ok;
    }

    // The counts per folder and status, in one read so that they agree with each other.
    struct Count {
        QString folder, status;
        qint64 n;
    };
    QList<Count> counts;
    {
        Query q(db, QStringLiteral("SELECT CASE WHEN IsRead = 0 THEN 'unread' ELSE 'read' END, count(*) FROM "
                                   "Message_InBox GROUP BY 1 "
                                   "UNION ALL SELECT CASE WHEN DeliveryDatetime IS NULL THEN 'outbox' ELSE 'sent' END "
                                   "|| '\t' || coalesce(nullif(DeliveryStatus, ''), CASE WHEN DeliveryDatetime IS "
                                   "NULL THEN 'WAITING' ELSE 'SENT' END), count(*) FROM Message_OutBox GROUP BY 1"));
        while (q.next()) {
            const QString key = q.value(0).toString();
            if (key == QLatin1String("unread") || key == QLatin1String("read"))
                counts << Count{QStringLiteral("inbox"), key, q.value(1).toLongLong()};
            else
                counts << Count{key.section(QLatin1Char('\t'), 0, 0), key.section(QLatin1Char('\t'), 1),
                                q.value(1).toLongLong()};
        }
    }
    if (json) {
        QJsonObject folders{{QStringLiteral("inbox"), QJsonObject{}},
                            {QStringLiteral("outbox"), QJsonObject{}},
                            {QStringLiteral("sent"), QJsonObject{}}};
        for (const Count& c : std::as_const(counts)) {
            QJsonObject f = folders.value(c.folder).toObject();
            f.insert(c.status, c.n);
            folders.insert(c.folder, f);
        }
        out << QJsonDocument(folders).toJson(QJsonDocument::Compact) << '\n';
    } else {
        for (const Count& c : std::as_const(counts))
            out << c.folder << '\t' << c.status << '\t' << c.n << '\n';
    }
    out.flush();
    return CliExit::Ok;
}

int inbox(const Arguments& a, QTextStream& out)
{
    allowOnly(a, QStringLiteral("inbox"), {QStringLiteral("unread"), QStringLiteral("since"), QStringLiteral("json")});
    if (a.positional.size() > 1)
        refuse(CliExit::Usage, QStringLiteral("inbox takes no %1").arg(a.positional.at(1)));
    const QDateTime since = timeOption(a, QStringLiteral("since"));
    Session session(a);
    Database& db = session.open();
    QString sql = QStringLiteral("SELECT InBox_Id, SenderMobileNo, Message, InboxDateTime, IsRead, ModemName FROM "
                                 "Message_InBox WHERE 1 = 1");
    QVariantList values;
    if (a.has(QStringLiteral("unread")))
        sql += QStringLiteral(" AND IsRead = 0");
    if (since.isValid()) {
        sql += QStringLiteral(" AND InboxDateTime >= ?");
        values << Database::DbTime(since);
    }
    sql += QStringLiteral(" ORDER BY InBox_Id");
    const bool json = a.has(QStringLiteral("json"));
    QJsonArray rows;
    for (Query q(db, sql, values); q.next();) {
        if (json) {
            rows.append(QJsonObject{{QStringLiteral("id"), q.value(0).toLongLong()},
                                    {QStringLiteral("number"), q.value(1).toString()},
                                    {QStringLiteral("text"), q.value(2).toString()},
                                    {QStringLiteral("received"), jsonText(utcText(q.value(3)))},
                                    {QStringLiteral("read"), q.value(4).toInt() != 0},
                                    {QStringLiteral("modem"), jsonText(q.value(5).toString())}});
        } else {
            out << q.value(0).toLongLong() << '\t' << utcText(q.value(3)) << '\t' << q.value(1).toString() << '\t'
                << oneLine(q.value(2).toString()) << '\n';
        }
    }
    if (json)
        out << QJsonDocument(rows).toJson(QJsonDocument::Compact) << '\n';
    out.flush();
    return CliExit::Ok;
}

int outbox(const Arguments& a, QTextStream& out)
{
    allowOnly(a, QStringLiteral("outbox"), {QStringLiteral("json")});
    if (a.positional.size() > 1)
        refuse(CliExit::Usage, QStringLiteral("outbox takes no %1").arg(a.positional.at(1)));
    Session session(a);
    Database& db = session.open();
    const bool json = a.has(QStringLiteral("json"));
    QJsonArray rows;
    for (Query q(db, QStringLiteral("SELECT Outbox_Id, RecipientMobileNo, Message, DeliveryStatus, OutBoxDateTime, "
                                    "SendAt, Attempts, LastError FROM Message_OutBox WHERE DeliveryDatetime IS NULL "
                                    "ORDER BY Outbox_Id"));
         q.next();) {
        const QString state = statusText(q.value(3), false);
        if (json) {
            rows.append(QJsonObject{{QStringLiteral("id"), q.value(0).toLongLong()},
                                    {QStringLiteral("number"), q.value(1).toString()},
                                    {QStringLiteral("text"), q.value(2).toString()},
                                    {QStringLiteral("status"), state},
                                    {QStringLiteral("queued"), jsonText(utcText(q.value(4)))},
                                    {QStringLiteral("send_at"), jsonText(utcText(q.value(5)))},
                                    {QStringLiteral("attempts"), q.value(6).toInt()},
                                    {QStringLiteral("last_error"), jsonText(q.value(7).toString())}});
        } else {
            out << q.value(0).toLongLong() << '\t' << state << '\t' << q.value(1).toString() << '\t'
                << oneLine(q.value(2).toString()) << '\n';
        }
    }
    if (json)
        out << QJsonDocument(rows).toJson(QJsonDocument::Compact) << '\n';
    out.flush();
    return CliExit::Ok;
}

int optout(const Arguments& a, QTextStream& out)
{
    allowOnly(a, QStringLiteral("optout"), {QStringLiteral("json")});
    const QString action = a.positional.value(1);
    Session session(a);
    if (action == QLatin1String("list")) {
        if (a.positional.size() != 2)
            refuse(CliExit::Usage, QStringLiteral("optout list takes no number"));
        Database& db = session.open();
        const QList<OptOutEntry> entries = OptOutRepository(db).list();
        if (a.has(QStringLiteral("json"))) {
            QJsonArray rows;
            for (const OptOutEntry& e : entries)
                rows.append(QJsonObject{{QStringLiteral("number"), e.number},
                                        {QStringLiteral("added"), e.added.toUTC().toString(Qt::ISODate)},
                                        {QStringLiteral("word"), jsonText(e.word.isEmpty() ? QString() : e.word)}});
            out << QJsonDocument(rows).toJson(QJsonDocument::Compact) << '\n';
        } else {
            for (const OptOutEntry& e : entries)
                out << e.number << '\n';
        }
        out.flush();
        return CliExit::Ok;
    }
    if (action != QLatin1String("add") && action != QLatin1String("remove"))
        refuse(CliExit::Usage, QStringLiteral("optout needs add, remove or list"));
    if (a.has(QStringLiteral("json")))
        refuse(CliExit::Usage, QStringLiteral("optout %1 does not take --json").arg(action));
    if (a.positional.size() != 3)
        refuse(CliExit::Usage, QStringLiteral("optout %1 needs one number").arg(action));
    const QString number = a.positional.at(2);
    if (const QString why = RecipientNumberProblem(number); !why.isEmpty())
        refuse(CliExit::Usage, QStringLiteral("\"%1\" is no mobile number (%2)").arg(number, why));
    const QString cleaned = CleanRecipientNumber(number);
    Database& db = session.open();
    session.begin();
    OptOutRepository list(db);
    if (action == QLatin1String("add")) {
        if (!list.add(cleaned, QDateTime::currentDateTimeUtc())) {
            session.rollback();
            out << cleaned << " is already on the opt-out list.\n";
        } else {
            // What is already queued to the number is held back now, as when it is added in the window.
            const int held = list.optOutQueuedRows(cleaned);
            session.commit();
            out << QStringLiteral("%1 added to the opt-out list. %2 waiting message(s) to it marked OPTED OUT.\n")
                       .arg(cleaned)
                       .arg(held);
        }
    } else {
        const bool removed = list.remove(cleaned);
        session.commit();
        out << cleaned << (removed ? " removed from the opt-out list.\n" : " is not on the opt-out list.\n");
    }
    out.flush();
    return CliExit::Ok;
}

void usage(QTextStream& out)
{
    out << "usage: broadtext-cli [--database PATH] [--wait SECONDS] COMMAND ...\n"
           "  send NUMBER... --text TEXT|--file FILE [--at TIME] [--modem NAME] [--skip-opted-out]\n"
           "  queue FILE.csv [--campaign NAME] [--skip-opted-out]\n"
           "                                        columns number,text and optionally send_at, with a header;\n"
           "                                        queued as a campaign (NAME: the file's name by default)\n"
           "  status [ID] [--json]\n"
           "  inbox [--unread] [--since TIME] [--json]\n"
           "  outbox [--json]\n"
           "  optout add NUMBER | optout remove NUMBER | optout list [--json]\n"
           "TIME: 2026-12-24 09:00 (local time) or 2026-12-24T09:00+01:00. Queued ids are printed one a line.\n"
           "Exit codes: 0 done, 1 failed, 2 bad arguments or input (nothing written), 3 database busy (nothing "
           "written).\n";
    out.flush();
}

} // namespace

QDateTime ParseCliTime(const QString& text)
{
    // Qt reads ISO 8601 with a "T"; the blank people write between date and time is taken for one.
    static const QRegularExpression shape(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2})[T ](\\d{2}:\\d{2}(:\\d{2}(\\.\\d{1,3})?)?)(Z|[+-]\\d{2}(:?\\d{2})?)?$"));
    const QRegularExpressionMatch m = shape.match(Trim(text));
    if (!m.hasMatch())
        return {};
    return QDateTime::fromString(m.captured(1) + QLatin1Char('T') + m.captured(2) + m.captured(5), Qt::ISODateWithMs);
}

int RunCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        usage(out);
        return CliExit::Ok;
    }
    try {
        const Arguments a = parseArguments(arguments);
        const QString command = a.positional.value(0);
        if (command.isEmpty() || command == QLatin1String("help")) {
            usage(command.isEmpty() ? err : out);
            return command.isEmpty() ? CliExit::Usage : CliExit::Ok;
        }
        if (command == QLatin1String("send"))
            return send(a, out, err);
        if (command == QLatin1String("queue"))
            return queue(a, out, err);
        if (command == QLatin1String("status"))
            return status(a, out);
        if (command == QLatin1String("inbox"))
            return inbox(a, out);
        if (command == QLatin1String("outbox"))
            return outbox(a, out);
        if (command == QLatin1String("optout"))
            return optout(a, out);
        refuse(CliExit::Usage,
               QStringLiteral("unknown command %1 (send, queue, status, inbox, outbox, optout)").arg(command));
    } catch (const Refusal& r) {
        err << "broadtext-cli: " << r.text << Qt::endl;
        return r.code;
    } catch (const DbError& e) {
        err << "broadtext-cli: " << e.description() << Qt::endl;
        return isBusy(e) ? CliExit::Busy : CliExit::Failed;
    }
}
