// The virtual instrument as the loadable library "VaroCANopen": the 17 operations
// under their own names, plus a few VaroSim_ entry points through which a test
// configures the instrument that lives inside the library.
//
// On first use the library lays its instrument out from the system calibration file
// the environment variable MF_VIRTUAL_CALFILE names (the layout of
// mapforge-instrument --virtual), so that a host loading it by name can power it on.
// Without the variable the bus is empty (no bridge) until a test configures it; a file
// that cannot be read, or that describes no CAN instrument, leaves it empty after a
// message on standard error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "calfile/bpix.h"
#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "common/errors.h"
#include "sim/can/can_sim.h"
#include "sim/can/virtual_instrument.h"

#if defined(_WIN32)
#define MF_SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define MF_SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using mf::can_bridge_entry;
using mf::can_emcy_handler;
using mf::can_pdo;
using mf::can_pdo_handler;
using mf::can_sdo_result;
namespace sim = mf::sim;

namespace {

// The library's own copy of the calibration slots is not the host's: slot 0 here is
// only the layout's source.
void lay_out_from_environment() {
    const char* path = std::getenv("MF_VIRTUAL_CALFILE");
    if (!path || !*path) return;
    const int32_t err = mf::sb_readCal(0, path);
    const mf::sysInfo* si = mf::sb_slot(0);
    if (err != 0) {
        std::fprintf(stderr, "VaroCANopen (virtual): MF_VIRTUAL_CALFILE=%s: %s, no instrument laid out\n", path,
                     mf::error_name(err));
    } else if (si->boardType != mf::BOARD_CAN || !sim::configure_virtual_instrument(sim::can_sim::instance(), *si)) {
        std::fprintf(stderr, "VaroCANopen (virtual): MF_VIRTUAL_CALFILE=%s describes no CAN instrument\n", path);
    }
    // The layout holds its own copies: the record goes back to its defaults, so that
    // nothing it allocated outlives the library when a host unloads it.
    mf::sysInfo* record = mf::sb_slot(0);
    mf::sb_setDefaults(record);
    mf::sb_bpix_release(0);
    mf::sb_set_text(&record->calFilePath, nullptr);
}

// Every entry point passes here first (once, whichever thread comes first); a test's
// own configuration (VaroSim_) then replaces the layout.
void first_use() {
    static const bool laid_out = (lay_out_from_environment(), true);
    static_cast<void>(laid_out);
}

}  // namespace

MF_SIM_EXPORT int32_t CAN_EnumerateBridges(can_bridge_entry* table) {
    first_use();
    return sim::CAN_EnumerateBridges(table);
}
MF_SIM_EXPORT int32_t CAN_Connect(uint32_t ip_address) {
    first_use();
    return sim::CAN_Connect(ip_address);
}
MF_SIM_EXPORT int32_t CAN_Disconnect() {
    first_use();
    return sim::CAN_Disconnect();
}
MF_SIM_EXPORT int32_t CAN_GetFirmwareVersion(uint8_t* major, uint8_t* minor) {
    first_use();
    return sim::CAN_GetFirmwareVersion(major, minor);
}
MF_SIM_EXPORT int32_t CAN_GetBridgeConfiguration(uint8_t* node_id, uint32_t* kbit_rate) {
    first_use();
    return sim::CAN_GetBridgeConfiguration(node_id, kbit_rate);
}
MF_SIM_EXPORT int32_t CAN_SetBridgeConfiguration(uint8_t node_id, uint32_t kbit_rate) {
    first_use();
    return sim::CAN_SetBridgeConfiguration(node_id, kbit_rate);
}
MF_SIM_EXPORT int32_t CAN_GetLastBridgeError(uint32_t* error) {
    first_use();
    return sim::CAN_GetLastBridgeError(error);
}
MF_SIM_EXPORT int32_t CAN_ResetBridge() {
    first_use();
    return sim::CAN_ResetBridge();
}
MF_SIM_EXPORT int32_t CAN_EnumerateNodes(uint8_t* states) {
    first_use();
    return sim::CAN_EnumerateNodes(states);
}
MF_SIM_EXPORT int32_t CAN_FindNode(uint8_t node, uint32_t* status) {
    first_use();
    return sim::CAN_FindNode(node, status);
}
MF_SIM_EXPORT int32_t CAN_GetNodeState(uint8_t node, uint32_t* state) {
    first_use();
    return sim::CAN_GetNodeState(node, state);
}
MF_SIM_EXPORT int32_t CAN_SDORead(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                                  can_sdo_result* result) {
    first_use();
    return sim::CAN_SDORead(node, index, subindex, data, size, result);
}
MF_SIM_EXPORT int32_t CAN_SDOWrite(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                                   can_sdo_result* result) {
    first_use();
    return sim::CAN_SDOWrite(node, index, subindex, data, size, result);
}
MF_SIM_EXPORT int32_t CAN_RegisterEvents(can_pdo_handler pdo_handler, can_emcy_handler emcy_handler) {
    first_use();
    return sim::CAN_RegisterEvents(pdo_handler, emcy_handler);
}
MF_SIM_EXPORT int32_t CAN_RegisterPDO(can_pdo* pdo) {
    first_use();
    return sim::CAN_RegisterPDO(pdo);
}
// The partial build leaves this one out, to test a library that lacks an entry point.
#ifndef MF_SIM_WITHOUT_GETPDO
MF_SIM_EXPORT int32_t CAN_GetPDO(can_pdo* pdo) {
    first_use();
    return sim::CAN_GetPDO(pdo);
}
#endif
MF_SIM_EXPORT int32_t CAN_UnregisterPDOs() {
    first_use();
    return sim::CAN_UnregisterPDOs();
}

#ifndef MF_SIM_WITHOUT_GETPDO
// The exported shapes are the ones the host binds to.
#define MF_SIM_SAME_SHAPE(name, params) \
    static_assert(std::is_same_v<decltype(&::name), mf::name##_fn>, #name " drifted");
MF_CAN_OPERATIONS(MF_SIM_SAME_SHAPE)
#undef MF_SIM_SAME_SHAPE
#endif

MF_SIM_EXPORT void VaroSim_Reset() {
    first_use();
    sim::can_sim::instance().reset();
}
MF_SIM_EXPORT void VaroSim_AddBridge(const uint8_t* ip4, const uint8_t* mac6) {
    first_use();
    sim::can_sim::instance().add_bridge(ip4, mac6);
}
MF_SIM_EXPORT void VaroSim_AddNode(uint8_t node, uint32_t product, uint32_t version) {
    first_use();
    sim::can_sim::instance().add_node(node, product, version);
}
MF_SIM_EXPORT void VaroSim_SendPdo(uint32_t cob_id, const uint8_t* data8) {
    first_use();
    can_pdo p{};
    p.cob_id = cob_id;
    p.word2 = 8;
    for (int i = 0; i < 8; ++i)
        p.data[i] = data8[i];
    sim::can_sim::instance().send_pdos({p});
}
MF_SIM_EXPORT void VaroSim_Flush() {
    first_use();
    sim::can_sim::instance().flush();
}
