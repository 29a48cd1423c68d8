// Delivery and reception through the simulator answering at once: the program's own time beyond the
// prescribed sleeps and pauses.
#include "EngineRig.h"
#include "common/FunctionsLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    {
        EngineRig rig;
        rig.sim.setEcho(false);
        if (!rig.connectModem())
            return 1;
        const int messages = 1000;
        rig.db.beginTransaction();
        for (int i = 0; i < messages; ++i)
            rig.queue(QStringLiteral("98888%1").arg(10000 + i), QStringLiteral("Message number %1").arg(i));
        rig.db.commit();
        rig.state.ActivityLogOn = true;
        const qint64 slept = rig.engine.modem.sleptMs;
        QElapsedTimer t;
        t.start();
        rig.engine.delivery.SendAllOutboxSMS();
        const double total = t.nsecsElapsed() / 1e6;
        const double prescribed = double(rig.engine.modem.sleptMs - slept + rig.engine.delivery.pausedMs);
        const qint64 sent =
            rig.db.count(QStringLiteral("SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'SENT'"));
        std::printf("delivery of %d one-part messages: %lld sent in %.1f s; prescribed sleeps and pauses %.1f s; the "
                    "program's own time %.2f s = %.2f%% of the total (%.2f ms per message)\n",
                    messages, sent, total / 1000, prescribed / 1000, (total - prescribed) / 1000,
                    100.0 * (total - prescribed) / total, (total - prescribed) / messages);
    }
    {
        EngineRig rig;
        rig.sim.setEcho(false);
        rig.sim.setSimCapacity(255);
        if (!rig.connectModem())
            return 1;
        const int messages = 255;
        for (int i = 0; i < messages; ++i)
            rig.sim.storeMessage(
                QStringLiteral("REC UNREAD"), QStringLiteral("+9198888%1").arg(10000 + i),
                QStringLiteral("Incoming message number %1, with some words in it to be realistic.").arg(i));
        const qint64 slept = rig.engine.modem.sleptMs;
        QElapsedTimer t;
        t.start();
        rig.engine.delivery.ReceiveAllSIMMessages(qint16(ScaledDelay(1.0, 400)));
        const double total = t.nsecsElapsed() / 1e6;
        const double prescribed = double(rig.engine.modem.sleptMs - slept);
        std::printf("reception of %d SIM messages: %lld in the Inbox, %d left on the SIM, in %.1f s; prescribed sleeps "
                    "%.1f s; beyond them %.3f s\n",
                    messages, rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox")),
                    int(rig.sim.simMessages().size()), total / 1000, prescribed / 1000, (total - prescribed) / 1000);
    }
    return 0;
}
