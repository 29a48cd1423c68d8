// Pure functions that read the health poll's answers (AT+CSQ, AT+CREG?, AT+COPS?, AT+CIMI, AT+CCID) and the
// unsolicited +CREG line into ModemHealth values. Each takes the whole answer as the exchange returns it (echo,
// blank lines and the final result included) or, for the unsolicited line, the line itself; an answer that
// says nothing usable gives nothing, so the value stays unknown.
#pragma once

#include "modem/ModemHealth.h"

#include <QByteArray>
#include <QString>
#include <optional>

// +CSQ: <rssi>,<ber>
struct SignalQuality {
    int rssi = 99;
    int ber = 99;
};
std::optional<SignalQuality> ParseSignalQuality(const QString& answer);

// One +CREG line. The answer to AT+CREG? starts with the presentation setting <n>, the unsolicited line does
// not: +CREG: <n>,<stat>[,[<lac>],[<ci>][,<AcT>]] against +CREG: <stat>[,[<lac>],[<ci>][,<AcT>]]. The two
// are told apart by their number of fields and, where that is the same (four), by whether the second field
// is a state or a quoted area code.
struct RegistrationReport {
    bool unsolicited = false;
    int presentation = -1; // <n> of the answer; -1 for the unsolicited line
    ModemHealth::Registration registration = ModemHealth::Registration::Unknown;
    QString lac;    // location area code as given (hex), empty when not given
    QString cellId; // likewise
    int accessTechnology = -1;
};
std::optional<RegistrationReport> ParseRegistrationLine(const QByteArray& line);
// The registration an AT+CREG? answer reports (its last +CREG line).
std::optional<RegistrationReport> ParseRegistration(const QString& answer);

// +COPS: <mode>[,<format>,<oper>[,<AcT>]]. The operator is empty when the modem gives only the mode (not
// registered, or no operator selected).
struct OperatorReport {
    int mode = -1;
    int format = -1; // 0 long alphanumeric, 1 short alphanumeric, 2 numeric
    QString name;
    int accessTechnology = -1;
};
std::optional<OperatorReport> ParseOperator(const QString& answer);

// The IMSI of an AT+CIMI answer: a line of 5 to 15 digits (some modems put "+CIMI: " before it). Empty when
// there is none.
QString ParseImsi(const QString& answer);

// The ICCID of an AT+CCID answer, as "+CCID: <n>", "^SCID: <n>", "+ICCID: <n>" or the bare number, quoted or
// not. The number is digits, the last one possibly an F (a filler nibble of 19-digit ICCIDs). Empty when there
// is none.
QString ParseIccid(const QString& answer);

// The registration state a <stat> number names; Unknown for a number 27.007 does not define.
ModemHealth::Registration RegistrationOf(int stat);
