// The samples of a Code V grid file: "%7d" fields scanned into phase samples,
// by the exact general scan, with a fixed-field path for lines in the grid
// writer's own layout (eight bytes at a time, or with the processor's wide vector
// instructions where it has them, chosen when the program runs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "datafile/codev_scan.h"

namespace mf::grid {

// How grid values become phase samples.
struct sample_map {
    bool has_nda = false;
    int32_t nda = 0;
    int shift = 0;            // left shift for k > 0, else 0
    bool big_endian = false;  // samples delivered in the data file's byte order
};

// The scans of the writer's layout (ten seven-character fields and a line end).
enum class fixed_scan {
    none,        // every line through the general scan
    eight_byte,  // portable: each field as one 64-bit word
    avx2,        // four fields per 256-bit vector (x86-64 with AVX2)
};

// Whether this build and processor can run a scan.
bool fixed_scan_available(fixed_scan scan);
// The scan in use: set_fixed_scan's choice, else the environment variable
// MF_GRID_SCAN ("none", "eight_byte" or "avx2", when available), else the widest
// available.
fixed_scan active_fixed_scan();
// Chooses the scan for the process (tests and benchmarks); false, changing
// nothing, when it is not available.
bool set_fixed_scan(fixed_scan scan);
const char* fixed_scan_name(fixed_scan scan);

// One line by a scan (line[-1] to line[71] readable): the line's length (71,
// or 72 with CR LF) when the scan took its ten fields into out, else 0.
size_t scan_fixed_line(fixed_scan scan, const char* line, int32_t* out, const sample_map& m);

struct span_result {
    const char* stop;
    size_t values;
    bool bad;  // stopped at a field that is not a number
};

// Scans fields from [p, e) until need values are read, the span is used up (it
// must end at white space or at the end of the input, so no field is cut), or a
// field is not a number.
span_result parse_span(const char* p, const char* e, int32_t* out, size_t need, const sample_map& m);

// Receives the samples in file order, a block at a time, on the caller's thread.
using sample_sink = std::function<void(const int32_t* samples, size_t count)>;

// Scans count samples from a text held in memory ([p, e), e being the end of the
// input), with a second thread for large texts. 0, ERR_PREMATURE_EOF or ERR_NO_MEM.
int32_t scan_samples(const char* p, const char* e, size_t count, const sample_map& m, const sample_sink& sink);

// The same over a text read as it goes.
int32_t scan_samples(codev::text_source& in, size_t count, const sample_map& m, const sample_sink& sink);

}  // namespace mf::grid
