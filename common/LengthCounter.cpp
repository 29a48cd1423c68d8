#include "common/LengthCounter.h"

#include "common/FunctionsLibrary.h"

LengthCounterCaptions LengthCounter(const QString& text)
{
    const qsizetype n = Trim(text).size();
    LengthCounterCaptions c;
    c.count = QStringLiteral("Typed: %1/480 characters.").arg(n);
    if (n > 160) {
        // A text held in memory is far shorter than 160 * 2^31 characters: the count always has a value.
        const qint32 parts = RoundUp(static_cast<double>(n) / 160.0).value();
        c.warning =
            QStringLiteral("** This message is longer than 160 characters. Message will be sent as %1 SMS messages.")
                .arg(parts);
    }
    return c;
}
