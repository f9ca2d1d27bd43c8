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
    ShortOfSize,    // the data ends before the batch's size
};

// Whether the run stops at a card with this problem; the others only warn
// (Duplicate, AlreadyWritten, CounterWidens), and EndOfData is where a batch
// without a size ends.
bool stopsRun(Problem kind);

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
    QList<Card> cards;        // the cards the batch holds: card n is cards[n - 1]
    QList<Issue> problems;    // cards that would be refused, or should not go out, in card order
    std::optional<Issue> end; // EndOfData or Unreadable; none when the size or the card limit ended the batch
    int size = 0;             // the batch's size as asked; 0: to the end of the data
    bool partial = false;     // no size and no end of data: only the first cards ahead were composed
    bool cancelled = false;   // cards and problems hold what was found before the cancel

    // The problems the run stops at (with a cell that does not read), and those it only warns of.
    QList<Issue> stops() const;
    QList<Issue> warnings() const;
    // Cards that can go before the first stop (all of them when there is none).
    int cardsBeforeFirstStop() const;
    // Nothing to tell the operator: no problem, and the batch ends at its size or the end of its data.
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
    int size = 0;             // the cards the operator means; 0: unsized, to the end of the data
};

// Without a size, a batch whose templates read no worksheet has no end to
// judge it by: only this many cards ahead are composed, for the preview.
constexpr int CardsWithoutSize = 100;
// A batch ends at the latest after this many cards.
constexpr int MostCards = 1048576;

// Whether the templates of a track choice read the worksheet.
bool readsWorksheet(const TemplateSet& templates, int choice);
// Whether a batch has an end to check it up to: a size, or worksheet data that ends.
bool judgedWhole(const TemplateSet& templates, int choice, int size);
// The end of a batch's data as the operator is told it: "Данные кончаются на
// строке 7: в партии 5 карточек."
QString endOfDataMessage(int row, int cards);

// Composes and checks the batch ahead. `cancel`, when set from another thread,
// ends it at the next card; `progress` is called every few hundred cards.
Result run(const Input& input, CellSource& cells, const std::atomic_bool* cancel = nullptr,
           const Progress& progress = {});

} // namespace Preflight
