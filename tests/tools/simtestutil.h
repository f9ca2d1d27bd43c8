#pragma once

#include "tools/simcard.h"

#include <QTest>

// Shows a card as its deck line when a comparison fails.
inline char* toString(const SimCard& card)
{
    return QTest::toString(card.toLine());
}
