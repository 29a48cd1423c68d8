#include "modem/MSComm.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#include <poll.h>

bool ParseCommSettings(const QString& text, LineSettings* out)
{
    const QStringList f = text.split(QLatin1Char(','));
    if (f.size() != 4)
        return false;
    LineSettings s;
    bool ok = false;
    s.baud = f[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0)
        return false;
    const QString parity = f[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return false;
    const int bits = f[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);
    const QString stop = f[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return false;
    if (out)
        *out = s;
    return true;
}

MSComm::MSComm(QObject* parent) : ModemTransport(parent)
{
    serial.setParent(this); // moves to the modem thread with this object

    setObjectName(QStringLiteral("MSComm1"));
    connect(&serial, &QSerialPort::readyRead, this, &MSComm::readyRead);
    connect(&serial, &QSerialPort::errorOccurred, this, &MSComm::portError);
}

MSComm::~MSComm()
{
    if (serial.isOpen())
        serial.close();
}

void MSComm::setDTREnable(bool on)
{
    dtrEnable = on;
    if (serial.isOpen()) {
        serial.setDataTerminalReady(on); // a pseudo-terminal cannot: not an error
        serial.clearError();
    }
}

bool MSComm::PortOpen() const
{
    return serial.isOpen() && !hangingUp;
}

MSComm::Error MSComm::setPortOpen(bool open, const PortPaths& paths)
{
    if (!open) {
        if (serial.isOpen())
            serial.close();
        hangingUp = false;
        return {};
    }
    if (serial.isOpen())
        return {PortAlreadyOpen, QStringLiteral("Port already open")};

    LineSettings line;
    if (!ParseCommSettings(settings, &line))
        return {InvalidPropertyValue, QStringLiteral("Invalid property value (port settings \"%1\")").arg(settings)};
    const QString device = ResolveComPort(paths, commPort);
    if (device.isEmpty())
        return {InvalidPortNumber,
                QStringLiteral("Invalid port number (no serial device answers to COM %1)").arg(commPort)};

    serial.setPortName(device);
    devicePath = device;
    serial.clearError();
    if (!serial.open(QIODevice::ReadWrite)) {
        const auto e = serial.error();
        const QString why = serial.errorString();
        serial.clearError();
        switch (e) {
        case QSerialPort::DeviceNotFoundError:
            return {InvalidPortNumber, QStringLiteral("Invalid port number (%1 does not exist)").arg(device)};
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
            return {PortAlreadyOpen,
                    QStringLiteral("Port already open (%1 is in use by another program or not accessible: %2)")
                        .arg(device, why)};
        default:
            return {HardwareNotAvailable, QStringLiteral("The hardware is not available (%1: %2)").arg(device, why)};
        }
    }
    const bool set = serial.setBaudRate(line.baud) && serial.setDataBits(line.dataBits) &&
                     serial.setParity(line.parity) && serial.setStopBits(line.stopBits) &&
                     serial.setFlowControl(handshaking == 2   ? QSerialPort::HardwareControl
                                           : handshaking == 1 ? QSerialPort::SoftwareControl
                                                              : QSerialPort::NoFlowControl);
    if (!set) {
        const QString why = serial.errorString();
        serial.close();
        serial.clearError();
        return {
            CouldNotSetCommState,
            QStringLiteral("Could not set comm state, there may be one or more invalid communication parameters (%1)")
                .arg(why)};
    }
    // DTR and RTS: devices that cannot (pseudo-terminals) refuse, which is not an error.
    serial.setDataTerminalReady(dtrEnable);
    serial.clearError();
    baud = line.baud;
    hangingUp = false;
    return {};
}

void MSComm::Output(const QByteArray& bytes)
{
    if (!PortOpen())
        return;
    serial.write(bytes);
    // write() only queues: push it out now, so that pacing is measured from when the bytes left.
    while (serial.isOpen() && !hangingUp && serial.bytesToWrite() > 0)
        if (!serial.waitForBytesWritten(1000))
            break;
}

QByteArray MSComm::Input()
{
    if (!PortOpen())
        return {};
    return serial.readAll();
}

bool MSComm::waitForInput(int ms)
{
    if (!PortOpen()) {
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
        return false;
    }
    if (serial.waitForReadyRead(ms)) // emits readyRead, hence OnComm, before it returns
        return true;
    // The wait does not tell a device that went away (an unplugged modem, a closed pseudo-terminal) from
    // silence; the descriptor does.
    pollfd fd{int(serial.handle()), POLLIN, 0};
    if (fd.fd >= 0 && ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        goneAway();
    return false;
}

void MSComm::readyRead()
{
    readErrorsInARow = 0;
    if (inOnComm || hangingUp)
        return;
    commEvent = comEvReceive;
    inOnComm = true;
    Q_EMIT OnComm();
    inOnComm = false;
}

void MSComm::portError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return;
    if (!serial.isOpen() || hangingUp)
        return;
    if (error != QSerialPort::ResourceError && QFileInfo::exists(devicePath) && ++readErrorsInARow < 50) {
        // A read that found nothing after all (the descriptor was reported readable, then the bytes had
        // been taken by a wait) is reported as a read error too; only a device that keeps failing is gone.
        serial.clearError();
        return;
    }
    goneAway();
}

void MSComm::goneAway()
{
    if (hangingUp || !serial.isOpen())
        return;
    // Closing from inside the port's own signal is not safe: close on the next turn of the event loop, and
    // behave as closed from now on.
    hangingUp = true;
    serial.clearError();
    QMetaObject::invokeMethod(this, &MSComm::finishHangUp, Qt::QueuedConnection);
    Q_EMIT hungUp();
}

void MSComm::finishHangUp()
{
    if (hangingUp && serial.isOpen())
        serial.close();
    hangingUp = false;
}

namespace {

class SteadyClock : public ModemClock {
public:
    qint64 nowMs() const override { return started.elapsed(); }
    SteadyClock() { started.start(); }

private:
    QElapsedTimer started;
};

} // namespace

ModemClock& ModemClock::steady()
{
    static SteadyClock clock;
    return clock;
}
