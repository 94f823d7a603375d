#include "platform/output_file.h"

namespace mf::platform {

// Windows files inherit their access from the directory, like any new file.
bool give_default_permissions(const std::string&) { return true; }

}  // namespace mf::platform
