// mapforge-info: shows what a binary measurement data file holds: its header
// fields and map size as text, the whole report as JSON, or the map as a picture.
// The file is read a block of rows at a time, so any map size fits in memory.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/errors.h"
#include "common/version.h"
#include "datafile/data_file.h"
#include "datafile/data_reader.h"
#include "tool/info_image.h"
#include "tool/info_report.h"

namespace {

using namespace mf;

const char usage_text[] =
    "Usage:  mapforge-info [--json] [--image FILE.png [--intensity]] datafile\n"
    "\twithout options   header fields and map size as text\n"
    "\t--json            every header field, the array shapes and the valid phase\n"
    "\t                  samples' count, minimum, maximum, mean and RMS (about the\n"
    "\t                  mean) in waves, as one JSON object on standard output\n"
    "\t--image FILE.png  the phase map as a PNG picture, one pixel per sample, row 0\n"
    "\t                  of the file at the top; colours run from dark violet at the\n"
    "\t                  smallest valid sample to yellow at the largest; invalid\n"
    "\t                  samples are grey\n"
    "\t--intensity       with --image: the first intensity frame in grey levels\n"
    "\t--version         the version of mapforge this program belongs to\n"
    "Exit codes: 0 done, 1 usage, 2 data file refused, 3 picture not written,\n"
    "4 no PNG support in this build.\n";

int usage() {
    std::fputs(usage_text, stderr);
    return 1;
}

void print_text(const data_file_layout& layout, const info::phase_stats& stats) {
    const sw_info& sw = layout.sw;
    const data_header& header = layout.header;
    char name[sizeof sw.name + 1] = {};
    std::memcpy(name, sw.name, sizeof sw.name);
    char comment[sizeof header.comment + 1] = {};
    std::memcpy(comment, header.comment, sizeof header.comment);
    std::printf("header format      %d\n", layout.format);
    std::printf("software           %d \"%s\" %d.%d.%d\n", sw.type, name, sw.number1, sw.number2, sw.number3);
    std::printf("comment            \"%s\"\n", comment);
    std::printf("time stamp         %d\n", header.time_stamp);
    std::printf("wavelength         %.6g m\n", header.wavelength);
    std::printf("phase scale S      %.6g\n", header.phase_scale);
    std::printf("resolution code    %d (R = %d)\n", header.phase_res, phase_resolution(header.phase_res));
    std::printf("surface            %d\n", header.surface);
    std::printf("phase map          %d x %d, %lld valid samples", layout.phase.width, layout.phase.height,
                static_cast<long long>(stats.valid));
    if (stats.valid > 0) std::printf(", from %d to %d", stats.low, stats.high);
    std::printf("\n");
    std::printf("intensity frames   %d\n", layout.intensity_bytes > 0 ? layout.intensity.frames : 0);
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false, intensity = false;
    const char* image = nullptr;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--intensity") {
            intensity = true;
        } else if (arg == "--image") {
            if (++i == argc) return usage();
            image = argv[i];
        } else if (arg == "--version") {
            std::fputs("mapforge-info " MF_VERSION_TEXT "\n", stdout);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage_text, stdout);
            return 0;
        } else if (!path && !(arg.size() > 1 && arg[0] == '-' && arg[1] == '-')) {
            path = argv[i];
        } else {
            return usage();
        }
    }
    if (!path || (intensity && !image)) return usage();
    if (image && !info::png_available()) {
        std::fprintf(stderr, "mapforge-info: --image is unavailable: this build has no PNG support\n");
        return 4;
    }

    data_file_reader reader;
    info::phase_stats stats;
    int32_t status = reader.open(path);
    if (status == 0) status = info::scan_phase(reader, &stats);
    if (status != 0) {
        std::fprintf(stderr, "%s: %s\n", path, error_name(status));
        return 2;
    }
    const data_file_layout& layout = reader.layout();
    if (image) {
        if (intensity ? layout.intensity_bytes == 0 : layout.phase_bytes == 0) {
            std::fprintf(stderr, "mapforge-info: %s holds no %s\n", path, intensity ? "intensity frames" : "phase map");
            return 3;
        }
        status = intensity ? info::write_intensity_png(reader, image) : info::write_phase_png(reader, stats, image);
        if (status != 0) {
            std::fprintf(stderr, "mapforge-info: cannot write %s: %s\n", image, error_name(status));
            return 3;
        }
    }
    if (json)
        std::fputs(info::json_report(layout, stats).c_str(), stdout);
    else if (!image)
        print_text(layout, stats);
    return std::fflush(stdout) == 0 ? 0 : 3;
}
