#include "app/settingsfile.h"

#include "link/error.h"
#include "writing/durablefile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace SettingsFile {

QString defaultPath()
{
    return QDir::current().filePath(QStringLiteral("config.rwc"));
}

int readPortPosition(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("File not found."));
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    const QString text = QString::fromLocal8Bit(line);
    static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?[0-9]+$"));
    bool ok = false;
    const int value = integer.match(text).hasMatch() ? text.trimmed().toInt(&ok) : 0;
    if (!ok)
        throw Failure(QStringLiteral("'%1' is not a valid integer value.").arg(text));
    return value;
}

void writePortPosition(const QString& path, int position)
{
    DurableFile::replace(path, QByteArray::number(position) + "\r\n");
}

} // namespace SettingsFile
