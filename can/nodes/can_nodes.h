// The node operations: one function per object of the instrument's CAN nodes that the
// library reads or writes, and the short procedures built on them. Each guards the
// board (and node), checks its arguments before touching the bus, makes one SDO access
// and returns 0 or an error code; read operations fill their out-parameters only on
// success (can_read_zoom excepted, see there). Called from the instrument's control
// thread; the ND wheel level operations also from the light-level control thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "calfile/sysinfo.h"

namespace mf {

// Set by the light-level control thread while it exists: its own ND wheel level
// writes do not count as use of the instrument.
extern std::atomic<bool> can_agc_thread_exists;

// Generic motor-driver operations on any motor node. Not a CAN board:
// ERR_INVALID_PARAM; a refused transfer: ERR_CAN_SDO_DMD_ERROR.
int32_t can_read_dmd_motor1_control(const sysInfo* si, uint8_t node, uint8_t* value);
int32_t can_write_dmd_motor1_control(const sysInfo* si, uint8_t node, uint8_t value);
// Mode 0..4, else "invalid mode" and ERR_INVALID_PARAM.
int32_t can_write_dmd_motor1_mode(const sysInfo* si, uint8_t node, int32_t mode);
// 10..10000 (NaN refused), else ERR_INVALID_PARAM; written as a float.
int32_t can_write_dmd_motor1_targetVel(const sysInfo* si, uint8_t node, double velocity);
int32_t can_write_dmd_motor2_control(const sysInfo* si, uint8_t node, uint8_t value);
int32_t can_read_dmd_motor2_status(const sysInfo* si, uint8_t node, uint8_t* status);
// With invert the node's value (or the one written) is bitwise inverted.
int32_t can_read_dmd_motor2_llcLevel(const sysInfo* si, uint8_t node, bool invert, uint16_t* level);
int32_t can_write_dmd_motor2_llcLevel(const sysInfo* si, uint8_t node, bool invert, uint16_t level);
int32_t can_read_dmd_motor2_maxCurrent(const sysInfo* si, uint8_t node, int16_t* current);
// Reads the maximum current first; a failed read ends the operation.
int32_t can_write_dmd_motor2_current(const sysInfo* si, uint8_t node, int16_t current);
int32_t can_read_dmd_motor2_position(const sysInfo* si, uint8_t node, uint8_t* position);
int32_t can_read_dmd_keypress_mode(const sysInfo* si, uint8_t node, uint8_t* mode);
int32_t can_write_dmd_keypress_mode(const sysInfo* si, uint8_t node, uint8_t mode);

// Ring/spot and diffuser disk node (68): node guard, then ERR_CAN_SDO_ROF_ERROR.
int32_t can_read_rs_dd_control(const sysInfo* si, uint8_t* value);
int32_t can_write_rs_dd_control(const sysInfo* si, uint8_t value);
int32_t can_write_rs_dd_mode(const sysInfo* si, int32_t mode);
int32_t can_read_rs_status(const sysInfo* si, uint8_t* status);
int32_t can_write_rs_current(const sysInfo* si, int16_t current);
int32_t can_read_rs_maxCurrent(const sysInfo* si, int16_t* current);
int32_t can_read_rs_position(const sysInfo* si, uint8_t* position);
int32_t can_read_rs_keypress_mode(const sysInfo* si, uint8_t* mode);
int32_t can_write_rs_keypress_mode(const sysInfo* si, uint8_t mode);

// Zoom and diffuser disk node (70): ERR_CAN_SDO_ZOOM_ERROR.
int32_t can_read_zoom_dd_control(const sysInfo* si, uint8_t* value);
int32_t can_write_zoom_dd_control(const sysInfo* si, uint8_t value);
int32_t can_write_zoom_dd_mode(const sysInfo* si, int32_t mode);
// Remembers the velocity after a successful write (can_zoom_dd_targetVel).
int32_t can_write_zoom_dd_targetVel(const sysInfo* si, double velocity);
double can_zoom_dd_targetVel();
int32_t can_read_zoom_keypress_mode(const sysInfo* si, uint8_t* mode);
int32_t can_write_zoom_keypress_mode(const sysInfo* si, uint8_t mode);

// Focus and ND wheel node (64): ERR_CAN_SDO_NDW_ERROR (keypress: ERR_CAN_SDO_FZM_ERROR).
int32_t can_read_ndw_llcLevel(const sysInfo* si, bool invert, uint16_t* level);
// Runs can_process_events, resets "CAN_NDWHEEL_STOPPED", writes, and sets the event
// again when the write fails.
int32_t can_write_ndw_llcLevel(const sysInfo* si, bool invert, uint16_t level);
int32_t can_write_ndw_control(const sysInfo* si, uint8_t value);
int32_t can_read_ndw_status(const sysInfo* si, uint8_t* status);
int32_t can_read_focus_keypress_mode(const sysInfo* si, uint8_t* mode);
int32_t can_write_focus_keypress_mode(const sysInfo* si, uint8_t mode);
// Homes the ND wheel: by status reads when poll is set, else by the ND wheel PDOs
// through can_process_events; limit_ms bounds each of the two phases.
// ERR_CAN_NODE_NOT_AVAIL, ERR_CAN_NDW_HOME_ERROR or an SDO error.
int32_t can_home_ndw(const sysInfo* si, bool poll, int32_t limit_ms);

// Auxiliary motor node (66): position and status reads ERR_CAN_SDO_AUX_MOTOR_ERROR,
// the current write ERR_CAN_AUX_MOTOR_ERROR.
int32_t can_read_aux_position(const sysInfo* si, uint8_t* position);
int32_t can_read_aux_status(const sysInfo* si, uint8_t* status);
int32_t can_write_aux_current(const sysInfo* si, int16_t current);
// Starts the auxiliary motor (system type 26): +500 for direction 1, else -500, then
// up to 21 status reads 250 ms apart until it stops; ERR_AV_TIMEOUT.
int32_t can_aux_motor_start(const sysInfo* si, int32_t direction);

// Moves the ring/spot to target 0 or 1, waiting for the move when asked. The keypress
// mode's bit 0x02 is cleared for the move and restored on every path (first error
// kept). ERR_INVALID_PARAM, ERR_RS_TIMEOUT or the first SDO error.
int32_t can_rs_move(const sysInfo* si, int32_t target, bool wait);

// The ramp fields the trigger conversion uses: trigger x frame rate / (rate x 1000).
struct can_ramp_timing {
    int32_t trigger;
    float frame_rate;
    float ramp_rate;
};

// Ramp generator and bridge (node 127): ERR_WRONG_INSTR_BOARD when not CAN,
// ERR_CAN_SDO_RAMP_ERROR (bridge objects ERR_CAN_SDO_BRIDGE_ERROR) when refused.
int32_t can_ramp_start(const sysInfo* si);
int32_t can_read_ramp_status(const sysInfo* si, uint8_t* status);
int32_t can_write_ramp_select(const sysInfo* si, int32_t slot);
int32_t can_read_ramp_valid(const sysInfo* si, int32_t slot, uint8_t* valid);
// Frame number below 256, else a message and ERR_PARAM_OUT_OF_RANGE.
int32_t can_write_ramp_trigger(const sysInfo* si, int32_t slot, const can_ramp_timing& ramp);
// Rate above 0 up to 200, written as rate x 1000.
int32_t can_write_ramp_rate(const sysInfo* si, int32_t slot, float rate);
// The whole 32768-byte ramp table.
int32_t can_write_ramp_data(const sysInfo* si, int32_t slot, const uint8_t* table);
// Offset at most 0xFFFF; with wait, polls the ramp status up to 20 times, 100 ms apart,
// until it is 0 (ERR_RAMP_WAIT_TIMEOUT). Nothing is written with a PI digital scanner.
int32_t can_write_pifoc_offset(const sysInfo* si, int32_t offset, bool wait);
// The time of the last offset write (platform clock, ms).
int64_t can_pifoc_offset_time();
int32_t can_read_bridge_status(const sysInfo* si, uint8_t* status);
int32_t can_bridge_read_config(const sysInfo* si, uint16_t* config);
int32_t can_bridge_write_config(const sysInfo* si, uint16_t config);
// 2 bytes on bridge firmware newer than 1.11, else the low byte.
int32_t can_write_fg_trigger(const sysInfo* si, uint16_t value);
int32_t can_write_syncgen(const sysInfo* si, float frequency);
int32_t can_bridge_write_digitalout(const sysInfo* si, uint8_t value);
int32_t can_set_align_illumination_diode(const sysInfo* si, bool on);
// PI digital scanner objects (ERR_INVALID_PARAM without one).
int32_t can_pi_ramp_start(const sysInfo* si);
int32_t can_write_pi_ramp_select(const sysInfo* si, int32_t ramp);
int32_t can_read_pi_ramp_status(const sysInfo* si, int32_t* status);
int32_t can_read_pi_ramp_amplitude(const sysInfo* si, float* amplitude);
int32_t can_read_pi_ramp_velocity(const sysInfo* si, float* velocity);
int32_t can_pi_load_ddl_tables(const sysInfo* si, int32_t* loaded);

// LED light-level control (node 61): ERR_CAN_SDO_LED_ERROR.
int32_t can_write_led_setup(const sysInfo* si, uint8_t value);
int32_t can_write_llc(const sysInfo* si, bool invert, uint16_t level);
int32_t can_read_llc(const sysInfo* si, bool invert, uint16_t* level);
int32_t can_write_llc_avgcurlmt(const sysInfo* si, int32_t limit);
int32_t can_write_llc_fwdvlt(const sysInfo* si, int32_t voltage);
int32_t can_write_llc_pwmfreq(const sysInfo* si, int32_t frequency);

// Sets the LED's current limit and forward voltage for light-level range 0 or 1 from
// the calibration's AvgCurLimit and FwdVoltage pairs (first or second pair, the value
// of light source 0 or 1 within it); any other range writes 1000 and 4500. Zero values
// are not written. Failure prints "can_set_llc_range failed: <name>".
int32_t can_set_llc_range(const sysInfo* si, int32_t range, int32_t light_source);

// Dual brush motor (node 63): ERR_CAN_SDO_BRMOTOR_ERROR.
int32_t can_read_turret_status(const sysInfo* si, uint8_t* status);
int32_t can_read_turret(const sysInfo* si, uint8_t* position);
// The decoded zoom position; a code above 7 sets 0 and gives ERR_PARAM_OUT_OF_RANGE.
int32_t can_read_zoom(const sysInfo* si, int32_t* position);
// Fills the configuration record's zoom codes (15 stored as -2).
int32_t can_read_all_zoom(const sysInfo* si);
int32_t can_get_brmtr_config(const sysInfo* si, int32_t* zoom_positions, int32_t* turret_positions);

// PZT ramp nodes (62 or 52 by rampMux).
int32_t can_pztramp_start(const sysInfo* si);
int32_t can_read_pztramp_status(const sysInfo* si, uint8_t* status);
int32_t can_write_pztramp_select(const sysInfo* si, int32_t slot);
int32_t can_read_pztramp_valid(const sysInfo* si, int32_t slot, uint8_t* valid);
// Frame number below 16384 (system type 25: 2n + 1 is the number checked and written).
int32_t can_write_pztramp_trigger(const sysInfo* si, int32_t slot, const can_ramp_timing& ramp);
// Written as rate x 1000; any finite rate above 0.
int32_t can_write_pztramp_rate(const sysInfo* si, int32_t slot, float rate);
// 1..16384 points of 2 bytes.
int32_t can_write_pztramp_data(const sysInfo* si, int32_t slot, const int16_t* points, int32_t count);
// Gain 1, 2 or 3; value at most 0x3FFF.
int32_t can_write_pztramp_gain(const sysInfo* si, int32_t slot, int32_t gain, int32_t value);
// The fourth byte of the node's status word.
int32_t can_read_pztramp_errchk(const sysInfo* si, uint8_t* errchk);

// Identity of any node: ERR_CAN_ERROR when refused.
int32_t can_read_productID(const sysInfo* si, uint8_t node, uint32_t* product);
int32_t can_read_version(const sysInfo* si, uint8_t node, int32_t* major, int32_t* minor);

// Encoded zoom on the focus node (64): ERR_CAN_SDO_ENC_ZOOM_ERROR.
int32_t tarn_enc_zoom_set_soft_limits(const sysInfo* si, int32_t low, int32_t high);
int32_t tarn_enc_zoom_set_motion_mode(const sysInfo* si);
// Writes the backlash object alone.
int32_t tarn_enc_zoom_write_backlash(const sysInfo* si, int32_t backlash);
// Firmware 4.3 or later; motion mode, limits, backlash, then the calibration file.
int32_t tarn_enc_zoom_set_backlash(const sysInfo* si);

// Distance measuring interferometer (node 48): ERR_CAN_SDO_DMI_ERROR, no board guard.
int32_t can_dmi_read_pos(int32_t axis, int32_t* position);
int32_t can_dmi_preset_pos(int32_t axis, int32_t position);
int32_t can_dmi_read_all_status(uint32_t* status);
// The same, handing out bit 22 as a flag.
int32_t can_dmi_read_status_flag(bool* flag);
// Writes 0x8000, then polls the ready flags up to 10 times 50 ms apart: ERR_HW_FAIL.
int32_t can_dmi_reset();
int32_t can_dmi_reset_home_required();
int32_t can_dmi_read_capture_buffer_count(uint32_t* count);
// count entries (the node stores them big-endian) into entries.
int32_t can_dmi_read_capture_buffer_array(uint32_t count, int32_t* entries);

}  // namespace mf

