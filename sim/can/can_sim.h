// The virtual CAN instrument: a network of CAN bridges and the nodes behind the one
// the host connects to, implementing the 17 operations of the CAN interface library.
// Used in-process through can_sim_api(), or as the loadable library "VaroCANopen".
//
// PDOs and emergency messages are delivered on the simulator's own thread through the
// handlers the host registers, as the maker's library does. Faults are injected per
// operation (any status for any number of calls), per object (SDO aborts), per node
// (operational only after n polls, or never) and per bridge (errors until reset).
//
// It is as strict as the hardware: every call that reaches the bridge or the bus
// answers -2 (not connected) before CAN_Connect and after CAN_Disconnect, and a
// bridge reset or a new bridge configuration drops the connection; nothing travels
// on the bus meanwhile. Nodes have fixed object dictionaries: an SDO to an object a
// node does not have, of the wrong width, or a write to a read-only object is
// aborted with the CANopen abort code, and no write creates an object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "can/can_api.h"

namespace mf::sim {

class can_sim {
public:
    // The process's (or the loaded library's) virtual instrument. Reset it before the
    // library that holds it is unloaded.
    static can_sim& instance();

    // Stops event delivery and returns to an empty network: no bridges, no nodes, no
    // faults, firmware 1.12, bridge node 127 at 1000 kbit/s, PDO filtering on.
    void reset();

    // Network. A bridge appears from enumeration number visible_from (1-based) on.
    void add_bridge(const uint8_t ip[4], const uint8_t mac[6], int visible_from = 1);
    void set_firmware(uint8_t major, uint8_t minor);
    void set_bridge_configuration(uint8_t node_id, uint32_t kbit_rate);
    // The bridge reports the first error at every CAN_GetLastBridgeError until a
    // CAN_ResetBridge, then the next one, and 0 once they run out.
    void set_bridge_errors(std::initializer_list<uint32_t> errors);

    // Nodes. A new node is present, has the read-only identity objects 0x1018/2
    // (product), 0x1018/3 (version, major in the high 16 bits) and 0x1002/0 and the
    // objects of its kind that the node operations use, with their widths (ramp
    // generator and bridge, PZT, LED, brush motor, motor-driver, DMI nodes; the
    // frame-grabber trigger is 2 bytes on bridge firmware newer than 1.11, else 1),
    // and is operational from its first state poll.
    void add_node(uint8_t node, uint32_t product, uint32_t version = 0x00010000);
    void remove_node(uint8_t node);
    // The node reports operational from poll number `poll` (1-based) on; -1 never.
    // Until then it reports pre-operational (127).
    void set_operational_from(uint8_t node, int poll);
    // Sets what an object holds, as the node itself would (read-only objects too);
    // an object the node does not have is added, read-write, with that width.
    void set_object(uint8_t node, uint16_t index, uint8_t subindex, std::vector<uint8_t> bytes);
    // The bytes an object holds (empty when it does not exist).
    std::vector<uint8_t> object(uint8_t node, uint16_t index, uint8_t subindex) const;
    // Transfers to the object are refused with this abort code; 0 accepts them again.
    void set_sdo_abort(uint8_t node, uint16_t index, uint8_t subindex, uint32_t abort_code);

    // Behaviour over time. The nodes read time through this source (milliseconds);
    // tests hand it the platform clock so that moves run in virtual time. Default: a
    // steady clock.
    void set_time_source(int64_t (*now_ms)());
    // How long a motor move (ring/spot, auxiliary, zoom: a write of motor 2's current)
    // lasts; meanwhile the status has bit 0x02 and afterwards the position is 1 for a
    // positive current, 2 for a negative one.
    void set_move_time(uint8_t node, int64_t ms);  // an added node only; so below
    // The focus and ND wheel node's homing (3 written to motor 2 control): status 0x08
    // (searching) for search_ms, then 0x10 (home failed, for good) or 0x02 (home found,
    // moving to the initial position) for move_ms, then 0 (stopped).
    // Each change of status is also sent as the node's status PDO (COB-ID 0x2C0).
    void set_homing(int64_t search_ms, int64_t move_ms, bool fails);
    // A write of the ND wheel's light level (0x2028/0 on the focus and ND wheel node)
    // turns the wheel for this long (default 150 ms): status 0x02 meanwhile, 0 after,
    // each change sent as the status PDO; the light stays at the old level until the
    // wheel stops.
    void set_ndw_level_time(int64_t ms);
    // The light level the ND wheel stands at now (the node's raw value, as held in
    // 0x2028/0; 0 without the node).
    uint16_t ndw_level() const;
    // Brings every node up to the current time (a bus access does so for its node),
    // sending the PDOs of any change.
    void tick();
    // How long a started ramp runs on a ramp generator or PZT node (status 1 meanwhile);
    // below 0, the slot's own ramp: its points (the whole table on the ramp generator)
    // at its rate.
    void set_ramp_duration(uint8_t node, int64_t ms);
    // After a DMI reset the ready flags keep bit 0 until the poll-th read of them.
    void set_dmi_ready_after(int polls);
    // Transfers to the object get no answer (the library times out).
    void set_sdo_silent(uint8_t node, uint16_t index, uint8_t subindex, bool silent);

    // The next `times` calls of the operation (-1: every call) after `skip` good ones
    // return `status` without doing anything (for CAN_EnumerateBridges: the count;
    // for CAN_GetPDO: the PDO is lost).
    void fail(can_op op, int32_t status, int times = -1, int skip = 0);
    int calls(can_op op) const;

