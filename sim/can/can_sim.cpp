#include "sim/can/can_sim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace mf::sim {

namespace {
constexpr int32_t status_not_connected = -2;
constexpr int32_t status_timeout = -3;
constexpr int32_t status_too_small = -5;
constexpr int32_t status_no_pdo = -6;
constexpr uint32_t state_pre_operational = 127;
constexpr uint32_t abort_no_object = 0x06020000;
constexpr uint32_t abort_read_only = 0x06010002;
constexpr uint32_t abort_length = 0x06070010;
}  // namespace

can_sim& can_sim::instance() {
    static can_sim sim;
    return sim;
}

can_sim::can_sim() = default;

// A loaded library must be reset before it is unloaded: joining the delivery thread
// while the system unloads the library could wait for ever.
can_sim::~can_sim() { stop_delivery(); }

void can_sim::reset() {
    stop_delivery();
    std::lock_guard<std::mutex> hold(lock_);
    jobs_.clear();
    pending_.clear();
    bridges_.clear();
    enumerations_ = 0;
    connected_ = false;
    address_ = 0;
    fw_major_ = 1;
    fw_minor_ = 12;
    bridge_node_ = 127;
    bridge_rate_ = 1000;
    bridge_errors_.clear();
    sdo_log_.clear();
    nodes_.clear();
    faults_.clear();
    std::fill(std::begin(calls_), std::end(calls_), 0);
    pdo_handler_ = nullptr;
    emcy_handler_ = nullptr;
    registered_.clear();
    filter_ = true;
    dropped_ = 0;
    now_ms_ = nullptr;
    search_ms_ = home_move_ms_ = 500;
    home_fails_ = false;
    dmi_ready_after_ = 1;
    ndw_level_ms_ = 150;
}

void can_sim::set_time_source(int64_t (*now_ms)()) {
    std::lock_guard<std::mutex> hold(lock_);
    now_ms_ = now_ms;
}

void can_sim::set_move_time(uint8_t node, int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    auto n = nodes_.find(node);
    if (n != nodes_.end()) n->second.move_ms = ms;
}

void can_sim::set_homing(int64_t search_ms, int64_t move_ms, bool fails) {
    std::lock_guard<std::mutex> hold(lock_);
    search_ms_ = search_ms;
    home_move_ms_ = move_ms;
    home_fails_ = fails;
}

void can_sim::set_ndw_level_time(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    ndw_level_ms_ = ms;
}

uint16_t can_sim::ndw_level() const {
    std::lock_guard<std::mutex> hold(lock_);
    auto n = nodes_.find(0x40);
    if (n == nodes_.end()) return 0;
    const node_info& info = n->second;
    if (info.level_until >= 0 && now() < info.level_until) return info.level_from;
    return static_cast<uint16_t>(raw_value(info, 0x2028, 0));
}

uint32_t can_sim::raw_value(const node_info& info, uint16_t index, uint8_t subindex) {
    auto o = info.objects.find(key(index, subindex));
    if (o == info.objects.end()) return 0;
    uint32_t v = 0;
    for (size_t k = o->second.bytes.size(); k-- > 0;)
        v = (v << 8) | o->second.bytes[k];
    return v;
}

void can_sim::set_ramp_duration(uint8_t node, int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    auto n = nodes_.find(node);
    if (n != nodes_.end()) n->second.ramp_ms = ms;
}

void can_sim::set_dmi_ready_after(int polls) {
    std::lock_guard<std::mutex> hold(lock_);
    dmi_ready_after_ = polls;
}

void can_sim::set_sdo_silent(uint8_t node, uint16_t index, uint8_t subindex, bool silent) {
    std::lock_guard<std::mutex> hold(lock_);
    auto n = nodes_.find(node);
    if (n == nodes_.end()) return;
    if (silent)
        n->second.silent.insert(key(index, subindex));
    else
        n->second.silent.erase(key(index, subindex));
}

void can_sim::add_bridge(const uint8_t ip[4], const uint8_t mac[6], int visible_from) {
    std::lock_guard<std::mutex> hold(lock_);
    bridge_info b{};
    std::memcpy(b.entry.ip, ip, 4);
    std::memcpy(b.entry.mac, mac, 6);
    b.visible_from = visible_from;
    bridges_.push_back(b);
}

void can_sim::set_firmware(uint8_t major, uint8_t minor) {
    std::lock_guard<std::mutex> hold(lock_);
    fw_major_ = major;
    fw_minor_ = minor;
    update_firmware_objects();
}

