#pragma once

#include <QString>

// The port as config.rwc remembers it. The first line is the list position
// (read by SettingsFile, as files written before always held it); an entry
// past "COM8" is a device that may sit at another position at the next start,
// so its name follows on a second line and picks the entry again.
namespace PortChoice {

// The first position that is a device rather than one of "COM1".."COM8".
constexpr int FirstDevicePosition = 8;

// The name on the second line, or empty when there is none or the file cannot be read.
QString readPortName(const QString& path);

// Replaces the file: the position, and for a device its name, each line ended by CR LF.
// Throws Failure when the file cannot be written.
void write(const QString& path, int position, const QString& name);

} // namespace PortChoice
