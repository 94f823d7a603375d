#include "ramp/ramp_set.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "common/alloc.h"
#include "common/dirs.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/msg.h"
#include "platform/files.h"

namespace mf {

namespace {

constexpr const char* keep_loaded_variable = "KEEP_RAMPS_LOADED_IN_INSTR";

rr_ramp_set* slot_sets() {
    static rr_ramp_set sets[sys_slot_count];
    static const bool initialised = [] {
        for (rr_ramp_set& s : sets)
            std::memset(s.slotTable, rr_no_ramp, sizeof s.slotTable);
        return true;
    }();
    (void)initialised;
    return sets;
}

rr_instr_slot_ops& slot_ops() {
    static rr_instr_slot_ops ops{};
    return ops;
}

bool positive(double v) { return std::isfinite(v) && v > 0.0; }

bool pifoc_required(int32_t sysType) {
    switch (sysType) {
    case SYS_LOOMA:
    case SYS_LOOMAS:
    case SYS_LOOMBS:
    case SYS_LOOMB:
    case SYS_SCARPSABLE:
    case SYS_SCARPSABLEQV:
    case SYS_SCARPSABLEICO:
    case SYS_SCARPSABLEQVICO:
    case SYS_SCARPDELTA:
        return true;
    default:
        return false;
    }
}

void release_entries(rr_ramp_entry* entries, int32_t count) {
    if (!entries) return;
    for (int32_t i = 0; i < count; ++i)
        u_free(entries[i].points);
    u_free(entries);
}

// The entries being built; released unless handed to the set.
class entry_list {
public:
    ~entry_list() { release_entries(data_, count_); }
    bool reserve(int32_t capacity) {
        if (capacity <= 0) return true;
        data_ = static_cast<rr_ramp_entry*>(u_calloc(static_cast<size_t>(capacity), sizeof(rr_ramp_entry)));
        capacity_ = data_ ? capacity : 0;
        return data_ != nullptr;
    }
    int32_t count() const { return count_; }
    bool full() const { return count_ >= capacity_; }
    rr_ramp_entry& next() { return data_[count_]; }
    // Accepts the entry filled in at next(): it takes the next ramp identifier.
    rr_ramp_entry& accept() {
        rr_ramp_entry& e = data_[count_++];
        e.hdr.rampID = count_;
        return e;
    }
    rr_ramp_entry* data() const { return data_; }
    rr_ramp_entry* release() {
        rr_ramp_entry* d = data_;
        data_ = nullptr;
        count_ = capacity_ = 0;
        return d;
    }

private:
    rr_ramp_entry* data_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

// A ramp read from a file crosses its offset upwards when its trigger window rises.
int32_t rises(const rr_ramp_hdr_t& h, const uint16_t* points) {
    const int32_t s = h.trigStartAddr, t = h.trigEndAddr - 1;
    if (!points || s < 0 || t <= s || t >= h.nPoints) return 1;
    return points[t] >= points[s] ? 1 : 0;
}

void new_entry(rr_ramp_entry& e, const char* name) {
    e = rr_ramp_entry{};
    std::strncpy(e.name, name, rr_max_name);
    e.name[rr_max_name] = '\0';
    e.slot = rr_no_ramp;
}

// Reads a ramp data file of the ramp directory into an entry; the instrument check
// follows. The code of the read or the check.
int32_t load_file(const sysInfo* si, const std::string& dir, const char* name, rr_ramp_entry& e,
                  const char* read_failure) {
    new_entry(e, name);
    const std::string path = paths::join(dir, name, platform::path_separator());
    int32_t status = rr_read_ramp_file(path.c_str(), &e.hdr, &e.points);
    if (status) {
        u_sink(read_failure, name, error_name(status));
        return status;
    }
    status = rr_check_ramp_for_system(name, &e.hdr, si);
    if (status) {
        u_free(e.points);
        e.points = nullptr;
        return status;
    }
    e.rising = rises(e.hdr, e.points);
    return 0;
}

double sort_key(const sysInfo* si, const rr_ramp_hdr_t& h) {
    if (rr_is_pmi(h.rampType)) return h.nBuckets / 100.0;
    const double twice = si->boardType == BOARD_FENN ? 2.0 : 1.0;
    const double scan = twice * h.scanLen;
    if (h.rampType == RAMP_TYPE_BTW) return scan;
    return scan - 64.0 * twice * h.rampSlope / 1000.0;
}

// "d10s81c25.b12345" is a candidate when 12345 is one of the system's scanner serials.
bool candidate(const std::string& name, int32_t pifoc, int32_t pzt) {
    if (name.empty() || name[0] == '.') return false;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() < dot + 3 || name.size() - dot - 2 > 10) return false;
    int64_t serial = 0;
    for (size_t i = dot + 2; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        serial = serial * 10 + (name[i] - '0');
    }
    return serial == pifoc || serial == pzt;
}

// A configuration line's file name, its trailing "*" standing for the scanner's serial.
std::string file_name_for(const rr_ramp_spec& spec, int32_t serial) {
    std::string name = spec.fileName;
    if (!name.empty() && name.back() == '*') {
        name.pop_back();
        name += std::to_string(serial);
    }
    return name;
}

int32_t from_config(const sysInfo* si, const std::string& dir, const std::string& cfg_path, int32_t pifoc, int32_t pzt,
                    entry_list& list) {
    u_sink("Reading ramp config file \"%s\"\n", cfg_path.c_str());
    rr_ramp_spec* specs = nullptr;
    int32_t count = 0;
    if (int32_t status = rr_read_ramp_config(cfg_path.c_str(), &specs, &count)) return status;
    struct owner {
        rr_ramp_spec* p;
        ~owner() { u_free(p); }
    } own{specs};
    if (count == 0) return ERR_NO_RAMP_INFO;
    if (!list.reserve(std::min(count, rr_max_ramps))) return ERR_NO_MEM;
    const bool ext_board = rr_ext_profiles_available(si);
    int32_t source = -1;  // the entry of the last good file line
    for (int32_t k = 0; k < count; ++k) {
        if (list.count() == rr_max_ramps) {
            u_sink("Ramp config warning: too many ramp config entries, ignoring entries %d to %d\n", k, count);
            break;
        }
        const rr_ramp_spec& spec = specs[k];
        const bool derived = std::strcmp(spec.fileName, "+") == 0;
        const bool ext = std::strstr(spec.fileName, "extprofile") != nullptr;
        const bool file_line = !derived && !ext;
        if (rr_is_pmi(spec.rampType) && pzt == -1) {
            u_sink("Ramp config error: ramp %d can only be used with a PZT\n", k + 1);
            if (file_line) source = -1;
            continue;
        }
        if ((spec.rampType == RAMP_TYPE_SWLI || spec.rampType == RAMP_TYPE_BTW) && pifoc == -1) {
            u_sink("Ramp config error: ramp %d can only be used with a PIFOC\n", k + 1);
            if (file_line) source = -1;
            continue;
        }
        if (!rr_is_pmi(spec.rampType) && spec.rampType != RAMP_TYPE_SWLI && spec.rampType != RAMP_TYPE_BTW) {
            u_sink("Ramp config error: ramp %d is of unknown type %d\n", k, spec.rampType);
            if (file_line) source = -1;
            continue;
        }
        rr_ramp_entry& e = list.next();
        if (ext) {
            if (!ext_board) {
                u_sink("Ramp config error: ramp %d \"%s\" is invalid for this instrument\n", k + 1, spec.fileName);
                continue;
            }
            char reason[160];
            if (rr_make_ext_profile(si, &spec, &e, reason, sizeof reason)) {
                u_sink("Ramp config error: ramp %d: %s\n", k + 1, reason);
                continue;
            }
            // Its identifier is the controller's profile index, not its place in the set.
            const int32_t id = e.hdr.rampID;
            list.accept().hdr.rampID = id;
            continue;
        }
        if (derived) {
            if (source < 0) {
                u_sink("Ramp config error: no loaded ramp data from which to derive config ramp %d\n", k + 1);
                continue;
            }
            const rr_ramp_entry& from = list.data()[source];
            const int32_t status = rr_derive_ramp(&from, &e, &spec);
            if (status == ERR_NO_MEM) return status;
            if (status) {
                u_sink("Ramp config error: cannot derive config ramp %d from ramp data file \"%s\"\n", k, from.name);
                continue;
            }
            e.hide = spec.hide;
            list.accept();
            continue;
        }
        source = -1;
        const std::string name = file_name_for(spec, rr_is_pmi(spec.rampType) ? pzt : pifoc);
        const int32_t status =
            load_file(si, dir, name.c_str(), e, "Ramp config error reading ramp data file \"%s\": %s\n");
        if (status == ERR_NO_MEM) return status;
        if (status) continue;
        if (rr_match_ramp_spec(&spec, &e.hdr)) {
            u_sink("Ramp config error: values not consistent with ramp data file \"%s\"\n", name.c_str());
            u_free(e.points);
            e.points = nullptr;
            continue;
        }
        u_sink("Loaded ramp file \"%s\"\n", name.c_str());
        e.hide = spec.hide;
        source = list.count();
        list.accept();
    }
    return 0;
}

int32_t from_directory(const sysInfo* si, const std::string& dir, int32_t pifoc, int32_t pzt, entry_list& list) {
    u_sink("Checking all files in ramp directory\n");
    std::vector<std::string> names;
    platform::list_directory(dir, &names);
    std::vector<std::string> candidates;
    for (const std::string& name : names) {
        if (!candidate(name, pifoc, pzt)) continue;
        if (candidates.size() == static_cast<size_t>(rr_max_ramps)) {
            u_sink("Warning: too many ramp files (limit is %d), some files ignored\n", rr_max_ramps);
            break;
        }
        candidates.push_back(name);
    }
    if (!list.reserve(static_cast<int32_t>(candidates.size()))) return ERR_NO_MEM;
    for (const std::string& name : candidates) {
        rr_ramp_entry& e = list.next();
        const int32_t status = load_file(si, dir, name.c_str(), e, "Error reading ramp data file \"%s\": %s\n");
        if (status == ERR_NO_MEM) return status;
        if (status) continue;
        u_sink("Loaded ramp file \"%s\"\n", name.c_str());
        list.accept();
    }
    std::stable_sort(list.data(), list.data() + list.count(), [si](const rr_ramp_entry& a, const rr_ramp_entry& b) {
        return sort_key(si, a.hdr) < sort_key(si, b.hdr);
    });
    return 0;
}

// Durations, gains, sort keys, offset crossings and scan directions.
int32_t complete_entries(const sysInfo* si, rr_ramp_entry* entries, int32_t count) {
    const bool ext_board = rr_ext_profiles_available(si);
    int32_t d =
        si->sysType == SYS_LOOMA || si->sysType == SYS_LOOMAS || si->sysType == SYS_LOOMB || si->sysType == SYS_LOOMBS
            ? 1
            : -1;
    if (si->scanner.pifocPolarity == -1) d = -d;
    for (int32_t i = 0; i < count; ++i) {
        rr_ramp_entry& e = entries[i];
        const rr_ramp_hdr_t& h = e.hdr;
        if (!ext_board) e.slot = rr_no_ramp;
        // A clock that is not a positive number gives no time at all: the minimum.
        double ms =
            positive(h.sampleClkFreq) ? static_cast<double>(h.nPoints) / static_cast<double>(h.sampleClkFreq) : 0.0;
        if (si->boardType == BOARD_TARN || si->boardType == BOARD_BRAE) ms *= h.updateRate + 1.0;
        ms = std::round(ms);
        e.duration = !(ms >= 1.0) ? 1 : ms > 2147483647.0 ? 2147483647 : static_cast<int32_t>(ms);
        e.sortKey = sort_key(si, h);
        if (rr_is_pmi(h.rampType)) {
            e.gain = h.rampGainDflt >= 1 && h.rampGainDflt <= 4095 ? h.rampGainDflt : 2048;
            continue;
        }
        double t = 0.0;
        if (int32_t status = rr_calc_time_til_offset_crossing(si, &e, &t)) {
            u_sink("rr_calc_time_til_offset_crossing failed: %s\n", error_name(status));
            return status;
        }
        e.crossingTime = t;
        e.scanDir = (e.rising ? d : -d) == 1 ? 1 : 2;
        e.offsetPos = t * h.rampSlope * h.cameraRate / 1000.0;
        if (e.scanDir == 2) e.offsetPos = -e.offsetPos;
    }
    return 0;
}

void report(const rr_ramp_set& set) {
    int32_t loaded = 0, derived = 0, swli = 0, btw = 0, pmi = 0;
    for (int32_t i = 0; i < set.count; ++i) {
        const rr_ramp_entry& e = set.entries[i];
        loaded += e.slot != rr_no_ramp;
        derived += e.name[0] == '+';
        swli += e.hdr.rampType == RAMP_TYPE_SWLI;
        btw += e.hdr.rampType == RAMP_TYPE_BTW;
        pmi += rr_is_pmi(e.hdr.rampType);
    }
    u_sink("Ramp data sets:\n");
    u_sink("  %3d Total\n", set.count);
    u_sink("  %3d Loaded\n", loaded);
    u_sink("  %3d Derived\n", derived);
    u_sink("  %3d SWLI\n", swli);
    u_sink("  %3d BTW\n", btw);
    u_sink("  %3d PMI\n", pmi);
}

// What the instrument already holds: with the variable set, ramps of the new set
// stay in their slots and the other slots are cleared; without it every slot is.
int32_t settle_instrument_slots(sysInfo* si, rr_ramp_set& set, bool keep) {
    if (si->boardType == BOARD_CAN || si->boardType == BOARD_CAIRN) return 0;
    const rr_instr_slot_ops ops = slot_ops();
    if (!ops.request || !ops.remove) return 0;
    uint8_t ids[rr_instr_query_slots];
    std::memset(ids, rr_no_ramp, sizeof ids);
    if (keep) {
        if (int32_t status = ops.request(si, ids)) {
            u_sink("uz_ramp_request failed: %s\n", error_name(status));
            return status;
        }
    }
    for (int32_t slot = 0; slot < rr_instr_query_slots; ++slot) {
        rr_ramp_entry* held = nullptr;
        for (int32_t i = 0; keep && i < set.count && !held; ++i)
            if (set.entries[i].hdr.rampID == ids[slot]) held = &set.entries[i];
        if (held) {
            held->slot = slot;
            set.slotTable[slot] = ids[slot];
            u_sink("Ramp ID %d already loaded in instr\n", ids[slot]);
            continue;
        }
        if (int32_t status = ops.remove(si, slot)) {
            u_sink("rr_ramp_delete failed: %s\n", error_name(status));
            return status;
        }
    }
    return 0;
}

int32_t build(sysInfo* si, const char* (*lookup)(const char*), const char* given) {
    rr_ramp_set* set = rr_ramp_set_of(si);
    if (!set) return ERR_SYS_INFO_NOT_AVAIL;
    if (!si->scanner.pifoc && pifoc_required(si->sysType)) return ERR_WRONG_SYSTEM_TYPE;
    int32_t pifoc = -1, pzt = -1;
    rr_scanner_serials(si, &pifoc, &pzt);
    rr_release_ramp_set(set);
    const bool keep = std::getenv(keep_loaded_variable) != nullptr;
    if (keep) u_sink("Found env var %s\n", keep_loaded_variable);
    const char* ramp_dir = lookup(given);
    if (!ramp_dir) return ERR_NO_RAMP_INFO;
    u_sink("Ramp directory: %s\n", ramp_dir);
    const std::string dir = ramp_dir;

    entry_list list;
    bool from_file = false;
    int32_t status = 0;
    if (si->rampConfig && si->rampConfig[0]) {
        const std::string cfg = paths::join(dir, si->rampConfig, platform::path_separator());
        if (u_file_exists(cfg.c_str())) {
            from_file = true;
            status = from_config(si, dir, cfg, pifoc, pzt, list);
        } else {
            u_sink("Cannot access ramp config file \"%s\"\n", cfg.c_str());
        }
    }
    if (!from_file) status = from_directory(si, dir, pifoc, pzt, list);
    if (status) return status;
    if (list.count() == 0) {
        u_sink("No usable ramp data\n");
        return ERR_NO_RAMP_INFO;
    }
    if ((status = complete_entries(si, list.data(), list.count()))) return status;

    set->count = list.count();
    set->entries = list.release();
    set->fromConfig = from_file;
    set->current = -1;
    set->pmiCount = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        const rr_ramp_entry& e = set->entries[i];
        set->pmiCount += rr_is_pmi(e.hdr.rampType);
        if (e.slot >= 0 && e.slot < rr_slot_table_size && e.slot != rr_no_ramp)
            set->slotTable[e.slot] = static_cast<uint8_t>(e.hdr.rampID);
    }
    report(*set);
    if ((status = settle_instrument_slots(si, *set, keep))) {
        rr_release_ramp_set(set);
        return status;
    }
    return 0;
}

}  // namespace