void can_sim::set_bridge_configuration(uint8_t node_id, uint32_t kbit_rate) {
    std::lock_guard<std::mutex> hold(lock_);
    bridge_node_ = node_id;
    bridge_rate_ = kbit_rate;
}

void can_sim::set_bridge_errors(std::initializer_list<uint32_t> errors) {
    std::lock_guard<std::mutex> hold(lock_);
    bridge_errors_.assign(errors.begin(), errors.end());
}

namespace {

std::vector<uint8_t> le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

enum access : uint8_t { rw, ro };

struct object_default {
    uint16_t index;
    uint8_t subindex;
    uint8_t width;
    uint32_t value;
    access mode = rw;
    uint32_t capacity = 0;  // variable-size object: at most this many bytes
};

constexpr uint32_t ramp_table_bytes = 32768;

// The objects each kind of node has, with the widths the node operations use.
// Ramp slots 0..3 are the objects 0x2003..0x2006 of the ramp generator and of
// the PZT nodes.
constexpr object_default identity_objects[] = {
    {0x1018, 2, 4, 0, ro},  // product id, filled in by add_node
    {0x1018, 3, 4, 0, ro},  // version, filled in by add_node
    {0x1002, 0, 4, 0, ro},  // manufacturer status (error-check byte in the fourth byte)
};
constexpr object_default ramp_slot_objects[] = {
    {0, 1, 1, 0, ro},                    // ramp valid
    {0, 2, 2, 0},                        // trigger frame number
    {0, 4, 4, 0},                        // rate x 1000
    {0, 5, 0, 0, rw, ramp_table_bytes},  // ramp data
};
constexpr object_default bridge_objects[] = {
    {0x2000, 0, 1, 0},         // ramp start / status: idle
    {0x2001, 0, 1, 0},         // ramp select
    {0x2009, 1, 2, 0},         // pifoc offset
    {0x2010, 1, 1, 0x08, ro},  // bridge status: external 12 V present, no trips
    {0x2010, 2, 2, 0},         // bridge configuration word
    {0x2010, 5, 2, 0},         // frame-grabber trigger (1 byte up to firmware 1.11)
    {0x2030, 0, 4, 0},         // sync generator frequency
    {0x6200, 1, 1, 0},         // digital outputs
    {0x6220, 1, 1, 0},         // alignment illumination diode
    {0x6240, 1, 1, 0},         // alignment illumination diode enable
    {0x2040, 0, 2, 0, ro},     // PI ramp status (newer firmware)
    {0x2041, 1, 1, 0},         // PI ramp select
    {0x2041, 2, 4, 0, ro},     // PI ramp amplitude
    {0x2041, 3, 4, 0, ro},     // PI ramp velocity
    {0x2041, 6, 1, 0},         // PI ramp start
    {0x2041, 11, 2, 0, ro},    // PI ramp status (older firmware)
    {0x2041, 19, 1, 0},        // PI load tables
    {0x2041, 20, 2, 0, ro},    // PI tables loaded
};
constexpr object_default pzt_objects[] = {
    {0x2000, 0, 1, 0},  // ramp start / status
    {0x2001, 0, 1, 0},  // ramp select
};
constexpr object_default pzt_slot_gains[] = {
    {0, 6, 2, 0},
    {0, 7, 2, 0},
    {0, 8, 2, 0},
};
constexpr object_default motor_objects[] = {
    {0x2000, 0, 1, 0},        // motor 1 control
    {0x2002, 0, 1, 0},        // motor 1 mode
    {0x2004, 0, 4, 0},        // motor 1 target velocity
    {0x2020, 0, 1, 0},        // motor 2 control
    {0x2021, 0, 1, 0, ro},    // motor 2 status
    {0x2028, 0, 2, 0},        // motor 2 light level
    {0x2034, 0, 2, 0},        // motor 2 current
    {0x2036, 0, 2, 500, ro},  // motor 2 maximum current
    {0x2047, 0, 1, 1, ro},    // motor 2 position
    {0x2044, 8, 1, 0},        // keypress mode
};
constexpr object_default encoded_zoom_objects[] = {
    {0x607D, 1, 4, 0},  // soft limit low
    {0x607D, 2, 4, 0},  // soft limit high
    {0x2019, 0, 4, 0},  // backlash
};
constexpr object_default brush_motor_objects[] = {
    {0x2001, 0, 1, 0x81, ro},    // turret status: position known, position 1
    {0x2002, 0, 1, 1, ro},       // turret position
    {0x2012, 0, 1, 0, ro},       // zoom code
    {0x2015, 0, 6, 0, ro},       // all zoom codes
    {0x2020, 1, 2, 0x0506, ro},  // 6 zoom positions, 5 turret positions
};
constexpr object_default led_objects[] = {
    {0x2000, 0, 1, 0},  // set-up
    {0x2001, 0, 2, 0},  // light level
    {0x2002, 0, 2, 0},  // average current limit
    {0x2004, 0, 2, 0},  // forward voltage
    {0x2006, 0, 4, 0},  // PWM frequency
};
constexpr object_default dmi_objects[] = {
    {0x6020, 1, 4, 0, ro},                    // position, axis 1
    {0x6020, 2, 4, 0, ro},                    // position, axis 2
    {0x6010, 1, 4, 0},                        // preset, axis 1
    {0x6010, 2, 4, 0},                        // preset, axis 2
    {0x2100, 0, 2, 0},                        // reset / home required
    {0x2000, 0, 1, 0, ro},                    // ready flags
    {0x2002, 3, 4, 0, ro},                    // capture buffer count
    {0x2002, 4, 0, 0, ro, ramp_table_bytes},  // capture buffer entries
};

uint32_t key_of(uint16_t index, uint8_t subindex) { return (static_cast<uint32_t>(index) << 8) | subindex; }

void put(std::map<uint32_t, can_sim::object_entry>& objects, const object_default& d, uint16_t index) {
    can_sim::object_entry e;
    e.bytes = le32(d.value);
    e.bytes.resize(d.width, 0);
    e.writable = d.mode == rw;
    e.capacity = d.capacity;
    objects[key_of(index, d.subindex)] = std::move(e);
}

template <size_t N>
void put_defaults(std::map<uint32_t, can_sim::object_entry>& objects, const object_default (&table)[N]) {
    for (const object_default& d : table)
        put(objects, d, d.index);
}

template <size_t N>
void put_ramp_slots(std::map<uint32_t, can_sim::object_entry>& objects, const object_default (&table)[N]) {
    for (uint16_t slot = 0; slot < 4; ++slot)
        for (const object_default& d : table)
            put(objects, d, static_cast<uint16_t>(0x2003 + slot));
}

}  // namespace

