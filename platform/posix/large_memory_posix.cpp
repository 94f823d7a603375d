#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "platform/large_memory.h"

namespace mf::platform {

namespace {
constexpr std::size_t huge_page = std::size_t{2} << 20;
// A block of 0 bytes is still a block: it takes one huge page, like a block of 1.
std::size_t rounded(std::size_t size) {
    return (std::max<std::size_t>(size, 1) + huge_page - 1) / huge_page * huge_page;
}
}  // namespace

void* allocate_large(std::size_t size) {
    const std::size_t length = rounded(size);
    if (length < size) return nullptr;
    // Over-allocate by one huge page so the block can start on a huge-page boundary.
    void* raw = ::mmap(nullptr, length + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + huge_page - 1) / huge_page * huge_page;
    if (aligned > start) ::munmap(raw, aligned - start);
    const std::size_t tail = huge_page - (aligned - start);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + length), tail);
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void release_large(void* block, std::size_t size) {
    if (block) ::munmap(block, rounded(size));
}

}  // namespace mf::platform
