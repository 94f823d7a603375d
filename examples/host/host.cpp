// A host program built against the installed mapforge library: it reads a system
// calibration file, converts a Code V grid file into a measurement data file and
// reads that back, then binds the virtual instrument's bus library.
//
// Usage: mapforge-host CALFILE GRIDFILE DATAFILE
// Run it with the virtual instrument's folder on the library search path
// (mapforge_VIRTUAL_DIR in CMake, "virtualdir" in pkg-config) to reach the bus.
#include <cstdio>

#include "calfile/names.h"
#include "calfile/sysinfo.h"
#include "can/can_api.h"
#include "common/errors.h"
#include "common/version.h"
#include "datafile/data_file.h"
#include "datafile/data_reader.h"
#include "datafile/grid_file.h"

using namespace mf;

namespace {

int fail(const char* step, int32_t status) {
    std::fprintf(stderr, "mapforge-host: %s: %s\n", step, error_name(status));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: mapforge-host CALFILE GRIDFILE DATAFILE\n");
        return 2;
    }
    std::printf("mapforge library %s\n", MF_VERSION_TEXT);

    // The instrument record of slot 0 from the calibration file.
    int32_t status = sb_readCal(0, argv[1]);
    if (status != 0) return fail("calibration file", status);
    const sysInfo* si = sb_slot(0);
    std::printf("calibration file: \"%s\", system %s, board %s\n", si->instrName ? si->instrName : "",
                sb_name(sb_sys_type_names, si->sysType), sb_name(sb_board_names, si->boardType));

    // The conversion the mapforge tool makes, through the library.
    data_header header{};
    sw_info sw{};
    data_array phase{};
    status = read_grid_file(argv[2], &header, &phase, &sw);
    if (status != 0) return fail("grid file", status);
    std::printf("grid file: %d x %d samples\n", phase.width, phase.height);
    status = write_data_file(argv[3], &sw, &header, nullptr, &phase);
    da_release(&phase);
    if (status != 0) return fail("data file", status);
    data_file_reader reader;
    status = reader.open(argv[3]);
    if (status != 0) return fail("data file read back", status);
    std::printf("data file: format %d, %d x %d phase map\n", reader.layout().format, reader.layout().phase.width,
                reader.layout().phase.height);

    // The virtual instrument: its bus library is found only where the host looks for it.
    if (can_bind_library() != 0) {
        std::printf("virtual instrument: bus library not on the library path\n");
        return 0;
    }
    can_bridge_entry bridges[can_max_bridges];
    std::printf("virtual instrument: bus library bound, %d bridge(s)\n", can_lib().CAN_EnumerateBridges(bridges));
    // TODO(power-on): bring the virtual instrument up through the library's power-on
    // once it exists (being built), and print what the instrument reports.
    std::printf("virtual instrument: power-on not in this library version\n");
    can_unbind_library();
    return 0;
}
