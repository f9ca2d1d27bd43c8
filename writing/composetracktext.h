#pragma once

#include "writing/cardtexts.h"
#include "writing/tracktemplate.h"

#include <QList>
#include <QString>

class CellSource;

// The text the next card receives on a track, built from the track's template,
// and the advance of the template past that card: counters move by their step,
// worksheet slots move their row and keep the value last read.

struct TrackText
{
    QString text;       // track 1 in upper case, as its field holds it
    int digitCount = 1; // the track's DigitCount clamped to 1..10, what SpinEdit3 shows
};

// Works on `templates` in place and in slot order. Throws Failure on a cell
// that cannot be read, a counter text that is not a number, or a counter or
// row that would outgrow 2147483647; the slots before it have then advanced.
// The generator takes its track as an argument and leaves CurrentTrack to the
// composer, so a run going on while the composer is open never retargets Add.
//
// With `forStripe` the card is made to be encoded: a slot whose output its track
// cannot hold, an empty worksheet cell (the end of the data) and a cell that
// cannot be read throw Refusal, naming the track, the character and the cell.
TrackText ComposeTrackText(TemplateSet& templates, int track, CellSource& cells, bool forStripe = false);

struct ComposedCard
{
    CardTexts texts;      // tracks not composed stay empty
    TemplateSet advanced; // the template as it stands after this card
    int digitCount = 1;   // of the last track composed
};

// Composes the card's tracks, in the order given, on a copy of `committed`.
// Nothing of `committed` changes, whether composing succeeds or throws; the
// caller makes the card count by assigning `advanced` to its template.
ComposedCard composeCard(const TemplateSet& committed, const QList<int>& tracks, CellSource& cells,
                         bool forStripe = false);

// The tracks a track choice (0 "Track 1" .. 5 "Track 1 & 2 & 3") carries, in order.
QList<int> tracksOfChoice(int choice);

// A text shorter than `digits` gets "0" in front; a longer one stays whole.
QString fillToDigits(const QString& text, int digits);
