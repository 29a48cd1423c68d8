#include "delivery/LinkWords.h"

QString LinkFailureText(const LinkError& e)
{
    switch (e.reason) {
    case LinkError::AlreadyOpen:
        return QStringLiteral("Comm Port : %1 already open or some other program is using it.").arg(e.number);
    case LinkError::NoCarrier:
        return QStringLiteral("Your modem probably does not support the dialing feature.");
    default:
        break;
    }
    if (e.command == QLatin1String("AT+CLIP=1"))
        return QStringLiteral("Your modem does not support 'CallerID' feature.");
    return QStringLiteral("Error occured while executing this command: ") + e.command;
}
