#include "views/LinkLabel.h"

#include <QMouseEvent>

LinkLabel::LinkLabel(const QString& name, const QString& caption, bool handCursor, QWidget* parent)
    : QLabel(caption, parent)
{
    setObjectName(name);
    if (handCursor)
        setCursor(Qt::PointingHandCursor);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 192));
    setPalette(p);
}

void LinkLabel::setUnderlined(bool on)
{
    QFont f = font();
    f.setUnderline(on);
    setFont(f);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (isEnabled() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QLabel::mouseReleaseEvent(event);
}
