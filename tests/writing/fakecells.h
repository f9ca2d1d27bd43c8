#pragma once

#include "base/error.h"
#include "excel/cellsource.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// A worksheet in memory that records every read. Row 0 and below cannot be
// read, as on a real sheet, and `failAtRead` makes one chosen read fail.
class FakeCells : public CellSource
{
public:
    QHash<QPair<int, int>, QString> values;
    QList<QPair<int, int>> reads;
    int failAtRead = -1;

    void set(int row, int column, const QString& text) { values.insert({row, column}, text); }

    QString ReadCellText(int row, int column) override
    {
        reads.append({row, column});
        if (row < 1 || reads.size() - 1 == failAtRead)
            throw Failure(QStringLiteral("Cell %1,%2 cannot be read").arg(row).arg(column));
        return values.value({row, column});
    }
};
