#include <dlfcn.h>

#include <cerrno>

#include "platform/dynlib.h"

namespace mf::platform {

namespace {
thread_local int last_code = 0;
thread_local std::string last_text;

void note_failure() {
    // dlerror gives text only; errno usually still holds what the loader hit.
    last_code = errno != 0 ? errno : ENOENT;
    const char* why = dlerror();
    last_text = why ? why : "";
}
}  // namespace

std::string dynlib_file_name(const std::string& base_name) { return "lib" + base_name + ".so"; }

dynlib_handle dynlib_load(const std::string& base_name) {
    errno = 0;
    void* lib = dlopen(dynlib_file_name(base_name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) note_failure();
    return static_cast<dynlib_handle>(lib);
}

void* dynlib_symbol(dynlib_handle lib, const char* name) {
    if (!lib) return nullptr;
    dlerror();
    errno = 0;
    void* address = dlsym(static_cast<void*>(lib), name);
    if (!address) note_failure();
    return address;
}

void dynlib_free(dynlib_handle lib) {
    if (lib) dlclose(static_cast<void*>(lib));
}

int dynlib_last_error() { return last_code; }
std::string dynlib_last_error_text() { return last_text; }

}  // namespace mf::platform
