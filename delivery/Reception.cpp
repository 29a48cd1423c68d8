#include "delivery/Reception.h"

#include "common/AppState.h"
#include "common/FunctionsLibrary.h"
#include "common/Paths.h"
#include "common/Seams.h"
#include "delivery/DeliveryNews.h"
#include "delivery/OutboxRun.h"
#include "delivery/ReportMatcher.h"
#include "modem/AtParse.h"
#include "modem/ModemLink.h"
#include "modem/ModemRoutines.h"
#include "modem/Pdu.h"
#include "store/ActivityLog.h"
#include "store/Database.h"
#include "store/OptOutRepository.h"

#include <QMap>
#include <algorithm>
#include <optional>

QString NormaliseSenderNumber(const QString& listed)
{
    const QString t = Trim(listed);
    if (t.startsWith(QLatin1Char('+')))
        return t;
    if (t.size() > 10)
        return t.startsWith(QLatin1Char('0')) ? t : QLatin1Char('+') + t;
    return QLatin1Char('+') + t;
}

void InboxAnnouncer::announce(const QString& number, const QString& text, const QDateTime& received, qint64 id)
{
    if (news.inboxMessageStored) {
        QString shown = Trim(text);
        shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        news.inboxMessageStored(Trim(number), shown, received, id);
    }
    state.sound->PlayWaveFile(ProgramFile(QStringLiteral("SMSNotify.wav")), true);
    if (news.messageReceived)
        news.messageReceived(number, text);
}

PartsJoiner::PartsJoiner(AppState& state, Database& db, ActivityLog& log, InboxAnnouncer& announcer)
    : state(state), db(db), inbox(db), parts(db), log(log), announcer(announcer)
{}

bool PartsJoiner::join()
{
    bool stored = false;
    try {
        // Joined parts whose SIM copies are gone are no longer needed.
        parts.dropJoinedParts();
        const QList<PartsGroup> ready = parts.groupsReady(state.clock->now().addSecs(-PartsWaitHours * 3600));
        for (const PartsGroup& g : ready) {
            db.beginTransaction();
            try {
                QMap<int, QString> texts;
                QDateTime sentOn;
                for (const StoredPart& p : parts.partsOf(g)) {
                    if (!texts.contains(p.number))
                        texts.insert(p.number, p.text);
                    if (p.number == 1 || !sentOn.isValid())
                        sentOn = p.number == 1 ? p.sentOn : std::min(sentOn.isValid() ? sentOn : p.sentOn, p.sentOn);
                }
                // A part that never came is marked where it belongs, so that what did come is not lost.
                QString text;
                for (int n = 1; n <= g.count; ++n)
                    text += texts.contains(n) ? texts.value(n)
                                              : QStringLiteral("[part %1 of %2 did not arrive]").arg(n).arg(g.count);
                const qint64 id =
                    inbox.storeInboxMessage(g.number, text, sentOn.isValid() ? sentOn : state.clock->now(),
                                            std::nullopt, announcer.about().modemId, announcer.about().modemName);
                parts.markJoined(g, id);
                db.commit();
                if (texts.size() < g.count)
                    log.WriteActivityLog(
                        QStringLiteral("An SMS from %1 in %2 parts is stored with %3 of them: the others did not "
                                       "arrive within %4 hours.")
                            .arg(g.number)
                            .arg(g.count)
                            .arg(texts.size())
                            .arg(PartsWaitHours));
                stored = true;
                announcer.announce(g.number, text, sentOn.isValid() ? sentOn.toLocalTime() : state.clock->now(), id);
            } catch (const DbError&) {
                db.rollback();
                throw;
            }
        }
    } catch (const DbError& e) {
        log.WriteActivityLog(QStringLiteral("**ERROR** The parts of a long SMS could not be joined (%1). They are "
                                            "kept and joined at the next check.")
                                 .arg(e.description()));
    }
    return stored;
}

struct Reception::Current {
    int deletionsLeft = 0;
    std::function<void()> finished;
};

