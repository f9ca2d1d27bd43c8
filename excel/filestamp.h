#pragma once

#include <QString>

// What says that a file changed on disk: size, modification and status-change
// times and the inode, from one stat() call. QFileInfo's times go through
// time-zone conversion, which would cost more than the check is worth.
struct FileStamp
{
    qint64 size = -1;    // -1: the file is not there
    qint64 modified = 0; // ns where the system keeps them
    qint64 changed = 0;
    qint64 node = 0;

    static FileStamp of(const QString& path);
    bool operator==(const FileStamp&) const = default;
};
