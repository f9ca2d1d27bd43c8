#include "reading/readloop.h"

#include "link/commandset.h"
#include "link/comport.h"

void ReadLoop::start(ComPort& port, int choice)
{
    m_choice = choice;
    m_reply.reset();
    port.setReadCommand(choice);
    port.sendReadCommand();
    port.setDefaultReadCommand();
}

void ReadLoop::stop(ComPort& port)
{
    port.sendStop();
    m_reply.reset();
    port.setDefaultReadCommand();
}

void ReadLoop::rearm(ComPort& port)
{
    port.setReadCommand(m_choice);
    port.sendReadCommand();
}

std::optional<ReadLoop::Card> ReadLoop::poll(ComPort& port, qint64 nowMs)
{
    const QByteArray arrived = port.readUpTo(PollBytes);
    if (arrived.isEmpty()) {
        if (m_reply.stale(nowMs)) {
            // A reply that broke off would leave the terminal unarmed for good.
            m_reply.reset();
            rearm(port);
        }
        return std::nullopt;
    }
    // A reply still arriving is kept and joined with what the next polls read.
    const QByteArray reply = m_reply.feed(arrived, nowMs);
    if (reply.isEmpty())
        return std::nullopt;
    port.setReadCommand(m_choice);
    const CommandSet::ParsedReply parsed = CommandSet::parseReply(reply, m_choice);
    if (!parsed.complete)
        return std::nullopt;
    m_reply.reset();
    Card card;
    card.clearAll = parsed.clearAll;
    const auto text = [](const std::optional<QByteArray>& wire) -> std::optional<QString> {
        if (!wire)
            return std::nullopt;
        return CommandSet::wireToText(*wire);
    };
    card.track1 = text(parsed.track1);
    card.track2 = text(parsed.track2);
    card.track3 = text(parsed.track3);
    port.clearReceived();
    port.sendReadCommand();
    return card;
}
