#include "app/portlist.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace PortList {

namespace {

std::function<QList<Entry>()>& deviceSource()
{
    static std::function<QList<Entry>()> source;
    return source;
}

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
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    QList<Entry> found;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        found.append({stableName(info.systemLocation(), byId), describe(info)});
    return found;
}

void setDeviceSource(std::function<QList<Entry>()> source)
{
    deviceSource() = std::move(source);
}

} // namespace PortList
