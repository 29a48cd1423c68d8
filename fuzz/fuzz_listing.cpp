// Feeds arbitrary bytes to ParseListing, the splitter of AT+CMGL answers, and checks it against what its
// input holds: every record comes from a header line of the input, each body stands in the input, and an
// answer read in part never gives records that the whole answer contradicts.
#include "fuzz/FuzzCheck.h"
#include "modem/AtParse.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {

using fuzz::shown;

QString key(const SIMMessage& m)
{
    return QStringList{m.Index, m.Status, m.Number, m.Alpha, m.Timestamp, QString::number(m.Length)}.join(u'\x1F');
}

// What a parse promises of itself and of the bytes it was given.
void checkParse(const QByteArray& answer, const ListingParse& got, const QSet<QString>& headers)
{
    FUZZ_CHECK(got.records.size() == got.bodies.size());
    for (size_t i = 0; i < got.records.size(); ++i) {
        const SIMMessage& m = got.records[i];
        const QByteArray& body = got.bodies[i];
        FUZZ_CHECK(headers.contains(key(m)), shown(m.Index));
        FUZZ_CHECK(m.Text == QString::fromLatin1(body));
        FUZZ_CHECK(answer.contains(body));
        // A body shorter than announced is taken only where the next header or the final result follows,
        // and such a listing says its lengths did not hold.
        if (m.Length >= 0 && got.lengthsKnown)
            FUZZ_CHECK(body.size() >= m.Length, QStringLiteral("%1 < %2").arg(body.size()).arg(m.Length));
    }
    FUZZ_CHECK(got.announcedBytesOutstanding >= 0);
    if (!got.complete) {
        FUZZ_CHECK(got.end == -1 && got.final == FinalCode::None);
        return;
    }
    FUZZ_CHECK(got.announcedBytesOutstanding == 0);
    FUZZ_CHECK(got.final != FinalCode::None && got.final != FinalCode::NoCarrier);
    FUZZ_CHECK(got.end > 0 && got.end <= answer.size() && answer.at(got.end - 1) == '\n');
    const qsizetype start = got.end >= 2 ? answer.lastIndexOf('\n', got.end - 2) + 1 : 0;
    int number = 0;
    FUZZ_CHECK(FinalResultOf(answer.mid(start, got.end - start), &number) == got.final);
    FUZZ_CHECK(number == got.errorNumber);
    for (const QByteArray& line : got.unsolicited) {
        FUZZ_CHECK(answer.contains(line));
        FUZZ_CHECK(ParseUnsolicited(line).kind != Unsolicited::None, shown(QString::fromLatin1(line)));
    }
}

bool sameRecord(const SIMMessage& a, const SIMMessage& b)
{
    return key(a) == key(b) && a.Text == b.Text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char*>(data), qsizetype(size));

    // The header lines of the input: a line counts only once its LF has arrived, as it does for the parser.
    QSet<QString> headers;
    QList<qsizetype> lineEnds;
    qsizetype headerLines = 0;
    for (qsizetype pos = 0, lf; (lf = answer.indexOf('\n', pos)) >= 0; pos = lf + 1) {
        lineEnds << lf + 1;
        if (const auto h = ParseListingHeader(answer.mid(pos, lf + 1 - pos))) {
            headers.insert(key(*h));
            ++headerLines;
        }
    }

    const ListingParse got = ParseListing(answer);
    checkParse(answer, got, headers);
    FUZZ_CHECK(qsizetype(got.records.size()) <= headerLines,
               QStringLiteral("%1 records from %2 header lines").arg(got.records.size()).arg(headerLines));

    // The link parses what has arrived so far each time bytes come in. A listing still incomplete must agree
    // with the whole answer on every record it gives; with lengths that held, so must a complete one. (Without
    // them a final result line inside a text, cut just after it, is taken for the end: that is the reason the
    // link asks for lengths, and waits for the line to stay quiet when they did not hold.)
    QList<qsizetype> cuts;
    for (int k = 1; k < 8; ++k)
        cuts << answer.size() * k / 8;
    for (qsizetype i = 0; i < lineEnds.size() && i < 8; ++i)
        cuts << lineEnds[i] << lineEnds[i] - 1;
    for (const qsizetype cut : cuts) {
        if (cut <= 0 || cut >= answer.size())
            continue;
        const QByteArray head = answer.left(cut);
        const ListingParse part = ParseListing(head);
        if (part.complete && (!got.lengthsKnown || !part.lengthsKnown))
            continue;
        FUZZ_CHECK(part.records.size() <= got.records.size(), QStringLiteral("cut at %1: %2 records, %3 in the whole")
                                                                  .arg(cut)
                                                                  .arg(part.records.size())
                                                                  .arg(got.records.size()));
        for (size_t i = 0; i < part.records.size(); ++i)
            FUZZ_CHECK(sameRecord(part.records[i], got.records[i]),
                       QStringLiteral("cut at %1, record %2: %3 against %4")
                           .arg(cut)
                           .arg(i)
                           .arg(shown(part.records[i].Text), shown(got.records[i].Text)));
        if (part.complete)
            FUZZ_CHECK(got.complete && got.end == part.end && got.records.size() == part.records.size(),
                       QStringLiteral("cut at %1").arg(cut));
    }
    return 0;
}
