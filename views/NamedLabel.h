// Labels and buttons that carry their control names, as every window's do; a label optionally in bold, a
// button never the default one (Enter belongs to the field being typed in).
#pragma once

#include <QLabel>
#include <QPushButton>

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

inline QPushButton* NamedButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}
