// Full-text search of the Inbox and the Outbox table (which also holds Sent Items).
//
// Each table has two SQLite FTS5 indexes, kept in step with it by triggers on insert, delete and on updates of
// the number or the text:
//  - <table>_words: the words of the message, an external-content index over the table itself;
//  - <table>_digits: trigrams of the phone number reduced to its digits, contentless, since that reduced
//    form is stored nowhere else.
// Both keep no positions (detail=none), which makes them small; a number match is therefore checked again on
// the row, and word prefixes are widened to the index's own terms before querying (prefix queries without
// positions are several times slower than the same terms named one by one).
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

class Database;

enum class SearchTable { Inbox, Outbox };

// Creates the indexes and triggers that are missing and fills new indexes from the rows already stored (a
// million messages take some seconds, once). Without FTS5 in the SQLite library nothing is created and
// searches scan the table instead. Throws DbError.
void CreateSearchIndexes(Database& db);
bool SearchIndexed(Database& db, SearchTable table);

// What was typed into a search box. Text made only of digits and the signs of a written number ("+",
// blanks, "-", ".", "(", ")", "/") is a number: a message matches when its phone number contains those digits
// in that order. Anything else is words: a message matches when each of them begins a word of its text.
struct SearchTerms {
    QString digits;
    QStringList words; // lower case
    bool isEmpty() const { return digits.isEmpty() && words.isEmpty(); }
};
SearchTerms ParseSearchText(const QString& typed);

// A search as SQL on one table. `index` is the FTS5 table whose rows (rowid = the table's id) MATCH `match`
// are the candidates (empty when no index can help); `check` is a condition on the table's row that a
// candidate must also meet (empty when every candidate matches), with its values in order.
struct SearchSql {
    QString index;
    QString match;
    QString check;
    QVariantList checkValues;
};
// Throws DbError.
SearchSql BuildSearchSql(Database& db, SearchTable table, const SearchTerms& terms);

// The SQL expression reducing a phone number column to what the digits index holds.
QString NumberDigitsSql(const QString& column);
