// The calibration file's name tables: the names the writer prints for the numbers
// stored in the record, and the keywords the reader accepts for them.
#pragma once

#include <cstdint>

#include "calfile/keywords.h"

namespace mf {

// Printed names, indexed by the stored number. A number beyond the end of a table
// prints as entry 0 (sb_name).
extern const char* const sb_sys_type_names[37];
extern const char* const sb_board_names[10];
extern const char* const sb_frame_grabber_names[13];
extern const char* const sb_camera_names[33];
extern const char* const sb_align_names[3];
extern const char* const sb_light_names[6];
extern const char* const sb_llc_instr_names[4];
extern const char* const sb_temp_sensor_names[2];
extern const char* const sb_pos_instr_names[13];

template <int N>
const char* sb_name(const char* const (&table)[N], int32_t number) {
    return number >= 0 && number < N ? table[number] : table[0];
}

// The table number a keyword names in one name table, or -1 when the keyword is
// not a name of that table.
enum class sb_names { sys_type, board, frame_grabber, camera, align, light, llc_instr, temp_sensor, pos_instr };
int32_t sb_name_number(sb_names table, sb_token token);

}  // namespace mf
