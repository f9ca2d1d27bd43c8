#pragma once

#include <algorithm>
#include <cstddef>

// Memory for the large stores a sheet is read into, filled front to back.
namespace StoreMemory {
// Memory about to be written whole: mapped in one call rather than a page
// fault at a time. Harmless where the system does not know the call.
void prefault(void* begin, std::size_t bytes);

// Uninitialised bytes of a store. On Linux the block is mapped on its own,
// aligned to and rounded up to 2 MB and marked for huge pages, so that even a
// small store costs a page fault or two, not one for every 4 KB; its room
// costs address space until it is written.
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

private:
    void release();

    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mapped = 0; // 0 when the block came from the heap
};

// A growing array of plain values (copied as bytes when it grows) in a Block.
template<typename T>
class Array
{
public:
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
