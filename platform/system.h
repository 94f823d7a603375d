// Process and machine facts.
#pragma once

#include <string>

namespace mf::platform {

// The full path of the running program, or "".
std::string program_path();
// The computer's name, or "" when the system cannot tell it.
std::string computer_name();
// True on file systems where names differ by case only (Windows: false).
bool paths_are_case_sensitive();

}  // namespace mf::platform
