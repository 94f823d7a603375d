#include "tests/support/alloc_fail.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "common/alloc.h"

namespace mf::test {

namespace {
std::atomic<int> fail_index{0};
std::atomic<int> attempts{0};
std::atomic<int> live{0};
u_alloc_hooks saved;

bool should_fail() { return ++attempts == fail_index.load(); }

void* counting_allocate(size_t size) {
    if (should_fail()) return nullptr;
    void* p = std::malloc(size ? size : 1);
    if (p) ++live;
    return p;
}
void* counting_reallocate(void* block, size_t size) {
    if (should_fail()) return nullptr;
    void* p = std::realloc(block, size ? size : 1);
    if (p && !block) ++live;
    return p;
}
void* counting_allocate_zeroed(size_t count, size_t size) {
    if (should_fail()) return nullptr;
    void* p = std::calloc(count ? count : 1, size ? size : 1);
    if (p) ++live;
    return p;
}
void counting_release(void* block) {
    if (block) --live;
    std::free(block);
}
}  // namespace

AllocFailure::AllocFailure(int fail_at) {
    fail_index = fail_at;
    attempts = 0;
    live = 0;
    saved = u_get_alloc_hooks();
    u_set_alloc_hooks({&counting_allocate, &counting_reallocate, &counting_allocate_zeroed, &counting_release});
}

AllocFailure::~AllocFailure() { u_set_alloc_hooks(saved); }

int AllocFailure::count() const { return attempts; }
int AllocFailure::outstanding() const { return live; }

namespace {
thread_local bool new_installed = false;
thread_local int new_fail_at = 0;
thread_local int new_attempts = 0;
}  // namespace

NewFailure::NewFailure(int fail_at) {
    new_attempts = 0;
    new_fail_at = fail_at;
    new_installed = true;
}

NewFailure::~NewFailure() {
    new_installed = false;
    new_fail_at = 0;
}

int NewFailure::count() const { return new_attempts; }

}  // namespace mf::test

// The program's operator new, so that NewFailure can make it fail. Blocks come from
// malloc, as with the standard library's own.
void* operator new(std::size_t size) {
    using namespace mf::test;
    if (new_installed) {
        ++new_attempts;
        if (new_fail_at < 0 || new_attempts == new_fail_at) throw std::bad_alloc();
    }
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
