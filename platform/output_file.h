// Finishing a file that was written under a temporary name.
#pragma once

#include <string>

namespace mf::platform {

// Gives a file the permissions a newly created file gets by default (POSIX:
// 0666 less the umask; temporary files start owner-only). True on success.
bool give_default_permissions(const std::string& path);

}  // namespace mf::platform
