// Choices of the user that are not about the modem or the messages, kept in broadtext.conf in the data
// folder (QSettings, INI format) rather than in the message database.
#pragma once

struct AppState;

// A notification (tray or status bar) for each new message and missed call; on unless switched off.
bool NotificationsEnabled(const AppState& state);
void SetNotificationsEnabled(const AppState& state, bool on);
