#include "reading/replyassembler.h"

namespace {
constexpr char Esc = 0x1B;
}

QByteArray ReplyAssembler::feed(QByteArrayView arrived)
{
    if (arrived.isEmpty())
        return {};
    const bool startsReply = arrived.front() == Esc;
    // Track data never holds ESC, so a piece that begins with it is a new reply.
    // Otherwise it continues the one begun, unless none was begun or the reply
    // would outgrow the buffer without completing.
    if (startsReply || m_pending.isEmpty() || m_pending.size() + arrived.size() > Limit) {
        m_pending.clear();
        if (!startsReply)
            return {};
    }
    m_pending.append(arrived.data(), arrived.size());
    return m_pending;
}
