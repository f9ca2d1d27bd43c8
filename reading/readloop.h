#pragma once

#include "reading/replyassembler.h"

#include <QString>

#include <optional>

class ComPort;

// The read tab's loop without its window: "Читать" arms the terminal for a
// track choice, each 500 ms poll reads what has come and, once a whole reply is
// there, hands back the card's texts and arms the terminal for the next card.
// A reply that breaks off is given up after a quiet second and the terminal is
// armed again, so reading never stalls.
//
// The window reads its controls, calls this, and writes the edits it returns.
class ReadLoop
{
public:
    // What a complete reply shows. A track left empty here keeps its edit's text,
    // unless `clearAll` says that every edit is cleared first.
    struct Card
    {
        bool clearAll = false;
        std::optional<QString> track1, track2, track3;
    };

    // The most one poll reads.
    static constexpr int PollBytes = 150;

    // "Читать": the read command of `choice` goes out; the buffer is left with
    // the default read command, as the terminal has always been driven.
    void start(ComPort& port, int choice);
    // The track choice changed while reading (a box ticked, a job opened).
    void setChoice(int choice) { m_choice = choice; }
    int choice() const { return m_choice; }
    // One poll at nowMs: the texts of a card whose reply has come whole, or nothing.
    std::optional<Card> poll(ComPort& port, qint64 nowMs);
    // "Отмена": ESC '0' goes out; the buffer is left with the default read command.
    void stop(ComPort& port);
    // The terminal was told to stop by someone else: a reply begun is no longer awaited.
    void forgetReply() { m_reply.reset(); }

private:
    void rearm(ComPort& port);

    ReplyAssembler m_reply;
    int m_choice = 0;
};
