#pragma once

#include "writing/tracktemplate.h"

#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <optional>

class CellSource;

// The batch ahead, known before its first card: every card the templates and
// the worksheet give, composed on a copy of the templates and checked as the
// write loop checks a card before its frame, and for what the write loop cannot
// see one card at a time (the same texts twice, texts the journal holds, a
// counter whose text grows a character).
//
// Nothing here touches a widget or the window's workbook: it reads its cells
// from a source that nothing else changes meanwhile (a sheet snapshot), so it
// may run on a thread of its own.
namespace Preflight {

enum class Problem {
    Character,      // a track cannot hold a character of its text
    OverLong,       // a text longer than its track holds
    EmptyText,      // a carried track's text is empty: the card would never go out
    Duplicate,      // the same texts as an earlier card of the batch
    AlreadyWritten, // the journal holds a card with these texts
    CounterWidens,  // a counter outgrew its digit count: the text is longer from here on
    EndOfData,      // a worksheet slot reached an empty cell: the batch ends before this card
    Unreadable,     // a cell that does not read, a counter that fails: the batch ends here
};

struct Issue
{
    Problem kind = Problem::Character;
    int card = 0;    // the card's number in the batch ahead, from 1
    int row = 0;     // the worksheet row to blame; 0 when the card reads no worksheet
    QString cell;    // such as "B734"; empty when no cell is to blame
    QString message; // for the operator, as the window says it
    friend bool operator==(const Issue&, const Issue&) = default;
};

struct Card
{
    int row = 0;                  // the row its first worksheet slot reads; 0 when none
    std::array<QString, 3> texts; // tracks 1..3; tracks the choice does not carry stay empty
};

struct Result
{
    QList<Card> cards;        // the cards the data gives: card n is cards[n - 1]
    QList<Issue> problems;    // cards that would be refused, or should not go out, in card order
    std::optional<Issue> end; // EndOfData or Unreadable; none when the card limit ended the batch
    bool cancelled = false;   // cards and problems hold what was found before the cancel

    // Cards that can go before the first problem (all of them when there is none).
    int cardsBeforeFirstProblem() const;
    // Nothing to tell the operator: no problem, and the batch ends at the end of its data or its limit.
    bool clean() const;
};

// Whether the journal holds a card with these texts (tracks not carried are
// empty). Called on the pre-flight's thread.
using AlreadyWritten = std::function<bool(const QString& t1, const QString& t2, const QString& t3)>;
// Cards composed so far, and the cards the data is expected to give (0: not known).
using Progress = std::function<void(int done, int expected)>;

struct Input
{
    TemplateSet templates; // as they stand; the pre-flight advances its own copy
    int choice = 0;        // track choice, 0 "Track 1" .. 5 "Track 1 & 2 & 3"
    AlreadyWritten alreadyWritten;
    std::int64_t lastRow = 0; // the sheet's last row, for the expected count; 0: not known
};

// A batch whose templates read no worksheet runs this many cards ahead.
constexpr int CardsWithoutWorksheet = 10000;
// A worksheet batch ends at its data, and at the latest after this many cards.
constexpr int MostCards = 1048576;

// Composes and checks the batch ahead. `cancel`, when set from another thread,
// ends it at the next card; `progress` is called every few hundred cards.
Result run(const Input& input, CellSource& cells, const std::atomic_bool* cancel = nullptr,
           const Progress& progress = {});

} // namespace Preflight
