// How long one step of the write loop blocks the window, for each track choice
// with every carried track at capacity, against the terminal on the real-paced
// 9600-baud line: from handing the frame to the port until ESC 'j' has gone
// (the frame's drain, its line time and the routine's delay), and the whole
// step (with the read of the answer that follows). The terminal is the
// simulator on a pseudo-terminal, played from a thread of this process; it
// checks every ESC 'j' against its pause after the frame and counts the ones
// that came too soon. The loop uses the real port and the real sleeper.
// Run by hand:
//   build/release/bench/writing/bench_writeloop [cards per choice]
#include "bench/terminalthread.h"
#include "link/commandset.h"
#include "link/comport.h"
#include "link/qtserialdevice.h"
#include "writing/writeloop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int TimerMs = 500;
// Longer than a read's total time-out (100 ms), so the step that sends a frame
// waits out its read as it does when the operator is still to swipe the card,
// while a run takes less time than with the simulator's default 1500 ms.
constexpr int SwipeMs = 300;

// Full tracks, as the slowest frames a run sends.
WriteLoop::Composer fullCards()
{
    return [n = 0](int) mutable {
        ++n;
        const QString number = QString::number(n).rightJustified(7, QLatin1Char('0'));
        CardTexts t{number + QString(72, u'A'), number + QString(33, u'1'), number + QString(100, u'2')};
        return WriteLoop::StagedCard{t, [] {}};
    };
}

// The moments the program's sends of a write happen, on the monotonic clock.
struct SendTimes
{
    qint64 frameHandedUs = 0;  // the frame is given to the port
    qint64 followUpSentUs = 0; // the write of ESC 'j' has returned
    qsizetype frameBytes = 0;
};

// The real port with a watch on what the write routine sends through it.
class WatchedDevice : public SerialDevice
{
public:
    WatchedDevice(std::unique_ptr<SerialDevice> device, std::vector<SendTimes>& sends)
        : m_device(std::move(device)), m_sends(sends)
    {
    }
    bool open() override { return m_device->open(); }
    void close() override { m_device->close(); }
    bool isOpen() const override { return m_device->isOpen(); }
    void setTimeouts(const PortTimeouts& timeouts) override { m_device->setTimeouts(timeouts); }
    void purgeReceive() override { m_device->purgeReceive(); }
    void drain() override { m_device->drain(); }
    qint64 read(char* data, qint64 maxCount) override { return m_device->read(data, maxCount); }
    qint64 write(const char* data, qint64 count) override
    {
        const QByteArrayView bytes(data, count);
        if (bytes.startsWith("\x1bt"))
            m_sends.push_back({monotonicUs(), 0, count});
        const qint64 written = m_device->write(data, count);
        if (bytes == "\x1bj" && !m_sends.empty() && m_sends.back().followUpSentUs == 0)
            m_sends.back().followUpSentUs = monotonicUs();
        return written;
    }

private:
    std::unique_ptr<SerialDevice> m_device;
    std::vector<SendTimes>& m_sends;
};

SerialDeviceFactory watchedFactory(std::vector<SendTimes>& sends)
{
    return [&sends](const QString& name) -> std::unique_ptr<SerialDevice> {
        return std::make_unique<WatchedDevice>(qtSerialDeviceFactory()(name), sends);
    };
}

TerminalSimulator realTerminal()
{
    TerminalSimulator engine; // the real line: paced, USB delivery
    engine.setSwipeMs(SwipeMs);
    engine.setWriteScript(WriteScript::fromList({})); // every card written
    return engine;
}

struct Measure
{
    std::vector<double> handedToFollowUpMs; // per frame
    std::vector<double> sendStepMs;         // steps that sent a frame
    double otherStepMaxMs = 0;              // steps that only read
    qsizetype frameBytes = 0;
    int written = 0;
    int timingFaults = 0;
    double minGapMs = -1; // frame's last byte to ESC 'j', as the terminal saw them
    int pauseMs = 0;      // what the terminal needs there
};

// The gap the terminal saw between each frame's last byte and the ESC 'j' after it.
void terminalGaps(const TerminalSimulator& engine, Measure& m)
{
    qint64 frameEndMs = -1;
    for (const TerminalSimulator::Command& c : engine.commands()) {
        if (c.kind == TerminalSimulator::CommandKind::Frame) {
            frameEndMs = c.atMs;
        } else if (c.kind == TerminalSimulator::CommandKind::FollowUp && frameEndMs >= 0) {
            // Stamped at its 'j'; the ESC began two byte times earlier.
            const double gap = double(c.atMs - frameEndMs) - 2.0 * TerminalSimulator::ByteTimeUs / 1000;
            m.minGapMs = m.minGapMs < 0 ? gap : std::min(m.minGapMs, gap);
            frameEndMs = -1;
        }
    }
    if (!engine.frames().isEmpty())
        m.pauseMs = TerminalSimulator::pauseAfterFrameMs(engine.frames().first().carries);
}

