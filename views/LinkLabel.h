// A label that acts as a link: the hand cursor over it (when asked), a click signal, and an underline
// that can show an "active" state.
#pragma once

#include <QLabel>

class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& name, const QString& caption, bool handCursor, QWidget* parent = nullptr);
    void setUnderlined(bool on);
    bool isUnderlined() const { return font().underline(); }

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
