#pragma once

#include "link/serialdevice.h"
#include "writing/cardtexts.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <memory>

// A terminal for the loop's tests that answers each ESC 'j' as scripted, one
// read at a time, so that a test decides exactly what each step reads.
class FakeTerminal
{
public:
    enum class Outcome { Written, NotWritten, NoAnswer, Pieces, LoneEsc, Noise, NoVerdict, Delayed, StrayEsc };
    static constexpr int OutcomeCount = 9;

    // Answers to the coming cards, in order; once used up every card is written.
    std::deque<Outcome> script;
    // Frames the terminal took, and the cards it encoded (texts decoded, translation undone).
    QList<QByteArray> frames;
    QList<CardTexts> encoded;
    QList<Outcome> outcomes; // the answer each frame got, frame by frame
    QByteArray received;     // every byte sent to the terminal
    int escJCount = 0;

    std::unique_ptr<SerialDevice> device();
    SerialDeviceFactory factory();

    // Bytes the next reads return, one entry per read.
    void queueRead(const QByteArray& bytes) { m_reads.push_back(bytes); }
    void write(const char* data, qint64 count);
    qint64 read(char* data, qint64 maxCount);
    void purge() { m_reads.clear(); }

    // Splits a frame back into its texts; false when it is not a frame.
    static bool decodeFrame(const QByteArray& frame, CardTexts& texts);

private:
    void answer();

    std::deque<QByteArray> m_reads;
    QByteArray m_pending; // bytes of a command not yet complete
    QByteArray m_lastFrame;
};
