#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "platform/dynlib.h"
#include "platform/module_version.h"

namespace mf::platform {

namespace {

// Reads one decimal component of at most 16 bits; advances past it.
bool component(const char*& p, uint16_t* value) {
    if (*p < '0' || *p > '9') return false;
    unsigned long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<unsigned long>(*p - '0');
        if (v > 0xFFFF) return false;
        ++p;
    }
    *value = static_cast<uint16_t>(v);
    return true;
}

// "libFoo.so.2.7.0" -> 2, 7; the minor part is required.
bool version_from_name(const std::string& path, const std::string& file, module_version* out) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string prefix = file + ".";
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    const char* p = name.c_str() + prefix.size();
    module_version v{};
    if (!component(p, &v.major) || *p++ != '.' || !component(p, &v.minor)) return false;
    if (*p != '\0' && *p != '.') return false;
    *out = v;
    return true;
}

}  // namespace

bool loaded_module_version(const std::string& base_name, module_version* out) {
    const std::string file = dynlib_file_name(base_name);
    // RTLD_NOLOAD: only a library already in the process is found (and referenced once more).
    void* lib = dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!lib) return false;
    link_map* map = nullptr;
    bool found = false;
    if (dlinfo(lib, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
        char* real = realpath(map->l_name, nullptr);
        if (real) {
            found = version_from_name(real, file, out);
            std::free(real);
        }
    }
    dlclose(lib);
    return found;
}

}  // namespace mf::platform
