#pragma once

#include "link/serialdevice.h"

// A Windows serial port through the system's communications calls, used
// synchronously: no overlapped I/O, no events, no threads. The port's own
// time-outs (SetCommTimeouts) bound every read and write, so a read returns
// once the count has arrived, the line has been quiet for the interval, or the
// total time-out has passed.
class WinSerialDevice : public SerialDevice
{
public:
    // `name` as the operator gave it: "COM1", "com12", or a device path such as "\\.\COM3".
    explicit WinSerialDevice(QString name);
    ~WinSerialDevice() override;

    bool open() override;
    QString openFailure() const override { return m_failure; }
    void close() override;
    // Also asks the driver whether the port is still there: a pulled USB
    // adapter fails that call, and the port is let go.
    bool isOpen() const override;
    void setTimeouts(const PortTimeouts& timeouts) override;
    void purgeReceive() override;
    qint64 write(const char* data, qint64 count) override;
    void drain() override;
    qint64 read(char* data, qint64 maxCount) override;

    // The path CreateFile gets for a port name: "\\.\" before a bare COM name,
    // so that COM10 and up open too; any other name unchanged.
    static QString devicePath(const QString& name);

private:
    void dropIfGone(unsigned long error) const;

    QString m_name;
    QString m_failure;
    mutable void* m_handle; // INVALID_HANDLE_VALUE when closed
};

// Opens ports by name through the Windows communications calls.
SerialDeviceFactory winSerialDeviceFactory();
