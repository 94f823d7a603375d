// The motion wrapper library: run-time binding, the status map and the open and
// close of a wrapper-driven controller, with the CAN pass-through callbacks.
//
// Binding, opening and closing run on the caller's thread (the open itself on a
// helper thread it waits for); the binding table is read by other threads only
// after a successful binding.
#pragma once

#include <cstdint>

#include "devctl/motion_api.h"
#include "platform/dynlib.h"
#include "platform/events.h"

namespace mf {

struct sysInfo;

// The part of a motion controller record that device control and the wrapper
// binding use. The handle comes first: the device table's motion test reads it.
struct mc_controller {
    mwi_handle handle;             // MWI_INVALID_HANDLE when not open
    int32_t report_mode;           // 1 serial input, 2 event object, 3 motion library
    platform::event_handle event;  // signalled by the back end in report mode 2
    char name[64];                 // the controller name of the open request
    uint8_t open_flag;             // the open request's flag byte, passed to OpenComm_MWI
    int32_t can_instrument;        // non-zero when the instrument is a CAN instrument
    sysInfo* instrument;           // passed through to OpenComm_MWI unchanged
};

// Fills a record for a closed controller of the given report mode.
void mc_controller_init(mc_controller* mc, int32_t report_mode, const char* name);

// One slot per entry point (null when not bound) and the module.
struct mwi_binding {
    platform::dynlib_handle module;
#define MF_MWI_SLOT(name, rule, result, params) mwi_fn::name name;
    MF_MWI_ENTRY_POINTS(MF_MWI_SLOT)
#undef MF_MWI_SLOT
};

// The process-wide binding table.
extern mwi_binding gl_mwi;

// The base name the library is loaded by, "MotionWrapperInterface" unless set.
// A host or a test may choose another build of the library; null restores it.
void mc_set_motion_library_name(const char* base_name);
const char* mc_motion_library_name();

// Loads the library and fills the table by the binding rules. 0, ERR_MPX_NO_DLL or
// ERR_MPX_FUNCTION_MAP; a failure frees the library and empties every slot.
int32_t mc_bind_motion_library();
// Frees the library and empties every slot.
void mc_unbind_motion_library();

// The library's status as one of the library's error numbers (0 for 0).
int32_t mc_mpx_error(int32_t status);

// Opens a report-mode-3 controller through the library (binding it first).
// ERR_MC_WRONG_MC for another mode; binding errors; ERR_MC_CONFIG_CORRUPT,
// ERR_MC_CONFIG_MISSING, ERR_MC_CONFIRM_INIT, ERR_MC_KILL_SWITCH_DURING_INIT or
// ERR_MC_COMM when OpenComm_MWI fails.
int32_t mc_open_comm_mpx(mc_controller* mc);
// Closes it. ERR_MC_WRONG_MC for another mode; a closed controller is success;
// the mapped CloseComm_MWI status otherwise.
int32_t mc_close_comm_mpx(mc_controller* mc);

// The callbacks handed to RegisterCanEvents_MWI: each appends one record to the
// CAN raw PDO or emergency queue under its lock. Any thread.
void mc_mwi_pdo_callback(uint32_t cob_id, uint32_t length, const uint8_t* data);
void mc_mwi_emcy_callback(uint32_t first, uint32_t second, uint32_t error_code, uint8_t error_register,
                          const uint8_t* manufacturer);

}  // namespace mf
