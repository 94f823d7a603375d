// Running one of the tools as a process and reading what it printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace mf::test {

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
    int64_t peak_kb = -1;          // files the tool maps included
    int64_t peak_private_kb = -1;  // the tool's own memory, when watched
};

// Runs program with args (no shell) and collects its exit code, standard streams
// and peak memory (its own memory too with watch_private).
inline ToolRun run_tool(const std::string& program, const std::vector<std::string>& args, bool watch_private = false) {
    TempDir streams;
    std::vector<std::string> command{program};
    command.insert(command.end(), args.begin(), args.end());
    const platform::process_result result =
        platform::run_process(command, streams.file("stdout"), streams.file("stderr"), watch_private);
    EXPECT_TRUE(result.started) << program;
    return {result.exit_code, read_file(streams.file("stdout")), read_file(streams.file("stderr")),
            result.peak_memory_kb, result.peak_private_kb};
}

// The tools' standard streams are text streams: on Windows their line ends are CRLF.
inline std::string lines(const std::string& text) {
#ifdef _WIN32
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
#else
    return text;
#endif
}

}  // namespace mf::test
