// Reading calibration text through sb_readCal with the sink captured.
#pragma once

#include <cstdint>
#include <string>

#include "calfile/sysinfo.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf::test {

struct CalRead {
    int32_t code;
    std::string path;
    std::string log;       // everything the sink got
    std::string messages;  // the log after the "Reading system calibration file" line
};

// Writes body to a fresh file and reads it into the slot.
inline CalRead read_cal_text(const std::string& body, int slot = 0) {
    TempDir dir;
    const std::string path = dir.file("system.cal");
    write_file(path, body);
    SinkCapture sink;
    CalRead r{sb_readCal(slot, path.c_str()), path, "", ""};
    r.log = sink.text();
    const std::size_t eol = r.log.find('\n');
    r.messages = eol == std::string::npos ? "" : r.log.substr(eol + 1);
    return r;
}

// The header that precedes the first message of a file read.
inline std::string file_header(const std::string& path) {
    return "Error(s) reading system calibration file \"" + path + "\":\n";
}

// A valid minimum: system type and Version on a system that needs nothing else.
inline const char* minimal_cal = "ScarpVS 20 1 1234\nVersion None 0 None\n";

}  // namespace mf::test
