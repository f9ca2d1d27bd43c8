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
    // In a write run the frame's pause is judged: the line is looked at often, so
    // that a frame read late is known to be, and by how much.
    if (m_engine.inWriteSession())
        wait = std::min(wait, WriteRunLookMs);

    std::vector<pollfd> fds;
    fds.push_back({m_pty.masterFd(), POLLIN, 0});
    for (int fd : watch)
        fds.push_back({fd, POLLIN, 0});
    QList<int> ready;
    const qint64 beforeMs = nowMs();
    const int polled = ::poll(fds.data(), nfds_t(fds.size()), wait);
    if (polled == 0)
        m_quietSinceMs = beforeMs + wait; // nothing came in the whole wait
    if (polled > 0) {
        if (fds[0].revents & POLLIN) {
            const qint64 readAtMs = nowMs();
            const QByteArray bytes = m_pty.read(0);
            m_engine.receive(bytes, nowMs(), m_quietSinceMs);
            m_quietSinceMs = readAtMs; // the read took all there was from this moment on
        } else {
            m_quietSinceMs = beforeMs;
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
