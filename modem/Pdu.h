// SMS in PDU mode (3GPP TS 23.040): the hex a modem takes with AT+CMGS / AT+CMGW and gives with AT+CMGL,
// AT+CMGR, +CMT and +CDS. The program encodes SMS-SUBMIT and decodes SMS-DELIVER and SMS-STATUS-REPORT; the
// modem simulator, playing the network, does the opposite. Every hex text handed in or out starts with the
// service-centre (SMSC) field. Pure functions: malformed input gives a result whose error says what is wrong.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace Pdu {

enum class Alphabet { Gsm7, EightBit, Ucs2 };
enum class Type { Deliver, Submit, StatusReport, Unknown };

// The concatenation header of one part of a long message; total 0 means the message stands alone.
struct Concatenation {
    int reference = 0; // 0-255, or 0-65535 for the 16-bit form (only ever decoded)
    int total = 0;
    int sequence = 0; // 1-based
    bool isPart() const { return total > 0; }
};

// The TP-DCS octet as far as it tells how the user data is written (TS 23.038 section 4).
struct DataCoding {
    Alphabet alphabet = Alphabet::Gsm7;
    int messageClass = -1; // 0-3, -1 when the octet gives none
    bool compressed = false;
};
DataCoding interpretDataCoding(int dcs);

// One message as the modem wants it: the hex for AT+CMGS / AT+CMGW, starting with "00" ("use the SIM's
// service centre"), and the <length> those commands need (TPDU octets, the SMSC field left out).
struct Encoded {
    QString hex;
    int tpduLength = 0;
};

struct EncodeResult {
    QList<Encoded> parts; // in sending order; empty on error
    QString error;
    bool ok() const { return error.isEmpty(); }
};

struct SubmitOptions {
    std::optional<int> validityMinutes; // relative validity period; none leaves the field out
    bool statusReport = false;          // ask the network for an SMS-STATUS-REPORT
    bool rejectDuplicates = false;
    int concatenationReference = 0; // 0-255, shared by all parts of one long message
    // None: GSM 7-bit when the text fits the alphabet with its extension table, otherwise UCS2. With
    // EightBit each character of the text is one octet (U+0000-U+00FF).
    std::optional<Alphabet> alphabet;
};

// SMS-SUBMIT for each part of the text. The destination is "+" and digits (international, type 0x91) or
// digits (type 0x81); "*" and "#" are allowed. Long messages carry the 8-bit concatenation header: 153 GSM
// septets, 67 UCS2 units or 134 octets a part, an escape pair or surrogate pair never cut.
EncodeResult encodeSubmit(const QString& destination, const QString& text, const SubmitOptions& options = {});

// What the network side sends: SMS-DELIVER for each part of a message.
struct DeliverOptions {
    QString smsc;                // empty: no service-centre field ("00")
    QDateTime serviceCentreTime; // written with its own offset from UTC, in quarter hours
    bool statusReportIndication = false;
    int concatenationReference = 0;
    std::optional<Alphabet> alphabet; // as for SubmitOptions
};
// The sender is "+digits", digits, or a name of up to 11 GSM septets (alphanumeric, type 0xD0).
EncodeResult encodeDeliver(const QString& sender, const QString& text, const DeliverOptions& options);

struct StatusReportFields {
    QString smsc; // empty: no service-centre field
    int reference = 0;
    QString recipient;
    QDateTime serviceCentreTime;
    QDateTime dischargeTime;
    int status = 0; // TP-ST
};
// One SMS-STATUS-REPORT; error set (and hex empty) when a field cannot be written.
struct EncodedReport {
    Encoded pdu;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
EncodedReport encodeStatusReport(const StatusReportFields& fields);

// Fields every decoded message has.
struct Decoded {
    QString error;      // empty when the PDU was sound
    QString smsc;       // "+..." or digits; empty when the field is empty
    int tpduLength = 0; // octets after the SMSC field, to check against a <length>
    bool ok() const { return error.isEmpty(); }
};

struct UserData {
    int protocolId = 0;
    int dataCoding = 0;
    DataCoding coding;
    QString text;    // for 8-bit data each octet as a Latin-1 character; empty when compressed
    QByteArray data; // the user data octets after any header (GSM: one septet a byte)
    Concatenation concatenation;
};

struct Deliver : Decoded, UserData {
    QString sender;     // "+digits", digits, or the alphanumeric name
    int senderType = 0; // type-of-address octet
    QDateTime serviceCentreTime;
    bool statusReportIndication = false;
    bool moreMessagesToSend = false;
};

struct Submit : Decoded, UserData {
    int messageReference = 0;
    QString destination;
    int destinationType = 0;
    bool statusReport = false;
    bool rejectDuplicates = false;
    std::optional<int> validityMinutes; // relative validity period
    QDateTime validUntil;               // absolute validity period
};

struct StatusReport : Decoded {
    int messageReference = 0;
    QString recipient;
    int recipientType = 0;
    QDateTime serviceCentreTime;
    QDateTime dischargeTime;
    int status = 0;
};

// The kind of message a PDU holds, from its first TPDU octet. In PDU listings a received message is a
// DELIVER and a stored outgoing one a SUBMIT; +CDS brings a STATUS-REPORT.
Type typeOf(QStringView hex);
Deliver decodeDeliver(QStringView hex);
Submit decodeSubmit(QStringView hex);
StatusReport decodeStatusReport(QStringView hex);

// The outcome groups of TP-ST.
enum class StatusGroup { Completed, TemporaryStillTrying, Permanent, TemporaryGaveUp, Reserved };
StatusGroup statusGroup(int status);
// TP-ST in words: "Delivered", "Forwarded, delivery not confirmed", "Replaced", or the group and the reason.
QString statusText(int status);

// TP-VP in relative form for a period in minutes (rounded up to the next period the field can hold, at most
// 63 weeks), and back.
int relativeValidity(int minutes);
int validityMinutes(int relativeValidity);

} // namespace Pdu
