#include <sys/stat.h>

#include "platform/output_file.h"

namespace mf::platform {

bool give_default_permissions(const std::string& path) {
    // umask can only be read by setting it; the program is single-threaded here.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return ::chmod(path.c_str(), 0666 & ~mask) == 0;
}

}  // namespace mf::platform