void can_sim::add_node(uint8_t node, uint32_t product, uint32_t version) {
    std::lock_guard<std::mutex> hold(lock_);
    node_info n;
    put_defaults(n.objects, identity_objects);
    switch (node) {
    case 0x7F:
        put_defaults(n.objects, bridge_objects);
        put_ramp_slots(n.objects, ramp_slot_objects);
        break;
    case 0x3E:
    case 0x34:
        put_defaults(n.objects, pzt_objects);
        put_ramp_slots(n.objects, ramp_slot_objects);
        put_ramp_slots(n.objects, pzt_slot_gains);
        break;
    case 0x3D:
        put_defaults(n.objects, led_objects);
        break;
    case 0x3F:
        put_defaults(n.objects, brush_motor_objects);
        break;
    case 0x40:
        put_defaults(n.objects, motor_objects);
        put_defaults(n.objects, encoded_zoom_objects);
        break;
    case 0x42:
    case 0x44:
    case 0x46:
        put_defaults(n.objects, motor_objects);
        break;
    case 0x30:
        put_defaults(n.objects, dmi_objects);
        break;
    default:
        break;
    }
    n.objects[key(0x1018, 2)].bytes = le32(product);
    n.objects[key(0x1018, 3)].bytes = le32(version);
    nodes_[node] = std::move(n);
    update_firmware_objects();
}

void can_sim::update_firmware_objects() {
    auto bridge = nodes_.find(0x7F);
    if (bridge == nodes_.end()) return;
    auto trigger = bridge->second.objects.find(key(0x2010, 5));
    if (trigger == bridge->second.objects.end()) return;
    const bool wide = fw_major_ > 1 || (fw_major_ == 1 && fw_minor_ > 11);
    trigger->second.bytes.resize(wide ? 2 : 1, 0);
}

void can_sim::remove_node(uint8_t node) {
    std::lock_guard<std::mutex> hold(lock_);
    nodes_.erase(node);
}

