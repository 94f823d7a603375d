#include "can/can_sdo.h"

#include <atomic>

#include "can/can_api.h"
#include "can/can_bus.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "common/msg.h"

namespace mf {

namespace {

std::atomic<platform::event_handle> sleep_reset_event{nullptr};

void note_activity(bool activity) {
    if (!activity) return;
    if (platform::event_handle e = sleep_reset_event.load()) platform::event_set(e);
}

}  // namespace

int32_t can_status_error(int32_t status) {
    switch (status) {
    case 1:
        return 0;
    case -1:
        return ERR_CAN_ERROR;
    case -2:
        return ERR_CAN_NOT_CONNECTED;
    case -3:
        return ERR_CAN_TIMEOUT;
    case -4:
        return ERR_CAN_TCP_TRANSMISSION_ERROR;
    case -5:
        return ERR_CAN_BUFFER_TOO_SMALL;
    case -6:
        return ERR_CAN_NO_PDO;
    default:
        return ERR_UNKNOWN;
    }
}

int32_t can_sdo_read2(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, bool activity,
                      int32_t abort_err, const char* caller) {
    can_sdo_result result{};
    int32_t status = can_lib().CAN_SDORead(node, index, subindex, data, size, &result);
    note_activity(activity);
    if (status == CAN_OK) {
        if (result.result == 1) return 0;
        u_sink("can_sdo_read2 called by %s: err=%s, result=%d, abortcode=%8.8lX\n", caller, error_name(abort_err),
               static_cast<int>(result.result), static_cast<unsigned long>(result.abort_code));
        return abort_err;
    }
    int32_t err = can_status_error(status);
    u_sink("can_sdo_read2 called by %s: err=%s\n", caller, error_name(err));
    return err;
}

int32_t can_sdo_write2(uint8_t node, uint16_t index, uint8_t subindex, const void* data, uint32_t size, bool activity,
                       int32_t abort_err, const char* caller) {
    can_sdo_result result{};
    // The library's write takes a non-const buffer but only reads it.
    int32_t status = can_lib().CAN_SDOWrite(node, index, subindex, const_cast<void*>(data), size, &result);
    note_activity(activity);
    if (status == CAN_OK) {
        if (result.result == 1) return 0;
        u_msg_time("can_sdo_write2 called by %s: err=%s, result=%d, abortcode=%8.8lX\n", caller, error_name(abort_err),
                   static_cast<int>(result.result), static_cast<unsigned long>(result.abort_code));
        return abort_err;
    }
    int32_t err = can_status_error(status);
    u_msg_time("can_sdo_write2 called by %s: err=%s\n", caller, error_name(err));
    return err;
}

void can_set_sleep_reset_event(platform::event_handle e) { sleep_reset_event.store(e); }
platform::event_handle can_sleep_reset_event() { return sleep_reset_event.load(); }

int32_t can_guard_board(const sysInfo* si, int32_t not_can) { return (si && si->boardType == BOARD_CAN) ? 0 : not_can; }

int32_t can_guard_node(const sysInfo* si, uint8_t node, const char* op) {
    const can_state* cs = can_state_of(si);
    if (!cs) return ERR_INVALID_PARAM;
    switch (node) {
    case CAN_NODE_ID_DD_RS:
        if (cs->present.dd_rs) return 0;
        u_msg_time("%s: CAN Ring-of-Fire and Diffuser Disk node is not available\n", op);
        return ERR_CAN_NODE_NOT_AVAIL;
    case CAN_NODE_ID_DD_ZOOM:
        if (cs->present.dd_zoom) return 0;
        u_msg_time("%s: CAN Zoom and Diffuser Disk node is not available\n", op);
        return ERR_CAN_NODE_NOT_AVAIL;
    case CAN_NODE_ID_FOCUS_NDW:
        if (cs->present.focus_ndw) return 0;
        u_msg_time("%s: CAN Focus and ND Wheel node is not available\n", op);
        return ERR_CAN_NODE_NOT_AVAIL;
    default:
        return ERR_INVALID_PARAM;
    }
}

int32_t can_guard_pzt(const sysInfo* si, uint8_t* node, int32_t* abort_err) {
    const can_state* cs = can_state_of(si);
    if (!cs) return ERR_INVALID_PARAM;
    switch (cs->rampMux) {
    case 0:
        if (!cs->present.triple_pzt) {
            u_sink("The triple PZT node is not available\n");
            return ERR_CAN_NODE_NOT_AVAIL;
        }
        *node = CAN_NODE_ID_TRIPLEPZT;
        *abort_err = ERR_CAN_SDO_PZT_ERROR;
        return 0;
    case 1:
        if (!cs->present.large_ap) {
            u_sink("The large aperture PZT power node is not available\n");
            return ERR_CAN_NODE_NOT_AVAIL;
        }
        *node = CAN_NODE_ID_LARGEAP;
        *abort_err = ERR_CAN_SDO_LAP_ERROR;
        return 0;
    default:
        u_sink("Invalid parameter si->rampMux=%d\n", static_cast<int>(cs->rampMux));
        return ERR_INVALID_PARAM;
    }
}

}  // namespace mf
