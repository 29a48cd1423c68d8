// A multi-line message field that holds at most a given number of characters, counting a line break as
// the two characters CR LF it is stored as. Typing or pasting beyond the limit is cut off.
#pragma once

#include <QPlainTextEdit>

class MessageTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageTextEdit(const QString& name, int maxLength = 480, QWidget* parent = nullptr);

    // The text with CR LF line breaks, as it is stored and counted.
    QString text() const;
    void setText(const QString& text);
    int maxLength() const { return limit; }

Q_SIGNALS:
    // The text changed (after any cut to the limit).
    void changed(const QString& text);

private:
    void enforce();
    int limit;
    bool cutting = false;
    int lastPosition = 0; // where the last change happened, and how much it added
    int lastAdded = 0;
};
