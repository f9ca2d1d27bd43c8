#pragma once

// The terminal simulator on the master side of a pseudo-terminal, pumped from a
// thread of the benchmark as stripewell-sim pumps it, with the moment each batch
// of its bytes was written noted on the monotonic clock the window's thread
// reads too. A hook runs on the terminal's thread after every pump, so a
// benchmark can swipe cards and watch the engine without locking it.

#include "tools/pty.h"
#include "tools/terminalsimulator.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

// Microseconds on the steady clock; the same in every thread.
inline qint64 monotonicUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

class TerminalThread
{
public:
    // On the terminal's thread: the engine, its time now, the bytes just written
    // to the program and when (monotonic µs; 0 when nothing was written).
    using Hook = std::function<void(TerminalSimulator&, qint64 nowMs, const QByteArray& written, qint64 writtenUs)>;

    // The engine's millisecond 0 is originUs on the monotonic clock, so a hook made
    // before the thread can turn the engine's times into the window's.
    explicit TerminalThread(TerminalSimulator engine, Hook hook = {}, qint64 originUs = monotonicUs())
        : m_engine(std::move(engine)), m_hook(std::move(hook)), m_originUs(originUs)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~TerminalThread() { stop(); }
    TerminalThread(const TerminalThread&) = delete;
    TerminalThread& operator=(const TerminalThread&) = delete;

    QString path() const { return m_pty.slavePath(); }
    bool linkAs(const QString& link) const { return m_pty.linkAs(link); }
    // Where the engine's millisecond 0 lies on the monotonic clock.
    qint64 originUs() const { return m_originUs; }

    // Ends the pump; afterwards the engine may be read from any thread.
    void stop()
    {
        m_quit = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    const TerminalSimulator& engineAfterStop() const { return m_engine; }

private:
    qint64 nowMs() const { return (monotonicUs() - m_originUs) / 1000; }

    void run()
    {
        while (!m_quit) {
            // Wake at least every 2 ms so the hook's own moments (a swipe) are kept closely.
            int wait = 2;
            const qint64 due = m_engine.nextDueMs();
            if (due >= 0)
                wait = int(std::clamp<qint64>(due - nowMs(), 0, wait));
            pollfd p{m_pty.masterFd(), POLLIN, 0};
            if (::poll(&p, 1, wait) > 0 && (p.revents & POLLIN))
                m_engine.receive(m_pty.read(0), nowMs());
            const QByteArray out = m_engine.takeOutput(nowMs());
            qint64 writtenUs = 0;
            if (!out.isEmpty()) {
                m_pty.write(out);
                writtenUs = monotonicUs();
            }
            if (m_hook)
                m_hook(m_engine, nowMs(), out, writtenUs);
        }
    }

    TerminalSimulator m_engine;
    Hook m_hook;
    PseudoTerminal m_pty;
    qint64 m_originUs;
    std::atomic<bool> m_quit = false;
    std::thread m_thread;
};

// Figures over the cards of one choice.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

inline double maximum(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}
