// Feeds arbitrary modem output to the AT answer parsers of modem/AtParse.h and checks what each promises of its
// result: line endings never matter to a line's meaning, numbers read are digits, and what is picked out of an
// answer (a caller's number, a set name) stands in the answer.
#include "fuzz/FuzzCheck.h"
#include "modem/AtParse.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>

namespace {

using fuzz::shown;

bool isDigits(const QString& s)
{
    if (s.isEmpty())
        return false;
    for (const QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

void checkLine(const QByteArray& line)
{
    const QByteArray content = LineContent(line);
    FUZZ_CHECK(line.contains(content));
    FUZZ_CHECK(!content.endsWith('\r') && !content.endsWith('\n') && !content.startsWith('\r'));
    FUZZ_CHECK(LineContent(content) == content);

    int number = 0;
    const FinalCode final = FinalResultOf(line, &number);
    if (final != FinalCode::CmsError && final != FinalCode::CmeError)
        FUZZ_CHECK(number == -1);
    // Blanks and line endings around a result code do not change it, nor its error number.
    int framedNumber = 0;
    FUZZ_CHECK(FinalResultOf("\r\n" + line + "\r\r\n", &framedNumber) == final);
    FUZZ_CHECK(framedNumber == number);
    FUZZ_CHECK(FinalResultOf(line) == final);

    const Unsolicited u = ParseUnsolicited(line);
    FUZZ_CHECK(u.line == line.trimmed());
    FUZZ_CHECK(ParseUnsolicited(" " + line + "\r\n").kind == u.kind);
    if (u.kind != Unsolicited::NewMessage && u.kind != Unsolicited::StatusReportStored)
        FUZZ_CHECK(u.index == -1);
    if (u.kind == Unsolicited::CallerId)
        FUZZ_CHECK(u.number == ExtractCallerNumber(QString::fromLatin1(u.line)));
    else
        FUZZ_CHECK(u.number.isEmpty());
    // Only +CMT and +CDS (and cell broadcasts, taken as +CMT) bring a second line.
    if (UnsolicitedHasBody(line))
        FUZZ_CHECK(u.kind == Unsolicited::Delivered || u.kind == Unsolicited::StatusReport, shown(u.line));

    const auto header = ParseListingHeader(line);
    FUZZ_CHECK(header.has_value() == ParseListingHeader(content + "\r\n").has_value());
    if (header) {
        FUZZ_CHECK(content.startsWith("+CMGL:"));
        FUZZ_CHECK(isDigits(header->Index), shown(header->Index));
        static const QStringList Statuses = {QStringLiteral("REC UNREAD"), QStringLiteral("REC READ"),
                                             QStringLiteral("STO UNSENT"), QStringLiteral("STO SENT")};
        FUZZ_CHECK(Statuses.contains(header->Status), shown(header->Status));
        FUZZ_CHECK(header->Length >= -1);
        FUZZ_CHECK(content.contains(header->Number.toLatin1()));
        FUZZ_CHECK(header->Text.isEmpty());
    }
}

void checkAnswer(const QString& answer)
{
    const std::vector<CallEntry> calls = ParseCallList(answer);
    FUZZ_CHECK(qsizetype(calls.size()) <= answer.count(QStringLiteral("+CLCC:")));
    for (const CallEntry& c : calls)
        FUZZ_CHECK(!c.number.contains(u'"') && !c.number.contains(u'\n'), shown(c.number));

    static const QStringList States = {QStringLiteral("Active"),
                                       QStringLiteral("Held"),
                                       QStringLiteral("Dialing"),
                                       QStringLiteral("Alerting"),
                                       QStringLiteral("Incoming"),
                                       QStringLiteral("Waiting"),
                                       QString(),
                                       QStringLiteral("ERROR")};
    const QString status = CallStatusFromResponse(answer);
    FUZZ_CHECK(States.contains(status) || status == answer, shown(status));

    for (const char* prefix : {"+CMGS:", "+CMSS:", "+CMGW:"}) {
        const QString n = ParseResultNumber(answer, prefix);
        FUZZ_CHECK(n.isEmpty() || (isDigits(n) && answer.contains(n)), shown(n));
    }
    FUZZ_CHECK(ParseCmgwIndex(answer) == ParseResultNumber(answer, "+CMGW:"));

    const QString caller = ExtractCallerNumber(answer);
    if (!caller.isEmpty())
        FUZZ_CHECK(answer.contains(QLatin1Char('"') + caller + QLatin1Char('"')), shown(caller));

    const QStringList sets = ParseCharacterSets(answer);
    if (!sets.isEmpty())
        FUZZ_CHECK(answer.contains(QStringLiteral("+CSCS:")));
    for (const QString& set : sets)
        FUZZ_CHECK(!set.contains(u'"') && !set.contains(u'\n') && set == set.toUpper(), shown(set));
    ChooseCharacterSet(QStringLiteral("GSM"), sets);

    static const QRegularExpression FourNumbers(QStringLiteral("^\\d+,\\d+,\\d+,\\d+$"));
    const QString csmp = ParseCsmp(answer);
    FUZZ_CHECK(csmp.isEmpty() || FourNumbers.match(csmp).hasMatch(), shown(csmp));

    const QString identity = IdentityLine(answer);
    FUZZ_CHECK(!identity.contains(u'\n') && !identity.startsWith(u' ') && !identity.endsWith(u' '), shown(identity));
    if (!identity.isEmpty())
        FUZZ_CHECK(FinalResultOf(identity.toLatin1()) == FinalCode::None, shown(identity));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The input as one line, as the link hands single lines to FinalResultOf and ParseUnsolicited, and line by
    // line as they would arrive.
    checkLine(bytes);
    for (const QByteArray& line : bytes.split('\n'))
        checkLine(line + '\n');

    // The modem routines read whole answers as Latin-1 text; UTF-16 read straight from the bytes also brings
    // lone surrogates to the regular expressions.
    checkAnswer(QString::fromLatin1(bytes));
    checkAnswer(QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2)));
    return 0;
}
