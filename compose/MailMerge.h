// Mail merge for the wizard: a message whose fields, `{Column Name}`, are filled from each row of the sheet's
// columns. A field names a column by its header, case ignored; `{{` and `}}` stand for the braces themselves.
// Everything is checked before a row is queued: a field naming no column is an error (it never reaches a
// recipient as text), and a result longer than a message may be is reported with its rows, never cut.
// Pure functions, no database and no window.
#pragma once

#include "common/Charset.h"

#include <QString>
#include <QStringList>

#include <vector>

class MailMerge {
public:
    // Reads the message against the column headers. error() says what is wrong with it, if anything.
    static MailMerge Parse(const QString& message, const QStringList& headers);

    // Empty when every field names a column and every brace is closed.
    QString error() const { return problem; }
    // The fields that name no column, as written in the message (each once).
    QStringList unknownFields() const { return unknown; }
    // Whether the message has any field at all (a message without one is the same for every row).
    bool hasFields() const { return fields > 0; }

    // The message for one row, its cells in the order of the headers; a cell missing at the end of a short
    // row gives an empty text. Only meaningful when error() is empty.
    QString fill(const QStringList& cells) const;

private:
    struct Piece {
        QString text; // literal text, when column < 0
        int column = -1;
    };
    std::vector<Piece> pieces;
    QString problem;
    QStringList unknown;
    int fields = 0;
};

// The results of a merge over every row, as the length counter and the check before queueing need them.
struct MergedLengths {
    QString longest;             // the result that takes the most parts (then the most units): what the counter shows
    qint64 longestRow = -1;      // its row, -1 when there are no rows
    std::vector<qint64> tooLong; // the rows whose result is longer than a message may be, in order
};

MergedLengths CheckMergedLengths(const MailMerge& merge, const std::vector<QStringList>& rows,
                                 Charset::Mode mode = Charset::Mode::Text);

// The words that say which rows came out too long, with at most the first ten row numbers (counted from 1).
QString TooLongRowsText(const std::vector<qint64>& rows);
