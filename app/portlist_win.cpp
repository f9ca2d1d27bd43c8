// The port list on Windows: the serial ports the system's registry lists right now.
#include "app/portlist.h"

#include <QCollator>

#include <algorithm>
#include <windows.h>

namespace PortList {

// Every port a driver has made (a board's UART, a plugged USB adapter) is a
// value under HARDWARE\DEVICEMAP\SERIALCOMM: its name is the driver's device,
// its data the COM name. Listed in the order of their numbers, COM2 before COM10.
QList<Entry> registryDevices()
{
    QList<Entry> found;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return found;
    for (DWORD index = 0;; ++index) {
        wchar_t device[256];
        wchar_t port[256];
        DWORD deviceLength = DWORD(std::size(device));
        DWORD portBytes = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result =
            RegEnumValueW(key, index, device, &deviceLength, nullptr, &type, reinterpret_cast<BYTE*>(port), &portBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        port[portBytes / sizeof(wchar_t)] = L'\0';
        const QString name = QString::fromWCharArray(port).trimmed();
        if (name.isEmpty())
            continue;
        found.append(
            {name, QStringLiteral("Последовательный порт — ") + QString::fromWCharArray(device, int(deviceLength))});
    }
    RegCloseKey(key);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(found.begin(), found.end(),
              [&numeric](const Entry& a, const Entry& b) { return numeric.compare(a.name, b.name) < 0; });
    return found;
}

} // namespace PortList
