#include "views/MessageTextEdit.h"

#include <QTextBlock>

MessageTextEdit::MessageTextEdit(const QString& name, int maxLength, QWidget* parent)
    : QPlainTextEdit(parent), limit(maxLength)
{
    setObjectName(name);
    setTabChangesFocus(true);
    connect(document(), &QTextDocument::contentsChange, this, [this](int position, int, int added) {
        lastPosition = position;
        lastAdded = added;
    });
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
    qsizetype excess = text().size() - limit;
    if (excess > 0) {
        // Refuse what does not fit of the text just typed or pasted, from its end; what was there stays.
        const QString plain = toPlainText();
        const int start = qBound(0, lastPosition, int(plain.size()));
        const int end = qBound(start, lastPosition + lastAdded, int(plain.size()));
        int cut = end;
        while (excess > 0 && cut > start) {
            --cut;
            excess -= plain.at(cut) == QLatin1Char('\n') ? 2 : 1;
        }
        while (excess > 0 && cut > 0) { // the change was not an insertion: cut from the end of the text
            --cut;
            excess -= plain.at(cut) == QLatin1Char('\n') ? 2 : 1;
        }
        cutting = true;
        QTextCursor c(document());
        c.setPosition(cut);
        c.setPosition(end > cut ? end : int(plain.size()), QTextCursor::KeepAnchor);
        c.removeSelectedText();
        setTextCursor(c);
        cutting = false;
    }
    Q_EMIT changed(text());
}
