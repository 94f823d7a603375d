#include <windows.h>

#include "platform/large_memory.h"

namespace mf::platform {

void* allocate_large(std::size_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

void release_large(void* block, std::size_t) {
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace mf::platform
