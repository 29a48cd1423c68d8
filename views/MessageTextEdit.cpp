#include "views/MessageTextEdit.h"

#include <QTextBlock>

MessageTextEdit::MessageTextEdit(const QString& name, int maxLength, QWidget* parent)
    : QPlainTextEdit(parent), limit(maxLength)
{
    setObjectName(name);
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &MessageTextEdit::enforce);
}

QString MessageTextEdit::text() const
{
    QString t = toPlainText();
    t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return t;
}

void MessageTextEdit::setText(const QString& t)
{
    QString plain = t;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(plain);
}

void MessageTextEdit::enforce()
{
    if (cutting)
        return;
    QString t = text();
    if (t.size() > limit) {
        // Cut at the limit; a CR LF pair that would be split goes as a whole.
        t.truncate(limit);
        if (t.endsWith(QLatin1Char('\r')))
            t.chop(1);
        cutting = true;
        const int cursorAt = textCursor().position();
        setText(t);
        QTextCursor c = textCursor();
        c.setPosition(qMin(cursorAt, toPlainText().size()));
        setTextCursor(c);
        cutting = false;
    }
    Q_EMIT changed(text());
}
