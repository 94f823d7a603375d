#include "devctl/devctl.h"

#include <atomic>

#include "common/errors.h"
#include "common/msg.h"
#include "devctl/motion.h"

namespace mf {

dev_table gl_DevInfo{};

namespace {

constexpr const char* event_names[DEV_EVENT_COUNT] = {"StartEvent", "StopEvent", "DoneEvent1", "DoneEvent2"};

bool initialized = false;
// Asks the worker to leave its loop at the next "StartEvent"; only dev_free_cntrl sets it.
std::atomic<bool> worker_quit{false};

// A position-report switch may flip a row's enabled field while a read is in
// progress; that one field is therefore read and written atomically.
int32_t enabled_of(const dev_record& row) {
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(row.enabled)).load(std::memory_order_relaxed);
}

void clear_row(dev_record& row) {
    row.handle = DEV_INVALID_HANDLE;
    row.in_use = -1;
    row.type = 0;
    row.enabled = 0;
    row.test = nullptr;
    row.object = nullptr;
}

// The worker takes its own reference to each event, so the table's handles can be
// closed without pulling them from under it.
void worker_loop(platform::event_handle start, platform::event_handle stop, platform::event_handle done1,
                 platform::event_handle done2) {
    dev_table& t = gl_DevInfo;
    for (;;) {
        platform::event_wait(start, platform::wait_forever);
        if (worker_quit.load()) break;

        t.found_type = 0;
        t.found_index = -1;
        int i = 0;
        int eligible = 0;
        for (;;) {
            const dev_record& row = t.rows[i];
            if (row.in_use == 1 && enabled_of(row) == 1 && (row.type & t.mask) != 0 && row.test) {
                ++eligible;
                if (row.test(row.handle, row.object)) {
                    t.found_type = row.type;
                    t.found_index = i;
                    platform::event_set(done1);
                    break;
                }
            }
            int64_t timeout = 0;
            if (++i == dev_row_count) {
                if (t.single_pass) {
                    platform::event_set(done1);
                    break;
                }
                // Nothing to poll: the caller's round runs out on its own.
                if (eligible == 0) break;
                i = 0;
                eligible = 0;
                timeout = 50;
            }
            if (platform::event_wait(stop, timeout)) break;
        }

        platform::event_wait(stop, platform::wait_forever);
        platform::event_reset(start);
        platform::event_set(done2);
    }
    platform::event_close(start);
    platform::event_close(stop);
    platform::event_close(done1);
    platform::event_close(done2);
}

int32_t fail(const char* op, int32_t err) {
    u_sink("%s failed: err=%s\n", op, error_name(err));
    return err;
}

int find_row(dev_handle handle) {
    for (int i = 0; i < dev_row_count; ++i)
        if (gl_DevInfo.rows[i].in_use == 1 && gl_DevInfo.rows[i].handle == handle) return i;
    return -1;
}

// The console-input check: this library reads no console keys, so it reports
// nothing and a console row never ends a wait.
int console_key_row() { return -1; }

void copy_found(const dev_record& row, dev_record* out) {
    if (!out) return;
    out->handle = row.handle;
    out->in_use = row.in_use;
    out->type = row.type;
    out->object = row.object;
}

void close_events(dev_table& t) {
    for (platform::event_handle& e : t.events) {
        platform::event_close(e);
        e = nullptr;
    }
}

int32_t init_failed() {
    u_sink("%s failed: %s\n", "dev_init_cntrl", error_name(ERR_DEV_CNTRL));
    initialized = false;
    return ERR_DEV_CNTRL;
}

}  // namespace

int32_t dev_init_cntrl(bool reset) {
    dev_table& t = gl_DevInfo;
    if (initialized && !reset) return 0;

    for (dev_record& row : t.rows)
        clear_row(row);
    t.count = 0;
    if (!initialized) {
        t.found_index = -1;
        t.found_type = 0;
    }

    bool created = true;
    for (int e = 0; e < DEV_EVENT_COUNT; ++e) {
        if (!t.events[e]) t.events[e] = platform::event_create(event_names[e], true, false);
        created = created && t.events[e];
    }
    if (!created) {
        // A worker exists only with all four events, so there is none yet; no
        // half-made set is kept for the next attempt.
        close_events(t);
        return init_failed();
    }

    if (!t.worker.attached()) {
        worker_quit.store(false);
        platform::event_handle own[DEV_EVENT_COUNT];
        for (int e = 0; e < DEV_EVENT_COUNT; ++e)
            own[e] = platform::event_duplicate(t.events[e]);
        bool started = t.worker.start([own] { worker_loop(own[0], own[1], own[2], own[3]); });
        if (!started) {
            for (platform::event_handle e : own)
                platform::event_close(e);
            close_events(t);
            return init_failed();
        }
    }
    initialized = true;
    return 0;
}

void dev_free_cntrl() {
    dev_table& t = gl_DevInfo;
    if (t.worker.attached()) {
        worker_quit.store(true);
        platform::event_set(t.events[DEV_START_EVENT]);
        t.worker.join(platform::wait_forever);
    }
    close_events(t);
    initialized = false;
}

bool dev_is_initialized() { return initialized; }

bool dev_type_valid(int32_t type) {
    switch (type) {
    case DEV_MOTION:
    case DEV_SERIAL_BOARD:
    case DEV_SERIAL_4:
    case DEV_SERIAL_8:
    case DEV_SERIAL_16:
    case DEV_CONSOLE:
    case DEV_CAN:
        return true;
    default:
        u_sink("%s: dev_type=%d is invalid\n", "dev_type_valid", type);
        return false;
    }
}

