#pragma once

#include <QString>

// The one-line settings file config.rwc: the port list position, CR LF.
namespace SettingsFile {

QString defaultPath(); // config.rwc in the working directory

// The position stored in the first line. Throws Failure "File not found." when
// the file cannot be read, and "'<line>' is not a valid integer value." when
// the line is not a decimal integer.
int readPortPosition(const QString& path);

// Replaces the file in one step (a temporary file renamed over it), so a crash
// or a full disk never leaves a broken file behind. Throws Failure on error.
void writePortPosition(const QString& path, int position);

} // namespace SettingsFile
