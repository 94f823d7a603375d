// The CAN interface library: its records, the shapes of its 17 operations and the
// process-wide table through which the library is called. The table is filled by
// binding the maker's library by name or by installing an in-process
// implementation (the virtual instrument) through the same table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mf {

// Every operation returns this status; 1 is success.
inline constexpr int32_t CAN_OK = 1;

inline constexpr int can_max_bridges = 127;
inline constexpr int can_node_count = 128;

// One entry of the bridge enumeration table.
struct can_bridge_entry {
    uint8_t ip[4];
    uint8_t mac[6];
};
static_assert(sizeof(can_bridge_entry) == 10);

// A PDO as fetched with CAN_GetPDO and as queued.
struct can_pdo {
    uint32_t cob_id;  // bits 0-6 node id, bits 7-10 function code
    uint32_t word1;
    uint32_t word2;  // the motion-library producer puts the data length here
    uint8_t data[8];
};
static_assert(sizeof(can_pdo) == 20);
static_assert(offsetof(can_pdo, data) == 12);

inline uint8_t can_pdo_node(const can_pdo& p) { return static_cast<uint8_t>(p.cob_id & 0x7F); }
inline uint32_t can_pdo_function(const can_pdo& p) { return (p.cob_id >> 7) & 0x0F; }

// Filled by CAN_SDORead and CAN_SDOWrite.
struct can_sdo_result {
    uint32_t unused;
    int32_t result;  // 1 = done
    uint32_t abort_code;
};
static_assert(sizeof(can_sdo_result) == 12);

// Called on the library's own threads.
using can_pdo_handler = void (*)(uint32_t waiting, uint8_t overrun);
using can_emcy_handler = void (*)(uint32_t first, uint32_t second, const uint8_t* block, uint8_t flag);

// The one list of entry points: name, parameter types. Binding, the table, the
// virtual instrument and its exports all expand it, so order and shapes cannot drift.
#define MF_CAN_OPERATIONS(X)                                                                               \
    X(CAN_EnumerateBridges, (can_bridge_entry * table))                                                    \
    X(CAN_Connect, (uint32_t ip_address))                                                                  \
    X(CAN_Disconnect, ())                                                                                  \
    X(CAN_GetFirmwareVersion, (uint8_t * major, uint8_t * minor))                                          \
    X(CAN_GetBridgeConfiguration, (uint8_t * node_id, uint32_t * kbit_rate))                               \
    X(CAN_SetBridgeConfiguration, (uint8_t node_id, uint32_t kbit_rate))                                   \
    X(CAN_GetLastBridgeError, (uint32_t * error))                                                          \
    X(CAN_ResetBridge, ())                                                                                 \
    X(CAN_EnumerateNodes, (uint8_t * states))                                                              \
    X(CAN_FindNode, (uint8_t node, uint32_t * status))                                                     \
    X(CAN_GetNodeState, (uint8_t node, uint32_t * state))                                                  \
    X(CAN_SDORead,                                                                                         \
      (uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, can_sdo_result* result)) \
    X(CAN_SDOWrite,                                                                                        \
      (uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, can_sdo_result* result)) \
    X(CAN_RegisterEvents, (can_pdo_handler pdo_handler, can_emcy_handler emcy_handler))                    \
    X(CAN_RegisterPDO, (can_pdo * pdo))                                                                    \
    X(CAN_GetPDO, (can_pdo * pdo))                                                                         \
    X(CAN_UnregisterPDOs, ())

#define MF_CAN_FN_TYPE(name, params) using name##_fn = int32_t(*) params;
MF_CAN_OPERATIONS(MF_CAN_FN_TYPE)
#undef MF_CAN_FN_TYPE

// Operation numbers in list order.
enum class can_op : int {
#define MF_CAN_OP_ENUM(name, params) name,
    MF_CAN_OPERATIONS(MF_CAN_OP_ENUM)
#undef MF_CAN_OP_ENUM
        count
};
inline constexpr int can_op_count = static_cast<int>(can_op::count);
static_assert(can_op_count == 17);

// The operations' names in list order.
inline constexpr const char* can_op_names[] = {
#define MF_CAN_OP_NAME(name, params) #name,
    MF_CAN_OPERATIONS(MF_CAN_OP_NAME)
#undef MF_CAN_OP_NAME
};

struct can_api {
#define MF_CAN_SLOT(name, params) name##_fn name;
    MF_CAN_OPERATIONS(MF_CAN_SLOT)
#undef MF_CAN_SLOT
};

// The table every CAN module calls through. Until something is bound or installed,
// every slot answers -2 (not connected). Set it before the bus is used, not while
// another thread calls through it.
const can_api& can_lib();

// The version of the interface library in use.
struct can_lib_version {
    int32_t major;
    int32_t minor;
};

// Installs an in-process implementation, which reports `version` as the library's
// version; every slot must be set (a null slot is refused with ERR_INVALID_PARAM and
// the table is left as it was). Releases a library bound by name.
int32_t can_install_api(const can_api& ops, can_lib_version version = {0, 0});

// Loads the library by base name ("VaroCANopen": VaroCANopen.dll on Windows,
// libVaroCANopen.so elsewhere) and resolves all 17 operations. On failure nothing is
// kept, the table is left as it was, a line naming the library and the system error,
// or every missing entry point, goes to the message sink, and ERR_CAN_NOT_AVAIL is
// returned.
int32_t can_bind_library(const char* base_name = "VaroCANopen");

// Releases a library bound by name and returns every slot to "not connected".
void can_unbind_library();

// True when a library is bound by name (not an in-process implementation).
bool can_library_loaded();

// The version of the library in use: the product version of the library bound by
// name (platform/module_version.h says where it comes from on each system), or the
// one an in-process implementation was installed with. False (and 0.0) when the
// bound library carries none or nothing is bound.
bool can_library_version(can_lib_version* out);

}  // namespace mf
