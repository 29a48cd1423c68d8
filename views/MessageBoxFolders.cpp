#include "views/MessageBoxFolders.h"

FolderOrder InitialFolderOrder(MessageFolder folder)
{
    return {FolderSortColumn::Date, folder != MessageFolder::Outbox};
}

int ModemColumn(MessageFolder folder)
{
    // After the number, the message, the date and the hidden id; Sent Items have the delivery report first.
    switch (folder) {
    case MessageFolder::Inbox:
        return 4;
    case MessageFolder::SentItems:
        return 5;
    case MessageFolder::Outbox:
        break;
    }
    return -1;
}

int SendAtColumn(MessageFolder folder)
{
    // After the number, the message, the date, the hidden id, the status, the attempts and the reason.
    return folder == MessageFolder::Outbox ? 7 : -1;
}

bool ClickedFolderOrder(MessageFolder folder, int column, FolderOrder* order)
{
    if (column >= 0 && column == ModemColumn(folder)) {
        *order = {FolderSortColumn::Modem, false};
        return true;
    }
    if (column >= 0 && column == SendAtColumn(folder)) {
        *order = {FolderSortColumn::SendAt, false}; // rows sent as soon as they can first
        return true;
    }
    switch (column) {
    case 0:
        *order = {FolderSortColumn::Number, false};
        return true;
    case 1:
        *order = {FolderSortColumn::Message, false};
        return true;
    case 2:
        *order = {FolderSortColumn::Date, folder == MessageFolder::SentItems};
        return true;
    default:
        return false;
    }
}
