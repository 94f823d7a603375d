// conv-bench: times mapforge on generated grid files next to a plain copy of the
// same input, with a warm cache, and reports the median of several runs.
// Usage: conv-bench mapforge make-grid work-directory [runs]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

namespace {

using mf::platform::process_result;
using mf::platform::run_process;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool warm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "Usage:  conv-bench mapforge make-grid work-directory [runs]\n");
        return 1;
    }
    const std::string mapforge = argv[1], make_grid = argv[2], work = argv[3];
    const int runs = argc > 4 ? std::max(5, std::atoi(argv[4])) : 7;
    const std::string log = work + "/bench.log";
    std::printf("%-11s %9s %10s %10s %7s %9s %11s %9s %10s\n", "grid", "input MB", "convert s", "copy s", "ratio",
                "MB/s", "Msamples/s", "peak MB", "peak/array");
    for (int size : {1024, 4096}) {
        const std::string grid = work + "/grid_" + std::to_string(size) + ".grd";
        if (!mf::platform::is_regular_file(grid)) {
            const process_result made =
                run_process({make_grid, grid, std::to_string(size), std::to_string(size)}, log, log);
            if (!made.started || made.exit_code != 0) {
                std::fprintf(stderr, "conv-bench: make-grid failed for %d\n", size);
                return 2;
            }
        }
        const double megabytes = static_cast<double>(mf::platform::file_size(grid)) / 1e6;
        const std::string output = work + "/grid_" + std::to_string(size) + ".dat";
        const std::string copy = work + "/copy_" + std::to_string(size) + ".grd";
        warm(grid);
        std::vector<double> convert_times, copy_times;
        int64_t peak_kb = 0;
        for (int i = 0; i < runs; ++i) {
            const process_result c = run_process({mapforge, "-f", grid, output}, log, log);
            if (!c.started || c.exit_code != 0) {
                std::fprintf(stderr, "conv-bench: mapforge failed (exit %d), see %s\n", c.exit_code, log.c_str());
                return 2;
            }
            convert_times.push_back(c.seconds);
            peak_kb = std::max(peak_kb, c.peak_memory_kb);
            const process_result p = run_process({"/bin/cp", "--reflink=never", grid, copy}, log, log);
            if (!p.started || p.exit_code != 0) {
                std::fprintf(stderr, "conv-bench: cp failed\n");
                return 2;
            }
            copy_times.push_back(p.seconds);
        }
        const double convert_s = median(convert_times), copy_s = median(copy_times);
        const double samples = static_cast<double>(size) * size;
        const double array_mb = samples * 4 / 1e6;
        const double peak_mb = static_cast<double>(peak_kb) * 1024 / 1e6;
        std::printf("%4d x %-4d %9.1f %10.3f %10.3f %7.2f %9.0f %11.1f %9.1f %10.2f\n", size, size, megabytes,
                    convert_s, copy_s, convert_s / copy_s, megabytes / convert_s, samples / convert_s / 1e6, peak_mb,
                    peak_mb / array_mb);
        mf::platform::remove_file(copy);
        mf::platform::remove_file(output);
    }
    return 0;
}
