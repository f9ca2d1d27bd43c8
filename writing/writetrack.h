#pragma once

#include "link/sleeper.h"
#include "writing/cardtexts.h"

#include <functional>

class ComPort;

// The write routine of a track choice: compose the card (or take the texts in
// hand), check it, commit it, frame it and send it. The framing and the sending
// are the link's (Tracks_Write); composing and committing are ours.
struct WriteResult
{
    enum class Outcome {
        Sent,        // frame and ESC 'j' have gone out
        NothingSent, // a carried text is empty
        OverLong,    // a composed text does not fit its track; nothing sent, nothing committed
        Refused,     // a carried text holds a character its track cannot; nothing sent, nothing committed
    };
    Outcome outcome = Outcome::NothingSent;
    QString problem;       // with Refused: what is wrong, for the operator
    CardTexts texts;       // what the card carries: composed, or the texts in hand
    bool composed = false; // `texts` are new and belong in the track edits
    bool waiting = false;  // with NothingSent: the composer has no card yet, the next step asks again
};

// One run of the write routine of `choice`. With `generateNext` the card is
// composed first; otherwise the texts in hand are sent again. The templates
// advance only for a card that goes out. A Failure from the composer propagates.
// `beforeSend` runs once the card is committed and before its frame goes out (the
// program records the card there); an error it throws stops the card going out.
WriteResult writeTrack(ComPort& port, const Sleeper& sleeper, int choice, bool generateNext, const CardTexts& inHand,
                       const Composer& compose, const std::function<void(const CardTexts&)>& beforeSend = {});
