// The command tables of the four serial instrument board families: for every
// code its name, the length byte of the command packet and the length byte of the
// data reply (0: answered by a plain acknowledge). A send length of 0 marks a
// report the board sends on its own; code 0 of every family is the invalid code.
//
// Each table is written once, as the list below, and expands into the family's
// code constants and its table; the checks at the end hold every table to its
// order (the code is the index), its count and its names at compile time.
// Pure data: no dependencies, so the virtual boards use the same tables.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace mf {

// X(code, name without the family prefix, send length, reply length)
#define MF_UZ1_COMMANDS(X)           \
    X(0, INVALID_CMD, 0, 0)          \
    X(1, MOTOR_MOVE_CMD, 5, 0)       \
    X(2, MOTOR_READ_CMD, 3, 3)       \
    X(3, PZT_SET_CMD, 8, 0)          \
    X(4, PZT_POWER_CMD, 3, 0)        \
    X(5, LLC_SET_CMD, 4, 0)          \
    X(6, LLC_READ_CMD, 2, 4)         \
    X(7, LLC_MODE_SET_CMD, 5, 0)     \
    X(8, LLC_MODE_READ_CMD, 2, 3)    \
    X(9, RAMP_REQUEST_CMD, 2, 14)    \
    X(10, EE_SERIAL_SET_CMD, 6, 0)   \
    X(11, EE_SERIAL_READ_CMD, 2, 6)  \
    X(12, EE_CAMERA_SET_CMD, 3, 0)   \
    X(13, EE_CAMERA_READ_CMD, 2, 3)  \
    X(14, EE_LIGHT_SET_CMD, 3, 0)    \
    X(15, EE_LIGHT_READ_CMD, 2, 3)   \
    X(16, EE_SYSTEM_SET_CMD, 3, 0)   \
    X(17, EE_SYSTEM_READ_CMD, 2, 3)  \
    X(18, EE_SYSDATE_SET_CMD, 4, 0)  \
    X(19, EE_SYSDATE_READ_CMD, 2, 4) \
    X(20, EE_INSTRBD_SET_CMD, 3, 0)  \
    X(21, EE_INSTRBD_READ_CMD, 2, 3) \
    X(22, ADC_P12_READ_CMD, 2, 3)    \
    X(23, ADC_N15_READ_CMD, 2, 3)    \
    X(24, ADC_P15_READ_CMD, 2, 3)    \
    X(25, ADC_P200_READ_CMD, 2, 3)   \
    X(26, SYSERR_CMD, 2, 3)          \
    X(27, PZT_CHK_CMD, 2, 3)         \
    X(28, RESET_UART_CMD, 2, 0)      \
    X(29, READ_IO_CMD, 4, 5)         \
    X(30, WRITE_IO_CMD, 5, 0)        \
    X(31, SW_VERSION_CMD, 2, 3)      \
    X(32, RAMP_LOAD_CMD, 15, 0)      \
    X(33, RAMP_DAC_CMD, 4, 0)        \
    X(34, RAMP_DATA_CMD, 4, 3)       \
    X(35, RAMP_COMPLETE_CMD, 2, 0)   \
    X(36, RAMP_ABORT_CMD, 2, 0)      \
    X(37, RAMP_DELETE_CMD, 3, 0)     \
    X(38, RAMP_IDLE_CMD, 2, 3)       \
    X(39, RAMP_START_CMD, 3, 0)      \
    X(40, PZT3_DISCONNECT_CMD, 3, 0) \
    X(41, POWER_CHK_CMD, 2, 3)       \
    X(42, PIFOC_LEVEL_CMD, 4, 0)     \
    X(43, PIFOC_RESET_CMD, 5, 0)     \
    X(44, CAMERA_RES_CMD, 3, 0)      \
    X(45, PZT_TYPE_CMD, 3, 0)        \
    X(46, PC_READ_CMD, 2, 27)        \
    X(47, PC_ADC_SET_CMD, 7, 0)      \
    X(48, PC_ADC_READ_CMD, 3, 7)     \
    X(49, RAMP_COMP_LOAD_CMD, 10, 0) \
    X(50, PC_RAMP_DONE_CMD, 2, 0)    \
    X(51, EXPANSION_BD_CMD, 2, 3)    \
    X(52, LCZDRIVE_CMD, 3, 0)        \
    X(53, RAMP_UPDATERATE_CMD, 5, 3) \
    X(54, CUSTOM_CAMERA_CMD, 10, 0)  \
    X(55, ZOOM_POSITION_CMD, 0, 3)   \
    X(56, TURRET_POSITION_CMD, 0, 3) \
    X(57, ZOOMPOS_REPORT_CMD, 3, 0)  \
    X(58, TURRETPOS_REPORT_CMD, 3, 0)

