// The modem simulator's own SMS codec: the character sets a modem speaks (3GPP TS 23.038: the GSM 7-bit
// default alphabet with its extension table, IRA, ISO 8859-1, UCS2) and the PDUs it trades (TS 23.040: it
// reads SMS-SUBMIT and writes SMS-DELIVER and SMS-STATUS-REPORT). It is written apart from the program's
// codec on purpose: a simulator that decoded with the program's own functions would agree with any fault
// in them, and an end-to-end test would pass with both sides wrong.
//
// Hex texts handed in and out start with the service-centre field; the simulator always writes it empty
// ("00"). Pure functions.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace SimCodec {

enum class Set { Gsm, Ira, Latin1, Ucs2 };
// The set AT+CSCS calls "GSM", "IRA", "8859-1" or "UCS2" (any case).
std::optional<Set> setNamed(QStringView name);

// Text as GSM default-alphabet septets, one a byte (escape + code for the extension table); nothing when a
// character is in neither table.
std::optional<QByteArray> toGsm(QStringView text);
// Septets, one a byte, back to text; nothing when a byte is not a septet.
std::optional<QString> fromGsm(QByteArrayView septets);

// Text as the bytes a modem writes in the set; a character the set lacks comes out as "?" ("003F" in UCS2).
QByteArray toSet(QStringView text, Set set);
// Bytes written in the set, as text; nothing when they are not valid in it.
std::optional<QString> fromSet(QByteArrayView bytes, Set set);

// Septets (one a byte) packed into octets, least significant bit first, after fillBits zero bits; and back.
QByteArray packSeptets(QByteArrayView septets, int fillBits = 0);
QByteArray unpackSeptets(QByteArrayView octets, int count, int fillBits = 0);

// One PDU as AT+CMGS / AT+CMGL carry it, and the length those commands give (octets after the SMSC field).
struct Part {
    QString hex;
    int tpduLength = 0;
};

enum class Alphabet { Gsm7, EightBit, Ucs2 };

struct Submit {
    int tpduLength = 0;
    int messageReference = 0;
    QString destination; // "+digits" for an international number
    int destinationType = 0;
    int protocolId = 0;
    int dataCoding = 0;
    Alphabet alphabet = Alphabet::Gsm7;
    bool statusReport = false;
    std::optional<int> relativeValidity; // TP-VP octet when the PDU gives it in relative form
    int partReference = 0, partNumber = 0, partCount = 0;
    QString text; // 8-bit data: each octet as a Latin-1 character
};
// Nothing when the hex is not a sound SMS-SUBMIT (another type, a short or long field, a length that does not
// add up, a coding the network does not know).
std::optional<Submit> decodeSubmit(QStringView hex);

struct Deliver {
    QString sender;
    QDateTime sentOn;
    Alphabet alphabet = Alphabet::Gsm7;
    int partReference = 0, partNumber = 0, partCount = 0;
    QString text;
};
std::optional<Deliver> decodeDeliver(QStringView hex);

// The SMS-DELIVER parts a message comes in: GSM 7-bit when the text fits the alphabet and UCS2 was not asked
// for, else UCS2; a text longer than one message is cut into parts with a concatenation header, an escape or
// surrogate pair never cut (8-bit reference up to 255, 16-bit above). sentOn is written with its own offset
// from UTC. Empty when the sender cannot be written (a name the alphabet lacks or longer than 11 septets).
QList<Part> encodeDeliver(const QString& sender, const QString& text, const QDateTime& sentOn, int reference,
                          bool ucs2 = false);
// The same as SMS-SUBMIT parts (message reference 0, no validity period), as a modem lists a stored message.
QList<Part> encodeSubmit(const QString& destination, const QString& text, int reference = 0, bool ucs2 = false);
// An SMS-STATUS-REPORT for the message with that reference; an empty hex when the recipient cannot be written.
Part encodeStatusReport(int reference, const QString& recipient, const QDateTime& sentOn, const QDateTime& discharged,
                        int status);

} // namespace SimCodec
