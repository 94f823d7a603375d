#include "ramp/slots/ramp_slots.h"

namespace mf {

void rr_slots_install() {}

}  // namespace mf
