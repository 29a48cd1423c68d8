// The serial port control: the one port all modem traffic passes through, with the operations the modem
// routines use (port number, settings text, open and close, output, input, receive event).
//
// It only moves bytes, and it lives on the modem thread with the routines that use it. Bytes arrive as the
// receive event OnComm, both while that thread's event loop runs and inside waitForInput(). A device that
// vanishes while open (a USB modem unplugged, the simulator hung up) closes the port once and reports
// hungUp; it never floods the event loop with errors.
#pragma once

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include "modem/ComPorts.h"
#include "modem/Transport.h"

class MSComm : public ModemTransport {
    Q_OBJECT
public:
    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;

    void setDTREnable(bool on) override;

    bool PortOpen() const override;
    // Opening looks the COM number up in paths.
    Error setPortOpen(bool open, const PortPaths& paths = {}) override;

    void Output(const QByteArray& bytes) override;
    QByteArray Input() override; // everything received since the last read (may be empty)
    // Waits up to ms for bytes; those that arrive are announced through OnComm before it returns.
    bool waitForInput(int ms) override;
    qint32 baudRate() const override { return baud; }
    int CommEvent() const { return commEvent; }
    QString device() const override { return devicePath; }

private:
    void readyRead();
    void portError(QSerialPort::SerialPortError error);
    void finishHangUp();
    void goneAway(); // the device went away: closes once and says so

    QSerialPort serial;
    QString devicePath; // what the COM number stood for when the port was opened
    qint32 baud = 9600;
    int commEvent = 0;
    bool inOnComm = false; // an OnComm handler runs: its own reads must not raise it again
    bool hangingUp = false;
    int readErrorsInARow = 0;
};

// Line settings of a settings text such as "115200,N,8,1". False when the text is not valid.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
bool ParseCommSettings(const QString& text, LineSettings* out);
