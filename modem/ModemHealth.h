// What a connected modem says of its radio and SIM, as the health poll reads it (AT+CSQ, AT+CREG?,
// AT+COPS?, AT+CIMI, AT+CCID). Unknown values stay at their defaults.
#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

struct ModemHealth {
    // 27.007 registration states (+CREG: <n>,<stat>); Unknown also when the modem did not answer. LTE modules
    // registered for SMS only (6, 7) or without circuit-switched fallback preferred (9, 10) still send SMS.
    enum class Registration {
        NotRegistered = 0,
        Home = 1,
        Searching = 2,
        Denied = 3,
        Unknown = 4,
        Roaming = 5,
        HomeSmsOnly = 6,
        RoamingSmsOnly = 7,
        EmergencyOnly = 8,
        HomeCsfbNotPreferred = 9,
        RoamingCsfbNotPreferred = 10,
    };

    int rssi = 99; // AT+CSQ: 0..31, 99 not known or not detectable
    int ber = 99;
    Registration registration = Registration::Unknown;
    QString operatorName;      // AT+COPS? as the modem gives it (long, short or numeric)
    QString imsi;              // AT+CIMI
    QString iccid;             // AT+CCID
    int accessTechnology = -1; // <AcT> of AT+COPS? or +CREG (0 GSM, 2 UTRAN, 7 E-UTRAN, ...), -1 not given
    QDateTime checked;         // when the last poll ended; invalid before the first

    bool registered() const
    {
        switch (registration) {
        case Registration::Home:
        case Registration::Roaming:
        case Registration::HomeSmsOnly:
        case Registration::RoamingSmsOnly:
        case Registration::HomeCsfbNotPreferred:
        case Registration::RoamingCsfbNotPreferred:
            return true;
        default:
            return false;
        }
    }
    // The signal in dBm (-113 .. -51), or nothing for 99.
    int dbm() const { return rssi >= 0 && rssi <= 31 ? -113 + 2 * rssi : 0; }
    bool operator==(const ModemHealth&) const = default;
};

Q_DECLARE_METATYPE(ModemHealth)
