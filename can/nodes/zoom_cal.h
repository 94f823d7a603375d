// The encoded zoom's magnification calibration file: a title line, then 2 to 100
// "position magnification" pairs, both strictly increasing, positions 0 up to the
// largest float, magnifications 0.5 to 6. Read only; the loader keeps one table per
// instrument and rereads the file only when its size or modification time changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "calfile/sysinfo.h"

namespace mf {

struct zoom_cal_entry {
    float position;
    float magnification;
};

inline constexpr int zoom_cal_min_pairs = 2;
inline constexpr int zoom_cal_max_pairs = 100;
inline constexpr const char* zoom_cal_default_name = "Tarn\\ZoomCal.txt";

// Parses the file at path into table: 0, ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE or
// ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE; with msg, the reason is appended there. The
// table is changed only on success.
int32_t tarn_enc_zoom_parse(const char* path, std::vector<zoom_cal_entry>* table, std::string* msg);
// The same over a file's contents already in memory; path only names it in messages.
int32_t tarn_enc_zoom_parse_text(std::string_view text, const char* path, std::vector<zoom_cal_entry>* table,
                                 std::string* msg);

// What the loader remembers per instrument.
struct zoom_cal_state {
    std::string loaded_name;  // "" when nothing is loaded
    int64_t size = -1;
    int64_t mtime = -1;
    std::vector<zoom_cal_entry> table;
};
// The instrument's state (by slot); null for a record without a valid slot.
zoom_cal_state* tarn_enc_zoom_state(const sysInfo* si);
// Forgets every instrument's table.
void tarn_enc_zoom_reset_all();

// Loads the configured file (the encoded zoom's calibration file name, else the
// default), looked up like other configuration files, unless the table loaded last
// still matches its file. 0, ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE,
// ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE or ERR_NO_MEM; a failed parse forgets the old table.
int32_t tarn_enc_zoom_load(const sysInfo* si, std::string* msg);

}  // namespace mf
