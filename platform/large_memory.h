// Memory for the few very large blocks of a conversion (the phase array and the
// file buffers), backed by huge pages where the system offers them: touching a
// 64 MB array then costs tens of page faults instead of sixteen thousand.
#pragma once

#include <cstddef>

namespace mf::platform {

// A zero-filled block of at least size bytes, or null.
void* allocate_large(std::size_t size);
// Releases a block from allocate_large; size is the size it was allocated with.
void release_large(void* block, std::size_t size);

}  // namespace mf::platform
