// A multi-line message field that holds what fits a message (three SMS parts in the encoding the text will
// travel in), counting a line break as the two characters CR LF it is stored as. Typing or pasting beyond
// that is cut off.
#pragma once

#include "common/Charset.h"

#include <QPlainTextEdit>

class MessageTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageTextEdit(const QString& name, QWidget* parent = nullptr);

    // The text with CR LF line breaks, as it is stored and counted.
    QString text() const;
    void setText(const QString& text);
    // How the message will travel: it sets what fits.
    void setMode(Charset::Mode m) { mode = m; }

Q_SIGNALS:
    // The text changed (after any cut to the limit).
    void changed(const QString& text);

private:
    void enforce();
    bool cutting = false;
    Charset::Mode mode = Charset::Mode::Text;
    int lastPosition = 0; // where the last change happened, and how much it added
    int lastAdded = 0;
};
