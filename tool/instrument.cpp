// mapforge-instrument: powers a CAN instrument on from its calibration file, prints
// the power-on log and a status summary, and powers it off again (or keeps it on
// until interrupted). For bench and service work.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "calfile/sysinfo.h"
#include "can/can_api.h"
#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/llc/can_agc.h"
#include "can/nodes/can_nodes.h"
#include "can/power/can_power.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "common/msg.h"
#include "devctl/devctl.h"
#include "sim/can/virtual_instrument.h"

namespace {

using namespace mf;

const char* const program = "mapforge-instrument";

// Exit codes: which step failed.
enum exit_code : int {
    EXIT_ON_AND_OFF = 0,
    EXIT_USAGE = 1,
    EXIT_CALIBRATION = 2,  // file not read, or not a CAN instrument
    EXIT_BUS_LIBRARY = 3,
    EXIT_DEVICE_TABLE = 4,
    EXIT_BRIDGE = 5,
    EXIT_NODES = 6,
    EXIT_SETUP = 7,   // ramps, camera, sync generator, PZT power status, turret and zoom
    EXIT_EVENTS = 8,  // event registration, triggering bits, sleep mode
    EXIT_POWER_OFF = 9,
};

const char usage_line[] = "usage: mapforge-instrument [--virtual] [--hold] CALFILE\n";

const char help_text[] =
    "NAME\n"
    "    mapforge-instrument - power a CAN instrument on and off\n"
    "\n"
    "SYNOPSIS\n"
    "    mapforge-instrument [--virtual] [--hold] CALFILE\n"
    "    mapforge-instrument --help\n"
    "\n"
    "DESCRIPTION\n"
    "    Reads the system calibration file CALFILE into system slot 0 and powers\n"
    "    the CAN instrument it describes on: the bridge is found by its MAC\n"
    "    address, connected and cleared of errors, the nodes of the instrument's\n"
    "    family are brought up, ramps, camera, turret and zoom are set up, and the\n"
    "    CAN events are registered. The power-on log is printed on standard output\n"
    "    as it goes, then a status summary (bridge, bus library, each node's\n"
    "    presence, requirement, state and product id, turret and zoom), then the\n"
    "    instrument is powered off again.\n"
    "\n"
    "    The bus library is the CAN interface library VaroCANopen found by the\n"
    "    system's library search (beside the program on Windows). The virtual\n"
    "    instrument's library of that name (lib/mapforge/virtual/) serves when its\n"
    "    folder is on the library path and MF_VIRTUAL_CALFILE names the same\n"
    "    calibration file.\n"
    "\n"
    "OPTIONS\n"
    "    --virtual  power on the virtual instrument instead, laid out from the same\n"
    "               calibration file (bridge with its MAC address, the nodes its\n"
    "               system type and configuration call for)\n"
    "    --hold     keep the instrument on and print its CAN events until\n"
    "               interrupted (Ctrl-C), then power it off\n"
    "    --help     print this text\n"
    "\n"
    "ENVIRONMENT\n"
    "    HX_RAMPS_DIR, HX_CONFIG_DIR, HX_INSTALL_DIR  where the ramps are found\n"
    "    MF_VIRTUAL_CALFILE  the calibration file the virtual instrument's bus\n"
    "               library lays its instrument out from when it is loaded (not\n"
    "               needed with --virtual)\n"
    "\n"
    "EXIT STATUS\n"
    "    0  powered on and off\n"
    "    1  usage\n"
    "    2  calibration file not read, or not a CAN instrument\n"
    "    3  bus library not found or incomplete\n"
    "    4  device control table could not be set up\n"
    "    5  bridge: lookup, connection, configuration or bridge errors\n"
    "    6  nodes: the family's power-on sequence\n"
    "    7  set-up: ramps, camera, sync generator, PZT power, turret and zoom\n"
    "    8  events, triggering mode or sleep mode\n"
    "    9  power-off reported a failure\n";

std::atomic<bool> interrupted{false};

extern "C" void on_interrupt(int) { interrupted.store(true); }

int stage_exit(can_power_stage stage) {
    switch (stage) {
    case can_power_stage::checks:
    case can_power_stage::bridge:
        return EXIT_BRIDGE;
    case can_power_stage::nodes:
        return EXIT_NODES;
    case can_power_stage::setup:
    case can_power_stage::motors:
        return EXIT_SETUP;
    default:
        return EXIT_EVENTS;
    }
}

struct node_row {
    uint8_t id;
    bool can_node_flags::*required;  // null: never required by the configuration
    bool profiler;                   // the profilers' sequences test the requirement
    bool tarn;                       // the Tarn family's sequence tests it
};
constexpr node_row status_nodes[] = {
    {CAN_NODE_ID_RAMP, nullptr, false, false},
    {CAN_NODE_ID_LED, nullptr, false, false},
    {CAN_NODE_ID_TRIPLEPZT, &can_node_flags::triple_pzt, true, true},
    {CAN_NODE_ID_LARGEAP, &can_node_flags::large_ap, false, true},
    {CAN_NODE_ID_BRUSHMOTOR, &can_node_flags::brush_motor, true, false},
    {CAN_NODE_ID_FOCUS_NDW, &can_node_flags::focus_ndw, false, true},
    {CAN_NODE_ID_AUX_MOTOR, nullptr, false, false},
    {CAN_NODE_ID_DD_RS, &can_node_flags::dd_rs, false, true},
    {CAN_NODE_ID_DD_ZOOM, &can_node_flags::dd_zoom, false, true},
    {CAN_NODE_ID_WAND, nullptr, false, false},
    {CAN_NODE_ID_WAND2, nullptr, false, false},
};

void print_node(const sysInfo* si, const can_state& cs, const node_row& row) {
    const bool tarn = can_family_of(si->sysType).family == can_family::tarn;
    const bool present = can_node_listed(si, row.id);
    const bool tested = row.required && (tarn ? row.tarn : row.profiler);
    const bool required = tested && cs.required.*row.required;
    if (!present && !required) return;
    uint32_t state = 0;
    const bool operational = present && can_lib().CAN_GetNodeState(row.id, &state) == CAN_OK && state == 2;
    uint32_t product = 0;
    char product_text[16] = "-";
    if (present && can_read_productID(si, row.id, &product) == 0)
        std::snprintf(product_text, sizeof product_text, "0x%08X", static_cast<unsigned>(product));
    std::printf("  %-24s %-8s %-9s %-12s %s\n", can_node_name(row.id), present ? "yes" : "no",
                tested ? (required ? "yes" : "no") : "-", operational ? "yes" : "no", product_text);
}

void print_status(const sysInfo* si) {
    const can_state& cs = *can_state_of(si);
    const can_config& cfg = *si->canInfo;
    can_lib_version dll{};
    can_library_version(&dll);
    std::printf("Instrument status:\n");
    std::printf("  Bridge: %d.%d.%d.%d, firmware %u.%u, bus library %d.%d\n", cfg.ip[0], cfg.ip[1], cfg.ip[2],
                cfg.ip[3], static_cast<unsigned>(cfg.fw_major), static_cast<unsigned>(cfg.fw_minor),
                static_cast<int>(dll.major), static_cast<int>(dll.minor));
    std::printf("  %-24s %-8s %-9s %-12s %s\n", "Node", "Present", "Required", "Operational", "Product id");
    for (const node_row& row : status_nodes)
        print_node(si, cs, row);
    static const char* const turret_types[] = {"none", "motorized", "encoded"};
    static const char* const zoom_types[] = {"none", "encoded", "motorized"};
    const can_motor_config& m = cs.motor;
    const int32_t t = m.turret_type >= 0 && m.turret_type <= 2 ? m.turret_type : 0;
    const int32_t z = m.zoom_type >= 0 && m.zoom_type <= 2 ? m.zoom_type : 0;
    std::printf("  Turret: %s, %d positions, position %d\n", turret_types[t], static_cast<int>(m.turret_positions),
                static_cast<int>(m.turret_position));
    std::printf("  Zoom changer: %s, %d positions\n", zoom_types[z], static_cast<int>(m.zoom_positions));
    std::fflush(stdout);
}

// Prints the CAN events the device table's worker finds until interrupted.
void hold_on(sysInfo* si) {
    std::signal(SIGINT, on_interrupt);
    std::printf("Holding the instrument on; interrupt (Ctrl-C) to power it off\n");
    std::fflush(stdout);
    while (!interrupted.load()) {
        if (dev_data_read(DEV_CAN, nullptr, false) != DEV_CAN) continue;
        can_host_record r{};
        while (can_take_event(&r)) {
            if (r.queue == 1)
                std::printf("CAN event %d from node %u\n", static_cast<int>(r.event.code),
                            static_cast<unsigned>(can_pdo_node(r.event.pdo)));
            else
                std::printf("CAN emergency %08X %08X\n", static_cast<unsigned>(r.emcy.emcy.first),
                            static_cast<unsigned>(r.emcy.emcy.second));
        }
        std::fflush(stdout);
    }
    static_cast<void>(si);
}

int fail(int code, const char* fmt, const char* detail) {
    std::fprintf(stderr, "%s: ", program);
    std::fprintf(stderr, fmt, detail);
    std::fputc('\n', stderr);
    return code;
}

int run(const char* calfile, bool virtual_instrument, bool hold) {
    int32_t err = sb_readCal(0, calfile);
    if (err) return fail(EXIT_CALIBRATION, "cannot read the calibration file: %s", error_name(err));
    sysInfo* si = sb_slot(0);
    if (si->boardType != BOARD_CAN || !si->canInfo)
        return fail(EXIT_CALIBRATION, "%s does not describe a CAN instrument", calfile);
    if (virtual_instrument) {
        sim::configure_virtual_instrument(sim::can_sim::instance(), *si);
        can_install_api(sim::can_sim_api(), sim::can_sim_version());
    } else if ((err = can_bind_library("VaroCANopen"))) {
        return fail(EXIT_BUS_LIBRARY, "no bus library: %s", error_name(err));
    }
    if ((err = dev_init_cntrl(false))) return fail(EXIT_DEVICE_TABLE, "device control table: %s", error_name(err));
    // Light-level control needs camera frames, which this program has none of.
    can_agc_settings agc = can_agc_get_settings();
    agc.enabled = false;
    can_agc_set_settings(agc);
    std::printf("Light-level control: no camera frames in this program, control disabled\n");
    int code = EXIT_ON_AND_OFF;
    if (can_inst_on(si) != 0) {
        code = stage_exit(can_power_last_stage(si));
    } else {
        print_status(si);
        if (hold) hold_on(si);
    }
    if (can_inst_off(si) != 0 && code == EXIT_ON_AND_OFF) code = EXIT_POWER_OFF;
    dev_free_cntrl();
    sim::can_sim::instance().reset();
    can_unbind_library();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // The log is the program's output.
    mf::u_set_msg_sink(&mf::u_msg_stdout);
    bool virtual_instrument = false, hold = false;
    const char* calfile = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::fputs(help_text, stdout);
            return EXIT_ON_AND_OFF;
        }
        if (a == "--virtual") {
            virtual_instrument = true;
        } else if (a == "--hold") {
            hold = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "%s: unknown option %s\n%s", program, a.c_str(), usage_line);
            return EXIT_USAGE;
        } else if (calfile) {
            std::fprintf(stderr, "%s: one calibration file only\n%s", program, usage_line);
            return EXIT_USAGE;
        } else {
            calfile = argv[i];
        }
    }
    if (!calfile) {
        std::fputs(usage_line, stderr);
        return EXIT_USAGE;
    }
    return run(calfile, virtual_instrument, hold);
}
