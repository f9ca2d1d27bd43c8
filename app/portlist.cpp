#include "app/portlist.h"

#include <QFileInfo>
#ifndef Q_OS_WIN
#include <QSerialPortInfo>
#endif

namespace PortList {

#ifdef Q_OS_WIN
QList<Entry> registryDevices(); // portlist_win.cpp
#endif

namespace {

std::function<QList<Entry>()>& deviceSource()
{
    static std::function<QList<Entry>()> source;
    return source;
}

#ifndef Q_OS_WIN
QString describe(const QSerialPortInfo& info)
{
    QStringList parts;
    if (!info.description().isEmpty())
        parts << info.description();
    if (!info.manufacturer().isEmpty() && !info.description().contains(info.manufacturer()))
        parts << info.manufacturer();
    if (parts.isEmpty()) // a UART on the board says nothing of itself
        parts << QStringLiteral("Последовательный порт");
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" — ") + info.systemLocation();
}
#endif

} // namespace

QString stableName(const QString& systemLocation, const QDir& byIdDir)
{
    const QString target = QFileInfo(systemLocation).canonicalFilePath();
    if (target.isEmpty())
        return systemLocation;
    const QFileInfoList links = byIdDir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return systemLocation;
}

QList<Entry> devices()
{
    if (deviceSource())
        return deviceSource()();
#ifdef Q_OS_WIN
    return registryDevices();
#else
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    QList<Entry> found;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        found.append({stableName(info.systemLocation(), byId), describe(info)});
    return found;
#endif
}

void setDeviceSource(std::function<QList<Entry>()> source)
{
    deviceSource() = std::move(source);
}

} // namespace PortList
