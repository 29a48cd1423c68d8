// Delivery and reception end to end (timers' work, modem thread, simulator): the program's own time beyond
// the prescribed pacing in a delivery run, and a full SIM read over a 9600 baud line against the time its
// bytes need on the line.
#include "EngineRig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("SKIP_DELIVERY")) {
        EngineRig rig(EngineRig::Line::Terminal);
        rig.sim.setEcho(false);
        if (!rig.connectModem())
            return 1;
        const int messages = 500;
        rig.db.beginTransaction();
        for (int i = 0; i < messages; ++i)
            rig.queue(QStringLiteral("98888%1").arg(10000 + i), QStringLiteral("Message number %1").arg(i));
        rig.db.commit();
        const qint64 paced = rig.engine.pacedMs();
        QElapsedTimer t;
        t.start();
        rig.sendAllAndWait();
        const double total = t.nsecsElapsed() / 1e6;
        const double prescribed = double(rig.engine.pacedMs() - paced);
        const qint64 sent =
            rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'"));
        std::printf("delivery of %d one-part messages: %lld sent in %.1f s; prescribed pacing %.1f s; the program's "
                    "own time %.2f s = %.2f%% of the run (%.2f ms per message)\n",
                    messages, sent, total / 1000, prescribed / 1000, (total - prescribed) / 1000,
                    100.0 * (total - prescribed) / total, (total - prescribed) / messages);
    }
    {
        EngineRig rig(EngineRig::Line::Terminal);
        rig.sim.setEcho(false);
        rig.sim.setSimCapacity(255);
        rig.sim.setBaudRate(9600);
        if (!rig.connectModem())
            return 1;
        const int messages = 255;
        for (int i = 0; i < messages; ++i)
            rig.sim.storeMessage(
                QStringLiteral("REC UNREAD"), QStringLiteral("+9198888%1").arg(10000 + i),
                QStringLiteral("Incoming message number %1, with some words in it to be realistic.").arg(i));
        const qint64 before = rig.sim.bytesSent();
        QElapsedTimer t;
        t.start();
        rig.engine.ReceiveNow();
        auto inbox = [&] { return rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox")); };
        if (!QTest::qWaitFor([&] { return inbox() >= messages; }, 300000))
            std::printf("not all messages were imported\n");
        const double imported = t.nsecsElapsed() / 1e6;
        const qint64 listingBytes = rig.sim.bytesSent() - before;
        if (!QTest::qWaitFor([&] { return !rig.engine.receiving(); }, 300000))
            std::printf("the reception did not end\n");
        const double emptied = t.nsecsElapsed() / 1e6;
        const double lineMs = listingBytes * 10 * 1000.0 / 9600;
        std::printf("reception of %d SIM messages at 9600 baud: %lld in the Inbox after %.1f s; the %lld bytes of the "
                    "listing need %.1f s on the line: %.2f times that; SIM emptied (%d left) after %.1f s, its %d "
                    "deletions paced at %d ms each\n",
                    messages, inbox(), imported / 1000, listingBytes, lineMs / 1000, imported / lineMs,
                    int(rig.sim.simMessages().size()), emptied / 1000, messages, 150);
    }
    {
        // What writing each Inbox row through to the disk before its SIM copy goes costs: one insert in its
        // own transaction, as reception does, with the database's synchronous=FULL and with NORMAL.
        TestRig rig;
        const int rows = 300;
        auto insertEach = [&] {
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < rows; ++i)
                rig.db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, "
                                             "InboxDateTime, SimIndex) VALUES (?, 0, ?, ?, ?)"),
                              {QStringLiteral("+919888812121"), QStringLiteral("A message of ordinary length."),
                               Database::DbTime(QDateTime::currentDateTimeUtc()), i});
            return t.nsecsElapsed() / 1e6 / rows;
        };
        const double full = insertEach();
        rig.db.execute(QStringLiteral("PRAGMA synchronous = NORMAL"));
        const double normal = insertEach();
        std::printf("one Inbox insert: %.3f ms with synchronous=FULL, %.3f ms with NORMAL (%d each)\n", full, normal,
                    rows);
    }
    return 0;
}