Reception::Reception(AppState& state, Database& db, ActivityLog& log, ModemLink& link, ReportMatcher& reports,
                     const DeliveryNews& news)
    : state(state), inbox(db), parts(db), log(log), link(link), reports(reports), news(news), announcer(state, news),
      joiner(state, db, log, announcer), db(db)
{}

Reception::~Reception() = default;

bool Reception::start(qint16 listWait, std::function<void()> finished)
{
    if (current)
        return false;
    if (!news.connected()) {
        state.dialogs->message(NotCommunicatingText());
        if (finished)
            finished();
        return true;
    }
    current = std::make_unique<Current>();
    current->finished = std::move(finished);
    link.request<ListResult>(
        ModemLink::Work::Listing,
        [listWait](ModemRoutines& modem) { return modem.ListSIMMessages(QStringLiteral("ALL"), listWait); }, nullptr,
        [this](const ListResult& r) { listed(r); });
    return true;
}

void Reception::listed(const ListResult& r)
{
    if (!current)
        return;
    if (r.aborted || r.portClosed) {
        end(); // disconnected meanwhile: nothing was listed
        return;
    }
    const int count = int(r.records.size());
    if (count < 1) {
        log.Write(ActivityLog::Check::Reception, QStringLiteral("No new SMS found on SIM card."));
        if (joiner.join())
            news.inboxTouched();
        end();
        return;
    }
    log.Write(ActivityLog::Check::Reception,
              QStringLiteral("Received total %1 new SMS. They have been put in 'Inbox'.").arg(count));
    log.Show(ActivityLog::Check::Reception);
    if (news.receptionProgress)
        news.receptionProgress(count, false);

    // Marks of copies listed no longer are stale (deleted, or the SIM was changed).
    QList<int> listedIndexes;
    for (const SIMMessage& m : r.records)
        listedIndexes << Trim(m.Index).toInt();
    try {
        inbox.clearStaleSimMarks(listedIndexes);
    } catch (const DbError&) {
        // Harmless: a stale mark only matters for an identical message at the same index.
    }

    bool anyReceived = false;
    for (const SIMMessage& m : r.records) {
        if (m.Status != QLatin1String("REC READ") && m.Status != QLatin1String("REC UNREAD"))
            continue; // stored outgoing messages stay on the SIM
        const int index = Trim(m.Index).toInt();
        std::optional<Pdu::Deliver> pdu;
        if (!m.Pdu.isEmpty()) {
            const Pdu::Type type = Pdu::typeOf(m.Pdu);
            if (type == Pdu::Type::StatusReport) {
                // A delivery report kept on the SIM: once it is on its row, it is deleted.
                if (reports.record(Pdu::decodeStatusReport(m.Pdu)))
                    deleteFromSim(index, {});
                continue;
            }
            if (type != Pdu::Type::Deliver)
                continue;
            pdu = Pdu::decodeDeliver(m.Pdu);
            if (!pdu->ok()) {
                log.WriteActivityLog(QStringLiteral("**ERROR** The SMS at %1 on the SIM card cannot be read (%2). It "
                                                    "stays on the SIM card.")
                                         .arg(index)
                                         .arg(pdu->error));
                continue;
            }
        }
        const QString number = NormaliseSenderNumber(m.Number);
        // Received On is when the service centre took the message, when the listing says; else now.
        const QDateTime sentOn = m.SentOn.isValid() ? m.SentOn : ParseServiceCentreTime(m.Timestamp);
        const QDateTime now = sentOn.isValid() ? sentOn.toLocalTime() : state.clock->now();
        if (pdu && pdu->concatenation.isPart()) {
            // One part of a long message: kept until the others have come.
            const Pdu::Concatenation& c = pdu->concatenation;
            qint64 partId = 0;
            try {
                partId = parts.storePart(number, c.reference, c.total, c.sequence, pdu->text, now, state.clock->now(),
                                         index);
            } catch (const DbError& e) {
                log.WriteActivityLog(
                    QStringLiteral("**ERROR** A part of an SMS from %1 could not be stored (%2). It stays on "
                                   "the SIM card until the next check.")
                        .arg(number, e.description()));
                break;
            }
            deleteFromSim(index, [this, partId] { parts.forgetSimCopy(partId); });
            continue;
        }
        qint64 id = 0;
        bool stored = false;
        try {
            // Stored by a run that stopped before deleting the SIM copy: only the deletion is left to do.
            if (const std::optional<qint64> already = inbox.findStoredCopy(index, number, m.Text, now, news.modemId)) {
                id = *already;
                stored = true;
            } else {
                id = inbox.storeInboxMessage(number, m.Text, now, index, news.modemId, news.modemName);
            }
        } catch (const DbError& e) {
            // The message stays on the SIM and is imported by the next run; deleting it would lose it.
            log.WriteActivityLog(
                QStringLiteral("**ERROR** The SMS from %1 could not be put in the Inbox (%2). It stays on "
                               "the SIM card until the next check.")
                    .arg(number, e.description()));
            break;
        }
        honourOptOut(number, m.Text);
        if (!stored) {
            anyReceived = true;
            announcer.announce(number, m.Text, now, id);
        }
        // Deleted from the SIM only now that its row is stored.
        deleteFromSim(index, [this, id] { inbox.forgetSimCopy(id); });
    }
    anyReceived = joiner.join() || anyReceived;
    if (anyReceived)
        news.inboxTouched();
    if (current && current->deletionsLeft == 0)
        end();
}

