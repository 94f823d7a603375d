// Converting a Code V grid file straight into a binary measurement data file.
#pragma once

#include <cstdint>

namespace mf {

struct grid_conversion {
    int32_t read_status = 0;   // read_grid_file's code for the input
    int32_t write_status = 0;  // write_data_file's code for the output (0 when the read failed)
};

// What read_grid_file and then write_data_file (no intensity array) give for the
// two files: the same messages, codes and output bytes, and a failed read never
// touches the output, also when it is found part way through the samples. The
// samples go to the output in blocks as they are scanned, so the map is never
// held whole; the input is mapped where the system can map it. When the output
// cannot be written, the input is still read to its end: a read error wins.
grid_conversion convert_grid_file(const char* input, const char* output);

}  // namespace mf
