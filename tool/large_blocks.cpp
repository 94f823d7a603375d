#include "tool/large_blocks.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/alloc.h"
#include "platform/large_memory.h"

namespace mf {

namespace {

constexpr std::size_t large_size = std::size_t{2} << 20;

struct large_block {
    void* data;
    std::size_t size;
};

// A conversion holds a handful of large blocks at a time.
std::mutex lock;
std::vector<large_block> blocks;

void* allocate(std::size_t size) {
    if (size < large_size) return std::malloc(size ? size : 1);
    void* p = platform::allocate_large(size);
    if (!p) return nullptr;
    std::lock_guard<std::mutex> hold(lock);
    try {
        blocks.push_back({p, size});
    } catch (...) {
        platform::release_large(p, size);
        return nullptr;
    }
    return p;
}

// The size of a large block, or 0 for a block of the standard allocator.
std::size_t large_size_of(void* p) {
    std::lock_guard<std::mutex> hold(lock);
    for (const large_block& b : blocks)
        if (b.data == p) return b.size;
    return 0;
}

void release(void* p) {
    if (!p) return;
    {
        std::lock_guard<std::mutex> hold(lock);
        for (auto it = blocks.begin(); it != blocks.end(); ++it)
            if (it->data == p) {
                platform::release_large(p, it->size);
                blocks.erase(it);
                return;
            }
    }
    std::free(p);
}

void* reallocate(void* p, std::size_t size) {
    const std::size_t old_size = p ? large_size_of(p) : 0;
    if (old_size == 0 && size < large_size) return std::realloc(p, size ? size : 1);
    if (old_size == 0) {
        // A small block growing large stays with the standard allocator: its
        // size is not known here.
        return std::realloc(p, size);
    }
    void* q = allocate(size);
    if (!q) return nullptr;
    std::memcpy(q, p, old_size < size ? old_size : size);
    release(p);
    return q;
}

void* allocate_zeroed(std::size_t count, std::size_t size) {
    if (size != 0 && count > static_cast<std::size_t>(-1) / size) return nullptr;
    if (count * size < large_size) return std::calloc(count ? count : 1, size ? size : 1);
    return allocate(count * size);
}

}  // namespace

void install_large_block_hooks() { u_set_alloc_hooks({&allocate, &reallocate, &allocate_zeroed, &release}); }

}  // namespace mf
