#include "excel/textrows.h"

#include "excel/storememory.h"
#include "excel/workbooklimits.h"
#include "link/error.h"
#include "link/windows1251.h"

#include <algorithm>
#include <cstring>

namespace {

bool continuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isUtf8(const unsigned char* s, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        // Plain ASCII, which most fields are, eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i == n)
            break;
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF; // the second byte's range
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > n || s[i + 1] < low || s[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (!continuation(s[i + k]))
                return false;
        }
        i += length;
    }
    return true;
}

} // namespace

void TextRows::reserve(std::int64_t bytes)
{
    m_bytes.grow(static_cast<std::size_t>(bytes), static_cast<std::size_t>(m_used));
}

void TextRows::expect(std::int64_t read, std::int64_t total)
{
    if (read <= 0 || total <= read)
        return;
    const auto scaled = [&](std::size_t count) {
        return static_cast<std::size_t>(std::min<double>(count * (1.1 * total / read) + 1024, WorkbookLimits::MaxCsvFields));
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
    if (used > m_prefaulted)
        makeRoom(used);
    unsigned char* out = reinterpret_cast<unsigned char*>(m_bytes.data()) + m_used;
    std::memcpy(out, bytes.data(), static_cast<std::size_t>(bytes.size()));
    m_utf8 = m_utf8 && isUtf8(out, static_cast<std::size_t>(bytes.size()));
    m_used += bytes.size();
    m_ends.push_back(static_cast<std::uint32_t>(m_used));
}

// Room for the store to reach `used` bytes, mapped a stretch ahead at a time.
void TextRows::makeRoom(std::int64_t used)
{
    if (used > WorkbookLimits::MaxCsvTextBytes)
        throw Failure(QStringLiteral("слишком много текста в листе (более %1 МБ)").arg(WorkbookLimits::MaxCsvTextBytes / (1024 * 1024)));
    if (used > static_cast<std::int64_t>(m_bytes.size())) {
        m_bytes.grow(static_cast<std::size_t>(std::max<std::int64_t>(used, m_bytes.size() * 3 / 2)), static_cast<std::size_t>(m_used));
        m_prefaulted = m_used; // what the new block has had copied into it
    }
    constexpr std::int64_t Stretch = 1 << 20;
    const std::int64_t until = std::min<std::int64_t>(used + Stretch, m_bytes.size());
    StoreMemory::prefault(m_bytes.data() + m_prefaulted, static_cast<std::size_t>(until - m_prefaulted));
    m_prefaulted = until;
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
