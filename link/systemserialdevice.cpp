#include "link/systemserialdevice.h"

#ifdef Q_OS_WIN
#include "link/winserialdevice.h"
#else
#include "link/qtserialdevice.h"
#endif

SerialDeviceFactory systemSerialDeviceFactory()
{
#ifdef Q_OS_WIN
    return winSerialDeviceFactory();
#else
    return qtSerialDeviceFactory();
#endif
}
