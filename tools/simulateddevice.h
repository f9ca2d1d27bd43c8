#pragma once

#include "link/serialdevice.h"
#include "link/sleeper.h"
#include "tools/terminalsimulator.h"

#include <QStringList>

// The time of an in-process test: a millisecond counter that only moves when the
// test (or a read that waits, or the program's injected sleeper) moves it.
class SimClock
{
public:
    qint64 now() const { return m_now; }
    void advance(qint64 ms) { m_now += ms; }
    void setNow(qint64 ms) { m_now = ms; }
    // A sleeper for the program under test that moves this clock instead of blocking.
    Sleeper sleeper()
    {
        return [this](int ms) { advance(ms); };
    }

private:
    qint64 m_now = 0;
};

// The terminal simulator as the program's serial device, in-process: what the
// program writes reaches the engine at the clock's time, and reads hand over what
// the engine has sent by then. Nothing sleeps, so a test runs as fast as it
// computes and every delay is exact.
//
// Reads return at once by default. With setReadWaits(true) a read moves the clock
// as a real read would wait (until the count has come, the line has been quiet,
// or the total time-out has passed), so a joined or a split reply looks as it
// would on a real port.
class SimulatedDevice : public SerialDevice
{
public:
    SimulatedDevice(TerminalSimulator& engine, SimClock& clock);

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open && !m_unplugged; }
    void setTimeouts(const PortTimeouts& timeouts) override { m_timeouts = timeouts; }
    void purgeReceive() override;
    qint64 write(const char* data, qint64 count) override;
    qint64 read(char* data, qint64 maxCount) override;

    void setReadWaits(bool waits) { m_readWaits = waits; }
    // The adapter pulled out: the device is gone until it is opened again.
    void unplug() { m_unplugged = true; }
    // Bytes the engine has sent that the program has not read yet.
    QByteArray unread();

private:
    void collect();

    TerminalSimulator& m_engine;
    SimClock& m_clock;
    PortTimeouts m_timeouts;
    QByteArray m_inbox;
    bool m_open = false;
    bool m_unplugged = false;
    bool m_readWaits = false;
};

// Opens every port name on the simulator, or only the names listed (others fail to open).
// The devices it makes read at once; the caller may reach them through `made`.
SerialDeviceFactory simulatedDeviceFactory(TerminalSimulator& engine, SimClock& clock, QStringList names = {},
                                           SimulatedDevice** made = nullptr);
