#include "modem/ComPorts.h"

#include "common/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

QStringList numbered(const QString& devDir, const QString& prefix)
{
    const QRegularExpression re(QStringLiteral("^%1(\\d+)$").arg(prefix));
    QList<std::pair<int, QString>> found;
    const QStringList names = QDir(devDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        auto m = re.match(name);
        if (m.hasMatch())
            found.append({m.captured(1).toInt(), devDir + QLatin1Char('/') + name});
    }
    std::sort(found.begin(), found.end());
    QStringList out;
    for (const auto& f : found)
        out << f.second;
    return out;
}

// /dev/ttyS0 to ttyS31 always exist; only those the kernel found a UART behind are real ports.
bool realSerialPort(const QString& sysClassTtyDir, const QString& device)
{
    QFile type(sysClassTtyDir + QLatin1Char('/') + QFileInfo(device).fileName() + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() != "0";
}

} // namespace

QString ComPortLink(const QString& dataDir, int comNumber)
{
    return dataDir + QStringLiteral("/ports/COM%1").arg(comNumber);
}

QStringList SerialDevices(const QString& devDir, const QString& sysClassTtyDir)
{
    QStringList devices = numbered(devDir, QStringLiteral("ttyUSB"));
    devices += numbered(devDir, QStringLiteral("ttyACM"));
    for (const QString& s : numbered(devDir, QStringLiteral("ttyS")))
        if (realSerialPort(sysClassTtyDir, s))
            devices << s;
    return devices;
}

PortPaths PortPathsOf(const AppState& state)
{
    return {state.dataDir, state.devDir, state.sysClassTtyDir, state.serialByIdDir};
}

QString ResolveComPort(const AppState& state, int comNumber)
{
    return ResolveComPort(PortPathsOf(state), comNumber);
}

QString ResolveComPort(const PortPaths& state, int comNumber)
{
    if (comNumber < 1)
        return {};
    QFileInfo link(ComPortLink(state.dataDir, comNumber));
    if (link.isSymLink())
        return link.symLinkTarget(); // a dangling link still names what the user asked for
    if (link.exists())
        return link.absoluteFilePath();
    const QStringList devices = SerialDevices(state.devDir, state.sysClassTtyDir);
    return comNumber <= devices.size() ? devices.at(comNumber - 1) : QString();
}

QString DescribeComPort(const AppState& state, int comNumber)
{
    const QString device = ResolveComPort(state, comNumber);
    if (device.isEmpty())
        return QStringLiteral("COM %1: no serial device").arg(comNumber);
    const bool linked = QFileInfo(ComPortLink(state.dataDir, comNumber)).isSymLink();
    QString text = QStringLiteral("COM %1 = %2").arg(comNumber).arg(device);
    if (linked)
        text += QStringLiteral(" (link ports/COM%1)").arg(comNumber);
    if (!QFileInfo::exists(device))
        text += QStringLiteral(", not present");
    return text;
}

QString StableDeviceName(const PortPaths& paths, const QString& device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QDir byId(paths.serialByIdDir);
    for (const QString& name : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = byId.filePath(name);
        if (QFileInfo(path).canonicalFilePath() == target)
            return path;
    }
    return {};
}

bool PinComPort(const PortPaths& paths, int comNumber)
{
    const QString link = ComPortLink(paths.dataDir, comNumber);
    if (comNumber < 1 || QFileInfo(link).isSymLink() || QFileInfo::exists(link))
        return false;
    const QString stable = StableDeviceName(paths, ResolveComPort(paths, comNumber));
    if (stable.isEmpty() || !QDir().mkpath(QFileInfo(link).absolutePath()))
        return false;
    return QFile::link(stable, link);
}
