#pragma once

#include "excel/storememory.h"

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <utility>

// The fields of a text sheet (csv), row by row, columns A..Z: their bytes one
// after another in one buffer, four bytes a field and eight a row that has any.
// A csv holds nothing but text, so a field needs neither a kind nor a value,
// and its column is its place in the row. The bytes are kept as the file has
// them and decoded when a field is read.
class TextRows
{
public:
    TextRows() = default;
    TextRows(TextRows&& other) noexcept { *this = std::move(other); }
    TextRows& operator=(TextRows&& other) noexcept
    {
        m_bytes = std::move(other.m_bytes);
        m_used = std::exchange(other.m_used, 0);
        m_ends = std::move(other.m_ends);
        m_rows = std::move(other.m_rows);
        m_utf8 = std::exchange(other.m_utf8, true);
        return *this;
    }

    // Room for `bytes` of fields (address space; touched only as it fills).
    void reserve(std::int64_t bytes);
    // Room for the fields and rows of `total` bytes of file, judged by what
    // the first `read` bytes held; more grows as it comes.
    void expect(std::int64_t read, std::int64_t total);
    // Fields come in order: rows rising, columns rising within a row. Empty
    // fields need not be added; columns past Z are not kept.
    void add(std::int64_t row, int column, QByteArrayView bytes);

    // Empty for a field that is empty or not in the file.
    QString text(std::int64_t row, int column) const;
    std::size_t fieldCount() const { return m_ends.size(); }
    std::int64_t lastRow() const { return m_rows.empty() ? 0 : m_rows.back().row; }
    // How the bytes are decoded: UTF-8 unless they are not valid UTF-8.
    void setWindows1251(bool on) { m_utf8 = !on; }
    bool windows1251() const { return !m_utf8; }

private:
    struct RowStart
    {
        std::uint32_t row;
        std::uint32_t field; // its first field
    };
    void makeRoom(std::int64_t used);
    const RowStart* findRow(std::int64_t row) const;

    StoreMemory::Block m_bytes; // m_used of it holds fields
    std::int64_t m_used = 0;
    StoreMemory::Array<std::uint32_t> m_ends; // where each field ends in m_bytes
    StoreMemory::Array<RowStart> m_rows;
    bool m_utf8 = true;
};
