#include "reading/replyassembler.h"

#include "link/commandset.h"

QByteArray ReplyAssembler::feed(QByteArrayView arrived)
{
    if (arrived.isEmpty())
        return {};
    const bool startsReply = arrived.front() == char(CommandSet::Esc);
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
