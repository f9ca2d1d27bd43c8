#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Collects a read reply across polls. A reply of a long card, or one read while
// it is still arriving, comes in pieces: the first holds the ESC that begins it,
// the rest do not. The pieces are joined, in storage of their own, until the
// parser finds the reply complete.
//
// Two things keep reading from stalling on a broken line. Bytes before the ESC
// of a reply (noise) are skipped. And a reply that has begun but is not complete
// after the line has been quiet for QuietLimitMs is given up: the caller drops it
// and re-arms the terminal for the next card.
class ReplyAssembler
{
public:
    // The longest reply, three tracks at capacity with their markers, is 231 bytes.
    static constexpr int Limit = 512;
    static constexpr int QuietLimitMs = 1000;

    // Takes the bytes of one read that arrived at nowMs. Returns the reply so far
    // when it is worth parsing, or an empty array when the bytes are no part of one.
    QByteArray feed(QByteArrayView arrived, qint64 nowMs);
    // A reply begun and not completed, with no byte for QuietLimitMs.
    bool stale(qint64 nowMs) const;
    // The reply was shown, given up, or the terminal was told to stop or re-armed: start afresh.
    void reset();

private:
    QByteArray m_pending;
    bool m_begun = false; // a reply began and has not been completed or given up
    qint64 m_lastArrivalMs = 0;
};
