#include "platform/processors.h"

namespace mf::platform {

// Windows spreads a new thread over idle processors itself; nothing is asked.
void run_beside_caller(std::thread&) {}

}  // namespace mf::platform
