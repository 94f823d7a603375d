// Generated calibration files and the write/read round trip over them, shared by the
// round-trip property test and its fuzz harness.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "calfile/sysinfo.h"

namespace mf::test {

// The system types a file can name and the writer accepts (4..8 and 10..35).
inline constexpr int32_t cal_generated_types[] = {4,  5,  6,  7,  8,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                                  21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35};

// The statement families the generator draws from; each generated file counts the
// families it used.
enum class cal_family {
    identity,
    camera,
    light,
    llc,
    scanner,
    magnification,
    camera_trans,
    motion,
    pid,
    sdc_cal,
    radius,
    wave_monitor,
    wave_generators,
    enc_zoom,
    fenn,
    fenn_tables,
    count
};
inline constexpr int cal_family_count = static_cast<int>(cal_family::count);

struct cal_generated {
    std::string text;
    bool families[cal_family_count] = {};
};

// A random calibration file of valid statements for one system type: values across
// each statement's range (boundaries, zero, negatives where allowed), long and
// quoted texts, every name-table keyword in mixed case, statements in random order
// where the reader allows it.
cal_generated random_cal_file(std::mt19937_64& rng, int32_t sys_type);

// The fields of b that differ from what reading the written record a gives, one
// line each; "" when every field is the same. Records compare after the reader's
// documented normalisations (see the architecture notes).
std::string cal_record_differences(const sysInfo& a, const sysInfo& b);

// Reads source into one slot, writes it, reads the text into another slot,
// compares every field, writes again and compares the two texts byte for byte.
// "" on success, otherwise what went wrong with the texts involved.
std::string cal_round_trip(const std::string& source);

// For any source: when it reads and the record is written, the written file must
// read, and from there the strict round trip above must hold (a record that no
// statement sequence expresses is settled by its first write). "" or the failure.
std::string cal_settled_round_trip(const std::string& source);

}  // namespace mf::test
