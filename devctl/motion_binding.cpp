#include <atomic>
#include <cstring>
#include <string>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/msg.h"
#include "devctl/motion.h"
#include "devctl/motion_can.h"
#include "platform/clock.h"
#include "platform/threads.h"

namespace mf {

mwi_binding gl_mwi{};

namespace {

constexpr const char* default_library_name = "MotionWrapperInterface";
std::string library_name = default_library_name;

struct entry_point {
    const char* name;
    mwi_rule rule;
    void* (*get)();
    void (*set)(void*);
};

// The resolve order and the rules come straight from the one list. Slots are
// stored atomically: the device worker may read one (HasEvent_MWI) while the host
// binds or unbinds.
const entry_point entry_points[] = {
#define MF_MWI_ENTRY(name, rule, result, params)                                                           \
    {#name, mwi_rule::rule, [] { return reinterpret_cast<void*>(gl_mwi.name); },                           \
     [](void* p) {                                                                                         \
         std::atomic_ref(gl_mwi.name).store(reinterpret_cast<mwi_fn::name>(p), std::memory_order_release); \
     }},
    MF_MWI_ENTRY_POINTS(MF_MWI_ENTRY)
#undef MF_MWI_ENTRY
};

void empty_slots() {
    for (const entry_point& e : entry_points)
        e.set(nullptr);
}

void empty_slots(mwi_rule rule) {
    for (const entry_point& e : entry_points)
        if (e.rule == rule) e.set(nullptr);
}

// Resolves every entry point of a rule; true when all of them were found.
bool resolve(platform::dynlib_handle module, mwi_rule rule) {
    bool all = true;
    for (const entry_point& e : entry_points) {
        if (e.rule != rule) continue;
        void* address = platform::dynlib_symbol(module, e.name);
        e.set(address);
        all = all && address != nullptr;
    }
    return all;
}

void fail_binding() {
    platform::dynlib_free(gl_mwi.module);
    gl_mwi.module = nullptr;
    empty_slots();
}

// An entry point may hand back a null text; it is printed as empty.
const char* text_or_empty(const char* text) { return text ? text : ""; }

const char* error_text(mwi_handle h) {
    return gl_mwi.GetErrorString_MWI ? text_or_empty(gl_mwi.GetErrorString_MWI(h)) : "";
}

bool can_pair_bound() { return gl_mwi.RegisterCanEvents_MWI && gl_mwi.UnregisterCanEvents_MWI; }

// Ends the controller's session with the library: CAN pass-through first, then
// the communication. The handle stays as it is when CloseComm_MWI fails.
int32_t close_comm(mc_controller* mc) {
    if (can_pair_bound()) {
        gl_mwi.UnregisterCanEvents_MWI(mc->handle);
        const char* text = error_text(mc->handle);
        if (*text) u_sink("mc_close_comm_mpx() error unregistering PDO and EMCY events\n%s\n", text);
    }
    int32_t err = mc_mpx_error(gl_mwi.CloseComm_MWI(mc->handle));
    if (err) return err;
    mc->handle = MWI_INVALID_HANDLE;
    return 0;
}

void restore_can_reception(mc_controller* mc) {
    if (!mc->can_instrument) return;
    if (mc_can_register_own_reception(mc->instrument))
        u_sink("Error registering for OSB processing of CAN events\n");
    else
        u_sink("OSB registered for processing of CAN events\n");
}

int32_t open_comm(mc_controller* mc) {
    if (mc->handle != MWI_INVALID_HANDLE) close_comm(mc);

    mwi_handle h = MWI_INVALID_HANDLE;
    int32_t err = mc_mpx_error(gl_mwi.OpenComm_MWI(mc->name, mc->instrument, &h, mc->open_flag, 1));
    if (err) {
        u_sink("mc_open_comm_mpx() error opening %s err=%d\n", mc->name, err);
        u_sink("mc_open_comm_mpx() error message\n%s\n", error_text(h));
        if (err == ERR_MC_KILL_SWITCH)
            err = ERR_MC_KILL_SWITCH_DURING_INIT;
        else if (err != ERR_MC_CONFIG_CORRUPT && err != ERR_MC_CONFIG_MISSING && err != ERR_MC_CONFIRM_INIT)
            err = ERR_MC_COMM;
        restore_can_reception(mc);
        return err;
    }

    mc->handle = h;
    const char* config = gl_mwi.GetConfigurationFile_MWI ? text_or_empty(gl_mwi.GetConfigurationFile_MWI(h))
                                                         : "Unknown - Look in SystemInfo.config";
    u_sink("  Effective motion config file: %s\n", config);
    if (can_pair_bound() && !gl_mwi.RegisterCanEvents_MWI(h, mc_mwi_pdo_callback, mc_mwi_emcy_callback))
        u_sink("mc_open_comm_mpx() failed to register for PDO and EMCY events\n%s\n", error_text(h));
    return 0;
}

}  // namespace

void mc_controller_init(mc_controller* mc, int32_t report_mode, const char* name) {
    *mc = mc_controller{};
    mc->handle = MWI_INVALID_HANDLE;
    mc->report_mode = report_mode;
    if (name) {
        std::strncpy(mc->name, name, sizeof mc->name - 1);
        mc->name[sizeof mc->name - 1] = '\0';
    }
}

void mc_set_motion_library_name(const char* base_name) {
    library_name = base_name && *base_name ? base_name : default_library_name;
}

const char* mc_motion_library_name() { return library_name.c_str(); }

int32_t mc_bind_motion_library() {
    const std::string file = platform::dynlib_file_name(library_name);
    // A second binding loads the library again before the first reference goes,
    // so a library whose threads are running is never unloaded underneath them.
    platform::dynlib_handle previous = gl_mwi.module;
    platform::dynlib_handle module = platform::dynlib_load(library_name);
    int load_error = platform::dynlib_last_error();
    platform::dynlib_free(previous);
    gl_mwi.module = nullptr;
    empty_slots();
    if (!module) {
        u_sink("Error: %d in loading Ostrabel 10 Motion library %s.\n", load_error, file.c_str());
        return ERR_MPX_NO_DLL;
    }
    gl_mwi.module = module;

    int32_t result = 0;
    for (const entry_point& e : entry_points) {
        if (e.rule != mwi_rule::required && e.rule != mwi_rule::position_a) continue;
        void* address = platform::dynlib_symbol(module, e.name);
        e.set(address);
        if (!address && e.rule == mwi_rule::required) {
            u_sink("Error: %d in loading %s from %s.\n", platform::dynlib_last_error(), e.name, file.c_str());
            result = ERR_MPX_FUNCTION_MAP;
        }
    }
    if (result) {
        fail_binding();
        return result;
    }

    resolve(module, mwi_rule::position_b);
    bool single = gl_mwi.GetPosition_MWI != nullptr;
    bool pair = gl_mwi.GetActualPosition_MWI && gl_mwi.GetCommandedPosition_MWI;
    bool pair_part = gl_mwi.GetActualPosition_MWI || gl_mwi.GetCommandedPosition_MWI;
    if (!((single && !pair_part) || (!single && pair))) {
        u_sink(
            "Error: missing GetPosition_MWI or (GetActualPosition_MWI and GetCommandedPosition_MWI) "
            "functions from %s.\n",
            file.c_str());
        fail_binding();
        return ERR_MPX_FUNCTION_MAP;
    }

    if (!resolve(module, mwi_rule::can_pair)) {
        u_sink("Warning: Motion DLL does not support CAN event notification pass-through.\n");
        u_sink("         Ostrabel may not behave as expected if CAN events are used.\n");
        empty_slots(mwi_rule::can_pair);
    }

    if (!resolve(module, mwi_rule::closed_loop)) {
        u_sink("Info: Motion DLL does not support axis with external closed loop or DMI position instrument\n");
        empty_slots(mwi_rule::closed_loop);
    }

    resolve(module, mwi_rule::optional);
    if (!gl_mwi.SetAlignViewIndicator_MWI)
        u_sink("Info: Motion DLL does not support setting the align/view indicator on the pendent\n");
    if (!gl_mwi.GetConfigurationFile_MWI)
        u_sink("Info: Motion DLL does not support getting the effective motion configuration file\n");
    return 0;
}

void mc_unbind_motion_library() { fail_binding(); }

int32_t mc_mpx_error(int32_t status) {
    switch (status) {
    case 0:
        return 0;
    case 12:
        return ERR_MC_AXIS_BUSY;
    case 17:
        return ERR_MC_NO_HOME;
    case 18:
    case 19:
        return ERR_MC_AXIS_AT_LIMIT;
    case 21:
        return ERR_MC_KILL_SWITCH;
    case 22:
        return ERR_MC_JOYSTICK_ENABLE;
    case 256:
    case 275:
        return ERR_MC_COMM;
    case 267:
        return ERR_MC_AXIS_INACTIVE;
    case 268:
    case 269:
    case 270:
        return ERR_MC_CONFIG;
    case 271:
    case 274:
        return ERR_MC_NEEDS_RESET;
    case 276:
        return ERR_CAN_NODE_NOT_AVAIL;
    case 277:
        return ERR_MC_CONFIRM_INIT;
    case 278:
        return ERR_MC_CONFIG_MISSING;
    case 279:
        return ERR_MC_CONFIG_CORRUPT;
    default:
        return ERR_MC_MISC;
    }
}

int32_t mc_open_comm_mpx(mc_controller* mc) {
    if (mc->report_mode != 3) return ERR_MC_WRONG_MC;
    int32_t err = mc_bind_motion_library();
    if (err) return err;
    gl_mwi.InitMotionWrapperInterface_MWI();

    // The open can take long (the library homes and configures axes); it runs on
    // a thread of its own while this one keeps the host's idle hook going.
    int32_t result = 0;
    platform::thread opener;
    if (opener.start([mc, &result] { result = open_comm(mc); })) {
        while (!opener.join(0)) {
            platform::sleep_ms(1000);
            u_idle();
        }
    } else {
        result = open_comm(mc);
    }
    return result;
}

int32_t mc_close_comm_mpx(mc_controller* mc) {
    if (mc->report_mode != 3) return ERR_MC_WRONG_MC;
    if (mc->handle == MWI_INVALID_HANDLE) return 0;
    // A valid handle without a library means the binding was dropped under it.
    if (!gl_mwi.module) return ERR_MPX_NO_DLL;
    int32_t err = close_comm(mc);
    if (err) return err;
    gl_mwi.CloseMotionWrapperInterface_MWI();
    restore_can_reception(mc);
    return 0;
}

}  // namespace mf
