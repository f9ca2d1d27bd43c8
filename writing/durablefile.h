#pragma once

#include <QByteArray>
#include <QString>

// Files the program must not lose half-written: the settings file, the job and
// the journal. Every write and flush is checked and the data is on disk before
// the call returns; a failure throws Failure with the system's reason and keeps
// what the file held before.
namespace DurableFile {

// Replaces the file's content in one step: a temporary file beside it, written
// and synced, then renamed over it. Where the folder does not allow a temporary
// file but the file itself is writable, the file is overwritten in place.
void replace(const QString& path, const QByteArray& content);

} // namespace DurableFile
