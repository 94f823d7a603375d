// conv-bench: times mapforge on generated grid files next to a plain copy of the
// same input, a per-value fscanf converter and (when numpy is installed) a numpy
// converter, with a warm cache, every output absent before its run, the commands
// interleaved; reports medians, and the peaks of mapforge's memory from one more
// run, not timed, in which its own memory is watched. The time per input byte
// is also given net of the start-up: the time of a 16 x 16 grid.
// Usage: conv-bench mapforge make-grid fscanf-convert numpy-script work-directory [runs]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "datafile/grid_scan.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

using mf::platform::process_result;
using mf::platform::run_process;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void warm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    }
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct timing {
    std::vector<double> seconds;
    int64_t peak_kb = 0;
};

// Runs a command onto an absent output; false (with a message) when it fails.
bool timed(const std::vector<std::string>& args, const std::string& output, const std::string& log, timing& t) {
    mf::platform::remove_file(output);
    const process_result r = run_process(args, log, log);
    mf::platform::remove_file(output);
    if (!r.started || r.exit_code != 0) {
        std::fprintf(stderr, "conv-bench: %s failed (exit %d), see %s\n", args[0].c_str(), r.exit_code, log.c_str());
        return false;
    }
    t.seconds.push_back(r.seconds);
    t.peak_kb = std::max(t.peak_kb, r.peak_memory_kb);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr,
                     "Usage:  conv-bench mapforge make-grid fscanf-convert numpy-script work-directory [runs]\n");
        return 1;
    }
    const std::string mapforge = argv[1], make_grid = argv[2], fscanf_convert = argv[3], numpy_script = argv[4],
                      work = argv[5];
    const int runs = argc > 6 ? std::max(5, std::atoi(argv[6])) : 7;
    const int baseline_runs = 3;
    const std::string log = work + "/bench.log";
    const process_result numpy_check = run_process({"/usr/bin/python3", "-c", "import numpy"}, log, log);
    const bool numpy = numpy_check.started && numpy_check.exit_code == 0;
    std::printf("load average at start: %s; fixed-field scan: %s; %d runs (baselines %d)%s\n", load_average().c_str(),
                mf::grid::fixed_scan_name(mf::grid::active_fixed_scan()), runs, baseline_runs,
                numpy ? "" : "; numpy not installed");
    std::printf("%-11s %8s %9s %8s %6s %9s %7s %8s %7s %6s %8s %7s %7s %7s %8s\n", "grid", "input MB", "mapforge", "cp",
                "ratio", "fscanf", "x", "numpy", "x", "MB/s", "Msmp/s", "priv MB", "RSS MB", "ns/B", "vs 4096");
    auto grid_of = [&](int size) {
        const std::string grid = work + "/grid_" + std::to_string(size) + ".grd";
        if (!mf::platform::is_regular_file(grid)) {
            const process_result made =
                run_process({make_grid, grid, std::to_string(size), std::to_string(size)}, log, log);
            if (!made.started || made.exit_code != 0) {
                std::fprintf(stderr, "conv-bench: make-grid failed for %d\n", size);
                return std::string();
            }
        }
        return grid;
    };
    // The start-up: a conversion with next to nothing to convert.
    const std::string tiny = grid_of(16);
    if (tiny.empty()) return 2;
    timing start_up;
    for (int i = 0; i < runs; ++i)
        if (!timed({mapforge, tiny, work + "/out_16.dat"}, work + "/out_16.dat", log, start_up)) return 2;
    const double start_up_s = median(start_up.seconds);
    const double tiny_megabytes = static_cast<double>(mf::platform::file_size(tiny)) / 1e6;
    double ns_per_byte_4096 = 0, net_ns_per_byte_4096 = 0;
    struct row {
        int size;
        double ns_per_byte, net_ns_per_byte;
    };
    std::vector<row> rows;
    for (int size : {1024, 4096, 8192}) {
        const std::string grid = grid_of(size);
        if (grid.empty()) return 2;
        const double megabytes = static_cast<double>(mf::platform::file_size(grid)) / 1e6;
        const std::string output = work + "/out_" + std::to_string(size) + ".dat";
        const std::string copy = work + "/copy_" + std::to_string(size) + ".grd";
        warm(grid);
        timing convert, cp, scanf_loop, numpy_loop;
        for (int i = 0; i < runs; ++i) {
            if (!timed({mapforge, grid, output}, output, log, convert)) return 2;
            if (!timed({"/bin/cp", "--reflink=never", grid, copy}, copy, log, cp)) return 2;
            if (i < baseline_runs) {
                if (!timed({fscanf_convert, grid, output}, output, log, scanf_loop)) return 2;
                if (numpy && !timed({"/usr/bin/python3", numpy_script, grid, output}, output, log, numpy_loop))
                    return 2;
            }
        }
        // Its own memory (the input's mapping not counted), and everything resident.
        mf::platform::remove_file(output);
        const process_result watched = run_process({mapforge, grid, output}, log, log, true);
        mf::platform::remove_file(output);
        const double private_mb = static_cast<double>(watched.peak_private_kb) * 1024 / 1e6;
        const double convert_s = median(convert.seconds), copy_s = median(cp.seconds);
        const double scanf_s = median(scanf_loop.seconds), numpy_s = median(numpy_loop.seconds);
        const double samples = static_cast<double>(size) * size;
        const double ns_per_byte = convert_s * 1e9 / (megabytes * 1e6);
        const double net_ns_per_byte = (convert_s - start_up_s) * 1e9 / ((megabytes - tiny_megabytes) * 1e6);
        if (size == 4096) ns_per_byte_4096 = ns_per_byte, net_ns_per_byte_4096 = net_ns_per_byte;
        rows.push_back({size, ns_per_byte, net_ns_per_byte});
        char numpy_text[2][16] = {"-", "-"};
        if (numpy) {
            std::snprintf(numpy_text[0], sizeof numpy_text[0], "%.3f", numpy_s);
            std::snprintf(numpy_text[1], sizeof numpy_text[1], "%.1f", numpy_s / convert_s);
        }
        std::printf("%4d x %-4d %8.1f %9.4f %8.4f %6.2f %9.3f %7.1f %8s %7s %6.0f %8.1f %7.1f %7.1f %7.3f", size, size,
                    megabytes, convert_s, copy_s, convert_s / copy_s, scanf_s, scanf_s / convert_s, numpy_text[0],
                    numpy_text[1], megabytes / convert_s, samples / convert_s / 1e6, private_mb,
                    static_cast<double>(convert.peak_kb) * 1024 / 1e6, ns_per_byte);
        std::printf(size == 1024 ? "\n" : " %8.2f\n", ns_per_byte_4096 > 0 ? ns_per_byte / ns_per_byte_4096 : 0.0);
        std::fflush(stdout);
    }
    // The 1024 line was printed before the 4096 time was known.
    std::printf("start-up (16 x 16 grid): %.4f s; time per input byte vs 4096 x 4096 (net of the start-up):",
                start_up_s);
    for (const row& r : rows)
        if (r.size != 4096 && ns_per_byte_4096 > 0 && net_ns_per_byte_4096 > 0)
            std::printf(" %d: %.2f (%.2f)", r.size, r.ns_per_byte / ns_per_byte_4096,
                        r.net_ns_per_byte / net_ns_per_byte_4096);
    std::printf("\n");
    std::printf("load average at end: %s\n", load_average().c_str());
    return 0;
}
