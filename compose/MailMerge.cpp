#include "compose/MailMerge.h"

#include "common/FunctionsLibrary.h"
#include "common/LengthCounter.h"

MailMerge MailMerge::Parse(const QString& message, const QStringList& headers)
{
    MailMerge m;
    QString literal;
    const auto flush = [&] {
        if (!literal.isEmpty())
            m.pieces.push_back({literal, -1});
        literal.clear();
    };
    const qsizetype n = message.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = message[i];
        if (c == u'{' && i + 1 < n && message[i + 1] == u'{') {
            literal += u'{';
            ++i;
        } else if (c == u'}' && i + 1 < n && message[i + 1] == u'}') {
            literal += u'}';
            ++i;
        } else if (c == u'{') {
            const qsizetype close = message.indexOf(u'}', i + 1);
            const qsizetype nextOpen = message.indexOf(u'{', i + 1);
            if (close < 0 || (nextOpen >= 0 && nextOpen < close)) {
                // Said once; the rest of the message is not read as fields any more.
                if (m.problem.isEmpty())
                    m.problem = QStringLiteral("A field in the message is not closed with \"}\" (write \"{{\" for "
                                               "a brace).");
                literal += message.mid(i);
                break;
            }
            const QString name = message.mid(i + 1, close - i - 1).trimmed();
            int column = -1;
            for (int h = 0; h < headers.size() && column < 0; ++h)
                // A column without a header cannot be named, not even by "{}".
                if (!headers[h].trimmed().isEmpty() && headers[h].trimmed().compare(name, Qt::CaseInsensitive) == 0)
                    column = h;
            ++m.fields;
            if (column < 0) {
                const QString written = message.mid(i, close - i + 1);
                if (!m.unknown.contains(written))
                    m.unknown.push_back(written);
            } else {
                flush();
                m.pieces.push_back({{}, column});
            }
            i = close;
        } else {
            // A lone closing brace cannot start a field, so it stays as written.
            literal += c;
        }
    }
    flush();
    if (m.problem.isEmpty() && !m.unknown.isEmpty())
        m.problem = QStringLiteral("The message has fields that are no column of the list: %1. Please correct them.")
                        .arg(m.unknown.join(QStringLiteral(", ")));
    return m;
}

QString MailMerge::fill(const QStringList& cells) const
{
    QString out;
    for (const Piece& p : pieces)
        out += p.column < 0 ? p.text : (p.column < cells.size() ? cells[p.column] : QString());
    return out;
}

MergedLengths CheckMergedLengths(const MailMerge& merge, const std::vector<QStringList>& rows, Charset::Mode mode)
{
    MergedLengths r;
    int bestParts = -1, bestUnits = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
        // Counted as it will be sent: without the blanks around it.
        const QString text = Trim(merge.fill(rows[i]));
        const Charset::Count c = Charset::count(text, mode);
        if (c.parts > bestParts || (c.parts == bestParts && c.units > bestUnits)) {
            bestParts = c.parts;
            bestUnits = c.units;
            r.longest = text;
            r.longestRow = qint64(i);
        }
        if (!FitsMessageField(text, mode))
            r.tooLong.push_back(qint64(i));
    }
    return r;
}

QString TooLongRowsText(const std::vector<qint64>& rows)
{
    constexpr size_t Shown = 10;
    QStringList numbers;
    for (size_t i = 0; i < rows.size() && i < Shown; ++i)
        numbers << QString::number(rows[i] + 1);
    QString list = numbers.join(QStringLiteral(", "));
    if (rows.size() > Shown)
        list += QStringLiteral(" and %1 more").arg(rows.size() - Shown);
    return QStringLiteral("The merged message is longer than three SMS for %1 of the rows (rows %2). Nothing was "
                          "queued; please shorten the message or the cells.")
        .arg(rows.size())
        .arg(list);
}
