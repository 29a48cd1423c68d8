// The parts of long messages received in PDU mode, kept until the whole message has come. Every statement
// binds its values; each operation throws DbError when the database fails.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class Database;

// A long message's parts from one sender under one reference.
struct PartsGroup {
    QString number;
    int reference = 0;
    int count = 0;
};

struct StoredPart {
    int number = 0;
    QString text;
    QDateTime sentOn;
};

class PartsRepository {
public:
    explicit PartsRepository(Database& db) : db(db) {}

    // The part's row: an existing one when the same part was stored before (and not joined, or joined from
    // this same SIM copy).
    qint64 storePart(const QString& number, int reference, int count, int partNumber, const QString& text,
                     const QDateTime& sentOn, const QDateTime& receivedOn, int simIndex);
    void forgetSimCopy(qint64 partId);
    // Drops joined parts whose SIM copies are gone.
    void dropJoinedParts();
    // Groups not joined yet that are complete, or whose first part came before waitedSince.
    QList<PartsGroup> groupsReady(const QDateTime& waitedSince);
    // The group's parts not joined yet, by part number (a repeated part in the order stored).
    QList<StoredPart> partsOf(const PartsGroup& group);
    void markJoined(const PartsGroup& group, qint64 inboxId);

private:
    Database& db;
};
