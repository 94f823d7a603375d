// make-grid: writes a synthetic phase map as a Code V grid file with a full
// comment block, in the grid writer's own layout (ten "%7d" values a line).
// Usage: make-grid output width height
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/grid_file.h"

int main(int argc, char** argv) {
    using namespace mf;
    if (argc != 4) {
        std::fprintf(stderr, "Usage:  make-grid output width height\n");
        return 1;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        std::fprintf(stderr, "make-grid: width and height must be 1 to 32767\n");
        return 1;
    }
    data_array phase{};
    phase.width = static_cast<int16_t>(width);
    phase.height = static_cast<int16_t>(height);
    if (int32_t status = da_alloc(&phase)) {
        std::fprintf(stderr, "make-grid: %s\n", error_name(status));
        return 2;
    }
    // A tilted sphere with a ripple, inside a circular aperture.
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double radius = 0.48 * (width < height ? width : height);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = (x - cx) / radius, dy = (y - cy) / radius;
            const double r2 = dx * dx + dy * dy;
            int32_t& sample = phase.data[static_cast<size_t>(y) * width + x];
            if (r2 > 1.0) {
                sample = invalid_phase;
                continue;
            }
            noise = noise * 1103515245u + 12345u;
            const double v = 20000.0 * r2 - 6000.0 * dx + 3000.0 * std::sin(9.0 * dy) + ((noise >> 16) % 41) - 20.0;
            sample = static_cast<int32_t>(std::lround(v));
        }
    data_header header{};
    header.time_stamp = 1733650000;
    std::strcpy(header.comment, "Sphere 25 mm, test surface, aperture 96 %");
    header.source = 1;
    header.phase_scale = 8.0f;
    header.wavelength = 632.8e-9f;
    header.req1 = 3;
    header.req2 = 1;
    header.req3 = 0.5f;
    header.req4 = 1.25f;
    header.req5 = 0.01f;
    header.mag1 = 2.5f;
    header.mag2 = 0.125f;
    header.mag3 = 1.0f;
    header.mag4 = 2;
    header.acq = 1;
    header.iac = 4;
    header.rmp1 = 5, header.rmp2 = 6, header.rmp3 = 7;
    header.llv1 = 120, header.llv2 = 0.75f, header.llv3 = 3.5f;
    header.mod1 = 100000, header.mod2 = -3;
    header.phase_res = 1;
    header.con1 = 70000, header.con2 = 3, header.con3 = 0.25f, header.con4 = -1;
    header.sgn = 1;
    header.sys1 = 12, header.sys2 = 8;
    header.sys3 = static_cast<int16_t>(70000 & 0xFFFF);
    header.sys3_long = 70000;
    header.sys4 = 1;
    std::strcpy(header.onm, "J. Operator");
    std::strcpy(header.pnm, "Sphere R25 batch 7");
    header.surface = 1;
    header.pac = 2;
    header.err_value = 0;
    std::strcpy(header.err_text, "none");
    std::strcpy(header.psn, "SN-0042");
    sw_info sw{1, "Ostrabel", 5, 2, 11};
    const int32_t status = write_grid_file(argv[1], &header, &phase, &sw);
    da_release(&phase);
    if (status != 0) {
        std::fprintf(stderr, "make-grid: %s\n", error_name(status));
        return 2;
    }
    return 0;
}
