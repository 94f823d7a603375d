// The ramp set of a system: the ramps acquisitions may use, built at start-up from
// the ramp configuration file (or from every matching ramp data file in the ramp
// directory), with derived ramps and external profile ramps, and the table of the
// ramp identifier held in each instrument slot.
//
// The set of each system slot lives here, indexed by sysInfo::slot, for the life of
// the process. Nothing here is safe for concurrent use on one system slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ramp/ramp_config.h"
#include "ramp/ramp_file.h"

namespace mf {

struct sysInfo;

inline constexpr int rr_max_ramps = 254;         // entries of a set
inline constexpr int rr_slot_table_size = 256;   // instrument slots that can be named
inline constexpr uint8_t rr_no_ramp = 255;       // an empty slot, a ramp not loaded
inline constexpr int rr_instr_query_slots = 12;  // slots asked about or cleared at start-up
inline constexpr int rr_max_name = 80;

// One ramp of the set.
struct rr_ramp_entry {
    char name[rr_max_name + 1];  // file name; "+" and the source's name when derived
    rr_ramp_hdr_t hdr;
    uint16_t* points;   // hdr.nPoints points from the library allocator, or null
    int32_t slot;       // instrument slot, rr_no_ramp when not loaded
    double loadTime;    // seconds, when it was loaded into its slot (0: never)
    int64_t startTime;  // platform clock (ms) of the last start, 0: never started
    int32_t hide;       // 1: not offered to the user
    int32_t gain;       // current gain
    int32_t duration;   // milliseconds, at least 1
    double sortKey;
    int32_t scanDir;      // 1 or 2
    int32_t rising;       // the direction flag: 1 when the scan crosses the offset upwards
    double crossingTime;  // seconds from the first grabbed frame to the offset crossing
    double offsetPos;     // micrometres of scan at the offset crossing, negative for direction 2
};

struct rr_ramp_set {
    rr_ramp_entry* entries = nullptr;  // from the library allocator
    int32_t count = 0;
    int32_t pmiCount = 0;
    bool fromConfig = false;                // built from a configuration file
    int32_t current = -1;                   // index of the current ramp
    uint8_t slotTable[rr_slot_table_size];  // ramp identifier held in each instrument slot
};

// The ramp set of a system record's slot, or null without a usable record.
rr_ramp_set* rr_ramp_set_of(const sysInfo* si);
// Releases the set's entries and points and empties its slot table.
void rr_release_ramp_set(rr_ramp_set* set);
// Releases the set of every system slot (tests, shutdown).
void rr_release_all_ramp_sets();

// Instrument ramp slots the board offers: SableQv and Fenn 12; Tarn, Cairn and
// Brae 4; CAN 15 (PifocType 1), 100 (PifocType 2), otherwise 4; 0 after a message
// for any other board.
int32_t rr_get_max_num_instr_ramps(const sysInfo* si);

// True on a CAN board whose scanner controller (PifocType 1 or 2) stores its own
// profile ramps.
bool rr_ext_profiles_available(const sysInfo* si);

// Derives a ramp ("+" line) from a source entry with points: a shorter scan is
// resampled from the source's points, a different speed changes the point clock.
// On success *target owns a new points buffer. ERR_INVALID_PARAM (the documented
// refusals, and source values no ramp can be derived from: a zero, negative or
// non-finite rate, slope, scan length or clock, indices outside the points),
// ERR_PARAM_OUT_OF_RANGE (a longer scan), ERR_NO_MEM. On failure *target holds no
// points.
int32_t rr_derive_ramp(const rr_ramp_entry* source, rr_ramp_entry* target, const rr_ramp_spec* spec);

// Fills an entry for an external profile ramp ("extprofile<index>.<polar><dir>...")
// run by the scanner controller itself. On failure the reason goes to *reason (a
// text of at most reason_size bytes) and ERR_INVALID_PARAM is returned.
int32_t rr_make_ext_profile(const sysInfo* si, const rr_ramp_spec* spec, rr_ramp_entry* entry, char* reason,
                            size_t reason_size);

// Seconds from the first grabbed frame until the scan crosses the header's offset
// value. On a CAN board with a profile-storing scanner controller it is half the
// scan at the ramp's speed; otherwise it is found in the points. ERR_INVALID_PARAM
// (PMI ramp, no entry, no usable speed), ERR_NO_RAMP_INFO (no points),
// ERR_CORRUPT_RAMP_FILE (no crossing, or clock and trigger values that give none).
int32_t rr_calc_time_til_offset_crossing(const sysInfo* si, const rr_ramp_entry* entry, double* seconds);

// What the instrument slot code offers the set construction: the ramp identifier
// held in each of the first 12 slots of the instrument, and deleting one slot's
// ramp. Installed by the module that talks to the instrument board; until it is,
// the set construction leaves the instrument's slots alone.
struct rr_instr_slot_ops {
    int32_t (*request)(sysInfo* si, uint8_t ids[rr_instr_query_slots]);
    int32_t (*remove)(sysInfo* si, int32_t slot);
};
// Installs the operations (null removes them); returns the previous ones.
rr_instr_slot_ops rr_set_instr_slot_ops(const rr_instr_slot_ops& ops);

// Builds the system's ramp set from the ramp directory and reports it. Any failure
// is reported with "rr_get_ramp_info: <error name>". ERR_SYS_INFO_NOT_AVAIL,
// ERR_WRONG_SYSTEM_TYPE, ERR_NO_RAMP_INFO, the configuration reader's codes,
// ERR_NO_MEM, the offset-crossing codes, and those of the instrument slot operations.
int32_t rr_get_ramp_info(sysInfo* si);
// The same with the ramp directory given (null: none).
int32_t rr_get_ramp_info_in(sysInfo* si, const char* ramp_dir);

}  // namespace mf