rr_ramp_set* rr_ramp_set_of(const sysInfo* si) {
    if (!si || si->slot < 0 || si->slot >= sys_slot_count) return nullptr;
    return &slot_sets()[si->slot];
}

void rr_release_ramp_set(rr_ramp_set* set) {
    if (!set) return;
    release_entries(set->entries, set->count);
    set->entries = nullptr;
    set->count = 0;
    set->pmiCount = 0;
    set->fromConfig = false;
    set->current = -1;
    std::memset(set->slotTable, rr_no_ramp, sizeof set->slotTable);
}

void rr_release_all_ramp_sets() {
    rr_ramp_set* sets = slot_sets();
    for (int i = 0; i < sys_slot_count; ++i)
        rr_release_ramp_set(&sets[i]);
}

int32_t rr_get_max_num_instr_ramps(const sysInfo* si) {
    if (!si) return 0;
    switch (si->boardType) {
    case BOARD_SABLEQV:
    case BOARD_FENN:
        return 12;
    case BOARD_TARN:
    case BOARD_CAIRN:
    case BOARD_BRAE:
        return 4;
    case BOARD_CAN: {
        const int32_t type = si->scanner.pifoc ? si->scanner.pifoc->type : 0;
        return type == 1 ? 15 : type == 2 ? 100 : 4;
    }
    default:
        u_sink("%s: unknown instrBdType %d\n", "rr_get_max_num_instr_ramps", si->boardType);
        return 0;
    }
}

