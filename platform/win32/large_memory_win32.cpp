#include <windows.h>

#include "platform/large_memory.h"

namespace mf::platform {

// A block of 0 bytes is still a block (VirtualAlloc refuses a size of 0).
void* allocate_large(std::size_t size) {
    return VirtualAlloc(nullptr, size == 0 ? 1 : size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void release_large(void* block, std::size_t) {
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace mf::platform
