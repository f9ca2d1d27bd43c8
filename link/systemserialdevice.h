#pragma once

#include "link/serialdevice.h"

#include <QDir>
#include <QString>

// Opens ports by name with this platform's serial device: the Windows
// communications calls on Windows, QSerialPort elsewhere.
SerialDeviceFactory systemSerialDeviceFactory();

// Where a port name leads on this platform (see the README): on Linux "COM1".."COM8"
// open the link of that name in `workDir` when there is one, else /dev/ttyS0..7;
// a name with a slash is a path; any other name is looked up in `workDir`, then /dev.
// On Windows the device path the system opens (\\.\COM3 for COM3).
QString portSystemLocation(const QString& name, const QDir& workDir);
