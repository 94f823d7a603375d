// The ramp command codes of each serial board family, written once and checked
// against the families' command tables.
#pragma once

#include <cstdint>

#include "serial/board/ur_commands.h"

namespace mf {

struct uz_ramp_codes {
    int32_t family;
    int32_t load, data, complete, start, remove, idle, request;
    int32_t update_rate;     // -1: the family has none
    int32_t bad_slot_reply;  // reply code of an update-rate change for an unknown slot
    int32_t write_io;
};

inline constexpr uz_ramp_codes uz_ramp_code_table[] = {
    // family      load data complete start delete idle request rate bad-slot write-io
    {1 /* UZ1 */, 32, 34, 35, 39, 37, 38, 9, 53, 23, 30},
    {3 /* UZ2 */, 29, 45, 46, 26, 47, 48, 27, -1, -1, 53},
    {6 /* Brae */, 25, 34, 35, 22, 36, 37, 23, -1, -1, 41},
    {7 /* Fenn */, 28, 30, 31, 35, 33, 34, 7, 40, 19, 26},
};

constexpr const uz_ramp_codes* uz_ramp_codes_of(int32_t family) {
    for (const uz_ramp_codes& c : uz_ramp_code_table)
        if (c.family == family) return &c;
    return nullptr;
}

static_assert(uz_ramp_code_table[0].load == UZ1_RAMP_LOAD_CMD && uz_ramp_code_table[0].data == UZ1_RAMP_DATA_CMD &&
              uz_ramp_code_table[0].complete == UZ1_RAMP_COMPLETE_CMD &&
              uz_ramp_code_table[0].start == UZ1_RAMP_START_CMD &&
              uz_ramp_code_table[0].remove == UZ1_RAMP_DELETE_CMD && uz_ramp_code_table[0].idle == UZ1_RAMP_IDLE_CMD &&
              uz_ramp_code_table[0].request == UZ1_RAMP_REQUEST_CMD &&
              uz_ramp_code_table[0].update_rate == UZ1_RAMP_UPDATERATE_CMD &&
              uz_ramp_code_table[0].write_io == UZ1_WRITE_IO_CMD);
static_assert(uz_ramp_code_table[1].load == UZ2_RAMP_LOAD_CMD && uz_ramp_code_table[1].data == UZ2_RAMP_DATA_CMD &&
              uz_ramp_code_table[1].complete == UZ2_RAMP_COMPLETE_CMD &&
              uz_ramp_code_table[1].start == UZ2_RAMP_START_CMD &&
              uz_ramp_code_table[1].remove == UZ2_RAMP_DELETE_CMD && uz_ramp_code_table[1].idle == UZ2_RAMP_IDLE_CMD &&
              uz_ramp_code_table[1].request == UZ2_RAMP_REQUEST_CMD &&
              uz_ramp_code_table[1].write_io == UZ2_WRITE_IO_CMD);
static_assert(uz_ramp_code_table[2].load == BRAE_RAMP_LOAD_CMD && uz_ramp_code_table[2].data == BRAE_RAMP_DATA_CMD &&
              uz_ramp_code_table[2].complete == BRAE_RAMP_COMPLETE_CMD &&
              uz_ramp_code_table[2].start == BRAE_RAMP_START_CMD &&
              uz_ramp_code_table[2].remove == BRAE_RAMP_DELETE_CMD &&
              uz_ramp_code_table[2].idle == BRAE_RAMP_IDLE_CMD &&
              uz_ramp_code_table[2].request == BRAE_RAMP_REQUEST_CMD &&
              uz_ramp_code_table[2].write_io == BRAE_WRITE_IO_CMD);
static_assert(uz_ramp_code_table[3].load == FENN_RAMP_LOAD_CMD && uz_ramp_code_table[3].data == FENN_RAMP_DATA_CMD &&
              uz_ramp_code_table[3].complete == FENN_RAMP_COMPLETE_CMD &&
              uz_ramp_code_table[3].start == FENN_RAMP_START_CMD &&
              uz_ramp_code_table[3].remove == FENN_RAMP_DELETE_CMD &&
              uz_ramp_code_table[3].idle == FENN_RAMP_IDLE_CMD &&
              uz_ramp_code_table[3].request == FENN_RAMP_REQUEST_CMD &&
              uz_ramp_code_table[3].update_rate == FENN_RAMP_UPDATERATE_CMD &&
              uz_ramp_code_table[3].write_io == FENN_WRITE_IO_CMD);

}  // namespace mf
