#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <random>

// How the terminal answers one ESC 'j' after a frame: the verdict it reports, and
// the ways a real line spoils an answer (late, in pieces, behind junk).
struct WriteOutcome
{
    enum class Answer {
        Written,    // ESC '0' '0' 'p'
        NotWritten, // ESC '0' 'q' 'q'
        NoVerdict,  // ESC '0' '0' '0': begins like an answer, says neither
        LoneEsc,    // a single ESC and nothing more
        None,       // silence
    };

    Answer answer = Answer::Written;
    int delayMs = 0;    // before the first byte
    int pieces = 1;     // the answer cut into this many parts ...
    int pieceGapMs = 0; // ... with this pause between them
    QByteArray noise;   // junk sent before the answer, pieceGapMs ahead of it
    char letter = 'W';  // the pattern letter it came from, for logs

    // Only a card answered "written" is on the stripe afterwards.
    bool encodes() const { return answer == Answer::Written; }
    QByteArray answerBytes() const;
};

// Timings the pattern letters use; one set per simulator.
struct WriteTimings
{
    int slowDelayMs = 700; // 'D': longer than one 500 ms poll
    int pieceGapMs = 300;  // 'P', 'Q', 'J': pieces land in different polls
    int answerDelayMs = 0; // added to every answer
};

// Where the outcome of each card attempt comes from: an explicit list, a pattern
// of letters, or a seeded random mix. Once a list or a non-repeating pattern is
// used up every further card is written, so a test can script just the start.
//
// Pattern letters: W written, N not written, X no answer, V answer without verdict,
// P written in pieces, Q not written in pieces, D written late, J junk then written,
// E a lone ESC. A trailing "*" repeats the pattern.
class WriteScript
{
public:
    WriteScript() = default;

    static WriteScript fromList(QList<WriteOutcome> outcomes);
    // "WWNX", "WN*", "random:SEED" or "random:SEED:LETTERS". False on a bad pattern.
    static bool fromPattern(const QString& pattern, const WriteTimings& timings, WriteScript& script, QString* error);

    static constexpr const char* Letters = "WNXVPQDJE";
    static bool outcomeForLetter(char letter, const WriteTimings& timings, WriteOutcome& outcome);

    WriteOutcome next();

private:
    std::deque<WriteOutcome> m_queue;
    QList<WriteOutcome> m_cycle; // repeated pattern, or the random mix's choices
    qsizetype m_cycleAt = 0;
    bool m_random = false;
    std::mt19937 m_rng;
};
