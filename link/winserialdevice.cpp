#include "link/winserialdevice.h"

#include "link/systemserialdevice.h"

#include <QRegularExpression>

#include <windows.h>

namespace {

// What the calls fail with once the device behind the handle is gone: a USB
// adapter pulled out, or a driver that has shut the port down.
bool deviceGoneError(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

} // namespace

WinSerialDevice::WinSerialDevice(QString name) : m_name(std::move(name)), m_handle(INVALID_HANDLE_VALUE) {}

WinSerialDevice::~WinSerialDevice()
{
    close();
}

QString WinSerialDevice::devicePath(const QString& name)
{
    static const QRegularExpression comName(QStringLiteral("^COM[0-9]+$"), QRegularExpression::CaseInsensitiveOption);
    return comName.match(name).hasMatch() ? QStringLiteral("\\\\.\\") + name : name;
}

bool WinSerialDevice::open()
{
    close();
    m_failure.clear();
    if (m_name.isEmpty())
        return false;
    const std::wstring path = devicePath(m_name).toStdWString();
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A port is opened by one program at a time: another holding it is refused access.
        const DWORD error = GetLastError();
        m_failure = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                        ? QStringLiteral("занят другой программой")
                        : QStringLiteral("устройство не найдено");
        return false;
    }
    // Only a communications device has line settings; a file or a pipe of that name is no port.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &dcb)) {
        CloseHandle(handle);
        m_failure = QStringLiteral("это не последовательный порт");
        return false;
    }
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(handle, &dcb);
    m_handle = handle;
    return true;
}

void WinSerialDevice::close()
{
    if (m_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

void WinSerialDevice::dropIfGone(unsigned long error) const
{
    if (m_handle != INVALID_HANDLE_VALUE && deviceGoneError(error)) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

bool WinSerialDevice::isOpen() const
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_handle, &errors, &status))
        dropIfGone(GetLastError());
    return m_handle != INVALID_HANDLE_VALUE;
}

void WinSerialDevice::setTimeouts(const PortTimeouts& timeouts)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    COMMTIMEOUTS t{};
    GetCommTimeouts(m_handle, &t);
    t.ReadIntervalTimeout = DWORD(timeouts.readInterval);
    t.ReadTotalTimeoutMultiplier = DWORD(timeouts.readTotalMultiplier);
    t.ReadTotalTimeoutConstant = DWORD(timeouts.readTotalConstant);
    t.WriteTotalTimeoutMultiplier = DWORD(timeouts.writeTotalMultiplier);
    t.WriteTotalTimeoutConstant = DWORD(timeouts.writeTotalConstant);
    if (!SetCommTimeouts(m_handle, &t))
        dropIfGone(GetLastError());
}

void WinSerialDevice::purgeReceive()
{
    if (m_handle != INVALID_HANDLE_VALUE && !PurgeComm(m_handle, PURGE_RXCLEAR))
        dropIfGone(GetLastError());
}

qint64 WinSerialDevice::write(const char* data, qint64 count)
{
    if (m_handle == INVALID_HANDLE_VALUE || count <= 0)
        return 0;
    DWORD written = 0;
    if (!WriteFile(m_handle, data, DWORD(count), &written, nullptr))
        dropIfGone(GetLastError());
    return qint64(written);
}

void WinSerialDevice::drain()
{
    if (m_handle != INVALID_HANDLE_VALUE && !FlushFileBuffers(m_handle))
        dropIfGone(GetLastError());
}

qint64 WinSerialDevice::read(char* data, qint64 maxCount)
{
    if (m_handle == INVALID_HANDLE_VALUE || maxCount <= 0)
        return 0;
    DWORD got = 0;
    if (!ReadFile(m_handle, data, DWORD(maxCount), &got, nullptr)) {
        dropIfGone(GetLastError());
        return 0;
    }
    return qint64(got);
}

SerialDeviceFactory winSerialDeviceFactory()
{
    return [](const QString& name) -> std::unique_ptr<SerialDevice> { return std::make_unique<WinSerialDevice>(name); };
}

// The port dialog shows where a name leads; on Windows the name is the port.
QString portSystemLocation(const QString& name, const QDir& workDir)
{
    Q_UNUSED(workDir);
    return WinSerialDevice::devicePath(name);
}
