#pragma once

#include "excel/cellsource.h"
#include "excel/sheetcells.h"

#include <QString>
#include <cstdint>
#include <memory>

// One version of the workbook's active sheet as it was read: the cells never
// change once read, so a snapshot can be read on any thread while the window's
// workbook moves on to a newer version of the file. Copies share the cells.
// A snapshot of a file that did not read fails every read with that reason.
class SheetSnapshot : public CellSource
{
public:
    SheetSnapshot() = default; // no workbook: every read fails
    SheetSnapshot(std::shared_ptr<const SheetCells> cells, QString path, quint64 version, QString failure = {});

    QString ReadCellText(int row, int column) override { return cellText(row, column); }
    QString cellText(int row, int column) const; // 1-based; throws Failure

    bool readable() const { return bool(m_cells); }
    const QString& failure() const { return m_failure; }
    const QString& path() const { return m_path; }
    // Counts the versions of the file the workbook has read; 0 without a workbook.
    quint64 version() const { return m_version; }
    // The last row that holds a cell; 0 for an empty sheet or one that did not read.
    std::int64_t lastRow() const { return m_cells ? m_cells->lastRow() : 0; }

    // The text of one cell of `cells`, as a read of the workbook gives it;
    // `name` is the file as messages show it.
    static QString textOf(const SheetCells& cells, int row, int column, const QString& name);
    static QString unreadableMessage(const QString& name, const QString& reason);
    static QString notOpenMessage();

private:
    std::shared_ptr<const SheetCells> m_cells;
    QString m_path;
    quint64 m_version = 0;
    QString m_failure;
};
