#include <fcntl.h>
#include <io.h>

#include "platform/host_handle.h"

namespace mf::platform {

intptr_t open_host_handle(const std::string& path) { return _open(path.c_str(), _O_RDONLY | _O_BINARY); }

bool close_host_handle(intptr_t handle) {
    if (handle < 0 || handle > INT32_MAX) return false;
    return _close(static_cast<int>(handle)) == 0;
}

}  // namespace mf::platform