void can_sim::set_operational_from(uint8_t node, int poll) {
    std::lock_guard<std::mutex> hold(lock_);
    nodes_[node].operational_from = poll;
}

void can_sim::set_object(uint8_t node, uint16_t index, uint8_t subindex, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    nodes_[node].objects[key(index, subindex)].bytes = std::move(bytes);
}

std::vector<uint8_t> can_sim::object(uint8_t node, uint16_t index, uint8_t subindex) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto n = nodes_.find(node);
    if (n == nodes_.end()) return {};
    auto o = n->second.objects.find(key(index, subindex));
    return o == n->second.objects.end() ? std::vector<uint8_t>{} : o->second.bytes;
}

void can_sim::set_sdo_abort(uint8_t node, uint16_t index, uint8_t subindex, uint32_t abort_code) {
    std::lock_guard<std::mutex> hold(lock_);
    if (abort_code)
        nodes_[node].aborts[key(index, subindex)] = abort_code;
    else
        nodes_[node].aborts.erase(key(index, subindex));
}

void can_sim::fail(can_op op, int32_t status, int times, int skip) {
    std::lock_guard<std::mutex> hold(lock_);
    faults_[op] = fault{status, times, skip};
}

int can_sim::calls(can_op op) const {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_[static_cast<int>(op)];
}

bool can_sim::refused(can_op op, int32_t* status) {
    if (faulted(op, status)) return true;
    if (connected_) return false;
    *status = status_not_connected;
    return true;
}

bool can_sim::faulted(can_op op, int32_t* status) {
    ++calls_[static_cast<int>(op)];
    auto f = faults_.find(op);
    if (f == faults_.end() || f->second.times == 0) return false;
    if (f->second.skip > 0) {
        --f->second.skip;
        return false;
    }
    if (f->second.times > 0) --f->second.times;
    *status = f->second.status;
    return true;
}

void can_sim::set_pdo_filter(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    filter_ = on;
}

void can_sim::send_pdos(const std::vector<can_pdo>& batch, bool overrun) {
    std::lock_guard<std::mutex> hold(lock_);
    queue_pdos(batch, overrun);
}

void can_sim::queue_pdos(const std::vector<can_pdo>& batch, bool overrun) {
    uint32_t accepted = 0;
    for (const can_pdo& p : batch) {
        // No connection, no bus traffic: the host never sees it.
        if (!connected_ || (filter_ && !registered_.count(p.cob_id))) {
            ++dropped_;
            continue;
        }
        pending_.push_back(p);
        ++accepted;
    }
    if (accepted == 0 && !overrun) return;
    job j{};
    j.is_pdo = true;
    j.count = accepted;
    j.overrun = overrun;
    jobs_.push_back(j);
    start_delivery();
    work_.notify_one();
}

void can_sim::send_pdo(uint32_t cob_id, std::initializer_list<uint8_t> data) {
    can_pdo p{};
    p.cob_id = cob_id;
    p.word2 = static_cast<uint32_t>(std::min<size_t>(data.size(), 8));
    std::copy_n(data.begin(), p.word2, p.data);
    send_pdos({p});
}

void can_sim::send_emcy(uint32_t first, uint32_t second, const uint8_t block[12], uint8_t flag) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!connected_) {
        ++dropped_;
        return;
    }
    job j{};
    j.first = first;
    j.second = second;
    std::memcpy(j.block, block, sizeof j.block);
    j.flag = flag;
    jobs_.push_back(j);
    start_delivery();
    work_.notify_one();
}

void can_sim::flush() {
    std::unique_lock<std::mutex> hold(lock_);
    idle_.wait(hold, [this] { return jobs_.empty() && !delivering_; });
}

void can_sim::start_delivery() {
    if (delivery_.joinable()) return;
    stopping_ = false;
    delivery_ = std::thread([this] { deliver(); });
}

void can_sim::stop_delivery() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        worker = std::move(delivery_);
    }
    work_.notify_all();
    if (worker.joinable()) worker.join();
}

