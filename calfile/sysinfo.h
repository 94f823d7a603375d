// The system information record: one per system slot, filled from the system
// calibration file, and the instrument record every instrument module receives.
//
// Per-instrument state that later modules keep with an instrument (CAN state, ramp
// set and slot table, serial port record) lives in those modules, in tables of
// sys_slot_count entries indexed by sysInfo::slot; the record itself holds only what
// the calibration file describes.
#pragma once

#include <cstdint>

namespace mf {

inline constexpr int sys_slot_count = 4;

// Instrument board types (the calibration file's board name table).
enum instr_board : int32_t {
    BOARD_NONE = 0,
    BOARD_SABLEQV = 1,
    BOARD_KNAP = 2,
    BOARD_TARN = 3,
    BOARD_HEUGH = 4,
    BOARD_CAIRN = 5,
    BOARD_BRAE = 6,
    BOARD_FENN = 7,
    BOARD_CAN = 8,
    BOARD_NOTNEEDED = 9,
};

// CAN configuration record: created zero-filled with the initial values below by
// the calibration reader when the file configures a CAN bridge, owned by the
// record, freed by the CAN power-off.
struct can_config {
    uint8_t ip[4];        // bridge IPv4 address, byte 0 printed first; ip[0] 255 until found
    uint8_t mac[6];       // bridge MAC address; mac[0] 255 means not configured
    uint8_t fw_major;     // bridge firmware version
    uint8_t fw_minor;
    int32_t zoom_codes[7];  // -2: no position
    int32_t led_product_id;    // -1 until read
    int32_t brush_product_id;  // -1 until read
    uint8_t keypress_rs;
    uint8_t keypress_zoom;
    uint8_t keypress_focus;
};

// Fills a new CAN configuration record with its initial values.
inline void can_config_init(can_config* c) {
    *c = can_config{};
    c->ip[0] = 255;
    for (int32_t& code : c->zoom_codes) code = -2;
    c->led_product_id = -1;
    c->brush_product_id = -1;
}

struct sysInfo {
    int32_t slot;       // 0..3, the record's own slot number
    int32_t sysType;    // system type, 0..36
    int32_t boardType;  // instr_board
    can_config* canInfo;  // null unless the file configures the CAN bus
    // The calibration reader adds the values of every statement below, grouped by
    // subject.
};

// The record of a slot (0..3), or null for any other number. Records live for the
// life of the process.
sysInfo* sb_slot(int slot);

}  // namespace mf
