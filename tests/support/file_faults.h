// Fails one chosen file operation, counting every operation the library makes,
// so a writer can be swept over each of its I/O faults in turn.
#pragma once

#include <functional>
#include <string>

#include "platform/file_io.h"

namespace mf::test {

class FileFault {
public:
    // Fails the n-th file operation from now on (1-based) with error (default: an
    // input/output error); n = 0 fails none and only counts.
    explicit FileFault(int n, int error = 0);
    ~FileFault();
    FileFault(const FileFault&) = delete;
    FileFault& operator=(const FileFault&) = delete;
    // True once the chosen operation has been failed.
    bool fired() const;
    // The kind of the operation that was failed.
    platform::file_op failed_op() const;
};

const char* op_name(platform::file_op op);

// Runs attempt with the 1st, 2nd, ... file operation failed until a run makes
// no fault fire; after each run, check(n, op) looks at the result. Returns the
// number of operations of the fault-free run.
int sweep_file_faults(const std::function<void()>& attempt,
                      const std::function<void(int n, platform::file_op op, bool fired)>& check);

}  // namespace mf::test
