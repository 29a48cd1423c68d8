// ITU-T E.164 country calling codes, the reference data of the Country table.
#pragma once

#include <QStringList>

// Every code once, longer codes first (1242 before 1, 971 before 97...), because the caller
// identification takes the first code that prefixes a number.
QStringList CountryCallingCodes();