#define MF_UZ2_COMMANDS(X)            \
    X(0, INVALID_CMD, 0, 0)           \
    X(1, PZT_SET_CMD, 8, 0)           \
    X(2, PZT_POWER_CMD, 3, 0)         \
    X(3, LLC_SET_CMD, 3, 0)           \
    X(4, LLC_READ_CMD, 2, 3)          \
    X(5, LLC_MODE_SET_CMD, 4, 0)      \
    X(6, LLC_MODE_READ_CMD, 2, 3)     \
    X(7, EE_SERIAL_SET_CMD, 6, 0)     \
    X(8, EE_SERIAL_READ_CMD, 2, 6)    \
    X(9, EE_CAMERA_SET_CMD, 3, 0)     \
    X(10, EE_CAMERA_READ_CMD, 2, 3)   \
    X(11, EE_LIGHT_SET_CMD, 3, 0)     \
    X(12, EE_LIGHT_READ_CMD, 2, 3)    \
    X(13, EE_SYSTEM_SET_CMD, 3, 0)    \
    X(14, EE_SYSTEM_READ_CMD, 2, 3)   \
    X(15, EE_SYSDATE_SET_CMD, 4, 0)   \
    X(16, EE_SYSDATE_READ_CMD, 2, 4)  \
    X(17, EE_INSTRBD_SET_CMD, 3, 0)   \
    X(18, EE_INSTRBD_READ_CMD, 2, 3)  \
    X(19, ADC_P12_READ_CMD, 2, 3)     \
    X(20, ADC_N15_READ_CMD, 2, 3)     \
    X(21, ADC_P15_READ_CMD, 2, 3)     \
    X(22, ADC_P200_READ_CMD, 2, 3)    \
    X(23, SYSERR_CMD, 2, 3)           \
    X(24, PZT_CHK_CMD, 2, 3)          \
    X(25, RESET_UART_CMD, 2, 0)       \
    X(26, RAMP_START_CMD, 3, 0)       \
    X(27, RAMP_REQUEST_CMD, 2, 6)     \
    X(28, SW_VERSION_CMD, 2, 3)       \
    X(29, RAMP_LOAD_CMD, 15, 0)       \
    X(30, RAMP_DAC_CMD, 4, 0)         \
    X(31, WAND_CMD, 3, 0)             \
    X(32, QUOIN_INIT_CMD, 2, 3)       \
    X(33, QUOIN_POS_CMD, 2, 8)        \
    X(34, LLC_STABLE_CMD, 2, 3)       \
    X(35, FKEY_CMD, 0, 3)             \
    X(36, VIDEO_PR_CMD, 2, 0)         \
    X(37, LOCK_POS_CMD, 3, 0)         \
    X(38, WAND_MOTION_CMD, 2, 3)      \
    X(39, WAND_MODE_CMD, 2, 3)        \
    X(40, PZT3_CMD, 2, 3)             \
    X(41, PZT3_RESET_CMD, 2, 0)       \
    X(42, PZT3_STATUS_CMD, 2, 3)      \
    X(43, PZT3_PWRCHK_CMD, 2, 3)      \
    X(44, PZT3_RAMP_CMD, 8, 0)        \
    X(45, RAMP_DATA_CMD, 4, 3)        \
    X(46, RAMP_COMPLETE_CMD, 2, 0)    \
    X(47, RAMP_DELETE_CMD, 3, 0)      \
    X(48, RAMP_IDLE_CMD, 2, 3)        \
    X(49, POWER_CHK_CMD, 2, 3)        \
    X(50, QUOIN_CMD, 2, 3)            \
    X(51, DD_VOLTCHK_CMD, 2, 3)       \
    X(52, READ_IO_CMD, 4, 5)          \
    X(53, WRITE_IO_CMD, 5, 0)         \
    X(54, CAMERA_RES_CMD, 3, 0)       \
    X(55, ALIGN_VIEW_CMD, 0, 3)       \
    X(56, CUSTOM_CAMERA_CMD, 4, 0)    \
    X(57, RING_SPOT_CMD, 0, 3)        \
    X(58, CHANGE_RINGSPOT_CMD, 3, 0)  \
    X(59, CHANGE_ALIGNVIEW_CMD, 3, 0) \
    X(60, WAND_MODE2_CMD, 2, 3)       \
    X(61, AV_MOVING_CMD, 2, 3)        \
    X(62, RS_MOVING_CMD, 2, 3)

