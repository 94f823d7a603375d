#include "sim/can/virtual_instrument.h"

#include <cstring>

namespace mf::sim {

namespace {

bool one_of(int32_t v, std::initializer_list<int32_t> list) {
    for (int32_t x : list)
        if (x == v) return true;
    return false;
}

void put_float(can_sim& sim, uint8_t node, uint16_t index, uint8_t subindex, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    sim.set_object(node, index, subindex,
                   {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits >> 16),
                    static_cast<uint8_t>(bits >> 24)});
}

void add(can_sim& sim, uint8_t node, uint32_t version = 0x00010000) {
    sim.add_node(node, virtual_product_base + node, version);
}

void profiler_nodes(can_sim& sim, const sysInfo& si, bool p_variant) {
    sim.add_node(0x3D, virtual_led_product);
    if (sb_has_dual_brush_motor(&si)) sim.add_node(0x3F, 0x267215D5);
    if (p_variant && si.present.pzt) add(sim, 0x3E);
    if (si.scanner.pifoc && (si.scanner.pifoc->type == 1 || si.scanner.pifoc->type == 2))
        put_float(sim, 0x7F, 0x2041, 2, 25.0f);  // the scanner answers with its amplitude
}

void tarn_nodes(can_sim& sim, const sysInfo& si) {
    const bool no_pzt = one_of(si.sysType, {SYS_WSTARNCAN, SYS_BRAE_CAN});
    if (si.present.pzt && !no_pzt) add(sim, 0x3E);
    if (si.present.laps && !no_pzt) add(sim, 0x34);
    if (si.present.wand) add(sim, 0x48);
    if (si.present.zoom) add(sim, 0x46);
    if (si.ringSpot) add(sim, 0x44);
    // The encoded zoom needs focus node firmware 4.3 or later.
    if (si.present.focusNDW) add(sim, 0x40, 0x00040003);
    if (si.sysType == SYS_ESKERCAN) add(sim, 0x42);
}

}  // namespace

bool configure_virtual_instrument(can_sim& sim, const sysInfo& si) {
    sim.reset();
    if (!si.canInfo) return false;
    sim.add_bridge(virtual_bridge_ip, si.canInfo->mac);
    add(sim, 0x7F);
    if (one_of(si.sysType, {SYS_SCARPSABLEICO, SYS_SCARPSABLEQVICO, SYS_LOOMA, SYS_LOOMAS, SYS_LOOMB, SYS_LOOMBS}))
        profiler_nodes(sim, si, false);
    else if (one_of(si.sysType, {SYS_LOOMAP, SYS_LOOMBP}))
        profiler_nodes(sim, si, true);
    else
        tarn_nodes(sim, si);
    return true;
}

}  // namespace mf::sim
