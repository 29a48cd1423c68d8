// How a COM number becomes a serial device on Linux.
//
// COMn is, in this order: the link ports/COMn in the data folder (made by hand, for example
// ln -s /dev/ttyUSB2 ~/.local/share/broadtext/ports/COM3, or by the modem simulator); otherwise the n-th
// serial device present, counting /dev/ttyUSB*, then /dev/ttyACM*, then the real /dev/ttyS* ports, each
// group in numeric order. A single USB modem is therefore COM1.
#pragma once

#include <QString>
#include <QStringList>

struct AppState;

// The folders COM numbers are looked up in (a copy travels with each request to the modem thread).
struct PortPaths {
    QString dataDir;
    QString devDir = QStringLiteral("/dev");
    QString sysClassTtyDir = QStringLiteral("/sys/class/tty");
};
PortPaths PortPathsOf(const AppState& state);

// Serial devices present, in COM order (links not included).
QStringList SerialDevices(const QString& devDir, const QString& sysClassTtyDir);

// The device COMn opens, or an empty text when nothing answers to that number.
QString ResolveComPort(const PortPaths& paths, int comNumber);
QString ResolveComPort(const AppState& state, int comNumber);

// One line for people: which device COMn means and why ("COM 3 = /dev/ttyUSB0", "COM 3: no device").
QString DescribeComPort(const AppState& state, int comNumber);

// The link ports/COMn for COM number n.
QString ComPortLink(const QString& dataDir, int comNumber);
