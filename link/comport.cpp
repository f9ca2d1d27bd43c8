#include "link/comport.h"

#include "link/commandset.h"

#include <algorithm>
#include <chrono>

namespace {

// 9600 baud, a start bit, 8 data bits, a stop bit.
constexpr qint64 BitsPerByte = 10;
constexpr qint64 Baud = 9600;

} // namespace

ComPort::ComPort(SerialDeviceFactory factory, Clock clock) : m_factory(std::move(factory)), m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
}

ComPort::~ComPort() = default;

PortTimeouts ComPort::terminalTimeouts()
{
    PortTimeouts t;
    t.readInterval = 1;
    t.readTotalMultiplier = 0;
    t.readTotalConstant = 100;
    t.writeTotalMultiplier = 5;
    t.writeTotalConstant = 100;
    return t;
}

bool ComPort::OpenPort(const QString& name)
{
    m_device.reset();
    m_openFailure.clear();
    std::unique_ptr<SerialDevice> device = m_factory ? m_factory(name) : nullptr;
    if (device && device->open()) {
        m_device = std::move(device);
        m_handle = Handle::Open;
        return true;
    }
    if (device)
        m_openFailure = device->openFailure();
    m_handle = Handle::Failed;
    return false;
}

void ComPort::SetPortTimeouts()
{
    if (!deviceUsable())
        return;
    m_device->setTimeouts(terminalTimeouts());
}

bool ComPort::deviceUsable()
{
    if (m_handle != Handle::Open || !m_device)
        return false;
    if (!m_device->isOpen()) {
        // The device went away (adapter unplugged): behave as if no port were
        // open until the operator connects one again.
        m_device.reset();
        return false;
    }
    return true;
}

void ComPort::WritePort(int count)
{
    if (count <= 0 || !deviceUsable())
        return;
    count = std::min(count, BufferSize);
    m_device->purgeReceive();
    noteSent(m_device->write(reinterpret_cast<const char*>(SendBuffer.data()), count));
}

void ComPort::WriteBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty() || !deviceUsable())
        return;
    m_device->purgeReceive();
    noteSent(m_device->write(bytes.constData(), bytes.size()));
}

qint64 ComPort::nowUs() const
{
    return m_clock() * 1000;
}

void ComPort::noteSent(qint64 count)
{
    if (count > 0)
        m_lineFreeUs = std::max(m_lineFreeUs, nowUs()) + (count * BitsPerByte * 1'000'000 + Baud - 1) / Baud;
}

int ComPort::msUntilSent() const
{
    const qint64 left = m_lineFreeUs - nowUs();
    return left > 0 ? int((left + 999) / 1000) : 0;
}

int ComPort::ReadPort(int count)
{
    if (count <= 0)
        return 0;
    m_lastReadCount = 0;
    if (!deviceUsable())
        return 0;
    count = std::min(count, BufferSize);
    const qint64 n = m_device->read(reinterpret_cast<char*>(ReceiveBuffer.data()), count);
    m_lastReadCount = int(std::clamp<qint64>(n, 0, count));
    return m_lastReadCount;
}

void ComPort::ClosePort()
{
    if (m_device)
        m_device->close();
    m_device.reset();
    m_handle = Handle::None;
}

bool ComPort::ConnectPort(const QString& name)
{
    if (m_handle != Handle::None)
        ClosePort();
    if (!OpenPort(name))
        return false;
    SetPortTimeouts();
    setDefaultReadCommand();
    return true;
}

void ComPort::DrainPort()
{
    if (deviceUsable())
        m_device->drain();
}

void ComPort::setReadCommand(int choice)
{
    CommandSet::putReadCommand(SendBuffer, choice);
}

void ComPort::setDefaultReadCommand()
{
    CommandSet::putDefaultReadCommand(SendBuffer);
}

void ComPort::sendReadCommand()
{
    WritePort(CommandSet::ReadCommandLength);
}

void ComPort::sendStop()
{
    CommandSet::putStopCommand(SendBuffer);
    WritePort(CommandSet::StopCommandLength);
}

void ComPort::sendCommand(QByteArrayView command)
{
    const auto n = std::min<qsizetype>(command.size(), BufferSize);
    std::copy_n(command.data(), n, reinterpret_cast<char*>(SendBuffer.data()));
    WritePort(int(n));
}

void ComPort::sendFrame(const QByteArray& frame)
{
    const auto fits = std::min<qsizetype>(frame.size(), BufferSize);
    std::copy_n(frame.constData(), fits, reinterpret_cast<char*>(SendBuffer.data()));
    WriteBytes(frame);
    ReceiveBuffer[0] = 0;
}

QByteArray ComPort::readUpTo(int maxCount)
{
    // A count of nothing reads nothing, and says so: lastRead() still holds the read before.
    return ReadPort(maxCount) > 0 ? lastRead() : QByteArray();
}

QByteArray ComPort::lastRead() const
{
    return QByteArray(reinterpret_cast<const char*>(ReceiveBuffer.data()), m_lastReadCount);
}
