// Fails one chosen file operation, counting every operation the library makes,
// so a writer can be swept over each of its I/O faults in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    // Every operation seen so far, in order.
    std::vector<platform::file_op> operations() const;
};

const char* op_name(platform::file_op op);
// The operations as text, e.g. "open write sync close rename".
std::string op_names(const std::vector<platform::file_op>& ops);

// Runs attempt with the 1st, 2nd, ... file operation failed until a run makes
// no fault fire; after each run, check(n, op) looks at the result. Returns the
// number of operations of the fault-free run.
int sweep_file_faults(const std::function<void()>& attempt,
                      const std::function<void(int n, platform::file_op op, bool fired)>& check);

}  // namespace mf::test

namespace mf::test {

// A whole-file writer swept over its file faults (see sweep_file_faults).
struct WriterSweep {
    std::string target;        // the name written
    std::string old_contents;  // put there before each run, when existing
    bool existing = true;      // false: the name is new (removed after each run)
    std::string complete;      // what a successful run leaves
    std::function<int32_t()> write;
    // The writer's code for a failure to open (the rest give ERR_CANT_WRITE_FILE).
    int32_t open_failure;
    // Folders that must hold nothing new afterwards (no temporary file left).
    std::vector<std::string> folders;
};

// Checks after each run: a failure gives the writer's code and leaves the target
// as it was (a new name absent), a success leaves it complete, and the folders
// hold what they held before. Returns the number of file operations of a run.
int sweep_writer(const WriterSweep& sweep);

}  // namespace mf::test
