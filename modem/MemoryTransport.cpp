#include "modem/MemoryTransport.h"

#include "modem/MSComm.h"

namespace {

// A UART hands on what it has in pieces of about this size.
constexpr qsizetype PieceBytes = 64;

} // namespace

MemoryTransport::MemoryTransport(VirtualClock& clock, ModemPeer& peer, QObject* parent)
    : ModemTransport(parent), virtualClock(clock), peer(peer)
{}

ModemTransport::Error MemoryTransport::setPortOpen(bool opening, const PortPaths& paths)
{
    (void)paths;
    if (!opening) {
        open = false;
        arrivals.clear();
        inbound.clear();
        return {};
    }
    if (open)
        return {PortAlreadyOpen, QStringLiteral("Port already open")};
    LineSettings line;
    if (!ParseCommSettings(settings, &line))
        return {InvalidPropertyValue, QStringLiteral("Invalid property value (port settings \"%1\")").arg(settings)};
    if (const Error e = peer.opened(commPort, *this))
        return e;
    baud = line.baud;
    devicePath = QStringLiteral("memory:COM%1").arg(commPort);
    open = true;
    return {};
}

void MemoryTransport::Output(const QByteArray& bytes)
{
    if (open)
        peer.received(bytes, *this);
}

QByteArray MemoryTransport::Input()
{
    return std::exchange(inbound, {});
}

bool MemoryTransport::waitForInput(int ms)
{
    const qint64 deadline = virtualClock.nowMs() + std::max(ms, 0);
    if (!open || arrivals.empty() || arrivals.front().atMs > deadline) {
        virtualClock.advanceTo(deadline);
        return false;
    }
    virtualClock.advanceTo(arrivals.front().atMs);
    bool any = false;
    while (!arrivals.empty() && arrivals.front().atMs <= virtualClock.nowMs()) {
        Arrival a = std::move(arrivals.front());
        arrivals.pop_front();
        if (a.hangUp) {
            if (any)
                Q_EMIT OnComm(); // what came before the device went away is still read
            open = false;
            arrivals.clear();
            inbound.clear();
            Q_EMIT hungUp();
            return false;
        }
        inbound += a.bytes;
        any = true;
    }
    if (any)
        Q_EMIT OnComm();
    return any;
}

qint64 MemoryTransport::lineStartUs(qint64 delayMs) const
{
    return std::max((virtualClock.nowMs() + delayMs) * 1000, lineFreeUs);
}

void MemoryTransport::send(const QByteArray& bytes, qint64 delayMs)
{
    qint64 us = lineStartUs(delayMs);
    if (lineBaud <= 0) {
        arrivals.push_back({(us + 999) / 1000, bytes});
        lineFreeUs = us;
        return;
    }
    for (qsizetype at = 0; at < bytes.size(); at += PieceBytes) {
        const QByteArray piece = bytes.mid(at, PieceBytes);
        us += piece.size() * 10 * 1000000LL / lineBaud;
        arrivals.push_back({(us + 999) / 1000, piece});
    }
    lineFreeUs = us;
}

void MemoryTransport::hangUp(qint64 delayMs)
{
    const qint64 us = lineStartUs(delayMs);
    arrivals.push_back({(us + 999) / 1000, {}, true});
    lineFreeUs = us;
}
