// The Inbox rows reception writes. Every statement binds its values; each operation throws DbError when the
// database fails.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

class Database;

class InboxRepository {
public:
    explicit InboxRepository(Database& db) : db(db) {}

    // Forgets the SIM index of rows whose copy is not among these listed indexes.
    void clearStaleSimMarks(const QList<int>& listedIndexes);
    // The row a stopped reception stored from this SIM copy, if any.
    std::optional<qint64> findStoredCopy(int simIndex, const QString& number, const QString& text,
                                         const QDateTime& received, int modem = 0);
    // A new Inbox row; simIndex, when given, is kept until the SIM copy is deleted. The receiving modem (0:
    // not known) is kept with its name at this time.
    qint64 storeInboxMessage(const QString& number, const QString& text, const QDateTime& received,
                             std::optional<int> simIndex = std::nullopt, int modem = 0, const QString& modemName = {});
    void forgetSimCopy(qint64 id);

    // What the message box reads when a message is opened: its text (nothing when the row is gone), and the
    // mark that it was read.
    std::optional<QString> messageText(qint64 id);
    void markRead(qint64 id);

private:
    Database& db;
};
