#pragma once

#include "link/serialdevice.h"

class QSerialPort;

// The platform's serial port through QSerialPort, used synchronously.
//
// Reads follow the terminal's time-out rules: a read returns at the latest
// after the total time-out, earlier once the count has arrived or once the
// line has been quiet for quietGapMs() after the first byte. The quiet gap is
// wider than the 1 ms the time-outs name because bytes do not reach us one by
// one: a USB serial adapter hands them over in bursts every 16 ms (its latency
// timer) and a pseudo-terminal in chunks, so a 1 ms gap would cut a reply that
// is still arriving.
class QtSerialDevice : public SerialDevice
{
public:
    explicit QtSerialDevice(QString systemLocation);
    ~QtSerialDevice() override;

    bool open() override;
    QString openFailure() const override { return m_failure; }
    void close() override;
    bool isOpen() const override;
    void setTimeouts(const PortTimeouts& timeouts) override;
    void purgeReceive() override;
    qint64 write(const char* data, qint64 count) override;
    void drain() override;
    qint64 read(char* data, qint64 maxCount) override;

    static int quietGapMs(const PortTimeouts& timeouts);

private:
    void dropIfGone();

    QString m_location;
    std::unique_ptr<QSerialPort> m_port;
    PortTimeouts m_timeouts;
    QString m_failure;
};

// Opens ports by name through QSerialPort, resolving names in the working directory.
SerialDeviceFactory qtSerialDeviceFactory();
