#include "delivery/RecipientNumbers.h"

#include "delivery/Delivery.h"

QString RecipientNumberProblem(const QString& number)
{
    const QString cleaned = CleanRecipientNumber(number);
    if (IsValidRecipientNumber(cleaned))
        return {};
    if (cleaned.isEmpty())
        return QStringLiteral("it is empty");
    const QString digits = cleaned.startsWith(QLatin1Char('+')) ? cleaned.mid(1) : cleaned;
    QStringList signs;
    for (QChar c : digits) {
        const QString quoted = QLatin1Char('"') + c + QLatin1Char('"');
        if ((c < QLatin1Char('0') || c > QLatin1Char('9')) && !signs.contains(quoted))
            signs << quoted;
    }
    if (signs.isEmpty() && digits.isEmpty())
        return QStringLiteral("it has no digits");
    if (signs.isEmpty())
        return QStringLiteral("it has %1 %2; a number has %3 to %4")
            .arg(digits.size())
            .arg(digits.size() == 1 ? QStringLiteral("digit") : QStringLiteral("digits"))
            .arg(MinRecipientDigits)
            .arg(MaxRecipientDigits);
    if (signs == QStringList{QStringLiteral("\"+\"")})
        return QStringLiteral("it holds \"+\" after its start");
    return QStringLiteral("it holds %1").arg(signs.join(QStringLiteral(", ")));
}

QString BadNumbersText(const QStringList& numbers)
{
    QString text = QStringLiteral("These numbers cannot be sent to, so nothing was queued:\r\n");
    for (const QString& n : numbers)
        text += QStringLiteral("\r\n") + n + QStringLiteral(": ") + RecipientNumberProblem(n);
    text += QStringLiteral("\r\n\r\nA mobile number has only digits (3 to 20), with one \"+\" allowed at its "
                           "start; blanks, dots and dashes in it are ignored.");
    return text;
}

QString OptedOutText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 of the numbers is on the opt-out list and was not queued.")
                      : QStringLiteral("%1 of the numbers are on the opt-out list and were not queued.").arg(count);
}
