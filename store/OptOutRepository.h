// The opt-out list: numbers whose owners asked not to receive messages (a stop word sent back, or added by
// hand), and the settings that govern it. A number is known by its key, its last nine digits, so that
// "+44 7700 900123", "00447700900123" and "07700900123" are one person whatever way a list or a reply spelt
// it. Every operation throws DbError when the database fails.
#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class Database;

// The digits of a number, at most the last nine: what the list and the Outbox rows are compared by.
QString OptOutKey(const QString& number);

// What an incoming text asks for: nothing, to stop (one of the stop words) or to start again ("START").
enum class OptOutRequest { None, Stop, Start };
// The text, with blanks around it removed and case ignored, compared whole with each word.
OptOutRequest ClassifyOptOutText(const QString& text, const QStringList& stopWords);

struct OptOutEntry {
    QString key;
    QString number; // as it was received or typed
    QDateTime added;
    int modem = 0; // the modem the stop word came through; 0 when added by hand
    QString word;  // the stop word, empty when added by hand
};

struct OptOutSettings {
    QStringList stopWords = DefaultStopWords();
    bool confirm = false; // answer a stop word once with confirmText
    QString confirmText;
    bool startRemoves = false; // "START" from a listed number takes it off the list

    static QStringList DefaultStopWords();
};

OptOutSettings ReadOptOutSettings(Database& db);
void WriteOptOutSettings(Database& db, const OptOutSettings& settings);

class OptOutRepository {
public:
    static constexpr const char* OptedOutStatus = "OPTED OUT";

    explicit OptOutRepository(Database& db) : db(db) {}

    // Puts a number on the list; false when its key was already there (the first entry is kept).
    bool add(const QString& number, const QDateTime& at, int modem = 0, const QString& word = {});
    // Takes a number off the list; false when it was not there.
    bool remove(const QString& number);
    bool contains(const QString& number);
    // The whole list, the most recent first.
    QList<OptOutEntry> list();
    qint64 count();
    // Every key on the list, for checking many numbers at once (OptOutKey of each).
    QSet<QString> keys();

    // Every row still waiting to be sent to this number (by key) becomes OPTED OUT; gives how many. A row under
    // submission (SENDING) is left to its outcome; a confirmation of the opt-out itself is left to be sent.
    int optOutQueuedRows(const QString& number);
    // One row taken for sending, found on the list.
    void markOptedOut(qint64 outboxId);
    // Queues the confirmation answer, which the list does not hold back.
    qint64 queueConfirmation(const QString& number, const QString& text, const QDateTime& at, int modem);

private:
    Database& db;
};