bool rr_ext_profiles_available(const sysInfo* si) {
    return si && si->boardType == BOARD_CAN && si->scanner.pifoc &&
           (si->scanner.pifoc->type == 1 || si->scanner.pifoc->type == 2);
}

int32_t rr_calc_time_til_offset_crossing(const sysInfo* si, const rr_ramp_entry* entry, double* seconds) {
    if (!si || !entry || !seconds) return ERR_INVALID_PARAM;
    const rr_ramp_hdr_t& h = entry->hdr;
    if (rr_is_pmi(h.rampType)) return ERR_INVALID_PARAM;
    if (rr_ext_profiles_available(si)) {
        // The controller runs the profile at constant speed through the middle of the scan.
        if (!positive(h.rampSlope) || !positive(h.cameraRate) || !std::isfinite(h.scanLen)) return ERR_INVALID_PARAM;
        *seconds = h.scanLen / 2.0 / (h.rampSlope / 1000.0) / h.cameraRate;
        return 0;
    }
    if (!entry->points || h.nPoints <= 0) return ERR_NO_RAMP_INFO;
    double f = h.sampleClkFreq;
    if (si->boardType != BOARD_CAN) f = h.updateRate < 65536 ? 4000.0 / (65536.0 - h.updateRate) : 0.0;
    if (!positive(f) || !positive(h.cameraRate)) return ERR_CORRUPT_RAMP_FILE;
    const int32_t start = h.trigStartAddr;
    if (start < 0 || start >= h.nPoints) return ERR_CORRUPT_RAMP_FILE;
    const uint16_t* p = entry->points;
    const int32_t offset = h.offset;
    int32_t i = start;
    while (i < h.nPoints && !(entry->rising ? p[i] >= offset : p[i] <= offset))
        ++i;
    if (i == h.nPoints) return ERR_CORRUPT_RAMP_FILE;
    // Between the point before the crossing and the crossing point, linearly; a
    // crossing at a point with no different point before it is at that point.
    double position = i;
    if (i > 0 && p[i - 1] != p[i])
        position = i - 1 + (static_cast<double>(p[i - 1]) - offset) / (static_cast<double>(p[i - 1]) - p[i]);
    const double a = std::ceil(h.cameraRate * start / (1000.0 * f));
    *seconds = position / (1000.0 * f) - a / h.cameraRate;
    return 0;
}

rr_instr_slot_ops rr_set_instr_slot_ops(const rr_instr_slot_ops& ops) {
    const rr_instr_slot_ops previous = slot_ops();
    slot_ops() = ops;
    return previous;
}

namespace {
int32_t get_ramp_info(sysInfo* si, const char* (*lookup)(const char*), const char* given) {
    const int32_t status = build(si, lookup, given);
    if (status) u_sink("rr_get_ramp_info: %s\n", error_name(status));
    return status;
}
}  // namespace

int32_t rr_get_ramp_info_in(sysInfo* si, const char* ramp_dir) {
    return get_ramp_info(
        si, [](const char* given) { return given; }, ramp_dir);
}

int32_t rr_get_ramp_info(sysInfo* si) {
    // The directory is looked up (and made, the first time) only once the record has passed its checks.
    return get_ramp_info(
        si, [](const char*) { return u_ramps_dir(); }, nullptr);
}

}  // namespace mf
