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

}  // namespace mf::test
