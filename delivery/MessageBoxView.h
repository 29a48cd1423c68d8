// What the delivery run and reception need of an open message box window: news travels upward through
// this interface (the message box implements it), never by including the window.
#pragma once

#include <QDateTime>
#include <QString>

class MessageBoxView {
public:
    virtual ~MessageBoxView() = default;
    virtual bool isInBoxSelected() const = 0;
    virtual void fillTreeView() = 0;
    virtual void redraw() = 0;
    // A newly received message, shown at the top of the Inbox list in bold.
    virtual void addInboxRowAtTop(const QString& number, const QString& message, const QDateTime& received,
                                  qint64 id) = 0;
};
