// The serial port control: the one port all modem traffic passes through, with the operations the modem
// routines use (port number, settings text, open and close, output, input, receive event).
//
// It only moves bytes, and it lives on the modem thread with the routines that use it. Bytes arrive as the
// receive event OnComm, both while that thread's event loop runs and inside waitForInput(). A device that
// vanishes while open (a USB modem unplugged, the simulator hung up) closes the port once and reports
// hungUp; it never floods the event loop with errors.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "modem/ComPorts.h"

class MSComm : public QObject {
    Q_OBJECT
public:
    // Error numbers raised by opening the port.
    static constexpr int InvalidPortNumber = 8002; // no device behind the COM number
    static constexpr int PortAlreadyOpen = 8005;   // the device is in use by another program
    static constexpr int HardwareNotAvailable = 8010;
    static constexpr int CouldNotSetCommState = 8015;
    static constexpr int InvalidPropertyValue = 380;
    static constexpr int comEvReceive = 2;

    struct Error {
        int number = 0;
        QString description;
        explicit operator bool() const { return number != 0; }
    };

    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;

    void setCommPort(int n) { commPort = n; }
    int CommPort() const { return commPort; }
    void setSettings(const QString& s) { settings = s; }
    QString Settings() const { return settings; }
    void setHandshaking(int h) { handshaking = h; }
    void setDTREnable(bool on);
    void setInputLen(int n) { inputLen = n; }
    void setRThreshold(int n) { rThreshold = n; }
    void setSThreshold(int n) { sThreshold = n; }
    void setInputMode(int m) { inputMode = m; }
    int InputMode() const { return inputMode; }

    bool PortOpen() const;
    // Opening looks the COM number up in paths.
    Error setPortOpen(bool open, const PortPaths& paths = {});

    void Output(const QByteArray& bytes);
    QByteArray Input(); // everything received since the last read (may be empty)
    // Waits up to ms for bytes; those that arrive are announced through OnComm before it returns.
    bool waitForInput(int ms);
    qint32 baudRate() const { return baud; }
    int CommEvent() const { return commEvent; }
    QString device() const { return devicePath; }

Q_SIGNALS:
    void OnComm(); // characters arrived while the event loop ran
    void hungUp(); // the device went away; the port is closed (or closing)

private:
    void readyRead();
    void portError(QSerialPort::SerialPortError error);
    void finishHangUp();
    void goneAway(); // the device went away: closes once and says so

    QSerialPort serial;
    QString devicePath; // what the COM number stood for when the port was opened
    qint32 baud = 9600;
    int commPort = 1;
    QString settings = QStringLiteral("9600,N,8,1");
    int handshaking = 0;
    bool dtrEnable = false;
    int inputLen = 0, rThreshold = 0, sThreshold = 0, inputMode = 0;
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
