#include "link/qtserialdevice.h"
#include "link/systemserialdevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>

#include <algorithm>

#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A USB adapter's latency timer (16 ms) plus room for the scheduler.
constexpr int BurstAllowanceMs = 24;

// Whether the system has hung the line up: what an unplugged USB adapter and a
// pseudo-terminal whose far end closed both look like.
bool hungUp(const QSerialPort& port)
{
    pollfd p{int(port.handle()), 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool deviceGone(const QSerialPort& port)
{
    const auto error = port.error();
    if (error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError ||
        error == QSerialPort::PermissionError)
        return true;
    // A hung-up line reads as end of file, which the port reports as a read error.
    return error == QSerialPort::ReadError && hungUp(port);
}

// The reason an open failed. A held lock and a line in exclusive use both come
// as a permission error; a device we may read and write is then busy.
QString openFailureText(const QSerialPort& port, const QString& path)
{
    switch (port.error()) {
    case QSerialPort::PermissionError:
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0)
            return QStringLiteral("нет прав на устройство");
        return QStringLiteral("занят другой программой");
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("устройство не найдено");
    default:
        return port.errorString();
    }
}

} // namespace

QtSerialDevice::QtSerialDevice(QString systemLocation) : m_location(std::move(systemLocation)) {}

QtSerialDevice::~QtSerialDevice()
{
    close();
}

bool QtSerialDevice::open()
{
    m_failure.clear();
    if (m_location.isEmpty())
        return false;
    const QFileInfo info(m_location);
    // Only character devices are serial ports; a plain file or a directory fails like a missing port.
    if (!info.exists() || info.isDir() || info.isFile()) {
        m_failure =
            info.exists() ? QStringLiteral("это не последовательный порт") : QStringLiteral("устройство не найдено");
        return false;
    }
    auto port = std::make_unique<QSerialPort>();
    // The device itself, not a link to it: QSerialPort locks the port by its
    // name (LCK..ttyUSB0 in /run/lock, as other serial programs do), so the
    // same device reached as COM1, by its stable name or by its path is one
    // lock, and a port another program holds fails as busy, even for root,
    // whom the terminal's exclusive mode does not stop.
    const QString device = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    port->setPortName(device);
    if (!port->open(QIODevice::ReadWrite)) {
        m_failure = openFailureText(*port, device);
        return false;
    }
    if (!port->setBaudRate(QSerialPort::Baud9600) || !port->setDataBits(QSerialPort::Data8) ||
        !port->setParity(QSerialPort::NoParity) || !port->setStopBits(QSerialPort::OneStop)) {
        port->close();
        return false;
    }
    // Between our reads the port's own read notifier is what sees the device
    // go. It would go on firing on the dead line, so the port is closed at
    // once, and the link finds it closed at its next look.
    QSerialPort* watched = port.get();
    QObject::connect(watched, &QSerialPort::errorOccurred, watched, [watched] {
        if (watched->isOpen() && deviceGone(*watched))
            QMetaObject::invokeMethod(
                watched, [watched] { watched->close(); }, Qt::QueuedConnection);
    });
    m_port = std::move(port);
    return true;
}

void QtSerialDevice::close()
{
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

bool QtSerialDevice::isOpen() const
{
    return m_port && m_port->isOpen();
}

void QtSerialDevice::dropIfGone()
{
    if (!m_port)
        return;
    if (deviceGone(*m_port))
        close();
}

void QtSerialDevice::setTimeouts(const PortTimeouts& timeouts)
{
    m_timeouts = timeouts;
}

void QtSerialDevice::purgeReceive()
{
    if (!isOpen())
        return;
    // Take in what the driver already holds so that clear() drops it too.
    m_port->waitForReadyRead(0);
    m_port->clear(QSerialPort::Input);
    m_port->readAll();
    dropIfGone();
}

qint64 QtSerialDevice::write(const char* data, qint64 count)
{
    if (!isOpen() || count <= 0)
        return 0;
    const qint64 queued = m_port->write(data, count);
    const int budget = m_timeouts.writeTotalConstant + m_timeouts.writeTotalMultiplier * int(count);
    QElapsedTimer timer;
    timer.start();
    while (m_port && m_port->bytesToWrite() > 0) {
        const int left = budget - int(timer.elapsed());
        if (left <= 0 || !m_port->waitForBytesWritten(left))
            break;
    }
    dropIfGone();
    return queued < 0 ? 0 : queued;
}

void QtSerialDevice::drain()
{
    if (!isOpen())
        return;
    // QSerialPort's own wait ends when the bytes are in the kernel; the terminal
    // needs to know when they have left the line.
    while (tcdrain(m_port->handle()) != 0 && errno == EINTR) {
    }
}

int QtSerialDevice::quietGapMs(const PortTimeouts& timeouts)
{
    return timeouts.readInterval > 0 ? std::max(timeouts.readInterval, BurstAllowanceMs) : 0;
}

qint64 QtSerialDevice::read(char* data, qint64 maxCount)
{
    if (!isOpen() || maxCount <= 0)
        return 0;
    const int total = m_timeouts.readTotalConstant + m_timeouts.readTotalMultiplier * int(maxCount);
    const int quiet = quietGapMs(m_timeouts);
    QElapsedTimer timer;
    timer.start();
    qint64 got = 0;
    for (;;) {
        const qint64 n = m_port->read(data + got, maxCount - got);
        if (n > 0)
            got += n;
        if (got >= maxCount)
            break;
        const int left = total - int(timer.elapsed());
        if (left <= 0)
            break;
        const int wait = (got > 0 && quiet > 0) ? std::min(left, quiet) : left;
        if (!m_port->waitForReadyRead(wait)) {
            // Quiet line, total time-out, or the device failed: in each case the read is over.
            dropIfGone();
            break;
        }
    }
    return got;
}

QString portSystemLocation(const QString& name, const QDir& workDir)
{
    if (name.isEmpty())
        return {};
    // Windows takes "com3" for "COM3"; so do we.
    static const QRegularExpression comName(QStringLiteral("^COM([1-8])$"), QRegularExpression::CaseInsensitiveOption);
    const auto match = comName.match(name);
    if (match.hasMatch()) {
        const QFileInfo link(workDir.filePath(QStringLiteral("COM") + match.captured(1)));
        if (link.exists())
            return link.absoluteFilePath();
        return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
    }
    if (name.contains(QLatin1Char('/')))
        return QFileInfo(workDir, name).absoluteFilePath();
    const QFileInfo local(workDir.filePath(name));
    if (local.exists())
        return local.absoluteFilePath();
    return QStringLiteral("/dev/") + name;
}

SerialDeviceFactory qtSerialDeviceFactory()
{
    return [](const QString& name) -> std::unique_ptr<SerialDevice> {
        return std::make_unique<QtSerialDevice>(portSystemLocation(name, QDir::current()));
    };
}
