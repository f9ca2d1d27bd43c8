#pragma once

#include "base/error.h"
#include "excel/cellsource.h"
#include "tools/simcard.h"
#include "writing/composetracktext.h"
#include "writing/tracktemplate.h"
#include "writing/writeloop.h"

#include <memory>
#include <random>

// Templates with counters and a worksheet column on all three tracks, and the
// card the n-th composition of them gives, worked out independently.
namespace TemplateCards {

// Cells whose text tells their position: row 7, column 2 holds "72".
class PositionCells : public CellSource
{
public:
    QString ReadCellText(int row, int column) override { return QString::number(row * 10 + column); }
};

// The same cells in a workbook that is now and then caught while it is being
// rewritten: for a few reads a cell cannot be read, or reads empty.
class RewrittenCells : public CellSource
{
public:
    explicit RewrittenCells(quint32 seed) : m_rng(seed) {}
    QString ReadCellText(int row, int column) override
    {
        if (m_brokenReads == 0 && m_rng() % 200 == 0)
            m_brokenReads = 3;
        if (m_brokenReads > 0) {
            if (--m_brokenReads % 2)
                throw Failure(QStringLiteral("the file is being written"));
            return {};
        }
        return m_cells.ReadCellText(row, column);
    }
    int rewrites = 0;

private:
    PositionCells m_cells;
    std::mt19937 m_rng;
    int m_brokenReads = 0;
};

inline TemplateSet make(CellSource& cells)
{
    TemplateSet t;
    AddRequest text{0, QStringLiteral("N")};
    text.digitCount = 5;
    AddRequest rising{1};
    rising.counterStart = 1;
    rising.counterStep = 1;
    rising.digitCount = 5;
    t.add(1, 0, text, true, cells);
    t.add(1, 1, rising, true, cells);

    AddRequest equals{0, QStringLiteral("=")};
    equals.digitCount = 5;
    AddRequest column{3};
    column.excelColumn = 2;
    column.excelRow = 1;
    column.excelStep = 1;
    column.digitCount = 5;
    rising.counterStart = 1000;
    t.add(2, 0, rising, true, cells);
    t.add(2, 1, equals, true, cells);
    t.add(2, 2, column, true, cells);

    AddRequest falling{2};
    falling.counterStart = 999999;
    falling.counterStep = 3;
    falling.digitCount = 6;
    column.excelColumn = 3;
    column.digitCount = 6;
    t.add(3, 0, falling, true, cells);
    t.add(3, 1, column, true, cells);
    return t;
}

// Composes on a copy; the card's commit makes the copy the template.
inline WriteLoop::Composer composer(TemplateSet& committed, CellSource& cells)
{
    return [&committed, &cells](int choice) {
        auto card = std::make_shared<ComposedCard>(composeCard(committed, tracksOfChoice(choice), cells, true));
        return WriteLoop::StagedCard{card->texts, [&committed, card] { committed = card->advanced; }};
    };
}

inline QByteArray filled(qint64 value, int digits)
{
    return QByteArray::number(value).rightJustified(digits, '0');
}

// Counters give their value before the step; a worksheet slot moves its row first.
inline SimCard cardOf(int n)
{
    return {"N" + filled(n, 5), filled(999 + n, 5) + "=" + filled((1 + n) * 10 + 2, 5),
            filled(1000002 - 3 * n, 6) + filled((1 + n) * 10 + 3, 6)};
}

} // namespace TemplateCards
