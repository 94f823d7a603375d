// Where the motion wrapper binding meets the CAN event queues.
#pragma once

#include <cstdint>

namespace mf {

struct sysInfo;

// Hands CAN event reception back to the library's own handlers after the motion
// library has let go of it. 0 or the error of the registration.
int32_t mc_can_register_own_reception(sysInfo* instrument);

}  // namespace mf
