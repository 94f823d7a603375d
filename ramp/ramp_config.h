// The ramp configuration file: one ramp specification a line, read into an array
// of records and written back in the fixed column layout.
//
// A line holds, separated by blanks or tabs: RampType (SWLI, PMI, BTW, BTW1..BTW4),
// FileName ("+" derives from the ramp before it), ScanLen, CameraRate,
// CameraInterlace, GrabSkip, FringesPerFrame, RampSlope, ObjMag, ScanCal and an
// optional Hide flag. Empty lines and lines whose first field starts with "#" are
// comments. No function here keeps state; none is safe to call while another thread
// changes the message sink or the allocation hooks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ramp/ramp_file.h"

namespace mf {

inline constexpr int rr_cfg_max_line = 200;      // characters, the line end counted
inline constexpr int rr_cfg_max_name = 80;       // characters of a file name
inline constexpr int rr_cfg_max_bad_lines = 20;  // one more ends the reading
inline constexpr int rr_cfg_grow = 5;            // the array grows this many entries at a time

// One accepted configuration line. Values are held at the precision of the ramp
// header fields they are compared with and copied into.
struct rr_ramp_spec {
    int32_t rampType;       // RAMP_TYPE_SWLI, 1 (PMI) or RAMP_TYPE_BTW
    int32_t wavelenSelect;  // 0, or 1..4 for BTW
    char fileName[rr_cfg_max_name + 1];
    float scanLen;  // micrometres
    float cameraRate;
    int32_t cameraInterlace;
    int32_t grabSkip;
    float fringesPerFrame;
    float rampSlope;
    float objMag;
    float scanCal;
    int32_t hide;
};

// The first line the writer puts in a file, and the description block that
// follows it (also printed by the reader as the format help), without line ends
// at their ends.
extern const char* const rr_cfg_title;
extern const char* const rr_cfg_description;
// The sample line printed with the format help.
extern const char* const rr_cfg_sample_line;

// Reads a configuration file. *specs gets an array from the library allocator
// (the caller releases it with u_free) and *count its length; on failure *specs is
// null and *count 0. Bad lines are reported and skipped; CR LF and LF line ends read
// alike. ERR_INVALID_PARAM (no outputs), ERR_CANT_OPEN_FILE, ERR_CORRUPT_RAMP_CFG_FILE
// (a line too long, more than 20 bad lines, or no acceptable line), ERR_NO_MEM.
int32_t rr_read_ramp_config(const char* path, rr_ramp_spec** specs, int32_t* count);
// The same over text in memory; name is used in the messages as the file's path.
int32_t rr_read_ramp_config_memory(const char* name, const char* text, size_t size, rr_ramp_spec** specs,
                                   int32_t* count);

// Writes a configuration file, replacing what the name designates safely: a failure
// leaves an existing file as it was. Lines end as text lines of this system.
// ERR_INVALID_PARAM (no specifications; nothing is touched), ERR_CANT_OPEN_FILE
// (nothing can be created for the name), ERR_CANT_WRITE_FILE.
int32_t rr_write_ramp_config(const char* path, const rr_ramp_spec* specs, int32_t count);

// Matches a specification with the header of the ramp data file it names: type,
// camera rate (within 0.1), interlace, grab skip and fringes per frame, then, for
// all but PMI, scan length and slope. Values are compared as the header stores
// them (single precision). 0, or ERR_INVALID_PARAM after the message of the first
// mismatch.
int32_t rr_match_ramp_spec(const rr_ramp_spec* spec, const rr_ramp_hdr_t* hdr);

}  // namespace mf
