// The instrument bus shared by every CAN module: node ids and names, the
// per-instrument CAN state, and the bridge and node discovery primitives the
// power-on is made of. Applies to instruments of board type CAN only.
#pragma once

#include <cstdint>

#include "calfile/sysinfo.h"
#include "can/can_api.h"

namespace mf {

inline constexpr uint8_t CAN_NODE_ID_DMI = 0x30;
inline constexpr uint8_t CAN_NODE_ID_LARGEAP = 0x34;
inline constexpr uint8_t CAN_NODE_ID_LED = 0x3D;
inline constexpr uint8_t CAN_NODE_ID_TRIPLEPZT = 0x3E;
inline constexpr uint8_t CAN_NODE_ID_BRUSHMOTOR = 0x3F;
inline constexpr uint8_t CAN_NODE_ID_FOCUS_NDW = 0x40;
inline constexpr uint8_t CAN_NODE_ID_AUX_MOTOR = 0x42;
inline constexpr uint8_t CAN_NODE_ID_DD_RS = 0x44;
inline constexpr uint8_t CAN_NODE_ID_DD_ZOOM = 0x46;
inline constexpr uint8_t CAN_NODE_ID_WAND = 0x48;
inline constexpr uint8_t CAN_NODE_ID_WAND2 = 0x49;
inline constexpr uint8_t CAN_NODE_ID_RAMP = 0x7F;

// The name messages print for a node ("CAN_NODE_ID_LED"), or "" for a node without one.
const char* can_node_name(uint8_t node);

// Node-state array value of a present node; node state value of an operational node;
// CAN_FindNode status of a found node.
inline constexpr uint8_t CAN_NODE_PRESENT = 2;
inline constexpr uint32_t CAN_NODE_OPERATIONAL = 2;
inline constexpr uint32_t CAN_NODE_FOUND = 2;

// Product identities accepted.
inline constexpr uint32_t CAN_LED_PRODUCTS[] = {0x2672137D, 0x2672150D, 0x26722381};
inline constexpr uint32_t CAN_BRMOTOR_PRODUCT_D5 = 0x267215D5;  // returns zoom positions
inline constexpr uint32_t CAN_BRMOTOR_PRODUCT_D7 = 0x267215D7;  // returns zoom codes

enum can_turret_type : int32_t { TURRET_NONE = 0, TURRET_MOTORIZED = 1, TURRET_ENCODED = 2 };
// The zoom changer's codes run the other way from the turret's.
enum can_zoom_type : int32_t { ZOOM_NONE = 0, ZOOM_ENCODED = 1, ZOOM_MOTORIZED = 2 };

struct can_node_flags {
    bool triple_pzt;
    bool large_ap;
    bool wand;
    bool wand2;
    bool dd_zoom;
    bool dd_rs;
    bool focus_ndw;
    bool aux_motor;
    bool brush_motor;
};

struct can_motor_config {
    int32_t turret_type;  // can_turret_type
    int32_t turret_positions;
    int32_t turret_position;
    int32_t zoom_type;  // can_zoom_type
    int32_t zoom_positions;
};

// The CAN state kept with one instrument.
struct can_state {
    can_node_flags present;
    // Only triple_pzt, large_ap, dd_zoom, dd_rs, focus_ndw and brush_motor are configured.
    can_node_flags required;
    bool large_ap_available;
    int32_t rampMux;  // 0 triple PZT node, 1 large aperture node
    can_motor_config motor;
    uint8_t node_state[can_node_count];  // filled by CAN_EnumerateNodes
};

// The CAN state of an instrument, by its slot (sysInfo::slot 0..3); null for a null
// record or a slot out of range. Lives for the life of the process; zero at start.
can_state* can_state_of(const sysInfo* si);
// Zeroes the CAN state of every slot.
void can_state_reset_all();

// The bridge's IPv4 address as CAN_Connect takes it: the four bytes of the record,
// byte 0 first, read as one little-endian value.
uint32_t can_bridge_address(const can_config* cfg);

// Finds the bridge whose MAC address the record holds and stores its IPv4 address:
// 0, ERR_CAN_FINDING_BRIDGE (enumeration failed or found nothing) or
// ERR_CAN_MACADDRESS_ERROR (no match after three enumerations, 2000 ms apart).
int32_t find_bridge(can_config* cfg);

// True when CAN_FindNode reports the node found.
bool find_node(uint8_t node, const char* name);

// Polls the node state up to ten times, 200 ms apart; true once it is operational.
bool wait_for_node_operational(uint8_t node, const char* name);

// Fills the instrument's node-state array with CAN_EnumerateNodes: 0, or the mapped
// library status after "<caller>: CAN_EnumerateNodes canErr = %d" (time-stamped); the
// array is then all zero.
int32_t can_enumerate_nodes(const sysInfo* si, const char* caller);
// True when the last enumeration listed the node as present.
bool can_node_listed(const sysInfo* si, uint8_t node);

// Resets the bridge: 0, or ERR_HW_FAIL when the reset is refused.
int32_t can_reset_bridge(const sysInfo* si);

}  // namespace mf
