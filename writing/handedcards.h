#pragma once

#include "writing/cardtexts.h"

#include <QString>

#include <optional>

// Cards another party hands out one at a time: a shared batch, whose database
// gives each card to one station only. The write loop takes a card only once
// one has been handed over, and tells every verdict on it.
class HandedCards
{
public:
    virtual ~HandedCards() = default;

    // A card handed over for this station and not yet taken; none asks for one.
    virtual std::optional<CardTexts> ready() = 0;
    // The card goes on the line: it is this station's until written.
    virtual void take() = 0;
    // The terminal's verdict on the card taken last. Throws Failure when it cannot be kept.
    virtual void outcome(bool written, const QString& note) = 0;
    // Nothing more to hand over to this station: the run ends.
    virtual bool finished() const = 0;
    // The station the cards are handed to, as the journal names it.
    virtual QString station() const = 0;
};
