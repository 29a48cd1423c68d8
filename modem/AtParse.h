// Pure functions that turn modem answers into values. No I/O here; each is tested with tables of
// realistic answers.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// One message of a SIM listing.
struct SIMMessage {
    QString Index;
    QString Status;
    QString Number;
    QString Text;
};

// The text without any CR LF pair.
QString RemoveCrLf(const QString& s);

// Parts of 160 characters (the last one shorter); an empty text has no part.
QStringList SplitIntoParts(const QString& text, int partLength = 160);

// The records of an AT+CMGL answer in text mode. Each record: Index (first header field), Status (second,
// without quotes; numeric statuses 0-4 are named), Number (third, without quotes) and Text (the body up to
// the CR LF before the next record, or up to the final CR LF OK CR LF for the last one).
std::vector<SIMMessage> ParseMessageListing(const QString& response);

// The identity line of an AT+CGMI / AT+CGMM answer: the second CR LF separated line, blanks trimmed.
QString IdentityLine(const QString& response);

// The state of the first call listed in an AT+CLCC answer ("Active", "Held", "Dialing", "Alerting",
// "Incoming", "Waiting", or empty for another value); without a call: "ERROR" when the answer holds ERROR,
// otherwise the answer itself.
QString CallStatusFromResponse(const QString& response);

// The storage index of an AT+CMGW answer ("+CMGW: 12"), empty when there is none.
QString ParseCmgwIndex(const QString& response);

// The caller's number of the first +CLIP or +CLCC line in a text, empty when there is none.
QString ExtractCallerNumber(const QString& text);
