#include "tools/ptyrunner.h"

#include <poll.h>

#include <algorithm>
#include <vector>

PtyRunner::PtyRunner(TerminalSimulator& engine, PseudoTerminal& pty) : m_engine(engine), m_pty(pty)
{
    m_clock.start();
}

QList<int> PtyRunner::pump(int maxWaitMs, const QList<int>& watch)
{
    int wait = maxWaitMs;
    const qint64 due = m_engine.nextDueMs();
    if (due >= 0)
        wait = int(std::clamp<qint64>(due - nowMs(), 0, maxWaitMs));

    std::vector<pollfd> fds;
    fds.push_back({m_pty.masterFd(), POLLIN, 0});
    for (int fd : watch)
        fds.push_back({fd, POLLIN, 0});
    QList<int> ready;
    if (::poll(fds.data(), nfds_t(fds.size()), wait) > 0) {
        if (fds[0].revents & POLLIN) {
            const QByteArray bytes = m_pty.read(0);
            m_engine.receive(bytes, nowMs());
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                ready.append(fds[i].fd);
        }
    }
    flush();
    return ready;
}

void PtyRunner::flush()
{
    const QByteArray out = m_engine.takeOutput(nowMs());
    if (!out.isEmpty())
        m_pty.write(out);
}
