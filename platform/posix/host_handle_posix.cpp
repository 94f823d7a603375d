#include <fcntl.h>
#include <unistd.h>

#include "platform/host_handle.h"

namespace mf::platform {

intptr_t open_host_handle(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

bool close_host_handle(intptr_t handle) {
    if (handle < 0 || handle > INT32_MAX) return false;
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace mf::platform
