#include "can/nodes/node_access.h"

#include <cmath>

#include "can/can_sdo.h"

namespace mf::can_nodes {

int32_t resolve(const sysInfo* si, obj id, uint8_t node, int slot, target* t) {
    const node_object& o = node_objects[id];
    if (o.board_err) {
        int32_t err = can_guard_board(si, o.board_err);
        if (err) return err;
    }
    t->abort_err = o.abort_err;
    switch (o.sel) {
    case node_sel::fixed:
        t->node = o.node;
        break;
    case node_sel::motor:
    case node_sel::any:
        t->node = node;
        break;
    case node_sel::pzt: {
        int32_t err = can_guard_pzt(si, &t->node, &t->abort_err);
        if (err) return err;
        break;
    }
    }
    t->index = static_cast<uint16_t>(o.index & ~per_slot);
    if (o.index & per_slot) {
        if (slot < 0 || slot > 3) return ERR_PARAM_OUT_OF_RANGE;
        t->index = static_cast<uint16_t>(t->index + slot);
    }
    t->subindex = o.subindex;
    return 0;
}

bool in_range(obj id, double v) { return v >= node_objects[id].lo && v <= node_objects[id].hi; }

int32_t read_bytes(const target& t, obj id, void* data, uint32_t size, const char* caller, bool activity) {
    const node_object& o = node_objects[id];
    return can_sdo_read2(t.node, t.index, t.subindex, data, size ? size : o.width, activity, t.abort_err,
                         caller ? caller : o.op);
}

int32_t write_bytes(const target& t, obj id, const void* data, uint32_t size, const char* caller, bool activity) {
    const node_object& o = node_objects[id];
    return can_sdo_write2(t.node, t.index, t.subindex, data, size ? size : o.width, activity, t.abort_err,
                          caller ? caller : o.op);
}

}  // namespace mf::can_nodes
