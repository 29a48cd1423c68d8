// Pure functions that turn modem output into values. No I/O here; each is tested with tables of answers
// as real modems give them.
//
// Modem output is taken line by line: a line ends at LF, and the CRs before it belong to the line ending
// ("\r\n", "\r\r\n" after an echoed command). Only whole lines are ever compared with result codes, so an
// "OK" inside a word or a message text never ends an answer.
#pragma once

#include "common/Charset.h"
#include "modem/ModemHealth.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One message of a SIM listing.
struct SIMMessage {
    QString Index;
    QString Status; // "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"
    QString Number;
    QString Text;
    QString Alpha;     // phone book name, usually empty
    QString Timestamp; // service-centre time stamp as listed ("yy/MM/dd,hh:mm:ss+zz"), empty for stored ones
    int Length = -1;   // text length announced by the header, -1 when the header has none
    // PDU mode: the record as listed (hex, service-centre field first) and the service centre's time.
    QString Pdu;
    QDateTime SentOn;
};

// Final result codes of an answer.
enum class FinalCode { None, Ok, Error, CmsError, CmeError, NoCarrier, Busy, NoAnswer, NoDialtone };

// The final result code a line is, with the error number of +CMS ERROR / +CME ERROR (-1 when the modem
// gave a text instead of a number). FinalCode::None for any other line.
FinalCode FinalResultOf(const QByteArray& line, int* errorNumber = nullptr);

// Unsolicited lines: what the modem says of its own accord, between or inside answers.
struct Unsolicited {
    enum Kind {
        None,
        Ring,               // RING, or +CRING: VOICE
        OtherRing,          // +CRING: of a data or fax call
        CallerId,           // +CLIP: "number",type,...
        NoCarrier,          // a call ended
        NewMessage,         // +CMTI: "SM",index
        StatusReportStored, // +CDSI: "SM",index
        StatusReport,       // +CDS: (followed by a PDU line in PDU mode)
        Delivered,          // +CMT: (followed by the message line)
        Registration,       // +CREG: <stat>[,<lac>,<ci>[,<AcT>]]: the network registration changed
        Other               // packet-domain registration, signal, vendor status lines
    } kind = None;
    QString number;                                                              // CallerId
    int index = -1;                                                              // NewMessage, StatusReportStored
    ModemHealth::Registration registration = ModemHealth::Registration::Unknown; // Registration
    QByteArray line;
    QByteArray body; // the line that follows +CMT / +CDS in PDU mode
};

// What a whole line says when it comes unasked. Lines that answer the command being run (its own prefix,
// such as "+CLCC:" for AT+CLCC) are not taken for unsolicited ones by the caller.
Unsolicited ParseUnsolicited(const QByteArray& line);
// Whether an unsolicited line of this kind is followed by a line that belongs to it (+CMT, +CDS in PDU mode).
bool UnsolicitedHasBody(const QByteArray& line);

// The content of a line without its line ending (trailing CRs and LF removed).
QByteArray LineContent(const QByteArray& line);

// The statuses AT+CMGL lists and is asked for, in the order of their numbers (0-4), as PDU mode and some
// text-mode modems write them: "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL".
const QStringList& ListingStatusNames();

// The header of a text-mode listing record (+CMGL: index,status,number,[alpha],[time][,type,length]),
// with or without blanks after the colon and the commas, with the alpha field present, empty or left out,
// and with the status as a word or a number. Nothing when the line is not such a header as a whole.
std::optional<SIMMessage> ParseListingHeader(const QByteArray& line);

// An AT+CMGL answer read so far.
struct ListingParse {
    std::vector<SIMMessage> records; // complete records only; Text holds the body bytes as Latin-1 here
    std::vector<QByteArray> bodies;  // the raw body bytes of each record
    bool complete = false;           // the final result line has been read
    FinalCode final = FinalCode::None;
    int errorNumber = -1;
    bool lengthsKnown = true;             // every header announced its text length
    QList<QByteArray> unsolicited;        // unsolicited lines found between records, in order
    qint64 announcedBytesOutstanding = 0; // body bytes announced by a header but not yet received
    qsizetype end = -1;                   // where the final result line ends, once complete
    // Where a parse of more of the same answer resumes: the start of the first line whose reading what
    // follows can still change, and what had been read before it.
    struct Resume {
        qsizetype pos = 0;
        bool anyRecord = false;
        size_t records = 0;
        qsizetype unsolicited = 0;
        bool lengthsKnown = true;
    } resume;
};