void Reception::honourOptOut(const QString& number, const QString& text)
{
    try {
        const OptOutSettings settings = ReadOptOutSettings(db);
        const OptOutRequest request = ClassifyOptOutText(text, settings.stopWords);
        if (request == OptOutRequest::None)
            return;
        OptOutRepository optOut(db);
        if (request == OptOutRequest::Start) {
            if (settings.startRemoves && optOut.remove(number))
                log.WriteActivityLog(
                    QStringLiteral("%1 asked to receive messages again (START): removed from the opt-out list.")
                        .arg(number));
            return;
        }
        // The list entry, the rows held back and the answer stand or fall together.
        db.beginTransaction();
        int heldBack = 0;
        bool added = false;
        try {
            added = optOut.add(number, state.clock->now(), news.modemId, Trim(text).toUpper());
            heldBack = optOut.optOutQueuedRows(number);
            if (added && settings.confirm && !Trim(settings.confirmText).isEmpty())
                optOut.queueConfirmation(number, settings.confirmText, state.clock->now(), news.modemId);
            db.commit();
        } catch (const DbError&) {
            db.rollback();
            throw;
        }
        QString line = added ? QStringLiteral("%1 asked not to receive messages (%2): added to the opt-out list.")
                             : QStringLiteral("%1 asked not to receive messages (%2): already on the opt-out list.");
        line = line.arg(number, Trim(text).toUpper());
        if (heldBack > 0)
            line += QStringLiteral(" %1 waiting message(s) to it marked OPTED OUT.").arg(heldBack);
        log.WriteActivityLog(line);
        if (heldBack > 0)
            news.outboxTouched();
    } catch (const DbError& e) {
        log.WriteActivityLog(
            QStringLiteral("**ERROR** The request of %1 not to receive messages could not be recorded (%2).")
                .arg(number, e.description()));
    }
}

void Reception::deleteFromSim(int index, std::function<void()> deleted)
{
    if (current)
        ++current->deletionsLeft;
    link.request<CommandResult>(
        ModemLink::Work::Deletion, [index](ModemRoutines& modem) { return modem.DeleteSIMMessage(index); }, nullptr,
        [this, deleted = std::move(deleted)](const CommandResult& result) {
            if (result.ok && deleted) {
                try {
                    deleted();
                } catch (const DbError&) {
                    // The mark is cleared when the index is no longer listed.
                }
            }
            if (current && --current->deletionsLeft == 0)
                end();
        });
}

void Reception::end()
{
    if (!current)
        return;
    auto finished = std::move(current->finished);
    current.reset();
    if (news.receptionProgress)
        news.receptionProgress(0, true);
    if (finished)
        finished();
}
