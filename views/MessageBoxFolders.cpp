#include "views/MessageBoxFolders.h"

FolderOrder InitialFolderOrder(MessageFolder folder)
{
    return {FolderSortColumn::Date, folder != MessageFolder::Outbox};
}

bool ClickedFolderOrder(MessageFolder folder, int column, FolderOrder* order)
{
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
