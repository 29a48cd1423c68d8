// Settings of the ways other programs reach Broadtext: the receive hook, the local HTTP API and its webhooks.
// Kept as named values (Integration_setting) so that each of them can add a setting without a new column.
#pragma once

#include <QString>

class Database;

// How long the receive hook (and a webhook request) may take when the user set no limit.
constexpr int DefaultHookTimeoutSec = 10;

// The stored value, or fallback when the name has none.
QString ReadIntegrationValue(Database& db, const QString& name, const QString& fallback = {});
bool ReadIntegrationFlag(Database& db, const QString& name, bool fallback = false);
int ReadIntegrationNumber(Database& db, const QString& name, int fallback);

void WriteIntegrationValue(Database& db, const QString& name, const QString& value);
void WriteIntegrationFlag(Database& db, const QString& name, bool on);
void WriteIntegrationNumber(Database& db, const QString& name, int value);
