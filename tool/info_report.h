// What mapforge-info reports about a data file: statistics of the phase map,
// gathered a block of rows at a time, and the JSON form of the whole report.
#pragma once

#include <cstdint>
#include <string>

#include "datafile/data_reader.h"

namespace mf::info {

// Sums of the valid phase samples, exact (the sum of squares in 128 bits: at
// most 2^30 samples of at most 2^31 give less than 2^92).
struct phase_stats {
    using uint128 = unsigned __int128;

    int64_t valid = 0;
    int64_t invalid = 0;
    int32_t low = 0;   // smallest valid sample, when valid > 0
    int32_t high = 0;  // largest
    int64_t sum = 0;
    uint128 squares = 0;

    void add_row(const int32_t* samples, int count);
    // Phase units to waves: sample x S / R with the header's scale factor S and the
    // resolution R its resolution code selects.
    static double waves(const data_header& header, double units);
    double mean_units() const;
    // Root mean square of the valid samples' deviations from their mean.
    double rms_units() const;
};

// Rows read at a time from a map width samples wide: about 1 MiB of samples.
int rows_per_block(int width, int sample_size);

// Reads the whole phase block (if any) of an open reader into stats. The reader's
// codes (ERR_PREMATURE_EOF for a short file).
int32_t scan_phase(data_file_reader& reader, phase_stats* stats);

// The report as one JSON object and a line end: format, software record, every
// header field the file's format holds by its record name, array shapes and the
// phase statistics in waves. Numbers in their shortest exact form; a float that is
// not finite is null; text is taken as Latin-1.
std::string json_report(const data_file_layout& layout, const phase_stats& stats);

}  // namespace mf::info
