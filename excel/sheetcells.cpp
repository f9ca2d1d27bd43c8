#include "excel/sheetcells.h"

#include "excel/workbooklimits.h"
#include "link/error.h"
#include "link/windows1251.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

std::uint32_t TextPool::add(QStringView text)
{
    if (m_chars.size() + text.size() > WorkbookLimits::MaxTextChars)
        throw Failure(QStringLiteral("слишком много текста в листе (более %1 знаков)").arg(WorkbookLimits::MaxTextChars));
    m_chars.append(text);
    m_ends.push_back(static_cast<std::uint32_t>(m_chars.size()));
    return static_cast<std::uint32_t>(m_ends.size() - 1);
}

bool TextPool::addUtf8(QByteArrayView bytes, std::uint32_t& index)
{
    if (m_chars.size() + bytes.size() > WorkbookLimits::MaxTextChars)
        throw Failure(QStringLiteral("слишком много текста в листе (более %1 знаков)").arg(WorkbookLimits::MaxTextChars));
    const qsizetype old = m_chars.size();
    m_chars.resize(old + bytes.size());
    QChar* out = m_chars.data() + old;
    qsizetype i = 0;
    for (; i < bytes.size() && static_cast<signed char>(bytes[i]) >= 0; ++i)
        out[i] = QChar(static_cast<char16_t>(bytes[i]));
    if (i < bytes.size()) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QChar* end = utf8.appendToBuffer(out + i, bytes.sliced(i));
        if (utf8.hasError()) {
            m_chars.resize(old);
            return false;
        }
        m_chars.resize(end - m_chars.constData());
    }
    m_ends.push_back(static_cast<std::uint32_t>(m_chars.size()));
    index = static_cast<std::uint32_t>(m_ends.size() - 1);
    return true;
}

std::uint32_t TextPool::addWindows1251(QByteArrayView bytes)
{
    if (m_chars.size() + bytes.size() > WorkbookLimits::MaxTextChars)
        throw Failure(QStringLiteral("слишком много текста в листе (более %1 знаков)").arg(WorkbookLimits::MaxTextChars));
    const qsizetype old = m_chars.size();
    m_chars.resize(old + bytes.size());
    QChar* out = m_chars.data() + old;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char16_t u = Windows1251::toUnicode(static_cast<unsigned char>(bytes[i]));
        out[i] = QChar(u ? u : char16_t(0xFFFD));
    }
    m_ends.push_back(static_cast<std::uint32_t>(m_chars.size()));
    return static_cast<std::uint32_t>(m_ends.size() - 1);
}

static void preferHugePages(const void* begin, std::size_t bytes);

void TextPool::reserve(qsizetype strings, qsizetype chars)
{
    m_ends.reserve(static_cast<std::size_t>(strings));
    m_chars.reserve(chars);
    preferHugePages(m_ends.data(), m_ends.capacity() * sizeof(std::uint32_t));
    preferHugePages(m_chars.constData(), static_cast<std::size_t>(m_chars.capacity()) * sizeof(QChar));
}

QStringView TextPool::at(std::uint32_t index) const
{
    if (index >= m_ends.size())
        return {};
    const std::uint32_t begin = index == 0 ? 0 : m_ends[index - 1];
    return QStringView(m_chars).mid(begin, m_ends[index] - begin);
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
        m_cells.erase(std::unique(m_cells.begin(), m_cells.end(),
                                  [](const Cell& a, const Cell& b) { return a.row == b.row && a.column == b.column; }),
                      m_cells.end());
        m_ordered = true;
    }
    // No shrink_to_fit: room reserved but never written costs address space,
    // not memory, and shrinking would copy every cell once more.
}

// Large stores filled front to back: huge pages spare most of the page faults
// (on Linux, where the system gives them to those who ask).
static void preferHugePages(const void* begin, std::size_t bytes)
{
#ifdef Q_OS_LINUX
    constexpr std::uintptr_t Huge = 2 << 20;
    if (bytes < 2 * Huge)
        return;
    const auto from = (reinterpret_cast<std::uintptr_t>(begin) + Huge - 1) & ~(Huge - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(Huge - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    Q_UNUSED(begin);
    Q_UNUSED(bytes);
#endif
}

void SheetCells::reserve(std::int64_t cells, std::int64_t chars)
{
    cells = std::min(cells, WorkbookLimits::MaxCells);
    m_cells.reserve(static_cast<std::size_t>(cells));
    preferHugePages(m_cells.data(), m_cells.capacity() * sizeof(Cell));
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
