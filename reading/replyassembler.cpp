#include "reading/replyassembler.h"

#include "link/commandset.h"

QByteArray ReplyAssembler::feed(QByteArrayView arrived, qint64 nowMs)
{
    if (arrived.isEmpty())
        return {};
    // Track data never holds ESC, so an ESC begins a new reply, whatever came before it.
    const qsizetype esc = arrived.indexOf(char(CommandSet::Esc));
    if (esc >= 0) {
        m_pending.clear();
        m_begun = true;
        arrived = arrived.sliced(esc);
    } else if (!m_begun) {
        return {};
    }
    m_lastArrivalMs = nowMs;
    if (m_pending.size() + arrived.size() > Limit) {
        // Longer than any reply: the rest of it is noise. It is given up once the line is quiet.
        m_pending.clear();
        return {};
    }
    if (esc < 0 && m_pending.isEmpty())
        return {}; // the tail of a reply already given up
    m_pending.append(arrived.data(), arrived.size());
    return m_pending;
}

bool ReplyAssembler::stale(qint64 nowMs) const
{
    return m_begun && nowMs - m_lastArrivalMs >= QuietLimitMs;
}

void ReplyAssembler::reset()
{
    m_pending.clear();
    m_begun = false;
}
