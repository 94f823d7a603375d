// Power-on and power-off of a CAN instrument (board type CAN): the bridge is found,
// connected, configured and cleared of errors, the nodes of the instrument's family
// are brought up and set to their starting state, the ramps, camera, turret and zoom
// are set up, and the CAN events and the event poller are registered.
//
// Failure messages, "Instrument ON", "Instrument OFF" and the closing
// "can_inst_on: <error name>" carry a time stamp (u_msg_time); the informational
// lines (versions, node tables, turret and zoom, triggering mode) go straight to the
// sink. Every wait is the platform clock's, followed by the idle hook.
//
// Called from the instrument's control thread, one instrument at a time. The host
// initialises the device control table (dev_init_cntrl) before the power-on, which
// registers the instrument's event poller in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "calfile/sysinfo.h"

namespace mf {

// The power-on sequence a system type runs.
enum class can_family : uint8_t {
    none,    // not a CAN system type: ERR_WRONG_SYSTEM_TYPE
    loom,    // profilers and the two Scarp systems: can_looma_loomb_on
    loom_p,  // the profilers' P variants: can_loomaP_or_loombp_on
    tarn,    // the Tarn-family interferometers: can_tarn_on
};

struct can_family_row {
    int32_t sys_type;
    can_family family;
    // Tarn family: the triple PZT and large aperture are never required (the
    // wave-monitor systems).
    bool no_pzt_required;
};

// The system types that run a CAN power-on sequence, in ascending order.
inline constexpr can_family_row can_family_table[] = {
    {SYS_SCARPSABLEICO, can_family::loom, false}, {SYS_SCARPSABLEQVICO, can_family::loom, false},
    {SYS_LOOMA, can_family::loom, false},         {SYS_TARNCAN, can_family::tarn, false},
    {SYS_HOLMPH, can_family::tarn, false},        {SYS_ESKERCAN, can_family::tarn, false},
    {SYS_LOOMAS, can_family::loom, false},        {SYS_LOOMAP, can_family::loom_p, false},
    {SYS_SKERRY_CAN, can_family::tarn, false},    {SYS_LOOMB, can_family::loom, false},
    {SYS_WSTARNCAN, can_family::tarn, true},      {SYS_BRAE_CAN, can_family::tarn, true},
    {SYS_LOOMBS, can_family::loom, false},        {SYS_LOOMBP, can_family::loom_p, false},
};

namespace detail {
constexpr bool family_table_sound() {
    const auto& t = can_family_table;
    for (size_t i = 0; i < std::size(t); ++i) {
        if (i > 0 && t[i - 1].sys_type >= t[i].sys_type) return false;  // ascending, each type once
        if (t[i].family == can_family::none) return false;
        if (t[i].no_pzt_required && t[i].family != can_family::tarn) return false;
    }
    return true;
}
}  // namespace detail
static_assert(std::size(can_family_table) == 14);
static_assert(detail::family_table_sound());

// The row of a system type, or the family none.
can_family_row can_family_of(int32_t sys_type);

// Steps that belong to subsystems outside the CAN bus: the host supplies them. Each
// returns 0 or an error code; the defaults succeed and print that they did nothing.
struct can_power_host {
    // Sets up the camera and gives the frame rate the sync generator is set to.
    // Default: "Camera set-up: no camera interface, frame rate 30 Hz assumed".
    int32_t (*camera_setup)(sysInfo* si, float* frame_rate_hz);
    // With a PI digital scanner: sets up the pifoc offset (ERR_NO_RAMP_INFO is
    // accepted by the power-on).
    int32_t (*pifoc_offset_setup)(sysInfo* si);
    // Wave-monitor systems (Skerry_CAN, WsTarnCan, Brae_CAN), after the ramp
    // information: opens the wave monitor's port, prints its calibration ("Wave
    // monitor not calibrated" when it has none) and sets up its ramp information. A
    // failure ends the power-on.
    int32_t (*wave_monitor_start)(sysInfo* si);
    // Starts sleep mode when the instrument is configured for it; stops it.
    int32_t (*sleep_mode_start)(sysInfo* si);
    int32_t (*sleep_mode_stop)(sysInfo* si);
    // True when a PI 751 scanner with DDL tables is configured. Default: false.
    bool (*pi751_ddl_tables)(const sysInfo* si);
    // The light source in use, 0 or 1. Default: 0.
    int32_t (*light_source)(const sysInfo* si);
};
// Installs the steps (a null member keeps the current one); returns the previous set.
// Set before a power-on, not during one.
can_power_host can_set_power_host(const can_power_host& host);
// The default steps.
can_power_host can_default_power_host();

// The stages of a power-on, in order.
enum class can_power_stage : int32_t {
    checks = 1,  // board type, configuration record, light-level control hold
    bridge,      // lookup, connect, versions, configuration, bridge errors
    nodes,       // the family sequence
    setup,       // ramps, wave monitor, camera, pifoc offset, sync generator, PZT power status
    motors,      // turret and zoom report
    events,      // event poller and CAN events
    finish,      // PI triggering bits, sleep mode
    on,          // the instrument is on
};
// The stage the instrument's last power-on reached: after a failure the stage that
// failed, after success can_power_stage::on. For a host (and mapforge-instrument) to
// say which step failed.
can_power_stage can_power_last_stage(const sysInfo* si);

// Brings the instrument up. ERR_WRONG_INSTR_BOARD, ERR_HW_FAIL (no CAN configuration
// record), ERR_CAN_MACADDRESS_ERROR, ERR_CAN_FINDING_BRIDGE, ERR_CAN_BRIDGE_ERROR,
// ERR_WRONG_SYSTEM_TYPE, the family sequence's codes, and those of every later step.
// A failure leaves the bridge connected, the events unregistered, the poller out of
// the device table and light-level control stopped and not held.
int32_t can_inst_on(sysInfo* si);
// Brings it down: node outputs off, events unregistered and their locks freed, the
// bridge disconnected, the configuration record freed ("Instrument OFF"). Returns
// ERR_WRONG_INSTR_BOARD, or the result of the last bridge configuration read (0 when
// none was made). Without a configuration record (a second power-off) the bridge is
// disconnected and nothing is freed.
int32_t can_inst_off(sysInfo* si);

// Finds the node, waits until it is operational and reads its product id; false
// after a message when any step fails.
bool get_operational_node(const sysInfo* si, uint8_t node, const char* name, uint32_t* product);
// Bridge power faults, then the error-check byte of the PZT node rampMux selects:
// 0, ERR_INST_POWER after the fault's message, or a read's code.
int32_t can_report_bridge_status(const sysInfo* si);
// Profilers: takes the node inventory (dual brush motor, triple PZT) and prints it.
int32_t can_init_nv_node_availability(const sysInfo* si);

// The family sequences (can_inst_on picks one by the system type).
int32_t can_looma_loomb_on(sysInfo* si, can_config* cfg);
int32_t can_loomaP_or_loombp_on(sysInfo* si, can_config* cfg);
int32_t can_tarn_on(sysInfo* si, can_config* cfg);

}  // namespace mf
