#include "store/Search.h"

#include "store/Database.h"

namespace {

struct IndexedTable {
    QString table;
    QString id;
    QString number;
    QString words() const { return table + QStringLiteral("_words"); }
    QString digits() const { return table + QStringLiteral("_digits"); }
    // The words index's vocabulary, for widening prefixes; per connection, so it lives in the temp schema.
    QString terms() const { return QStringLiteral("temp.") + table + QStringLiteral("_terms"); }
};

const IndexedTable& indexed(SearchTable t)
{
    static const IndexedTable inbox{QStringLiteral("Message_InBox"), QStringLiteral("InBox_Id"),
                                    QStringLiteral("SenderMobileNo")};
    static const IndexedTable outbox{QStringLiteral("Message_OutBox"), QStringLiteral("Outbox_Id"),
                                     QStringLiteral("RecipientMobileNo")};
    return t == SearchTable::Inbox ? inbox : outbox;
}

// More terms than this behind one typed prefix (a single letter, say) go to FTS5 as a prefix query instead.
constexpr int MaxWidenedTerms = 64;

bool exists(Database& db, const QString& name)
{
    return db.count(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?"), {name}) > 0;
}

// On a server the words of a message are cut and folded as SQLite's unicode61 tokenizer (remove_diacritics 2)
// does it, so that the same search finds the same messages on both: lower case in every alphabet (every sigma
// becomes the middle one, as SQLite folds them), accents taken off Latin letters only (é, ö, å; not ø, ß, æ,
// œ, nor Greek or Cyrillic accents), words cut at everything but letters and digits. The server's lower() would
// follow the database's locale (the C locale lower-cases only ASCII), hence the ICU collation; and unaccent folds
// far more than SQLite does (ß to ss, ø to o, ё to е), hence the decomposition. Plain ASCII texts, most of them,
// take a shorter way to the same words. A search asks for each typed word as the beginning of one of these words.
// The functions are made with the indexes that use them; without them (no right to add the extension) searches
// scan.
const char* const ServerWordFunctions[] = {
    "CREATE OR REPLACE FUNCTION public.broadtext_fold(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS "
    "$body$ SELECT CASE WHEN coalesce(t, '') !~ '[^\\x01-\\x7f]' THEN lower(regexp_replace(coalesce(t, ''), "
    "'[^A-Za-z0-9]+', ' ', 'g')) ELSE regexp_replace(normalize(regexp_replace(normalize(lower(translate(t, "
    "U&'\\03A3\\03C2', U&'\\03C3\\03C3') COLLATE \"und-x-icu\"), NFD), '([a-z])[\\u0300-\\u036f]+', '\\1', "
    "'g'), NFC) COLLATE \"und-x-icu\", '[^[:alnum:]]+', ' ', 'g') END $body$",
    "CREATE OR REPLACE FUNCTION public.broadtext_words(t text) RETURNS tsvector LANGUAGE sql IMMUTABLE PARALLEL SAFE "
    "AS $body$ SELECT to_tsvector('simple'::regconfig, public.broadtext_fold(t)) $body$",
    "CREATE OR REPLACE FUNCTION public.broadtext_prefixes(t text) RETURNS tsquery LANGUAGE sql IMMUTABLE PARALLEL "
    "SAFE AS $body$ SELECT to_tsquery('simple'::regconfig, coalesce(string_agg(quote_literal(w) || ':*', ' & '), "
    "'')) FROM regexp_split_to_table(public.broadtext_fold(t), ' ') AS w WHERE w <> '' $body$",
};

// The column of a table holding its messages' words, kept by the server itself.
const QString ServerWordsColumn = QStringLiteral("SearchWords");

bool serverWords(Database& db, const IndexedTable& t)
{
    return db.count(QStringLiteral("SELECT count(*) FROM pg_attribute WHERE attrelid = to_regclass(?) AND attname = "
                                   "lower(?) AND NOT attisdropped"),
                    {QStringLiteral("public.") + t.table, ServerWordsColumn}) > 0;
}

// The words are stored beside the message (a generated column) rather than only in an index over the function:
// the message box walks a folder in the shown order and checks row after row, and folding a text again for each
// one (tens of microseconds) made a later page of a common word take seconds on a million rows. Each statement
// runs only when its object is missing, so that a program starting while others work takes no table lock.
// CREATE INDEX IF NOT EXISTS takes its table's lock before it finds the index there, and would wait for every
// writer of the table: the index is asked for by name first.
void createServerIndex(Database& db, const QString& name, const QString& sql)
{
    if (db.scalar(QStringLiteral("SELECT to_regclass(?) IS NULL"), {QStringLiteral("public.") + name}).toBool())
        db.execute(sql);
}

void createServerIndexes(Database& db)
{
    // Not the search's, but the server's alone: the message box's pages in date order, read from the index
    // without the table (SQLite's own date indexes already end with the row id).
    createServerIndex(db, QStringLiteral("ix_inbox_date_id"),
                      QStringLiteral("CREATE INDEX IF NOT EXISTS ix_inbox_date_id ON public.Message_InBox("
                                     "InboxDateTime, InBox_Id)"));
    createServerIndex(db, QStringLiteral("ix_sent_date_id"),
                      QStringLiteral("CREATE INDEX IF NOT EXISTS ix_sent_date_id ON public.Message_OutBox("
                                     "DeliveryDatetime, Outbox_Id) WHERE DeliveryDatetime IS NOT NULL"));
    try {
        if (!db.scalar(QStringLiteral("SELECT count(*) > 0 FROM pg_extension WHERE extname = 'pg_trgm'")).toBool())
            db.execute(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm SCHEMA public"));
    } catch (const DbError&) {
        return; // not allowed here: searches scan
    }
    db.beginTransaction();
    try {
        if (!db.scalar(QStringLiteral("SELECT to_regproc('public.broadtext_fold') IS NOT NULL")).toBool())
            for (const char* sql : ServerWordFunctions)
                db.execute(QString::fromLatin1(sql));
        for (SearchTable table : {SearchTable::Inbox, SearchTable::Outbox}) {
            const IndexedTable& t = indexed(table);
            if (!serverWords(db, t)) {
                db.execute(QStringLiteral("ALTER TABLE public.%1 ADD COLUMN %2 tsvector GENERATED ALWAYS AS "
                                          "(public.broadtext_words(Message)) STORED")
                               .arg(t.table, ServerWordsColumn));
                // A base made before the column had its index on the function instead (of an older folding).
                db.execute(QStringLiteral("DROP INDEX IF EXISTS public.%1").arg(t.words()));
            }
            createServerIndex(db, t.words(),
                              QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON public.%2 USING gin (%3)")
                                  .arg(t.words(), t.table, ServerWordsColumn));
            createServerIndex(db, t.digits(),
                              QStringLiteral("CREATE INDEX IF NOT EXISTS %1_digits ON public.%1 USING gin ((%2) "
                                             "public.gin_trgm_ops)")
                                  .arg(t.table, NumberDigitsSql(t.number)));
        }
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

QString quoted(const QString& term)
{
    QString q = term;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

bool plainAscii(const QString& word)
{
    for (QChar c : word)
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))))
            return false;
    return !word.isEmpty();
}

// One segment instead of the many a fill leaves: asking the index about a single row (as the message box does
// while it walks a folder) is then tens of times faster for the rows filled last.
void optimize(Database& db, const QString& index)
{
    db.execute(QStringLiteral("INSERT INTO %1(%1) VALUES ('optimize')").arg(index));
}

void createIndexes(Database& db, const IndexedTable& t)
{
    const QString words = t.words(), digits = t.digits();
    const auto newDigits = [&](const QString& row) { return NumberDigitsSql(row + QLatin1Char('.') + t.number); };
    const QString insertRow = QStringLiteral("INSERT INTO %1(rowid, Message) VALUES (new.%2, new.Message); "
                                             "INSERT INTO %3(rowid, digits) VALUES (new.%2, %4); ")
                                  .arg(words, t.id, digits, newDigits(QStringLiteral("new")));
    // Both indexes must be given the values they were given at the insert, or they keep stale entries.
    const QString deleteRow =
        QStringLiteral("INSERT INTO %1(%1, rowid, Message) VALUES ('delete', old.%2, old.Message); "
                       "INSERT INTO %3(%3, rowid, digits) VALUES ('delete', old.%2, %4); ")
            .arg(words, t.id, digits, newDigits(QStringLiteral("old")));

    db.beginTransaction();
    try {
        if (!exists(db, words)) {
            db.execute(QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(Message, content='%2', content_rowid='%3', "
                                      "tokenize='unicode61 remove_diacritics 2', detail=none, columnsize=0)")
                           .arg(words, t.table, t.id));
            db.execute(QStringLiteral("INSERT INTO %1(%1) VALUES ('rebuild')").arg(words));
            optimize(db, words);
        }
        if (!exists(db, digits)) {
            db.execute(QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(digits, content='', tokenize='trigram', "
                                      "detail=none, columnsize=0)")
                           .arg(digits));
            db.execute(QStringLiteral("INSERT INTO %1(rowid, digits) SELECT %2, %3 FROM %4")
                           .arg(digits, t.id, NumberDigitsSql(t.number), t.table));
            optimize(db, digits);
        }
        // Created on every open: a table rebuilt by a schema change loses its triggers.
        db.execute(QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_search_insert AFTER INSERT ON %1 BEGIN %2END")
                       .arg(t.table, insertRow));
        db.execute(QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_search_delete AFTER DELETE ON %1 BEGIN %2END")
                       .arg(t.table, deleteRow));
        // Only the number and the text: the delivery run updates the status of every row it sends.
        db.execute(QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_search_update AFTER UPDATE OF %2, Message ON %1 "
                                  "BEGIN %3%4END")
                       .arg(t.table, t.number, deleteRow, insertRow));
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
    db.execute(
        QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS %1 USING fts5vocab(main, %2, row)").arg(t.terms(), words));
}

// The index's terms beginning with a typed word, as an FTS5 expression matching any of them.
QString widened(Database& db, const IndexedTable& t, const QString& word)
{
    if (!plainAscii(word)) // folding of other letters is the tokenizer's business: let FTS5 do it
        return quoted(word) + QLatin1Char('*');
    QString after = word;
    after.back() = QChar(after.back().unicode() + 1);
    QStringList terms;
    Query q(db,
            QStringLiteral("SELECT term FROM %1 WHERE term >= ? AND term < ? LIMIT %2")
                .arg(t.terms())
                .arg(MaxWidenedTerms + 1),
            {word, after});
    while (q.next())
        terms << quoted(q.value(0).toString());
    if (terms.isEmpty() || terms.size() > MaxWidenedTerms)
        return quoted(word) + QLatin1Char('*');
    return QLatin1Char('(') + terms.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

} // namespace

QString NumberDigitsSql(const QString& column)
{
    QString sql = column;
    for (const char* sign : {" ", "-", ".", "+", "(", ")", "/"})
        sql = QStringLiteral("replace(%1, '%2', '')").arg(sql, QLatin1String(sign));
    return sql;
}

void CreateSearchIndexes(Database& db)
{
    if (db.isServer()) {
        createServerIndexes(db);
        return;
    }
    for (SearchTable t : {SearchTable::Inbox, SearchTable::Outbox}) {
        try {
            createIndexes(db, indexed(t));
        } catch (const DbError& e) {
            // A SQLite built without FTS5 still runs the program; searches then scan.
            if (e.description().contains(QLatin1String("no such module")))
                return;
            throw;
        }
    }
}

bool SearchIndexed(Database& db, SearchTable table)
{
    if (db.isServer())
        return false; // the server's indexes serve the row conditions themselves
    const IndexedTable& t = indexed(table);
    return exists(db, t.words()) && exists(db, t.digits());
}

SearchTerms ParseSearchText(const QString& typed)
{
    SearchTerms terms;
    const QString text = typed.trimmed();
    bool number = true;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            terms.digits += c;
        else if (!QStringLiteral(" +-.()/").contains(c))
            number = false;
    }
    if (number && !terms.digits.isEmpty())
        return terms;
    terms.digits.clear();
    QString word;
    for (QChar c : text + QLatin1Char(' ')) {
        if (c.isLetterOrNumber()) {
            word += c;
        } else if (!word.isEmpty()) {
            if (!terms.words.contains(word.toLower()))
                terms.words << word.toLower();
            word.clear();
        }
    }
    return terms;
}

SearchSql BuildSearchSql(Database& db, SearchTable table, const SearchTerms& terms)
{
    SearchSql sql;
    const IndexedTable& t = indexed(table);
    const bool index = SearchIndexed(db, table);
    if (!terms.digits.isEmpty()) {
        // Trigrams without positions find numbers holding every piece somewhere; the row check keeps those
        // that hold them in one run.
        if (index && terms.digits.size() >= 3) {
            QStringList trigrams;
            for (qsizetype i = 0; i + 3 <= terms.digits.size(); ++i)
                if (!trigrams.contains(quoted(terms.digits.mid(i, 3))))
                    trigrams << quoted(terms.digits.mid(i, 3));
            sql.index = t.digits();
            sql.match = trigrams.join(QLatin1Char(' '));
        }
        sql.check = NumberDigitsSql(t.number) + QStringLiteral(" LIKE ?");
        sql.checkValues << QStringLiteral("%") + terms.digits + QStringLiteral("%");
        return sql;
    }
    if (terms.words.isEmpty())
        return sql;
    if (index) {
        QStringList all;
        for (const QString& w : terms.words)
            all << widened(db, t, w);
        sql.index = t.words();
        sql.match = all.join(QStringLiteral(" AND "));
        return sql;
    }
    if (db.isServer() && serverWords(db, t)) {
        sql.check = ServerWordsColumn + QStringLiteral(" @@ public.broadtext_prefixes(?)");
        sql.checkValues << terms.words.join(QLatin1Char(' '));
        return sql;
    }
    // A scan: SQLite's LIKE ignores the case of ASCII letters, a server's needs ILIKE for that.
    QStringList checks;
    for (const QString& w : terms.words) {
        checks << (db.isServer() ? QStringLiteral("Message ILIKE ?") : QStringLiteral("Message LIKE ?"));
        sql.checkValues << QStringLiteral("%") + w + QStringLiteral("%");
    }
    sql.check = checks.join(QStringLiteral(" AND "));
    return sql;
}