void can_sim::deliver() {
    std::unique_lock<std::mutex> hold(lock_);
    delivery_id_ = std::this_thread::get_id();
    for (;;) {
        work_.wait(hold, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) break;
        job j = jobs_.front();
        jobs_.pop_front();
        can_pdo_handler on_pdo = pdo_handler_;
        can_emcy_handler on_emcy = emcy_handler_;
        if (j.is_pdo && !on_pdo) {
            // Nobody listens: the batch is lost, as on the bus.
            for (uint32_t i = 0; i < j.count && !pending_.empty(); ++i)
                pending_.pop_front();
            dropped_ += j.count;
        } else if (!j.is_pdo && !on_emcy) {
            ++dropped_;
        } else {
            delivering_ = true;
            hold.unlock();
            if (j.is_pdo)
                on_pdo(j.count, j.overrun ? 1 : 0);
            else
                on_emcy(j.first, j.second, j.block, j.flag);
            hold.lock();
            delivering_ = false;
        }
        idle_.notify_all();
    }
    delivering_ = false;
    idle_.notify_all();
}

void can_sim::reset_log() {
    std::lock_guard<std::mutex> hold(lock_);
    sdo_log_.clear();
}

std::vector<can_sim::sdo_record> can_sim::sdo_log() const {
    std::lock_guard<std::mutex> hold(lock_);
    return sdo_log_;
}

std::vector<uint32_t> can_sim::registered_pdos() const {
    std::lock_guard<std::mutex> hold(lock_);
    return {registered_.begin(), registered_.end()};
}
bool can_sim::handlers_registered() const {
    std::lock_guard<std::mutex> hold(lock_);
    return pdo_handler_ != nullptr || emcy_handler_ != nullptr;
}
bool can_sim::connected() const {
    std::lock_guard<std::mutex> hold(lock_);
    return connected_;
}
uint32_t can_sim::connected_address() const {
    std::lock_guard<std::mutex> hold(lock_);
    return address_;
}
uint8_t can_sim::bridge_node_id() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bridge_node_;
}
uint32_t can_sim::bridge_kbit_rate() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bridge_rate_;
}
uint64_t can_sim::pdos_dropped() const {
    std::lock_guard<std::mutex> hold(lock_);
    return dropped_;
}

// ---- the operations ----

int32_t can_sim::CAN_EnumerateBridges(can_bridge_entry* table) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (faulted(can_op::CAN_EnumerateBridges, &status)) return status;
    ++enumerations_;
    int32_t n = 0;
    for (const bridge_info& b : bridges_) {
        if (b.visible_from > enumerations_ || n == can_max_bridges) continue;
        table[n++] = b.entry;
    }
    return n;
}

int32_t can_sim::CAN_Connect(uint32_t ip_address) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (faulted(can_op::CAN_Connect, &status)) return status;
    for (const bridge_info& b : bridges_) {
        const uint32_t a =
            b.entry.ip[0] | (b.entry.ip[1] << 8) | (b.entry.ip[2] << 16) | (static_cast<uint32_t>(b.entry.ip[3]) << 24);
        if (a == ip_address) {
            connected_ = true;
            address_ = ip_address;
            return CAN_OK;
        }
    }
    return status_timeout;
}

int32_t can_sim::CAN_Disconnect() {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (faulted(can_op::CAN_Disconnect, &status)) return status;
    connected_ = false;
    return CAN_OK;
}

int32_t can_sim::CAN_GetFirmwareVersion(uint8_t* major, uint8_t* minor) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_GetFirmwareVersion, &status)) return status;
    *major = fw_major_;
    *minor = fw_minor_;
    return CAN_OK;
}

int32_t can_sim::CAN_GetBridgeConfiguration(uint8_t* node_id, uint32_t* kbit_rate) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_GetBridgeConfiguration, &status)) return status;
    *node_id = bridge_node_;
    *kbit_rate = bridge_rate_;
    return CAN_OK;
}

int32_t can_sim::CAN_SetBridgeConfiguration(uint8_t node_id, uint32_t kbit_rate) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_SetBridgeConfiguration, &status)) return status;
    bridge_node_ = node_id;
    bridge_rate_ = kbit_rate;
    // The bridge restarts with the new configuration.
    connected_ = false;
    return CAN_OK;
}

int32_t can_sim::CAN_GetLastBridgeError(uint32_t* error) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_GetLastBridgeError, &status)) return status;
    *error = bridge_errors_.empty() ? 0 : bridge_errors_.front();
    return CAN_OK;
}

int32_t can_sim::CAN_ResetBridge() {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_ResetBridge, &status)) return status;
    if (!bridge_errors_.empty()) bridge_errors_.pop_front();
    connected_ = false;
    return CAN_OK;
}

