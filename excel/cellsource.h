#pragma once

#include <QString>

// Where the per-card values of worksheet slots come from: the text of one cell of
// the active worksheet, row and column counted from 1. A read that cannot be
// answered throws Failure with a text for the operator.
class CellSource
{
public:
    virtual ~CellSource() = default;
    virtual QString ReadCellText(int row, int column) = 0;
};
