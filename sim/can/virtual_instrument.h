// A virtual instrument laid out from a calibration record: the bridge with the
// record's MAC address, and the nodes its system type and configuration call for,
// each with a product id the power-on accepts. Tests then change what they need
// (a node missing, a fault) before powering on.
#pragma once

#include <cstdint>

#include "calfile/sysinfo.h"
#include "sim/can/can_sim.h"

namespace mf::sim {

// The bridge's address on the virtual network.
inline constexpr uint8_t virtual_bridge_ip[4] = {192, 168, 10, 20};

// Product ids of the virtual nodes (the LED and dual brush motor ones are on the
// accepted lists; the others are the node id in the maker's range).
inline constexpr uint32_t virtual_led_product = 0x2672150D;
inline constexpr uint32_t virtual_product_base = 0x26720000;

// Resets the instrument and lays it out for the record. False when the record has
// no CAN configuration record to take the MAC address from.
bool configure_virtual_instrument(can_sim& sim, const sysInfo& si);

}  // namespace mf::sim
