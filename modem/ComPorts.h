// How a COM number becomes a serial device on Linux.
//
// COMn is, in this order: the link ports/COMn in the data folder (made by hand, for example
// ln -s /dev/ttyUSB2 ~/.local/share/broadtext/ports/COM3, or by the modem simulator); otherwise the n-th
// serial device present, counting /dev/ttyUSB*, then /dev/ttyACM*, then the real /dev/ttyS* ports, each
// group in numeric order. A single USB modem is therefore COM1.
//
// Names like /dev/ttyUSB0 pass to whatever device the kernel finds next, so a modem picked by auto-detection
// is linked by its stable name in /dev/serial/by-id (made from the maker, model and serial number) where
// one exists: COMn then means that modem, not whichever device has its old name.
#pragma once

#include <QString>
#include <QStringList>

struct AppState;

// The folders COM numbers are looked up in (a copy travels with each request to the modem thread).
struct PortPaths {
    QString dataDir;
    QString devDir = QStringLiteral("/dev");
    QString sysClassTtyDir = QStringLiteral("/sys/class/tty");
    QString serialByIdDir = QStringLiteral("/dev/serial/by-id");
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

// The stable name in the by-id folder that leads to device, or an empty text when there is none.
QString StableDeviceName(const PortPaths& paths, const QString& device);
// Makes ports/COMn a link to the stable name of the device COMn means now, when COMn has no link of its own
// yet and the device has such a name; true when the link was made.
bool PinComPort(const PortPaths& paths, int comNumber);
