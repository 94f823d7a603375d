// Every object of the instrument's nodes that the node operations read or write,
// described once: which node, index and subindex, width, direction, the code a
// refused transfer returns, the board guard and the accepted range. The named
// operations in can_nodes.h are thin layers over this table and the typed helpers
// of node_access.h; a reviewer compares this table with the nodes' documentation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "can/can_bus.h"
#include "common/error_codes.h"

namespace mf::can_nodes {

// How the node of a row is chosen.
enum class node_sel : uint8_t {
    fixed,  // the row's node
    motor,  // any motor-driver node, named by the caller (generic motor-driver operations)
    pzt,    // the PZT ramp node picked by rampMux, with its own abort code
    any,    // any node, named by the caller (identity)
};

enum class access : uint8_t { read, write };

// The object's index is index + slot (0..3) for rows that are per ramp slot.
inline constexpr uint16_t per_slot = 0x8000;

inline constexpr double no_limit = std::numeric_limits<double>::infinity();

struct node_object {
    uint16_t id;     // its obj, checked against its place
    const char* op;  // the operation's name, as messages print it
    node_sel sel;
    uint8_t node;  // fixed rows only
    uint16_t index;
    uint8_t subindex;
    uint32_t width;  // bytes; for ramp tables, PZT data and capture buffers the most
    bool variable;   // a transfer of 1..width bytes
    access dir;
    int32_t abort_err;  // returned when the node refuses (pzt rows: chosen by rampMux)
    int32_t board_err;  // returned when the instrument is not on the CAN board; 0: no guard
    double lo, hi;      // accepted values (before conversion), both ends included
};

// The object ids, in table order.
enum obj : uint16_t {
    // Generic motor-driver objects (any motor node).
    dmd_motor1_control_r,
    dmd_motor1_control_w,
    dmd_motor1_mode,
    dmd_motor1_targetVel,
    dmd_motor2_control,
    dmd_motor2_status,
    dmd_motor2_llcLevel_r,
    dmd_motor2_llcLevel_w,
    dmd_motor2_maxCurrent,
    dmd_motor2_current,
    dmd_motor2_position,
    dmd_keypress_mode_r,
    dmd_keypress_mode_w,
    // Ramp generator and bridge (node 127).
    ramp_start,
    ramp_status,
    ramp_select,
    ramp_valid,
    ramp_trigger,
    ramp_rate,
    ramp_data,
    pifoc_offset,
    bridge_status,
    bridge_config_r,
    bridge_config_w,
    fg_trigger,
    syncgen,
    bridge_digitalout_r,
    bridge_digitalout_w,
    align_diode_enable,
    align_diode,
    pi_ramp_start,
    pi_ramp_select,
    pi_ramp_status_new,
    pi_ramp_status_old,
    pi_ramp_amplitude,
    pi_ramp_velocity,
    pi_load_ddl,
    pi_ddl_loaded,
    // LED light-level control (node 61).
    led_setup,
    llc_w,
    llc_r,
    llc_avgcurlmt,
    llc_fwdvlt,
    llc_pwmfreq,
    // Dual brush motor (node 63).
    turret_status,
    turret,
    zoom,
    all_zoom,
    brmtr_config,
    // PZT ramp nodes (62 or 52 by rampMux).
    pztramp_start,
    pztramp_status,
    pztramp_select,
    pztramp_valid,
    pztramp_trigger,
    pztramp_rate,
    pztramp_data,
    pztramp_gain1,
    pztramp_gain2,
    pztramp_gain3,
    pztramp_errchk,
    // Identity (any node).
    productID,
    version,
    // Encoded zoom on the focus node (64).
    enc_zoom_soft_low,
    enc_zoom_soft_high,
    enc_zoom_motion_mode,
    enc_zoom_backlash,
    // Distance measuring interferometer (node 48).
    dmi_pos1,
    dmi_pos2,
    dmi_preset1,
    dmi_preset2,
    dmi_all_status,
    dmi_reset,
    dmi_ready,
    dmi_capture_count,
    dmi_capture_array,
    obj_count
};

namespace detail {
using enum node_sel;
using enum access;
inline constexpr double any_lo = -no_limit, any_hi = no_limit;
inline constexpr int32_t BOARD = ERR_WRONG_INSTR_BOARD;
inline constexpr uint8_t RG = CAN_NODE_ID_RAMP, LED = CAN_NODE_ID_LED, BRM = CAN_NODE_ID_BRUSHMOTOR,
                         FNDW = CAN_NODE_ID_FOCUS_NDW, DMI = CAN_NODE_ID_DMI;
}  // namespace detail

// clang-format off
inline constexpr node_object node_objects[obj_count] = {
    // id, op                              sel    node  index            sub width  var    dir    abort                       board              lo      hi
    {dmd_motor1_control_r, "can_read_dmd_motor1_control",      detail::motor, 0, 0x2000,          0,  1,    false, detail::read,  ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor1_control_w, "can_write_dmd_motor1_control",     detail::motor, 0, 0x2000,          0,  1,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor1_mode, "can_write_dmd_motor1_mode",        detail::motor, 0, 0x2002,          0,  1,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, 0, 4},
    {dmd_motor1_targetVel, "can_write_dmd_motor1_targetVel",   detail::motor, 0, 0x2004,          0,  4,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, 10, 10000},
    {dmd_motor2_control, "can_write_dmd_motor2_control",     detail::motor, 0, 0x2020,          0,  1,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor2_status, "can_read_dmd_motor2_status",       detail::motor, 0, 0x2021,          0,  1,    false, detail::read,  ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor2_llcLevel_r, "can_read_dmd_motor2_llcLevel",     detail::motor, 0, 0x2028,          0,  2,    false, detail::read,  ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor2_llcLevel_w, "can_write_dmd_motor2_llcLevel",    detail::motor, 0, 0x2028,          0,  2,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor2_maxCurrent, "can_read_dmd_motor2_maxCurrent",   detail::motor, 0, 0x2036,          0,  2,    false, detail::read,  ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor2_current, "can_write_dmd_motor2_current",     detail::motor, 0, 0x2034,          0,  2,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_motor2_position, "can_read_dmd_motor2_position",     detail::motor, 0, 0x2047,          0,  1,    false, detail::read,  ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_keypress_mode_r, "can_read_dmd_keypress_mode",       detail::motor, 0, 0x2044,          8,  1,    false, detail::read,  ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},
    {dmd_keypress_mode_w, "can_write_dmd_keypress_mode",      detail::motor, 0, 0x2044,          8,  1,    false, detail::write, ERR_CAN_SDO_DMD_ERROR,  ERR_INVALID_PARAM, detail::any_lo, detail::any_hi},

    {ramp_start, "can_ramp_start",                   detail::fixed, detail::RG, 0x2000, 0,  1,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {ramp_status, "can_read_ramp_status",             detail::fixed, detail::RG, 0x2000, 0,  1,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {ramp_select, "can_write_ramp_select",            detail::fixed, detail::RG, 0x2001, 0,  1,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, 0, 3},
    {ramp_valid, "can_read_ramp_valid",              detail::fixed, detail::RG, 0x2003 | per_slot, 1, 1, false, detail::read, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {ramp_trigger, "can_write_ramp_trigger",           detail::fixed, detail::RG, 0x2003 | per_slot, 2, 2, false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, 0, 255},
    {ramp_rate, "can_write_ramp_rate",              detail::fixed, detail::RG, 0x2003 | per_slot, 4, 4, false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, 0, 200},
    {ramp_data, "can_write_ramp_data",              detail::fixed, detail::RG, 0x2003 | per_slot, 5, 32768, false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pifoc_offset, "can_write_pifoc_offset",           detail::fixed, detail::RG, 0x2009, 1,  2,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, 0xFFFF},
    {bridge_status, "can_read_bridge_status",           detail::fixed, detail::RG, 0x2010, 1,  1,    false, detail::read,  ERR_CAN_SDO_BRIDGE_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {bridge_config_r, "can_bridge_read_config",           detail::fixed, detail::RG, 0x2010, 2,  2,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {bridge_config_w, "can_bridge_write_config",          detail::fixed, detail::RG, 0x2010, 2,  2,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {fg_trigger, "can_write_fg_trigger",             detail::fixed, detail::RG, 0x2010, 5,  2,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {syncgen, "can_write_syncgen",                detail::fixed, detail::RG, 0x2030, 0,  4,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, 0, 100000},
    {bridge_digitalout_r, "can_set_align_illumination_diode", detail::fixed, detail::RG, 0x6200, 1,  1,    false, detail::read,  ERR_CAN_SDO_BRIDGE_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {bridge_digitalout_w, "can_bridge_write_digitalout",      detail::fixed, detail::RG, 0x6200, 1,  1,    false, detail::write, ERR_CAN_SDO_BRIDGE_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {align_diode_enable, "can_set_align_illumination_diode", detail::fixed, detail::RG, 0x6240, 1,  1,    false, detail::write, ERR_CAN_SDO_BRIDGE_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {align_diode, "can_set_align_illumination_diode", detail::fixed, detail::RG, 0x6220, 1,  1,    false, detail::write, ERR_CAN_SDO_BRIDGE_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_ramp_start, "can_pi_ramp_start",                detail::fixed, detail::RG, 0x2041, 6,  1,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_ramp_select, "can_write_pi_ramp_select",         detail::fixed, detail::RG, 0x2041, 1,  1,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, 1, 100},
    {pi_ramp_status_new, "can_read_pi_ramp_status",          detail::fixed, detail::RG, 0x2040, 0,  2,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_ramp_status_old, "can_read_pi_ramp_status",          detail::fixed, detail::RG, 0x2041, 11, 2,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_ramp_amplitude, "can_read_pi_ramp_amplitude",       detail::fixed, detail::RG, 0x2041, 2,  4,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_ramp_velocity, "can_read_pi_ramp_velocity",        detail::fixed, detail::RG, 0x2041, 3,  4,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_load_ddl, "can_pi_load_ddl_tables",           detail::fixed, detail::RG, 0x2041, 19, 1,    false, detail::write, ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pi_ddl_loaded, "can_pi_load_ddl_tables",           detail::fixed, detail::RG, 0x2041, 20, 2,    false, detail::read,  ERR_CAN_SDO_RAMP_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},

    {led_setup, "can_write_led_setup",              detail::fixed, detail::LED, 0x2000, 0, 1,    false, detail::write, ERR_CAN_SDO_LED_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {llc_w, "can_write_llc",                    detail::fixed, detail::LED, 0x2001, 0, 2,    false, detail::write, ERR_CAN_SDO_LED_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {llc_r, "can_read_llc",                     detail::fixed, detail::LED, 0x2001, 0, 2,    false, detail::read,  ERR_CAN_SDO_LED_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {llc_avgcurlmt, "can_write_llc_avgcurlmt",          detail::fixed, detail::LED, 0x2002, 0, 2,    false, detail::write, ERR_CAN_SDO_LED_ERROR, detail::BOARD, detail::any_lo, 1000},
    {llc_fwdvlt, "can_write_llc_fwdvlt",             detail::fixed, detail::LED, 0x2004, 0, 2,    false, detail::write, ERR_CAN_SDO_LED_ERROR, detail::BOARD, detail::any_lo, 10000},
    {llc_pwmfreq, "can_write_llc_pwmfreq",            detail::fixed, detail::LED, 0x2006, 0, 4,    false, detail::write, ERR_CAN_SDO_LED_ERROR, detail::BOARD, detail::any_lo, 1000000},

    {turret_status, "can_read_turret_status",           detail::fixed, detail::BRM, 0x2001, 0, 1,    false, detail::read,  ERR_CAN_SDO_BRMOTOR_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {turret, "can_read_turret",                  detail::fixed, detail::BRM, 0x2002, 0, 1,    false, detail::read,  ERR_CAN_SDO_BRMOTOR_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {zoom, "can_read_zoom",                    detail::fixed, detail::BRM, 0x2012, 0, 1,    false, detail::read,  ERR_CAN_SDO_BRMOTOR_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {all_zoom, "can_read_all_zoom",                detail::fixed, detail::BRM, 0x2015, 0, 6,    false, detail::read,  ERR_CAN_SDO_BRMOTOR_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {brmtr_config, "can_get_brmtr_config",             detail::fixed, detail::BRM, 0x2020, 1, 2,    false, detail::read,  ERR_CAN_SDO_BRMOTOR_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},

    {pztramp_start, "can_pztramp_start",                detail::pzt, 0, 0x2000, 0, 1,                false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pztramp_status, "can_read_pztramp_status",          detail::pzt, 0, 0x2000, 0, 1,                false, detail::read,  ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pztramp_select, "can_write_pztramp_select",         detail::pzt, 0, 0x2001, 0, 1,                false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, 0, 3},
    {pztramp_valid, "can_read_pztramp_valid",           detail::pzt, 0, 0x2003 | per_slot, 1, 1,     false, detail::read,  ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pztramp_trigger, "can_write_pztramp_trigger",        detail::pzt, 0, 0x2003 | per_slot, 2, 2,     false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, 0, 16383},
    {pztramp_rate, "can_write_pztramp_rate",           detail::pzt, 0, 0x2003 | per_slot, 4, 4,     false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {pztramp_data, "can_write_pztramp_data",           detail::pzt, 0, 0x2003 | per_slot, 5, 32768, true,  detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, 1, 16384},
    {pztramp_gain1, "can_write_pztramp_gain",           detail::pzt, 0, 0x2003 | per_slot, 6, 2,     false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, 0x3FFF},
    {pztramp_gain2, "can_write_pztramp_gain",           detail::pzt, 0, 0x2003 | per_slot, 7, 2,     false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, 0x3FFF},
    {pztramp_gain3, "can_write_pztramp_gain",           detail::pzt, 0, 0x2003 | per_slot, 8, 2,     false, detail::write, ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, 0x3FFF},
    {pztramp_errchk, "can_read_pztramp_errchk",          detail::pzt, 0, 0x1002, 0, 4,                false, detail::read,  ERR_CAN_SDO_PZT_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},

    {productID, "can_read_productID",               detail::any, 0, 0x1018, 2, 4,                false, detail::read,  ERR_CAN_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {version, "can_read_version",                 detail::any, 0, 0x1018, 3, 4,                false, detail::read,  ERR_CAN_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},

    {enc_zoom_soft_low, "tarn_enc_zoom_set_soft_limits",    detail::fixed, detail::FNDW, 0x607D, 1, 4,  false, detail::write, ERR_CAN_SDO_ENC_ZOOM_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {enc_zoom_soft_high, "tarn_enc_zoom_set_soft_limits",    detail::fixed, detail::FNDW, 0x607D, 2, 4,  false, detail::write, ERR_CAN_SDO_ENC_ZOOM_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {enc_zoom_motion_mode, "tarn_enc_zoom_set_motion_mode",    detail::fixed, detail::FNDW, 0x2002, 0, 1,  false, detail::write, ERR_CAN_SDO_ENC_ZOOM_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},
    {enc_zoom_backlash, "tarn_enc_zoom_set_backlash",       detail::fixed, detail::FNDW, 0x2019, 0, 4,  false, detail::write, ERR_CAN_SDO_ENC_ZOOM_ERROR, detail::BOARD, detail::any_lo, detail::any_hi},

    {dmi_pos1, "can_dmi_read_pos",                 detail::fixed, detail::DMI, 0x6020, 1, 4,   false, detail::read,  ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_pos2, "can_dmi_read_pos",                 detail::fixed, detail::DMI, 0x6020, 2, 4,   false, detail::read,  ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_preset1, "can_dmi_preset_pos",               detail::fixed, detail::DMI, 0x6010, 1, 4,   false, detail::write, ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_preset2, "can_dmi_preset_pos",               detail::fixed, detail::DMI, 0x6010, 2, 4,   false, detail::write, ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_all_status, "can_dmi_read_all_status",          detail::fixed, detail::DMI, 0x1002, 0, 4,   false, detail::read,  ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_reset, "can_dmi_reset",                    detail::fixed, detail::DMI, 0x2100, 0, 2,   false, detail::write, ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_ready, "can_dmi_reset",                    detail::fixed, detail::DMI, 0x2000, 0, 1,   false, detail::read,  ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_capture_count, "can_dmi_read_capture_buffer_count", detail::fixed, detail::DMI, 0x2002, 3, 4,  false, detail::read,  ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
    {dmi_capture_array, "can_dmi_read_capture_buffer_array", detail::fixed, detail::DMI, 0x2002, 4, 32768, true, detail::read, ERR_CAN_SDO_DMI_ERROR, 0, detail::any_lo, detail::any_hi},
};
// clang-format on

// The node operations over the generic motor-driver objects: the node they name and
// the code that replaces ERR_CAN_SDO_DMD_ERROR.
struct motor_node {
    const char* family;
    uint8_t node;
    int32_t abort_err;
};
enum motor_family : uint8_t { mf_rs, mf_zoom, mf_ndw, mf_focus, mf_aux, mf_aux_current, motor_family_count };
inline constexpr motor_node motor_nodes[motor_family_count] = {
    {"rs", CAN_NODE_ID_DD_RS, ERR_CAN_SDO_ROF_ERROR},
    {"zoom", CAN_NODE_ID_DD_ZOOM, ERR_CAN_SDO_ZOOM_ERROR},
    {"ndw", CAN_NODE_ID_FOCUS_NDW, ERR_CAN_SDO_NDW_ERROR},
    {"focus", CAN_NODE_ID_FOCUS_NDW, ERR_CAN_SDO_FZM_ERROR},
    {"aux", CAN_NODE_ID_AUX_MOTOR, ERR_CAN_SDO_AUX_MOTOR_ERROR},
    {"aux current", CAN_NODE_ID_AUX_MOTOR, ERR_CAN_AUX_MOTOR_ERROR},
};

// Checks the table once, at compile time: the generic rows use the generic code,
// fixed rows name a node, every width fits the largest transfer, ranges are ordered.
constexpr bool table_is_sound() {
    for (std::size_t i = 0; i < obj_count; ++i) {
        const node_object& o = node_objects[i];
        if (o.id != i) return false;
        if (o.op == nullptr || o.width == 0 || o.width > 32768) return false;
        if ((o.sel == node_sel::fixed) != (o.node != 0)) return false;
        if (o.sel == node_sel::motor && (o.abort_err != ERR_CAN_SDO_DMD_ERROR || o.board_err != ERR_INVALID_PARAM))
            return false;
        if (!(o.lo <= o.hi)) return false;
        if (!o.variable && o.width > 8 && o.width != 32768) return false;
    }
    return true;
}
static_assert(table_is_sound());
static_assert(sizeof(node_objects) / sizeof(node_objects[0]) == obj_count);

}  // namespace mf::can_nodes