int32_t can_sim::CAN_EnumerateNodes(uint8_t* states) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_EnumerateNodes, &status)) return status;
    std::memset(states, 0, can_node_count);
    for (const auto& [id, n] : nodes_)
        if (n.present && id < can_node_count) states[id] = 2;
    return CAN_OK;
}

int32_t can_sim::CAN_FindNode(uint8_t node, uint32_t* found) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_FindNode, &status)) return status;
    auto n = nodes_.find(node);
    *found = (n != nodes_.end() && n->second.present) ? 2 : 0;
    return CAN_OK;
}

int32_t can_sim::CAN_GetNodeState(uint8_t node, uint32_t* state) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_GetNodeState, &status)) return status;
    auto n = nodes_.find(node);
    if (n == nodes_.end() || !n->second.present) return status_timeout;
    const int poll = ++n->second.polls;
    const int from = n->second.operational_from;
    *state = (from >= 0 && poll >= from) ? 2 : state_pre_operational;
    return CAN_OK;
}

int32_t can_sim::sdo(bool write, uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                     can_sdo_result* result) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(write ? can_op::CAN_SDOWrite : can_op::CAN_SDORead, &status)) return status;
    auto n = nodes_.find(node);
    if (n == nodes_.end() || !n->second.present) return status_timeout;
    node_info& info = n->second;
    if (info.silent.count(key(index, subindex))) return status_timeout;
    animate(node, info);
    result->unused = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    sdo_record record{node, index, subindex, write, {}, 0};
    if (write) record.bytes.assign(bytes, bytes + size);
    auto answer = [&](uint32_t abort_code) {
        result->result = abort_code ? 0 : 1;
        result->abort_code = abort_code;
        record.abort_code = abort_code;
        sdo_log_.push_back(std::move(record));
        return CAN_OK;
    };
    auto refused_by_test = info.aborts.find(key(index, subindex));
    if (refused_by_test != info.aborts.end()) return answer(refused_by_test->second);
    auto o = info.objects.find(key(index, subindex));
    if (o == info.objects.end()) return answer(abort_no_object);
    object_entry& object = o->second;
    if (write) {
        if (!object.writable) return answer(abort_read_only);
        const bool fits = object.capacity ? size <= object.capacity : size == object.bytes.size();
        if (!fits) return answer(abort_length);
        const bool turning = info.level_until >= 0 && now() < info.level_until;
        if (node == 0x40 && index == 0x2028 && subindex == 0 && !turning)
            info.level_from = static_cast<uint16_t>(raw_value(info, 0x2028, 0));
        object.bytes.assign(bytes, bytes + size);
        react(node, info, index, subindex);
        return answer(0);
    }
    if (object.bytes.size() > size) return status_too_small;
    if (node == 0x30 && index == 0x2000 && info.dmi_polls_left > 0 && --info.dmi_polls_left == 0)
        object.bytes[0] &= 0xFE;
    std::memcpy(data, object.bytes.data(), object.bytes.size());
    record.bytes = object.bytes;
    return answer(0);
}

namespace {

int64_t steady_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool ramp_node(uint8_t node) { return node == 0x7F || node == 0x3E || node == 0x34; }

}  // namespace

int64_t can_sim::now() const { return now_ms_ ? now_ms_() : steady_now_ms(); }

void can_sim::tick() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [node, info] : nodes_)
        if (info.present) animate(node, info);
}

void can_sim::report_ndw_status(node_info& info) {
    auto o = info.objects.find(key(0x2021, 0));
    if (o == info.objects.end() || o->second.bytes.empty()) return;
    const uint8_t status = o->second.bytes[0];
    if (status == info.reported_status) return;
    info.reported_status = status;
    can_pdo p{};
    p.cob_id = 0x280 + 0x40;  // the focus and ND wheel node's status PDO
    p.word2 = 1;
    p.data[0] = status;
    queue_pdos({p}, false);
}

