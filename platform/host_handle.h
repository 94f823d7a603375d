// Low-level file handles (the C runtime's file descriptors), which a host may hold
// open on a file that the library is about to replace.
#pragma once

#include <cstdint>
#include <string>

namespace mf::platform {

// Opens an existing file for reading as a low-level handle; -1 on failure.
intptr_t open_host_handle(const std::string& path);
// Closes a low-level handle. False when it was not an open handle.
bool close_host_handle(intptr_t handle);

}  // namespace mf::platform
