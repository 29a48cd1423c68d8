// What a list (QTreeWidget) shows, as text: its column headers and one column's cells, top to bottom.
#pragma once

#include <QStringList>
#include <QTreeWidget>

inline QStringList HeaderTexts(const QTreeWidget* list, bool shownOnly = false)
{
    QStringList out;
    for (int c = 0; c < list->columnCount(); ++c)
        if (!shownOnly || !list->isColumnHidden(c))
            out << list->headerItem()->text(c);
    return out;
}

inline QStringList ColumnTexts(const QTreeWidget* list, int column)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(column);
    return out;
}
