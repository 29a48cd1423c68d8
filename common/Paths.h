// Where Broadtext keeps its data and finds its files on Linux.
#pragma once

#include <QString>

// $XDG_DATA_HOME/broadtext, or ~/.local/share/broadtext when XDG_DATA_HOME is unset or not absolute.
QString DefaultDataDirectory();

// broadtext.conf in the data folder: the user's choices that are not about the modem or the messages.
QString PreferencesFilePath(const QString& dataDir);

// Creates the data folder (mode 0700) when it is missing, and makes an existing one owner-only. False with a
// reason when it cannot be made.
bool EnsureDataDirectory(const QString& dir, QString* error);

// Full path of one of the program's own files (sounds): beside the executable, in its sounds/ folder,
// or in the installed data folder. Returns the bare name when none exists.
QString ProgramFile(const QString& name);
