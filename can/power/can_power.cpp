// can_inst_on and can_inst_off: the bridge, the family sequence, and what follows it.
#include "can/power/can_power.h"

#include "can/can_api.h"
#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/llc/can_agc.h"
#include "can/nodes/can_nodes.h"
#include "can/power/power_internal.h"
#include "common/alloc.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/msg.h"
#include "devctl/devctl.h"
#include "platform/clock.h"
#include "ramp/ramp_set.h"
#include "ramp/slots/ramp_slots.h"

namespace mf {

namespace {

const char* const on_fn = "can_inst_on";

inline constexpr int bridge_error_passes = 10;
inline constexpr int64_t bridge_restart_ms = 2000;
inline constexpr uint16_t config_pi_trigger = 0x0800;
inline constexpr uint16_t config_set_on = 0x0100 | 0x2000;
inline constexpr uint16_t config_off_clear = 0x0100;

// ---- the host's steps and their defaults ----

int32_t default_camera_setup(sysInfo*, float* frame_rate_hz) {
    *frame_rate_hz = 30.0f;
    u_sink("Camera set-up: no camera interface, frame rate %g Hz assumed\n", 30.0);
    return 0;
}
int32_t default_pifoc_offset_setup(sysInfo*) {
    u_sink("Pifoc offset set-up: no scanner set-up, nothing done\n");
    return 0;
}
int32_t default_wave_monitor_start(sysInfo*) {
    u_sink("Wave monitor start: no wave monitor set-up, nothing done\n");
    return 0;
}
int32_t default_sleep_mode_start(sysInfo*) {
    u_sink("Sleep mode: no sleep timer, not started\n");
    return 0;
}
int32_t default_sleep_mode_stop(sysInfo*) {
    u_sink("Sleep mode: no sleep timer, nothing to stop\n");
    return 0;
}
bool default_pi751_ddl_tables(const sysInfo*) { return false; }
int32_t default_light_source(const sysInfo*) { return 0; }

can_power_host host_steps = can_default_power_host();

bool in_family(const sysInfo* si, can_family f) { return can_family_of(si->sysType).family == f; }

bool pi_scanner(const sysInfo* si) {
    return si->scanner.pifoc && (si->scanner.pifoc->type == 1 || si->scanner.pifoc->type == 2);
}

bool newer_than_1_11(const can_config* cfg) { return cfg->fw_major > 1 || cfg->fw_minor > 11; }

dev_handle poller_handle(const sysInfo* si) { return reinterpret_cast<dev_handle>(si); }

void remove_poller(const sysInfo* si) {
    if (dev_is_registered(poller_handle(si))) dev_remove_device(poller_handle(si));
}

// ---- the bridge ----

int32_t connect(const can_config* cfg) {
    const int32_t status = can_lib().CAN_Connect(can_bridge_address(cfg));
    if (status == CAN_OK) return 0;
    u_msg_time("%s: CAN_Connect canErr = %d\n", on_fn, status);
    return ERR_CAN_FINDING_BRIDGE;
}

// The bridge restarts after a reset or a new configuration; connect again.
int32_t reconnect(const can_config* cfg) {
    power::wait_ms(bridge_restart_ms);
    return connect(cfg);
}

int32_t bridge_failed(const char* call, int32_t status) {
    u_msg_time("%s: %s canErr = %d\n", on_fn, call, status);
    return ERR_CAN_BRIDGE_ERROR;
}

int32_t versions(can_config* cfg) {
    const int32_t status = can_lib().CAN_GetFirmwareVersion(&cfg->fw_major, &cfg->fw_minor);
    if (status != CAN_OK) return bridge_failed("CAN_GetFirmwareVersion", status);
    u_sink("Bridge firmware version: major = %hu, minor = %hu\n", static_cast<unsigned short>(cfg->fw_major),
           static_cast<unsigned short>(cfg->fw_minor));
    can_lib_version dll{};
    can_library_version(&dll);
    u_sink("DLL version: major = %d, minor = %d\n", static_cast<int>(dll.major), static_cast<int>(dll.minor));
    return 0;
}

int32_t configuration(const can_config* cfg) {
    uint8_t node = 0;
    uint32_t rate = 0;
    int32_t status = can_lib().CAN_GetBridgeConfiguration(&node, &rate);
    if (status != CAN_OK) return bridge_failed("CAN_GetBridgeConfiguration", status);
    if (node == CAN_NODE_ID_RAMP && rate == 1000) return 0;
    status = can_lib().CAN_SetBridgeConfiguration(CAN_NODE_ID_RAMP, 1000);
    if (status != CAN_OK) return bridge_failed("CAN_SetBridgeConfiguration", status);
    return reconnect(cfg);
}

int32_t clear_bridge_errors(const sysInfo* si) {
    uint32_t last = 0;
    for (int pass = 1; pass <= bridge_error_passes; ++pass) {
        uint32_t error = 0;
        const int32_t status = can_lib().CAN_GetLastBridgeError(&error);
        if (status != CAN_OK) return bridge_failed("CAN_GetLastBridgeError", status);
        if (error == 0) return 0;
        last = error;
        int32_t err = can_reset_bridge(si);
        if (!err) err = reconnect(si->canInfo);
        if (err) return err;
    }
    // The tenth reset may well have cleared it; it is not read again.
    u_msg_time("%s: Unable to reset bridge with no errors after 10 tries: ", on_fn);
    u_sink("CAN_GetLastBridgeError = %d\n", static_cast<int>(last));
    return ERR_CAN_BRIDGE_ERROR;
}

int32_t open_bridge(sysInfo* si) {
    can_config* cfg = si->canInfo;
    if (cfg->mac[0] == 255) return ERR_CAN_MACADDRESS_ERROR;
    int32_t err = find_bridge(cfg);
    if (!err) err = connect(cfg);
    if (!err) err = versions(cfg);
    if (!err) err = configuration(cfg);
    if (!err) err = clear_bridge_errors(si);
    return err;
}

// ---- the nodes ----

// What the configuration requires and how the turret and zoom changer are built.
void configured_state(const sysInfo* si, can_state& cs) {
    const can_family_row row = can_family_of(si->sysType);
    cs.required = can_node_flags{};
    cs.required.triple_pzt = si->present.pzt != 0;
    cs.required.large_ap = si->present.laps != 0;
    cs.required.dd_zoom = si->present.zoom != 0;
    cs.required.dd_rs = si->ringSpot != 0;
    cs.required.focus_ndw = si->present.focusNDW != 0;
    cs.required.brush_motor = sb_has_dual_brush_motor(si);
    cs.motor.turret_type = si->motion.turret[0];
    cs.motor.zoom_type = si->motion.zoom;
    if (row.family == can_family::tarn) {
        cs.large_ap_available = false;
        if (row.no_pzt_required) cs.required.triple_pzt = cs.required.large_ap = false;
    }
}

int32_t family_sequence(sysInfo* si) {
    switch (can_family_of(si->sysType).family) {
    case can_family::loom:
        return can_looma_loomb_on(si, si->canInfo);
    case can_family::loom_p:
        return can_loomaP_or_loombp_on(si, si->canInfo);
    case can_family::tarn:
        si->scanner.pztpwr = -1;
        return can_tarn_on(si, si->canInfo);
    case can_family::none:
        break;
    }
    return ERR_WRONG_SYSTEM_TYPE;
}

bool wave_monitor_system(const sysInfo* si) {
    return si->sysType == SYS_SKERRY_CAN || si->sysType == SYS_WSTARNCAN || si->sysType == SYS_BRAE_CAN;
}

// Ramps, wave monitor, camera, pifoc offset, sync generator, PZT power status.
int32_t instrument_setup(sysInfo* si, can_state& cs) {
    rr_slots_install();
    int32_t err = rr_get_ramp_info(si);
    if (err && err != ERR_NO_RAMP_INFO) return err;
    if (wave_monitor_system(si) && (err = host_steps.wave_monitor_start(si))) return err;
    float frame_rate = 0;
    if ((err = host_steps.camera_setup(si, &frame_rate))) return err;
    if (pi_scanner(si) && (err = host_steps.pifoc_offset_setup(si)) && err != ERR_NO_RAMP_INFO) return err;
    if ((err = can_write_syncgen(si, frame_rate))) return err;
    if (cs.present.triple_pzt) {
        cs.rampMux = 0;
        if ((err = can_report_bridge_status(si))) return err;
    }
    if (cs.present.large_ap) {
        cs.rampMux = 1;
        if ((err = can_report_bridge_status(si))) return err;
    }
    return 0;
}

int32_t turret_report(const sysInfo* si, can_state& cs) {
    const int32_t type = cs.motor.turret_type;
    if (type != TURRET_MOTORIZED && type != TURRET_ENCODED) return 0;
    u_sink(type == TURRET_ENCODED ? "Encoded objective turret\n" : "Motorized objective turret\n");
    uint8_t status = 0, position = 0;
    int32_t err = can_read_turret_status(si, &status);
    if (!err && (status & 0x80)) err = can_read_turret(si, &position);
    if (err) return err;
    cs.motor.turret_position = position;
    u_sink("Num objective turret positions = %d\n", static_cast<int>(cs.motor.turret_positions));
    if (position)
        u_sink("Current objective turret position = %d\n", static_cast<int>(position));
    else
        u_sink("Current objective turret position = UNKNOWN\n");
    return 0;
}

int32_t zoom_report(const sysInfo* si, const can_state& cs) {
    const int32_t type = cs.motor.zoom_type;
    if (type != ZOOM_ENCODED && type != ZOOM_MOTORIZED) return 0;
    u_sink(type == ZOOM_ENCODED ? "Encoded zoom changer\n" : "Motorized zoom changer\n");
    // The coded changer (encoded, product 0x267215D7) cannot give all its codes at once.
    const bool coded =
        type == ZOOM_ENCODED && si->canInfo->brush_product_id == static_cast<int32_t>(CAN_BRMOTOR_PRODUCT_D7);
    if ((si->sysType == SYS_LOOMA || si->sysType == SYS_LOOMB) && !coded) {
        const int32_t err = can_read_all_zoom(si);
        if (err) return err;
    }
    u_sink("Num zoom changer positions = %d\n", static_cast<int>(cs.motor.zoom_positions));
    return 0;
}

int32_t turret_and_zoom(const sysInfo* si, can_state& cs) {
    if (!cs.required.brush_motor) return 0;
    int32_t err = can_get_brmtr_config(si, &cs.motor.zoom_positions, &cs.motor.turret_positions);
    if (!err) err = turret_report(si, cs);
    if (!err) err = zoom_report(si, cs);
    return err;
}

int32_t register_events(sysInfo* si, bool* registered) {
    int32_t err = dev_add_device(DEV_CAN, poller_handle(si), si);
    if (err) return err;
    *registered = true;
    return can_register_events(si, true);
}

int32_t trigger_bits(const sysInfo* si) {
    if (!newer_than_1_11(si->canInfo)) return 0;
    uint16_t config = 0;
    int32_t err = can_bridge_read_config(si, &config);
    if (err) return err;
    if (pi_scanner(si)) {
        config |= config_pi_trigger;
        u_sink("Enabling PI digital scanner triggering mode\n");
    } else if (config & config_pi_trigger) {
        config &= static_cast<uint16_t>(~config_pi_trigger);
        u_sink("Disabling PI digital scanner triggering mode\n");
    }
    return can_bridge_write_config(si, static_cast<uint16_t>(config | config_set_on));
}

static_assert(sys_slot_count == 4);
can_power_stage stages[sys_slot_count] = {can_power_stage::checks, can_power_stage::checks, can_power_stage::checks,
                                          can_power_stage::checks};

void reach(const sysInfo* si, can_power_stage stage) {
    if (si && si->slot >= 0 && si->slot < sys_slot_count) stages[si->slot] = stage;
}

int32_t power_on(sysInfo* si, can_state& cs, bool* registered) {
    reach(si, can_power_stage::bridge);
    int32_t err = open_bridge(si);
    if (err) return err;
    reach(si, can_power_stage::nodes);
    if ((err = family_sequence(si))) return err;
    reach(si, can_power_stage::setup);
    if ((err = instrument_setup(si, cs))) return err;
    reach(si, can_power_stage::motors);
    if ((err = turret_and_zoom(si, cs))) return err;
    reach(si, can_power_stage::events);
    if ((err = register_events(si, registered))) return err;
    reach(si, can_power_stage::finish);
    if ((err = trigger_bits(si))) return err;
    return host_steps.sleep_mode_start(si);
}

// Power-off steps 2 to 4: outputs and modes off. Their results are not examined;
// the result is that of the bridge configuration read (0 when none is made).
int32_t outputs_off(sysInfo* si, can_family family, const can_config* cfg) {
    if (family == can_family::loom) can_write_pifoc_offset(si, 0, false);
    if (family == can_family::loom || family == can_family::loom_p) {
        can_write_llc(si, false, 0);
        can_write_led_setup(si, 0);
    }
    if (family == can_family::tarn) {
        host_steps.sleep_mode_stop(si);
        can_agc_stop(si);
        can_agc_shutdown();
        power::close_ndw_stopped_event();
        power::diffuser_disks_off(si);
    }
    int32_t result = 0;
    if (newer_than_1_11(cfg)) {
        uint16_t config = 0;
        result = can_bridge_read_config(si, &config);
        if (!result) can_bridge_write_config(si, static_cast<uint16_t>(config & ~config_off_clear));
    }
    if (si->camera.type == CAM_SCA640G) {
        can_bridge_write_digitalout(si, 0);
        power::wait_ms(100);
    }
    return result;
}

}  // namespace

namespace power {

const can_power_host& host() { return host_steps; }

void wait_ms(int64_t ms) {
    platform::sleep_ms(ms);
    u_idle();
}

bool agc_applies(const sysInfo* si) { return in_family(si, can_family::tarn) && si->present.focusNDW != 0; }

}  // namespace power

can_power_stage can_power_last_stage(const sysInfo* si) {
    return si && si->slot >= 0 && si->slot < sys_slot_count ? stages[si->slot] : can_power_stage::checks;
}

can_family_row can_family_of(int32_t sys_type) {
    for (const can_family_row& row : can_family_table)
        if (row.sys_type == sys_type) return row;
    return {sys_type, can_family::none, false};
}

can_power_host can_default_power_host() {
    return {default_camera_setup,    default_pifoc_offset_setup, default_wave_monitor_start, default_sleep_mode_start,
            default_sleep_mode_stop, default_pi751_ddl_tables,   default_light_source};
}

can_power_host can_set_power_host(const can_power_host& host) {
    const can_power_host previous = host_steps;
    auto keep = [](auto& slot, auto given) {
        if (given) slot = given;
    };
    keep(host_steps.camera_setup, host.camera_setup);
    keep(host_steps.pifoc_offset_setup, host.pifoc_offset_setup);
    keep(host_steps.wave_monitor_start, host.wave_monitor_start);
    keep(host_steps.sleep_mode_start, host.sleep_mode_start);
    keep(host_steps.sleep_mode_stop, host.sleep_mode_stop);
    keep(host_steps.pi751_ddl_tables, host.pi751_ddl_tables);
    keep(host_steps.light_source, host.light_source);
    return previous;
}

int32_t can_inst_on(sysInfo* si) {
    reach(si, can_power_stage::checks);
    int32_t err = 0;
    can_state* cs = can_state_of(si);
    if (!si || si->boardType != BOARD_CAN)
        err = ERR_WRONG_INSTR_BOARD;
    else if (!si->canInfo)
        err = ERR_HW_FAIL;
    else if (!cs)
        err = ERR_INVALID_PARAM;
    if (err) {
        u_msg_time("%s: %s\n", on_fn, error_name(err));
        return err;
    }
    remove_poller(si);
    configured_state(si, *cs);
    const bool agc = power::agc_applies(si);
    if (agc && !(err = can_agc_init())) can_agc_hold(si, true);
    bool registered = false;
    if (!err) err = power_on(si, *cs, &registered);
    if (!err) {
        reach(si, can_power_stage::on);
        if (agc) can_agc_hold(si, false);
        u_msg_time("Instrument ON\n");
        return 0;
    }
    if (agc) {
        can_agc_stop(si);
        // A hold left in force would keep the next power-on's light-level control off.
        can_agc_init();
    }
    // Events and the poller stay unregistered after a failure, whatever step failed.
    if (registered) {
        remove_poller(si);
        can_register_events(si, false);
    }
    u_msg_time("%s: %s\n", on_fn, error_name(err));
    return err;
}

int32_t can_inst_off(sysInfo* si) {
    if (!si || si->boardType != BOARD_CAN) return ERR_WRONG_INSTR_BOARD;
    const can_family family = can_family_of(si->sysType).family;
    can_config* cfg = si->canInfo;
    // Without a record the instrument is off already (a second power-off): the bus
    // is not reached for and nothing is freed again.
    if (!cfg) {
        u_msg_time("Instrument OFF\n");
        return 0;
    }
    const int32_t result = outputs_off(si, family, cfg);
    remove_poller(si);
    can_register_events(si, false);
    can_events_free_resources();
    can_lib().CAN_Disconnect();
    si->canInfo = nullptr;
    u_free(cfg);
    u_msg_time("Instrument OFF\n");
    return result;
}

}  // namespace mf
