#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

// Memory for the large stores a sheet is read into, filled front to back.
namespace StoreMemory {
// Uninitialised bytes of a store. On Linux the block is mapped on its own,
// aligned to and rounded up to 2 MB and marked for huge pages, so that even a
// small store costs a page fault or two, not one for every 4 KB; its room
// costs address space until it is written. Elsewhere, and under
// AddressSanitizer, it comes from the heap.
class Block
{
public:
    Block() = default;
    explicit Block(std::size_t bytes);
    Block(Block&& other) noexcept;
    Block& operator=(Block&& other) noexcept;
    ~Block();

    char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    // A block of at least `bytes` holding this one's first `used` bytes.
    void grow(std::size_t bytes, std::size_t used);
    // About to write up to `bytes`: the pages are mapped a stretch at a time
    // ahead of the writes, in one call each, rather than a fault per page.
    void reach(std::size_t bytes)
    {
        if (bytes > m_reached)
            reachFurther(bytes);
    }

private:
    void release();
    void reachFurther(std::size_t bytes);

    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mapped = 0;  // 0 when the block came from the heap
    std::size_t m_reached = 0; // mapped ahead of the writes, or written
};

// A growing array of plain values (copied as bytes when it grows) in a Block.
template <typename T> class Array
{
public:
    Array() = default;
    Array(Array&& other) noexcept : m_block(std::move(other.m_block)), m_size(std::exchange(other.m_size, 0)) {}
    Array& operator=(Array&& other) noexcept
    {
        m_block = std::move(other.m_block);
        m_size = std::exchange(other.m_size, 0);
        return *this;
    }

    void reserve(std::size_t count)
    {
        if (count > capacity())
            m_block.grow(count * sizeof(T), m_size * sizeof(T));
    }
    void push_back(const T& value) { *extend(1) = value; }
    // Counts in `count` more values, left for the caller to write.
    T* extend(std::size_t count)
    {
        if (m_size + count > capacity())
            reserve(std::max({m_size + count, m_size * 2, std::size_t(1024)}));
        m_block.reach((m_size + count) * sizeof(T));
        T* added = data() + m_size;
        m_size += count;
        return added;
    }
    void truncate(std::size_t count) { m_size = std::min(count, m_size); }
    T* data() { return reinterpret_cast<T*>(m_block.data()); }
    const T* data() const { return reinterpret_cast<const T*>(m_block.data()); }
    const T& operator[](std::size_t i) const { return data()[i]; }
    const T& back() const { return data()[m_size - 1]; }
    T* begin() { return data(); }
    T* end() { return data() + m_size; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + m_size; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t capacity() const { return m_block.size() / sizeof(T); }

private:
    Block m_block;
    std::size_t m_size = 0;
};
} // namespace StoreMemory
