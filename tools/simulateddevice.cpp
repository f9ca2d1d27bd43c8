#include "tools/simulateddevice.h"

#include "link/qtserialdevice.h"

#include <algorithm>
#include <cstring>

namespace {

// Stands for a port that does not exist.
class MissingDevice : public SerialDevice
{
public:
    bool open() override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    void setTimeouts(const PortTimeouts&) override {}
    void purgeReceive() override {}
    qint64 write(const char*, qint64) override { return 0; }
    qint64 read(char*, qint64) override { return 0; }
};

} // namespace

SimulatedDevice::SimulatedDevice(TerminalSimulator& engine, SimClock& clock) : m_engine(engine), m_clock(clock) {}

bool SimulatedDevice::open()
{
    m_open = true;
    m_unplugged = false;
    m_inbox.clear();
    return true;
}

void SimulatedDevice::close()
{
    m_open = false;
    m_inbox.clear();
}

void SimulatedDevice::collect()
{
    m_inbox += m_engine.takeOutput(m_clock.now());
}

void SimulatedDevice::purgeReceive()
{
    if (!isOpen())
        return;
    collect();
    m_inbox.clear();
}

qint64 SimulatedDevice::write(const char* data, qint64 count)
{
    if (!isOpen() || count <= 0)
        return 0;
    m_engine.receive(QByteArray(data, count), m_clock.now());
    return count;
}

qint64 SimulatedDevice::read(char* data, qint64 maxCount)
{
    if (!isOpen() || maxCount <= 0)
        return 0;
    collect();
    if (m_readWaits) {
        const qint64 deadline =
            m_clock.now() + m_timeouts.readTotalConstant + qint64(m_timeouts.readTotalMultiplier) * maxCount;
        const int quiet = QtSerialDevice::quietGapMs(m_timeouts);
        qint64 lastArrival = m_clock.now();
        while (m_inbox.size() < maxCount) {
            const qint64 until = (!m_inbox.isEmpty() && quiet > 0) ? std::min(deadline, lastArrival + quiet) : deadline;
            const qint64 next = m_engine.nextDueMs();
            if (next < 0 || next > until) {
                m_clock.setNow(std::max(m_clock.now(), until));
                collect();
                break;
            }
            m_clock.setNow(std::max(m_clock.now(), next));
            const qsizetype before = m_inbox.size();
            collect();
            if (m_inbox.size() > before)
                lastArrival = m_clock.now();
        }
    }
    const qint64 n = std::min<qint64>(maxCount, m_inbox.size());
    std::memcpy(data, m_inbox.constData(), size_t(n));
    m_inbox.remove(0, n);
    return n;
}

QByteArray SimulatedDevice::unread()
{
    collect();
    return m_inbox;
}

SerialDeviceFactory simulatedDeviceFactory(TerminalSimulator& engine, SimClock& clock, QStringList names,
                                           SimulatedDevice** made)
{
    return [&engine, &clock, names, made](const QString& name) -> std::unique_ptr<SerialDevice> {
        if (!names.isEmpty() && !names.contains(name))
            return std::make_unique<MissingDevice>();
        auto device = std::make_unique<SimulatedDevice>(engine, clock);
        if (made)
            *made = device.get();
        return device;
    };
}
