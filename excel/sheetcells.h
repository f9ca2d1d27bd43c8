#pragma once

#include "excel/storememory.h"
#include "excel/textrows.h"

#include <QString>
#include <QStringView>
#include <cstdint>

// A text pool that keeps many short strings in one buffer: a workbook of a
// million cells would otherwise spend most of its memory on per-string headers.
class TextPool
{
public:
    std::uint32_t add(QStringView text);
    QStringView at(std::uint32_t index) const;
    std::uint32_t size() const { return static_cast<std::uint32_t>(m_ends.size()); }
    void reserve(qsizetype strings, qsizetype chars);

private:
    StoreMemory::Array<char16_t> m_chars;
    StoreMemory::Array<std::uint32_t> m_ends;
};

// What a cell holds, as far as its text form depends on it.
enum class CellKind : std::uint8_t {
    Text,          // index into the texts
    Number,        // plain number
    DateTime,      // spreadsheet serial day number; the date system is the sheet's
    Duration,      // elapsed time in days, shown with its whole hours ([h]:mm:ss)
    Boolean,       // number 0 or 1
    Error,         // index into the texts: the error code such as #DIV/0!
    FormulaNoValue // a formula whose result the file does not store
};

// The cells of one worksheet, columns A..Z only, kept compact (16 bytes a cell)
// and looked up by binary search. Readers append cells; finish() orders them.
class SheetCells
{
public:
    struct Cell
    {
        union {
            double number;      // Number, DateTime, Duration, Boolean
            std::uint32_t text; // Text, Error
        };
        std::uint32_t row;
        std::uint8_t column;
        CellKind kind;
    };
    static_assert(sizeof(Cell) == 16);

    SheetCells() = default;
    explicit SheetCells(std::int64_t rowLimit) : m_rowLimit(rowLimit) {}

    // Readers call these with row >= 1 and column 1..26; others are dropped by the reader.
    void addText(std::int64_t row, int column, QStringView text);
    void addTextIndex(std::int64_t row, int column, std::uint32_t text,
                      CellKind kind = CellKind::Text); // index from texts()
    void addNumber(std::int64_t row, int column, double value, CellKind kind = CellKind::Number);
    void addError(std::int64_t row, int column, QStringView code);
    void addFormulaWithoutValue(std::int64_t row, int column);
    void finish();
    // Room for what the file is expected to hold, so that the stores grow without
    // copying; untouched room costs address space, not memory.
    void reserve(std::int64_t cells, std::int64_t chars);

    TextPool& texts() { return m_texts; }
    void setSheetName(const QString& name) { m_sheetName = name; }
    const QString& sheetName() const { return m_sheetName; }
    void setDate1904(bool on) { m_date1904 = on; }
    bool date1904() const { return m_date1904; }
    std::int64_t rowLimit() const { return m_rowLimit; } // 0: the format sets none
    std::size_t cellCount() const { return m_cells.size() + m_textRows.fieldCount(); }
    // The last row that holds a cell (after finish()); 0 for an empty sheet.
    std::int64_t lastRow() const;

    // Null when the cell is empty (or past the data, or in a text sheet).
    const Cell* find(std::int64_t row, int column) const;
    QString textOf(const Cell& cell) const;
    // A csv's fields, kept apart from the cells: it holds nothing but text.
    TextRows& textRows() { return m_textRows; }
    const TextRows& textRows() const { return m_textRows; }

private:
    void push(std::int64_t row, int column, CellKind kind, double number, std::uint32_t text);

    StoreMemory::Array<Cell> m_cells;
    TextPool m_texts;
    TextRows m_textRows;
    QString m_sheetName;
    std::int64_t m_rowLimit = 0;
    bool m_date1904 = false;
    bool m_ordered = true;
};
