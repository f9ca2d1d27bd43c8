#pragma once

#include "link/serialdevice.h"

// Opens ports by name with this platform's serial device: the Windows
// communications calls on Windows, QSerialPort elsewhere.
SerialDeviceFactory systemSerialDeviceFactory();