#define MF_BRAE_COMMANDS(X)          \
    X(0, INVALID_CMD, 0, 0)          \
    X(1, PZT_SET_CMD, 4, 0)          \
    X(2, SHUTTER_STATE_CMD, 3, 0)    \
    X(3, LLC_SET_CMD, 3, 0)          \
    X(4, LLC_READ_CMD, 2, 3)         \
    X(5, EE_SERIAL_SET_CMD, 6, 0)    \
    X(6, EE_SERIAL_READ_CMD, 2, 6)   \
    X(7, EE_CAMERA_SET_CMD, 3, 0)    \
    X(8, EE_CAMERA_READ_CMD, 2, 3)   \
    X(9, EE_LIGHT_SET_CMD, 3, 0)     \
    X(10, EE_LIGHT_READ_CMD, 2, 3)   \
    X(11, EE_SYSTEM_SET_CMD, 3, 0)   \
    X(12, EE_SYSTEM_READ_CMD, 2, 3)  \
    X(13, EE_SYSDATE_SET_CMD, 4, 0)  \
    X(14, EE_SYSDATE_READ_CMD, 2, 4) \
    X(15, EE_INSTRBD_SET_CMD, 3, 0)  \
    X(16, EE_INSTRBD_READ_CMD, 2, 3) \
    X(17, ADC_P12_READ_CMD, 2, 3)    \
    X(18, ADC_N15_READ_CMD, 2, 3)    \
    X(19, ADC_P15_READ_CMD, 2, 3)    \
    X(20, SYSERR_CMD, 2, 3)          \
    X(21, RESET_UART_CMD, 2, 0)      \
    X(22, RAMP_START_CMD, 3, 0)      \
    X(23, RAMP_REQUEST_CMD, 2, 6)    \
    X(24, SW_VERSION_CMD, 2, 3)      \
    X(25, RAMP_LOAD_CMD, 15, 0)      \
    X(26, RAMP_DAC_CMD, 4, 0)        \
    X(27, WAND_CMD, 3, 0)            \
    X(28, LLC_STABLE_CMD, 2, 3)      \
    X(29, FKEY_CMD, 0, 3)            \
    X(30, VIDEO_PR_CMD, 2, 0)        \
    X(31, LOCK_POS_CMD, 3, 0)        \
    X(32, WAND_MOTION_CMD, 2, 3)     \
    X(33, WAND_MODE_CMD, 2, 3)       \
    X(34, RAMP_DATA_CMD, 4, 3)       \
    X(35, RAMP_COMPLETE_CMD, 2, 0)   \
    X(36, RAMP_DELETE_CMD, 3, 0)     \
    X(37, RAMP_IDLE_CMD, 2, 3)       \
    X(38, POWER_CHK_CMD, 2, 3)       \
    X(39, ALIGN_VIEW_CMD, 0, 3)      \
    X(40, READ_IO_CMD, 4, 5)         \
    X(41, WRITE_IO_CMD, 5, 0)        \
    X(42, SHUTTER_OUTPUT_CMD, 3, 0)

