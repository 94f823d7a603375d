// Automatic light-level control: a background thread that grabs camera frames, finds
// the brightness of the brightest 100 pixels and drives the ND wheel's light level
// until that brightness sits within 1/32 of full scale of the target. One thread at
// most; the entry points are called from the instrument's control thread.
#pragma once

#include <cstdint>

#include "calfile/sysinfo.h"
#include "can/llc/agc_host.h"

namespace mf {

// Creates the stop event (once) and clears the active value, the requested value and
// the hold count. ERR_INTERNAL_HX when the event cannot be made.
int32_t can_agc_init();
// Starts light-level control with a non-zero value on a CAN instrument of the family
// with an ND wheel (elsewhere: a message and 0). Kept as the requested value; runs
// when no hold is in force and control is enabled. A running thread is kept (its
// active value becomes the new one): there is never a second thread.
int32_t can_agc_start(sysInfo* si, int32_t value);
// Resets the stop event and starts the thread: ERR_INTERNAL_HX when it cannot.
int32_t can_agc_start_thread(sysInfo* si);
// Sets the stop event and waits up to 5000 ms for the thread: ERR_INTERNAL_HX when it
// does not end in time (it stays attached and keeps what it uses).
int32_t can_agc_stop_thread();
// Stops a running thread, clears the values and the hold count, and stores the ND
// wheel's level as the current light source's level.
int32_t can_agc_stop(sysInfo* si);
// true = hold (nested; a running thread stops and its value waits), false = release
// (the last release restarts a requested value).
int32_t can_agc_hold(sysInfo* si, bool hold);
// Stops the thread if it runs and closes the stop event.
void can_agc_shutdown();
// The value the running thread was started with; 0 when off.
int32_t can_agc_active_value();
// Light-level control mode: 0 stops, 1 and 2 (re)start with the mode as the value;
// anything else ERR_INVALID_PARAM.
int32_t ac_llc_mode(sysInfo* si, int32_t mode);

}  // namespace mf
