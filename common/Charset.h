// The character sets a GSM modem speaks (the names of AT+CSCS) and the arithmetic of SMS parts: text to and
// from the GSM 7-bit default alphabet, IRA, ISO 8859-1 and UCS2 hex, and which encoding and how many parts an
// outgoing message takes. Pure functions; the modem link, the windows that count characters and the modem
// simulator share them.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace Charset {

enum class Set {
    Gsm,    // GSM 7-bit default alphabet, one byte per septet (escape + code for the extension table)
    Ira,    // 7-bit ASCII
    Latin1, // ISO 8859-1
    Ucs2,   // UTF-16 big-endian code units written as hex text, four digits per unit
};

// The set a modem calls "GSM", "IRA", "8859-1" or "UCS2" (any case); nothing for another name.
std::optional<Set> fromName(QStringView name);
// The modem's name of a set ("GSM", "IRA", "8859-1", "UCS2").
QString name(Set set);

struct Encoded {
    QByteArray bytes; // empty when a character could not be encoded
    // Positions in the text (UTF-16 index) of the characters the set cannot carry, in order; a surrogate pair
    // is reported once, at its first unit.
    QList<qsizetype> unencodable;
    bool ok() const { return unencodable.isEmpty(); }
};

struct Decoded {
    QString text;           // what was decoded before the first error
    QString error;          // empty when the bytes were sound
    qsizetype errorAt = -1; // offset in the bytes of the first error
    bool ok() const { return error.isEmpty(); }
};

// Text to the bytes the modem expects in that set. With GSM, allowExtension false refuses the characters that
// need the escape to the extension table, and also "Ξ", whose code 0x1A is the Ctrl-Z that ends text entry:
// both end an AT+CMGS text early on many modems, so text mode may use neither.
Encoded encode(QStringView text, Set set, bool allowExtension = true);
Decoded decode(QByteArrayView bytes, Set set);
bool canEncode(QStringView text, Set set, bool allowExtension = true);

// Septets one UTF-16 unit takes in the GSM alphabet: 1, 2 for an extension-table character, 0 when it has none.
int gsmSeptets(char16_t c, bool allowExtension = true);

// Text mode sends each part as a separate SMS; PDU mode joins parts with a concatenation header.
enum class Mode { Text, Pdu };
enum class Encoding { Gsm7, Ucs2 };

struct Count {
    Encoding encoding = Encoding::Gsm7;
    int units = 0;     // septets (an escaped character counts two) or UTF-16 units (an emoji counts two)
    int parts = 1;     // an empty text is still one (empty) message
    int perPart = 160; // capacity of each part in units
};

// How a message of that text goes out: GSM 7-bit when every character fits the alphabet the mode allows
// (basic table only in text mode, extension too in PDU mode), otherwise UCS2.
Count count(QStringView text, Mode mode);
// The text cut into the parts count() reports; an escaped character or a surrogate pair is never cut.
QStringList split(QStringView text, Mode mode);
// The same with the encoding chosen by the caller; characters GSM cannot carry count as one septet here.
QStringList split(QStringView text, Mode mode, Encoding encoding);
// Capacity in units of a message sent whole, and of each part of a longer one.
int singleCapacity(Mode mode, Encoding encoding);
int partCapacity(Mode mode, Encoding encoding);

} // namespace Charset
