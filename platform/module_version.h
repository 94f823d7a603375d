// The product version of a library the process has loaded, looked up by its base
// name ("VaroCANopen"), as the power-on reports it.
#pragma once

#include <cstdint>
#include <string>

namespace mf::platform {

struct module_version {
    uint16_t major;
    uint16_t minor;
};

// The product version of the loaded library of that base name. Windows: the
// library's version resource (the upper 32-bit word of the product version,
// major in its high 16 bits). Linux: the library's file name after its links
// are followed, libFoo.so.<major>.<minor>[...] as the versioned shared library
// convention names it. False when no such library is loaded or it carries no
// version.
bool loaded_module_version(const std::string& base_name, module_version* out);

}  // namespace mf::platform
