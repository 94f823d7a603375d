#include "can/nodes/can_nodes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/can_sdo.h"
#include "can/nodes/node_access.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/msg.h"
#include "common/timeutil.h"
#include "platform/clock.h"
#include "platform/events.h"

namespace mf {

using namespace can_nodes;

std::atomic<bool> can_agc_thread_exists{false};

namespace {

std::atomic<double> zoom_target_vel{0};
std::atomic<int64_t> pifoc_offset_ms{0};

// A generic motor-driver read or write with the caller's node; `family` names a node
// operation's node and code (motor_family_count for the generic operation itself).
struct motor_call {
    const sysInfo* si;
    uint8_t node;
    int32_t code;      // replaces ERR_CAN_SDO_DMD_ERROR
    const char* name;  // operation named in messages
};

int32_t motor_target(const motor_call& c, obj id, target* t) {
    int32_t err = resolve(c.si, id, c.node, 0, t);
    if (err) return err;
    t->abort_err = c.code;
    return 0;
}

template <class T>
int32_t motor_read(const motor_call& c, obj id, T* out) {
    target t;
    int32_t err = motor_target(c, id, &t);
    return err ? err : read_value(t, id, out, c.name);
}

template <class T>
int32_t motor_write(const motor_call& c, obj id, T value, bool activity = true) {
    target t;
    int32_t err = motor_target(c, id, &t);
    return err ? err : write_value(t, id, value, c.name, activity);
}

motor_call generic(const sysInfo* si, uint8_t node, obj id) {
    return {si, node, ERR_CAN_SDO_DMD_ERROR, node_objects[id].op};
}

// Guards the node of a node operation, then names its node and code.
int32_t family_call(const sysInfo* si, motor_family f, const char* name, motor_call* c) {
    const motor_node& m = motor_nodes[f];
    if (m.node == CAN_NODE_ID_AUX_MOTOR) {
        const can_state* cs = can_state_of(si);
        if (!cs || !cs->present.aux_motor) return ERR_CAN_NODE_NOT_AVAIL;
    } else {
        int32_t err = can_guard_node(si, m.node, name);
        if (err) return err;
    }
    *c = {si, m.node, m.abort_err, name};
    return 0;
}

// The motor-driver operations, each once; the node operations call them with their
// own node, code and name.
int32_t mode_write(const motor_call& c, int32_t mode) {
    int32_t err = can_guard_board(c.si, ERR_INVALID_PARAM);
    if (err) return err;
    if (!in_range(dmd_motor1_mode, mode)) {
        u_sink("%s: invalid mode=%d\n", c.name, static_cast<int>(mode));
        return ERR_INVALID_PARAM;
    }
    return motor_write(c, dmd_motor1_mode, static_cast<uint8_t>(mode));
}

int32_t target_vel_write(const motor_call& c, double velocity) {
    int32_t err = can_guard_board(c.si, ERR_INVALID_PARAM);
    if (err) return err;
    if (!in_range(dmd_motor1_targetVel, velocity)) return ERR_INVALID_PARAM;
    return motor_write(c, dmd_motor1_targetVel, static_cast<float>(velocity));
}

int32_t llc_level_read(const motor_call& c, bool invert, uint16_t* level) {
    uint16_t v;
    int32_t err = motor_read(c, dmd_motor2_llcLevel_r, &v);
    if (err) return err;
    *level = invert ? static_cast<uint16_t>(~v) : v;
    return 0;
}

int32_t llc_level_write(const motor_call& c, bool invert, uint16_t level) {
    return motor_write(c, dmd_motor2_llcLevel_w, invert ? static_cast<uint16_t>(~level) : level,
                       !can_agc_thread_exists.load());
}

int32_t current_write(const motor_call& c, int16_t current) {
    int16_t max_current;
    int32_t err = motor_read(c, dmd_motor2_maxCurrent, &max_current);
    if (err) return err;
    return motor_write(c, dmd_motor2_current, current);
}

// Runs a node operation: guard the node, then the motor-driver operation.
template <class F>
int32_t on_family(const sysInfo* si, motor_family f, const char* name, F&& op) {
    motor_call c;
    int32_t err = family_call(si, f, name, &c);
    return err ? err : op(c);
}

// The frame number of a trigger, checked against `limit` before it is cut to 16 bits:
// a far-out value must not wrap into range. A rate that is not a positive finite
// number is refused before the division.
int32_t frame_number(const char* op, const can_ramp_timing& r, bool doubled, int32_t limit, bool print_range,
                     uint16_t* out) {
    const double rate = r.ramp_rate;
    if (!(rate > 0) || !std::isfinite(rate)) return ERR_PARAM_OUT_OF_RANGE;
    double n = std::floor(static_cast<double>(r.trigger) * r.frame_rate / (rate * 1000.0) + 0.5);
    if (doubled) n = 2 * n + 1;
    if (!(n >= 0 && n <= limit)) {
        const int shown = std::isnan(n) ? 0 : n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
        if (print_range)
            u_sink("%s: calculated frameNumber=%d outside of valid range [%d,%d]\n", op, shown, 0,
                   static_cast<int>(limit));
        else
            u_sink("%s: calculated frameNumber=%d outside of valid range\n", op, shown);
        return ERR_PARAM_OUT_OF_RANGE;
    }
    *out = static_cast<uint16_t>(n);
    return 0;
}

bool rate_ok(float rate) { return rate > 0 && std::isfinite(rate); }

bool pi_scanner(const sysInfo* si) {
    return si && si->scanner.pifoc && (si->scanner.pifoc->type == 1 || si->scanner.pifoc->type == 2);
}

template <class T>
int32_t simple_read(const sysInfo* si, obj id, T* out, int slot = 0, uint8_t node = 0) {
    target t;
    int32_t err = resolve(si, id, node, slot, &t);
    return err ? err : read_value(t, id, out);
}

template <class T>
int32_t simple_write(const sysInfo* si, obj id, T value, int slot = 0, uint8_t node = 0) {
    target t;
    int32_t err = resolve(si, id, node, slot, &t);
    return err ? err : write_value(t, id, value);
}

template <class T>
int32_t checked_write(const sysInfo* si, obj id, double value, int slot = 0) {
    target t;
    int32_t err = resolve(si, id, 0, slot, &t);
    if (err) return err;
    if (!in_range(id, value)) return ERR_PARAM_OUT_OF_RANGE;
    return write_value(t, id, static_cast<T>(value));
}

void wait_ms(int64_t ms) {
    platform::sleep_ms(ms);
    u_idle();
}

}  // namespace

// Generic motor-driver operations.
int32_t can_read_dmd_motor1_control(const sysInfo* si, uint8_t node, uint8_t* value) {
    return motor_read(generic(si, node, dmd_motor1_control_r), dmd_motor1_control_r, value);
}
int32_t can_write_dmd_motor1_control(const sysInfo* si, uint8_t node, uint8_t value) {
    return motor_write(generic(si, node, dmd_motor1_control_w), dmd_motor1_control_w, value);
}
int32_t can_write_dmd_motor1_mode(const sysInfo* si, uint8_t node, int32_t mode) {
    return mode_write(generic(si, node, dmd_motor1_mode), mode);
}
int32_t can_write_dmd_motor1_targetVel(const sysInfo* si, uint8_t node, double velocity) {
    return target_vel_write(generic(si, node, dmd_motor1_targetVel), velocity);
}
int32_t can_write_dmd_motor2_control(const sysInfo* si, uint8_t node, uint8_t value) {
    return motor_write(generic(si, node, dmd_motor2_control), dmd_motor2_control, value);
}
int32_t can_read_dmd_motor2_status(const sysInfo* si, uint8_t node, uint8_t* status) {
    return motor_read(generic(si, node, dmd_motor2_status), dmd_motor2_status, status);
}
int32_t can_read_dmd_motor2_llcLevel(const sysInfo* si, uint8_t node, bool invert, uint16_t* level) {
    return llc_level_read(generic(si, node, dmd_motor2_llcLevel_r), invert, level);
}
int32_t can_write_dmd_motor2_llcLevel(const sysInfo* si, uint8_t node, bool invert, uint16_t level) {
    return llc_level_write(generic(si, node, dmd_motor2_llcLevel_w), invert, level);
}
int32_t can_read_dmd_motor2_maxCurrent(const sysInfo* si, uint8_t node, int16_t* current) {
    return motor_read(generic(si, node, dmd_motor2_maxCurrent), dmd_motor2_maxCurrent, current);
}
int32_t can_write_dmd_motor2_current(const sysInfo* si, uint8_t node, int16_t current) {
    return current_write(generic(si, node, dmd_motor2_current), current);
}
int32_t can_read_dmd_motor2_position(const sysInfo* si, uint8_t node, uint8_t* position) {
    return motor_read(generic(si, node, dmd_motor2_position), dmd_motor2_position, position);
}
int32_t can_read_dmd_keypress_mode(const sysInfo* si, uint8_t node, uint8_t* mode) {
    return motor_read(generic(si, node, dmd_keypress_mode_r), dmd_keypress_mode_r, mode);
}
int32_t can_write_dmd_keypress_mode(const sysInfo* si, uint8_t node, uint8_t mode) {
    return motor_write(generic(si, node, dmd_keypress_mode_w), dmd_keypress_mode_w, mode);
}

// Ring/spot.
#define MF_FAMILY(f, body) return on_family(si, f, __func__, [&](const motor_call& c) { return body; })
int32_t can_read_rs_dd_control(const sysInfo* si, uint8_t* v) {
    MF_FAMILY(mf_rs, motor_read(c, dmd_motor1_control_r, v));
}
int32_t can_write_rs_dd_control(const sysInfo* si, uint8_t v) {
    MF_FAMILY(mf_rs, motor_write(c, dmd_motor1_control_w, v));
}
int32_t can_write_rs_dd_mode(const sysInfo* si, int32_t mode) { MF_FAMILY(mf_rs, mode_write(c, mode)); }
int32_t can_read_rs_status(const sysInfo* si, uint8_t* s) { MF_FAMILY(mf_rs, motor_read(c, dmd_motor2_status, s)); }
int32_t can_write_rs_current(const sysInfo* si, int16_t cur) { MF_FAMILY(mf_rs, current_write(c, cur)); }
int32_t can_read_rs_maxCurrent(const sysInfo* si, int16_t* cur) {
    MF_FAMILY(mf_rs, motor_read(c, dmd_motor2_maxCurrent, cur));
}
int32_t can_read_rs_position(const sysInfo* si, uint8_t* p) { MF_FAMILY(mf_rs, motor_read(c, dmd_motor2_position, p)); }
int32_t can_read_rs_keypress_mode(const sysInfo* si, uint8_t* m) {
    MF_FAMILY(mf_rs, motor_read(c, dmd_keypress_mode_r, m));
}
int32_t can_write_rs_keypress_mode(const sysInfo* si, uint8_t m) {
    MF_FAMILY(mf_rs, motor_write(c, dmd_keypress_mode_w, m));
}

// Zoom.
int32_t can_read_zoom_dd_control(const sysInfo* si, uint8_t* v) {
    MF_FAMILY(mf_zoom, motor_read(c, dmd_motor1_control_r, v));
}
int32_t can_write_zoom_dd_control(const sysInfo* si, uint8_t v) {
    MF_FAMILY(mf_zoom, motor_write(c, dmd_motor1_control_w, v));
}
int32_t can_write_zoom_dd_mode(const sysInfo* si, int32_t mode) { MF_FAMILY(mf_zoom, mode_write(c, mode)); }
int32_t can_write_zoom_dd_targetVel(const sysInfo* si, double velocity) {
    int32_t err = on_family(si, mf_zoom, __func__, [&](const motor_call& c) { return target_vel_write(c, velocity); });
    if (!err) zoom_target_vel.store(velocity);
    return err;
}
double can_zoom_dd_targetVel() { return zoom_target_vel.load(); }
int32_t can_read_zoom_keypress_mode(const sysInfo* si, uint8_t* m) {
    MF_FAMILY(mf_zoom, motor_read(c, dmd_keypress_mode_r, m));
}
int32_t can_write_zoom_keypress_mode(const sysInfo* si, uint8_t m) {
    MF_FAMILY(mf_zoom, motor_write(c, dmd_keypress_mode_w, m));
}

// Focus and ND wheel.
int32_t can_read_ndw_llcLevel(const sysInfo* si, bool invert, uint16_t* level) {
    MF_FAMILY(mf_ndw, llc_level_read(c, invert, level));
}
int32_t can_write_ndw_llcLevel(const sysInfo* si, bool invert, uint16_t level) {
    return on_family(si, mf_ndw, __func__, [&](const motor_call& c) {
        can_process_events(si);
        platform::event_handle stopped = platform::event_open(CAN_NDWHEEL_STOPPED_NAME);
        platform::event_reset(stopped);
        int32_t err = llc_level_write(c, invert, level);
        if (err) platform::event_set(stopped);
        platform::event_close(stopped);
        return err;
    });
}
int32_t can_write_ndw_control(const sysInfo* si, uint8_t v) {
    MF_FAMILY(mf_ndw, motor_write(c, dmd_motor2_control, v));
}
int32_t can_read_ndw_status(const sysInfo* si, uint8_t* s) { MF_FAMILY(mf_ndw, motor_read(c, dmd_motor2_status, s)); }
int32_t can_read_focus_keypress_mode(const sysInfo* si, uint8_t* m) {
    MF_FAMILY(mf_focus, motor_read(c, dmd_keypress_mode_r, m));
}
int32_t can_write_focus_keypress_mode(const sysInfo* si, uint8_t m) {
    MF_FAMILY(mf_focus, motor_write(c, dmd_keypress_mode_w, m));
}

// Auxiliary motor.
int32_t can_read_aux_position(const sysInfo* si, uint8_t* p) {
    MF_FAMILY(mf_aux, motor_read(c, dmd_motor2_position, p));
}
int32_t can_read_aux_status(const sysInfo* si, uint8_t* s) { MF_FAMILY(mf_aux, motor_read(c, dmd_motor2_status, s)); }
int32_t can_write_aux_current(const sysInfo* si, int16_t cur) {
    return on_family(si, mf_aux_current, "can_write_dmd_motor2_current",
                     [&](const motor_call& c) { return current_write(c, cur); });
}
#undef MF_FAMILY

// Ramp generator and bridge.
int32_t can_ramp_start(const sysInfo* si) {
    if (pi_scanner(si)) return can_pi_ramp_start(si);
    return simple_write(si, ramp_start, uint8_t{1});
}
int32_t can_read_ramp_status(const sysInfo* si, uint8_t* status) {
    if (pi_scanner(si)) {
        int32_t s;
        int32_t err = can_read_pi_ramp_status(si, &s);
        if (!err) *status = static_cast<uint8_t>(s);
        return err;
    }
    return simple_read(si, ramp_status, status);
}
int32_t can_write_ramp_select(const sysInfo* si, int32_t slot) {
    if (pi_scanner(si)) return can_write_pi_ramp_select(si, slot);
    return checked_write<uint8_t>(si, ramp_select, slot);
}
int32_t can_read_ramp_valid(const sysInfo* si, int32_t slot, uint8_t* valid) {
    if (pi_scanner(si)) {
        int32_t err = can_guard_board(si, ERR_WRONG_INSTR_BOARD);
        if (!err) *valid = 1;
        return err;
    }
    return simple_read(si, ramp_valid, valid, slot);
}
int32_t can_write_ramp_trigger(const sysInfo* si, int32_t slot, const can_ramp_timing& ramp) {
    target t;
    int32_t err = resolve(si, ramp_trigger, 0, slot, &t);
    if (err) return err;
    uint16_t n;
    err = frame_number(node_objects[ramp_trigger].op, ramp, false, 255, false, &n);
    return err ? err : write_value(t, ramp_trigger, n);
}
int32_t can_write_ramp_rate(const sysInfo* si, int32_t slot, float rate) {
    target t;
    int32_t err = resolve(si, ramp_rate, 0, slot, &t);
    if (err) return err;
    if (!rate_ok(rate) || !in_range(ramp_rate, rate)) return ERR_PARAM_OUT_OF_RANGE;
    return write_value(t, ramp_rate, static_cast<float>(rate * 1000.0));
}
int32_t can_write_ramp_data(const sysInfo* si, int32_t slot, const uint8_t* table) {
    target t;
    int32_t err = resolve(si, ramp_data, 0, slot, &t);
    if (err) return err;
    if (!table) return ERR_INVALID_PARAM;
    return write_bytes(t, ramp_data, table);
}
int32_t can_write_pifoc_offset(const sysInfo* si, int32_t offset, bool wait) {
    target t;
    int32_t err = resolve(si, pifoc_offset, 0, 0, &t);
    if (err) return err;
    if (offset < 0 || !in_range(pifoc_offset, offset)) return ERR_PARAM_OUT_OF_RANGE;
    if (pi_scanner(si)) return 0;
    err = write_value(t, pifoc_offset, static_cast<uint16_t>(offset));
    if (err) return err;
    pifoc_offset_ms.store(platform::monotonic_ms());
    if (!wait) return 0;
    // Up to 20 reads, 100 ms apart: no wait after the last one.
    for (int i = 0; i < 20; ++i) {
        if (i > 0) wait_ms(100);
        uint8_t status;
        err = can_read_ramp_status(si, &status);
        if (err) return err;
        if (status == 0) return 0;
    }
    return ERR_RAMP_WAIT_TIMEOUT;
}
int64_t can_pifoc_offset_time() { return pifoc_offset_ms.load(); }
int32_t can_read_bridge_status(const sysInfo* si, uint8_t* status) { return simple_read(si, bridge_status, status); }
int32_t can_bridge_read_config(const sysInfo* si, uint16_t* config) { return simple_read(si, bridge_config_r, config); }
int32_t can_bridge_write_config(const sysInfo* si, uint16_t config) {
    return simple_write(si, bridge_config_w, config);
}
int32_t can_write_fg_trigger(const sysInfo* si, uint16_t value) {
    target t;
    int32_t err = resolve(si, fg_trigger, 0, 0, &t);
    if (err) return err;
    const can_config* cfg = si->canInfo;
    const bool wide = cfg && (cfg->fw_major > 1 || (cfg->fw_major == 1 && cfg->fw_minor > 11));
    const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return write_bytes(t, fg_trigger, b, wide ? 2 : 1);
}
int32_t can_write_syncgen(const sysInfo* si, float frequency) {
    target t;
    int32_t err = resolve(si, syncgen, 0, 0, &t);
    if (err) return err;
    if (!in_range(syncgen, frequency)) return ERR_PARAM_OUT_OF_RANGE;
    return write_value(t, syncgen, frequency);
}
int32_t can_bridge_write_digitalout(const sysInfo* si, uint8_t value) {
    return simple_write(si, bridge_digitalout_w, value);
}
int32_t can_set_align_illumination_diode(const sysInfo* si, bool on) {
    if (!si || !si->canInfo || si->canInfo->fw_major == 0) return 0;
    const can_config* cfg = si->canInfo;
    if (cfg->fw_major < 10 || (cfg->fw_major == 10 && cfg->fw_minor < 9)) {
        uint8_t out;
        int32_t err = simple_read(si, bridge_digitalout_r, &out);
        if (err) return err;
        out = on ? static_cast<uint8_t>(out & ~1u) : static_cast<uint8_t>(out | 1u);
        target t;
        err = resolve(si, bridge_digitalout_w, 0, 0, &t);
        return err ? err : write_value(t, bridge_digitalout_w, out, node_objects[bridge_digitalout_r].op);
    }
    int32_t err = simple_write(si, align_diode_enable, uint8_t{1});
    return err ? err : simple_write(si, align_diode, static_cast<uint8_t>(on ? 1 : 0));
}
int32_t can_pi_ramp_start(const sysInfo* si) {
    if (!pi_scanner(si)) return ERR_INVALID_PARAM;
    return simple_write(si, pi_ramp_start, uint8_t{1});
}
int32_t can_write_pi_ramp_select(const sysInfo* si, int32_t ramp) {
    if (!pi_scanner(si)) return ERR_INVALID_PARAM;
    target t;
    int32_t err = resolve(si, pi_ramp_select, 0, 0, &t);
    if (err) return err;
    const int32_t top = si->scanner.pifoc->type == 1 ? 15 : 100;
    if (ramp < 1 || ramp > top) return ERR_PARAM_OUT_OF_RANGE;
    return write_value(t, pi_ramp_select, static_cast<uint8_t>(ramp));
}
int32_t can_read_pi_ramp_status(const sysInfo* si, int32_t* status) {
    if (!pi_scanner(si)) return ERR_INVALID_PARAM;
    const can_config* cfg = si->canInfo;
    const bool is_new = cfg && cfg->fw_major > 5 && cfg->fw_minor > 5;
    uint16_t v;
    int32_t err = simple_read(si, is_new ? pi_ramp_status_new : pi_ramp_status_old, &v);
    if (!err) *status = v ? 3 : 0;
    return err;
}
int32_t can_read_pi_ramp_amplitude(const sysInfo* si, float* a) {
    return pi_scanner(si) ? simple_read(si, pi_ramp_amplitude, a) : ERR_INVALID_PARAM;
}
int32_t can_read_pi_ramp_velocity(const sysInfo* si, float* v) {
    return pi_scanner(si) ? simple_read(si, pi_ramp_velocity, v) : ERR_INVALID_PARAM;
}
int32_t can_pi_load_ddl_tables(const sysInfo* si, int32_t* loaded) {
    if (!pi_scanner(si)) return ERR_INVALID_PARAM;
    int32_t err = simple_write(si, pi_load_ddl, uint8_t{0});
    if (err) return err;
    platform::sleep_ms(2000);
    u_idle();
    uint16_t n;
    err = simple_read(si, pi_ddl_loaded, &n);
    if (!err) *loaded = n;
    return err;
}

// LED.
int32_t can_write_led_setup(const sysInfo* si, uint8_t v) { return simple_write(si, led_setup, v); }
int32_t can_write_llc(const sysInfo* si, bool invert, uint16_t level) {
    return simple_write(si, llc_w, invert ? static_cast<uint16_t>(~level) : level);
}
int32_t can_read_llc(const sysInfo* si, bool invert, uint16_t* level) {
    uint16_t v;
    int32_t err = simple_read(si, llc_r, &v);
    if (!err) *level = invert ? static_cast<uint16_t>(~v) : v;
    return err;
}
int32_t can_write_llc_avgcurlmt(const sysInfo* si, int32_t limit) {
    return limit < 0 ? ERR_PARAM_OUT_OF_RANGE : checked_write<uint16_t>(si, llc_avgcurlmt, limit);
}
int32_t can_write_llc_fwdvlt(const sysInfo* si, int32_t voltage) {
    return voltage < 0 ? ERR_PARAM_OUT_OF_RANGE : checked_write<uint16_t>(si, llc_fwdvlt, voltage);
}
int32_t can_write_llc_pwmfreq(const sysInfo* si, int32_t frequency) {
    return checked_write<int32_t>(si, llc_pwmfreq, frequency);
}

int32_t can_set_llc_range(const sysInfo* si, int32_t range, int32_t light_source) {
    int32_t limit = 1000, voltage = 4500;
    if (si && (range == 0 || range == 1) && (light_source == 0 || light_source == 1)) {
        limit = si->llc.avgCurLimit[2 * range + light_source];
        voltage = si->llc.fwdVoltage[2 * range + light_source];
    }
    int32_t err = limit ? can_write_llc_avgcurlmt(si, limit) : 0;
    if (!err && voltage) err = can_write_llc_fwdvlt(si, voltage);
    if (err) u_sink("%s failed: %s\n", "can_set_llc_range", error_name(err));
    return err;
}

// Dual brush motor.
int32_t can_read_turret_status(const sysInfo* si, uint8_t* status) {
    const can_state* cs = can_state_of(si);
    if (si && si->boardType == BOARD_CAN && cs && cs->motor.turret_type != TURRET_MOTORIZED &&
        cs->motor.turret_type != TURRET_ENCODED)
        return ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE;
    return simple_read(si, turret_status, status);
}
int32_t can_read_turret(const sysInfo* si, uint8_t* position) {
    const can_state* cs = can_state_of(si);
    if (si && si->boardType == BOARD_CAN && cs && cs->motor.turret_type != TURRET_MOTORIZED &&
        cs->motor.turret_type != TURRET_ENCODED)
        return ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE;
    return simple_read(si, turret, position);
}
int32_t can_read_zoom(const sysInfo* si, int32_t* position) {
    static constexpr int32_t zoom_codes[8] = {0, 6, 5, 4, 3, 2, 1, 7};
    target t;
    int32_t err = resolve(si, zoom, 0, 0, &t);
    if (err) return err;
    const can_state* cs = can_state_of(si);
    if (!cs || cs->motor.zoom_type == ZOOM_NONE) return ERR_ZOOM_NOT_AVAILABLE;
    uint8_t code;
    err = read_value(t, zoom, &code);
    if (err) return err;
    const bool coded = cs->motor.zoom_type == ZOOM_ENCODED && si->canInfo &&
                       static_cast<uint32_t>(si->canInfo->brush_product_id) == CAN_BRMOTOR_PRODUCT_D7;
    int32_t pos;
    if (coded) {
        if (code > 7) {
            *position = 0;
            return ERR_PARAM_OUT_OF_RANGE;
        }
        pos = zoom_codes[code];
    } else {
        pos = code == 15 ? -2 : code;
    }
    *position = pos;
    can_pdo_decoding d = can_get_pdo_decoding();
    if (d.last_zoom_position == 255 && pos >= 0) {
        d.last_zoom_position = static_cast<uint8_t>(pos);
        can_set_pdo_decoding(d);
    }
    return 0;
}
int32_t can_read_all_zoom(const sysInfo* si) {
    target t;
    int32_t err = resolve(si, all_zoom, 0, 0, &t);
    if (err) return err;
    can_config* cfg = si->canInfo;
    if (!cfg) return ERR_INVALID_PARAM;
    const can_state* cs = can_state_of(si);
    if (cs && cs->motor.zoom_type == ZOOM_ENCODED &&
        static_cast<uint32_t>(cfg->brush_product_id) == CAN_BRMOTOR_PRODUCT_D7)
        return ERR_INVALID_PARAM;
    for (int i = 0; i < 6; ++i)
        cfg->zoom_codes[i] = -2;
    uint8_t codes[6];
    err = read_bytes(t, all_zoom, codes);
    if (err) return err;
    const int n = cs ? std::min(cs->motor.zoom_positions, 6) : 6;
    for (int i = 0; i < n; ++i)
        cfg->zoom_codes[i] = codes[i] == 15 ? -2 : codes[i];
    return 0;
}
int32_t can_get_brmtr_config(const sysInfo* si, int32_t* zoom_positions, int32_t* turret_positions) {
    uint16_t v;
    int32_t err = simple_read(si, brmtr_config, &v);
    if (err) return err;
    *zoom_positions = v & 7;
    *turret_positions = (v >> 8) & 7;
    return 0;
}

// PZT ramp nodes.
int32_t can_pztramp_start(const sysInfo* si) { return simple_write(si, pztramp_start, uint8_t{1}); }
int32_t can_read_pztramp_status(const sysInfo* si, uint8_t* s) { return simple_read(si, pztramp_status, s); }
int32_t can_write_pztramp_select(const sysInfo* si, int32_t slot) {
    return checked_write<uint8_t>(si, pztramp_select, slot);
}
int32_t can_read_pztramp_valid(const sysInfo* si, int32_t slot, uint8_t* v) {
    return simple_read(si, pztramp_valid, v, slot);
}
int32_t can_write_pztramp_trigger(const sysInfo* si, int32_t slot, const can_ramp_timing& ramp) {
    target t;
    int32_t err = resolve(si, pztramp_trigger, 0, slot, &t);
    if (err) return err;
    uint16_t n;
    err = frame_number(node_objects[pztramp_trigger].op, ramp, si->sysType == 25, 16383, true, &n);
    return err ? err : write_value(t, pztramp_trigger, n);
}
int32_t can_write_pztramp_rate(const sysInfo* si, int32_t slot, float rate) {
    target t;
    int32_t err = resolve(si, pztramp_rate, 0, slot, &t);
    if (err) return err;
    if (!rate_ok(rate)) return ERR_PARAM_OUT_OF_RANGE;
    return write_value(t, pztramp_rate, static_cast<float>(rate * 1000.0));
}
int32_t can_write_pztramp_data(const sysInfo* si, int32_t slot, const int16_t* points, int32_t count) {
    target t;
    int32_t err = resolve(si, pztramp_data, 0, slot, &t);
    if (err) return err;
    if (!points || !in_range(pztramp_data, count)) return ERR_PARAM_OUT_OF_RANGE;
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * 2);
    for (int32_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(points[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(points[i]) >> 8);
    }
    return write_bytes(t, pztramp_data, bytes.data(), static_cast<uint32_t>(bytes.size()));
}
int32_t can_write_pztramp_gain(const sysInfo* si, int32_t slot, int32_t gain, int32_t value) {
    if (gain < 1 || gain > 3) return ERR_PARAM_OUT_OF_RANGE;
    const obj id = static_cast<obj>(pztramp_gain1 + gain - 1);
    if (value < 0) return ERR_PARAM_OUT_OF_RANGE;
    return checked_write<uint16_t>(si, id, value, slot);
}
int32_t can_read_pztramp_errchk(const sysInfo* si, uint8_t* errchk) {
    uint32_t v;
    int32_t err = simple_read(si, pztramp_errchk, &v);
    if (!err) *errchk = static_cast<uint8_t>(v >> 24);
    return err;
}

// Identity.
int32_t can_read_productID(const sysInfo* si, uint8_t node, uint32_t* product) {
    return simple_read(si, productID, product, 0, node);
}
int32_t can_read_version(const sysInfo* si, uint8_t node, int32_t* major, int32_t* minor) {
    uint32_t v;
    int32_t err = simple_read(si, version, &v, 0, node);
    if (err) return err;
    *major = static_cast<int32_t>(v >> 16);
    *minor = static_cast<int32_t>(v & 0xFFFF);
    return 0;
}

// Encoded zoom.
int32_t tarn_enc_zoom_set_soft_limits(const sysInfo* si, int32_t low, int32_t high) {
    int32_t err = simple_write(si, enc_zoom_soft_low, low);
    return err ? err : simple_write(si, enc_zoom_soft_high, high);
}
int32_t tarn_enc_zoom_set_motion_mode(const sysInfo* si) {
    int32_t err = simple_write(si, enc_zoom_motion_mode, uint8_t{3});
    if (err) return err;
    const int32_t low = si->encZoom ? si->encZoom->progLim[0] : 0;
    const int32_t high = si->encZoom ? si->encZoom->progLim[1] : 0;
    return tarn_enc_zoom_set_soft_limits(si, low, high);
}

int32_t tarn_enc_zoom_write_backlash(const sysInfo* si, int32_t backlash) {
    target t;
    int32_t err = resolve(si, enc_zoom_backlash, 0, 0, &t);
    return err ? err : write_value(t, enc_zoom_backlash, backlash, "tarn_enc_zoom_set_backlash");
}

// Distance measuring interferometer.
int32_t can_dmi_read_pos(int32_t axis, int32_t* position) {
    return simple_read(nullptr, axis == 1 ? dmi_pos1 : dmi_pos2, position);
}
int32_t can_dmi_preset_pos(int32_t axis, int32_t position) {
    return simple_write(nullptr, axis == 1 ? dmi_preset1 : dmi_preset2, position);
}
int32_t can_dmi_read_all_status(uint32_t* status) { return simple_read(nullptr, dmi_all_status, status); }
int32_t can_dmi_read_status_flag(bool* flag) {
    uint32_t s;
    int32_t err = can_dmi_read_all_status(&s);
    if (!err) *flag = (s >> 22) & 1;
    return err;
}
int32_t can_dmi_reset() {
    int32_t err = simple_write(nullptr, dmi_reset, uint16_t{0x8000});
    if (err) return err;
    for (int i = 0; i < 10; ++i) {
        wait_ms(50);
        uint8_t ready;
        err = simple_read(nullptr, dmi_ready, &ready);
        if (err) return err;
        if (!(ready & 1)) return 0;
    }
    char now[41];
    u_time_text(now);
    u_sink("%s %s: not ready after %d iterations\n", now, "can_dmi_reset", 11);
    return ERR_HW_FAIL;
}
int32_t can_dmi_reset_home_required() {
    target t;
    int32_t err = resolve(nullptr, dmi_reset, 0, 0, &t);
    return err ? err : write_value(t, dmi_reset, uint16_t{64}, "can_dmi_reset_home_required");
}
int32_t can_dmi_read_capture_buffer_count(uint32_t* count) { return simple_read(nullptr, dmi_capture_count, count); }
int32_t can_dmi_read_capture_buffer_array(uint32_t count, int32_t* entries) {
    target t;
    int32_t err = resolve(nullptr, dmi_capture_array, 0, 0, &t);
    if (err) return err;
    if (!entries || count == 0 || count > node_objects[dmi_capture_array].width / 4) return ERR_PARAM_OUT_OF_RANGE;
    std::vector<uint8_t> bytes(count * 4);
    err = read_bytes(t, dmi_capture_array, bytes.data(), count * 4);
    if (err) return err;
    for (uint32_t i = 0; i < count; ++i)
        entries[i] = static_cast<int32_t>((uint32_t{bytes[4 * i]} << 24) | (uint32_t{bytes[4 * i + 1]} << 16) |
                                          (uint32_t{bytes[4 * i + 2]} << 8) | bytes[4 * i + 3]);
    return 0;
}

}  // namespace mf
