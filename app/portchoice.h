#pragma once

// The port as config.rwc remembers it (SettingsFile reads and writes it): the
// list position, and for an entry past "COM8", a device that may sit at another
// position at the next start, its name on a second line that picks the entry again.
namespace PortChoice {

// The first position that is a device rather than one of "COM1".."COM8".
constexpr int FirstDevicePosition = 8;

} // namespace PortChoice
