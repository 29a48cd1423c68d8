#include "common/LengthCounter.h"

#include "common/FunctionsLibrary.h"

LengthCounterCaptions LengthCounter(const QString& text, Charset::Mode mode)
{
    const Charset::Count count = Charset::count(Trim(text), mode);
    LengthCounterCaptions c;
    c.unicode = count.encoding == Charset::Encoding::Ucs2;
    c.parts = count.parts;
    const int single = Charset::singleCapacity(mode, count.encoding);
    const int most = MaxMessageParts * Charset::partCapacity(mode, count.encoding);
    c.limit = most;
    c.count = c.unicode ? QStringLiteral("Typed: %1/%2 characters (Unicode).").arg(count.units).arg(most)
                        : QStringLiteral("Typed: %1/%2 characters.").arg(count.units).arg(most);
    if (count.units > single)
        c.warning =
            QStringLiteral("** This message is longer than %1 characters. Message will be sent as %2 SMS messages.")
                .arg(single)
                .arg(count.parts);
    return c;
}

bool FitsMessageField(const QString& text, Charset::Mode mode)
{
    return Charset::count(text, mode).parts <= MaxMessageParts;
}
