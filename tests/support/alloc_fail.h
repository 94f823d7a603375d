// Makes the k-th allocation through the library allocator fail.
#pragma once

namespace mf::test {

class AllocFailure {
public:
    // fail_at: 1-based index of the allocation that fails; 0 counts only.
    explicit AllocFailure(int fail_at);
    ~AllocFailure();
    AllocFailure(const AllocFailure&) = delete;
    AllocFailure& operator=(const AllocFailure&) = delete;
    // Allocations attempted while installed.
    int count() const;
    // Blocks allocated and not yet released.
    int outstanding() const;
};

// Makes operator new on the installing thread throw std::bad_alloc: the k-th call
// from installation on, or every call (fail_at -1); 0 counts only. Other threads
// are untouched.
class NewFailure {
public:
    explicit NewFailure(int fail_at);
    ~NewFailure();
    NewFailure(const NewFailure&) = delete;
    NewFailure& operator=(const NewFailure&) = delete;
    // Calls of operator new on this thread while installed.
    int count() const;
};

}  // namespace mf::test
