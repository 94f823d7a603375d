#include "can/can_api.h"

#include <string>

#include "common/error_codes.h"
#include "common/msg.h"
#include "platform/dynlib.h"
#include "platform/module_version.h"

namespace mf {

namespace {

inline constexpr int32_t status_not_connected = -2;

template <typename Fn>
struct unbound;
template <typename... Args>
struct unbound<int32_t (*)(Args...)> {
    static int32_t call(Args...) { return status_not_connected; }
};

can_api unbound_table() {
    can_api t{};
#define MF_CAN_UNBOUND(name, params) t.name = &unbound<name##_fn>::call;
    MF_CAN_OPERATIONS(MF_CAN_UNBOUND)
#undef MF_CAN_UNBOUND
    return t;
}

can_api table = unbound_table();
platform::dynlib_handle bound_library = nullptr;
std::string bound_name;
can_lib_version installed_version{0, 0};
bool installed = false;

void release_library() {
    platform::dynlib_free(bound_library);
    bound_library = nullptr;
}

}  // namespace

const can_api& can_lib() { return table; }

int32_t can_install_api(const can_api& ops, can_lib_version version) {
#define MF_CAN_CHECK(name, params) \
    if (!ops.name) return ERR_INVALID_PARAM;
    MF_CAN_OPERATIONS(MF_CAN_CHECK)
#undef MF_CAN_CHECK
    release_library();
    table = ops;
    installed = true;
    installed_version = version;
    return 0;
}

int32_t can_bind_library(const char* base_name) {
    const std::string base = base_name ? base_name : "";
    platform::dynlib_handle lib = platform::dynlib_load(base);
    if (!lib) {
        u_sink("can_bind_library: cannot load %s: system error %d %s\n", platform::dynlib_file_name(base).c_str(),
               platform::dynlib_last_error(), platform::dynlib_last_error_text().c_str());
        return ERR_CAN_NOT_AVAIL;
    }
    can_api ops{};
    std::string missing;
#define MF_CAN_RESOLVE(name, params)                                             \
    ops.name = reinterpret_cast<name##_fn>(platform::dynlib_symbol(lib, #name)); \
    if (!ops.name) missing += missing.empty() ? #name : ", " #name;
    MF_CAN_OPERATIONS(MF_CAN_RESOLVE)
#undef MF_CAN_RESOLVE
    if (!missing.empty()) {
        u_sink("can_bind_library: %s lacks entry points: %s\n", platform::dynlib_file_name(base).c_str(),
               missing.c_str());
        platform::dynlib_free(lib);
        return ERR_CAN_NOT_AVAIL;
    }
    release_library();
    table = ops;
    bound_library = lib;
    bound_name = base;
    installed = false;
    return 0;
}

void can_unbind_library() {
    table = unbound_table();
    release_library();
    installed = false;
}

bool can_library_loaded() { return bound_library != nullptr; }

bool can_library_version(can_lib_version* out) {
    *out = {0, 0};
    if (installed) {
        *out = installed_version;
        return true;
    }
    platform::module_version v{};
    if (!bound_library || !platform::loaded_module_version(bound_name, &v)) return false;
    *out = {v.major, v.minor};
    return true;
}

}  // namespace mf
