// mapforge-info: shows the header fields and the map size of a binary measurement
// data file, read back with the library's own reader.
#include <cstdio>
#include <cstring>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/data_file.h"

int main(int argc, char** argv) {
    using namespace mf;
    if (argc != 2) {
        std::fprintf(stderr, "Usage:  mapforge-info datafile\n");
        return 1;
    }
    sw_info sw{};
    data_header header{};
    intensity_array intensity{};
    data_array phase{};
    const int32_t status = read_data_file(argv[1], &sw, &header, &intensity, &phase);
    if (status != 0) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error_name(status));
        return 2;
    }
    char name[sizeof sw.name + 1] = {};
    std::memcpy(name, sw.name, sizeof sw.name);
    char comment[sizeof header.comment + 1] = {};
    std::memcpy(comment, header.comment, sizeof header.comment);

    size_t valid = 0;
    int32_t low = 0, high = 0;
    const size_t count = static_cast<size_t>(phase.width) * static_cast<size_t>(phase.height);
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = phase.data[i];
        if (v >= invalid_phase) continue;
        if (valid++ == 0) low = high = v;
        if (v < low) low = v;
        if (v > high) high = v;
    }
    std::printf("header format      %d\n", data_file_format(&header));
    std::printf("software           %d \"%s\" %d.%d.%d\n", sw.type, name, sw.number1, sw.number2, sw.number3);
    std::printf("comment            \"%s\"\n", comment);
    std::printf("time stamp         %d\n", header.time_stamp);
    std::printf("wavelength         %.6g m\n", header.wavelength);
    std::printf("phase scale S      %.6g\n", header.phase_scale);
    std::printf("resolution code    %d (R = %d)\n", header.phase_res, phase_resolution(header.phase_res));
    std::printf("surface            %d\n", header.surface);
    std::printf("phase map          %d x %d, %zu valid samples", phase.width, phase.height, valid);
    if (valid > 0) std::printf(", from %d to %d", low, high);
    std::printf("\n");
    std::printf("intensity frames   %d\n", intensity.data ? intensity.frames : 0);
    da_release(&phase);
    da_release(&intensity);
    return 0;
}
