#pragma once

#include "loopharness.h"

#include "link/comport.h"
#include "tools/simulateddevice.h"
#include "tools/terminalsimulator.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

// The loop on the in-process terminal simulator with a clock that moves only
// when the loop sleeps, a read waits, or a 500 ms step ends.
struct SimulatedRun
{
    static constexpr int StepMs = 500;

    TerminalSimulator engine;
    SimClock clock;
    SimulatedDevice* device = nullptr;
    std::unique_ptr<ComPort> port;
    // The journal's folder: each line is synced to disk, which on a memory file system costs nothing.
    QTemporaryDir dir{QFileInfo(QStringLiteral("/dev/shm")).isDir() ? QStringLiteral("/dev/shm/stripewell-run-XXXXXX")
                                                                    : QString()};
    std::unique_ptr<BatchSession> session;
    TabShown tab;

    explicit SimulatedRun(const QString& outcomes)
    {
        WriteScript script;
        WriteScript::fromPattern(outcomes, WriteTimings(), script, nullptr);
        engine.setWriteScript(std::move(script));
        port = std::make_unique<ComPort>(simulatedDeviceFactory(engine, clock, {}, &device),
                                         [this] { return clock.now(); });
        port->ConnectPort(QStringLiteral("COM1"));
        device->setReadWaits(true);
        session = std::make_unique<BatchSession>(*port, clock.sleeper());
        session->setWorkDir(dir.path());
    }

    const WriteLoop& loop() const { return session->writeLoop(); }

    WriteLoop::Tick step(int choice, const WriteLoop::Composer& compose)
    {
        const qint64 due = clock.now() + StepMs;
        session->setTrackChoice(choice);
        session->setComposer(compose);
        WriteLoop::Tick t = tab.step(*session);
        clock.setNow(std::max(clock.now(), due));
        return t;
    }

    QStringList sentTrack1() const
    {
        QStringList texts;
        for (const TerminalSimulator::Frame& f : engine.frames())
            texts.append(QString::fromLatin1(f.card.track1));
        return texts;
    }

    QStringList encodedTrack1() const
    {
        QStringList texts;
        for (const SimCard& c : engine.encodedCards())
            texts.append(QString::fromLatin1(c.track1));
        return texts;
    }
};