// Steps back to back, each timed, until `cards` cards are written.
Measure backToBack(int choice, int cards)
{
    Measure m;
    TerminalThread terminal(realTerminal());
    std::vector<SendTimes> sends;
    {
        ComPort port(watchedFactory(sends));
        if (!port.ConnectPort(terminal.path()))
            return m;
        WriteLoop loop(port, realSleeper());
        const WriteLoop::Composer compose = fullCards();
        CardTexts inHand;
        loop.start();
        for (int step = 0; loop.cardsWritten() < cards && step < cards * 20; ++step) {
            const size_t sentBefore = sends.size();
            QElapsedTimer t;
            t.start();
            const WriteLoop::Tick tick = loop.tick(choice, inHand, compose);
            const double ms = double(t.nsecsElapsed()) / 1e6;
            if (sends.size() > sentBefore)
                m.sendStepMs.push_back(ms);
            else
                m.otherStepMaxMs = std::max(m.otherStepMaxMs, ms);
            if (tick.newTexts)
                inHand = *tick.newTexts;
        }
        m.written = loop.cardsWritten();
        loop.stop();
    }
    terminal.stop();
    for (const SendTimes& s : sends) {
        m.frameBytes = s.frameBytes;
        if (s.followUpSentUs > 0)
            m.handedToFollowUpMs.push_back(double(s.followUpSentUs - s.frameHandedUs) / 1000);
    }
    m.timingFaults = terminal.engineAfterStop().timingFaults();
    terminalGaps(terminal.engineAfterStop(), m);
    return m;
}

// A real run paced by a 500 ms timer, as the window drives it.
double pacedCardsPerMinute(int choice, int seconds, int* timingFaults)
{
    TerminalThread terminal(realTerminal());
    std::vector<SendTimes> sends;
    double perMinute = 0;
    {
        ComPort port(watchedFactory(sends));
        if (!port.ConnectPort(terminal.path()))
            return 0;
        WriteLoop loop(port, realSleeper());
        const WriteLoop::Composer compose = fullCards();
        CardTexts inHand;
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
        perMinute = loop.cardsWritten() / (double(clock.elapsed()) / 60000.0);
        loop.stop();
    }
    terminal.stop();
    *timingFaults = terminal.engineAfterStop().timingFaults();
    return perMinute;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cards = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;
    std::printf("%d cards per row, every carried track at capacity; 9600-baud line, USB delivery, swipe %d ms\n", cards,
                SwipeMs);
    std::printf("bound: the frame's line time + the routine's delay; frame->j: frame handed to the port until\n"
                "ESC 'j' has gone; gap: frame's last byte to ESC 'j' at the terminal (min) / the pause it needs\n\n");
    std::printf("%-18s %5s %7s %9s %9s %9s %9s %9s %11s %6s %7s\n", "choice", "bytes", "bound", "f->j med", "f->j max",
                "step med", "step max", "read max", "gap/need", "faults", "written");
    int faults = 0;
    for (int choice = 0; choice < CommandSet::TrackChoiceCount; ++choice) {
        const Measure m = backToBack(choice, cards);
        const double lineMs = double(m.frameBytes * 10) * 1000 / 9600;
        const double bound = lineMs + Tracks_Write::delayAfterFrameMs(choice);
        faults += m.timingFaults;
        std::printf("%-18s %5lld %7.1f %9.1f %9.1f %9.1f %9.1f %9.1f %6.1f/%-4d %6d %4d/%d\n",
                    CommandSet::trackChoiceText(choice).toLatin1().constData(), qlonglong(m.frameBytes), bound,
                    median(m.handedToFollowUpMs), maximum(m.handedToFollowUpMs), median(m.sendStepMs),
                    maximum(m.sendStepMs), m.otherStepMaxMs, m.minGapMs, m.pauseMs, m.timingFaults, m.written, cards);
        std::fflush(stdout);
    }
    int pacedFaults = 0;
    const double perMinute = pacedCardsPerMinute(CommandSet::Track123, 10, &pacedFaults);
    faults += pacedFaults;
    std::printf("\nwith the real 500 ms timer, \"Track 1 & 2 & 3\", 10 s: %.0f cards/min (%d timing faults)\n",
                perMinute, pacedFaults);
    std::printf("timing faults in all: %d\n", faults);
    return faults == 0 ? 0 : 1;
}
