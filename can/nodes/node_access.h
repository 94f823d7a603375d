// The typed helpers every node operation is built on: resolve a row of the object
// table to a node, index and abort code, run the row's guards and range check, and
// make the one SDO access. Internal to mf_can_nodes.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "calfile/sysinfo.h"
#include "can/nodes/node_table.h"

namespace mf::can_nodes {

// Where one access goes.
struct target {
    uint8_t node;
    uint16_t index;
    uint8_t subindex;
    int32_t abort_err;
};

// Runs the row's board guard and, for PZT rows, the rampMux guard; picks the node
// (`node` for motor and identity rows) and the slot's index. Slot must be 0..3 for
// per-slot rows (ERR_PARAM_OUT_OF_RANGE otherwise).
int32_t resolve(const sysInfo* si, obj id, uint8_t node, int slot, target* t);

// True when v lies within the row's range (NaN never does).
bool in_range(obj id, double v);

// One access of `size` bytes (the row's width when 0); caller names the operation in
// messages (the row's name when null).
int32_t read_bytes(const target& t, obj id, void* data, uint32_t size = 0, const char* caller = nullptr,
                   bool activity = true);
int32_t write_bytes(const target& t, obj id, const void* data, uint32_t size = 0, const char* caller = nullptr,
                    bool activity = true);

// Little-endian values of the row's width; T is the host type the operation hands out.
template <class T>
int32_t read_value(const target& t, obj id, T* out, const char* caller = nullptr) {
    uint8_t b[8] = {};
    const uint32_t w = node_objects[id].width;
    int32_t err = read_bytes(t, id, b, w, caller);
    if (err) return err;
    uint64_t v = 0;
    for (uint32_t i = w; i-- > 0;)
        v = (v << 8) | b[i];
    if constexpr (std::is_same_v<T, float>) {
        uint32_t bits = static_cast<uint32_t>(v);
        std::memcpy(out, &bits, 4);
    } else {
        *out = static_cast<T>(v);
    }
    return 0;
}

template <class T>
int32_t write_value(const target& t, obj id, T value, const char* caller = nullptr, bool activity = true) {
    uint64_t v;
    if constexpr (std::is_same_v<T, float>) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        v = bits;
    } else {
        v = static_cast<uint64_t>(value);
    }
    uint8_t b[8];
    const uint32_t w = node_objects[id].width;
    for (uint32_t i = 0; i < w; ++i)
        b[i] = static_cast<uint8_t>(v >> (8 * i));
    return write_bytes(t, id, b, w, caller, activity);
}

}  // namespace mf::can_nodes
