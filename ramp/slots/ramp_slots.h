// Instrument ramp slots: the instrument board (or, on a CAN instrument, the ramp
// node) holds a few ramps in numbered slots. This module gives entries of the ramp
// set their identifiers, loads them into slots (evicting the ramp loaded earliest
// when all are taken), starts them by slot or by entry, waits for them to end, sets
// their gain and adjusts their slope, and finds the entry that fits an acquisition.
//
// The serial boards get the ramp commands of their family through the board
// protocol; the CAN instruments get the node operations. What lies outside this
// module (the Cairn board's ramp load, start and status, the wave-monitor gain, the
// piezo gain commands of the serial boards) are host steps (rr_slot_host_steps).
//
// One caller at a time per system slot, as for the ramp set itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "calfile/sysinfo.h"
#include "ramp/ramp_set.h"

namespace mf {

// Installs this module into the layers below it: the ramp set's instrument slot
// operations (ramp request and delete of its start-up step) and the hooks
// can_start_ramp uses to reach the ramp set's entries. Call once at start-up,
// before rr_get_ramp_info.
void rr_slots_install();

// rr_get_max_num_instr_ramps (the slot limit per board) is declared with the ramp
// set, which needs it too.

// Gives entry `index` the smallest identifier 0..254 no other entry of the set
// uses. ERR_NO_RAMP_INFO, ERR_INVALID_RAMP_INDEX; ERR_PARAM_OUT_OF_RANGE when all
// 255 are taken ("rr_assign_ramp_id: no available ramp ID values").
int32_t rr_assign_ramp_id(sysInfo* si, int32_t index);

// Makes sure entry `index` is in an instrument slot: the lowest free slot below the
// board's limit, else the slot of the entry loaded earliest (which is then no
// longer loaded). An entry already loaded is not loaded again. On success the entry
// and the slot table name each other. Any failure is reported as
// "rr_load_ramp failed: <error name>".
int32_t rr_load_ramp(sysInfo* si, int32_t index);

// Starts the ramp held in an instrument slot (on CAN, the entry loaded there).
int32_t rr_ramp_start_slot(sysInfo* si, int32_t slot);
// Starts the ramp of entry `index`. An entry that is not loaded is refused with
// ERR_INVALID_RAMP_INDEX without a word to the instrument.
int32_t rr_ramp_start_index(sysInfo* si, int32_t index);
// Deletes a slot's ramp in a serial board; nothing (0) on the other boards.
int32_t rr_ramp_delete(sysInfo* si, int32_t slot);

// Waits up to `seconds` for the running ramp to end, asking every 50 ms. On a
// serial board a wait that runs out writes 255 to board address 4240 and gives
// ERR_RAMP_WAIT_TIMEOUT.
int32_t rr_wait_for_ramp_end(sysInfo* si, double seconds);

// Applies a gain to the current ramp of the set.
int32_t rr_setRampGain(sysInfo* si, int32_t gain);

// Multiplies the slope and point clock of SWLI/BTW entry `index` by `factor` and
// derives its update rate and bucket count; a loaded ramp is given the new rate in
// place (SableQv and Fenn firmware above 11) or unloaded. A factor that is zero,
// negative or not finite, or that gives a point clock the update rate cannot be
// derived from, is refused (ERR_INVALID_PARAM) with the entry untouched.
int32_t rr_adjust_ramp_slope(sysInfo* si, int32_t index, double factor);

// What an acquisition expects of a ramp; a value below its threshold is not tested
// (nBuckets, scanLen and cameraRate when not above 0; rampMux and grabSkip when
// negative).
struct rr_ramp_expect {
    int32_t rampType;
    int32_t nBuckets;
    double scanLen;
    int32_t rampMux;
    double cameraRate;
    int32_t grabSkip;
};

// True when entry `index` fits; otherwise false with the reason in msg (when given,
// at most msg_size bytes).
bool rr_ramp_consistency_check(const sysInfo* si, int32_t index, const rr_ramp_expect& expect, char* msg,
                               size_t msg_size);
// The first entry that fits, or -1.
int32_t rr_find_ramp(const sysInfo* si, const rr_ramp_expect& expect);

// Steps the host supplies for the parts of the instrument this module does not
// drive itself. Each returns 0 or an error code; the defaults do nothing and return
// ERR_NOT_IMPLEMENTED.
struct rr_slot_host_steps {
    // Cairn board: load a ramp into a slot with its gain and update rate.
    int32_t (*cairn_load)(sysInfo* si, int32_t slot, int32_t gain, int32_t updateRate, int32_t nPoints,
                          const uint16_t* points);
    // Cairn board: start a slot's ramp.
    int32_t (*cairn_start)(sysInfo* si, int32_t slot);
    // Cairn board: *done is set when the running ramp has ended.
    int32_t (*cairn_status)(sysInfo* si, bool* done);
    // Wave-monitor systems: the ramp gain goes through the wave monitor.
    int32_t (*wm_gain)(sysInfo* si, int32_t gain);
    // Serial boards: the three piezo gains to the normal or the large-aperture PZT.
    int32_t (*pzt_gain)(sysInfo* si, bool large_aperture, const int32_t gains[3]);
};
// Installs the steps (a null member keeps the default); returns the previous set.
rr_slot_host_steps rr_set_slot_host_steps(const rr_slot_host_steps& steps);

// What this module needs to know of a serial board that the calibration file does
// not say: the board's firmware version, and whether a large-aperture PZT exists and
// is the selected one. Kept per system slot; zero at start.
struct rr_board_state {
    int32_t firmware;
    bool large_aperture;
    bool large_aperture_selected;
};
rr_board_state* rr_board_state_of(const sysInfo* si);

// The serial ramp commands of the board protocol (SableQv, Tarn, Brae, Fenn); each
// gives ERR_WRONG_INSTR_BOARD on any other board.
// Loads points into a slot: RAMP_LOAD, RAMP_DATA packets of up to 512 points,
// RAMP_COMPLETE always; a failure deletes the slot and gives the first error.
int32_t uz_ramp_load(sysInfo* si, int32_t slot, const rr_ramp_hdr_t& hdr, const uint16_t* points);
int32_t uz_ramp_start(sysInfo* si, int32_t slot);
int32_t uz_ramp_delete(sysInfo* si, int32_t slot);
// *idle is set when the ramp has ended.
int32_t uz_ramp_idle(sysInfo* si, bool* idle);
// The identifier held in each slot (255: empty): 12 on SableQv and Fenn, 4 on Tarn
// and Brae; the rest of ids is set to 255.
int32_t uz_ramp_request(sysInfo* si, uint8_t ids[rr_instr_query_slots]);
// SableQv and Fenn only; the board's refusal gives ERR_INVALID_RAMP_INDEX.
int32_t uz_ramp_update_rate(sysInfo* si, int32_t slot, int32_t updateRate);
// Address 4096..6143 (else ERR_PARAM_OUT_OF_RANGE).
int32_t uz_write_io(sysInfo* si, int32_t address, int32_t value);

}  // namespace mf
