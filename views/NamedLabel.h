// A label that carries its control name, as every window's labels do, optionally in bold.
#pragma once

#include <QLabel>

inline QLabel* NamedLabel(const QString& name, const QString& caption, QWidget* parent, bool bold = false)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}