    // Events. PDOs whose COB-ID is not registered are dropped while filtering is on.
    void set_pdo_filter(bool on);
    // Queues a batch; the delivery thread calls the PDO handler once with its size.
    void send_pdos(const std::vector<can_pdo>& batch, bool overrun = false);
    void send_pdo(uint32_t cob_id, std::initializer_list<uint8_t> data);
    void send_emcy(uint32_t first, uint32_t second, const uint8_t block[12], uint8_t flag);
    // Waits until the delivery thread has handed over everything queued so far.
    void flush();

    // What the host did.
    struct sdo_record {
        uint8_t node;
        uint16_t index;
        uint8_t subindex;
        bool write;
        std::vector<uint8_t> bytes;  // written, or answered to a read
        uint32_t abort_code;         // 0 when the node took the transfer
    };
    // Every SDO transfer that reached a present node, in order.
    std::vector<sdo_record> sdo_log() const;
    // Forgets the transfers logged so far.
    void reset_log();
    std::vector<uint32_t> registered_pdos() const;
    bool handlers_registered() const;
    bool connected() const;
    uint32_t connected_address() const;
    uint8_t bridge_node_id() const;
    uint32_t bridge_kbit_rate() const;
    uint64_t pdos_dropped() const;

    // One object of a node's dictionary.
    struct object_entry {
        std::vector<uint8_t> bytes;
        bool writable = true;
        // A ramp table or PZT ramp data: a transfer of any size up to this many
        // bytes; 0 for an object of fixed width.
        uint32_t capacity = 0;
    };

    // The 17 operations.
#define MF_SIM_MEMBER(name, params) int32_t name params;
    MF_CAN_OPERATIONS(MF_SIM_MEMBER)
#undef MF_SIM_MEMBER

private:
    can_sim();
    ~can_sim();

    struct node_info {
        bool present = true;
        int operational_from = 1;
        int polls = 0;
        std::map<uint32_t, object_entry> objects;
        std::map<uint32_t, uint32_t> aborts;
        std::set<uint32_t> silent;
        // Behaviour over time.
        int64_t move_ms = 1000;
        int64_t move_until = -1;
        uint8_t move_position = 0;
        int64_t home_start = -1;
        int64_t ramp_ms = 100;
        int64_t ramp_until = -1;
        int dmi_polls_left = 0;
        int reported_status = -1;  // the ND wheel status last sent as a PDO
        int64_t level_until = -1;  // the ND wheel turns to a new light level until then
        uint16_t level_from = 0;   // the light level it turns from
    };
    void report_ndw_status(node_info& info);                           // lock_ held
    void queue_pdos(const std::vector<can_pdo>& batch, bool overrun);  // lock_ held
    // Brings a node's status objects up to the current time. Called with lock_ held.
    void animate(uint8_t node, node_info& info);
    // What a node does on a write it accepted. Called with lock_ held.
    void react(uint8_t node, node_info& info, uint16_t index, uint8_t subindex);
    struct bridge_info {
        can_bridge_entry entry;
        int visible_from;
    };
    struct fault {
        int32_t status;
        int times;
        int skip;
    };
    struct job {
        bool is_pdo;
        uint32_t count;
        bool overrun;
        uint32_t first, second;
        uint8_t block[12];
        uint8_t flag;
    };

    static uint32_t key(uint16_t index, uint8_t subindex) { return (static_cast<uint32_t>(index) << 8) | subindex; }
    // Counts the call and tells whether a fault replaces it. Called with lock_ held.
    bool faulted(can_op op, int32_t* status);
    // faulted(), then -2 while not connected. Called with lock_ held.
    bool refused(can_op op, int32_t* status);
    void update_firmware_objects();  // lock_ held
    int64_t now() const;
    // The value of a 1-, 2- or 4-byte object, little-endian; 0 when it does not exist.
    static uint32_t raw_value(const node_info& info, uint16_t index, uint8_t subindex);
    void start_delivery();  // lock_ held
    void stop_delivery();
    void deliver();
    int32_t sdo(bool write, uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                can_sdo_result* result);

    mutable std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::thread delivery_;
    bool stopping_ = false;
    bool delivering_ = false;
    std::thread::id delivery_id_;
    std::deque<job> jobs_;
    std::deque<can_pdo> pending_;

    std::vector<bridge_info> bridges_;
    int enumerations_ = 0;
    bool connected_ = false;
    uint32_t address_ = 0;
    uint8_t fw_major_ = 1, fw_minor_ = 12;
    uint8_t bridge_node_ = 127;
    uint32_t bridge_rate_ = 1000;
    std::deque<uint32_t> bridge_errors_;
    std::vector<sdo_record> sdo_log_;
    std::map<uint8_t, node_info> nodes_;
    std::map<can_op, fault> faults_;
    int calls_[can_op_count] = {};
    can_pdo_handler pdo_handler_ = nullptr;
    can_emcy_handler emcy_handler_ = nullptr;
    std::set<uint32_t> registered_;
    bool filter_ = true;
    uint64_t dropped_ = 0;
    int64_t (*now_ms_)() = nullptr;
    int64_t search_ms_ = 500, home_move_ms_ = 500;
    bool home_fails_ = false;
    int dmi_ready_after_ = 1;
    int64_t ndw_level_ms_ = 150;
};

// The 17 operations of the process's virtual instrument as free functions, with the
// library's exact shapes.
#define MF_SIM_FREE(name, params) int32_t name params;
MF_CAN_OPERATIONS(MF_SIM_FREE)
#undef MF_SIM_FREE

// The in-process table: install with can_install_api(mf::sim::can_sim_api(),
// mf::sim::can_sim_version()).
can_api can_sim_api();
// The version the virtual instrument reports as the bus library's (the loadable
// library carries the same in its file name or version resource).
inline can_lib_version can_sim_version() { return {MF_CAN_SIM_VERSION_MAJOR, MF_CAN_SIM_VERSION_MINOR}; }

}  // namespace mf::sim
