#include "datafile/grid_convert.h"

#include "common/errors.h"
#include "common/files.h"
#include "datafile/data_file.h"
#include "datafile/grid_file.h"
#include "datafile/grid_input.h"
#include "platform/file_io.h"

namespace mf {

namespace {

// The samples of a text that cannot be scanned twice go through the array: the
// read ends before the output is opened.
grid_conversion convert_through_array(const char* input, const char* output) {
    data_header header{};
    sw_info sw{};
    data_array phase{};
    grid_conversion result;
    result.read_status = read_grid_file(input, &header, &phase, &sw);
    if (result.read_status == 0) result.write_status = write_data_file(output, &sw, &header, nullptr, &phase);
    da_release(&phase);
    return result;
}

}  // namespace

grid_conversion convert_grid_file(const char* input, const char* output) {
    grid_conversion result;
    if (!input || !output) return {ERR_INVALID_PARAM, 0};
    grid_input in;
    if ((result.read_status = in.open(input)) != 0) return result;
    if (!in.in_memory()) return convert_through_array(input, output);

    data_header header{};
    sw_info sw{};
    data_array shape{};
    size_t count = 0;
    grid::sample_map map;
    if ((result.read_status = read_grid_preamble(in.text(), &header, &shape, &sw, &count, &map)) != 0) return result;
    map.big_endian = true;

    // Written in place, a file would be cut short by a read failing part way:
    // the samples are scanned once before it is opened.
    auto check_input = [&] {
        result.read_status = in.scan(count, map, {});
        return result.read_status;
    };
    bool produced = false;
    const int32_t status = u_replace_file(
        output,
        [&](platform::file_handle& out) {
            produced = true;
            bool written = write_phase_file_header(out, &sw, &header, shape) == 0;
            // Space found block by block as the samples arrive costs about a
            // tenth of a large conversion.
            if (written) out.reserve_ahead(uint64_t{count} * sizeof(int32_t));
            result.read_status = in.scan(count, map, [&](const int32_t* samples, size_t n) {
                // After a failed write the scan goes on: a read error still wins.
                if (written) written = out.write(samples, n * sizeof(int32_t));
            });
            if (result.read_status != 0) return result.read_status;
            return written ? 0 : ERR_CANT_WRITE_FILE;
        },
        check_input);
    if (result.read_status != 0 || status == 0) return result;
    // Nothing could be opened for the output: the input decides first.
    if (!produced && check_input() != 0) return result;
    result.write_status = status;
    return result;
}

}  // namespace mf
