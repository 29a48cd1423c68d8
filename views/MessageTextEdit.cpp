#include "views/MessageTextEdit.h"

#include "common/LengthCounter.h"

#include <QTextBlock>

MessageTextEdit::MessageTextEdit(const QString& name, QWidget* parent) : QPlainTextEdit(parent)
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
    const auto fits = [this](QString plain) {
        plain.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        return FitsMessageField(plain, mode);
    };
    const QString plain = toPlainText();
    if (!fits(plain)) {
        // Refuse what does not fit of the text just typed or pasted, from its end; what was there stays. When
        // the change was no insertion, the end of the text goes.
        const int start = qBound(0, lastPosition, int(plain.size()));
        int end = qBound(start, lastPosition + lastAdded, int(plain.size()));
        int from = start;
        if (end == start || !fits(plain.left(start) + plain.mid(end))) {
            from = 0;
            end = int(plain.size());
        }
        // The longest beginning of [from, end) that still fits, never splitting a surrogate pair.
        int lo = from, hi = end;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (fits(plain.left(mid) + plain.mid(end)))
                lo = mid;
            else
                hi = mid - 1;
        }
        if (lo > 0 && lo < plain.size() && plain.at(lo - 1).isHighSurrogate())
            --lo;
        cutting = true;
        QTextCursor c(document());
        c.setPosition(lo);
        c.setPosition(end, QTextCursor::KeepAnchor);
        c.removeSelectedText();
        setTextCursor(c);
        cutting = false;
    }
    Q_EMIT changed(text());
}
