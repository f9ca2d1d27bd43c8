#include "tools/pty.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    int slave = -1;
    char name[256] = {};
    if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    // Raw mode on the slave so the line discipline passes every byte through unchanged
    // (no echo, no CR/LF mapping, no XON/XOFF) as a real serial line would.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master readable while the program has the
    // port closed (otherwise the master reports a hang-up between opens).
    m_slaveKeepAlive = slave;
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    if (m_slaveKeepAlive >= 0)
        ::close(m_slaveKeepAlive);
    if (m_master >= 0)
        ::close(m_master);
}

bool PseudoTerminal::linkAs(const QString& linkPath) const
{
    QFile::remove(linkPath);
    return ::symlink(m_slavePath.toLocal8Bit().constData(), linkPath.toLocal8Bit().constData()) == 0;
}

qint64 PseudoTerminal::write(const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        break;
    }
    return done;
}

QByteArray PseudoTerminal::read(int timeoutMs)
{
    QByteArray out;
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
        return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}
