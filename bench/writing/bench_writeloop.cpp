// How fast the write loop encodes against a terminal that answers at once, and
// how long one step blocks the window, for each track choice. The terminal is
// the simulator on a pseudo-terminal, played from a thread of this process; the
// loop uses the real port and the real sleeper. Run by hand:
//   build/release/bench/writing/bench_writeloop [steps per choice]
#include "link/commandset.h"
#include "link/comport.h"
#include "link/qtserialdevice.h"
#include "tools/pty.h"
#include "tools/ptyrunner.h"
#include "tools/terminalsimulator.h"
#include "writing/writeloop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

constexpr int TimerMs = 500;
constexpr double DesignBoundPerMinute = 60000.0 / TimerMs;

// Full tracks, as the slowest frames a run sends.
WriteLoop::Composer fullCards()
{
    return [n = 0](int) mutable {
        ++n;
        const QString number = QString::number(n).rightJustified(7, QLatin1Char('0'));
        Tracks_Write::CardTexts t{number + QString(72, u'A'), number + QString(33, u'1'), number + QString(100, u'2')};
        return WriteLoop::StagedCard{t, [] {}};
    };
}

// The simulator on the master side of a pseudo-terminal, pumped from its own thread.
class TerminalThread
{
public:
    TerminalThread() : m_runner(m_engine, m_pty)
    {
        m_thread = std::thread([this] {
            while (!m_quit)
                m_runner.pump(5);
        });
    }
    ~TerminalThread()
    {
        m_quit = true;
        m_thread.join();
    }
    QString path() const { return m_pty.slavePath(); }
    int encodedAfterStop() { return int(m_engine.encodedCards().size()); }

private:
    TerminalSimulator m_engine;
    PseudoTerminal m_pty;
    PtyRunner m_runner;
    std::atomic<bool> m_quit = false;
    std::thread m_thread;
};

struct Measure
{
    double meanStepMs = 0;
    double maxStepMs = 0;
    int written = 0;
};

// Steps back to back, each timed: what one Timer2Timer costs the window.
Measure backToBack(int choice, int steps)
{
    TerminalThread terminal;
    ComPort port(qtSerialDeviceFactory());
    if (!port.ConnectPort(terminal.path()))
        return {};
    WriteLoop loop(port, realSleeper());
    const WriteLoop::Composer compose = fullCards();
    Tracks_Write::CardTexts inHand;
    loop.start();
    Measure m;
    double total = 0;
    for (int i = 0; i < steps; ++i) {
        QElapsedTimer t;
        t.start();
        const WriteLoop::Tick tick = loop.tick(choice, inHand, compose);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        total += ms;
        m.maxStepMs = std::max(m.maxStepMs, ms);
        if (tick.newTexts)
            inHand = *tick.newTexts;
    }
    m.meanStepMs = total / steps;
    m.written = loop.cardsWritten();
    loop.stop();
    return m;
}

// A real run paced by a 500 ms timer, as the window drives it.
double pacedCardsPerMinute(int choice, int seconds)
{
    TerminalThread terminal;
    ComPort port(qtSerialDeviceFactory());
    if (!port.ConnectPort(terminal.path()))
        return 0;
    WriteLoop loop(port, realSleeper());
    const WriteLoop::Composer compose = fullCards();
    Tracks_Write::CardTexts inHand;
    QTimer timer;
    timer.setInterval(TimerMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const WriteLoop::Tick tick = loop.tick(choice, inHand, compose);
        if (tick.newTexts)
            inHand = *tick.newTexts;
    });
    QElapsedTimer clock;
    loop.start();
    clock.start();
    timer.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    timer.stop();
    const double minutes = double(clock.elapsed()) / 60000.0;
    loop.stop();
    return loop.cardsWritten() / minutes;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;
    std::printf("design bound: one card per %d ms step = %.0f cards/min\n\n", TimerMs, DesignBoundPerMinute);
    std::printf("%-18s %9s %9s %8s %12s %12s %7s\n", "choice", "step ms", "max ms", "written", "b2b /min", "paced /min",
                "ratio");
    for (int choice = 0; choice < CommandSet::TrackChoiceCount; ++choice) {
        const Measure m = backToBack(choice, steps);
        const double b2b = m.meanStepMs > 0 ? 60000.0 / m.meanStepMs * m.written / steps : 0;
        // A step that outlasts the timer's interval delays the next one.
        const double paced = 60000.0 / std::max<double>(TimerMs, m.meanStepMs) * m.written / steps;
        std::printf("%-18s %9.1f %9.1f %5d/%-2d %12.0f %12.0f %7.2f\n",
                    CommandSet::trackChoiceText(choice).toLatin1().constData(), m.meanStepMs, m.maxStepMs, m.written,
                    steps, b2b, paced, paced / DesignBoundPerMinute);
    }
    std::printf("\nmeasured with a real 500 ms timer, \"Track 1 & 2 & 3\", 10 s: %.0f cards/min\n",
                pacedCardsPerMinute(CommandSet::Track123, 10));
    return 0;
}