int32_t dev_add_device(int32_t type, dev_handle handle, void* object) {
    static constexpr const char* op = "dev_add_device";
    dev_table& t = gl_DevInfo;
    if (!initialized || !dev_type_valid(type)) return fail(op, ERR_DEV_CNTRL);
    // The invalid handle could never be removed again.
    if (handle == DEV_INVALID_HANDLE) return fail(op, ERR_INVALID_PARAM);

    int free_row = -1;
    if (t.count < dev_row_count) {
        for (int i = 0; i < dev_row_count && free_row < 0; ++i)
            if (t.rows[i].in_use == -1) free_row = i;
    }
    if (free_row < 0) {
        u_sink("gl_DevInfo table is full");
        return fail(op, ERR_DEV_CNTRL);
    }

    dev_test_fn test = nullptr;
    switch (type) {
    case DEV_MOTION: {
        if (!object) return fail(op, ERR_INVALID_PARAM);
        switch (static_cast<const mc_controller*>(object)->report_mode) {
        case 1:
            test = dev_serial_input_waiting;
            break;
        case 2:
            test = dev_event_signalled;
            break;
        case 3:
            test = dev_motion_event;
            break;
        default:
            return fail(op, ERR_MC_NOT_AVAIL);
        }
        break;
    }
    case DEV_CONSOLE:
        break;
    case DEV_CAN:
        test = dev_can_events_waiting;
        break;
    default:
        test = dev_serial_input_waiting;
        break;
    }

    dev_record& row = t.rows[free_row];
    row.handle = handle;
    row.in_use = 1;
    row.type = type;
    row.enabled = 1;
    row.test = test;
    row.object = object;
    ++t.count;
    return 0;
}

int32_t dev_remove_device(dev_handle handle) {
    static constexpr const char* op = "dev_remove_device";
    dev_table& t = gl_DevInfo;
    if (!initialized) return fail(op, ERR_DEV_CNTRL);
    if (handle == DEV_INVALID_HANDLE) return fail(op, ERR_INVALID_PARAM);
    int i = t.count > 0 ? find_row(handle) : -1;
    if (i < 0) return fail(op, ERR_PARAM_OUT_OF_RANGE);
    clear_row(t.rows[i]);
    --t.count;
    if (t.found_index == i) {
        t.found_index = -1;
        t.found_type = 0;
    }
    return 0;
}

bool dev_is_registered(dev_handle handle) {
    return initialized && handle != DEV_INVALID_HANDLE && gl_DevInfo.count > 0 && find_row(handle) >= 0;
}

int32_t dev_set_event_state(dev_handle handle, int32_t state) {
    static constexpr const char* op = "dev_set_event_state";
    if (!initialized) return fail(op, ERR_DEV_CNTRL);
    if (handle == DEV_INVALID_HANDLE || (state != 0 && state != 1)) return fail(op, ERR_INVALID_PARAM);
    int i = gl_DevInfo.count > 0 ? find_row(handle) : -1;
    if (i < 0) return fail(op, ERR_PARAM_OUT_OF_RANGE);
    std::atomic_ref<int32_t>(gl_DevInfo.rows[i].enabled).store(state, std::memory_order_relaxed);
    return 0;
}

int32_t dev_data_read(int32_t mask, dev_record* out, bool wait_flag) {
    dev_table& t = gl_DevInfo;
    t.found_type = 0;
    t.found_index = -1;
    if (!initialized || (mask != DEV_ALL_TYPES && !dev_type_valid(mask))) {
        u_sink("%s: %s\n", "dev_data_read", error_name(ERR_DEV_CNTRL));
        return 0;
    }
    t.mask = mask;

    platform::event_handle* ev = t.events;
    for (;;) {
        if (mask & DEV_CONSOLE) {
            int key_row = console_key_row();
            if (key_row >= 0) {
                copy_found(t.rows[key_row], out);
                return DEV_CONSOLE;
            }
        }

        platform::event_reset(ev[DEV_DONE_EVENT1]);
        platform::event_reset(ev[DEV_DONE_EVENT2]);
        platform::event_reset(ev[DEV_STOP_EVENT]);
        t.single_pass = wait_flag ? 0 : 1;
        platform::event_set(ev[DEV_START_EVENT]);
        bool done = platform::event_wait(ev[DEV_DONE_EVENT1], 100);
        platform::event_set(ev[DEV_STOP_EVENT]);
        // The worker must be idle again before the found fields are read.
        platform::event_wait(ev[DEV_DONE_EVENT2], platform::wait_forever);

        if (done && t.found_index >= 0) {
            copy_found(t.rows[t.found_index], out);
            return t.found_type;
        }
        if (!wait_flag) return DEV_NOTHING_FOUND;
    }
}

bool dev_event_signalled(dev_handle, void* object) {
    auto* mc = static_cast<mc_controller*>(object);
    if (!mc || !mc->event || !platform::event_wait(mc->event, 0)) return false;
    platform::event_reset(mc->event);
    return true;
}

bool dev_motion_event(dev_handle, void* object) {
    auto* mc = static_cast<mc_controller*>(object);
    if (!mc) return false;
    // Read once: the host may unbind the library between this test and the call.
    const mwi_fn::HasEvent_MWI has_event =
        std::atomic_ref<mwi_fn::HasEvent_MWI>(gl_mwi.HasEvent_MWI).load(std::memory_order_acquire);
    return has_event && has_event(mc->handle) != 0;
}

}  // namespace mf
