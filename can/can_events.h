// CAN event, PDO and emergency queues.
//
// The interface library's handlers (on its own threads) and the motion library's
// callbacks only append raw PDO and emergency records, each under its own named lock
// ("VaroPdoQueueMutex", "VaroEmcyQueueMutex"). can_process_events moves them, under
// "VaroCanEventMutex", into the emergency event queue and the CAN event queue,
// decoding every PDO into event codes on the way. Lock order: "VaroCanEventMutex"
// first, then one raw-queue lock at a time, held only for one copy or append.
#pragma once

#include <cstddef>
#include <cstdint>

#include "calfile/sysinfo.h"
#include "can/can_api.h"

namespace mf {

// Emergency record as the handler receives it.
struct can_emcy_record {
    uint32_t first;
    uint32_t second;
    uint8_t block[12];  // from the motion library: error code (32-bit), register, 5 bytes
    uint32_t flag;
};
static_assert(sizeof(can_emcy_record) == 24);

inline constexpr int32_t CAN_EMCY_EVENT_KIND = 2;

struct can_emcy_event {
    int32_t kind;  // always CAN_EMCY_EVENT_KIND
    can_emcy_record emcy;
};
static_assert(sizeof(can_emcy_event) == 28);

struct can_event {
    int32_t code;  // can_event_code
    can_pdo pdo;   // the PDO it came from
};
static_assert(sizeof(can_event) == 24);

enum can_event_code : int32_t {
    CAN_EVENT_LLC_DONE = 3,  // light-level control finished
    CAN_EVENT_ZOOM = 4,      // zoom position changed
    CAN_EVENT_WAND_BUTTON1 = 5,
    CAN_EVENT_RS_POSITION0 = 6,  // ring/spot reached position 0
    CAN_EVENT_RS_POSITION1 = 7,
    CAN_EVENT_WAND_BUTTON2 = 8,
    CAN_EVENT_WAND_BUTTON3 = 9,
    CAN_EVENT_SLEEPING = 10,    // once a second while the instrument sleeps
    CAN_EVENT_LLC_ACTIVE = 12,  // light-level control running
    CAN_EVENT_FOCUS_NDW = 13,   // transmit PDO 1 of the focus and ND wheel node
    CAN_EVENT_TURRET = 14,      // turret status changed
};

inline constexpr const char* CAN_EVENT_MUTEX_NAME = "VaroCanEventMutex";
inline constexpr const char* CAN_PDO_QUEUE_MUTEX_NAME = "VaroPdoQueueMutex";
inline constexpr const char* CAN_EMCY_QUEUE_MUTEX_NAME = "VaroEmcyQueueMutex";
// Manual-reset event, created by the Tarn power-on, set whenever the ND wheel stops.
inline constexpr const char* CAN_NDWHEEL_STOPPED_NAME = "CAN_NDWHEEL_STOPPED";

// Closes any lock still open and creates the three locks: 0, or ERR_UNKNOWN (with a
// message naming the lock) when one cannot be created. Safe while the producers
// append: a lock someone holds or waits on is never freed, and one still held is
// opened again rather than replaced.
int32_t CanCreateSyncObjects();

// On: creates the locks, registers the handlers and the PDOs of the system type.
// Off: unregisters the handlers and every PDO. 0, or the mapped library status with
// the message "can_register_events canErr = %d\n".
int32_t can_register_events(const sysInfo* si, bool on);

// Drops the PDO registrations and closes the three locks. The queues are kept.
void can_events_free_resources();

// The handlers given to CAN_RegisterEvents; run on the interface library's threads.
void ReceivePdoHandler(uint32_t waiting, uint8_t overrun);
void ReceiveEmcyHandler(uint32_t first, uint32_t second, const uint8_t* block, uint8_t flag);

// The motion library's producer: the same records into the same raw queues, under the
// same locks. Any thread.
void can_put_pdo(uint32_t cob_id, uint32_t length, const uint8_t* data8);
void can_put_emcy(uint32_t first, uint32_t second, const uint8_t* block12, uint8_t flag);

// Moves the raw queues into the event queues, decoding PDOs for the instrument's
// system type. True when either event queue holds a record afterwards; false, and
// nothing moved, while the locks do not exist.
bool can_process_events(const sysInfo* si);

// The sleep-mode thread's event: appends {code, empty PDO} to the CAN event queue
// under "VaroCanEventMutex". False while the locks do not exist.
bool can_post_event(int32_t code);

// One record for the host, from either event queue.
struct can_host_record {
    int32_t queue;  // 1: CAN event (event valid); 2: emergency event (emcy valid)
    can_event event;
    can_emcy_event emcy;
};
// Takes the oldest record of the two event queues (arrival order across both) under
// "VaroCanEventMutex"; false when both are empty or the locks do not exist.
bool can_take_event(can_host_record* out);

// Queue lengths, for the host's statistics and the tests; each reads under its lock.
size_t can_pdo_queue_length();
size_t can_emcy_queue_length();
size_t can_event_queue_length();
size_t can_emcy_event_queue_length();
// Empties all four queues (the queues otherwise live as long as the program).
void can_clear_event_queues();

// Records that arrived while the locks did not exist, and were therefore dropped.
uint64_t can_events_dropped();
// Times a lock was taken against the documented order (expected to stay 0).
uint64_t can_lock_order_violations();

// PDO decoding state (guarded by "VaroCanEventMutex").
struct can_pdo_decoding {
    uint8_t last_zoom_position;  // 255: none seen
    int32_t llc_state;           // 0 idle, 1 active, 2 finishing
    int32_t last_turret_status;  // -1: none seen
    uint8_t ndw_home_status;     // bits 0x18 of the ND wheel PDO
    uint8_t ndw_moving;          // bit 0x02 of the ND wheel PDO
    bool ndw_moving_seen;
};
can_pdo_decoding can_get_pdo_decoding();
void can_set_pdo_decoding(const can_pdo_decoding& d);
// No zoom position seen, light-level control idle (the power-on's reset).
void can_reset_pdo_decoding();

// The COB-IDs registered for an instrument (at most 8); returns their number.
int can_event_cob_ids(const sysInfo* si, uint32_t* ids8);

}  // namespace mf
