#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include "link/commandset.h"

// Collects a read reply across polls. A reply of a long card, or one read while
// it is still arriving, comes in pieces: the first begins with ESC, the rest do
// not. The pieces are joined (within the receive buffer's 200 bytes) until the
// parser finds the reply complete.
class ReplyAssembler
{
public:
    static constexpr int Limit = CommandSet::BufferSize;

    // Takes the bytes of one read. Returns the reply so far when it is worth
    // parsing, or an empty array when the bytes are not part of a reply.
    QByteArray feed(QByteArrayView arrived);
    // The reply was shown, or the terminal was told to stop or re-armed: start afresh.
    void reset() { m_pending.clear(); }

private:
    QByteArray m_pending;
};