void can_sim::animate(uint8_t node, node_info& info) {
    const int64_t now = this->now();
    auto set = [&](uint16_t index, uint8_t subindex, uint8_t v) {
        auto o = info.objects.find(key(index, subindex));
        if (o != info.objects.end() && !o->second.bytes.empty()) o->second.bytes[0] = v;
    };
    if (info.move_until >= 0) {
        if (now < info.move_until) {
            set(0x2021, 0, 0x02);
        } else {
            set(0x2021, 0, 0x00);
            set(0x2047, 0, info.move_position);
            info.move_until = -1;
        }
    }
    if (node == 0x40 && info.home_start >= 0) {
        const int64_t t = now - info.home_start;
        if (t < search_ms_) {
            set(0x2021, 0, 0x08);
        } else if (home_fails_) {
            set(0x2021, 0, 0x10);
            info.home_start = -1;
        } else if (t < search_ms_ + home_move_ms_) {
            set(0x2021, 0, 0x02);
        } else {
            set(0x2021, 0, 0x00);
            info.home_start = -1;
        }
        report_ndw_status(info);
    }
    if (node == 0x40 && info.level_until >= 0 && now >= info.level_until) {
        set(0x2021, 0, 0x00);
        info.level_until = -1;
        report_ndw_status(info);
    }
    if (ramp_node(node) && info.ramp_until >= 0 && now >= info.ramp_until) {
        set(0x2000, 0, 0);
        info.ramp_until = -1;
    }
}

void can_sim::react(uint8_t node, node_info& info, uint16_t index, uint8_t subindex) {
    const int64_t now = this->now();
    auto value = [&](uint16_t i, uint8_t s) -> int32_t {
        auto o = info.objects.find(key(i, s));
        if (o == info.objects.end() || o->second.bytes.empty()) return 0;
        int32_t v = 0;
        for (size_t k = o->second.bytes.size(); k-- > 0;)
            v = (v << 8) | o->second.bytes[k];
        if (o->second.bytes.size() == 2) v = static_cast<int16_t>(v);
        return v;
    };
    auto set = [&](uint16_t i, uint8_t s, uint8_t v) {
        auto o = info.objects.find(key(i, s));
        if (o != info.objects.end() && !o->second.bytes.empty()) o->second.bytes[0] = v;
    };
    // A slot's ramp at its own rate: its points (two bytes each) over the rate object
    // (the rate in kHz x 1000, a float), in milliseconds; 0 without a usable rate.
    auto own_ms = [&](int32_t slot) -> int64_t {
        const auto i = static_cast<uint16_t>(0x2003 + slot);
        auto data = info.objects.find(key(i, 5));
        auto rate = info.objects.find(key(i, 4));
        if (data == info.objects.end() || rate == info.objects.end() || rate->second.bytes.size() != 4) return 0;
        float hz = 0;
        std::memcpy(&hz, rate->second.bytes.data(), 4);
        if (!(hz > 0)) return 0;
        return std::llround(static_cast<double>(data->second.bytes.size() / 2) * 1000.0 / hz);
    };
    const bool motor = node == 0x40 || node == 0x42 || node == 0x44 || node == 0x46;
    if (motor && index == 0x2034 && subindex == 0) {
        const int32_t current = value(0x2034, 0);
        info.move_until = now + info.move_ms;
        info.move_position = current > 0 ? 1 : current < 0 ? 2 : value(0x2047, 0) & 0xFF;
        set(0x2021, 0, 0x02);
    } else if (node == 0x40 && index == 0x2020 && subindex == 0 && value(0x2020, 0) == 3) {
        info.home_start = now;
        set(0x2021, 0, 0x08);
        report_ndw_status(info);
    } else if (node == 0x40 && index == 0x2028 && subindex == 0) {
        info.level_until = now + ndw_level_ms_;
        set(0x2021, 0, 0x02);
        report_ndw_status(info);
    } else if (ramp_node(node) && index >= 0x2003 && index <= 0x2006 && subindex == 5) {
        set(index, 1, 1);  // a loaded table makes the slot valid
    } else if (ramp_node(node) && index == 0x2000 && subindex == 0) {
        const int32_t slot = value(0x2001, 0);
        if (value(0x2000, 0) == 1 && slot >= 0 && slot < 4 && value(static_cast<uint16_t>(0x2003 + slot), 1)) {
            info.ramp_until = now + (info.ramp_ms >= 0 ? info.ramp_ms : own_ms(slot));
        } else {
            set(0x2000, 0, 0);
        }
    } else if (node == 0x30 && index == 0x2100 && subindex == 0 && value(0x2100, 0) == static_cast<int16_t>(0x8000)) {
        set(0x2000, 0, 1);
        info.dmi_polls_left = dmi_ready_after_;
    }
}

int32_t can_sim::CAN_SDORead(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                             can_sdo_result* result) {
    return sdo(false, node, index, subindex, data, size, result);
}

