#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// The time-outs of a port, with the meaning of the Windows COMMTIMEOUTS fields.
struct PortTimeouts
{
    int readInterval = 0;
    int readTotalMultiplier = 0;
    int readTotalConstant = 0;
    int writeTotalMultiplier = 0;
    int writeTotalConstant = 0;
};

// One serial device as the link uses it: synchronous, no events. The real
// implementation wraps QSerialPort; the terminal simulator provides one that
// runs in-process for fast tests.
class SerialDevice
{
public:
    virtual ~SerialDevice() = default;

    // Opens the device at 9600 baud, 8 data bits, no parity, 1 stop bit.
    virtual bool open() = 0;
    // Why the last open failed, in the operator's words ("занят другой программой"); empty when not known.
    virtual QString openFailure() const { return {}; }
    virtual void close() = 0;
    // False once the device has gone away (adapter unplugged) or was never opened.
    virtual bool isOpen() const = 0;
    virtual void setTimeouts(const PortTimeouts& timeouts) = 0;
    // Throws away what was received and not yet read.
    virtual void purgeReceive() = 0;
    virtual qint64 write(const char* data, qint64 count) = 0;
    // Waits until what was written has left the device (the driver's queue is empty).
    virtual void drain() {}
    // Reads up to maxCount bytes within the read time-outs; returns the count read.
    virtual qint64 read(char* data, qint64 maxCount) = 0;
};

// Makes the device for a port name. Swapped by tests to use the in-process simulator.
using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>(const QString& portName)>;
