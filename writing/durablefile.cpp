#include "writing/durablefile.h"

#include "link/error.h"

#include <QDir>
#include <QSaveFile>

namespace DurableFile {

void replace(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Failure(QStringLiteral("Cannot create file \"%1\". %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    if (file.write(content) != content.size() || !file.commit())
        throw Failure(QStringLiteral("Cannot write file \"%1\". %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

} // namespace DurableFile
