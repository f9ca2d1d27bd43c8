#pragma once

#include "link/sleeper.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

class ComPort;

// The write side of the terminal protocol: the write start command, the write
// frame of each track choice, the follow-up command and the four-byte answer.
// The six write routines of the terminal are one routine here, keyed by the
// track choice (0 "Track 1" .. 5 "Track 1 & 2 & 3").
namespace Tracks_Write {

struct CardTexts
{
    QString track1, track2, track3;

    const QString& track(int t) const { return t == 1 ? track1 : t == 2 ? track2 : track3; }
    QString& track(int t) { return t == 1 ? track1 : t == 2 ? track2 : track3; }
    friend bool operator==(const CardTexts&, const CardTexts&) = default;
};

// Characters a track holds; index 0 is unused so that the index is the track number.
constexpr int Capacity[4] = {0, 79, 40, 107};

// Whether a track's stripe can hold the character: track 1 the characters from
// space to '_' but the sentinels '%' and '?', tracks 2 and 3 '0' to '>'.
bool trackHolds(int track, char16_t c);
// The index of the first character of `text` that the track cannot hold, or -1.
qsizetype firstCharacterNotHeld(int track, const QString& text);

// A character as a message names it: «B», or its code when it does not print.
QString characterName(QChar c);
// Why the track cannot hold `text`, naming the character; empty when it can.
QString characterProblem(int track, const QString& text);

// True when any of the three texts is longer than its track holds, carried or not.
bool overCapacity(const CardTexts& texts);

// The frame for the choice, tracks 2 and 3 with the numeric-track translation.
// Empty when a carried text is empty (such a card is never sent).
QByteArray buildFrame(int choice, const CardTexts& texts);

// "=" and ">" as the terminal's numeric tracks take them (0x27 and 0x3D).
QByteArray numericTrackBytes(const QString& text);

// The pause the terminal needs between a frame and ESC 'j'.
int delayAfterFrameMs(int choice);
// The pause is the terminal's least; the drain and the clock are good to a few
// milliseconds, so it is kept with this much to spare.
constexpr int PauseMarginMs = 5;

// ESC '%' 'B': opens a run of cards.
void sendWriteStart(ComPort& port);

// The next card's texts, composed but not yet taken: `commit` advances the
// templates past this card. Composing throws Failure (a cell that cannot be
// read, a counter that is not a number) and then leaves the templates as they were.
struct StagedCard
{
    CardTexts texts;
    std::function<void()> commit;
};
// Composes the tracks the choice carries, in the order 1, 2, 3.
using Composer = std::function<StagedCard(int choice)>;

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
};

// One run of the write routine of `choice`. With `generateNext` the card is
// composed first; otherwise the texts in hand are sent again. The templates
// advance only for a card that goes out. A Failure from the composer propagates.
// `beforeSend` runs once the card is committed and before its frame goes out (the
// program records the card there); an error it throws stops the card going out.
WriteResult writeTrack(ComPort& port, const Sleeper& sleeper, int choice, bool generateNext, const CardTexts& inHand,
                       const Composer& compose, const std::function<void(const CardTexts&)>& beforeSend = {});

// The terminal's verdict on a card, taken from the first four bytes of its answer.
enum class Verdict { Written, NotWritten, NoVerdict };
Verdict verdictOf(QByteArrayView answer);
// The bytes of a whole answer to ESC 'j'.
constexpr int AnswerLength = 4;

} // namespace Tracks_Write
