// Where threads run.
#pragma once

#include <thread>

namespace mf::platform {

// Asks the system to run thread, just started by the caller, on a processor
// other than the one the caller runs on now, when the caller may use another:
// the system may otherwise queue a new thread behind its creator for
// milliseconds while another processor stays idle. For a helper that lives for
// one task: it keeps the restriction for its life. Only a hint (Linux; nothing
// elsewhere), and nothing changes when the system refuses it.
void run_beside_caller(std::thread& thread);

}  // namespace mf::platform
