// mapforge's allocation hooks: blocks of 2 MB and more come from the platform's
// large-block memory, the rest from the standard allocator.
#pragma once

namespace mf {

void install_large_block_hooks();

}  // namespace mf
