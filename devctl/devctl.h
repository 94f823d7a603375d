// The device control table: devices registered by type, polled by one worker
// thread on behalf of dev_data_read. The caller and the worker meet only through
// four named manual-reset events; the table has no lock and is changed by the
// registration calls only while no dev_data_read is in progress. One
// dev_data_read at a time.
#pragma once

#include <cstdint>

#include "platform/events.h"
#include "platform/threads.h"

namespace mf {

// A device's handle: port, controller or instrument handle.
using dev_handle = std::intptr_t;
inline constexpr dev_handle DEV_INVALID_HANDLE = -1;

// Device types, one bit each.
enum dev_type : int32_t {
    DEV_MOTION = 1,
    DEV_SERIAL_BOARD = 2,
    DEV_SERIAL_4 = 4,
    DEV_SERIAL_8 = 8,
    DEV_SERIAL_16 = 16,
    DEV_CONSOLE = 32,
    DEV_CAN = 64,
};
// The dev_data_read mask for every type.
inline constexpr int32_t DEV_ALL_TYPES = 0xFFFF;
// dev_data_read's result when no device had data.
inline constexpr int32_t DEV_NOTHING_FOUND = 0x10000;

// True when the device has data; never waits. Runs on the worker thread.
using dev_test_fn = bool (*)(dev_handle handle, void* object);

struct dev_record {
    dev_handle handle;  // DEV_INVALID_HANDLE when free
    int32_t in_use;     // 1 in use, -1 free
    int32_t type;       // the dev_type bit
    int32_t enabled;    // 1 polled, 0 skipped
    dev_test_fn test;   // chosen by type; none for the console
    void* object;       // the caller's record for this device
};

inline constexpr int dev_row_count = 10;

enum dev_event_index { DEV_START_EVENT, DEV_STOP_EVENT, DEV_DONE_EVENT1, DEV_DONE_EVENT2, DEV_EVENT_COUNT };

struct dev_table {
    dev_record rows[dev_row_count];
    int32_t count;  // rows in use
    platform::thread worker;
    platform::event_handle events[DEV_EVENT_COUNT];  // "StartEvent", "StopEvent", "DoneEvent1", "DoneEvent2"
    // Hand-over: written by the caller only while the worker idles, by the worker
    // only between "StartEvent" and "DoneEvent2".
    int32_t mask;         // the current request's type mask
    int32_t single_pass;  // 1: one pass over the rows, then report
    int32_t found_index;  // -1 when none
    int32_t found_type;   // 0 when none
};

extern dev_table gl_DevInfo;

// Sets up the table, its events and the worker. Already initialized and no reset:
// nothing. A reset clears the rows and keeps events and worker. ERR_DEV_CNTRL
// when an event or the worker cannot be created.
int32_t dev_init_cntrl(bool reset);
// Stops the worker, closes the events and forgets them; the table is then
// uninitialized.
void dev_free_cntrl();
bool dev_is_initialized();

// True for exactly one of the seven type bits; otherwise prints
// "dev_type_valid: dev_type=<n> is invalid".
bool dev_type_valid(int32_t type);

// Registers a device in the first free row with the test its type calls for.
// ERR_DEV_CNTRL (not initialized, invalid type, table full), ERR_INVALID_PARAM
// (invalid handle; motion controller without a record), ERR_MC_NOT_AVAIL (motion
// controller of an unknown report mode).
int32_t dev_add_device(int32_t type, dev_handle handle, void* object);
// ERR_DEV_CNTRL, ERR_INVALID_PARAM (invalid handle), ERR_PARAM_OUT_OF_RANGE (not
// registered).
int32_t dev_remove_device(dev_handle handle);
bool dev_is_registered(dev_handle handle);
// Switches polling of a registered device on (1) or off (0). ERR_DEV_CNTRL,
// ERR_INVALID_PARAM (invalid handle or state), ERR_PARAM_OUT_OF_RANGE.
int32_t dev_set_event_state(dev_handle handle, int32_t state);

// Waits for a registered device of the mask's types with data: returns its type
// bit and copies handle, in use, type and object of its row into *out (if given).
// Without wait_flag one polling pass (at most 100 ms) and DEV_NOTHING_FOUND when
// nothing had data; with it, 100 ms rounds until a device has data. 0 on a usage
// error (not initialized, mask neither DEV_ALL_TYPES nor one type).
int32_t dev_data_read(int32_t mask, dev_record* out, bool wait_flag);

// The test functions, chosen by dev_add_device.
// Serial port (handle): the port status query succeeds, input is waiting and no
// error flag was set.
bool dev_serial_input_waiting(dev_handle handle, void* object);
// Motion controller of report mode 2 (object: mc_controller): its event is set;
// it is reset.
bool dev_event_signalled(dev_handle handle, void* object);
// Motion controller of report mode 3 (object: mc_controller): HasEvent_MWI on its handle.
bool dev_motion_event(dev_handle handle, void* object);
// CAN instrument (object: sysInfo): can_process_events reports waiting events.
bool dev_can_events_waiting(dev_handle handle, void* object);

}  // namespace mf
