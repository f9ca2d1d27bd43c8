#include "excel/storememory.h"

#include <QtGlobal>
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

void prefault(void* begin, std::size_t bytes)
{
#ifdef MADV_POPULATE_WRITE
    const auto from = reinterpret_cast<std::uintptr_t>(begin) & ~(Page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(begin) + bytes + Page - 1) & ~(Page - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE); // Linux 5.14 on; older ones say EINVAL
#else
    Q_UNUSED(begin);
    Q_UNUSED(bytes);
#endif
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
}

void Block::release()
{
    if (m_mapped)
        ::munmap(m_data, m_mapped);
    m_data = nullptr;
    m_size = m_mapped = 0;
}
#else
void prefault(void*, std::size_t) {}

Block::Block(std::size_t bytes) : m_data(bytes ? new char[bytes] : nullptr), m_size(bytes) {}

void Block::release()
{
    delete[] m_data;
    m_data = nullptr;
    m_size = m_mapped = 0;
}
#endif

Block::Block(Block&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0))
{
}

Block& Block::operator=(Block&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
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
    *this = std::move(bigger);
}

} // namespace StoreMemory
