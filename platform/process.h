// Running another program to completion, its standard streams redirected to files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mf::platform {

struct process_result {
    bool started = false;
    int exit_code = -1;
    int64_t peak_memory_kb = -1;   // peak resident set of the child, files it maps included; -1 when unknown
    int64_t peak_private_kb = -1;  // peak of the child's own memory, files it maps not counted; -1 when unknown
    double seconds = 0;            // wall-clock time from start to exit
};

// Runs args[0] with the arguments args[1..] passed as they are (no shell), standard
// input empty, standard output and standard error written to the given files
// (created or truncated). Waits for the program to end. With watch_private, the
// child's own memory is watched while it runs (Linux: its anonymous resident
// memory, read every 0.1 ms, which takes time from another processor; elsewhere
// not known).
process_result run_process(const std::vector<std::string>& args, const std::string& stdout_path,
                           const std::string& stderr_path, bool watch_private = false);

}  // namespace mf::platform
