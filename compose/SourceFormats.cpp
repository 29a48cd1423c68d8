#include "compose/SourceFormats.h"

#include <QFileInfo>
#include <QStringConverter>
#include <QXmlStreamReader>
#include <cmath>

namespace {

// Outer blanks (spaces only) removed, as the program's Trim does; the reader program links no more than
// Qt Core, so it cannot use common/.
QString blanksTrimmed(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

// ---- .xlsx

// A cell holds at most 32 767 characters; far more than that in one text means a damaged part.
constexpr qsizetype MaxText = 1 << 20;
constexpr int MaxColumns = 16384; // A to XFD
constexpr qint64 MaxRows = 1048576;

// The XML tokens of a part that arrives in pieces.
class PartXml {
public:
    explicit PartXml(const PartPieces& pieces) : pieces(pieces) {}
    // Moves to the next token; false at the end of the document or on a failure (damaged() then tells).
    bool next()
    {
        for (;;) {
            const QXmlStreamReader::TokenType t = xml.readNext();
            if (t == QXmlStreamReader::EndDocument)
                return false;
            if (t != QXmlStreamReader::Invalid)
                return true;
            if (xml.error() != QXmlStreamReader::PrematureEndOfDocumentError) {
                broken = true;
                return false;
            }
            QByteArray piece;
            if (!pieces(piece) || piece.isEmpty()) {
                broken = true;
                return false;
            }
            xml.addData(piece);
        }
    }
    bool damaged() const { return broken; }
    bool start(const char* name) const { return xml.isStartElement() && xml.name() == QLatin1StringView(name); }
    bool end(const char* name) const { return xml.isEndElement() && xml.name() == QLatin1StringView(name); }
    QString attribute(const char* name) const { return xml.attributes().value(QLatin1StringView(name)).toString(); }

    QXmlStreamReader xml;

private:
    const PartPieces& pieces;
    bool broken = false;
};

// Texts of cells escape characters XML cannot carry as _xHHHH_.
QString unescaped(const QString& s)
{
    if (!s.contains(QLatin1String("_x")))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        bool ok = false;
        if (s.at(i) == QLatin1Char('_') && i + 6 < s.size() && s.at(i + 1) == QLatin1Char('x') &&
            s.at(i + 6) == QLatin1Char('_')) {
            const ushort code = QStringView(s).mid(i + 2, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 6;
                continue;
            }
        }
        out += s.at(i);
    }
    return out;
}

// The text of a string item (<si> or <is>): its <t> elements, phonetic guides (<rPh>) left out.
class StringItem {
public:
    // Takes one token; false when the text grows beyond what a cell can hold.
    bool take(const PartXml& x)
    {
        if (x.start("rPh"))
            ++phonetic;
        else if (x.end("rPh"))
            --phonetic;
        else if (x.start("t"))
            inText = phonetic == 0;
        else if (x.end("t"))
            inText = false;
        else if (inText && x.xml.isCharacters())
            text += x.xml.text();
        return text.size() <= MaxText;
    }
    QString take() { return unescaped(std::exchange(text, QString())); }

private:
    QString text;
    int phonetic = 0;
    bool inText = false;
};

// The column of a cell reference ("B3" -> 1); -1 when it is not one.
int referenceColumn(QStringView ref)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < ref.size() && i < 4; ++i) {
        const char16_t c = ref.at(i).toUpper().unicode();
        if (c < u'A' || c > u'Z')
            break;
        column = column * 26 + (c - u'A' + 1);
    }
    if (i == 0 || column > MaxColumns)
        return -1;
    for (qsizetype d = i; d < ref.size(); ++d)
        if (!ref.at(d).isDigit())
            return -1;
    return column - 1;
}