int32_t can_sim::CAN_SDOWrite(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                              can_sdo_result* result) {
    return sdo(true, node, index, subindex, data, size, result);
}

int32_t can_sim::CAN_RegisterEvents(can_pdo_handler pdo_handler, can_emcy_handler emcy_handler) {
    std::unique_lock<std::mutex> hold(lock_);
    int32_t status;
    if (faulted(can_op::CAN_RegisterEvents, &status)) return status;
    // Once this returns, no handler of the old pair is still running (unless the call
    // comes from inside a handler).
    if (std::this_thread::get_id() != delivery_id_) idle_.wait(hold, [this] { return !delivering_; });
    pdo_handler_ = pdo_handler;
    emcy_handler_ = emcy_handler;
    return CAN_OK;
}

int32_t can_sim::CAN_RegisterPDO(can_pdo* pdo) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_RegisterPDO, &status)) return status;
    registered_.insert(pdo->cob_id);
    return CAN_OK;
}

int32_t can_sim::CAN_GetPDO(can_pdo* pdo) {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (faulted(can_op::CAN_GetPDO, &status)) {
        if (!pending_.empty()) pending_.pop_front();
        return status;
    }
    if (pending_.empty()) return status_no_pdo;
    *pdo = pending_.front();
    pending_.pop_front();
    return CAN_OK;
}

int32_t can_sim::CAN_UnregisterPDOs() {
    std::lock_guard<std::mutex> hold(lock_);
    int32_t status;
    if (refused(can_op::CAN_UnregisterPDOs, &status)) return status;
    registered_.clear();
    return CAN_OK;
}

// ---- free functions and the in-process table ----

int32_t CAN_EnumerateBridges(can_bridge_entry* table) { return can_sim::instance().CAN_EnumerateBridges(table); }
int32_t CAN_Connect(uint32_t ip_address) { return can_sim::instance().CAN_Connect(ip_address); }
int32_t CAN_Disconnect() { return can_sim::instance().CAN_Disconnect(); }
int32_t CAN_GetFirmwareVersion(uint8_t* major, uint8_t* minor) {
    return can_sim::instance().CAN_GetFirmwareVersion(major, minor);
}
int32_t CAN_GetBridgeConfiguration(uint8_t* node_id, uint32_t* kbit_rate) {
    return can_sim::instance().CAN_GetBridgeConfiguration(node_id, kbit_rate);
}
int32_t CAN_SetBridgeConfiguration(uint8_t node_id, uint32_t kbit_rate) {
    return can_sim::instance().CAN_SetBridgeConfiguration(node_id, kbit_rate);
}
int32_t CAN_GetLastBridgeError(uint32_t* error) { return can_sim::instance().CAN_GetLastBridgeError(error); }
int32_t CAN_ResetBridge() { return can_sim::instance().CAN_ResetBridge(); }
int32_t CAN_EnumerateNodes(uint8_t* states) { return can_sim::instance().CAN_EnumerateNodes(states); }
int32_t CAN_FindNode(uint8_t node, uint32_t* status) { return can_sim::instance().CAN_FindNode(node, status); }
int32_t CAN_GetNodeState(uint8_t node, uint32_t* state) { return can_sim::instance().CAN_GetNodeState(node, state); }
int32_t CAN_SDORead(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, can_sdo_result* result) {
    return can_sim::instance().CAN_SDORead(node, index, subindex, data, size, result);
}
int32_t CAN_SDOWrite(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size,
                     can_sdo_result* result) {
    return can_sim::instance().CAN_SDOWrite(node, index, subindex, data, size, result);
}
int32_t CAN_RegisterEvents(can_pdo_handler pdo_handler, can_emcy_handler emcy_handler) {
    return can_sim::instance().CAN_RegisterEvents(pdo_handler, emcy_handler);
}
int32_t CAN_RegisterPDO(can_pdo* pdo) { return can_sim::instance().CAN_RegisterPDO(pdo); }
int32_t CAN_GetPDO(can_pdo* pdo) { return can_sim::instance().CAN_GetPDO(pdo); }
int32_t CAN_UnregisterPDOs() { return can_sim::instance().CAN_UnregisterPDOs(); }

can_api can_sim_api() {
    can_api t{};
#define MF_SIM_SLOT(name, params) t.name = &mf::sim::name;
    MF_CAN_OPERATIONS(MF_SIM_SLOT)
#undef MF_SIM_SLOT
    return t;
}

}  // namespace mf::sim
