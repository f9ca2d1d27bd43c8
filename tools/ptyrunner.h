#pragma once

#include "tools/pty.h"
#include "tools/terminalsimulator.h"

#include <QElapsedTimer>
#include <QList>

// Plays the simulator on the master side of a pseudo-terminal with the real
// clock: bytes from the program go to the engine stamped with the time they were
// read, and with the last moment the line was seen empty before them, and the
// engine's output is written when it falls due.
class PtyRunner
{
public:
    PtyRunner(TerminalSimulator& engine, PseudoTerminal& pty);

    // Milliseconds since the runner was made; the engine's time base.
    qint64 nowMs() const { return m_clock.elapsed(); }

    // Waits up to maxWaitMs for bytes from the program, one of `watch` becoming
    // readable, or the engine's next due moment, whichever comes first; then
    // feeds and writes what there is. Returns the descriptors of `watch` that are readable.
    QList<int> pump(int maxWaitMs, const QList<int>& watch = {});

private:
    void flush();

    static constexpr int WriteRunLookMs = 2;

    TerminalSimulator& m_engine;
    PseudoTerminal& m_pty;
    QElapsedTimer m_clock;
    qint64 m_quietSinceMs = -1; // a moment the line from the program was found empty
};
