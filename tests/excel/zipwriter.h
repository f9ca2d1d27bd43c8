#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <zip.h>

// Writes a zip archive from (name, content) pairs, for hand-made packages
// that no producer writes: malformed, hostile or unusual workbooks.
inline bool writeZip(const QString& path, const QList<QPair<QString, QByteArray>>& entries)
{
    int error = 0;
    zip_t* archive = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const auto& [name, content] : entries) {
        zip_source_t* source =
            zip_source_buffer(archive, content.constData(), static_cast<zip_uint64_t>(content.size()), 0);
        if (!source || zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}
