// A host program built against the installed mapforge library: it reads a system
// calibration file, converts a Code V grid file into a measurement data file and
// reads that back, then binds the virtual instrument's bus library and powers the
// instrument of the calibration file on and off.
//
// Usage: mapforge-host CALFILE GRIDFILE DATAFILE
// Run it with the virtual instrument's folder on the library search path
// (mapforge_VIRTUAL_DIR in CMake, "virtualdir" in pkg-config) to reach the bus, and
// with MF_VIRTUAL_CALFILE=CALFILE for the virtual instrument to lay itself out as the
// file describes. The power-on's log goes to standard error.
#include <cstdio>

#include "calfile/names.h"
#include "calfile/sysinfo.h"
#include "can/can_api.h"
#include "can/can_bus.h"
#include "can/llc/agc_host.h"
#include "can/power/can_power.h"
#include "common/errors.h"
#include "common/version.h"
#include "datafile/data_file.h"
#include "datafile/data_reader.h"
#include "datafile/grid_file.h"
#include "devctl/devctl.h"

using namespace mf;

namespace {

int fail(const char* step, int32_t status) {
    std::fprintf(stderr, "mapforge-host: %s: %s\n", step, error_name(status));
    return 1;
}

// Powers the instrument of the calibration record on, prints what it reports, and
// powers it off again. 0 when both succeed.
int power_on_and_off(sysInfo* si) {
    // The power-on registers the instrument's event poller in the device control table.
    int32_t status = dev_init_cntrl(false);
    if (status != 0) return fail("device control table", status);
    // Light-level control needs camera frames, which this host has none of.
    can_agc_settings agc = can_agc_get_settings();
    agc.enabled = false;
    can_agc_set_settings(agc);

    int code = 0;
    status = can_inst_on(si);
    if (status != 0) {
        std::printf("virtual instrument: power-on failed at stage %d: %s\n", static_cast<int>(can_power_last_stage(si)),
                    error_name(status));
        code = 1;
    } else {
        const can_config& cfg = *si->canInfo;
        const can_motor_config& motor = can_state_of(si)->motor;
        std::printf(
            "virtual instrument: on, bridge %d.%d.%d.%d firmware %u.%u, turret %d positions, zoom %d positions\n",
            cfg.ip[0], cfg.ip[1], cfg.ip[2], cfg.ip[3], static_cast<unsigned>(cfg.fw_major),
            static_cast<unsigned>(cfg.fw_minor), static_cast<int>(motor.turret_positions),
            static_cast<int>(motor.zoom_positions));
    }
    status = can_inst_off(si);
    std::printf("virtual instrument: power-off: %s\n", status == 0 ? "done" : error_name(status));
    if (status != 0) code = 1;
    dev_free_cntrl();
    return code;
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
    sysInfo* si = sb_slot(0);
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
    const int32_t bridge_count = can_lib().CAN_EnumerateBridges(bridges);
    std::printf("virtual instrument: bus library bound, %d bridge(s)\n", static_cast<int>(bridge_count));
    int code = 0;
    if (bridge_count <= 0)
        std::printf("virtual instrument: no bridge to power on (set MF_VIRTUAL_CALFILE to the calibration file)\n");
    else
        code = power_on_and_off(si);
    can_unbind_library();
    return code;
}