#define MF_FENN_COMMANDS(X)          \
    X(0, INVALID_CMD, 0, 0)          \
    X(1, MOTOR_MOVE_CMD, 3, 0)       \
    X(2, MOTOR_READ_CMD, 2, 3)       \
    X(3, LLC_SET_CMD, 4, 0)          \
    X(4, LLC_READ_CMD, 2, 4)         \
    X(5, READ_VMI_LOCKEDP_CMD, 2, 3) \
    X(6, READ_VMI_MEASERR_CMD, 2, 3) \
    X(7, RAMP_REQUEST_CMD, 2, 14)    \
    X(8, EE_SERIAL_SET_CMD, 6, 0)    \
    X(9, EE_SERIAL_READ_CMD, 2, 6)   \
    X(10, EE_CAMERA_SET_CMD, 3, 0)   \
    X(11, EE_CAMERA_READ_CMD, 2, 3)  \
    X(12, EE_LIGHT_SET_CMD, 3, 0)    \
    X(13, EE_LIGHT_READ_CMD, 2, 3)   \
    X(14, EE_SYSTEM_SET_CMD, 3, 0)   \
    X(15, EE_SYSTEM_READ_CMD, 2, 3)  \
    X(16, EE_SYSDATE_SET_CMD, 4, 0)  \
    X(17, EE_SYSDATE_READ_CMD, 2, 4) \
    X(18, EE_INSTRBD_SET_CMD, 3, 0)  \
    X(19, EE_INSTRBD_READ_CMD, 2, 3) \
    X(20, ADC_P12_READ_CMD, 2, 3)    \
    X(21, ADC_N15_READ_CMD, 2, 3)    \
    X(22, ADC_P15_READ_CMD, 2, 3)    \
    X(23, SYSERR_CMD, 2, 3)          \
    X(24, RESET_UART_CMD, 2, 0)      \
    X(25, READ_IO_CMD, 4, 5)         \
    X(26, WRITE_IO_CMD, 5, 0)        \
    X(27, SW_VERSION_CMD, 2, 3)      \
    X(28, RAMP_LOAD_CMD, 15, 0)      \
    X(29, RAMP_DAC_CMD, 4, 0)        \
    X(30, RAMP_DATA_CMD, 4, 3)       \
    X(31, RAMP_COMPLETE_CMD, 2, 0)   \
    X(32, RAMP_ABORT_CMD, 2, 0)      \
    X(33, RAMP_DELETE_CMD, 3, 0)     \
    X(34, RAMP_IDLE_CMD, 2, 3)       \
    X(35, RAMP_START_CMD, 3, 0)      \
    X(36, POWER_CHK_CMD, 2, 3)       \
    X(37, PIFOC_LEVEL_CMD, 4, 0)     \
    X(38, PIFOC_RESET_CMD, 5, 0)     \
    X(39, RESET_VMI_CMD, 2, 0)       \
    X(40, RAMP_UPDATERATE_CMD, 5, 3) \
    X(41, CUSTOM_CAMERA_CMD, 10, 0)

// The board families, as the instrument record's board type numbers them.
enum class ur_family : int32_t { uz1 = 1, uz2 = 3, brae = 6, fenn = 7 };

struct ur_command {
    int32_t code;
    const char* name;  // with the family prefix
    uint8_t send_len;
    uint8_t reply_len;
};

#define MF_UR_ENUM(prefix, code, name, send, reply) prefix##_##name = code,
#define MF_UR_ROW(prefix, code, name, send, reply) {code, #prefix "_" #name, send, reply},
#define MF_UR_UZ1_ENUM(code, name, send, reply) MF_UR_ENUM(UZ1, code, name, send, reply)
#define MF_UR_UZ2_ENUM(code, name, send, reply) MF_UR_ENUM(UZ2, code, name, send, reply)
#define MF_UR_BRAE_ENUM(code, name, send, reply) MF_UR_ENUM(BRAE, code, name, send, reply)
#define MF_UR_FENN_ENUM(code, name, send, reply) MF_UR_ENUM(FENN, code, name, send, reply)
#define MF_UR_UZ1_ROW(code, name, send, reply) MF_UR_ROW(UZ1, code, name, send, reply)
#define MF_UR_UZ2_ROW(code, name, send, reply) MF_UR_ROW(UZ2, code, name, send, reply)
#define MF_UR_BRAE_ROW(code, name, send, reply) MF_UR_ROW(BRAE, code, name, send, reply)
#define MF_UR_FENN_ROW(code, name, send, reply) MF_UR_ROW(FENN, code, name, send, reply)

enum ur_uz1_code : int32_t { MF_UZ1_COMMANDS(MF_UR_UZ1_ENUM) };
enum ur_uz2_code : int32_t { MF_UZ2_COMMANDS(MF_UR_UZ2_ENUM) };
enum ur_brae_code : int32_t { MF_BRAE_COMMANDS(MF_UR_BRAE_ENUM) };
enum ur_fenn_code : int32_t { MF_FENN_COMMANDS(MF_UR_FENN_ENUM) };

inline constexpr ur_command ur_uz1_commands[] = {MF_UZ1_COMMANDS(MF_UR_UZ1_ROW)};
inline constexpr ur_command ur_uz2_commands[] = {MF_UZ2_COMMANDS(MF_UR_UZ2_ROW)};
inline constexpr ur_command ur_brae_commands[] = {MF_BRAE_COMMANDS(MF_UR_BRAE_ROW)};
inline constexpr ur_command ur_fenn_commands[] = {MF_FENN_COMMANDS(MF_UR_FENN_ROW)};

