// Allocation hooks: all library memory is obtained and released through these
// four process-wide functions, so a host (or a test) can replace them.
#pragma once

#include <cstddef>

namespace mf {

struct u_alloc_hooks {
    void* (*allocate)(std::size_t size);
    void* (*reallocate)(void* block, std::size_t size);
    void* (*allocate_zeroed)(std::size_t count, std::size_t size);
    void (*release)(void* block);
};

// The standard allocation functions.
u_alloc_hooks u_default_alloc_hooks();
// The current hooks; any thread may read them while the host sets new ones.
u_alloc_hooks u_get_alloc_hooks();
void u_set_alloc_hooks(const u_alloc_hooks& hooks);

inline void* u_malloc(std::size_t size) { return u_get_alloc_hooks().allocate(size); }
inline void* u_realloc(void* block, std::size_t size) { return u_get_alloc_hooks().reallocate(block, size); }
inline void* u_calloc(std::size_t count, std::size_t size) { return u_get_alloc_hooks().allocate_zeroed(count, size); }
inline void u_free(void* block) { u_get_alloc_hooks().release(block); }

// Owns a block from the library allocator for the length of a scope.
template <typename T>
class u_buffer {
public:
    u_buffer() = default;
    explicit u_buffer(std::size_t count) : data_(static_cast<T*>(u_malloc(count * sizeof(T)))) {}
    ~u_buffer() { u_free(data_); }
    u_buffer(const u_buffer&) = delete;
    u_buffer& operator=(const u_buffer&) = delete;
    T* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    T& operator[](std::size_t i) const { return data_[i]; }

private:
    T* data_ = nullptr;
};

}  // namespace mf
