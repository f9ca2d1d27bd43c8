#pragma once

#include "link/sleeper.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>

class ComPort;

// The write side of the terminal protocol: the write start command, the write
// frame of each track choice, the follow-up command and the four-byte answer.
// The six write routines of the terminal are one routine here, keyed by the
// track choice (0 "Track 1" .. 5 "Track 1 & 2 & 3").
namespace Tracks_Write {

// The texts of tracks 1, 2 and 3 (index 0 is track 1), as a frame carries them.
// What they mean, and where they come from, is the writing side's business.
using TrackTexts = std::array<QString, 3>;

// Characters a track holds; index 0 is unused so that the index is the track number.
constexpr int Capacity[4] = {0, 79, 40, 107};

// Whether a track's stripe can hold the character: track 1 the characters from
// space to '_' but the sentinels '%' and '?', tracks 2 and 3 '0' to '>'.
bool trackHolds(int track, char16_t c);
// The text as its track takes it and its field shows it: track 1 holds capitals
// only, and its letters are turned to upper case wherever they come from.
QString asTrackTakes(int track, const QString& text);
// The index of the first character of `text` that the track cannot hold, or -1.
qsizetype firstCharacterNotHeld(int track, const QString& text);

// A character as a message names it: «B», or its code when it does not print.
QString characterName(QChar c);
// Why the track cannot hold `text`, naming the character; empty when it can.
QString characterProblem(int track, const QString& text);

// True when any of the three texts is longer than its track holds, carried or not.
bool overCapacity(const TrackTexts& texts);

// The frame for the choice, tracks 2 and 3 with the numeric-track translation.
// Empty when a carried text is empty (such a card is never sent).
QByteArray buildFrame(int choice, const TrackTexts& texts);

// "=" and ">" as the terminal's numeric tracks take them (0x27 and 0x3D).
QByteArray numericTrackBytes(const QString& text);

// The pause the terminal needs between a frame and ESC 'j'.
int delayAfterFrameMs(int choice);
// The pause is the terminal's least; the drain and the clock are good to a few
// milliseconds, so it is kept with this much to spare.
constexpr int PauseMarginMs = 5;

// ESC '%' 'B': opens a run of cards.
void sendWriteStart(ComPort& port);

// A frame on the line, the terminal's pause after its last byte, then ESC 'j'.
void sendCard(ComPort& port, const Sleeper& sleeper, int choice, const QByteArray& frame);

// The terminal's verdict on a card, taken from the first four bytes of its answer.
enum class Verdict { Written, NotWritten, NoVerdict };
Verdict verdictOf(QByteArrayView answer);
// The bytes of a whole answer to ESC 'j'.
constexpr int AnswerLength = 4;

} // namespace Tracks_Write