#undef MF_UR_ENUM
#undef MF_UR_ROW
#undef MF_UR_UZ1_ENUM
#undef MF_UR_UZ2_ENUM
#undef MF_UR_BRAE_ENUM
#undef MF_UR_FENN_ENUM
#undef MF_UR_UZ1_ROW
#undef MF_UR_UZ2_ROW
#undef MF_UR_BRAE_ROW
#undef MF_UR_FENN_ROW

// The family's table; empty for a number that is not a serial board family.
constexpr std::span<const ur_command> ur_commands(int32_t family) {
    switch (static_cast<ur_family>(family)) {
    case ur_family::uz1:
        return ur_uz1_commands;
    case ur_family::uz2:
        return ur_uz2_commands;
    case ur_family::brae:
        return ur_brae_commands;
    case ur_family::fenn:
        return ur_fenn_commands;
    }
    return {};
}

constexpr bool ur_is_serial_family(int32_t family) { return !ur_commands(family).empty(); }

// The entry of a code; a code outside the table (negative or above the last code)
// gives entry 0, the invalid code. Only for a serial family.
constexpr const ur_command& ur_command_of(int32_t family, int32_t code) {
    std::span<const ur_command> t = ur_commands(family);
    return code >= 0 && static_cast<std::size_t>(code) < t.size() ? t[static_cast<std::size_t>(code)] : t[0];
}

// Reply codes: acknowledge, negative acknowledge, and a report's offset from its command.
inline constexpr uint8_t UR_ACK = 0xFF;
inline constexpr uint8_t UR_NAK = 0xFE;
inline constexpr int32_t ur_report_offset = 100;

// True when the code is a report the family's board sends on its own: 100 plus the
// code of a command whose send length is 0.
constexpr bool ur_is_family_report(int32_t family, int32_t reply_code) {
    std::span<const ur_command> t = ur_commands(family);
    const int32_t code = reply_code - ur_report_offset;
    return code > 0 && static_cast<std::size_t>(code) < t.size() && t[static_cast<std::size_t>(code)].send_len == 0;
}

namespace ur_detail {

constexpr bool well_formed(std::span<const ur_command> t, std::size_t count, std::string_view prefix) {
    if (t.size() != count) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::string_view name = t[i].name;
        if (t[i].code != static_cast<int32_t>(i)) return false;
        if (!name.starts_with(prefix) || !name.ends_with("_CMD")) return false;
        // Only the invalid code is 0/0; a report has a reply and nothing to send.
        if ((i == 0) != (t[i].send_len == 0 && t[i].reply_len == 0)) return false;
        if (t[i].send_len == 1 || t[i].send_len > 127 || t[i].reply_len == 1 || t[i].reply_len > 127) return false;
    }
    return true;
}

constexpr int report_count(int32_t family) {
    int n = 0;
    for (int32_t code = 0; code < 256; ++code)
        n += ur_is_family_report(family, code) ? 1 : 0;
    return n;
}

}  // namespace ur_detail

static_assert(ur_detail::well_formed(ur_uz1_commands, 59, "UZ1_"));
static_assert(ur_detail::well_formed(ur_uz2_commands, 63, "UZ2_"));
static_assert(ur_detail::well_formed(ur_brae_commands, 43, "BRAE_"));
static_assert(ur_detail::well_formed(ur_fenn_commands, 42, "FENN_"));

// The reports each board sends; Fenn has none.
static_assert(ur_detail::report_count(1) == 2 && ur_is_family_report(1, 155) && ur_is_family_report(1, 156));
static_assert(ur_detail::report_count(3) == 3 && ur_is_family_report(3, 135) && ur_is_family_report(3, 155) &&
              ur_is_family_report(3, 157));
static_assert(ur_detail::report_count(6) == 2 && ur_is_family_report(6, 129) && ur_is_family_report(6, 139));
static_assert(ur_detail::report_count(7) == 0);

// The power check of every family, the simplest exchange.
static_assert(UZ1_POWER_CHK_CMD == 41 && UZ2_POWER_CHK_CMD == 49 && BRAE_POWER_CHK_CMD == 38 &&
              FENN_POWER_CHK_CMD == 36);
static_assert(ur_uz1_commands[UZ1_RAMP_REQUEST_CMD].reply_len == 14 &&
              ur_fenn_commands[FENN_RAMP_REQUEST_CMD].reply_len == 14 &&
              ur_uz2_commands[UZ2_RAMP_REQUEST_CMD].reply_len == 6 &&
              ur_brae_commands[BRAE_RAMP_REQUEST_CMD].reply_len == 6);

}  // namespace mf