// The value of a finished cell; false when it names a shared string that does not exist.
bool cellValue(const QString& type, const std::optional<QString>& v, const QString& inlineText,
               const QStringList& shared, SourceValue* out)
{
    if (type == QLatin1String("inlineStr")) {
        *out = inlineText;
        return true;
    }
    if (!v) {
        *out = std::nullopt;
        return true;
    }
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = v->trimmed().toInt(&ok);
        if (!ok || index < 0 || index >= shared.size())
            return false;
        *out = shared.at(index);
    } else if (type == QLatin1String("str") || type == QLatin1String("d")) {
        *out = unescaped(*v);
    } else if (type == QLatin1String("b")) {
        *out = v->trimmed() == QLatin1String("0") ? QStringLiteral("FALSE") : QStringLiteral("TRUE");
    } else if (type == QLatin1String("e")) {
        *out = std::nullopt;
    } else {
        bool ok = false;
        const double number = v->trimmed().toDouble(&ok);
        *out = ok ? GeneralNumber(number) : *v;
    }
    return true;
}

} // namespace

// ---- Sheets and columns

QString GeneralNumber(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15).toUpper();
}

int FindColumn(const QStringList& columns, const QString& name)
{
    const int exact = int(columns.indexOf(name));
    if (exact >= 0)
        return exact;
    const QString trimmed = blanksTrimmed(name);
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (blanksTrimmed(columns.at(i)) == trimmed)
            return int(i);
    return -1;
}

QString SheetDisplayName(const QString& name)
{
    return blanksTrimmed(QString(name).remove(QLatin1Char('$')));
}

QStringList HeadingNames(const std::vector<SourceValue>& heading, int declaredColumns)
{
    QStringList names;
    const int count = std::max(int(heading.size()), declaredColumns);
    for (int c = 0; c < count; ++c) {
        const bool named = c < int(heading.size()) && heading[size_t(c)] && !heading[size_t(c)]->isEmpty();
        names << (named ? *heading[size_t(c)] : QStringLiteral("F") + QString::number(c + 1));
    }
    return names;
}

// ---- Messages

QString NotFoundMessage(const QString& path)
{
    return QStringLiteral("Could not find file '%1'.").arg(path);
}

QString NotAccessMessage(const QString& path)
{
    return QStringLiteral("The file '%1' is not an Access database or it is damaged.").arg(path);
}

QString NotWorkbookMessage(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xlsx"))
        return QStringLiteral("The file '%1' is not an Excel workbook or it is damaged.").arg(path);
    if (suffix == QLatin1String("csv"))
        return QStringLiteral("The file '%1' is not a text file of comma-separated values or it is damaged.").arg(path);
    return QStringLiteral("The file '%1' is not an Excel 97-2003 workbook or it is damaged.").arg(path);
}

// ---- Text

QString DecodeText(const QByteArray& bytes)
{
    if (const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*marked);
        return decoder.decode(bytes);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp1252("windows-1252");
    return cp1252.isValid() ? QString(cp1252.decode(bytes)) : QString::fromLatin1(bytes);
}

// ---- CSV

QChar DetectCsvDelimiter(QStringView text)
{
    const QStringView sample = text.left(64 * 1024);
    QChar best;
    qsizetype bestAgreeing = 0, bestWidth = 0;
    for (const QChar d : {QLatin1Char(','), QLatin1Char(';'), QLatin1Char('\t'), QLatin1Char('|')}) {
        qsizetype width = -1, agreeing = 0;
        for (const auto& record : ParseCsv(sample, d, 20)) {
            if (record.size() == 1 && !record[0])
                continue; // a blank line says nothing
            if (width < 0)
                width = qsizetype(record.size());
            if (qsizetype(record.size()) == width)
                ++agreeing;
        }
        if (width < 2)
            continue;
        if (agreeing > bestAgreeing || (agreeing == bestAgreeing && width > bestWidth)) {
            best = d;
            bestAgreeing = agreeing;
            bestWidth = width;
        }
    }
    return best;
}

