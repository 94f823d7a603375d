#include <limits.h>
#include <unistd.h>

#include "platform/system.h"

namespace mf::platform {

std::string program_path() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string computer_name() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

bool paths_are_case_sensitive() { return true; }

}  // namespace mf::platform
