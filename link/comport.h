#pragma once

#include "link/commandset.h"
#include "link/serialdevice.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <memory>

// The one serial port of the program with its transmit and receive buffers.
// Commands are laid into SendBuffer from index 0 and its first N bytes are
// sent; every read fills ReceiveBuffer from index 0 and leaves the rest as an
// earlier read left it. The buffers are the port's own: callers say what to
// send and how much to read. Failures of the port are silent: with no port,
// sends do nothing and reads return nothing, so the pollers just see no answer.
class ComPort
{
public:
    static constexpr int BufferSize = CommandSet::BufferSize;
    using Buffer = CommandSet::Buffer;

    // What PortHandle holds: no port opened (or closed), the last open failed, or an open port.
    enum class Handle { None, Failed, Open };

    // Milliseconds on a monotonic clock; tests hand in the clock their simulator runs on.
    using Clock = std::function<qint64()>;

    explicit ComPort(SerialDeviceFactory factory, Clock clock = {});
    ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    Handle PortHandle() const { return m_handle; }
    // An opened port whose device has gone away (adapter unplugged): it is let
    // go, and until the operator opens a port again, sends do nothing and reads return 0.
    bool lost() { return m_handle == Handle::Open && !deviceUsable(); }

    bool OpenPort(const QString& name);
    // Why the last OpenPort failed, as the device said; empty when it did not say.
    const QString& openFailure() const { return m_openFailure; }
    void SetPortTimeouts();
    void ClosePort();

    // The connection sequence: close what is open, open `name` with the line
    // settings and time-outs, put the default read command into SendBuffer.
    // Returns false when the port cannot be opened; the caller shows the message.
    bool ConnectPort(const QString& name);

    // The read command of a track choice, laid ready in SendBuffer; the default
    // one is "Track 1 & 2". The track 2 command is two bytes long and leaves the
    // buffer's third byte as it was: the terminal is sent three bytes all the
    // same, so it gets whatever the last command or frame left there. That is
    // how the terminal has always been driven, and it is kept in this one place.
    void setReadCommand(int choice);
    void setDefaultReadCommand();
    // Sends the read command that SendBuffer holds (its three bytes).
    void sendReadCommand();
    // ESC '0': the terminal stops reading or writing.
    void sendStop();
    // Lays a short command at the start of SendBuffer and sends it.
    void sendCommand(QByteArrayView command);
    // A write frame, sent from its own storage since a full three-track card does
    // not fit SendBuffer; what fits is laid into SendBuffer as well, and the
    // answer byte of the last card is cleared.
    void sendFrame(const QByteArray& frame);
    // Reads up to maxCount bytes within the time-outs and returns them.
    QByteArray readUpTo(int maxCount);
    // The reply has been taken: its first byte is cleared, so nothing mistakes it for a new one.
    void clearReceived() { ReceiveBuffer[0] = 0; }

    // Sends bytes that do not fit SendBuffer (long write frames) with the same
    // purge-then-write as WritePort.
    void WriteBytes(const QByteArray& bytes);

    // Waits until what was sent has left the port (on a pseudo-terminal at once).
    void DrainPort();
    // How long, at the least, until everything sent so far has passed a 9600-baud
    // line, 10 bits a byte: a driver that reports its queue empty at once (a
    // pseudo-terminal) still cannot have put the bytes on the line any faster.
    int msUntilSent() const;
    // The clock the port keeps its line time by; the read poll times replies by it too.
    qint64 nowMs() const { return m_clock(); }

    // What the buffers hold, for tests of what the terminal is sent.
    const Buffer& sendBuffer() const { return SendBuffer; }
    const Buffer& receiveBuffer() const { return ReceiveBuffer; }

    // The bytes the last ReadPort call stored (a prefix of ReceiveBuffer).
    QByteArray lastRead() const;

    // The time-outs every opened port gets.
    static PortTimeouts terminalTimeouts();

private:
    // The first `count` bytes of SendBuffer go out, after a purge of what was not read.
    void WritePort(int count);
    // Reads into ReceiveBuffer from index 0; returns the count read.
    int ReadPort(int count);
    bool deviceUsable();
    void noteSent(qint64 count);
    qint64 nowUs() const;

    SerialDeviceFactory m_factory;
    std::unique_ptr<SerialDevice> m_device;
    Handle m_handle = Handle::None;
    QString m_openFailure;
    int m_lastReadCount = 0;
    Clock m_clock;
    qint64 m_lineFreeUs = 0; // when the last byte sent has left the line
    Buffer SendBuffer{};
    Buffer ReceiveBuffer{};
};