std::vector<std::vector<SourceValue>> ParseCsv(QStringView text, QChar delimiter, qsizetype maxRecords)
{
    std::vector<std::vector<SourceValue>> records;
    std::vector<SourceValue> record;
    QString field;
    bool quoted = false;
    bool fieldStart = true;
    const auto endField = [&] {
        record.push_back(field.isEmpty() ? SourceValue() : SourceValue(field));
        field.clear();
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (maxRecords >= 0 && qsizetype(records.size()) >= maxRecords)
            return records;
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                field += c;
            else if (i + 1 < n && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else
                quoted = false;
            continue;
        }
        if (c == QLatin1Char('"') && fieldStart) {
            quoted = true;
            fieldStart = false;
        } else if (!delimiter.isNull() && c == delimiter) {
            endField();
            fieldStart = true;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endField();
            records.push_back(std::move(record));
            record.clear();
            fieldStart = true;
        } else {
            field += c;
            fieldStart = false;
        }
    }
    // The last record needs no line end.
    if ((!fieldStart || !record.empty()) && (maxRecords < 0 || qsizetype(records.size()) < maxRecords)) {
        endField();
        records.push_back(std::move(record));
    }
    return records;
}

// ---- .xlsx parts

bool ParseXlsxRelationships(const PartPieces& part, std::vector<XlsxRelationship>& out)
{
    PartXml x(part);
    while (x.next()) {
        if (x.start("Relationship") && x.attribute("TargetMode") != QLatin1String("External"))
            out.push_back({x.attribute("Id"), x.attribute("Type"), x.attribute("Target")});
    }
    return !x.damaged();
}

bool ParseXlsxWorkbook(const PartPieces& part, std::vector<XlsxSheetEntry>& out)
{
    PartXml x(part);
    while (x.next()) {
        if (!x.start("sheet"))
            continue;
        XlsxSheetEntry entry{x.attribute("name"), QString()};
        // The relationship's id is the "id" attribute of the relationships namespace (r:id).
        for (const QXmlStreamAttribute& a : x.xml.attributes())
            if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                entry.relationshipId = a.value().toString();
        out.push_back(entry);
    }
    return !x.damaged();
}

bool ParseXlsxSharedStrings(const PartPieces& part, QStringList& out)
{
    PartXml x(part);
    StringItem item;
    while (x.next()) {
        if (!item.take(x))
            return false;
        if (x.end("si"))
            out << item.take();
    }
    return !x.damaged();
}

bool ReadXlsxWorksheet(const PartPieces& part, const QStringList& sharedStrings, int* declaredColumns,
                       const XlsxRowVisitor& visit)
{
    PartXml x(part);
    *declaredColumns = 0;
    std::vector<SourceValue> values;
    qint64 row = -1;
    int column = -1;
    QString type;
    std::optional<QString> v;
    bool inCell = false, inValue = false, inInline = false;
    StringItem inlineText;
    while (x.next()) {
        if (inInline && !inlineText.take(x))
            return false;
        if (x.xml.isCharacters()) {
            if (inValue) {
                *v += x.xml.text();
                if (v->size() > MaxText)
                    return false;
            }
        } else if (x.start("c")) {
            const QString ref = x.attribute("r");
            column = ref.isEmpty() ? column + 1 : referenceColumn(ref);
            if (column < 0 || column >= MaxColumns)
                return false;
            type = x.attribute("t");
            v.reset();
            inCell = true;
        } else if (inCell && x.start("v")) {
            v = QString();
            inValue = true;
        } else if (x.end("v")) {
            inValue = false;
        } else if (inCell && x.start("is")) {
            inInline = true;
        } else if (x.end("is")) {
            inInline = false;
        } else if (x.end("c")) {
            SourceValue value;
            if (!cellValue(type, v, inlineText.take(), sharedStrings, &value))
                return false;
            if (values.size() <= size_t(column))
                values.resize(size_t(column) + 1);
            values[size_t(column)] = std::move(value);
            inCell = false;
        } else if (x.start("row")) {
            const QString r = x.attribute("r");
            bool ok = true;
            const qint64 number = r.isEmpty() ? row + 2 : r.toLongLong(&ok);
            // Rows come in order; one that goes back could not be streamed.
            if (!ok || number - 1 <= row || number > MaxRows)
                return false;
            row = number - 1;
            column = -1;
            values.clear();
        } else if (x.end("row")) {
            if (!visit(row, values))
                return true;
        } else if (x.start("dimension")) {
            const QString ref = x.attribute("ref");
            const int last = referenceColumn(QStringView(ref).mid(ref.indexOf(QLatin1Char(':')) + 1));
            *declaredColumns = last < 0 ? 0 : last + 1;
        }
    }
    return !x.damaged();
}
