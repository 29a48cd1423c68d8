// How the message box orders its folders: the first order of each folder and the order a click on a column
// header asks for. The folders themselves come from store/FoldersRepository.
#pragma once

#include "store/FoldersRepository.h"

// The first order of each folder when the window opens: Inbox newest first, Outbox oldest first, Sent
// Items by delivery, newest first.
FolderOrder InitialFolderOrder(MessageFolder folder);

// The list column of the modem that received or sent a row: the last, after the folder's own columns; -1 for
// the Outbox, which has none.
int ModemColumn(MessageFolder folder);

// The Outbox's column of the time a row is to be sent at: the last, shown only while a waiting row has one; -1
// for the other folders.
int SendAtColumn(MessageFolder folder);

// The order a click on a column header asks for; nothing for columns that only refill. Clicked orders are
// ascending, except Sent Items by delivery date, which is always newest first.
bool ClickedFolderOrder(MessageFolder folder, int column, FolderOrder* order);
