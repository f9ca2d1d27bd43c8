#include "app/portchoice.h"

#include "writing/durablefile.h"

#include <QFile>

namespace PortChoice {

QString readPortName(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.readLine(4096);
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line).trimmed();
}

void write(const QString& path, int position, const QString& name)
{
    QByteArray content = QByteArray::number(position) + "\r\n";
    if (position >= FirstDevicePosition && !name.isEmpty())
        content += name.toUtf8() + "\r\n";
    DurableFile::replace(path, content);
}

} // namespace PortChoice
