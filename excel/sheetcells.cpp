#include "excel/sheetcells.h"

#include "base/error.h"
#include "excel/celltext.h"
#include "excel/storememory.h"
#include "excel/workbooklimits.h"

#include <algorithm>
#include <cstdint>

std::uint32_t TextPool::add(QStringView text)
{
    if (static_cast<qsizetype>(m_chars.size()) + text.size() > WorkbookLimits::MaxTextChars)
        throw Failure(
            QStringLiteral("слишком много текста в листе (более %1 знаков)").arg(WorkbookLimits::MaxTextChars));
    std::copy(text.utf16(), text.utf16() + text.size(), m_chars.extend(static_cast<std::size_t>(text.size())));
    m_ends.push_back(static_cast<std::uint32_t>(m_chars.size()));
    return static_cast<std::uint32_t>(m_ends.size() - 1);
}

void TextPool::reserve(qsizetype strings, qsizetype chars)
{
    m_ends.reserve(static_cast<std::size_t>(strings));
    m_chars.reserve(static_cast<std::size_t>(chars));
}

QStringView TextPool::at(std::uint32_t index) const
{
    if (index >= m_ends.size())
        return {};
    const std::uint32_t begin = index == 0 ? 0 : m_ends[index - 1];
    return QStringView(m_chars.data() + begin, m_ends[index] - begin);
}

void SheetCells::push(std::int64_t row, int column, CellKind kind, double number, std::uint32_t text)
{
    Cell cell{};
    if (kind == CellKind::Text || kind == CellKind::Error)
        cell.text = text;
    else
        cell.number = number;
    cell.row = static_cast<std::uint32_t>(row);
    cell.column = static_cast<std::uint8_t>(column);
    cell.kind = kind;
    if (static_cast<std::int64_t>(m_cells.size()) >= WorkbookLimits::MaxCells)
        throw Failure(QStringLiteral("слишком много ячеек в листе (более %1)").arg(WorkbookLimits::MaxCells));
    if (!m_cells.empty()) {
        const Cell& last = m_cells.back();
        if (cell.row < last.row || (cell.row == last.row && cell.column <= last.column))
            m_ordered = false;
    }
    m_cells.push_back(cell);
}

void SheetCells::addText(std::int64_t row, int column, QStringView text)
{
    push(row, column, CellKind::Text, 0.0, m_texts.add(text));
}

void SheetCells::addTextIndex(std::int64_t row, int column, std::uint32_t text, CellKind kind)
{
    push(row, column, kind, 0.0, text);
}

void SheetCells::addNumber(std::int64_t row, int column, double value, CellKind kind)
{
    push(row, column, kind, value, 0);
}

void SheetCells::addError(std::int64_t row, int column, QStringView code)
{
    push(row, column, CellKind::Error, 0.0, m_texts.add(code));
}

void SheetCells::addFormulaWithoutValue(std::int64_t row, int column)
{
    push(row, column, CellKind::FormulaNoValue, 0.0, 0);
}

static bool before(const SheetCells::Cell& a, const SheetCells::Cell& b)
{
    return a.row != b.row ? a.row < b.row : a.column < b.column;
}

void SheetCells::finish()
{
    // Writers emit cells in order; a file that repeats a cell keeps its first one.
    if (!m_ordered) {
        std::stable_sort(m_cells.begin(), m_cells.end(), before);
        const Cell* kept = std::unique(m_cells.begin(), m_cells.end(), [](const Cell& a, const Cell& b) {
            return a.row == b.row && a.column == b.column;
        });
        m_cells.truncate(static_cast<std::size_t>(kept - m_cells.begin()));
        m_ordered = true;
    }
    // No shrink_to_fit: room reserved but never written costs address space,
    // not memory, and shrinking would copy every cell once more.
}

void SheetCells::reserve(std::int64_t cells, std::int64_t chars)
{
    cells = std::min(cells, WorkbookLimits::MaxCells);
    m_cells.reserve(static_cast<std::size_t>(cells));
    m_texts.reserve(cells, std::min(chars, WorkbookLimits::MaxTextChars));
}

const SheetCells::Cell* SheetCells::find(std::int64_t row, int column) const
{
    Cell key{};
    key.row = static_cast<std::uint32_t>(row);
    key.column = static_cast<std::uint8_t>(column);
    const auto it = std::lower_bound(m_cells.begin(), m_cells.end(), key, before);
    if (it == m_cells.end() || it->row != key.row || it->column != key.column)
        return nullptr;
    return &*it;
}

// The text ReadCellText gives; a formula without a stored value has none.
std::int64_t SheetCells::lastRow() const
{
    const std::int64_t cells = m_cells.empty() ? 0 : std::int64_t(m_cells.back().row);
    return std::max(cells, m_textRows.lastRow());
}

QString SheetCells::textOf(const Cell& cell) const
{
    switch (cell.kind) {
    case CellKind::Text:
    case CellKind::Error:
        return m_texts.at(cell.text).toString();
    case CellKind::Number:
        return CellText::number(cell.number);
    case CellKind::DateTime:
        return CellText::serialDateTime(cell.number, m_date1904);
    case CellKind::Duration:
        return CellText::duration(cell.number);
    case CellKind::Boolean:
        return CellText::boolean(cell.number != 0.0);
    case CellKind::FormulaNoValue:
        break;
    }
    return {};
}
