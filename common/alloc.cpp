#include "common/alloc.h"

#include <atomic>
#include <cstdlib>

namespace mf {

namespace {
void* std_allocate(std::size_t size) { return std::malloc(size); }
void* std_reallocate(void* block, std::size_t size) { return std::realloc(block, size); }
void* std_allocate_zeroed(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void std_release(void* block) { std::free(block); }

// Each hook on its own, so any thread may allocate while the host sets them.
std::atomic<void* (*)(std::size_t)> allocate_hook{&std_allocate};
std::atomic<void* (*)(void*, std::size_t)> reallocate_hook{&std_reallocate};
std::atomic<void* (*)(std::size_t, std::size_t)> allocate_zeroed_hook{&std_allocate_zeroed};
std::atomic<void (*)(void*)> release_hook{&std_release};
}  // namespace

u_alloc_hooks u_default_alloc_hooks() { return {&std_allocate, &std_reallocate, &std_allocate_zeroed, &std_release}; }

u_alloc_hooks u_get_alloc_hooks() {
    return {allocate_hook.load(), reallocate_hook.load(), allocate_zeroed_hook.load(), release_hook.load()};
}

void u_set_alloc_hooks(const u_alloc_hooks& hooks) {
    allocate_hook.store(hooks.allocate);
    reallocate_hook.store(hooks.reallocate);
    allocate_zeroed_hook.store(hooks.allocate_zeroed);
    release_hook.store(hooks.release);
}

}  // namespace mf
