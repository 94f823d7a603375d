#include "can/can_bus.h"

#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "common/error_codes.h"
#include "common/hooks.h"
#include "can/can_sdo.h"
#include "common/msg.h"
#include "platform/clock.h"

namespace mf {

namespace {

can_state slot_states[sys_slot_count];

inline constexpr int bridge_attempts = 3;
inline constexpr int64_t bridge_retry_ms = 2000;
inline constexpr int node_state_polls = 10;
inline constexpr int64_t node_poll_ms = 200;

}  // namespace

const char* can_node_name(uint8_t node) {
    switch (node) {
    case CAN_NODE_ID_LARGEAP:
        return "CAN_NODE_ID_LARGEAP";
    case CAN_NODE_ID_LED:
        return "CAN_NODE_ID_LED";
    case CAN_NODE_ID_TRIPLEPZT:
        return "CAN_NODE_ID_TRIPLEPZT";
    case CAN_NODE_ID_BRUSHMOTOR:
        return "CAN_NODE_ID_BRUSHMOTOR";
    case CAN_NODE_ID_FOCUS_NDW:
        return "CAN_NODE_ID_FOCUS_NDW";
    case CAN_NODE_ID_AUX_MOTOR:
        return "CAN_NODE_ID_AUX_MOTOR";
    case CAN_NODE_ID_DD_RS:
        return "CAN_NODE_ID_DD_RS";
    case CAN_NODE_ID_DD_ZOOM:
        return "CAN_NODE_ID_DD_ZOOM";
    case CAN_NODE_ID_WAND:
        return "CAN_NODE_ID_WAND";
    case CAN_NODE_ID_WAND2:
        return "CAN_NODE_ID_WAND2";
    case CAN_NODE_ID_RAMP:
        return "CAN_NODE_ID_RAMP";
    default:
        return "";
    }
}

can_state* can_state_of(const sysInfo* si) {
    if (!si || si->slot < 0 || si->slot >= sys_slot_count) return nullptr;
    return &slot_states[si->slot];
}

void can_state_reset_all() {
    for (can_state& s : slot_states)
        s = can_state{};
}

uint32_t can_bridge_address(const can_config* cfg) { return load_le32(cfg->ip); }

int32_t find_bridge(can_config* cfg) {
    static const char* const fn = "find_bridge";
    if (!cfg) return ERR_INVALID_PARAM;
    char mac_text[18];
    std::snprintf(mac_text, sizeof mac_text, "%2.2X %2.2X %2.2X %2.2X %2.2X %2.2X", cfg->mac[0], cfg->mac[1],
                  cfg->mac[2], cfg->mac[3], cfg->mac[4], cfg->mac[5]);
    std::memset(cfg->ip, 255, sizeof cfg->ip);

    // The bridge fills at most 127 entries; the table lives for this call only.
    can_bridge_entry table[can_max_bridges];
    bool found = false;
    for (int attempt = 1; attempt <= bridge_attempts && !found; ++attempt) {
        std::memset(table, 0, sizeof table);
        int32_t count = can_lib().CAN_EnumerateBridges(table);
        // Any negative status is a failed enumeration, not an empty table.
        if (count < 0) {
            u_msg_time("%s: CAN_EnumerateBridges failed\n", fn);
            return ERR_CAN_FINDING_BRIDGE;
        }
        if (count == 0) {
            u_msg_time("%s: CAN_EnumerateBridges found no CAN bridges\n", fn);
            return ERR_CAN_FINDING_BRIDGE;
        }
        if (count > can_max_bridges) count = can_max_bridges;
        for (int32_t i = 0; i < count; ++i) {
            if (std::memcmp(table[i].mac, cfg->mac, sizeof cfg->mac) == 0) {
                std::memcpy(cfg->ip, table[i].ip, sizeof cfg->ip);
                found = true;
                break;
            }
        }
        if (!found && attempt < bridge_attempts) {
            platform::sleep_ms(bridge_retry_ms);
            u_idle();
        }
    }
    if (!found) {
        u_msg_time("CAN bridge with MAC address %s not found on network\n", mac_text);
        return ERR_CAN_MACADDRESS_ERROR;
    }
    u_sink("Found CAN bridge\n");
    u_sink("MAC address: %s\n", mac_text);
    u_sink("IP  address: %d.%d.%d.%d\n", cfg->ip[0], cfg->ip[1], cfg->ip[2], cfg->ip[3]);
    return 0;
}

bool find_node(uint8_t node, const char* name) {
    static const char* const fn = "find_node";
    uint32_t status = 0;
    int32_t err = can_lib().CAN_FindNode(node, &status);
    if (err != CAN_OK) {
        u_msg_time("%s: Error finding node %s: CAN_FindNode canErr = %d\n", fn, name, err);
        return false;
    }
    if (status != CAN_NODE_FOUND) {
        u_msg_time("%s: Error finding node %s: CAN_FindNode status = %d\n", fn, name, static_cast<int>(status));
        return false;
    }
    return true;
}

bool wait_for_node_operational(uint8_t node, const char* name) {
    static const char* const fn = "wait_for_node_operational";
    uint32_t state = 0;
    for (int poll = 1; poll <= node_state_polls; ++poll) {
        int32_t err = can_lib().CAN_GetNodeState(node, &state);
        if (err != CAN_OK) {
            u_msg_time("%s: Error waiting for node %s operational: CAN_GetNodeState canErr = %d\n", fn, name, err);
            return false;
        }
        if (state == CAN_NODE_OPERATIONAL) return true;
        if (poll < node_state_polls) {
            platform::sleep_ms(node_poll_ms);
            u_idle();
        }
    }
    u_msg_time("%s: Timeout waiting for node %s operational: CAN_GetNodeState status = %d\n", fn, name,
               static_cast<int>(state));
    return false;
}

int32_t can_enumerate_nodes(const sysInfo* si, const char* caller) {
    can_state* cs = can_state_of(si);
    if (!cs) return ERR_INVALID_PARAM;
    int32_t err = can_lib().CAN_EnumerateNodes(cs->node_state);
    if (err != CAN_OK) {
        std::memset(cs->node_state, 0, sizeof cs->node_state);
        u_msg_time("%s: CAN_EnumerateNodes canErr = %d\n", caller, err);
        return can_status_error(err);
    }
    return 0;
}

bool can_node_listed(const sysInfo* si, uint8_t node) {
    const can_state* cs = can_state_of(si);
    return cs && node < can_node_count && cs->node_state[node] == CAN_NODE_PRESENT;
}

int32_t can_reset_bridge(const sysInfo* si) {
    // The instrument only names whose bridge is meant; the library has one.
    static_cast<void>(si);
    int32_t err = can_lib().CAN_ResetBridge();
    if (err != CAN_OK) {
        u_sink("CAN_ResetBridge canErr %d\n", err);
        return ERR_HW_FAIL;
    }
    return 0;
}

}  // namespace mf
