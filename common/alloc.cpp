#include "common/alloc.h"

#include <cstdlib>

namespace mf {

namespace {
void* std_allocate(std::size_t size) { return std::malloc(size); }
void* std_reallocate(void* block, std::size_t size) { return std::realloc(block, size); }
void* std_allocate_zeroed(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void std_release(void* block) { std::free(block); }

u_alloc_hooks current_hooks = {&std_allocate, &std_reallocate, &std_allocate_zeroed, &std_release};
}  // namespace

u_alloc_hooks u_default_alloc_hooks() { return {&std_allocate, &std_reallocate, &std_allocate_zeroed, &std_release}; }

const u_alloc_hooks& u_get_alloc_hooks() { return current_hooks; }

void u_set_alloc_hooks(const u_alloc_hooks& hooks) { current_hooks = hooks; }

}  // namespace mf
