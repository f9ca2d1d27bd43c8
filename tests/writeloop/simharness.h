#pragma once

#include "loopharness.h"

#include "link/comport.h"
#include "tools/simulateddevice.h"
#include "tools/terminalsimulator.h"

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
    std::unique_ptr<WriteLoop> loop;
    std::unique_ptr<WriteTab> tab;

    explicit SimulatedRun(const QString& outcomes)
    {
        WriteScript script;
        WriteScript::fromPattern(outcomes, WriteTimings(), script, nullptr);
        engine.setWriteScript(std::move(script));
        port = std::make_unique<ComPort>(simulatedDeviceFactory(engine, clock, {}, &device),
                                         [this] { return clock.now(); });
        port->ConnectPort(QStringLiteral("COM1"));
        device->setReadWaits(true);
        loop = std::make_unique<WriteLoop>(*port, clock.sleeper());
        tab = std::make_unique<WriteTab>(*loop);
    }

    WriteLoop::Tick step(int choice, const WriteLoop::Composer& compose)
    {
        const qint64 due = clock.now() + StepMs;
        WriteLoop::Tick t = tab->Timer2Timer(choice, compose);
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
