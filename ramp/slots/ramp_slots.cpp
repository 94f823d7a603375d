// Instrument ramp slots: identifiers, loading with eviction, start, delete, wait,
// gain, slope, the consistency check, and the hooks installed into the layers below.
#include "ramp/slots/ramp_slots.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "can/can_bus.h"
#include "can/nodes/can_nodes.h"
#include "common/errors.h"
#include "common/msg.h"
#include "platform/clock.h"

namespace mf {

namespace {

constexpr int32_t wait_polls_per_second = 20;
constexpr int64_t wait_poll_ms = 50;
constexpr int32_t wait_timeout_address = 4240;
constexpr int32_t wait_timeout_value = 255;
constexpr double cairn_gain_wait_s = 4;
constexpr int32_t serial_gain_max = 4095;
constexpr int32_t can_gain_max = 16383;
constexpr int32_t can_gain_scale = 4;
constexpr int32_t update_rate_base = 65536;
constexpr double board_clock_khz = 4000;
constexpr int32_t max_ramp_type = 20;
constexpr int32_t firmware_with_rate_change = 11;
constexpr int32_t can_table_points = 16384;  // a 32768-byte ramp table
constexpr double profile_tolerance = 0.01;   // relative difference reported as a mismatch

// Per system slot state.
rr_board_state board_states[4];

// Host steps: the defaults refuse.
int32_t no_cairn_load(sysInfo*, int32_t, int32_t, int32_t, int32_t, const uint16_t*) { return ERR_NOT_IMPLEMENTED; }
int32_t no_cairn_start(sysInfo*, int32_t) { return ERR_NOT_IMPLEMENTED; }
int32_t no_cairn_status(sysInfo*, bool*) { return ERR_NOT_IMPLEMENTED; }
int32_t no_wm_gain(sysInfo*, int32_t) { return ERR_NOT_IMPLEMENTED; }
int32_t no_pzt_gain(sysInfo*, bool, const int32_t*) { return ERR_NOT_IMPLEMENTED; }
constexpr rr_slot_host_steps default_steps{no_cairn_load, no_cairn_start, no_cairn_status, no_wm_gain, no_pzt_gain};
rr_slot_host_steps host_steps = default_steps;

bool is_serial(int32_t board) {
    return board == BOARD_SABLEQV || board == BOARD_TARN || board == BOARD_BRAE || board == BOARD_FENN;
}

bool in(int32_t value, std::initializer_list<int32_t> set) {
    for (int32_t v : set)
        if (v == value) return true;
    return false;
}

bool digital_ramp_system(int32_t type) {
    return in(type, {SYS_SCARPSABLEICO, SYS_SCARPSABLEQVICO, SYS_LOOMA, SYS_LOOMAS, SYS_LOOMB, SYS_LOOMBS});
}
bool pzt_ramp_system(int32_t type) { return in(type, {SYS_TARNCAN, SYS_HOLMPH, SYS_ESKERCAN, SYS_LOOMAP, SYS_LOOMBP}); }
bool wave_monitor_can_system(int32_t type) {
    return in(type, {SYS_SKERRY, SYS_WSTARN, SYS_SKERRY_CAN, SYS_WSTARNCAN, SYS_BRAE_CAN});
}

bool pi_scanner(const sysInfo* si) {
    return si->scanner.pifoc && (si->scanner.pifoc->type == 1 || si->scanner.pifoc->type == 2);
}

// The set and the entry `index` of it, or the reason there is none.
int32_t entry_of(const sysInfo* si, int32_t index, rr_ramp_set** set, rr_ramp_entry** entry) {
    *set = rr_ramp_set_of(si);
    if (!*set || !(*set)->entries || (*set)->count <= 0) return ERR_NO_RAMP_INFO;
    if (index < 0 || index >= (*set)->count) return ERR_INVALID_RAMP_INDEX;
    *entry = &(*set)->entries[index];
    return 0;
}

bool loaded(const rr_ramp_entry& e) { return e.slot != rr_no_ramp; }

void unload(rr_ramp_set& set, rr_ramp_entry& e) {
    if (e.slot >= 0 && e.slot < rr_slot_table_size) set.slotTable[e.slot] = rr_no_ramp;
    e.slot = rr_no_ramp;
}

int32_t round_half_up(double x) { return static_cast<int32_t>(std::floor(x + 0.5)); }

// A load time later than any in the set: loads within one clock tick keep their order.
double next_load_time(const rr_ramp_set& set) {
    double t = static_cast<double>(platform::monotonic_ms()) / 1000.0;
    for (int32_t i = 0; i < set.count; ++i)
        if (set.entries[i].loadTime >= t) t = set.entries[i].loadTime + 0.001;
    return t;
}

// The slot for a new load: the lowest free one, else the one of the entry loaded
// earliest, which is unloaded. -1 when there is neither.
int32_t choose_slot(rr_ramp_set& set, int32_t limit) {
    for (int32_t s = 0; s < limit; ++s)
        if (set.slotTable[s] == rr_no_ramp) return s;
    rr_ramp_entry* oldest = nullptr;
    for (int32_t i = 0; i < set.count; ++i) {
        rr_ramp_entry& e = set.entries[i];
        if (loaded(e) && e.slot < limit && (!oldest || e.loadTime < oldest->loadTime)) oldest = &e;
    }
    if (!oldest) return -1;
    const int32_t slot = oldest->slot;
    unload(set, *oldest);
    return slot;
}

int32_t can_digital_load(const sysInfo* si, int32_t slot, const rr_ramp_entry& e) {
    if (e.hdr.nPoints < 1 || e.hdr.nPoints > can_table_points || !e.points) return ERR_INVALID_PARAM;
    std::vector<uint8_t> table(2 * static_cast<std::size_t>(can_table_points), 0);
    for (int32_t i = 0; i < e.hdr.nPoints; ++i) {
        table[2 * static_cast<std::size_t>(i)] = static_cast<uint8_t>(e.points[i] & 0xFF);
        table[2 * static_cast<std::size_t>(i) + 1] = static_cast<uint8_t>(e.points[i] >> 8);
    }
    int32_t err = can_write_ramp_data(si, slot, table.data());
    const can_ramp_timing timing{e.hdr.trigStartAddr, e.hdr.cameraRate, e.hdr.sampleClkFreq};
    if (!err) err = can_write_ramp_trigger(si, slot, timing);
    if (!err) err = can_write_ramp_rate(si, slot, e.hdr.sampleClkFreq);
    return err;
}

int32_t can_pzt_load(const sysInfo* si, int32_t slot, const rr_ramp_entry& e) {
    if (e.hdr.rampMux != 0 && e.hdr.rampMux != 1) return ERR_INVALID_PARAM;
    if (e.hdr.nPoints < 1 || !e.points) return ERR_INVALID_PARAM;
    can_state* cs = can_state_of(si);
    if (!cs) return ERR_INTERNAL_HX;
    cs->rampMux = e.hdr.rampMux;
    std::vector<int16_t> points(static_cast<std::size_t>(e.hdr.nPoints));
    std::memcpy(points.data(), e.points, points.size() * sizeof(int16_t));
    int32_t err = can_write_pztramp_data(si, slot, points.data(), e.hdr.nPoints);
    const can_ramp_timing timing{e.hdr.trigStartAddr, e.hdr.cameraRate, e.hdr.sampleClkFreq};
    if (!err) err = can_write_pztramp_trigger(si, slot, timing);
    if (!err) err = can_write_pztramp_rate(si, slot, e.hdr.sampleClkFreq);
    return err;
}

int32_t can_load(const sysInfo* si, int32_t slot, const rr_ramp_entry& e) {
    if (digital_ramp_system(si->sysType)) return pi_scanner(si) ? 0 : can_digital_load(si, slot, e);
    if (pzt_ramp_system(si->sysType)) return can_pzt_load(si, slot, e);
    if (wave_monitor_can_system(si->sysType)) return 0;
    return ERR_INTERNAL_HX;
}

int32_t load_into(sysInfo* si, int32_t slot, const rr_ramp_entry& e) {
    if (si->boardType == BOARD_CAN) return can_load(si, slot, e);
    if (si->boardType == BOARD_CAIRN)
        return host_steps.cairn_load(si, slot, e.gain, e.hdr.updateRate, e.hdr.nPoints, e.points);
    return uz_ramp_load(si, slot, e.hdr, e.points);
}

// An external profile stored in the scanner controller, checked against what the
// entry expects: amplitude (um) and velocity (nm/s). Differences are reported.
bool profile_matches(const sysInfo* si, const rr_ramp_entry& e) {
    float amplitude = 0, velocity = 0;
    if (can_read_pi_ramp_amplitude(si, &amplitude) != 0 || can_read_pi_ramp_velocity(si, &velocity) != 0) return false;
    const double want_amplitude = e.hdr.scanLen;
    const double want_velocity = e.hdr.rampSlope * e.hdr.cameraRate / (e.hdr.grabSkip + 1);
    bool same = true;
    if (std::fabs(amplitude - want_amplitude) > profile_tolerance * std::fabs(want_amplitude)) {
        u_sink("PI ramp %s amplitude = %g, expected %g um\n", e.name, amplitude, want_amplitude);
        same = false;
    }
    if (std::fabs(velocity - want_velocity) > profile_tolerance * std::fabs(want_velocity)) {
        u_sink("PI ramp %s velocity = %g, expected %g nm/s\n", e.name, velocity, want_velocity);
        same = false;
    }
    return same;
}

int32_t load_entry(sysInfo* si, int32_t index) {
    rr_ramp_set* set = nullptr;
    rr_ramp_entry* e = nullptr;
    const int32_t limit = rr_get_max_num_instr_ramps(si);
    if (limit <= 0) return ERR_INVALID_PARAM;
    if (int32_t err = entry_of(si, index, &set, &e)) return err;
    if (loaded(*e)) {
        if (si->boardType == BOARD_CAN && pi_scanner(si) && e->loadTime == 0) {
            profile_matches(si, *e);
            e->loadTime = next_load_time(*set);
        }
        return 0;
    }
    const int32_t slot = choose_slot(*set, limit);
    if (slot < 0) return ERR_RAMP_LOAD;
    if (int32_t err = load_into(si, slot, *e)) return err;
    e->slot = slot;
    e->loadTime = next_load_time(*set);
    set->slotTable[slot] = static_cast<uint8_t>(e->hdr.rampID);
    return 0;
}

int32_t start_serial_or_cairn(sysInfo* si, int32_t slot) {
    if (slot < 0 || slot >= rr_get_max_num_instr_ramps(si)) return ERR_INVALID_RAMP_INDEX;
    return si->boardType == BOARD_CAIRN ? host_steps.cairn_start(si, slot) : uz_ramp_start(si, slot);
}

bool starts_by_slot(int32_t board) { return is_serial(board) || board == BOARD_CAIRN; }

// One look at the running ramp: *done when it has ended.
int32_t ramp_done(sysInfo* si, bool* done) {
    if (si->boardType == BOARD_CAIRN) return host_steps.cairn_status(si, done);
    if (si->boardType != BOARD_CAN) return uz_ramp_idle(si, done);
    uint8_t status = 0;
    int32_t err = ERR_INTERNAL_HX;
    if (digital_ramp_system(si->sysType))
        err = can_read_ramp_status(si, &status);
    else if (pzt_ramp_system(si->sysType))
        err = can_read_pztramp_status(si, &status);
    if (!err) *done = status == 0;
    return err;
}

// The three gains, each checked against max; ERR_PARAM_OUT_OF_RANGE after the message.
int32_t triple_gains(int32_t gain, const float triple[3], int32_t scale, int32_t max, int32_t g[3]) {
    for (int i = 0; i < 3; ++i) {
        g[i] = round_half_up(static_cast<double>(gain) * triple[i] * scale);
        if (g[i] < 0 || g[i] > max) {
            u_sink("rr_setRampGain: g[%d]=%d is out of range [%d,%d]  gain=%d  t[%d]=%5.3f\n", i, g[i], 0, max, gain, i,
                   static_cast<double>(triple[i]));
            return ERR_PARAM_OUT_OF_RANGE;
        }
    }
    return 0;
}

int32_t can_gain(sysInfo* si, const rr_ramp_entry& e, int32_t gain) {
    if (in(si->sysType, {SYS_SKERRY_CAN, SYS_BRAE_CAN, SYS_WSTARNCAN})) return host_steps.wm_gain(si, gain);
    if (!rr_is_pmi(e.hdr.rampType)) return 0;
    int32_t g[3];
    if (int32_t err = triple_gains(gain, e.hdr.rampTriple, can_gain_scale, can_gain_max, g)) return err;
    if (!loaded(e)) {
        u_sink("rr_setRampGain: ramp not loaded\n");
        return ERR_INVALID_PARAM;
    }
    for (int i = 0; i < 3; ++i)
        if (int32_t err = can_write_pztramp_gain(si, e.slot, i + 1, g[i])) return err;
    return 0;
}

int32_t serial_gain(sysInfo* si, const rr_ramp_entry& e, int32_t gain) {
    if (in(si->sysType, {SYS_SKERRY, SYS_WSTARN})) return host_steps.wm_gain(si, gain);
    int32_t g[3] = {gain, 0, 0};
    if (rr_is_pmi(e.hdr.rampType)) {
        if (int32_t err = triple_gains(gain, e.hdr.rampTriple, 1, serial_gain_max, g)) return err;
    }
    const rr_board_state* b = rr_board_state_of(si);
    const int32_t zeros[3] = {0, 0, 0};
    if (b->large_aperture_selected) {
        if (!b->large_aperture) {
            u_sink("rr_setRampGain: large aperture not available\n");
            return ERR_INVALID_PARAM;
        }
        int32_t err = host_steps.pzt_gain(si, true, g);
        return err ? err : host_steps.pzt_gain(si, false, zeros);
    }
    int32_t err = host_steps.pzt_gain(si, false, g);
    if (!err && b->large_aperture) err = host_steps.pzt_gain(si, true, zeros);
    return err;
}

int32_t cairn_gain(sysInfo* si, rr_ramp_entry& e, int32_t gain) {
    if (!loaded(e)) {
        u_sink("rr_setRampGain: ramp not loaded\n");
        return ERR_INVALID_PARAM;
    }
    if (e.gain == gain) return 0;
    if (int32_t err = rr_wait_for_ramp_end(si, cairn_gain_wait_s)) return err;
    return host_steps.cairn_load(si, e.slot, gain, e.hdr.updateRate, e.hdr.nPoints, e.points);
}

// The CAN ramp hooks.
int32_t hook_lookup(const sysInfo* si, int32_t index, int32_t* slot, bool* started_before) {
    rr_ramp_set* set = nullptr;
    rr_ramp_entry* e = nullptr;
    if (int32_t err = entry_of(si, index, &set, &e)) return err;
    if (!loaded(*e)) return ERR_INVALID_RAMP_INDEX;
    *slot = e->slot;
    *started_before = e->startTime != 0;
    return 0;
}

int32_t hook_hand_to_scanner(const sysInfo* si, int32_t index) {
    rr_ramp_set* set = nullptr;
    rr_ramp_entry* e = nullptr;
    if (int32_t err = entry_of(si, index, &set, &e)) return err;
    return profile_matches(si, *e) ? 0 : ERR_MISMATCHED_PI_DIG_RAMP_PARAMS;
}

void hook_mark_started(const sysInfo* si, int32_t index, int64_t when_ms) {
    rr_ramp_set* set = nullptr;
    rr_ramp_entry* e = nullptr;
    if (entry_of(si, index, &set, &e) == 0) e->startTime = when_ms != 0 ? when_ms : 1;
}

constexpr can_ramp_hooks ramp_hooks{hook_lookup, hook_hand_to_scanner, hook_mark_started};

// The ramp set's start-up step: only the slots the board has are asked about or
// cleared.
int32_t slot_request(sysInfo* si, uint8_t ids[rr_instr_query_slots]) { return uz_ramp_request(si, ids); }
int32_t slot_remove(sysInfo* si, int32_t slot) {
    return slot < rr_get_max_num_instr_ramps(si) ? rr_ramp_delete(si, slot) : 0;
}

// Writes the reason a ramp does not fit (when there is a buffer) and gives false.
bool refuse(char* msg, size_t msg_size, const char* fmt, ...) MF_PRINTF_FORMAT(3, 4);
bool refuse(char* msg, size_t msg_size, const char* fmt, ...) {
    if (msg && msg_size > 0) {
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(msg, msg_size, fmt, args);
        va_end(args);
    }
    return false;
}

}  // namespace

void rr_slots_install() {
    rr_set_instr_slot_ops(rr_instr_slot_ops{slot_request, slot_remove});
    can_set_ramp_hooks(&ramp_hooks);
}

rr_board_state* rr_board_state_of(const sysInfo* si) {
    return si && si->slot >= 0 && si->slot < 4 ? &board_states[si->slot] : nullptr;
}

rr_slot_host_steps rr_set_slot_host_steps(const rr_slot_host_steps& steps) {
    const rr_slot_host_steps previous = host_steps;
    host_steps.cairn_load = steps.cairn_load ? steps.cairn_load : default_steps.cairn_load;
    host_steps.cairn_start = steps.cairn_start ? steps.cairn_start : default_steps.cairn_start;
    host_steps.cairn_status = steps.cairn_status ? steps.cairn_status : default_steps.cairn_status;
    host_steps.wm_gain = steps.wm_gain ? steps.wm_gain : default_steps.wm_gain;
    host_steps.pzt_gain = steps.pzt_gain ? steps.pzt_gain : default_steps.pzt_gain;
    return previous;
}

int32_t rr_assign_ramp_id(sysInfo* si, int32_t index) {
    rr_ramp_set* set = nullptr;
    rr_ramp_entry* e = nullptr;
    if (int32_t err = entry_of(si, index, &set, &e)) return err;
    bool used[rr_no_ramp] = {};
    for (int32_t i = 0; i < set->count; ++i) {
        const int32_t id = set->entries[i].hdr.rampID;
        if (i != index && id >= 0 && id < rr_no_ramp) used[id] = true;
    }
    for (int32_t id = 0; id < rr_no_ramp; ++id) {
        if (!used[id]) {
            e->hdr.rampID = id;
            return 0;
        }
    }
    u_sink("rr_assign_ramp_id: no available ramp ID values\n");
    return ERR_PARAM_OUT_OF_RANGE;
}

int32_t rr_load_ramp(sysInfo* si, int32_t index) {
    const int32_t err = load_entry(si, index);
    if (err) u_sink("rr_load_ramp failed: %s\n", error_name(err));
    return err;
}

int32_t rr_ramp_start_slot(sysInfo* si, int32_t slot) {
    if (!si) return ERR_SYS_INFO_NOT_AVAIL;
    if (starts_by_slot(si->boardType)) return start_serial_or_cairn(si, slot);
    if (si->boardType == BOARD_CAN) {
        const rr_ramp_set* set = rr_ramp_set_of(si);
        int32_t index = -1;
        for (int32_t i = 0; set && i < set->count && index < 0; ++i)
            if (set->entries[i].slot == slot) index = i;
        return can_start_ramp(si, index);
    }
    u_sink("%s: invalid instrBdType %d\n", "rr_ramp_start_slot", si->boardType);
    return ERR_WRONG_INSTR_BOARD;
}

int32_t rr_ramp_start_index(sysInfo* si, int32_t index) {
    if (!si) return ERR_SYS_INFO_NOT_AVAIL;
    if (starts_by_slot(si->boardType)) {
        rr_ramp_set* set = nullptr;
        rr_ramp_entry* e = nullptr;
        if (int32_t err = entry_of(si, index, &set, &e)) return err;
        return loaded(*e) ? start_serial_or_cairn(si, e->slot) : ERR_INVALID_RAMP_INDEX;
    }
    if (si->boardType == BOARD_CAN) return can_start_ramp(si, index);
    u_sink("%s: invalid instrBdType %d\n", "rr_ramp_start_index", si->boardType);
    return ERR_WRONG_INSTR_BOARD;
}

int32_t rr_ramp_delete(sysInfo* si, int32_t slot) {
    if (!si || !is_serial(si->boardType)) return 0;
    return uz_ramp_delete(si, slot);
}

int32_t rr_wait_for_ramp_end(sysInfo* si, double seconds) {
    if (!si) return ERR_SYS_INFO_NOT_AVAIL;
    const double polls = seconds * wait_polls_per_second;
    for (int32_t i = 0; i < polls; ++i) {
        bool done = false;
        if (int32_t err = ramp_done(si, &done)) return err;
        if (done) return 0;
        platform::sleep_ms(wait_poll_ms);
    }
    if (si->boardType != BOARD_CAIRN && si->boardType != BOARD_CAN)
        uz_write_io(si, wait_timeout_address, wait_timeout_value);
    return ERR_RAMP_WAIT_TIMEOUT;
}

int32_t rr_setRampGain(sysInfo* si, int32_t gain) {
    rr_ramp_set* set = rr_ramp_set_of(si);
    rr_ramp_entry* e = nullptr;
    if (!set || entry_of(si, set->current, &set, &e) != 0) return ERR_NO_RAMP_INFO;
    const int32_t board = si->boardType;
    if (board < BOARD_SABLEQV || board > BOARD_CAN || board == BOARD_KNAP || board == BOARD_HEUGH) {
        u_sink("rr_setRampGain: invalid instrBdType %d\n", board);
        return ERR_WRONG_INSTR_BOARD;
    }
    int32_t err = board == BOARD_CAIRN ? cairn_gain(si, *e, gain)
                  : board == BOARD_CAN ? can_gain(si, *e, gain)
                                       : serial_gain(si, *e, gain);
    if (!err) e->gain = gain;
    return err;
}

int32_t rr_adjust_ramp_slope(sysInfo* si, int32_t index, double factor) {
    rr_ramp_set* set = nullptr;
    rr_ramp_entry* e = nullptr;
    if (int32_t err = entry_of(si, index, &set, &e)) return err;
    rr_ramp_hdr_t& h = e->hdr;
    if (h.rampType != RAMP_TYPE_SWLI && h.rampType != RAMP_TYPE_BTW) {
        u_sink("rr_adjust_ramp_slope: ramp must be type SWLI or BTW\n");
        return ERR_INVALID_PARAM;
    }
    // The update rate must come out as a board divider 0..65535 of a positive clock.
    const double clock = static_cast<double>(h.sampleClkFreq) * factor;
    const double rate = std::round(update_rate_base - board_clock_khz / clock);
    if (!std::isfinite(factor) || !(factor > 0) || !std::isfinite(clock) || !(clock > 0) || !(rate >= 0) ||
        !(rate < update_rate_base)) {
        u_sink("rr_adjust_ramp_slope: factor %g gives no usable point clock\n", factor);
        return ERR_INVALID_PARAM;
    }
    h.rampSlope = static_cast<float>(h.rampSlope * factor);
    h.sampleClkFreq = static_cast<float>(clock);
    h.updateRate = static_cast<int32_t>(rate);
    const double board_khz = board_clock_khz / (update_rate_base - h.updateRate);
    h.nBuckets =
        static_cast<int32_t>(h.cameraRate / (h.grabSkip + 1) * (h.trigEndAddr - h.trigStartAddr) / (board_khz * 1000));
    if (!loaded(*e)) return 0;
    const rr_board_state* b = rr_board_state_of(si);
    if (si->boardType == BOARD_CAN) {
        unload(*set, *e);
        return 0;
    }
    if ((si->boardType == BOARD_SABLEQV || si->boardType == BOARD_FENN) && b->firmware > firmware_with_rate_change)
        return uz_ramp_update_rate(si, e->slot, h.updateRate);
    const int32_t err = rr_ramp_delete(si, e->slot);
    unload(*set, *e);
    return err;
}

bool rr_ramp_consistency_check(const sysInfo* si, int32_t index, const rr_ramp_expect& x, char* msg, size_t msg_size) {
    const rr_ramp_set* set = si ? rr_ramp_set_of(si) : nullptr;
    if (!set || !set->entries || set->count <= 0) return refuse(msg, msg_size, "invalid sysInfo");
    if (index < 0 || index >= set->count) return refuse(msg, msg_size, "invalid rampIndex");
    const rr_ramp_hdr_t& h = set->entries[index].hdr;
    if (x.rampType < 0 || x.rampType > max_ramp_type)
        return refuse(msg, msg_size, "expected rampType = %d is invalid", x.rampType);
    if (h.rampType < 0 || h.rampType > max_ramp_type)
        return refuse(msg, msg_size, "ramp rampType = %d is invalid", h.rampType);
    const bool type_fits = rr_is_pmi(h.rampType) ? x.rampType == RAMP_TYPE_PMI_FIRST : x.rampType == h.rampType;
    if (!type_fits)
        return refuse(msg, msg_size, "ramp rampType = %d (%s)  expected %d (%s)", h.rampType,
                      rr_ramp_type_name(h.rampType), x.rampType, rr_ramp_type_name(x.rampType));
    if (x.nBuckets > 0 && h.nBuckets != x.nBuckets)
        return refuse(msg, msg_size, "ramp nBuckets = %d  expected nBuckets = %d", h.nBuckets, x.nBuckets);
    if (x.scanLen > 0 && std::fabs(h.scanLen - x.scanLen) > 1)
        return refuse(msg, msg_size, "ramp scanLen = %g  expected scanLen = %g", static_cast<double>(h.scanLen),
                      x.scanLen);
    if (x.rampMux >= 0 && h.rampMux != x.rampMux)
        return refuse(msg, msg_size, "ramp rampMux = %d  expected rampMux = %d", h.rampMux, x.rampMux);
    if (x.cameraRate > 0 && std::fabs(h.cameraRate - x.cameraRate) > 0.1)
        return refuse(msg, msg_size, "ramp cameraRate = %g  expected cameraRate = %g",
                      static_cast<double>(h.cameraRate), x.cameraRate);
    if (x.grabSkip >= 0 && h.grabSkip != x.grabSkip)
        return refuse(msg, msg_size, "ramp grabSkip = %d  expected grabSkip = %d", h.grabSkip, x.grabSkip);
    const bool board_fits = si->boardType == BOARD_CAN ? in(h.instrBdType, {0, BOARD_SABLEQV, BOARD_CAN})
                                                       : h.instrBdType == 0 || h.instrBdType == si->boardType;
    if (!board_fits)
        return refuse(msg, msg_size, "ramp instrBdType = %d  expected instrBdType = %d", h.instrBdType, si->boardType);
    return true;
}

int32_t rr_find_ramp(const sysInfo* si, const rr_ramp_expect& expect) {
    const rr_ramp_set* set = si ? rr_ramp_set_of(si) : nullptr;
    for (int32_t i = 0; set && i < set->count; ++i)
        if (rr_ramp_consistency_check(si, i, expect, nullptr, 0)) return i;
    return -1;
}

}  // namespace mf
