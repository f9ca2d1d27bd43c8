#include "excel/storememory.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace StoreMemory {

// Under AddressSanitizer the blocks come from the heap, where it watches their edges.
#if defined(__SANITIZE_ADDRESS__)
#define STORE_BLOCKS_FROM_HEAP
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STORE_BLOCKS_FROM_HEAP
#endif
#endif

#if defined(Q_OS_LINUX) && !defined(STORE_BLOCKS_FROM_HEAP)
namespace {
constexpr std::uintptr_t Huge = 2 << 20;
constexpr std::uintptr_t Page = 4096;
} // namespace

void Block::reachFurther(std::size_t bytes)
{
    // Ahead by as much as is written, from 64 KB to 1 MB: few calls, and
    // little mapped that is not written soon.
    const std::size_t stretch = std::clamp<std::size_t>(bytes, 64 << 10, 1 << 20);
    const std::size_t until = std::min(bytes + stretch, m_size);
    if (m_mapped && until > m_reached) {
#ifdef MADV_POPULATE_WRITE
        const auto from = reinterpret_cast<std::uintptr_t>(m_data + m_reached) & ~(Page - 1);
        const auto to = (reinterpret_cast<std::uintptr_t>(m_data + until) + Page - 1) & ~(Page - 1);
        ::madvise(reinterpret_cast<void*>(from), to - from,
                  MADV_POPULATE_WRITE); // Linux 5.14 on; older ones say EINVAL
#endif
    }
    m_reached = std::max(until, bytes);
}

Block::Block(std::size_t bytes)
{
    if (bytes == 0)
        return;
    const std::size_t size = (bytes + Huge - 1) & ~(Huge - 1);
    void* mapped = ::mmap(nullptr, size + Huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    // Keep the aligned part only.
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const auto aligned = (start + Huge - 1) & ~(Huge - 1);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (start + size + Huge > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), start + size + Huge - (aligned + size));
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    m_data = reinterpret_cast<char*>(aligned);
    m_size = size;
    m_mapped = size;
    m_reached = 0;
}

void Block::release()
{
    if (m_mapped)
        ::munmap(m_data, m_mapped);
    m_data = nullptr;
    m_size = m_mapped = 0;
}
#else
Block::Block(std::size_t bytes) : m_data(bytes ? new char[bytes] : nullptr), m_size(bytes) {}

void Block::release()
{
    delete[] m_data;
    m_data = nullptr;
    m_size = m_mapped = 0;
}

void Block::reachFurther(std::size_t bytes)
{
    m_reached = bytes;
}
#endif

Block::Block(Block&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)), m_reached(std::exchange(other.m_reached, 0))
{
}

Block& Block::operator=(Block&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
        m_reached = std::exchange(other.m_reached, 0);
    }
    return *this;
}

Block::~Block()
{
    release();
}

void Block::grow(std::size_t bytes, std::size_t used)
{
    if (bytes <= m_size)
        return;
    Block bigger(bytes);
    if (used)
        std::memcpy(bigger.m_data, m_data, used);
    bigger.m_reached = used;
    *this = std::move(bigger);
}

} // namespace StoreMemory
