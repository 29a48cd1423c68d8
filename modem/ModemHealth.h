// What a connected modem says of its radio and SIM, as the health poll reads it (AT+CSQ, AT+CREG?,
// AT+COPS?, AT+CIMI, AT+CCID). Unknown values stay at their defaults.
#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

struct ModemHealth {
    // 27.007 registration states (+CREG: <n>,<stat>); Unknown also when the modem did not answer.
    enum class Registration { NotRegistered = 0, Home = 1, Searching = 2, Denied = 3, Unknown = 4, Roaming = 5 };

    int rssi = 99; // AT+CSQ: 0..31, 99 not known or not detectable
    int ber = 99;
    Registration registration = Registration::Unknown;
    QString operatorName; // AT+COPS? as the modem gives it (long, short or numeric)
    QString imsi;         // AT+CIMI
    QString iccid;        // AT+CCID
    QDateTime checked;    // when the last poll ended; invalid before the first

    bool registered() const { return registration == Registration::Home || registration == Registration::Roaming; }
    // The signal in dBm (-113 .. -51), or nothing for 99.
    int dbm() const { return rssi >= 0 && rssi <= 31 ? -113 + 2 * rssi : 0; }
    bool operator==(const ModemHealth&) const = default;
};

Q_DECLARE_METATYPE(ModemHealth)