namespace mf {

// The ramp set and its slots belong to the ramp-slot code above this layer; it
// installs these hooks so that can_start_ramp can reach its entries.
struct can_ramp_hooks {
    // The entry's instrument slot and whether it was ever started: 0,
    // ERR_NO_RAMP_INFO (no ramp set) or ERR_INVALID_RAMP_INDEX.
    int32_t (*lookup)(const sysInfo* si, int32_t index, int32_t* slot, bool* started_before);
    // Hands the entry to a PI digital scanner (a ramp never started before).
    int32_t (*hand_to_scanner)(const sysInfo* si, int32_t index);
    // Stores the start time (platform clock, ms) in the entry.
    void (*mark_started)(const sysInfo* si, int32_t index, int64_t when_ms);
};
// Installs the hooks (null: none; can_start_ramp then gives ERR_NO_RAMP_INFO). Set
// once at start-up, before any ramp is started.
void can_set_ramp_hooks(const can_ramp_hooks* hooks);

// Starts the ramp of entry `index` on the PZT ramp node when one is configured, else
// on the ramp generator: selects its slot, checks it is valid (ERR_INVALID_RAMP_INDEX)
// and idle (ERR_RAMP_BUSY), starts it and stores the start time.
int32_t can_start_ramp(const sysInfo* si, int32_t index);

}  // namespace mf
