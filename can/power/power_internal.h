// What the power-on's files share: the host's steps, the waits, and the node
// helpers the sequences and the power-off both use.
#pragma once

#include <cstdint>

#include "calfile/sysinfo.h"
#include "can/can_bus.h"
#include "can/power/can_power.h"

namespace mf::power {

const can_power_host& host();

// Waits on the platform clock, then runs the idle hook.
void wait_ms(int64_t ms);

// The light-level control module applies to this instrument (Tarn family with the
// focus and ND wheel node required).
bool agc_applies(const sysInfo* si);

// Switches the diffuser disks that are present off (control bit 0 cleared); the
// first failure is returned, both are tried.
int32_t diffuser_disks_off(const sysInfo* si);

// The "CAN_NDWHEEL_STOPPED" event the Tarn power-on creates once; closed by the
// power-off.
void close_ndw_stopped_event();

}  // namespace mf::power
