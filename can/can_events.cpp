#include "can/can_events.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

#include "can/can_bus.h"
#include "can/can_sdo.h"
#include "common/error_codes.h"
#include "common/msg.h"
#include "platform/events.h"

namespace mf {

namespace {

using platform::event_handle;

// The three locks. A producer or the consumer takes its own reference to a lock
// (under lock_slots) before it waits on it, so closing a slot never frees a lock
// that someone holds or waits on; and since a named lock stays registered while
// any reference exists, re-creating it then opens that same lock again, so one
// queue never has two locks at a time.
struct lock_slots {
    std::mutex guard;
    event_handle event = nullptr;
    event_handle pdo = nullptr;
    event_handle emcy = nullptr;
};
lock_slots& slots() {
    static lock_slots s;
    return s;
}

enum class which_lock { event, pdo, emcy };

event_handle take_reference(which_lock w) {
    lock_slots& s = slots();
    std::lock_guard<std::mutex> hold(s.guard);
    switch (w) {
    case which_lock::event:
        return platform::event_duplicate(s.event);
    case which_lock::pdo:
        return platform::event_duplicate(s.pdo);
    case which_lock::emcy:
        return platform::event_duplicate(s.emcy);
    }
    return nullptr;
}

// Raw queues: guarded by their own lock.
std::deque<can_pdo> pdo_queue;
std::deque<can_emcy_record> emcy_queue;

// Event queues and everything below: guarded by "VaroCanEventMutex". Each record
// carries its arrival number so the host can take both queues in arrival order.
struct numbered_event {
    uint64_t number;
    can_event record;
};
struct numbered_emcy {
    uint64_t number;
    can_emcy_event record;
};
std::deque<numbered_event> event_queue;
std::deque<numbered_emcy> emcy_event_queue;
uint64_t next_number = 0;

constexpr can_pdo_decoding initial_decoding{255, 0, -1, 0, 0, false};
can_pdo_decoding decoding = initial_decoding;

std::atomic<uint64_t> dropped{0};
std::atomic<uint64_t> order_violations{0};

// Which locks this thread holds, to check the lock order as it is used.
thread_local bool holding_event_mutex = false;
thread_local int raw_locks_held = 0;

constexpr uint8_t zoom_code_position[8] = {0, 6, 5, 4, 3, 2, 1, 7};

// Holds "VaroCanEventMutex" for a scope; ok() is false when it does not exist.
class event_lock {
public:
    event_lock() : handle_(take_reference(which_lock::event)) {
        if (!handle_) return;
        if (raw_locks_held > 0 || holding_event_mutex) order_violations.fetch_add(1);
        platform::event_wait(handle_, platform::wait_forever);
        holding_event_mutex = true;
    }
    ~event_lock() {
        if (!handle_) return;
        holding_event_mutex = false;
        platform::event_set(handle_);
        platform::event_close(handle_);
    }
    event_lock(const event_lock&) = delete;
    event_lock& operator=(const event_lock&) = delete;
    bool ok() const { return handle_ != nullptr; }

private:
    event_handle handle_;
};

// Holds one raw-queue lock for a scope.
class raw_lock {
public:
    explicit raw_lock(which_lock w) : handle_(take_reference(w)) {
        if (!handle_) return;
        if (raw_locks_held > 0) order_violations.fetch_add(1);
        platform::event_wait(handle_, platform::wait_forever);
        ++raw_locks_held;
    }
    ~raw_lock() {
        if (!handle_) return;
        --raw_locks_held;
        platform::event_set(handle_);
        platform::event_close(handle_);
    }
    raw_lock(const raw_lock&) = delete;
    raw_lock& operator=(const raw_lock&) = delete;
    bool ok() const { return handle_ != nullptr; }

private:
    event_handle handle_;
};

void append_pdo(const can_pdo& p) {
    raw_lock hold(which_lock::pdo);
    if (!hold.ok()) {
        dropped.fetch_add(1);
        return;
    }
    // Out of memory the record is dropped and counted: nothing may be thrown into
    // the interface library's thread.
    try {
        pdo_queue.push_back(p);
    } catch (const std::bad_alloc&) {
        dropped.fetch_add(1);
    }
}

void append_emcy(const can_emcy_record& r) {
    raw_lock hold(which_lock::emcy);
    if (!hold.ok()) {
        dropped.fetch_add(1);
        return;
    }
    try {
        emcy_queue.push_back(r);
    } catch (const std::bad_alloc&) {
        dropped.fetch_add(1);
    }
}

// Called with slots().guard held.
void close_locks_held(lock_slots& s) {
    for (event_handle* h : {&s.event, &s.pdo, &s.emcy}) {
        platform::event_close(*h);
        *h = nullptr;
    }
}

bool brush_motor_family(int32_t t) { return t == 11 || t == 13 || t == 22 || t == 29 || t == 31 || t == 35; }
bool tarn_family(int32_t t) { return t == 23 || t == 25 || t == 26 || t == 30 || t == 32 || t == 33; }

// The event codes of one PDO, in the order they are queued; returns their number.
int decode_pdo(const sysInfo* si, const can_state* cs, const can_pdo& p, int32_t* codes) {
    int n = 0;
    const uint8_t node = can_pdo_node(p);
    const uint32_t function = can_pdo_function(p);
    const uint8_t b0 = p.data[0];
    const int32_t type = si->sysType;

    if (brush_motor_family(type)) {
        if (node != CAN_NODE_ID_BRUSHMOTOR) return 0;
        if (function == 3 && cs && cs->motor.turret_type == TURRET_ENCODED) {
            if (b0 != decoding.last_turret_status) {
                decoding.last_turret_status = b0;
                codes[n++] = CAN_EVENT_TURRET;
            }
        }
        if (function == 5) {
            if (decoding.llc_state == 2) {
                if (!(b0 & 0x20)) {
                    codes[n++] = CAN_EVENT_LLC_DONE;
                    decoding.llc_state = 0;
                }
            } else if (decoding.llc_state == 1) {
                decoding.llc_state = (b0 & 0x08) ? 1 : 2;
            }
            if (b0 & 0x08) {
                codes[n++] = CAN_EVENT_LLC_ACTIVE;
                decoding.llc_state = 1;
            }
            const uint8_t zoom_code = p.data[1];
            if (zoom_code <= 7) {
                const uint8_t position = zoom_code_position[zoom_code];
                if (position != decoding.last_zoom_position) {
                    decoding.last_zoom_position = position;
                    codes[n++] = CAN_EVENT_ZOOM;
                }
            }
        }
        return n;
    }

    if (!tarn_family(type)) return 0;
    if ((node == CAN_NODE_ID_WAND || node == CAN_NODE_ID_WAND2) && function == 3) {
        if (b0 == 1) codes[n++] = CAN_EVENT_WAND_BUTTON1;
        if (b0 == 2) codes[n++] = CAN_EVENT_WAND_BUTTON2;
        if (b0 == 3) codes[n++] = CAN_EVENT_WAND_BUTTON3;
    }
    if (node == CAN_NODE_ID_FOCUS_NDW && function == 5) {
        decoding.ndw_home_status = b0 & 0x18;
        decoding.ndw_moving = b0 & 0x02;
        if (decoding.ndw_moving) {
            decoding.ndw_moving_seen = true;
        } else {
            if (decoding.ndw_moving_seen) {
                if (event_handle stopped = platform::event_open(CAN_NDWHEEL_STOPPED_NAME)) {
                    platform::event_set(stopped);
                    platform::event_close(stopped);
                }
            }
            decoding.ndw_moving_seen = false;
        }
    }
    if (node == CAN_NODE_ID_DD_RS && function == 5 && type != 26 && !(b0 & 0x02)) {
        if (p.data[2] == 1) codes[n++] = CAN_EVENT_RS_POSITION0;
        if (p.data[2] == 2) codes[n++] = CAN_EVENT_RS_POSITION1;
    }
    if ((type == 23 || type == 30 || type == 32 || type == 33) && node == CAN_NODE_ID_FOCUS_NDW && function == 3)
        codes[n++] = CAN_EVENT_FOCUS_NDW;
    return n;
}

}  // namespace

int32_t CanCreateSyncObjects() {
    lock_slots& s = slots();
    std::lock_guard<std::mutex> hold(s.guard);
    close_locks_held(s);
    struct lock_to_make {
        event_handle* slot;
        const char* name;
        const char* shown;
    };
    const lock_to_make locks[] = {
        {&s.event, CAN_EVENT_MUTEX_NAME, "CanEventMutex"},
        {&s.pdo, CAN_PDO_QUEUE_MUTEX_NAME, "PdoQueueMutex"},
        {&s.emcy, CAN_EMCY_QUEUE_MUTEX_NAME, "EmcyQueueMutex"},
    };
    for (const lock_to_make& l : locks) {
        *l.slot = platform::event_create(l.name, false, true);
        if (!*l.slot) {
            u_sink("CanCreateSyncObjects: Cannot create %s\n", l.shown);
            return ERR_UNKNOWN;
        }
    }
    return 0;
}

int can_event_cob_ids(const sysInfo* si, uint32_t* ids) {
    if (!si || si->boardType != BOARD_CAN) return 0;
    const can_state* cs = can_state_of(si);
    int n = 0;
    switch (si->sysType) {
    case 11:
    case 13:
    case 22:
    case 29:
    case 31:
    case 35: {
        if (!cs) return 0;
        const uint32_t product = si->canInfo ? static_cast<uint32_t>(si->canInfo->brush_product_id) : 0;
        if (cs->motor.turret_type == TURRET_ENCODED) ids[n++] = 0x1BF;
        if ((cs->motor.zoom_type == ZOOM_MOTORIZED && product == CAN_BRMOTOR_PRODUCT_D5) ||
            (cs->motor.zoom_type == ZOOM_ENCODED &&
             (product == CAN_BRMOTOR_PRODUCT_D5 || product == CAN_BRMOTOR_PRODUCT_D7)))
            ids[n++] = 0x2BF;
        break;
    }
    case 23:
    case 30:
    case 32:
    case 33:
        for (uint32_t id : {0x1C0u, 0x1C8u, 0x1C9u, 0x2C0u, 0x2C4u})
            ids[n++] = id;
        break;
    case 25:
        for (uint32_t id : {0x1C8u, 0x1C9u, 0x2C0u, 0x2C4u})
            ids[n++] = id;
        break;
    case 26:
        for (uint32_t id : {0x1C8u, 0x1C9u, 0x2C0u})
            ids[n++] = id;
        break;
    default:
        break;
    }
    return n;
}

int32_t can_register_events(const sysInfo* si, bool on) {
    int32_t status;
    if (on) {
        CanCreateSyncObjects();
        status = can_lib().CAN_RegisterEvents(&ReceivePdoHandler, &ReceiveEmcyHandler);
        if (status == CAN_OK) {
            uint32_t ids[8];
            const int n = can_event_cob_ids(si, ids);
            for (int i = 0; i < n; ++i) {
                can_pdo p{};
                p.cob_id = ids[i];
                can_lib().CAN_RegisterPDO(&p);
            }
            return 0;
        }
    } else {
        status = can_lib().CAN_RegisterEvents(nullptr, nullptr);
        if (status == CAN_OK) status = can_lib().CAN_UnregisterPDOs();
        if (status == CAN_OK) return 0;
    }
    u_sink("can_register_events canErr = %d\n", status);
    return can_status_error(status);
}

void can_events_free_resources() {
    int32_t status = can_lib().CAN_UnregisterPDOs();
    if (status != CAN_OK) u_sink("can_events_free_resources canErr = %d\n", status);
    lock_slots& s = slots();
    std::lock_guard<std::mutex> hold(s.guard);
    close_locks_held(s);
}

void ReceivePdoHandler(uint32_t waiting, uint8_t overrun) {
    if (overrun) u_sink("ReceivePdo overrun.\n");
    for (uint32_t i = 0; i < waiting; ++i) {
        can_pdo p{};
        int32_t status = can_lib().CAN_GetPDO(&p);
        if (status != CAN_OK) {
            u_sink("ReceivePdoHandler canErr = %d\n", status);
            continue;
        }
        append_pdo(p);
    }
}

void ReceiveEmcyHandler(uint32_t first, uint32_t second, const uint8_t* block, uint8_t flag) {
    can_emcy_record r{};
    r.first = first;
    r.second = second;
    if (block) std::memcpy(r.block, block, sizeof r.block);
    r.flag = flag;
    append_emcy(r);
}

void can_put_pdo(uint32_t cob_id, uint32_t length, const uint8_t* data8) {
    can_pdo p{};
    p.cob_id = cob_id;
    p.word2 = length;
    if (data8) std::memcpy(p.data, data8, sizeof p.data);
    append_pdo(p);
}

void can_put_emcy(uint32_t first, uint32_t second, const uint8_t* block12, uint8_t flag) {
    ReceiveEmcyHandler(first, second, block12, flag);
}

bool can_process_events(const sysInfo* si) {
    event_lock hold;
    if (!hold.ok()) return false;
    const can_state* cs = can_state_of(si);

    for (;;) {
        can_emcy_record r;
        {
            raw_lock q(which_lock::emcy);
            if (!q.ok() || emcy_queue.empty()) break;
            r = emcy_queue.front();
            emcy_queue.pop_front();
        }
        emcy_event_queue.push_back({next_number++, {CAN_EMCY_EVENT_KIND, r}});
    }

    // Without an instrument there is no system type to decode for: PDOs wait.
    while (si) {
        can_pdo p;
        {
            raw_lock q(which_lock::pdo);
            if (!q.ok() || pdo_queue.empty()) break;
            p = pdo_queue.front();
            pdo_queue.pop_front();
        }
        int32_t codes[4];
        const int n = decode_pdo(si, cs, p, codes);
        for (int i = 0; i < n; ++i)
            event_queue.push_back({next_number++, {codes[i], p}});
    }

    return !event_queue.empty() || !emcy_event_queue.empty();
}

bool can_post_event(int32_t code) {
    event_lock hold;
    if (!hold.ok()) return false;
    event_queue.push_back({next_number++, {code, can_pdo{}}});
    return true;
}

bool can_take_event(can_host_record* out) {
    event_lock hold;
    if (!hold.ok() || !out) return false;
    const bool have_event = !event_queue.empty();
    const bool have_emcy = !emcy_event_queue.empty();
    if (!have_event && !have_emcy) return false;
    *out = can_host_record{};
    if (have_event && (!have_emcy || event_queue.front().number < emcy_event_queue.front().number)) {
        out->queue = 1;
        out->event = event_queue.front().record;
        event_queue.pop_front();
    } else {
        out->queue = 2;
        out->emcy = emcy_event_queue.front().record;
        emcy_event_queue.pop_front();
    }
    return true;
}

size_t can_pdo_queue_length() {
    raw_lock hold(which_lock::pdo);
    return pdo_queue.size();
}
size_t can_emcy_queue_length() {
    raw_lock hold(which_lock::emcy);
    return emcy_queue.size();
}
size_t can_event_queue_length() {
    event_lock hold;
    return event_queue.size();
}
size_t can_emcy_event_queue_length() {
    event_lock hold;
    return emcy_event_queue.size();
}

void can_clear_event_queues() {
    event_lock hold;
    emcy_event_queue.clear();
    event_queue.clear();
    {
        raw_lock q(which_lock::emcy);
        emcy_queue.clear();
    }
    raw_lock q(which_lock::pdo);
    pdo_queue.clear();
}

uint64_t can_events_dropped() { return dropped.load(); }
uint64_t can_lock_order_violations() { return order_violations.load(); }

can_pdo_decoding can_get_pdo_decoding() {
    event_lock hold;
    return decoding;
}

void can_set_pdo_decoding(const can_pdo_decoding& d) {
    event_lock hold;
    decoding = d;
}

void can_reset_pdo_decoding() {
    event_lock hold;
    decoding.last_zoom_position = 255;
    decoding.llc_state = 0;
}

}  // namespace mf
