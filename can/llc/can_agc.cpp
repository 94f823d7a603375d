#include "can/llc/can_agc.h"

#include <atomic>
#include <mutex>

#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/llc/agc_law.h"
#include "can/nodes/can_nodes.h"
#include "common/alloc.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/msg.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/threads.h"

namespace mf {

namespace {

constexpr const char* thread_name = "can_agc_thread_func";
constexpr int64_t stop_limit_ms = 5000;
constexpr int settle_steps = 300;
constexpr int64_t settle_step_ms = 10;
constexpr int64_t settle_without_event_ms = 1300;
constexpr int64_t settle_without_wheel_ms = 250;

// What a thread works with, fixed when it starts. The stop event is the thread's own
// reference, so closing the module's handle never frees it under the thread.
struct thread_args {
    sysInfo* si;
    platform::event_handle stop;
    agc_frame_source source;
    int32_t target;
};

struct agc_module {
    platform::event_handle stop = nullptr;
    platform::thread thread;
    std::atomic<int32_t> active{0};
    int32_t requested = 0;
    int32_t holds = 0;
    // Set under end_lock by an ending thread (only can_agc_thread_exists is
    // cleared after it); an error clears the active value with it, so a start
    // never sees a thread that is about to end.
    std::mutex end_lock;
    bool ending = false;
    // A stop was asked of the attached thread (it may outlive a stop that timed out,
    // and even the stop event it was started with).
    bool stopping = false;
    std::mutex host_lock;
    agc_frame_source source;
    bool has_source = false;
    can_agc_settings settings;
};

agc_module& module() {
    static agc_module m;
    return m;
}

bool agc_family(int32_t sys_type) {
    switch (sys_type) {
    case 23:
    case 25:
    case 26:
    case 30:
    case 32:
    case 33:
        return true;
    default:
        return false;
    }
}

bool agc_applies(const sysInfo* si) {
    const can_state* cs = can_state_of(si);
    return si && si->boardType == 8 && agc_family(si->sysType) && cs && cs->required.focus_ndw;
}

// Reaps a thread that has ended; true while one is still attached (running, or
// stuck after a stop that timed out).
bool thread_attached() {
    agc_module& m = module();
    if (!m.thread.attached()) return false;
    bool ended;
    {
        std::lock_guard<std::mutex> hold(m.end_lock);
        ended = m.ending;
    }
    if (!ended) return true;
    m.thread.join(platform::wait_forever);
    std::lock_guard<std::mutex> hold(m.end_lock);
    m.ending = false;
    m.stopping = false;
    return false;
}

// A thread that runs and has not been asked to stop.
bool thread_runs() { return thread_attached() && !module().stopping; }

// A wait of the loop, followed by the host's idle hook.
void pause(int64_t ms) {
    platform::sleep_ms(ms);
    u_idle();
}

// Waits for the ND wheel to settle after a level write: the stopped event is looked
// at every 10 ms, after the CAN events that arrived meanwhile are processed.
int32_t wait_for_wheel(const sysInfo* si) {
    const can_state* cs = can_state_of(si);
    if (!cs || !cs->required.focus_ndw) {
        pause(settle_without_wheel_ms);
        return 0;
    }
    platform::event_handle stopped = platform::event_open(CAN_NDWHEEL_STOPPED_NAME);
    if (!stopped) {
        pause(settle_without_event_ms);
        return 0;
    }
    int32_t err = ERR_HW_FAIL;
    for (int step = 0; step < settle_steps; ++step) {
        pause(settle_step_ms);
        can_process_events(si);
        if (platform::event_is_set(stopped)) {
            err = 0;
            break;
        }
    }
    platform::event_close(stopped);
    return err;
}

// One frame into `pixels`: copied from the live frame buffer, or grabbed and copied.
int32_t get_frame(const thread_args& a, bool live, void* pixels, size_t size) {
    if (!live) {
        if (int32_t err = a.source.grab(a.source.context)) {
            u_msg_time("%s: Error grabbing frame: %s\n", thread_name, error_name(err));
            return err;
        }
    }
    if (int32_t err = a.source.copy(a.source.context, pixels, size)) {
        u_msg_time("%s: Error copying frame: %s\n", thread_name, error_name(err));
        return err;
    }
    return 0;
}

// The camera as the loop needs it: an image of at least one pixel, 1- or 2-byte
// pixels and 1 to 16 significant bits (at most 8 in 1-byte pixels).
int32_t read_camera(const thread_args& a, agc_camera* cam) {
    if (!a.source.camera || !a.source.grab || !a.source.copy) {
        u_msg_time("%s: No frame source\n", thread_name);
        return ERR_INTERNAL_HX;
    }
    if (int32_t err = a.source.camera(a.source.context, cam)) {
        u_msg_time("%s: Error reading the camera settings: %s\n", thread_name, error_name(err));
        return err;
    }
    const bool bytes_ok = cam->bytes_per_pixel == 1 || cam->bytes_per_pixel == 2;
    const bool bits_ok = cam->bits >= 1 && cam->bits <= 8 * cam->bytes_per_pixel;
    const bool size_ok = cam->decimation >= 1 && cam->width >= cam->decimation && cam->height >= cam->decimation;
    if (!bytes_ok || !bits_ok || !size_ok) {
        u_msg_time("%s: Invalid camera settings %dx%d/%d, %d bytes, %d bits\n", thread_name, cam->width, cam->height,
                   cam->decimation, cam->bytes_per_pixel, cam->bits);
        return ERR_INVALID_PARAM;
    }
    return 0;
}

// Writes a level and waits for the wheel: 0 or the failure, reported.
int32_t write_level(const thread_args& a, agc_loop& loop, uint16_t level) {
    if (int32_t err = can_write_ndw_llcLevel(a.si, true, level)) {
        u_msg_time("%s: Error setting NDW: %s\n", thread_name, error_name(err));
        return err;
    }
    agc_on_written(loop, level);
    if (int32_t err = wait_for_wheel(a.si)) {
        u_msg_time("%s: Error waiting for LLC: %s\n", thread_name, error_name(err));
        return err;
    }
    agc_on_settled(loop);
    return 0;
}

int32_t run_loop(const thread_args& a) {
    if (!a.stop) {
        u_msg_time("%s: can_agc_stop_event = NULL\n", thread_name);
        return ERR_INTERNAL_HX;
    }
    agc_camera cam;
    if (int32_t err = read_camera(a, &cam)) return err;
    const size_t count = static_cast<size_t>(cam.width / cam.decimation) * (cam.height / cam.decimation);
    const size_t size = count * cam.bytes_per_pixel;
    u_buffer<uint8_t> frame(size);
    if (!frame) {
        u_msg_time("%s: Error allocating frame buffer: %s\n", thread_name, error_name(ERR_NO_MEM));
        return ERR_NO_MEM;
    }
    u_buffer<uint32_t> histogram(size_t{1} << cam.bits);
    if (!histogram) {
        u_msg_time("%s: Error allocating histogram: %s\n", thread_name, error_name(ERR_NO_MEM));
        return ERR_NO_MEM;
    }
    uint16_t start = 0;
    if (int32_t err = can_read_ndw_llcLevel(a.si, true, &start)) {
        u_msg_time("%s: Error reading ND wheel light level: %s\n", thread_name, error_name(err));
        return err;
    }
    agc_loop loop = agc_loop_start(cam.bits, a.target, cam.live, cam.frame_rate, start);
    while (!platform::event_is_set(a.stop)) {
        agc_decision d;
        if (int32_t err = get_frame(a, cam.live, frame.get(), size)) {
            d = agc_on_failure(loop, err);
        } else {
            if (platform::event_is_set(a.stop)) break;
            d = agc_on_frame(loop, frame.get(), count, cam.bytes_per_pixel, histogram.get());
            if (d.action == agc_action::write) {
                if (int32_t err = write_level(a, loop, d.level)) d = agc_on_failure(loop, err);
            }
        }
        if (d.action == agc_action::end) return d.error;
        if (d.action == agc_action::next && d.wait_ms > 0) pause(d.wait_ms);
    }
    return 0;
}

void thread_body(thread_args a) {
    const int32_t err = run_loop(a);
    platform::event_close(a.stop);
    agc_module& m = module();
    {
        std::lock_guard<std::mutex> hold(m.end_lock);
        if (err) m.active = 0;
        m.ending = true;
    }
    // Last: whoever sees no thread also sees the active value it left (a reap
    // waits for this body to return, so a new thread's flag comes after).
    can_agc_thread_exists = false;
}

}  // namespace

void can_agc_set_frame_source(const agc_frame_source* source) {
    agc_module& m = module();
    std::lock_guard<std::mutex> hold(m.host_lock);
    m.has_source = source != nullptr;
    m.source = source ? *source : agc_frame_source{};
}

void can_agc_set_settings(const can_agc_settings& settings) {
    agc_module& m = module();
    std::lock_guard<std::mutex> hold(m.host_lock);
    m.settings = settings;
}

can_agc_settings can_agc_get_settings() {
    agc_module& m = module();
    std::lock_guard<std::mutex> hold(m.host_lock);
    return m.settings;
}

int32_t can_agc_init() {
    agc_module& m = module();
    if (!m.stop) {
        m.stop = platform::event_create(nullptr, true, false);
        if (!m.stop) {
            u_msg_time("%s: Error creating event object\n", "can_agc_init");
            return ERR_INTERNAL_HX;
        }
    }
    m.active = 0;
    m.requested = 0;
    m.holds = 0;
    return 0;
}

int32_t can_agc_start_thread(sysInfo* si) {
    agc_module& m = module();
    if (thread_attached()) {
        // One thread at most: a running one goes on; one that is stopping cannot be
        // replaced until it has ended.
        if (!m.stopping) return 0;
        u_msg_time("%s: Failed to create AGC thread\n", "can_agc_start_thread");
        return ERR_INTERNAL_HX;
    }
    platform::event_reset(m.stop);
    thread_args a{si, platform::event_duplicate(m.stop), {}, 0};
    {
        std::lock_guard<std::mutex> hold(m.host_lock);
        a.source = m.source;
        a.target = m.settings.target >= 0 ? m.settings.target : (si ? si->llc.target : 0);
    }
    can_agc_thread_exists = true;
    if (!m.thread.start([a] { thread_body(a); })) {
        can_agc_thread_exists = false;
        platform::event_close(a.stop);
        u_msg_time("%s: Failed to create AGC thread\n", "can_agc_start_thread");
        return ERR_INTERNAL_HX;
    }
    return 0;
}

int32_t can_agc_stop_thread() {
    agc_module& m = module();
    if (!thread_attached()) return 0;
    m.stopping = true;
    platform::event_set(m.stop);
    if (!m.thread.join(stop_limit_ms)) {
        u_msg_time("%s: failed to stop thread within %g sec\n", "can_agc_stop_thread", stop_limit_ms / 1000.0);
        return ERR_INTERNAL_HX;
    }
    std::lock_guard<std::mutex> hold(m.end_lock);
    m.ending = false;
    m.stopping = false;
    return 0;
}

namespace {

// The light path decides whether the camera sees the light the ND wheel sets.
int32_t camera_sees_wheel(const sysInfo* si, bool* sees) {
    if (si->sysType == 26) {
        uint8_t position = 0;
        if (int32_t err = can_read_aux_position(si, &position)) return err;
        *sees = position != 1;
        return 0;
    }
    *sees = can_agc_get_settings().light_path != AGC_PATH_VIEWING;
    return 0;
}

bool agc_enabled() { return can_agc_get_settings().enabled; }

// Makes a value the active one and starts the thread for it; a start that fails
// leaves light-level control off.
int32_t activate(sysInfo* si, int32_t value) {
    agc_module& m = module();
    m.active = value;
    const int32_t err = can_agc_start_thread(si);
    if (err) m.active = 0;
    return err;
}

}  // namespace

int32_t can_agc_start(sysInfo* si, int32_t value) {
    if (!agc_applies(si)) {
        u_msg_time("%s: CAN AGC is not applicable\n", "can_agc_start");
        return 0;
    }
    if (value == 0) return ERR_INVALID_PARAM;
    bool sees = false;
    if (int32_t err = camera_sees_wheel(si, &sees)) return err;
    if (!sees) return 0;
    agc_module& m = module();
    m.requested = value;
    if (m.holds > 0 || !agc_enabled()) return 0;
    if (!thread_runs()) return activate(si, value);
    m.active = value;
    return 0;
}

int32_t can_agc_stop(sysInfo* si) {
    if (!agc_applies(si)) return 0;
    agc_module& m = module();
    // A stop while held is not undone by the release.
    m.requested = 0;
    if (!thread_runs()) return 0;
    const int32_t err = can_agc_stop_thread();
    m.active = 0;
    m.holds = 0;
    if (err) return err;
    uint16_t level = 0;
    if (int32_t read = can_read_ndw_llcLevel(si, true, &level)) return read;
    can_agc_settings s = can_agc_get_settings();
    s.level = level;
    can_agc_set_settings(s);
    return 0;
}

int32_t can_agc_hold(sysInfo* si, bool hold) {
    agc_module& m = module();
    if (hold) {
        ++m.holds;
        if (!thread_runs()) return 0;
        const int32_t err = can_agc_stop_thread();
        m.requested = m.active.exchange(0);
        return err;
    }
    if (m.holds > 0) --m.holds;
    if (m.holds > 0 || thread_attached() || m.requested == 0 || !agc_enabled()) return 0;
    return activate(si, m.requested);
}

void can_agc_shutdown() {
    agc_module& m = module();
    can_agc_stop_thread();
    platform::event_close(m.stop);
    m.stop = nullptr;
}

int32_t can_agc_active_value() { return module().active; }

int32_t ac_llc_mode(sysInfo* si, int32_t mode) {
    if (mode < 0 || mode > 2) return ERR_INVALID_PARAM;
    if (!agc_applies(si)) return 0;
    const int32_t err = can_agc_stop(si);
    if (mode == 0 || err) return err;
    return can_agc_start(si, mode);
}

}  // namespace mf