// Parses a text-mode listing answer (the bytes read since the command was written, echo included).
// Records end where their announced length says, so a text holding "OK", "RING" or a "+CMGL:" line of
// its own is never taken apart; without lengths a record's text ends before the next header line or before
// the final result line that closes the answer. A record whose end has not arrived is not returned.
// In PDU mode (pduMode) a record is a header "+CMGL: index,stat,[alpha],length" and one line of hex.
// Given the parse of a start of the same answer (earlier), it goes on from that parse's resume point, so
// that an answer read in pieces is parsed once in all; the result is the same as parsing from the start.
ListingParse ParseListing(const QByteArray& answer, bool pduMode = false, ListingParse earlier = {});

// The text of a text-mode listing record from its body bytes: a message the sender wrote in UCS2 comes as hex
// whose length the header announces in UCS2 characters, octets or hex digits (modems differ); any other
// body, and a hex one without a length, is read in the set in use. What cannot be read is kept as it came.
QString ListingText(const QByteArray& body, int announcedLength, Charset::Set set);

// The header of a PDU-mode listing record; Length is the TPDU length it announces.
std::optional<SIMMessage> ParsePduListingHeader(const QByteArray& line);

// The meaning of a +CMS ERROR number in words (3GPP TS 27.005 and the network causes it passes on), empty
// for a number it does not know.
QString CmsErrorMeaning(int number);
// The meaning of a +CME ERROR number in words, empty for one it does not know.
QString CmeErrorMeaning(int number);

// The service-centre time stamp of a listing header ("yy/MM/dd,hh:mm:ss+zz", zz in quarter hours, or
// "yyyy/MM/dd hh:mm:ss+zz") as the moment it names; invalid when the text is none.
QDateTime ParseServiceCentreTime(const QString& timestamp);

// The text without any CR LF pair.
QString RemoveCrLf(const QString& s);

// Parts of 160 characters (the last one shorter); an empty text has no part.
QStringList SplitIntoParts(const QString& text, int partLength = 160);

// The identity line of an AT+CGMI / AT+CGMM answer: the first line that is neither the echo, nor empty,
// nor the final result, blanks trimmed.
QString IdentityLine(const QString& response);

// One call of an AT+CLCC answer: +CLCC: id,dir,stat,mode,mpty[,"number",type].
struct CallEntry {
    int id = 0;
    int direction = 0; // 0 outgoing, 1 incoming
    int state = 0;     // 0 active, 1 held, 2 dialing, 3 alerting, 4 incoming, 5 waiting
    int mode = 0;      // 0 voice, 1 data, 2 fax, ...
    QString number;
};
std::vector<CallEntry> ParseCallList(const QString& response);

// The state of the first voice call listed in an AT+CLCC answer ("Active", "Held", "Dialing", "Alerting",
// "Incoming", "Waiting", or empty for another value); data connections (mode 1, listed by LTE modules for
// their packet-data link) are no calls. Without a voice call: "ERROR" when the answer holds ERROR,
// otherwise the answer itself.
QString CallStatusFromResponse(const QString& response);

// The number of a "+CMGS: n", "+CMSS: n" or "+CMGW: n" line of an answer, empty when there is none.
QString ParseResultNumber(const QString& response, const char* prefix);
QString ParseCmgwIndex(const QString& response);

// The caller's number of the first +CLIP or +CLCC line in a text, empty when there is none.
QString ExtractCallerNumber(const QString& text);

// The modem character set a settings item stands for: "GSM" is GSM, "ASCII" and "CDMA" are IRA, "ANSI" is
// 8859-1; a modem's own name (IRA, UCS2, ...) stands for itself.
QString ModemCharacterSet(const QString& settingsItem);
// The sets of an AT+CSCS=? answer (+CSCS: ("IRA","GSM","UCS2")); empty when the answer lists none.
QStringList ParseCharacterSets(const QString& answer);
// The text-mode parameters of an AT+CSMP? answer ("17,167,0,0"), empty when there are none.
QString ParseCsmp(const QString& answer);
// The set to use: the wanted one when the modem has it (or did not say what it has), else GSM, else IRA.
QString ChooseCharacterSet(const QString& wanted, const QStringList& supported);
