#pragma once

#include "link/tracks_write.h"

#include <QString>

#include <functional>

// The texts of one card on tracks 1, 2 and 3: what the composer makes, the
// write tab's edits hold, the journal and the job record. The link frames them
// as plain texts.
struct CardTexts
{
    QString track1, track2, track3;

    const QString& track(int t) const { return t == 1 ? track1 : t == 2 ? track2 : track3; }
    QString& track(int t) { return t == 1 ? track1 : t == 2 ? track2 : track3; }
    // As the link's frame and capacity checks take them.
    operator Tracks_Write::TrackTexts() const { return {track1, track2, track3}; }
    friend bool operator==(const CardTexts&, const CardTexts&) = default;
};

// The next card's texts, composed but not yet taken: `commit` advances the
// templates past this card. Composing throws Failure (a cell that cannot be
// read, a counter that is not a number) and then leaves the templates as they were.
struct StagedCard
{
    CardTexts texts;
    std::function<void()> commit;
    // No card yet (a shared batch's card not handed over yet): nothing goes out,
    // and the next step asks again.
    bool wait = false;
};
// Composes the tracks the choice carries, in the order 1, 2, 3.
using Composer = std::function<StagedCard(int choice)>;
