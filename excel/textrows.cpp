#include "excel/textrows.h"

#include "base/error.h"
#include "base/windows1251.h"
#include "excel/storememory.h"
#include "excel/workbooklimits.h"

#include <algorithm>
#include <cstring>

void TextRows::reserve(std::int64_t bytes)
{
    m_bytes.grow(static_cast<std::size_t>(bytes), static_cast<std::size_t>(m_used));
}

void TextRows::expect(std::int64_t read, std::int64_t total)
{
    if (read <= 0 || total <= read)
        return;
    const auto scaled = [&](std::size_t count) {
        return static_cast<std::size_t>(
            std::min<double>(count * (1.1 * total / read) + 1024, WorkbookLimits::MaxCsvFields));
    };
    m_ends.reserve(scaled(m_ends.size()));
    m_rows.reserve(scaled(m_rows.size()));
}

void TextRows::add(std::int64_t row, int column, QByteArrayView bytes)
{
    if (column > WorkbookLimits::Columns || bytes.isEmpty())
        return;
    if (m_rows.empty() || m_rows.back().row != row)
        m_rows.push_back({static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(m_ends.size())});
    const std::size_t wanted = m_rows.back().field + static_cast<std::size_t>(column);
    if (wanted > static_cast<std::size_t>(WorkbookLimits::MaxCsvFields))
        throw Failure(QStringLiteral("слишком много ячеек в листе (более %1)").arg(WorkbookLimits::MaxCsvFields));
    while (m_ends.size() + 1 < wanted) // the empty fields before it
        m_ends.push_back(static_cast<std::uint32_t>(m_used));
    const std::int64_t used = m_used + bytes.size();
    if (used > static_cast<std::int64_t>(m_bytes.size()))
        makeRoom(used);
    m_bytes.reach(static_cast<std::size_t>(used));
    std::memcpy(m_bytes.data() + m_used, bytes.data(), static_cast<std::size_t>(bytes.size()));
    m_used += bytes.size();
    m_ends.push_back(static_cast<std::uint32_t>(m_used));
}

// Room for the store to reach `used` bytes.
void TextRows::makeRoom(std::int64_t used)
{
    if (used > WorkbookLimits::MaxCsvTextBytes)
        throw Failure(QStringLiteral("слишком много текста в листе (более %1 МБ)")
                          .arg(WorkbookLimits::MaxCsvTextBytes / (1024 * 1024)));
    if (used > static_cast<std::int64_t>(m_bytes.size()))
        m_bytes.grow(static_cast<std::size_t>(std::max<std::int64_t>(used, m_bytes.size() * 3 / 2)),
                     static_cast<std::size_t>(m_used));
}

const TextRows::RowStart* TextRows::findRow(std::int64_t row) const
{
    if (row < 1 || row > UINT32_MAX)
        return nullptr;
    // Rows without gaps, as most files are, are found at their own place.
    const auto at = static_cast<std::size_t>(row - 1);
    if (at < m_rows.size() && m_rows[at].row == row)
        return &m_rows[at];
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row,
                                     [](const RowStart& start, std::int64_t wanted) { return start.row < wanted; });
    return it != m_rows.end() && it->row == row ? &*it : nullptr;
}

QString TextRows::text(std::int64_t row, int column) const
{
    const RowStart* start = findRow(row);
    if (!start || column < 1)
        return {};
    const std::size_t next = start + 1 < m_rows.end() ? start[1].field : m_ends.size();
    const std::size_t field = start->field + static_cast<std::size_t>(column - 1);
    if (field >= next)
        return {};
    const std::uint32_t begin = field == 0 ? 0 : m_ends[field - 1];
    const QByteArrayView bytes(m_bytes.data() + begin, m_ends[field] - begin);
    return m_utf8 ? QString::fromUtf8(bytes) : Windows1251::decode(bytes);
}
